// The Model in the shape the search moves need, built once per search.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "model/model.hpp"
#include "solvers/int_engine/detail.hpp"

namespace dalo::int_detail {

// Position words: a position index, bit 31 for a negated binary literal.
inline constexpr uint32_t kNeg = 0x80000000u;

struct PosData {
    int64_t lo = 0;
    int64_t hi = 1;
    uint64_t range = 1;
    MoveKind kind = MoveKind::Binary;
    uint32_t steps = 0;
    bool has_weight = false;
    double weight = 0.0;
    int64_t lin = 0;  // degree-1 coefficients
    int64_t sq = 0;   // coefficients of x * x
    uint64_t quad_begin = 0, quad_end = 0;
    uint64_t high_begin = 0, high_end = 0;
    uint64_t cons_begin = 0, cons_end = 0;
};

struct QuadEntry {
    uint32_t pos;
    coeff_t coeff;
};

struct ConsEntry {
    uint32_t cons;
    coeff_t coeff;       // linear coefficient of the position (0 when only nonlinear)
    uint32_t nonlinear;  // the position also occurs in a nonlinear body term
};

struct ConsData {
    const NativeCons* rec = nullptr;
    std::vector<uint32_t> vars;     // positions of the linear part
    std::vector<uint32_t> nl_vars;  // position words of the nonlinear terms
};

// The Model in the shape the moves need: per position its move set and the terms and
// constraints that contain it. Quadratic terms between two positions are kept as neighbour
// lists, so their part of a change comes from a maintained local field.
struct Problem {
    const ModelImpl& m;
    uint32_t nbin;
    uint64_t nint;
    uint64_t positions;
    uint64_t words;
    uint64_t move_count = 0;
    std::vector<PosData> pos;
    std::vector<QuadEntry> quad;
    std::vector<uint64_t> high_ids;
    std::vector<int64_t> term_coeff;
    std::vector<uint64_t> term_off{0};
    std::vector<uint32_t> term_pos;
    std::vector<ConsEntry> cons_entries;
    std::vector<ConsData> cons;
    uint64_t max_cons_per_pos = 0;

    explicit Problem(const ModelImpl& model);

    uint32_t position_word(uint32_t w) const {
        if (w & kAtomBit) return static_cast<uint32_t>(nbin + (w & kIndexMask));
        return w;  // model index, bit 31 kept
    }

  private:
    void build_terms();
    void build_constraints();
};

}  // namespace dalo::int_detail

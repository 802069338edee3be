// The unified integer engine: binary variables and bounded integer variables in one index
// space (positions 0 .. nbin - 1 binary, nbin .. nbin + nint - 1 integer), native constraints
// over the same positions.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "model.hpp"
#include "search.hpp"

namespace brisk {

// A literal of a product: a position, with kNegBit for a negated binary variable.
struct IntProduct {
    int64_t coeff;
    uint64_t begin, end;  // into IntProblem::words
};

struct IntMember {
    uint32_t cons;
    int64_t coeff;   // linear coefficient of the position in the body
    bool nonlinear;  // the position also occurs in a product (or negated) in the body
};

struct IntCons {
    const RawCons* raw = nullptr;
    int64_t constant = 0;
    std::vector<std::pair<uint32_t, int64_t>> linear;  // position, coefficient
    std::vector<IntProduct> products;                  // words in IntProblem::words
};

class IntProblem {
  public:
    IntProblem(uint32_t nbin, uint64_t nint, const int64_t* lower, const int64_t* upper,
               plugin_common::Objective obj);

    void add_constraint(RawCons c) {
        cons_raw_.push_back(std::move(c));
        compiled_ = false;
    }
    RawCons* last_constraint() { return cons_raw_.empty() ? nullptr : &cons_raw_.back(); }
    void compile();

    uint32_t nbin() const { return nbin_; }
    uint64_t nint() const { return lo.size(); }
    uint64_t positions() const { return uint64_t{nbin_} + lo.size(); }
    // Exact energy of a state from the raw arrays.
    int64_t energy(const int64_t* v) const;

    std::vector<int64_t> lo, hi;  // of the integer positions (index - nbin)
    int64_t base = 0;
    std::vector<int64_t> lin, sq;  // per position: v and v^2 coefficients
    std::vector<uint64_t> adj_off;
    std::vector<std::pair<uint32_t, int64_t>> adj;
    std::vector<IntProduct> products;
    std::vector<uint32_t> words;
    std::vector<uint64_t> prod_off;  // per position: products containing it
    std::vector<uint32_t> prod_of;
    std::vector<IntCons> cons;
    std::vector<uint64_t> mem_off;  // per position: constraint memberships
    std::vector<IntMember> mem;
    uint64_t max_members = 0;

  private:
    // The position of a term word (an atom word or a unified index) with its negation bit.
    uint32_t position(uint32_t w) const;

    uint32_t nbin_;
    plugin_common::Objective obj_;
    std::vector<RawCons> cons_raw_;
    bool compiled_ = false;
};

struct IntOutcome {
    int64_t energy = 0;
    double tts = 0.0;
    std::vector<int64_t> values;  // every position
    std::vector<std::pair<std::string, std::string>> info;
};

IntOutcome search_int(IntProblem& p, const Options& o, dalo_plugin_callback cb);

}  // namespace brisk

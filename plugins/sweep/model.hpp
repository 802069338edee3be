// The Model as the enumeration keeps it: the arrays handed over (model order), and the same
// energy compiled for incremental updates over enumeration positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/params.hpp"
#include "common/received.hpp"
#include "common/wrap.hpp"

namespace sweep {

using u64 = uint64_t;

// Positions 0 and 1 (which flip most often) are coupled to the others through a table.
// Measured on the sparse 30-variable benchmark: two such positions beat three or four.
inline constexpr uint32_t kLow = 2;
inline constexpr uint32_t kLowStates = 1u << kLow;

// Enumerating 2^48 states already takes days; larger Models are refused at create.
inline constexpr uint32_t kMaxVars = 48;

using plugin_common::fatal;

// Energies wrap, as the library sums them.
using plugin_common::wrap_add;
using plugin_common::wrap_mul;
using plugin_common::wrap_sub;

// The records as handed over; the objective's arrays stay the library's.
using RawCons = plugin_common::Constraint;

struct RawModel {
    uint32_t n = 0;
    uint32_t mode = 0;
    plugin_common::Objective objective;
    std::vector<RawCons> cons;
    bool has_remainder = false;
    int64_t remainder_constant = 0;
    uint64_t remainder_terms = 0;
};

// Penalty of a constraint for its body value, exactly as the library's Sol energy has it:
// weight * viol or weight * viol^2, viol the distance to [lower, upper] or, with allowed
// intervals, to the nearest one.
inline int64_t penalty(int64_t weight, uint32_t exponent, int64_t lower, int64_t upper,
                       const int64_t* set_lo, const int64_t* set_hi, size_t nsets, int64_t body) {
    int64_t viol = 0;
    if (nsets > 0) {
        bool first = true;
        for (size_t i = 0; i < nsets; ++i) {
            if (body >= set_lo[i] && body <= set_hi[i]) {
                viol = 0;
                break;
            }
            const int64_t d =
                body < set_lo[i] ? wrap_sub(set_lo[i], body) : wrap_sub(body, set_hi[i]);
            if (first || d < viol) viol = d;
            first = false;
        }
    } else {
        viol = wrap_add(body < lower ? wrap_sub(lower, body) : 0,
                        body > upper ? wrap_sub(body, upper) : 0);
    }
    const int64_t once = wrap_mul(weight, viol);
    return exponent == 1 ? once : wrap_mul(once, viol);
}

// Energy of an assignment (model index i = bit i) from the handed-over arrays alone.
int64_t raw_energy(const RawModel& m, u64 bits);

// A product term over masks: worth coeff when every positive literal is 1 and every
// negated one is 0.
struct MaskTerm {
    u64 coeff;
    u64 pos;
    u64 neg;
};

inline u64 term_value(const MaskTerm& t, u64 x) {
    const bool on = ((x & t.pos) == t.pos) & ((x & t.neg) == 0);
    return t.coeff & (0 - static_cast<u64>(on));
}

// A quadratic coupling seen from one end: the other position and the coefficient.
struct Coupling {
    u64 coeff;
    u64 other;
};

// A constraint as one position sees it: its linear coefficient there and the nonlinear
// terms that hold the position (cons_terms[term_begin, term_end)).
struct ConsRef {
    uint32_t cons;
    uint32_t term_begin;
    uint32_t term_end;
    u64 linear;
};

struct CompiledCons {
    int64_t weight, lower, upper, constant;
    uint32_t exponent;
    uint32_t set_begin, set_end;  // into Compiled::set_lo/set_hi
    uint32_t lin_begin, lin_end;  // into Compiled::cons_lin_pos/cons_lin_coeff
    uint32_t nl_begin, nl_end;    // into Compiled::cons_nl
    // When the body takes few values: penalty = pen_table[table_begin + body - table_min].
    uint64_t table_size;
    uint64_t table_begin;
    u64 table_min;
};

// Bodies with at most this many possible values get their penalties from a table.
inline constexpr uint64_t kMaxTable = 4096;

// The energy over enumeration positions. Positions are the model indices reordered so that
// the cheapest ones to flip come first (they flip most often in Gray-code order).
struct Compiled {
    uint32_t n = 0;
    std::vector<uint32_t> model_of;  // position -> model index
    u64 to_model[6][256] = {};       // byte b of a position mask -> model bits

    u64 constant = 0;
    std::vector<u64> linear;  // per position
    // Quadratic couplings, both directions: position i has quad[quad_head[i],
    // quad_head[i + 1]).
    std::vector<uint32_t> quad_head;
    std::vector<Coupling> quad;
    // Per position i: low_coupling[i * kLowStates + v], the couplings of i with those of
    // positions 0 and 1 that are set in v.
    std::vector<u64> low_coupling;
    // Terms over three or more positions: all of them, and per position those that hold it.
    std::vector<MaskTerm> higher;
    std::vector<uint32_t> higher_head;
    std::vector<MaskTerm> higher_at;

    std::vector<CompiledCons> cons;
    std::vector<int64_t> set_lo, set_hi;
    std::vector<uint32_t> cons_lin_pos;
    std::vector<u64> cons_lin_coeff;
    std::vector<MaskTerm> cons_nl;
    std::vector<uint32_t> ref_head;  // position i: refs[ref_head[i], ref_head[i + 1])
    std::vector<ConsRef> refs;
    std::vector<MaskTerm> ref_terms;

    u64 model_mask(u64 x) const {
        u64 m = 0;
        for (int b = 0; b < 6; ++b) m |= to_model[b][(x >> (8 * b)) & 0xFF];
        return m;
    }
    std::vector<u64> pen_table;

    // The penalty of constraint c for a body value it can take.
    [[gnu::always_inline]] u64 cons_penalty_fast(const CompiledCons& c, u64 body) const {
        if (c.table_size != 0) return pen_table[c.table_begin + (body - c.table_min)];
        return static_cast<u64>(cons_penalty(c, body));
    }
    int64_t cons_penalty(const CompiledCons& c, u64 body) const {
        return penalty(c.weight, c.exponent, c.lower, c.upper, set_lo.data() + c.set_begin,
                       set_hi.data() + c.set_begin, c.set_end - c.set_begin,
                       static_cast<int64_t>(body));
    }
};

Compiled compile(const RawModel& m);

}  // namespace sweep

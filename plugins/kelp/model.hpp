// The Model as the KELP search holds it: positions 0 .. nbin - 1 binary, nbin .. onwards
// bounded integers; objective terms and native constraint body terms in one list of literal
// products, each position knowing the terms it occurs in. Energies use 64-bit wrapping
// arithmetic like the library's Sol, so a change summed term by term equals the energy
// recomputed from scratch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/received.hpp"
#include "common/wrap.hpp"

namespace kelp {

using plugin_common::wrap_add;
using plugin_common::wrap_mul;
using plugin_common::wrap_sub;

constexpr uint32_t kNegated = plugin_common::kNegBit;

// One native constraint: weight times the distance of its body to the allowed range (or to
// the nearest allowed interval), to the power 1 or 2.
struct Constraint {
    int64_t weight = 0, lower = 0, upper = 0, constant = 0;
    std::vector<int64_t> set_lo, set_hi;
    uint32_t exponent = 2;
    uint32_t objective_only = 0;

    int64_t distance(int64_t body) const;
    int64_t penalty(int64_t body) const {
        const int64_t d = distance(body);
        return exponent == 1 ? wrap_mul(weight, d) : wrap_mul(wrap_mul(weight, d), d);
    }
};

// A finished Model as flat arrays, the form the device takes: terms with their literal ranges
// and owners (-1: objective), per-position occurrence lists, and the constraints with their
// allowed intervals (set_off: ranges into set_lo / set_hi, one per constraint plus one).
struct Flat {
    uint32_t nbin = 0;
    int64_t constant = 0;
    std::vector<int64_t> lo, hi;
    std::vector<int64_t> coeff;
    std::vector<uint64_t> begin;
    std::vector<int32_t> owner;
    std::vector<uint32_t> lits;
    std::vector<uint64_t> occ_off, occ;
    std::vector<int64_t> weight, lower, upper, body_constant;
    std::vector<uint32_t> exponent;
    std::vector<uint64_t> set_off;
    std::vector<int64_t> set_lo, set_hi;
};

class Model {
  public:
    // Binary Model (nint = 0) or unified integer Model. Term words: a position, bit 31 for a
    // negated binary literal; an atom word 0x40000000 | k names integer k.
    Model(uint32_t nbin, uint64_t nint, const int64_t* lower, const int64_t* upper,
          const plugin_common::Objective& obj);

    // Body = constant + sum coeffs * literal + sum of the nonlinear products.
    void add_constraint(const plugin_common::ConstraintArgs& a);
    Constraint* last_constraint() { return cons_.empty() ? nullptr : &cons_.back(); }
    void set_remainder_terms(uint64_t n) { remainder_terms_ = n; }
    uint64_t remainder_terms() const { return remainder_terms_; }

    uint32_t nbin() const { return nbin_; }
    uint64_t size() const { return lo_.size(); }
    uint64_t nint() const { return lo_.size() - nbin_; }
    int64_t lo(uint64_t p) const { return lo_[p]; }
    int64_t hi(uint64_t p) const { return hi_[p]; }
    size_t constraint_count() const { return cons_.size(); }
    const Constraint& constraint(size_t c) const { return cons_[c]; }
    // Term t: coefficient, owner (-1: objective, else its constraint) and literals.
    uint64_t term_count() const { return coeff_.size(); }
    int64_t term_coeff(uint64_t t) const { return coeff_[t]; }
    int32_t term_owner(uint64_t t) const { return owner_[t]; }
    const uint32_t* lits_begin(uint64_t t) const { return lits_.data() + begin_[t]; }
    const uint32_t* lits_end(uint64_t t) const { return lits_.data() + begin_[t + 1]; }

    // Builds the per-position occurrence lists once the constraints are known.
    void finish();
    // The finished Model's arrays.
    Flat flatten() const;

    // Exact energy from scratch; bodies (one per constraint) are written when not null.
    int64_t energy(const int64_t* v, int64_t* bodies) const;
    // Energy change of setting position p to value to (bodies as energy() writes them);
    // body_change receives each touched constraint's body change when not null.
    int64_t change(const int64_t* v, const int64_t* bodies, uint64_t p, int64_t to,
                   std::vector<std::pair<uint32_t, int64_t>>* body_change) const;

    // Binary Models whose objective is at most quadratic and that carry no constraints also
    // have a compact form: energy = base + sum lin_i x_i + sum over pairs q_ij x_i x_j, with
    // each pair listed from both ends (neighbour, coefficient).
    bool quadratic() const { return quadratic_; }
    int64_t lin(uint64_t p) const { return lin_[p]; }
    const std::pair<uint32_t, int64_t>* adj_begin(uint64_t p) const {
        return adj_.data() + adj_off_[p];
    }
    const std::pair<uint32_t, int64_t>* adj_end(uint64_t p) const {
        return adj_.data() + adj_off_[p + 1];
    }

  private:
    void build_quadratic();
    int64_t term_value(uint64_t t, const int64_t* v, uint64_t p, int64_t at) const;
    uint32_t position(uint32_t word) const;
    void add_term(int64_t coeff, const uint32_t* words, uint64_t n, int32_t owner);

    uint32_t nbin_;
    std::vector<int64_t> lo_, hi_;
    int64_t constant_;
    // Terms: coefficient, literal range in lits_, owner (-1: objective, else constraint).
    std::vector<int64_t> coeff_;
    std::vector<uint64_t> begin_;
    std::vector<int32_t> owner_;
    std::vector<uint32_t> lits_;  // position | kNegated
    std::vector<Constraint> cons_;
    std::vector<uint64_t> occ_off_;
    std::vector<uint64_t> occ_;  // term indices per position, ascending
    uint64_t remainder_terms_ = 0;
    bool quadratic_ = false;
    std::vector<int64_t> lin_;
    std::vector<uint64_t> adj_off_;
    std::vector<std::pair<uint32_t, int64_t>> adj_;
};

}  // namespace kelp

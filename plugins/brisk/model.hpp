// A binary Model as the search needs it: the objective split into a linear part, a quadratic
// neighbour list (CSR) and literal products of higher degree, plus the native constraints
// with per-variable membership lists. The raw arrays stay for the exact energy.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dalo_plugin.h"
#include "ring.hpp"

namespace brisk {

// A quadratic neighbour: the coefficient of x_i x_j seen from i.
struct Neighbour {
    uint32_t var;
    int32_t coeff;
};

// A literal product of a constraint body or the objective: literal words (variable | kNegBit)
// in lits[begin, end).
struct Product {
    int64_t coeff;
    uint64_t begin;
    uint64_t end;
};

// A variable of a constraint: its folded linear coefficient and the nonlinear products of the
// constraint that contain it (entries of member_products: product index | kNegBit).
struct Member {
    uint32_t var;
    uint32_t cons;
    int64_t coeff;
    uint64_t prod_begin;
    uint64_t prod_end;
};

struct CompiledCons {
    int64_t constant = 0;
    uint64_t mem_begin = 0, mem_end = 0;
    uint64_t prod_begin = 0, prod_end = 0;
    const RawCons* pen = nullptr;
    bool linear = true;
};

class Problem {
  public:
    Problem(uint32_t n, plugin_common::Objective obj) : n_(n), obj_(std::move(obj)) {}

    void add_constraint(RawCons c) {
        cons_.push_back(std::move(c));
        compiled_ = false;
    }
    RawCons* last_constraint() { return cons_.empty() ? nullptr : &cons_.back(); }
    void set_remainder(uint64_t terms) {
        has_remainder_ = true;
        remainder_terms_ = terms;
    }
    const std::vector<RawCons>& constraints() const { return cons_; }
    bool has_remainder() const { return has_remainder_; }
    uint64_t remainder_terms() const { return remainder_terms_; }

    // Builds the search structures once the constraints are known.
    void compile();

    uint32_t n() const { return n_; }
    // Exact energy of a state (one byte per variable) from the raw arrays.
    int64_t energy(const uint8_t* x) const;
    // Objective part only (without constraint penalties).
    int64_t objective(const uint8_t* x) const;

    // Compiled form.
    int64_t base = 0;
    std::vector<int64_t> lin;
    std::vector<uint64_t> adj_off;
    std::vector<Neighbour> adj;
    std::vector<Product> products;  // objective products of degree >= 3 or with negations
    std::vector<uint32_t> lits;     // their literals (and those of constraint products)
    std::vector<uint64_t> var_prod_off;
    std::vector<uint32_t> var_prod;  // product index | kNegBit when the literal is negated
    std::vector<CompiledCons> ccons;
    std::vector<Member> members;
    std::vector<uint32_t> member_products;  // constraint product index | kNegBit
    std::vector<Product> cons_products;
    std::vector<uint64_t> var_mem_off;
    std::vector<uint64_t> var_mem;  // member slots of each variable
    uint64_t max_degree_terms = 0;  // largest product size
    bool quadratic_only = true;     // no products, no constraints

  private:
    uint32_t n_;
    plugin_common::Objective obj_;
    std::vector<RawCons> cons_;
    bool has_remainder_ = false;
    uint64_t remainder_terms_ = 0;
    bool compiled_ = false;
};

// Value of a literal word under a byte state.
inline int64_t literal(uint32_t w, const uint8_t* x) {
    const int64_t b = x[w & ~kNegBit];
    return (w & kNegBit) ? 1 - b : b;
}

}  // namespace brisk

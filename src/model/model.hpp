// A compiled Model: dense model indices for the variables that occur, terms grouped by
// degree into flat arrays, native constraint records, the free-form penalty remainder and
// integer atoms. Immutable once built; shared by handles, Sols and solver wrappers.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/expr.hpp"
#include "core/expr_matrix.hpp"
#include "core/pod_array.hpp"

namespace dalo {

// Remapped variable words inside a Model: a binary variable is its model index (bit 31
// set for a negated literal); an integer atom is its atom position | kAtomBit.
inline constexpr uint32_t kAtomBit = 0x40000000u;
inline constexpr uint32_t kNotInModel = 0xFFFFFFFFu;

struct NativeCons {
    int64_t weight = 0;
    int64_t lower = 0;
    int64_t upper = 0;
    int64_t constant = 0;        // of the body
    std::vector<uint32_t> vars;  // degree-1 body terms (remapped)
    std::vector<coeff_t> coeffs;
    std::vector<uint64_t> nl_head;  // [0, running nl_vars length after each nonlinear term]
    std::vector<uint32_t> nl_vars;
    std::vector<coeff_t> nl_coeffs;
    std::vector<std::pair<int64_t, int64_t>> allowed;
    uint8_t exponent = 2;
    uint8_t objective_only = 0;
};

struct ModelImpl {
    PodArray<uint32_t> vars;  // model index -> variable identifier, ascending
    // Variable index - index_base -> model index or kNotInModel. The map spans the Model's
    // first to last variable only, so its size never depends on how many variables the
    // process has made.
    PodArray<uint32_t> index_map;
    uint32_t index_base = 0;
    int64_t constant = 0;
    uint32_t max_degree = 0;
    std::vector<uint64_t> term_count;            // [d - 1]
    std::vector<PodArray<uint32_t>> term_vars;   // [d - 1]: d words per term
    std::vector<PodArray<coeff_t>> coeff_array;  // [d - 1]
    double scale = 1.0;
    std::vector<NativeCons> native_cons;
    uint8_t has_remainder = 0;
    int64_t remainder_constant = 0;
    std::vector<uint64_t> remainder_head;
    std::vector<uint32_t> remainder_vars;
    std::vector<coeff_t> remainder_coeffs;
    std::vector<uint32_t> int_var_orig;   // atom -> integer-variable index
    std::vector<uint32_t> int_index_map;  // integer-variable index -> atom or kNotInModel
    std::vector<int64_t> int_lower;
    std::vector<int64_t> int_upper;

    uint32_t var_count() const { return static_cast<uint32_t>(vars.size()); }
    uint64_t int_count() const { return int_var_orig.size(); }

    // Model index of a binary identifier (bit 31 ignored), or kNotInModel.
    uint32_t index_of(Var id) const {
        const uint32_t v = (id & 0x7FFFFFFFu) - index_base;
        return v < index_map.size() ? index_map[v] : kNotInModel;
    }
    // index_map and index_base from vars.
    void map_vars() {
        const uint32_t n = var_count();
        index_base = n > 0 ? vars[0] : 0;
        const uint64_t span = n > 0 ? uint64_t{vars[n - 1]} - index_base + 1 : 0;
        index_map.resize_uninitialized(span);
        for (uint64_t v = 0; v < span; ++v) index_map[v] = kNotInModel;
        for (uint32_t i = 0; i < n; ++i) index_map[vars[i] - index_base] = i;
    }
    // Atom position of an integer identifier, or kNotInModel.
    uint32_t atom_of(Var id) const {
        const uint32_t v = id & 0x3FFFFFFFu;
        return v < int_index_map.size() ? int_index_map[v] : kNotInModel;
    }
};

// The two-word shared handle behind every dalo_model*: {ModelImpl pointer, control block},
// allocated together; the count is atomic.
using ModelHandle = std::shared_ptr<const ModelImpl>;

// The items of a declared constraint sum, as compilation takes them.
struct ConstraintListImpl {
    std::vector<std::pair<uint32_t, int64_t>> items;  // (ExprExpr index, weight)
    std::unique_ptr<ExprImpl> penalty;                // attribute cleared; null when none
    bool has_penalty = false;
};

// Compiles an expression: the constrained path when its word is a declared sum, the plain
// path otherwise. scale is accepted and not applied. give_back: the caller destroys e right
// after, so the pages of its terms go back to the system as they are read (e then holds
// zeros where they were).
ModelHandle model_create(const ExprImpl& e, double scale = 1.0, bool give_back = false);

// The ModelImpl constructor proper: the constraint list is null on the plain path.
ModelHandle compile_model(const ExprImpl& e, double scale, const ConstraintListImpl* cons,
                          bool give_back = false);

// Whether word is a sum of declared constraints with no free-form penalty.
bool declared_without_penalty(uint32_t word);
// The native records of such a word in variable identifiers, validated as compilation
// validates them.
std::vector<NativeCons> declared_native_records(uint32_t word);
// Records in variable identifiers, remapped to m's words and attached to m; every variable
// they name is in m.
void attach_native_records(ModelImpl& m, std::vector<NativeCons> records);

// The Model of x^T Q x (the form of expr_from_matrix, simplified as binary), written from the
// matrix without term records when x holds ascending binary identifiers.
ModelHandle model_from_matrix(const Var* x, uint64_t n, MatrixView<int64_t> q, uint64_t* wrapped);
ModelHandle model_from_matrix(const Var* x, uint64_t n, MatrixView<int32_t> q, uint64_t* wrapped);
// The Model of sum_u linear[u] x[u] + sum_k w[k] x[i[k]] x[j[k]] (w[k] x[i[k]] where
// i[k] == j[k]) simplified as binary, over positions i and j into x (linear may be null);
// fatal for a position outside [0, n).
ModelHandle model_from_pairs(const Var* x, uint64_t n, const int64_t* linear, const int64_t* i,
                             const int64_t* j, const int64_t* w, uint64_t count, uint64_t* wrapped);
// The Model of e simplified as binary, its constraint records carried: equal to model_create
// of the simplified expression. A plain quadratic form goes from the simplification's rows to
// the Model's arrays, with no simplified expression between.
ModelHandle model_of_simplified(const ExprImpl& e);

}  // namespace dalo

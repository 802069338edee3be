// Owning handles and small builders shared by the suites.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dalo.h"

namespace dalo_test {

// One owning pointer type per handle family, each destroyed by its own function.
template <class T, void (*Destroy)(T*)>
struct Destroyer {
    void operator()(T* p) const { Destroy(p); }
};
template <class T, void (*Destroy)(T*)>
using Owned = std::unique_ptr<T, Destroyer<T, Destroy>>;

using ExprPtr = Owned<dalo_expr, dalo_expr_destroy>;
using TermPtr = Owned<dalo_term, dalo_term_destroy>;
using ModelPtr = Owned<dalo_model, dalo_model_destroy>;
using SolPtr = Owned<dalo_sol, dalo_sol_destroy>;
using IlpPtr = Owned<dalo_ilp, dalo_ilp_destroy>;
using ArrayExprPtr = Owned<dalo_array_expr, dalo_array_expr_destroy>;
using ArrayTermPtr = Owned<dalo_array_term, dalo_array_term_destroy>;
using ArrayVarPtr = Owned<dalo_array_var, dalo_array_var_destroy>;
using ArrayIntPtr = Owned<dalo_array_int, dalo_array_int_destroy>;
using ResultPtr = Owned<dalo_solver_result, dalo_brisk_solver_result_destroy>;
using BriskPtr = Owned<dalo_brisk_solver_wrapper, dalo_brisk_solver_wrapper_destroy>;
using SweepPtr = Owned<dalo_sweep_wrapper, dalo_sweep_wrapper_destroy>;
using KelpPtr = Owned<dalo_kelp_wrapper, dalo_kelp_wrapper_destroy>;

// The number of elements of an array of this shape.
inline uint64_t count_of(const std::vector<uint64_t>& shape) {
    uint64_t n = 1;
    for (uint64_t e : shape) n *= e;
    return n;
}

// Builders, outside dalo_test itself so that argument-dependent lookup does not find them
// (bring them in with `using namespace dalo_test::build;`).
namespace build {
inline ExprPtr var(dalo_var v) { return ExprPtr(dalo_expr_create_var(v)); }
inline ExprPtr raw(int64_t coeff, std::vector<dalo_var> vs, int64_t constant = 0) {
    return ExprPtr(dalo_expr_create_raw_term(coeff, vs.data(), vs.size(), constant));
}
inline void add(const ExprPtr& e, int64_t coeff, std::vector<dalo_var> vs) {
    dalo_expr_iadd_raw_term(e.get(), coeff, vs.data(), vs.size());
}
inline void add(const ExprPtr& e, const ExprPtr& f) { dalo_expr_iadd_expr(e.get(), f.get()); }
inline ExprPtr binary(const ExprPtr& e) { return ExprPtr(dalo_expr_simplify_as_binary(e.get())); }
inline ModelPtr model_of(const ExprPtr& e) { return ModelPtr(dalo_model_create(e.get())); }
inline SolPtr sol_of(const ModelPtr& m) { return SolPtr(dalo_sol_create(m.get())); }
inline std::vector<int32_t> values(const dalo_array_int* a) {
    std::vector<int32_t> out(dalo_array_int_size(a));
    dalo_array_int_to_ints(a, out.data());
    return out;
}
}  // namespace build

}  // namespace dalo_test

// Substitution, evaluation under a map and binarization.
#include <vector>

#include "capi/handles.hpp"
#include "transform/binarize.hpp"
#include "transform/substitute.hpp"

using namespace dalo;

extern "C" {

dalo_expr* dalo_expr_replace(const dalo_expr* e, const dalo_var* vars, const dalo_expr* const* repl,
                             uint64_t n) try {
    std::vector<const ExprImpl*> r(n);
    for (uint64_t i = 0; i < n; ++i) r[i] = unwrap(repl[i]);
    return wrap_new(expr_replace(*unwrap(e), SubstMap(vars, r.data(), n)));
}
DALO_RECOVER

int64_t dalo_expr_eval_map(const dalo_expr* e, const dalo_var* vars, const int64_t* values,
                           uint64_t n, int64_t* out) try {
    return store_out(out, expr_eval_map(*unwrap(e), vars, values, n));
}
DALO_RECOVER

dalo_expr* dalo_expr_binarize(const dalo_expr* e) try {
    return wrap_new(expr_binarize(*unwrap(e)));
}
DALO_RECOVER

}  // extern "C"

// Simplification.
#include "transform/simplify.hpp"
#include "capi/handles.hpp"
#include "constraints/carry.hpp"

using namespace dalo;

namespace {

// f applied to e, with e's constraint records carried through f as well.
dalo_expr* carried(const dalo_expr* e, ExprImpl (*f)(const ExprImpl&)) {
    ExprImpl r = f(*unwrap(e));
    r.attr = carry_records(unwrap(e)->attr, f);
    return wrap_new(std::move(r));
}

}  // namespace

extern "C" {

dalo_expr* dalo_expr_simplify(const dalo_expr* e) try { return carried(e, expr_simplify); }
DALO_RECOVER
dalo_expr* dalo_expr_simplify_as_binary(const dalo_expr* e) try {
    return carried(e, expr_simplify_as_binary);
}
DALO_RECOVER
void dalo_expr_simplify_as_binary_inplace(dalo_expr* e) try {
    const uint32_t word = carry_records(unwrap(e)->attr, expr_simplify_as_binary);
    expr_simplify_as_binary_inplace(*unwrap(e));
    unwrap(e)->attr = word;
}
DALO_RECOVER_VOID
dalo_expr* dalo_expr_simplify_as_spin(const dalo_expr* e) try {
    return carried(e, expr_simplify_as_spin);
}
DALO_RECOVER

}  // extern "C"

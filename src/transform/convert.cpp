#include "transform/convert.hpp"

#include "constraints/arith.hpp"
#include "constraints/attr_rules.hpp"
#include "core/fatal.hpp"
#include "transform/simplify.hpp"

namespace dalo {

void check_rewritable(const ExprImpl& e, std::string_view what, std::string_view int_msg) {
    refuse_if_declared(e, what);
    if (expr_has_int_atom(e)) fatal(int_msg);
}

ExprImpl expr_binary_to_spin(const ExprImpl& e) {
    check_rewritable(e, "binary_to_spin",
                     "binary_to_spin: native integer variables (int_var) are not supported (spin "
                     "semantics do not apply to integer atoms).");
    const uint32_t top = expr_max_degree(e);
    // Doubling rather than shifting: a constant that overflows wraps like every product.
    ExprImpl r(e.constant);
    for (uint32_t i = 0; i < top; ++i) r.constant = wrap_mul(r.constant, 2);
    e.for_each_term([&](const TermImpl& t) {
        // x = (1 + s) / 2, so 2^d * c * x1...xd = c * (1 + s1)...(1 + sd).
        ExprImpl p(t.coeff);
        const uint32_t d = degree(t);
        for (uint32_t i = 0; i < d; ++i)
            p = expr_mul_expr(p, expr_of(1, {var_term(1, var_at(t.vars, i))}));
        for (uint32_t i = d; i < top; ++i) expr_imul_int(p, 2);
        expr_iadd_expr(r, p);
    });
    // A negated literal ~x stays in place; the spin rules read it as -s.
    return expr_simplify_as_spin(r);
}

ExprImpl expr_spin_to_binary(const ExprImpl& e) {
    check_rewritable(e, "spin_to_binary",
                     "spin_to_binary: native integer variables (int_var) are not supported (spin "
                     "semantics do not apply to integer atoms).");
    ExprImpl r(e.constant);
    e.for_each_term([&](const TermImpl& t) {
        ExprImpl p(t.coeff);
        const uint32_t d = degree(t);
        for (uint32_t i = 0; i < d; ++i)
            p = expr_mul_expr(p, expr_of(-1, {var_term(2, var_at(t.vars, i))}));
        expr_iadd_expr(r, p);
    });
    return expr_simplify_as_binary(r);
}

}  // namespace dalo

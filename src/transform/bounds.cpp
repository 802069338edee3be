#include "transform/bounds.hpp"

#include <algorithm>

#include "constraints/attr_rules.hpp"
#include "constraints/constructors.hpp"
#include "core/fatal.hpp"
#include "core/var_registry.hpp"
#include "transform/simplify.hpp"

namespace dalo {

std::pair<int64_t, int64_t> reachable_bounds(const ExprImpl& e) {
    const ExprImpl s = expr_simplify_as_binary(e);
    int64_t lo = s.constant, hi = s.constant;
    s.for_each_term([&](const TermImpl& t) {
        int64_t a = t.coeff, b = t.coeff;
        const uint32_t d = degree(t);
        for (uint32_t i = 0; i < d; ++i) {
            const Var v = var_at(t.vars, i);
            if (!is_int_atom(v)) {  // times [0, 1]
                const int64_t na = std::min<int64_t>({0, a, b}), nb = std::max<int64_t>({0, a, b});
                a = na;
                b = nb;
                continue;
            }
            const IntVarRecord* rec = int_var_registry().find(v & kIndexMask);
            if (rec == nullptr) fatal("reachable bounds: unknown integer variable");
            const int64_t p[4] = {wrap_mul(a, rec->lo), wrap_mul(a, rec->hi), wrap_mul(b, rec->lo),
                                  wrap_mul(b, rec->hi)};
            a = *std::min_element(p, p + 4);
            b = *std::max_element(p, p + 4);
        }
        lo = wrap_add(lo, a);
        hi = wrap_add(hi, b);
    });
    return {lo, hi};
}

ExprImpl relu_term(const ExprImpl& body, int64_t k) {
    refuse_if_declared(body, "abs/relu body carrying declared constraints");
    if (k < 1 || k > 2) return penalty_shape(body, k, "relu", 0);  // reports the exponent
    return penalty_shape(body, k, "relu", std::min<int64_t>(reachable_bounds(body).first, 0));
}

}  // namespace dalo

#include "transform/reduce.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "constraints/arith.hpp"
#include "core/fatal.hpp"
#include "core/parallel.hpp"
#include "core/var_registry.hpp"
#include "transform/convert.hpp"
#include "transform/simplify.hpp"

namespace dalo {

namespace {

// Numbers the auxiliary variables; separate from the automatic and slack names, and never
// reset, so names stay unique for the life of the process.
std::atomic<uint32_t> aux_name_counter{0};

std::string aux_name() { return "{r" + std::to_string(aux_name_counter.fetch_add(1)) + "}"; }

// Coefficients of the slack y in [0, h]: min(h, 2), then powers 4, 8, ... of what is
// left. Only every other value needs a code (S - y may be 0 or 1), so starting at 2 keeps
// the bit count low.
std::vector<coeff_t> slack_coeffs(uint64_t h) {
    std::vector<coeff_t> out;
    uint64_t rest = h;
    for (uint64_t power = 2; rest > 0; power *= 2) {
        const uint64_t c = std::min(rest, power);
        if (c > static_cast<uint64_t>(INT32_MAX)) {
            fatal("VarInt slack range [0, " + std::to_string(h) +
                  "] too large: binary coefficient " + std::to_string(c) +
                  " overflows the coefficient type");
        }
        out.push_back(static_cast<coeff_t>(c));
        rest -= c;
    }
    return out;
}

// Variables of one reduced term: w for Freedman's rule, the slack bits for Ishikawa's (a
// single variable, or an array when there are several). Returns the first identifier.
Var new_aux_vars(const TermImpl& t, uint32_t d) {
    if (t.coeff < 0) return var_registry().new_var(aux_name().c_str());
    const uint64_t k = slack_coeffs(d - 2).size();
    const std::string name = aux_name();
    return k == 1 ? var_registry().new_var(name.c_str())
                  : var_registry().new_var_array(name.c_str(), &k, 1);
}

// x1 + ... + xd in the term's order; negated literals stay literals.
ExprImpl literal_sum(const TermImpl& t, uint32_t d) {
    ExprImpl s;
    s.reserve_more(d);
    for (uint32_t i = 0; i < d; ++i) s.append_owned(var_term(1, var_at(t.vars, i)));
    return s;
}

// c * x1...xd with c < 0: c * w * (S - (d - 1)); at the minimum over w, w = 1 exactly
// when every literal is 1.
ExprImpl reduce_negative(const TermImpl& t, uint32_t d, Var w) {
    ExprImpl r = literal_sum(t, d);
    expr_isub_int(r, static_cast<int64_t>(d) - 1);
    expr_imul_term(r, var_term(1, w), AttrOp::MulVar);
    expr_imul_int(r, t.coeff);
    return r;
}

// c * x1...xd with c > 0: c * (S - y)(S - y - 1) / 2 with y in [0, d - 2] over the bits
// from `bits` on; zero when some y brings S - y to 0 or 1, and c when every literal is 1
// (S = d, y = d - 2).
ExprImpl reduce_positive(const TermImpl& t, uint32_t d, Var bits) {
    const std::vector<coeff_t> coeffs = slack_coeffs(d - 2);
    ExprImpl y;
    y.reserve_more(coeffs.size());
    for (size_t j = 0; j < coeffs.size(); ++j)
        y.append_owned(var_term(coeffs[j], bits + static_cast<Var>(j)));
    ExprImpl a = literal_sum(t, d);
    expr_isub_expr(a, y);
    ExprImpl b(a);
    expr_isub_int(b, 1);
    // A * B * c has the same terms and wrapped coefficients as (c * A) * B, one copy less.
    ExprImpl p = expr_mul_expr(a, b);
    expr_imul_int(p, t.coeff);
    // Binary rules make every coefficient even (x*x - x vanishes, the rest pairs up).
    ExprImpl r = expr_simplify_as_binary(p);
    expr_idiv_int(r, 2);
    return r;
}

// Terms per piece of the parallel build; fixed, so the pieces and their order do not
// depend on the thread count.
constexpr uint64_t kPieceTerms = 2048;

}  // namespace

ExprImpl expr_reduce_unchecked(const ExprImpl& e) {
    const ExprImpl s = expr_simplify_as_binary(e);
    const uint64_t n = s.term_count();
    // Variables first, serially in term order, so names and identifiers are those of a
    // term-by-term pass whatever the thread count.
    std::vector<Var> aux(n, kNoVar);
    for (uint64_t i = 0; i < n; ++i) {
        const uint32_t d = degree(s.term(i));
        if (d >= 3) aux[i] = new_aux_vars(s.term(i), d);
    }
    // Small expressions per term, collected piece by piece; nothing is merged until the
    // final simplification.
    const uint64_t pieces = (n + kPieceTerms - 1) / kPieceTerms;
    std::vector<ExprImpl> part(pieces);
    par_for_impl(pieces, n, [&](uint64_t p) {
        const uint64_t end = std::min(n, (p + 1) * kPieceTerms);
        for (uint64_t i = p * kPieceTerms; i < end; ++i) {
            const TermImpl& t = s.term(i);
            const uint32_t d = degree(t);
            if (d <= 2) {
                part[p].append_copy(t);
            } else {
                expr_iadd_expr(part[p], t.coeff < 0 ? reduce_negative(t, d, aux[i])
                                                    : reduce_positive(t, d, aux[i]));
            }
        }
    });
    ExprImpl r(s.constant);
    uint64_t total = 0;
    for (const ExprImpl& x : part) total += x.term_count();
    r.reserve_more(total);
    for (const ExprImpl& x : part) expr_iadd_expr(r, x);
    return expr_simplify_as_binary(r);
}

ExprImpl expr_reduce(const ExprImpl& e) {
    check_rewritable(e,
                     "reduce (declared constraints would be dropped; reduce the objective before "
                     "adding dalo::cons parts)",
                     "reduce: native integer variables (int_var) are not supported "
                     "(Ishikawa/Freedman quadratization assumes 0/1 variables).");
    return expr_reduce_unchecked(e);
}

}  // namespace dalo

#include "constraints/constructors.hpp"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "constraints/arith.hpp"
#include "constraints/attr_rules.hpp"
#include "core/fatal.hpp"
#include "core/var_registry.hpp"

namespace dalo {

namespace {

std::atomic<uint32_t> g_slack_counter{0};

std::unique_ptr<ExprImpl> plain_copy(const ExprImpl& x) {
    return std::make_unique<ExprImpl>(x, kAttrPlain);
}

ExprImpl plain_value(const ExprImpl& x) { return ExprImpl(x, kAttrPlain); }

uint32_t exprexpr_index(const ExprImpl& e, const char* who) {
    if (!is_exprexpr_word(e.attr)) fatal(std::string(who) + ": not an ExprExpr");
    return e.attr & kRecordMask;
}

// A zero polynomial linked to a new declared sum of one constraint record.
ExprImpl declared_single(uint32_t record) {
    ExprImpl r;
    r.attr = kTagSum | constraint_sum_set().add({{record, 1}}, nullptr, true);
    return r;
}

uint32_t new_body_record(const ExprImpl& body) { return exprexpr_set().add(plain_copy(body)); }

}  // namespace

// ---- classic ExprExpr values ----

ExprImpl exprexpr_create(const ExprImpl& penalty, const ExprImpl& body) {
    refuse_if_declared(penalty, "== / <= (comparing declared constraints)");
    refuse_if_declared(body, "== / <= (comparing declared constraints)");
    ExprImpl r = plain_value(penalty);
    r.attr = kTagExprExpr | exprexpr_set().add(std::make_unique<ExprImpl>(body));
    return r;
}

void exprexpr_set_bounds(const ExprImpl& e, int64_t lo, int64_t hi) {
    exprexpr_set().set_bounds(exprexpr_index(e, "dalo_exprexpr_set_bounds"), lo, hi);
}

bool exprexpr_get_bounds(const ExprImpl& e, int64_t* lo, int64_t* hi) {
    if (!is_exprexpr_word(e.attr)) return false;
    const ExprExprRecord& r = exprexpr_set().bounds(e.attr & kRecordMask);
    if (!r.has_bounds) return false;
    *lo = r.lo;
    *hi = r.hi;
    return true;
}

void exprexpr_set_allowed(const ExprImpl& e, std::vector<Interval> intervals) {
    exprexpr_set().set_allowed(exprexpr_index(e, "dalo_exprexpr_set_allowed"),
                               std::move(intervals));
}

const ExprImpl& exprexpr_body(const ExprImpl& e) {
    if (is_exprexpr_word(e.attr)) return exprexpr_set().body(e.attr & kRecordMask);
    if (is_sum_word(e.attr)) {
        const ConstraintSumRecord& r = constraint_sum_set().record(e.attr & kRecordMask);
        if (r.items.size() == 1 && r.penalty == nullptr)
            return exprexpr_set().body(r.items[0].first);
        std::string msg = "body() requires exactly one constraint, but this value holds " +
                          std::to_string(r.items.size()) + " constraint(s)";
        if (r.penalty != nullptr) msg += " and a free-form penalty";
        fatal(msg + "; use violations(sol) instead.");
    }
    fatal(
        "ExprExpr body access on a value that is not an ExprExpr (plain Expr, VarInt or constraint "
        "sum).");
}

std::vector<coeff_t> between_slack_coeffs(int64_t lo, int64_t hi) {
    if (hi <= lo || hi - 1 == lo) return {};
    // Slack s over [lo, hi - 1]: coefficients 2, 4, 8, ... after a first min(R, 2).
    const uint64_t range = static_cast<uint64_t>(hi) - 1 - static_cast<uint64_t>(lo);
    std::vector<coeff_t> coeffs;
    uint64_t first = std::min<uint64_t>(range, 2);
    coeffs.push_back(static_cast<coeff_t>(first));
    uint64_t remaining = range - first;
    for (unsigned j = 1; remaining >= 1; ++j) {
        const uint64_t power = uint64_t{1} << (j + 1);
        const uint64_t c = std::min(remaining, power);
        if (c > static_cast<uint64_t>(INT32_MAX)) {
            fatal("VarInt slack range [" + std::to_string(lo) + ", " + std::to_string(hi - 1) +
                  "] too large: binary coefficient " + std::to_string(c) +
                  " overflows the coefficient type");
        }
        coeffs.push_back(static_cast<coeff_t>(c));
        remaining -= c;
    }
    return coeffs;
}

ExprImpl between(const ExprImpl& f, int64_t lo, int64_t hi) {
    if (hi < lo) return ExprImpl();
    ExprImpl a = plain_value(f);
    if (hi == lo) {
        expr_isub_int(a, lo);
        return expr_sqr(a);
    }
    if (hi - 1 == lo) {
        expr_isub_int(a, lo);
        ExprImpl b = plain_value(f);
        expr_isub_int(b, hi);
        return expr_mul_expr(a, b);
    }
    const std::vector<coeff_t> coeffs = between_slack_coeffs(lo, hi);
    std::string name = "{s" + std::to_string(g_slack_counter.fetch_add(1)) + "}";
    Var bits;
    if (coeffs.size() == 1) {
        bits = var_registry().new_var(name.c_str());
    } else {
        uint64_t n = coeffs.size();
        bits = var_registry().new_var_array(name.c_str(), &n, 1);
    }
    ExprImpl s(lo);
    for (size_t j = 0; j < coeffs.size(); ++j)
        s.append_owned(var_term(coeffs[j], bits + static_cast<Var>(j)));
    expr_isub_expr(a, s);
    ExprImpl b(a);
    expr_isub_int(b, 1);
    return expr_mul_expr(a, b);
}

// ---- declared constraints ----

ExprImpl cons_between(const ExprImpl& body, int64_t lo, int64_t hi) {
    refuse_if_declared(body, "cons(body, ...) on declared constraints");
    const uint32_t rec = new_body_record(body);
    exprexpr_set().set_bounds(rec, lo, hi);
    return declared_single(rec);
}

ExprImpl cons_equal(const ExprImpl& body, std::vector<Interval> intervals) {
    refuse_if_declared(body, "cons(body, equal=...) on declared constraints");
    if (intervals.empty()) fatal("dalo_cons_equal: empty allowed-value set");
    const uint32_t rec = new_body_record(body);
    exprexpr_set().set_allowed(rec, std::move(intervals));
    return declared_single(rec);
}

ExprImpl cons_mark(const ExprImpl& e) {
    ExprImpl r;
    if (carries_declared(e.attr)) {
        mark_word_shared(e.attr);
        r.attr = e.attr;
        return r;
    }
    if (attr_carries(e.attr)) {
        const ExprImpl* p =
            is_sum_word(e.attr) ? constraint_sum_set().penalty(e.attr & kRecordMask) : nullptr;
        r.attr = kTagSum | constraint_sum_set().add(collect_items(e.attr, 1),
                                                    p ? plain_copy(*p) : nullptr, true);
        return r;
    }
    r.attr = kTagSum | constraint_sum_set().add({}, plain_copy(e), true);
    return r;
}

ExprImpl penalty_shape(const ExprImpl& body, int64_t k, const char* name, int64_t lo) {
    refuse_if_declared(body, "abs/relu body carrying declared constraints");
    if (k < 1 || k > 2) {
        fatal(std::string("dalo::") + name + ": the exponent k must be 1 or 2 (got " +
              std::to_string(k) + ")");
    }
    const uint32_t rec = new_body_record(body);
    exprexpr_set().set_bounds(rec, lo, 0);
    exprexpr_set().set_penalty_shape(rec, static_cast<uint8_t>(k));
    return declared_single(rec);
}

ExprImpl abs_term(const ExprImpl& body, int64_t k) { return penalty_shape(body, k, "abs", 0); }

}  // namespace dalo

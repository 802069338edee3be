#include "constraints/items.hpp"

#include "constraints/attr_rules.hpp"
#include "core/fatal.hpp"
#include "core/term.hpp"
#include "model/sol.hpp"

namespace dalo {

namespace {

// Distance of v below lo or above hi; the comparisons keep it exact where the difference
// itself would wrap.
int64_t below(int64_t lo, int64_t v) { return v < lo ? wrap_sub(lo, v) : 0; }
int64_t above(int64_t hi, int64_t v) { return v > hi ? wrap_sub(v, hi) : 0; }

// Item i of a value: a constraint record with its weight, or a free-form expression.
struct Item {
    const ExprExprRecord* record = nullptr;
    int64_t weight = 1;
    const ExprImpl* free_form = nullptr;
};

// An ExprExpr ignores the item number; a sum's penalty slot exists only when it has one.
Item lookup(const ExprImpl& e, uint64_t i, const char* bad_index) {
    if (is_exprexpr_word(e.attr)) return {&exprexpr_set().meta(e.attr & kRecordMask), 1, nullptr};
    if (is_sum_word(e.attr)) {
        const ConstraintSumRecord& s = constraint_sum_set().record(e.attr & kRecordMask);
        if (i < s.items.size())
            return {&exprexpr_set().meta(s.items[i].first), s.items[i].second, nullptr};
        if (i == s.items.size() && s.penalty != nullptr) return {nullptr, 1, s.penalty.get()};
        fatal(bad_index);
    }
    if (i != 0) fatal(bad_index);
    return {nullptr, 1, &e};
}

// The record behind item i without failing: null for free-form items and missing ones.
const ExprExprRecord* record_at(const ExprImpl& e, uint64_t i, bool exprexpr_any_item) {
    if (is_exprexpr_word(e.attr)) {
        if (i != 0 && !exprexpr_any_item) return nullptr;
        return &exprexpr_set().meta(e.attr & kRecordMask);
    }
    if (is_sum_word(e.attr)) {
        const ConstraintSumRecord& s = constraint_sum_set().record(e.attr & kRecordMask);
        if (i < s.items.size()) return &exprexpr_set().meta(s.items[i].first);
    }
    return nullptr;
}

}  // namespace

int64_t allowed_distance(const std::vector<Interval>& allowed, int64_t v) {
    int64_t best = 0;
    bool first = true;
    for (const Interval& iv : allowed) {
        if (v >= iv.first && v <= iv.second) return 0;
        const int64_t d = v < iv.first ? wrap_sub(iv.first, v) : wrap_sub(v, iv.second);
        if (first || d < best) best = d;
        first = false;
    }
    return best;
}

int64_t violation_distance(const ExprExprRecord& r, int64_t v) {
    if (!r.allowed.empty()) return allowed_distance(r.allowed, v);
    if (!r.has_bounds) return 0;
    if (v < r.lo) return below(r.lo, v);
    return above(r.hi, v);
}

int64_t native_violation(const NativeCons& c, int64_t v) {
    if (!c.allowed.empty()) return allowed_distance(c.allowed, v);
    return wrap_add(below(c.lower, v), above(c.upper, v));
}

int64_t weighted_violation(int64_t weight, int64_t d, uint8_t exponent) {
    return exponent == 1 ? wrap_mul(weight, d) : wrap_mul(wrap_mul(weight, d), d);
}

bool expr_is_declared(const ExprImpl& e) { return carries_declared(e.attr); }

bool expr_has_body(const ExprImpl& e) {
    if (is_exprexpr_word(e.attr)) return true;
    if (!is_sum_word(e.attr)) return false;
    const ConstraintSumRecord& s = constraint_sum_set().record(e.attr & kRecordMask);
    return s.items.size() == 1 && s.penalty == nullptr;
}

uint64_t cons_item_count(const ExprImpl& e) {
    if (!is_sum_word(e.attr)) return 1;
    const ConstraintSumRecord& s = constraint_sum_set().record(e.attr & kRecordMask);
    return s.items.size() + (s.penalty != nullptr ? 1 : 0);
}

ItemInfo cons_item_info(const ExprImpl& e, uint64_t i) {
    const Item it = lookup(e, i, "dalo_cons_item_info: bad item index");
    ItemInfo out;
    if (it.record != nullptr && it.record->has_bounds) {
        out.bounded = true;
        out.body = ExprImpl(*it.record->body, kAttrPlain);
        out.weight = it.weight;
        out.lo = it.record->lo;
        out.hi = it.record->hi;
        return out;
    }
    // A record without bounds stands for the whole queried value.
    out.body = ExprImpl(it.free_form != nullptr ? *it.free_form : e, kAttrPlain);
    return out;
}

bool cons_item_shape(const ExprImpl& e, uint64_t i, uint32_t& k, uint32_t& objective_only) {
    k = 2;
    objective_only = 0;
    const ExprExprRecord* r = record_at(e, i, false);
    if (r == nullptr || !r->has_bounds) return false;
    k = r->exponent;
    objective_only = r->objective_only;
    return true;
}

const std::vector<Interval>* cons_item_allowed(const ExprImpl& e, uint64_t i) {
    const ExprExprRecord* r = record_at(e, i, true);
    return r != nullptr ? &r->allowed : nullptr;
}

ItemEval cons_item_eval(const ExprImpl& e, uint64_t i, const SolImpl& sol) {
    const Item it = lookup(e, i, "dalo_cons_item_eval: bad item index");
    ItemEval out;
    if (it.record != nullptr) {
        if (!it.record->has_bounds) fatal("violations: constraint has no recorded bounds");
        out.value = sol_eval_poly(sol, *it.record->body);
        out.lo = it.record->lo;
        out.hi = it.record->hi;
        out.violation = violation_distance(*it.record, out.value);
        out.weight = it.weight;
        return out;
    }
    // A free-form expression must be 0: its signed value is the violation.
    out.value = sol_eval_poly(sol, *it.free_form);
    out.violation = out.value;
    return out;
}

uint64_t cons_violation_count(const ExprImpl& e, const SolImpl& sol) {
    if (!attr_carries(e.attr)) fatal("cons(sol): expression carries no constraints");
    auto violated = [&](const ExprExprRecord& r) {
        if (!r.has_bounds || r.objective_only) return false;
        return violation_distance(r, sol_eval_poly(sol, *r.body)) != 0;
    };
    if (is_exprexpr_word(e.attr)) return violated(exprexpr_set().meta(e.attr & kRecordMask));
    const ConstraintSumRecord& s = constraint_sum_set().record(e.attr & kRecordMask);
    uint64_t count = 0;
    for (const SumItem& item : s.items) count += violated(exprexpr_set().meta(item.first));
    if (s.penalty != nullptr && sol_eval_poly(sol, *s.penalty) != 0) ++count;
    return count;
}

}  // namespace dalo

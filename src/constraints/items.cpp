#include "constraints/items.hpp"

#include "core/fatal.hpp"
#include "core/term.hpp"

namespace dalo {

namespace {

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

ConsItem cons_item_at(const ExprImpl& e, uint64_t i, const char* bad_index) {
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
    if (v < r.lo) return distance_below(r.lo, v);
    return distance_above(r.hi, v);
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
    const ConsItem it = cons_item_at(e, i, "dalo_cons_item_info: bad item index");
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

}  // namespace dalo

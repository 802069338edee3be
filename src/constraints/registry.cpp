#include "constraints/registry.hpp"

#include "constraints/arith.hpp"
#include "core/fatal.hpp"

namespace dalo {

// ---- ExprExprSet ----

uint32_t ExprExprSet::add(std::unique_ptr<ExprImpl> body) {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t index = records_.size();
    if (index > kLargestRecord) fatal("ExprExprSet: index overflow");
    records_.append([&](ExprExprRecord& r) { r.body = std::move(body); });
    return static_cast<uint32_t>(index);
}

void ExprExprSet::set_bounds(uint64_t index, int64_t lo, int64_t hi) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= records_.size()) fatal("ExprExprSet: set_bounds bad index");
    ExprExprRecord& r = records_[index];
    r.has_bounds = 1;
    r.lo = lo;
    r.hi = hi;
}

void ExprExprSet::set_allowed(uint64_t index, std::vector<Interval> intervals) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= records_.size()) fatal("ExprExprSet: set_allowed bad index");
    if (intervals.empty()) fatal("ExprExprSet: set_allowed empty set");
    ExprExprRecord& r = records_[index];
    r.lo = intervals[0].first;
    r.hi = intervals[0].second;
    for (const Interval& iv : intervals) {
        r.lo = std::min(r.lo, iv.first);
        r.hi = std::max(r.hi, iv.second);
    }
    r.allowed = std::move(intervals);
    r.has_bounds = 1;
}

void ExprExprSet::set_penalty_shape(uint64_t index, uint8_t exponent) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= records_.size()) fatal("ExprExprSet: set_penalty_shape bad index");
    records_[index].exponent = exponent;
    records_[index].objective_only = 1;
}

void ExprExprSet::copy_meta(uint64_t from, uint64_t to) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (from >= records_.size() || to >= records_.size()) return;
    const ExprExprRecord& a = records_[from];
    ExprExprRecord& b = records_[to];
    b.has_bounds = a.has_bounds;
    b.lo = a.lo;
    b.hi = a.hi;
    b.allowed = a.allowed;
    b.exponent = a.exponent;
    b.objective_only = a.objective_only;
}

const ExprImpl& ExprExprSet::body(uint64_t index) const {
    if (index >= records_.size()) {
        fatal_raw(
            "dalo: ExprExpr body access on a value that is no longer an ExprExpr (e.g. after ee "
            "+= 1, ee.sqr()).");
    }
    return *records_[index].body;
}

const ExprExprRecord& ExprExprSet::meta(uint64_t index) const {
    if (index >= records_.size()) fatal("ExprExprSet: meta bad index");
    return records_[index];
}

const ExprExprRecord& ExprExprSet::bounds(uint64_t index) const {
    if (index >= records_.size()) fatal("ExprExprSet: get_bounds bad index");
    return records_[index];
}

const ExprExprRecord& ExprExprSet::allowed(uint64_t index) const {
    if (index >= records_.size()) fatal("ExprExprSet: get_allowed bad index");
    return records_[index];
}

// ---- ConstraintSumSet ----

ConstraintSumSet::ConstraintSumSet() { set_copy_hook(mark_word_shared); }

uint32_t ConstraintSumSet::add(std::vector<SumItem> items, std::unique_ptr<ExprImpl> penalty,
                               bool declared) {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t index = records_.size();
    if (index > kLargestRecord) fatal("ConstraintSumSet: index overflow");
    records_.append([&](ConstraintSumRecord& r) {
        r.items = std::move(items);
        r.penalty = std::move(penalty);
        r.declared = declared ? 1 : 0;
    });
    return static_cast<uint32_t>(index);
}

bool ConstraintSumSet::append(uint64_t index, const std::vector<SumItem>& items,
                              const ExprImpl* penalty) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= records_.size()) fatal("ConstraintSumSet: bad index");
    ConstraintSumRecord& r = records_[index];
    if (r.shared) return false;
    r.items.insert(r.items.end(), items.begin(), items.end());
    if (penalty != nullptr) {
        if (r.penalty == nullptr) {
            r.penalty = std::make_unique<ExprImpl>(*penalty, kAttrPlain);
        } else {
            // A copy first, also when the penalty passed is the record's own.
            expr_iadd_expr(*r.penalty, ExprImpl(*penalty, kAttrPlain));
        }
    }
    return true;
}

void ConstraintSumSet::mark_shared(uint64_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < records_.size()) records_[index].shared = 1;
}

const ConstraintSumRecord& ConstraintSumSet::record(uint64_t index) const {
    if (index >= records_.size()) fatal("ConstraintSumSet: bad index");
    return records_[index];
}

ExprExprSet& exprexpr_set() {
    static ExprExprSet set;
    return set;
}

ConstraintSumSet& constraint_sum_set() {
    static ConstraintSumSet set;
    return set;
}

bool carries_declared(uint32_t w) {
    return is_sum_word(w) && constraint_sum_set().declared(w & kRecordMask);
}

}  // namespace dalo

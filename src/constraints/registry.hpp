// Process-wide records that the attribute word of an expression points at: classic
// penalty constraints (ExprExpr) and sums of them (constraint sums). Records are appended
// under each registry's mutex and never move, so readers take no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "core/expr.hpp"
#include "core/stable_vector.hpp"

namespace dalo {

inline constexpr uint32_t kTagMask = 0xC0000000u;
inline constexpr uint32_t kTagExprExpr = 0x80000000u;
inline constexpr uint32_t kTagSum = 0xC0000000u;
inline constexpr uint32_t kRecordMask = 0x3FFFFFFFu;
inline constexpr uint32_t kLargestRecord = 0x3FFFFFFEu;

inline constexpr bool is_exprexpr_word(uint32_t w) { return (w & kTagMask) == kTagExprExpr; }
inline constexpr bool is_sum_word(uint32_t w) {
    return w != kAttrPlain && (w & kTagMask) == kTagSum;
}

using Interval = std::pair<int64_t, int64_t>;

struct ExprExprRecord {
    std::unique_ptr<ExprImpl> body;
    uint8_t has_bounds = 0;
    int64_t lo = 0;
    int64_t hi = 0;
    std::vector<Interval> allowed;
    uint8_t exponent = 2;
    uint8_t objective_only = 0;
};

// (ExprExpr index, weight)
using SumItem = std::pair<uint32_t, int64_t>;

struct ConstraintSumRecord {
    std::vector<SumItem> items;
    std::unique_ptr<ExprImpl> penalty;  // free-form penalty; null when there is none
    uint8_t declared = 0;
    uint8_t shared = 0;
};

class ExprExprSet {
  public:
    // Takes the body; every other field starts at its creation value.
    uint32_t add(std::unique_ptr<ExprImpl> body);
    void set_bounds(uint64_t index, int64_t lo, int64_t hi);
    void set_allowed(uint64_t index, std::vector<Interval> intervals);
    void set_penalty_shape(uint64_t index, uint8_t exponent);
    // Copies bounds, allowed set, exponent and shape flag (not the body); nothing when
    // either index is out of range.
    void copy_meta(uint64_t from, uint64_t to);

    // Unlocked readers.
    const ExprImpl& body(uint64_t index) const;
    const ExprExprRecord& meta(uint64_t index) const;
    const ExprExprRecord& bounds(uint64_t index) const;
    const ExprExprRecord& allowed(uint64_t index) const;
    uint64_t size() const { return records_.size(); }

  private:
    StableVector<ExprExprRecord> records_;
    std::mutex mutex_;
};

class ConstraintSumSet {
  public:
    // Installs the copy hook of expressions: a copy of a value holding a sum marks it shared.
    ConstraintSumSet();

    uint32_t add(std::vector<SumItem> items, std::unique_ptr<ExprImpl> penalty, bool declared);
    // Appends items and adds the penalty (when given) unless the record is shared; returns
    // whether it did.
    bool append(uint64_t index, const std::vector<SumItem>& items, const ExprImpl* penalty);
    void mark_shared(uint64_t index);

    // Unlocked readers.
    bool declared(uint64_t index) const { return record(index).declared != 0; }
    const ExprImpl* penalty(uint64_t index) const { return record(index).penalty.get(); }
    const std::vector<SumItem>& items(uint64_t index) const { return record(index).items; }
    const ConstraintSumRecord& record(uint64_t index) const;
    uint64_t size() const { return records_.size(); }

  private:
    StableVector<ConstraintSumRecord> records_;
    std::mutex mutex_;
};

ExprExprSet& exprexpr_set();
ConstraintSumSet& constraint_sum_set();

// Whether a word is a constraint sum whose record is declared.
bool carries_declared(uint32_t w);

}  // namespace dalo

// Read-only views of constraint-carrying values: item numbering, each item's record, and
// violation distances of a body value (judging a Sol against them lives beside the Sol).
#pragma once

#include <cstdint>
#include <vector>

#include "constraints/registry.hpp"
#include "core/expr.hpp"

namespace dalo {

// Distance of v below lo or above hi; the comparisons keep it exact where the difference
// itself would wrap.
inline int64_t distance_below(int64_t lo, int64_t v) { return v < lo ? wrap_sub(lo, v) : 0; }
inline int64_t distance_above(int64_t hi, int64_t v) { return v > hi ? wrap_sub(v, hi) : 0; }

// Smallest distance from v to one of the intervals: 0 inside one, low - v below it,
// v - high above it. The list is not empty.
int64_t allowed_distance(const std::vector<Interval>& allowed, int64_t v);

// Violation distance of a body value against a record: the allowed intervals when it has
// them, else the distance outside [lo, hi]; 0 for a record without bounds.
int64_t violation_distance(const ExprExprRecord& r, int64_t v);

bool expr_is_declared(const ExprImpl& e);
bool expr_has_body(const ExprImpl& e);
uint64_t cons_item_count(const ExprImpl& e);

struct ItemInfo {
    bool bounded = false;  // false: a free-form item (weight 1, bounds [0, 0])
    ExprImpl body;         // attribute cleared
    int64_t weight = 1;
    int64_t lo = 0;
    int64_t hi = 0;
};
ItemInfo cons_item_info(const ExprImpl& e, uint64_t i);

// Item i of a value: a constraint record with its weight, or a free-form expression. An
// ExprExpr ignores the item number; a sum's penalty slot exists only when it has one. Fatal
// with `bad_index` otherwise.
struct ConsItem {
    const ExprExprRecord* record = nullptr;
    int64_t weight = 1;
    const ExprImpl* free_form = nullptr;
};
ConsItem cons_item_at(const ExprImpl& e, uint64_t i, const char* bad_index);

// Exponent and objective-only flag of item i when it is a record with bounds.
bool cons_item_shape(const ExprImpl& e, uint64_t i, uint32_t& k, uint32_t& objective_only);

// The allowed intervals of item i's record; null when there is no such record.
const std::vector<Interval>* cons_item_allowed(const ExprImpl& e, uint64_t i);

}  // namespace dalo

// Read-only views of constraint-carrying values: item numbering, each item's record, and
// judging a Sol against them (violation distances and counts).
#pragma once

#include <cstdint>
#include <vector>

#include "constraints/registry.hpp"
#include "core/expr.hpp"
#include "model/model.hpp"

namespace dalo {

struct SolImpl;

// Smallest distance from v to one of the intervals: 0 inside one, low - v below it,
// v - high above it. The list is not empty.
int64_t allowed_distance(const std::vector<Interval>& allowed, int64_t v);

// Violation distance of a body value against a record: the allowed intervals when it has
// them, else the distance outside [lo, hi]; 0 for a record without bounds.
int64_t violation_distance(const ExprExprRecord& r, int64_t v);

// The same for a compiled record. Inverted bounds (lower > upper, stored as given) are the
// one case where its range form, the sum of the shortfall below lower and the excess above
// upper, differs from the record's.
int64_t native_violation(const NativeCons& c, int64_t v);

// weight x d (exponent 1) or weight x d^2, wrapping.
int64_t weighted_violation(int64_t weight, int64_t d, uint8_t exponent);

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

// Exponent and objective-only flag of item i when it is a record with bounds.
bool cons_item_shape(const ExprImpl& e, uint64_t i, uint32_t& k, uint32_t& objective_only);

// The allowed intervals of item i's record; null when there is no such record.
const std::vector<Interval>* cons_item_allowed(const ExprImpl& e, uint64_t i);

struct ItemEval {
    int64_t value = 0;
    int64_t lo = 0;
    int64_t hi = 0;
    int64_t violation = 0;
    int64_t weight = 1;
};
ItemEval cons_item_eval(const ExprImpl& e, uint64_t i, const SolImpl& sol);

uint64_t cons_violation_count(const ExprImpl& e, const SolImpl& sol);

}  // namespace dalo

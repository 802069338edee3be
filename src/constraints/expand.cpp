#include "constraints/expand.hpp"

#include "constraints/arith.hpp"
#include "constraints/constructors.hpp"
#include "constraints/registry.hpp"
#include "constraints/varint.hpp"
#include "core/fatal.hpp"

namespace dalo {

namespace {

// Refuses a record that has no penalty form under weight w, before anything is built.
void check_record(uint32_t record, int64_t weight) {
    const ExprExprRecord& r = exprexpr_set().bounds(record);
    if (!r.has_bounds) fatal("expand_cons: constraint carries no bounds");
    if (exprexpr_set().meta(record).objective_only) {
        fatal(
            "expand_cons: dalo::abs/relu terms have no classic penalty form (|f|^k is not a "
            "polynomial)");
    }
    // An equality is a square, meaningful under either weight sign; a range's slack form
    // is not.
    if (r.lo != r.hi && weight < 0) {
        fatal(
            "expand_cons: a one-sided/range constraint carries a NEGATIVE weight; its "
            "slack-based penalty form is only valid for positive weights. Keep the expression "
            "in cons() form and use a bundled solver.");
    }
    between_slack_coeffs(r.lo, r.hi);
}

// The penalty of one checked record with weight w: (f - lo)^2 when lo = hi, else
// between(f, lo, hi), scaled by w when w != 1.
ExprImpl expand_record(uint32_t record, int64_t weight) {
    const ExprExprRecord& r = exprexpr_set().bounds(record);
    ExprImpl p = between(exprexpr_set().body(record), r.lo, r.hi);
    if (weight != 1) expr_imul_int(p, weight);
    return p;
}

}  // namespace

ExprImpl expand_cons(const ExprImpl& e) {
    if (is_varint_word(e.attr)) return ExprImpl(e);
    if (!is_sum_word(e.attr) || !constraint_sum_set().declared(e.attr & kRecordMask))
        return ExprImpl(e, kAttrPlain);
    const uint32_t sum = e.attr & kRecordMask;
    const std::vector<SumItem>& items = constraint_sum_set().items(sum);
    // Every item is checked first: a refusal at item j must not leave the slack variables
    // of items 0 .. j-1 behind.
    for (const SumItem& item : items) check_record(item.first, item.second);
    ExprImpl result(e, kAttrPlain);
    for (const SumItem& item : items)
        expr_iadd_expr(result, expand_record(item.first, item.second));
    if (const ExprImpl* p = constraint_sum_set().penalty(sum)) expr_iadd_expr(result, *p);
    return result;
}

}  // namespace dalo

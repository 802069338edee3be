#include "constraints/carry.hpp"

#include <memory>
#include <vector>

#include "constraints/registry.hpp"

namespace dalo {

uint32_t carry_records(uint32_t word, const ExprTransform& f, bool force_declared) {
    const bool single = is_exprexpr_word(word);
    if (!single && !is_sum_word(word)) return word;
    const ConstraintSumRecord* old =
        single ? nullptr : &constraint_sum_set().record(word & kRecordMask);
    std::vector<SumItem> items =
        single ? std::vector<SumItem>{{word & kRecordMask, 1}} : old->items;
    // Every transform runs before the first record is made, so one that refuses a later body
    // leaves no record behind.
    ExprExprSet& set = exprexpr_set();
    std::vector<std::unique_ptr<ExprImpl>> bodies;
    bodies.reserve(items.size());
    for (const SumItem& it : items)
        bodies.push_back(std::make_unique<ExprImpl>(f(set.body(it.first))));
    std::unique_ptr<ExprImpl> penalty;
    if (old != nullptr && old->penalty != nullptr)
        penalty = std::make_unique<ExprImpl>(f(*old->penalty));
    for (size_t k = 0; k < items.size(); ++k) {
        const uint32_t fresh = set.add(std::move(bodies[k]));
        set.copy_meta(items[k].first, fresh);
        items[k].first = fresh;
    }
    if (single) return kTagExprExpr | items[0].first;
    const bool declared = force_declared || old->declared;
    return kTagSum | constraint_sum_set().add(std::move(items), std::move(penalty), declared);
}

}  // namespace dalo

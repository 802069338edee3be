#include "constraints/carry.hpp"

#include <memory>
#include <vector>

#include "constraints/registry.hpp"

namespace dalo {

namespace {

uint32_t rebuild_exprexpr(uint32_t index, const ExprTransform& f) {
    ExprExprSet& set = exprexpr_set();
    const uint32_t fresh = set.add(std::make_unique<ExprImpl>(f(set.body(index))));
    set.copy_meta(index, fresh);
    return fresh;
}

}  // namespace

uint32_t carry_records(uint32_t word, const ExprTransform& f, bool force_declared) {
    if (is_exprexpr_word(word)) return kTagExprExpr | rebuild_exprexpr(word & kRecordMask, f);
    if (!is_sum_word(word)) return word;
    const ConstraintSumRecord& old = constraint_sum_set().record(word & kRecordMask);
    std::vector<SumItem> items;
    items.reserve(old.items.size());
    for (const SumItem& it : old.items) items.push_back({rebuild_exprexpr(it.first, f), it.second});
    std::unique_ptr<ExprImpl> penalty;
    if (old.penalty != nullptr) penalty = std::make_unique<ExprImpl>(f(*old.penalty));
    const bool declared = force_declared || old.declared;
    return kTagSum | constraint_sum_set().add(std::move(items), std::move(penalty), declared);
}

}  // namespace dalo

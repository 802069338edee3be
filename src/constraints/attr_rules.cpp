#include "constraints/attr_rules.hpp"

#include <string>

#include "constraints/arith.hpp"
#include "constraints/registry.hpp"
#include "core/fatal.hpp"

namespace dalo {

namespace {

constexpr const char* kMixed =
    "dalo::cons: cannot mix declared constraints with classic penalty-style constraints in one "
    "expression; wrap the classic part with dalo::cons(...) as well";

uint32_t sum_index(uint32_t w) { return w & kRecordMask; }

// The free-form penalty of a constraint sum, or null.
const ExprImpl* free_penalty(uint32_t w) {
    return is_sum_word(w) ? constraint_sum_set().penalty(sum_index(w)) : nullptr;
}

// A copy of x whose attribute word is plain.
std::unique_ptr<ExprImpl> plain_copy(const ExprImpl& x) {
    return std::make_unique<ExprImpl>(x, kAttrPlain);
}

// a + b for optional penalties (either may be null).
std::unique_ptr<ExprImpl> add_penalties(const ExprImpl* a, const ExprImpl* b) {
    if (a == nullptr && b == nullptr) return nullptr;
    if (a == nullptr) return plain_copy(*b);
    std::unique_ptr<ExprImpl> r = plain_copy(*a);
    if (b != nullptr) {
        expr_iadd_expr(*r, ExprImpl(*b, kAttrPlain));
    }
    return r;
}

// For the classic combine: a carrier's free-form penalty, or a plain operand's polynomial.
const ExprImpl* classic_part(const ExprImpl& x) {
    return attr_carries(x.attr) ? free_penalty(x.attr) : &x;
}

uint32_t new_sum(std::vector<SumItem> items, std::unique_ptr<ExprImpl> penalty, bool declared) {
    return kTagSum | constraint_sum_set().add(std::move(items), std::move(penalty), declared);
}

uint32_t combine(const ExprImpl& a, const ExprImpl& b, bool in_place) {
    const bool da = carries_declared(a.attr), db = carries_declared(b.attr);
    if (!attr_carries(a.attr) && !attr_carries(b.attr)) return kAttrPlain;
    ConstraintSumSet& sums = constraint_sum_set();
    if (da || db) {
        if ((da && attr_carries(b.attr) && !db) || (db && attr_carries(a.attr) && !da))
            fatal(kMixed);
        if (in_place && is_sum_word(a.attr) &&
            sums.append(sum_index(a.attr), collect_items(b.attr, 1), free_penalty(b.attr))) {
            return a.attr;
        }
        std::vector<SumItem> items = collect_items(a.attr, 1);
        std::vector<SumItem> more = collect_items(b.attr, 1);
        items.insert(items.end(), more.begin(), more.end());
        return new_sum(std::move(items), add_penalties(free_penalty(a.attr), free_penalty(b.attr)),
                       true);
    }
    if (in_place && is_sum_word(a.attr) &&
        sums.append(sum_index(a.attr), collect_items(b.attr, 1), classic_part(b))) {
        return a.attr;
    }
    std::vector<SumItem> items = collect_items(a.attr, 1);
    std::vector<SumItem> more = collect_items(b.attr, 1);
    items.insert(items.end(), more.begin(), more.end());
    return new_sum(std::move(items), add_penalties(classic_part(a), classic_part(b)), false);
}

[[noreturn]] void refuse(std::string_view what) { refuse_declared_op(what); }

}  // namespace

void refuse_declared_op(std::string_view what) {
    std::string msg = "dalo::cons: '";
    msg.append(what);
    msg.append("' is not allowed on an expression with declared constraints");
    fatal(msg);
}

void refuse_if_declared(const ExprImpl& e, std::string_view what) {
    if (carries_declared(e.attr)) refuse_declared_op(what);
}

std::vector<SumItem> collect_items(uint32_t w, int64_t m) {
    if (is_exprexpr_word(w)) return {{w & kRecordMask, m}};
    if (!is_sum_word(w)) return {};
    std::vector<SumItem> items = constraint_sum_set().items(sum_index(w));
    for (SumItem& it : items) it.second = wrap_mul(it.second, m);
    return items;
}

bool all_objective_only(uint32_t w) {
    if (!carries_declared(w)) return false;
    const ConstraintSumRecord& r = constraint_sum_set().record(sum_index(w));
    if (r.penalty != nullptr || r.items.empty()) return false;
    for (const SumItem& it : r.items) {
        if (exprexpr_set().meta(it.first).objective_only != 1) return false;
    }
    return true;
}

void mark_word_shared(uint32_t w) {
    if (is_sum_word(w) && !constraint_sum_set().record(sum_index(w)).shared) {
        constraint_sum_set().mark_shared(sum_index(w));
    }
}

uint32_t attr_other(const ExprImpl& e, AttrOp op, int64_t constant) {
    if (!attr_carries(e.attr)) return kAttrPlain;
    const bool declared = carries_declared(e.attr);
    switch (op) {
        case AttrOp::AddSubConst:
        case AttrOp::SubOrMoved:
            return declared ? e.attr : kAttrPlain;
        case AttrOp::CloneAddConst:
            return declared || constant == 0 ? e.attr : kAttrPlain;
        case AttrOp::MulVar:
            if (declared) refuse("*= var");
            return kAttrPlain;
        case AttrOp::MulTerm:
            if (declared) refuse("*= term");
            return kAttrPlain;
        case AttrOp::MulExprLeft:
            if (declared) refuse("*= expr");
            return kAttrPlain;
        case AttrOp::MulExprRight:
        case AttrOp::MulExpr:
            if (declared) refuse("* expr");
            return kAttrPlain;
        case AttrOp::Sqr:
            if (declared) refuse("sqr");
            return kAttrPlain;
        case AttrOp::Div:
            if (declared) refuse("/=");
            return kAttrPlain;
    }
    return kAttrPlain;
}

uint32_t attr_add_term(const ExprImpl& e, const TermImpl& t) {
    if (!attr_carries(e.attr)) return kAttrPlain;
    if (carries_declared(e.attr)) return e.attr;
    ExprImpl addend;
    addend.append_copy(t);
    return combine(e, addend, true);
}

uint32_t attr_add_expr(ExprImpl& a, const ExprImpl& b, bool in_place) {
    // Adding constraints to an empty plain value adopts them.
    if (in_place && a.attr == kAttrPlain && a.constant == 0 && a.term_count() == 0 &&
        attr_carries(b.attr)) {
        mark_word_shared(b.attr);
        return b.attr;
    }
    return combine(a, b, in_place);
}

uint32_t attr_sub_expr(ExprImpl& a, const ExprImpl& b, bool in_place) {
    if (carries_declared(b.attr)) {
        // The mix is refused before the negated sum is registered.
        if (attr_carries(a.attr) && !carries_declared(a.attr)) fatal(kMixed);
        const uint32_t negated_b = attr_scale(b, -1);
        if (!attr_carries(a.attr)) return negated_b;  // the combined record would hold the same
        ExprImpl scaled;
        scaled.attr = negated_b;
        return combine(a, scaled, in_place);
    }
    if (carries_declared(a.attr)) return a.attr;
    return kAttrPlain;
}

uint32_t attr_scale(const ExprImpl& e, int64_t m) {
    const uint32_t w = e.attr;
    if (!attr_carries(w)) return kAttrPlain;
    const bool declared = carries_declared(w);
    if (m == 0) {
        if (!declared || all_objective_only(w)) return kAttrPlain;
        fatal("dalo::cons: multiplying declared constraints by 0 would silently drop them");
    }
    if (m < 0 && !declared) return kAttrPlain;
    std::unique_ptr<ExprImpl> penalty;
    if (const ExprImpl* p = free_penalty(w)) {
        penalty = plain_copy(*p);
        expr_imul_int(*penalty, m);
    }
    return new_sum(collect_items(w, m), std::move(penalty), declared);
}

}  // namespace dalo

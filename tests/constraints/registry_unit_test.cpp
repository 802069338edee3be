// Constraint registries: bad indices, shared records, and appending a record's own penalty.
#include "support/suite.hpp"

#include "constraints/registry.hpp"
#include "core/expr_ops.hpp"
#include "core/text.hpp"

namespace {

using namespace dalo;

std::string text(const ExprImpl& e) {
    std::string s;
    append_expr(s, e);
    return s;
}

TEST(ExprExprSet, CopyMetaIgnoresBadIndices) {
    ExprExprSet& set = exprexpr_set();
    uint32_t a = set.add(std::make_unique<ExprImpl>(1));
    uint32_t b = set.add(std::make_unique<ExprImpl>(2));
    set.set_allowed(a, {{3, 4}, {-2, 0}});
    set.set_penalty_shape(a, 1);
    set.copy_meta(a, b);
    set.copy_meta(a, 99999);
    const ExprExprRecord& m = set.meta(b);
    EXPECT_EQ((std::vector<int64_t>{m.has_bounds, m.lo, m.hi, m.exponent, m.objective_only}),
              (std::vector<int64_t>{1, -2, 4, 1, 1}));
    EXPECT_EQ(m.allowed.size(), 2u);
    EXPECT_EQ(text(set.body(b)), "2");
}

TEST(RegistryDeathTest, BadIndexMessages) {
    ExprExprSet& set = exprexpr_set();
    ConstraintSumSet& sums = constraint_sum_set();
    EXPECT_FATAL(set.set_bounds(777, 0, 1), "ExprExprSet: set_bounds bad index");
    EXPECT_FATAL(set.set_allowed(777, {{0, 1}}), "ExprExprSet: set_allowed bad index");
    EXPECT_FATAL(set.set_penalty_shape(777, 1), "ExprExprSet: set_penalty_shape bad index");
    EXPECT_FATAL(set.meta(777), "ExprExprSet: meta bad index");
    EXPECT_FATAL(set.bounds(777), "ExprExprSet: get_bounds bad index");
    EXPECT_FATAL(set.allowed(777), "ExprExprSet: get_allowed bad index");
    EXPECT_FATAL(sums.items(777), "ConstraintSumSet: bad index");
    EXPECT_FATAL(sums.append(777, {}, nullptr), "ConstraintSumSet: bad index");
    // This text carries the prefix inside itself; it appears once.
    EXPECT_EXIT(
        set.body(777), testing::KilledBySignal(SIGABRT),
        "^dalo: ExprExpr body access on a value that is no longer an ExprExpr \\(e\\.g\\. after "
        "ee \\+= 1, ee\\.sqr\\(\\)\\)\\.\n$");
}

}  // namespace

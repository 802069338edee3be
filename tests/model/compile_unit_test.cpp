// Compilation inputs that the public interface cannot produce: stale record indices.
#include "support/suite.hpp"

#include "model/model.hpp"

namespace {

using namespace dalo;

TEST(CompileDeathTest, StaleRecordIndices) {
    ExprImpl e;
    e.attr = 0xC0000000u | 0x3FFFFFF0u;
    EXPECT_FATAL(model_create(e), "ConstraintSumSet: bad index");
    ConstraintListImpl list;
    list.items.push_back({0x3FFFFFF0u, 1});
    EXPECT_FATAL(compile_model(ExprImpl(), 1.0, &list), "ExprExprSet: get_bounds bad index");
}

}  // namespace

// In-place simplification that gives the input's pages back as it reads them: the same terms
// as the copying form (the public interface takes this path only above 256 MiB).
#include "support/suite.hpp"

#include "support/model_util.hpp"

#include "core/var_registry.hpp"
#include "transform/simplify.hpp"

namespace {

using namespace dalo;

TEST(SimplifyInPlace, GivingPagesBackKeepsEveryTerm) {
    const Var first = static_cast<Var>(var_registry().count());
    dalo_test::new_vars("g", 3000);
    std::mt19937_64 rng(8);
    ExprImpl e(5);
    for (int k = 0; k < 300000; ++k) {
        const Var a = first + static_cast<Var>(rng() % 3000),
                  b = first + static_cast<Var>(rng() % 3000);
        e.append_small(static_cast<coeff_t>(rng() % 7) - 3, a, k % 5 == 0 ? kNoVar : b);
    }
    const ExprImpl want = expr_simplify_as_binary(e);
    ASSERT_TRUE(simplify_plain_quadratic_inplace(e, 0));
    ASSERT_EQ(e.term_count(), want.term_count());
    EXPECT_EQ(e.constant, want.constant);
    for (uint64_t i = 0; i < want.term_count(); ++i) {
        ASSERT_EQ(e.term(i).coeff, want.term(i).coeff) << i;
        ASSERT_EQ(pack_slots(e.term(i).vars), pack_slots(want.term(i).vars)) << i;
    }
}

}  // namespace

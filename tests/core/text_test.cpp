// Text buffers: one per thread and kind of text.
#include "support/suite.hpp"

using dalo_test::ExprPtr;
using dalo_test::TermPtr;

namespace {

TEST(Text, ThreadsDoNotOverwriteEachOther) {
    dalo_var x = dalo_new_var("x");
    constexpr int kThreads = 4;
    std::atomic<int> bad{0};
    dalo_test::on_threads(kThreads, [x, &bad](int k) {
        ExprPtr e(dalo_expr_create_add_var_int(x, k + 1));
        std::string want = std::to_string(k + 1) + " +x";
        const char* mine = dalo_expr_str(e.get());
        for (int rep = 0; rep < 2000; ++rep) {
            if (want != mine || want != dalo_expr_str(e.get())) bad++;
        }
    });
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace

// Text buffers: one per thread and kind of text.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "dalo.h"
#include "support/expr_util.hpp"

using dalo_test::ExprPtr;
using dalo_test::TermPtr;

namespace {

TEST(Text, KindsOfTextHaveTheirOwnBuffers) {
    uint64_t n = 3;
    dalo_var q = dalo_new_var_array("q", &n, 1);
    ExprPtr e(dalo_expr_create_add_var_int(q, 4));
    TermPtr t(dalo_term_create_var(-2, q + 1));
    const char* es = dalo_expr_str(e.get());
    const char* ts = dalo_term_str(t.get());
    const char* vs = dalo_var_str(q + 2);
    const char* an = dalo_auto_var_name();
    EXPECT_STREQ(es, "4 +q[0]");
    EXPECT_STREQ(ts, "-2*q[1]");
    EXPECT_STREQ(vs, "q[2]");
    EXPECT_EQ(an[0], '{');
    // The next text of the same kind reuses the buffer.
    ExprPtr f(dalo_expr_create_int(-7));
    EXPECT_EQ(dalo_expr_str(f.get()), es);
    EXPECT_STREQ(es, "-7");
}

TEST(Text, ThreadsDoNotOverwriteEachOther) {
    dalo_var x = dalo_new_var("x");
    constexpr int kThreads = 4;
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k) {
        threads.emplace_back([k, x, &bad] {
            ExprPtr e(dalo_expr_create_add_var_int(x, k + 1));
            std::string want = std::to_string(k + 1) + " +x";
            const char* mine = dalo_expr_str(e.get());
            for (int rep = 0; rep < 2000; ++rep) {
                if (want != mine || want != dalo_expr_str(e.get())) bad++;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace

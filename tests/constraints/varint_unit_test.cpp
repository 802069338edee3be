// VarIntSet: the reader's two refusals, and records that are complete once reachable.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "array/array.hpp"
#include "constraints/varint.hpp"
#include "core/var_registry.hpp"
#include "support/fatal.hpp"

namespace {

using namespace dalo;

TEST(VarIntSetDeathTest, ReaderRefusesWordsBeyondTheRegistry) {
    EXPECT_FATAL(varint_set().get(0x7FFFFFFFu),
                 "VarInt accessor called on a value that is no longer a VarInt (e.g. after vi += "
                 "1, vi.sqr()).");
    EXPECT_FATAL(varint_set().get(0x80000000u),
                 "VarInt accessor called on a value that is not a VarInt (plain Expr or "
                 "ExprExpr).");
    EXPECT_FATAL(varint_set().get(0xFFFFFFFFu),
                 "VarInt accessor called on a value that is not a VarInt (plain Expr or "
                 "ExprExpr).");
}

TEST(VarIntSet, RecordsNameTheirGroupAndPosition) {
    const ExprImpl one = varint_create("vg_one", 0, 10);
    const VarIntRecord& r = varint_set().get(one.attr);
    const VarArrayBlock& g = var_registry().group(r.group);
    EXPECT_EQ(g.name, "~vg_one");
    EXPECT_TRUE(g.shape.empty());
    EXPECT_EQ(r.position, 0u);
    EXPECT_EQ(r.coeffs, (std::vector<coeff_t>{1, 2, 4, 3}));

    const int32_t c[1] = {5};
    const Var v[1] = {0};
    const ExprImpl given = varint_create_with_vars(nullptr, 0, 5, c, v, 1);
    EXPECT_EQ(var_registry().group(varint_set().get(given.attr).group).name, "~");

    const uint64_t shape[2] = {2, 3};
    const ExprArray a = varint_array_uniform("vg_arr", shape, 2, -1, 1);
    const uint64_t group = varint_set().get(a.data[0].attr).group;
    EXPECT_EQ(var_registry().group(group).name, "~vg_arr");
    EXPECT_EQ(var_registry().group(group).shape, (std::vector<uint64_t>{2, 3}));
    for (uint64_t i = 0; i < 6; ++i) {
        const VarIntRecord& e = varint_set().get(a.data[i].attr);
        EXPECT_EQ(e.group, group);
        EXPECT_EQ(e.position, i);
        EXPECT_EQ(e.lo, -1);
        EXPECT_EQ(e.hi, 1);
    }
}

// Readers running next to appends see every reachable record complete.
TEST(VarIntSet, UnlockedReadersSeeCompleteRecords) {
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const coeff_t c[2] = {1, 1};
        for (Var k = 0; k < 3000; ++k) {
            const Var v[2] = {k, k + 1};
            varint_set().add(k, k, 0, 2, c, v, 2);
        }
        done = true;
    });
    while (!done.load()) {
        const uint64_t n = varint_set().size();
        if (n == 0) continue;
        const VarIntRecord& r = varint_set().get(static_cast<uint32_t>(n - 1));
        ASSERT_EQ(r.coeffs.size(), r.vars.size());
    }
    writer.join();
}

}  // namespace

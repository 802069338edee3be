// VarIntSet: the reader's two refusals, and records that are complete once reachable.
#include "support/suite.hpp"

#include "array/array.hpp"
#include "constraints/varint.hpp"
#include "core/var_registry.hpp"

namespace {

using namespace dalo;

TEST(VarIntSetDeathTest, ReaderRefusesWordsBeyondTheRegistry) {
    EXPECT_FATAL(varint_set().get(0x7FFFFFFFu),
                 "VarInt accessor called on a value that is no longer a VarInt (e.g. after vi += "
                 "1, vi.sqr()).");
    for (uint32_t word : {0x80000000u, 0xFFFFFFFFu})
        EXPECT_FATAL(varint_set().get(word),
                     "VarInt accessor called on a value that is not a VarInt (plain Expr or "
                     "ExprExpr).");
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

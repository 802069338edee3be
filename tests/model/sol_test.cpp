// Sol: bit and integer values over a Model, the cached energy, copies and the text form.
#include "support/suite.hpp"

#include "support/model_util.hpp"

using namespace dalo_test;
using namespace dalo_test::build;

namespace {

int64_t energy(const SolPtr& s) { return dalo_sol_energy(s.get(), nullptr); }

const char* kStolen = "Sol: bit words were handed over by steal_bits";

class SolTest : public testing::Test {
  protected:
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z");
    dalo_var n = dalo_new_int_var("n", -2, 3);
    // x*y + x - 4 + 2*n: -3 at x = 1, y = 0, n = 0.
    ExprPtr objective() {
        ExprPtr e = raw(1, {x, y}, -4);
        add(e, 1, {x});
        add(e, 2, {n});
        return binary(e);
    }
};
class SolDeathTest : public SolTest {};

TEST_F(SolTest, FreshSolAndTextForm) {
    SolPtr s = sol_of(model_of(ExprPtr(dalo_expr_create_int(5))));
    int64_t out = 0;
    EXPECT_EQ(dalo_sol_energy(s.get(), &out), 5);
    EXPECT_EQ(out, 5);
    EXPECT_EQ(dalo_sol_energy_int(s.get(), nullptr), 5);
    EXPECT_EQ(dalo_sol_energy_valid(s.get()), 1);
    EXPECT_EQ(dalo_sol_tts(s.get()), -1.0);
    EXPECT_EQ(dalo_sol_scale(s.get()), 1.0);
    EXPECT_EQ(dalo_sol_int_count(s.get()), 0u);
    EXPECT_EQ(dalo_sol_has(s.get(), x), 0);
    EXPECT_STREQ(dalo_sol_str(s.get()), "5:{}");
    SolPtr t = sol_of(model_of(objective()));
    dalo_sol_set(t.get(), x, 1);
    dalo_sol_set_int(t.get(), n, 0);
    dalo_sol_compute_energy(t.get(), nullptr);
    EXPECT_STREQ(dalo_sol_str(t.get()), "-3:{{x,1},{y,0}}");
    // Array elements by their element names, in model-index order.
    dalo_var a = new_vars("a", 8)[0];
    ExprPtr e = raw(5, {a + 7});
    add(e, -2, {a + 3});
    SolPtr u = sol_of(model_of(binary(e)));
    dalo_sol_set(u.get(), a + 7, 1);
    dalo_sol_compute_energy(u.get(), nullptr);
    EXPECT_STREQ(dalo_sol_str(u.get()), "5:{{a[3],0},{a[7],1}}");
}

TEST_F(SolTest, ReadsAndWritesLiterals) {
    SolPtr s = sol_of(model_of(objective()));  // the Sol keeps the Model alive
    EXPECT_EQ(dalo_sol_var_count(s.get()), 2u);
    EXPECT_EQ(dalo_sol_has(s.get(), y | DALO_NEG_BIT), 1);
    EXPECT_EQ(dalo_sol_model_var(s.get(), 1), y);
    EXPECT_EQ(dalo_sol_get(s.get(), x), 0u);
    EXPECT_EQ(dalo_sol_get(s.get(), x | DALO_NEG_BIT), 1u);
    // A negated literal stores the complement and reads back what was set.
    dalo_sol_set(s.get(), x | DALO_NEG_BIT, 0);
    EXPECT_EQ(dalo_sol_get(s.get(), x), 1u);
    dalo_sol_set(s.get(), x | DALO_NEG_BIT, 1);
    EXPECT_EQ(dalo_sol_get(s.get(), x), 0u);
    // Any non-zero value sets a plain identifier; 1 - 2 != 0 sets the bit under a negation.
    dalo_sol_set(s.get(), y, 2);
    EXPECT_EQ(dalo_sol_get(s.get(), y), 1u);
    dalo_sol_set(s.get(), y, 0);
    dalo_sol_set(s.get(), y | DALO_NEG_BIT, 2);
    EXPECT_EQ(dalo_sol_get(s.get(), y), 1u);
    // Flip toggles the same bit whichever literal names it.
    dalo_sol_flip(s.get(), y | DALO_NEG_BIT);
    EXPECT_EQ(dalo_sol_get(s.get(), y), 0u);
    dalo_sol_flip(s.get(), x);
    EXPECT_EQ(dalo_sol_bits(s.get())[0], 1u);
}

TEST_F(SolTest, EnergyCacheFollowsEveryWrite) {
    SolPtr s = sol_of(model_of(objective()));
    EXPECT_EQ(energy(s), -4 + 2 * -2);  // n starts at its lower bound
    EXPECT_EQ(dalo_sol_int_vals(s.get())[0], -2);
    using Write = void (*)(dalo_sol*, dalo_var, dalo_var);
    const Write writes[] = {
        [](dalo_sol* p, dalo_var v, dalo_var) { dalo_sol_flip(p, v); },
        [](dalo_sol* p, dalo_var v, dalo_var) { dalo_sol_set(p, v, 0); },
        [](dalo_sol* p, dalo_var, dalo_var i) { dalo_sol_set_int(p, i, -2); },
    };
    for (Write write : writes) {  // even a write of the same value invalidates
        dalo_sol_compute_energy(s.get(), nullptr);
        write(s.get(), x, n);
        EXPECT_EQ(dalo_sol_energy_valid(s.get()), 0);
        int64_t out = 0;
        EXPECT_EQ(dalo_sol_compute_energy(s.get(), &out), out);
        EXPECT_EQ(dalo_sol_energy_valid(s.get()), 1);
    }
    dalo_sol_set(s.get(), x, 1);
    dalo_sol_set_int(s.get(), n, 3);  // the upper bound itself
    int64_t out = 0;
    EXPECT_EQ(dalo_sol_get_int(s.get(), n, &out), 3);
    EXPECT_EQ(out, 3);
    EXPECT_EQ(dalo_sol_compute_energy(s.get(), nullptr), -3 + 6);
    // A valid energy is returned as stored, whatever the values say.
    dalo_sol_set_energy(s.get(), 99);
    EXPECT_EQ(dalo_sol_compute_energy(s.get(), nullptr), 99);
    dalo_sol_set_tts(s.get(), 0.25);
    EXPECT_EQ(dalo_sol_tts(s.get()), 0.25);
}

TEST_F(SolDeathTest, IntegerMessages) {
    SolPtr s = sol_of(model_of(objective()));
    EXPECT_FATAL(dalo_sol_set_int(s.get(), n, 4),
                 "Sol::set: value 4 outside the integer variable's bounds [-2,3]");
    EXPECT_FATAL(dalo_sol_set_int(s.get(), n, -3),
                 "Sol::set: value -3 outside the integer variable's bounds [-2,3]");
    for (dalo_var v : {x, n | DALO_NEG_BIT})
        EXPECT_FATAL(dalo_sol_set_int(s.get(), v, 0), "Sol::set: not an integer variable index");
    EXPECT_FATAL(dalo_sol_get_int(s.get(), x, nullptr), "Sol::get: not an integer variable index");
    dalo_var other = dalo_new_int_var("m", 0, 1);
    EXPECT_FATAL(dalo_sol_get_int(s.get(), other, nullptr),
                 "Sol::get: integer variable not in model");
}

// Death tests re-run the binary, so identifiers in messages are pinned by a reset.
TEST(SolIndexDeathTest, BinaryMessages) {
    dalo_var_reset();
    const dalo_var x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z");
    ASSERT_EQ(z, 2u);
    ExprPtr e = raw(1, {x});
    add(e, 1, {y});
    SolPtr s = sol_of(model_of(binary(e)));
    EXPECT_FATAL(dalo_sol_get(s.get(), z | DALO_NEG_BIT),
                 "Sol::get: variable not in model (index=2)");
    EXPECT_FATAL(dalo_sol_set(s.get(), z, 1), "Sol::set: variable not in model (index=2)");
    EXPECT_FATAL(dalo_sol_flip(s.get(), z), "Sol::flip: variable not in model (index=2)");
    // Beyond the index map: a variable created after compilation.
    EXPECT_FATAL(dalo_sol_get(s.get(), dalo_new_var("later")),
                 "Sol::get: variable not in model (index=3)");
    // An integer identifier is no binary variable: bit 30 stays in the printed index.
    EXPECT_FATAL(dalo_sol_set(s.get(), DALO_INT_BIT | 1, 1),
                 "Sol::set: variable not in model (index=1073741825)");
    // A Model that lacks a variable of the source cannot take its values.
    SolPtr narrow = sol_of(model_of(binary(raw(1, {x}))));
    EXPECT_FATAL(dalo_sol_set_from_sol(narrow.get(), s.get()),
                 "Sol::set: variable not in model (index=1)");
}

TEST_F(SolDeathTest, InvalidEnergyMessages) {
    SolPtr s = sol_of(model_of(objective()));
    dalo_sol_flip(s.get(), x);
    EXPECT_FATAL(dalo_sol_energy(s.get(), nullptr),
                 "Sol::energy(): energy is invalid (variable changed after last computation). Call "
                 "comp_energy() first.");
    EXPECT_FATAL(dalo_sol_energy_int(s.get(), nullptr),
                 "Sol::energy_int(): energy is invalid. Call comp_energy() first.");
    dalo_sol_compute_energy(s.get(), nullptr);
    EXPECT_EQ(energy(s), -3 + 2 * -2);
}

TEST_F(SolTest, ClonesAreIndependentAndCopiesGoByIdentity) {
    SolPtr s = sol_of(model_of(objective()));  // x, y, n
    dalo_sol_set(s.get(), x, 1);
    dalo_sol_set_tts(s.get(), 1.5);
    SolPtr c(dalo_sol_clone(s.get()));
    EXPECT_EQ(dalo_sol_energy_valid(c.get()), 0);
    EXPECT_EQ(dalo_sol_tts(c.get()), 1.5);
    dalo_sol_set(c.get(), x, 0);
    dalo_sol_set_int(c.get(), n, 1);
    EXPECT_EQ(dalo_sol_compute_energy(c.get(), nullptr), -4 + 2);
    EXPECT_EQ(dalo_sol_compute_energy(s.get(), nullptr), -3 - 4);
    s.reset();  // the clone holds its own share of the Model
    EXPECT_EQ(dalo_sol_var_count(c.get()), 2u);

    ExprPtr wide = objective();
    add(wide, 1, {z});
    add(wide, 1, {x, z});
    SolPtr dst = sol_of(model_of(binary(wide)));  // x, y, z, n
    dalo_sol_set(c.get(), y, 1);
    dalo_sol_set_int(c.get(), n, 3);
    dalo_sol_set(dst.get(), x, 1);
    dalo_sol_set(dst.get(), z, 1);
    dalo_sol_compute_energy(dst.get(), nullptr);
    dalo_sol_set_from_sol(dst.get(), c.get());
    EXPECT_EQ(dalo_sol_energy_valid(dst.get()), 0);
    EXPECT_EQ(dalo_sol_get(dst.get(), x), 0u);
    EXPECT_EQ(dalo_sol_get(dst.get(), y), 1u);
    EXPECT_EQ(dalo_sol_get(dst.get(), z), 1u);  // untouched
    EXPECT_EQ(dalo_sol_get_int(dst.get(), n, nullptr), 3);
    EXPECT_EQ(dalo_sol_compute_energy(dst.get(), nullptr), -4 + 6 + 1);
}

TEST_F(SolTest, StealBitsHandsOverAMallocBlock) {
    const std::vector<dalo_var> b = new_vars("b", 130);
    ExprPtr e = ExprPtr(dalo_expr_create_int(0));
    for (dalo_var v : b) add(e, 1, {v});
    SolPtr s = sol_of(model_of(binary(e)));
    for (dalo_var v : {b[0], b[64], b[129]}) dalo_sol_set(s.get(), v, 1);
    const int64_t before = dalo_sol_compute_energy(s.get(), nullptr);

    dalo_u64_vector out{static_cast<uint64_t*>(std::malloc(16)), nullptr, nullptr};
    out.end = out.capacity = out.begin + 2;  // released by the call
    dalo_sol_steal_bits(s.get(), &out);
    ASSERT_EQ(std::vector<uint64_t>(out.begin, out.end), (std::vector<uint64_t>{1, 1, 2}));
    EXPECT_EQ(dalo_sol_bits(s.get()), nullptr);
    // Energy reads, clones and destroy stay valid.
    EXPECT_EQ(energy(s), before);
    SolPtr c(dalo_sol_clone(s.get()));
    EXPECT_EQ(energy(c), before);
    // A second steal hands over nothing and releases the block the record held.
    dalo_sol_steal_bits(s.get(), &out);
    EXPECT_EQ(out.begin, nullptr);
    std::free(out.begin);
}

TEST_F(SolDeathTest, BitAccessAfterSteal) {
    SolPtr s = sol_of(model_of(objective()));
    dalo_u64_vector out{nullptr, nullptr, nullptr};
    dalo_sol_steal_bits(s.get(), &out);
    std::free(out.begin);
    EXPECT_FATAL(dalo_sol_get(s.get(), x), kStolen);
    EXPECT_FATAL(dalo_sol_set(s.get(), x, 1), kStolen);
    EXPECT_FATAL(dalo_sol_flip(s.get(), y), kStolen);
    dalo_sol_set_int(s.get(), n, 0);
    EXPECT_FATAL(dalo_sol_compute_energy(s.get(), nullptr), kStolen);
}

TEST_F(SolTest, CreateFromExpression) {
    // Unsimplified: x*x, a negated literal, a repeated term; declared constraints drop.
    ExprPtr e = raw(3, {x, x}, 1);
    add(e, 2, {y | DALO_NEG_BIT});
    add(e, 4, {x, y});
    add(e, 4, {y, x});
    add(e, between(var(z), 1, 1));
    SolPtr s(dalo_sol_create_from_expr(e.get()));
    const dalo_model* m = dalo_sol_model(s.get());
    EXPECT_EQ(dalo_model_native_cons_count(m), 0u);
    EXPECT_EQ(dalo_model_var_count(m), 2u);
    EXPECT_EQ(energy(s), 1 + 2);
    dalo_sol_set(s.get(), x, 1);
    dalo_sol_set(s.get(), y, 1);
    EXPECT_EQ(dalo_sol_compute_energy(s.get(), nullptr), 1 + 3 + 8);
    EXPECT_EQ(dalo_sol_tts(s.get()), -1.0);
}

}  // namespace

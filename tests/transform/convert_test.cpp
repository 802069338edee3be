// Spin/binary conversion and reduction: exact texts, refusals, and brute-force checks of
// the values over every assignment.
#include "support/suite.hpp"

#include "support/brute.hpp"
#include "support/model_util.hpp"

using namespace dalo_test;
using namespace dalo_test::build;

namespace {

constexpr dalo_var N = DALO_NEG_BIT;
constexpr dalo_var kIndex = 0x3FFFFFFFu;

std::string to_spin(const ExprPtr& e) { return str_take(dalo_expr_binary_to_spin(e.get())); }
std::string to_binary(const ExprPtr& e) { return str_take(dalo_expr_spin_to_binary(e.get())); }
std::string name_of(dalo_var v) { return dalo_var_str(v); }

// Assignment number `bits` of the variables `vars` written into x.
void assign(std::vector<int64_t>& x, const std::vector<dalo_var>& vars, uint64_t bits) {
    for (size_t i = 0; i < vars.size(); ++i) x.at(vars[i]) = (bits >> i) & 1;
}

class ConvertTest : public testing::Test {
  protected:
    // Created in this order, so a < b < c < x < y < z by index.
    dalo_var a = dalo_new_var("a"), b = dalo_new_var("b"), c = dalo_new_var("c"),
             x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z");
};

// ---- binary to spin ----

TEST_F(ConvertTest, BinaryToSpinScalesByTwoToTheDegree) {
    EXPECT_EQ(to_spin(raw(1, {x})), "1 +x");
    ExprPtr e = raw(1, {x, y}, 1);
    EXPECT_EQ(to_spin(e), "5 +x +y +x*y");
    EXPECT_EQ(to_spin(ExprPtr(dalo_expr_create_int(7))), "7");
    EXPECT_EQ(to_spin(ExprPtr(dalo_expr_create())), "0");
    // D = 3: x is scaled by 4, x*y*z by 1.
    ExprPtr f = raw(1, {x, y, z});
    add(f, 1, {x});
    EXPECT_EQ(to_spin(f), "5 +5*x +y +z +x*y +x*z +y*z +x*y*z");
    // 1 - x = (1 - s) / 2; a repeated variable counts twice towards D.
    EXPECT_EQ(to_spin(raw(1, {x | N})), "1 -x");
    EXPECT_EQ(to_spin(raw(3, {x | N, y})), "3 -3*x +3*y -3*x*y");
    EXPECT_EQ(to_spin(raw(1, {x, x})), "2 +2*x");
    EXPECT_EQ(str(e.get()), "1 +x*y");  // the argument is left alone
}

TEST_F(ConvertTest, SpinToBinaryKeepsTheValue) {
    EXPECT_EQ(to_binary(raw(1, {x})), "-1 +2*x");
    ExprPtr e = raw(1, {x, y});
    EXPECT_EQ(to_binary(e), "1 -2*x -2*y +4*x*y");
    EXPECT_EQ(to_binary(raw(1, {x | N})), "1 -2*x");
    EXPECT_EQ(to_binary(raw(5, {x, x})), "5");
    EXPECT_EQ(to_binary(ExprPtr(dalo_expr_create_int(-7))), "-7");
    EXPECT_EQ(str(e.get()), "x*y");
}

// ---- large inputs, under several thread budgets ----

// The minimum over the auxiliary variables, taken per group: each group belongs to one
// reduced term and no term mixes two groups, so the minimum separates.
int64_t grouped_minimum(const dalo_expr* r, std::vector<int64_t>& xv, uint64_t first_aux,
                        const std::vector<uint64_t>& group_of,
                        const std::vector<std::vector<dalo_var>>& bits_of) {
    int64_t base = dalo_expr_constant(r, nullptr);
    const std::vector<Term> terms = terms_of(r);
    std::vector<std::vector<const Term*>> by_group(bits_of.size());
    for (const Term& t : terms) {
        int64_t g = -1;
        for (dalo_var id : t.vars) {
            if ((id & kIndex) < first_aux) continue;
            const auto h = static_cast<int64_t>(group_of.at((id & kIndex) - first_aux));
            EXPECT_TRUE(g == -1 || g == h) << "two groups meet in one term";
            g = h;
        }
        if (g < 0) base += term_value(t, xv, Meaning::Binary);
        if (g >= 0) by_group[static_cast<uint64_t>(g)].push_back(&t);
    }
    for (uint64_t g = 0; g < bits_of.size(); ++g) {
        int64_t best = std::numeric_limits<int64_t>::max();
        for (uint64_t w = 0; w < (uint64_t{1} << bits_of[g].size()); ++w) {
            assign(xv, bits_of[g], w);
            int64_t s = 0;
            for (const Term* t : by_group[g]) s += term_value(*t, xv, Meaning::Binary);
            best = std::min(best, s);
        }
        assign(xv, bits_of[g], 0);
        base += best;
    }
    return base;
}

TEST(ReduceParallelTest, LargeReductionKeepsEveryMinimum) {
    constexpr uint64_t kVars = 300, kTerms = 15000;
    dalo_var v = dalo_new_var_array("v", &kVars, 1);
    std::mt19937 rng(99);
    ExprPtr e(dalo_expr_create_int(3));
    for (uint64_t k = 0; k < kTerms; ++k) {
        const uint32_t d = 3 + static_cast<uint32_t>(rng() % 3);
        std::vector<dalo_var> t;
        for (uint32_t i = 0; i < d; ++i)  // a quarter of the literals negated
            t.push_back((v + static_cast<dalo_var>(rng() % kVars)) | (rng() % 4 == 0 ? N : 0));
        int64_t coeff = static_cast<int64_t>(rng() % 7) + 1;
        if (rng() % 2 == 0) coeff = -coeff;
        add(e, coeff, t);
        if (k % 5 == 0) add(e, coeff, {v + static_cast<dalo_var>(rng() % kVars)});
    }
    const uint64_t first_aux = dalo_var_count();
    ExprPtr r(dalo_expr_reduce(e.get()));
    const uint64_t aux_count = dalo_var_count() - first_aux;
    // Group the auxiliary variables by name: "{rN}" or the elements "{rN}[j]".
    std::vector<uint64_t> group_of;
    std::vector<std::vector<dalo_var>> bits_of;
    std::map<std::string, uint64_t> groups;
    for (uint64_t i = 0; i < aux_count; ++i) {
        std::string name = name_of(static_cast<dalo_var>(first_aux + i));
        name = name.substr(0, name.find('['));
        ASSERT_EQ(name.rfind("{r", 0), 0u) << name;
        const uint64_t g = groups.emplace(name, groups.size()).first->second;
        if (g == bits_of.size()) bits_of.emplace_back();
        bits_of[g].push_back(static_cast<dalo_var>(first_aux + i));
        group_of.push_back(g);
    }
    EXPECT_LE(dalo_expr_max_degree(r.get()), 2u);
    std::vector<int64_t> xv(dalo_var_count(), 0);
    for (int sample = 0; sample < 20; ++sample) {
        for (uint64_t i = 0; i < kVars; ++i) xv[v + i] = static_cast<int64_t>(rng() % 2);
        ASSERT_EQ(grouped_minimum(r.get(), xv, first_aux, group_of, bits_of),
                  evaluate(e.get(), xv, Meaning::Binary));
    }
}

TEST(ReduceParallelTest, ConcurrentReductionsGetDistinctNames) {
    constexpr uint64_t kVars = 6;
    const dalo_var v = dalo_new_var_array("v", &kVars, 1);
    // Each thread's expression: 40 cubic terms of both signs, degree 5 for some (two bits).
    ExprPtr e(dalo_expr_create());
    for (int k = 0; k < 40; ++k) {
        if (k % 4 == 0) add(e, k + 1, {v, v + 1, v + 2, v + 3, v + 4});
        if (k % 4 != 0) add(e, k % 2 == 0 ? k : -k, {v + k % 3, v + 3, v + 5});
    }
    ExprPtr s(dalo_expr_simplify_as_binary(e.get()));
    const uint64_t before = dalo_var_count();
    std::vector<ExprPtr> out(4);
    on_threads(4, [&](int k) { out[k].reset(dalo_expr_reduce(e.get())); });
    // Per call: one name per reduced term, all distinct across the calls.
    std::set<std::string> names;
    for (uint64_t i = before; i < dalo_var_count(); ++i) {
        std::string name = name_of(static_cast<dalo_var>(i));
        names.insert(name.substr(0, name.find('[')));
    }
    EXPECT_EQ(names.size(), 4 * dalo_expr_term_count(s.get()));
    for (const ExprPtr& r : out) EXPECT_LE(dalo_expr_max_degree(r.get()), 2u);
}

// ---- refusals ----

using ConvertDeathTest = ConvertTest;

TEST_F(ConvertDeathTest, DeclaredConstraintsAreRefused) {
    auto refused = [](const std::string& what) {
        return "dalo::cons: '" + what +
               "' is not allowed on an expression with declared constraints";
    };
    const std::string reduce = refused(
        "reduce (declared constraints would be dropped; reduce the objective before adding "
        "dalo::cons parts)");
    // a*b*c with a declared constraint 0 <= a + b <= 1 attached.
    ExprPtr e = raw(1, {a, b, c}), body = raw(1, {a});
    add(body, 1, {b});
    add(e, between(body, 0, 1));
    EXPECT_FATAL(dalo_expr_binary_to_spin(e.get()), refused("binary_to_spin"));
    EXPECT_FATAL(dalo_expr_spin_to_binary(e.get()), refused("spin_to_binary"));
    EXPECT_FATAL(dalo_expr_reduce(e.get()), reduce);
    // The constraint check comes before the integer-atom check.
    add(e, 1, {dalo_new_int_var("k", 0, 3)});
    EXPECT_FATAL(dalo_expr_reduce(e.get()), reduce);
}

TEST_F(ConvertDeathTest, IntegerAtomsAreRefused) {
    dalo_var k = dalo_new_int_var("k", 0, 3);
    // The atom sits in a later term, after one that a conversion would otherwise rewrite.
    ExprPtr e = raw(-1, {a, b, c});
    add(e, 2, {a, k});
    EXPECT_FATAL(dalo_expr_binary_to_spin(e.get()),
                 "binary_to_spin: native integer variables (int_var) are not supported (spin "
                 "semantics do not apply to integer atoms).");
    EXPECT_FATAL(dalo_expr_spin_to_binary(e.get()),
                 "spin_to_binary: native integer variables (int_var) are not supported (spin "
                 "semantics do not apply to integer atoms).");
}

}  // namespace

// Compilation of a large expression: every array equals the one built here from the input
// terms (ctest reruns the suite with 1, 2 and 7 threads), term order within each degree included.
#include "support/suite.hpp"

#include "support/model_util.hpp"

using namespace dalo_test;

namespace {

TEST(ModelParallel, ArraysEqualTheReference) {
    std::mt19937_64 rng(99);
    uint64_t nv = 20000;
    dalo_var first = dalo_new_var_array("v", &nv, 1);
    dalo_var k0 = dalo_new_int_var("k", -2, 5);
    dalo_var k1 = dalo_new_int_var("m", 0, 3);
    ExprPtr e(dalo_expr_create_int(11));
    for (int t = 0; t < 60000; ++t) {
        std::vector<dalo_var> vs;
        int d = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < d; ++i) vs.push_back(first + static_cast<dalo_var>(rng() % 15000));
        if (rng() % 50 == 0) vs.push_back(rng() & 1 ? k0 : k1);
        if (d >= 3 && rng() % 4 == 0) vs[0] |= DALO_NEG_BIT;
        dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 21) - 10, vs.data(),
                                vs.size());
    }
    ExprPtr s(dalo_expr_simplify_as_binary(e.get()));
    std::vector<Term> ts = terms_of(s.get());
    ASSERT_GT(ts.size(), 40000u);

    // Reference: dense indices in ascending identifier order, atoms likewise.
    auto is_atom = [](dalo_var v) { return (v & DALO_INT_BIT) && !(v & DALO_NEG_BIT); };
    std::set<dalo_var> used, atoms;
    for (const Term& t : ts)
        for (dalo_var v : t.vars) (is_atom(v) ? atoms : used).insert(v & ~DALO_NEG_BIT);
    std::map<dalo_var, uint32_t> index, atom;
    for (dalo_var v : used) index.emplace(v, static_cast<uint32_t>(index.size()));
    for (dalo_var v : atoms) atom.emplace(v, static_cast<uint32_t>(atom.size()));
    std::vector<std::vector<uint32_t>> words(6);
    std::vector<std::vector<int32_t>> coeffs(6);
    for (const Term& t : ts) {
        size_t d = t.vars.size();
        for (dalo_var v : t.vars)
            words[d - 1].push_back(is_atom(v) ? (atom.at(v) | 0x40000000u)
                                              : (index.at(v & ~DALO_NEG_BIT) | (v & DALO_NEG_BIT)));
        coeffs[d - 1].push_back(static_cast<int32_t>(t.coeff));
    }

    dalo_model* m = dalo_model_create(s.get());
    ASSERT_EQ(dalo_model_var_count(m), used.size());
    uint32_t i = 0;
    for (dalo_var v : used) ASSERT_EQ(dalo_model_var(m, i++), v);
    ASSERT_EQ(dalo_model_int_var_count(m), atoms.size());
    for (uint32_t d = 1; d <= dalo_model_max_degree(m); ++d) {
        uint64_t n = dalo_model_term_count(m, d);
        ASSERT_EQ(n, coeffs[d - 1].size()) << "degree " << d;
        const uint32_t* vars = dalo_model_term_vars(m, d);
        const int32_t* cs = dalo_model_coeff_array(m, d);
        EXPECT_EQ(std::vector<uint32_t>(vars, vars + d * n), words[d - 1]) << "degree " << d;
        EXPECT_EQ(std::vector<int32_t>(cs, cs + n), coeffs[d - 1]) << "degree " << d;
    }
    EXPECT_EQ(dalo_model_constant(m, nullptr), dalo_expr_constant(s.get(), nullptr));
    EXPECT_EQ(dalo_model_has_negated_literals(m), 1);

    // Handing the expression over gives the same Model: with tails, which stay until the end,
    // and with degree-2 terms only, whose pages go back as they are read.
    ModelPtr taken(dalo_model_create_take(dalo_expr_clone(s.get())));
    EXPECT_EQ(arrays_of(taken.get()), arrays_of(m));
    ExprPtr pairs(dalo_expr_create());
    for (const Term& t : ts) {
        if (t.vars.size() == 2) build::add(pairs, t.coeff, t.vars);
    }
    ModelPtr kept(dalo_model_create(pairs.get()));
    ModelPtr given(dalo_model_create_take(pairs.release()));
    EXPECT_EQ(arrays_of(given.get()), arrays_of(kept.get()));
    EXPECT_GT(dalo_model_term_count(given.get(), 2), 10000u);
    dalo_model_destroy(m);
}

}  // namespace

// Substitution, evaluation under a map, binarization and reachable bounds. Substitution is
// checked term by term against the same sums built with the public product; large inputs,
// where the work runs on several threads, against references computed here.
#include "support/suite.hpp"

#include "support/model_util.hpp"

using namespace dalo_test;
using namespace dalo_test::build;

namespace {

constexpr dalo_var N = DALO_NEG_BIT;

using Repl = std::map<dalo_var, const dalo_expr*>;

ExprPtr replace(const dalo_expr* e, const Repl& m) {
    std::vector<dalo_var> vars;
    std::vector<const dalo_expr*> repl;
    for (const auto& [v, r] : m) vars.push_back(v), repl.push_back(r);
    return ExprPtr(dalo_expr_replace(e, vars.data(), repl.data(), vars.size()));
}

// constant + sum of coeff * factor_1 * ... * factor_d, each factor the replacement or 1 * v,
// multiplied with the public product; the products' terms are then appended one by one, as
// adding each product would.
ExprPtr product_reference(int64_t constant, const std::vector<Term>& ts, const Repl& m) {
    uint64_t sum = static_cast<uint64_t>(constant);
    std::vector<Term> all;
    for (const Term& t : ts) {
        ExprPtr p(dalo_expr_create_int(t.coeff));
        for (dalo_var v : t.vars) {
            auto it = m.find(v);
            ExprPtr f(it != m.end() ? dalo_expr_clone(it->second) : dalo_expr_create_var(v));
            p.reset(dalo_expr_mul_expr(p.get(), f.get()));
        }
        sum += static_cast<uint64_t>(dalo_expr_constant(p.get(), nullptr));
        for (const Term& pt : terms_of(p.get())) all.push_back(pt);
    }
    return from_terms(static_cast<int64_t>(sum), all);
}

class SubstituteTest : public testing::Test {
  protected:
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z"),
             w = dalo_new_var("w");
    std::mt19937_64 rng{2024};
};

TEST_F(SubstituteTest, LaterPairsWin) {
    ExprPtr e = raw(2, {x, y});
    ExprPtr ey(dalo_expr_create_var(w)), ez(dalo_expr_create_var(z));
    const dalo_var vars[3] = {x, y, x};
    const dalo_expr* repl[3] = {ey.get(), ey.get(), ez.get()};
    EXPECT_EQ(str_take(dalo_expr_replace(e.get(), vars, repl, 3)), "2*z*w");
}

TEST_F(SubstituteTest, ConstantsAndCoefficientWidths) {
    ExprPtr e = raw(2, {x, y}, 1);
    ExprPtr three(dalo_expr_create_int(3)), minus(dalo_expr_create_int(-1));
    EXPECT_EQ(str(replace(e.get(), {{x, three.get()}}).get()), "1 +6*y");
    ExprPtr all = replace(e.get(), {{x, three.get()}, {y, minus.get()}});
    EXPECT_EQ(str(all.get()), "-5");
    EXPECT_EQ(dalo_expr_term_count(all.get()), 0u);
    // Constants multiply in 64 bits; a term's coefficient keeps the low 32 bits.
    ExprPtr big(dalo_expr_create_int(int64_t{1} << 40)),
        half(dalo_expr_create_int(int64_t{1} << 31));
    EXPECT_EQ(dalo_expr_constant(replace(raw(3, {x}).get(), {{x, big.get()}}).get(), nullptr),
              3 * (int64_t{1} << 40));
    EXPECT_EQ(str(replace(raw(1, {x, y}).get(), {{x, half.get()}}).get()), "-2147483648*y");
    // A product whose coefficient wraps to 0 is a term like any other, except when it would
    // stand first: there it is invisible and the next term takes the inline place.
    ExprPtr wraps(dalo_expr_create_int(int64_t{1} << 32));
    const std::pair<std::vector<Term>, std::vector<Term>> cases[] = {
        {{{1, {x, y}}, {3, {z}}}, {{3, {z}}}},
        {{{1, {x, y}}, {2, {x, w}}, {3, {z}}, {4, {x, w}}}, {{3, {z}}, {0, {w}}}},
        {{{3, {z}}, {1, {x, y}}}, {{3, {z}}, {0, {y}}}},
        {{{1, {x, y}}}, {}},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(terms_of(replace(from_terms(0, in).get(), {{x, wraps.get()}}).get()), out);
}

TEST_F(SubstituteTest, BinarizesIntegerAtoms) {
    dalo_var n = dalo_new_int_var("n", 3, 13);
    const uint64_t before = dalo_var_count();
    ExprPtr e(dalo_expr_create_var(n));
    ExprPtr b(dalo_expr_binarize(e.get()));
    ASSERT_EQ(dalo_var_count(), before + 4);
    const dalo_var bit0 = static_cast<dalo_var>(before);
    for (dalo_var j = 0; j < 4; ++j)
        EXPECT_EQ(std::string(dalo_var_str(bit0 + j)), "n#" + std::to_string(j));
    EXPECT_EQ(str(b.get()), "3 +n#0 +2*n#1 +4*n#2 +3*n#3");
    EXPECT_EQ(dalo_expr_attr(b.get()), DALO_ATTR_PLAIN);
    // Again: the same bits.
    ExprPtr e2 = raw(2, {x, n});
    ExprPtr b2(dalo_expr_binarize(e2.get()));
    EXPECT_EQ(dalo_var_count(), before + 4);
    EXPECT_EQ(str(b2.get()), "6*x +2*x*n#0 +4*x*n#1 +8*x*n#2 +6*x*n#3");
    // Array elements are named after the element.
    uint64_t shape = 3;
    dalo_var m = dalo_new_int_var_array("m", &shape, 1, -1, 1);
    ExprPtr em = raw(1, {m + 2}, 4);
    EXPECT_EQ(str_take(dalo_expr_binarize(em.get())), "3 +m[2]#0 +m[2]#1");
}

TEST_F(SubstituteTest, BinarizedValuesMatchTheIntegers) {
    dalo_var n = dalo_new_int_var("n", -2, 4), k = dalo_new_int_var("k", 5, 8);
    ExprPtr e = raw(3, {n, x, k}, 1);
    add(e, -2, {n, n});
    add(e, 7, {y | N});
    add(e, 0, {x});
    ExprPtr b(dalo_expr_binarize(e.get()));
    EXPECT_EQ(dalo_expr_has_int_atom(b.get()), 0);
    EXPECT_EQ(dalo_expr_term_count(b.get()), 12u + 15u + 1u + 1u);
    // Bits of n (1, 2, 3) then of k (1, 2), created as the atoms are met.
    const dalo_var first = static_cast<dalo_var>(dalo_var_count() - 5);
    EXPECT_EQ(std::string(dalo_var_str(first)), "n#0");
    EXPECT_EQ(std::string(dalo_var_str(first + 3)), "k#0");
    for (uint32_t bits = 0; bits < 32; ++bits)
        for (int64_t xv = 0; xv < 2; ++xv) {
            Values a = {{x, xv}, {y, 1 - xv}};
            for (dalo_var j = 0; j < 5; ++j) a[first + j] = (bits >> j) & 1;
            const int64_t nv = -2 + a[first] + 2 * a[first + 1] + 3 * a[first + 2];
            const int64_t kv = 5 + a[first + 3] + 2 * a[first + 4];
            ASSERT_EQ(eval_map(b.get(), a),
                      eval_map(e.get(), {{x, xv}, {y, 1 - xv}, {n, nv}, {k, kv}}));
        }
}

TEST_F(SubstituteTest, ConcurrentBinarizationSharesTheBits) {
    dalo_var n = dalo_new_int_var("shared", 0, 100);
    const uint64_t before = dalo_var_count();
    constexpr int kThreads = 6;
    std::vector<std::string> texts(kThreads);
    on_threads(kThreads, [&](int t) { texts[t] = str_take(dalo_expr_binarize(var(n).get())); });
    EXPECT_EQ(dalo_var_count(), before + 7);
    for (const std::string& s : texts) EXPECT_EQ(s, texts[0]);
}

using SubstituteDeathTest = SubstituteTest;

TEST_F(SubstituteDeathTest, EvaluationFailures) {
    ExprPtr e = raw(2, {x, y}, 3);
    // A value for ~y is not a value for y.
    EXPECT_FATAL(eval_map(e.get(), {{x, 1}, {y | N, 1}}), "eval: variable not found in mapping");
    ExprPtr c = between(ExprPtr(dalo_expr_create_add_var_var(x, y)), 0, 1);
    EXPECT_FATAL(eval_map(c.get(), {{x, 1}, {y, 0}}),
                 "dalo::cons: 'eval with a variable map (evaluate against a Sol instead)' is not "
                 "allowed on an expression with declared constraints");
}

TEST_F(SubstituteDeathTest, DeclaredReplacementsAreRefusedByTheProduct) {
    ExprPtr c = between(ExprPtr(dalo_expr_create_add_var_var(x, y)), 0, 1), e = raw(2, {x, z});
    // Nothing multiplies when the variable does not occur.
    EXPECT_EQ(str(replace(e.get(), {{w, c.get()}}).get()), "2*x*z");
}

TEST_F(SubstituteDeathTest, BinarizationFailures) {
    const std::string refused =
        "binarize: constraint expressions are not supported — call expand_cons() first, then "
        "binarize the plain penalty form.";
    dalo_var n = dalo_new_int_var("n", 0, 4);
    ExprPtr body = var(n);
    EXPECT_FATAL(dalo_expr_binarize(between(body, 0, 1).get()), refused);
    ExprPtr classic(dalo_exprexprelem_create(body.get(), body.get()));
    EXPECT_FATAL(dalo_expr_binarize(classic.get()), refused);
    for (auto [lo, hi] : {std::pair{int64_t{0}, (int64_t{1} << 32) - 1}, {INT64_MIN, INT64_MAX}})
        EXPECT_FATAL(dalo_expr_binarize(var(dalo_new_int_var("wide", lo, hi)).get()),
                     "binarize: encoding coefficient 2147483648 overflows coeff_t — use a wider "
                     "coefficient variant.");
}

TEST_F(SubstituteDeathTest, ResetForgetsTheEncodings) {
    // In a child process: the reset would invalidate the variables of the other tests.
    EXPECT_EXIT(
        {
            dalo_var n = dalo_new_int_var("n", 0, 3);
            ExprPtr e(dalo_expr_create_var(n));
            std::string first = str_take(dalo_expr_binarize(e.get()));
            dalo_var_reset();
            dalo_var pad = dalo_new_var("pad");
            dalo_var again = dalo_new_int_var("n", 0, 3);
            ExprPtr e2(dalo_expr_create_var(again));
            ExprPtr b(dalo_expr_binarize(e2.get()));
            const bool ok = first == "n#0 +2*n#1" && str(b.get()) == "n#0 +2*n#1" &&
                            dalo_var_count() == 3 && pad == 0 && dalo_expr_has(b.get(), 1) &&
                            dalo_expr_has(b.get(), 2);
            std::exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// ---- large inputs ----

class SubstituteParallel : public testing::Test {
  protected:
    std::mt19937_64 rng{777};
    std::vector<dalo_var> pool;

    void SetUp() override { pool = new_vars("p", 60); }

    dalo_var literal() {
        dalo_var v = pool[rng() % pool.size()];
        return rng() % 5 == 0 ? (v | N) : v;
    }

    // Terms with non-zero coefficients in [-coeff_max, coeff_max]; two in three of degree
    // `common` (when given), the others of degree 0 to max_degree.
    std::vector<Term> random_terms(size_t n, size_t max_degree, int64_t coeff_max,
                                   size_t common = 2) {
        std::vector<Term> out;
        for (size_t i = 0; i < n; ++i) {
            int64_t c = static_cast<int64_t>(rng() % static_cast<uint64_t>(coeff_max)) + 1;
            Term t{rng() % 2 ? c : -c, {}};
            size_t d = rng() % 3 != 0 ? std::min(common, max_degree) : rng() % (max_degree + 1);
            for (; d > 0; --d) t.vars.push_back(literal());
            out.push_back(t);
        }
        return out;
    }

    // Wrapping sum of the terms under a; a negated literal reads 1 - value.
    static int64_t reference_value(int64_t constant, const std::vector<Term>& ts, const Values& a) {
        uint64_t sum = static_cast<uint64_t>(constant);
        for (const Term& t : ts) {
            uint64_t p = static_cast<uint64_t>(t.coeff);
            for (dalo_var v : t.vars) {
                const uint64_t x = static_cast<uint64_t>(a.at(v & ~N));
                p *= (v & N) != 0 ? 1 - x : x;
            }
            sum += p;
        }
        return static_cast<int64_t>(sum);
    }
};

TEST_F(SubstituteParallel, ReplaceEqualsTheSerialProducts) {
    std::vector<Term> ts = random_terms(30'000, 3, 40);
    std::vector<ExprPtr> owned;
    Repl m;
    for (int k = 0; k < 12; ++k) {
        dalo_var v = k == 0 ? (pool[1] | N) : pool[static_cast<size_t>(k) * 4];
        // Linear and general replacements alternate.
        std::vector<Term> rt = random_terms(1 + rng() % 3, 2, 9);
        if (k % 2 == 0)
            for (Term& t : rt) t.vars.resize(1, literal());
        owned.push_back(from_terms(static_cast<int64_t>(rng() % 5) - 2, rt));
        m[v] = owned.back().get();
    }
    // The first output terms have coefficient 0: they may not stay in the inline place.
    ExprPtr zero(dalo_expr_create_add_var_var(pool[9], pool[10]));
    dalo_expr_imul_int(zero.get(), 0);
    m[pool[3]] = zero.get();
    ts[0] = Term{5, {pool[3], pool[5]}};
    ts[1] = Term{-2, {pool[6], pool[3]}};
    ExprPtr e = from_terms(-11, ts);

    ExprPtr r = replace(e.get(), m);
    ExprPtr ref = product_reference(-11, ts, m);
    EXPECT_EQ(dalo_expr_attr(r.get()), DALO_ATTR_PLAIN);
    EXPECT_EQ(dalo_expr_constant(r.get(), nullptr), dalo_expr_constant(ref.get(), nullptr));
    ASSERT_EQ(dalo_expr_term_count(r.get()), dalo_expr_term_count(ref.get()));
    EXPECT_TRUE(terms_of(r.get()) == terms_of(ref.get()));
}

TEST_F(SubstituteParallel, EvalEqualsTheSerialSum) {
    // Large coefficients and values: the partial sums wrap.
    std::vector<Term> ts = random_terms(50'000, 3, 2'000'000'000);
    ExprPtr e = from_terms(INT64_MAX - 5, ts);
    for (int round = 0; round < 3; ++round) {
        std::map<dalo_var, int64_t> a;
        for (dalo_var v : pool) a[v] = static_cast<int64_t>(rng() % 2'000'001) - 1'000'000;
        ASSERT_EQ(eval_map(e.get(), a), reference_value(INT64_MAX - 5, ts, a));
    }
}

using SubstituteParallelDeathTest = SubstituteParallel;

TEST_F(SubstituteParallelDeathTest, FailuresOnLargeInputsAreOneLine) {
    std::vector<Term> ts = random_terms(30'000, 2, 10);
    ExprPtr e = from_terms(0, ts);
    std::map<dalo_var, int64_t> a;
    for (size_t i = 1; i < pool.size(); ++i) a[pool[i]] = 1;  // pool[0] is missing
    EXPECT_FATAL(eval_map(e.get(), a), "eval: variable not found in mapping");
    ExprPtr c = between(var(pool[0]), 0, 1);
    EXPECT_FATAL(replace(e.get(), {{pool[2], c.get()}}),
                 "dalo::cons: '* expr' is not allowed on an expression with declared constraints");
}

}  // namespace

// The command line's MIP export: random problems, linearised, solved by CBC and GLPK through
// both file formats reach the exhaustive minimum; files without rows or columns read in both;
// the refusals; tours and assignments in their MIP forms reach the brute-force optimum.
#include "support/suite.hpp"

#include <fstream>
#include <numeric>

#include "assignment.hpp"
#include "mip.hpp"
#include "support/mip.hpp"

using namespace dalo_test;
using dalo_cli::write_mip;

namespace {

// Coefficients and factor positions; the energy of the assignment whose bit i is x_i.
using Terms = std::vector<std::pair<int64_t, std::vector<uint32_t>>>;
int64_t energy(const Terms& terms, uint32_t x) {
    int64_t e = 0;
    for (const auto& [c, f] : terms)
        e += std::all_of(f.begin(), f.end(), [&](uint32_t i) { return (x >> i) & 1; }) ? c : 0;
    return e;
}

// An offset, then 2 to 24 terms of degree 1 to max_degree over n variables, factors repeating.
Terms random_terms(std::mt19937_64& rng, uint32_t n, uint64_t max_degree) {
    Terms t = {{static_cast<int64_t>(rng() % 3) - 1, {}}};
    for (uint64_t k = 0, count = 2 + rng() % (3 * n); k < count; ++k) {
        auto& f =
            t.emplace_back(static_cast<int64_t>(rng() % 19) - 9, std::vector<uint32_t>{}).second;
        for (uint64_t d = 1 + rng() % max_degree; d > 0; --d)
            f.push_back(static_cast<uint32_t>(rng() % n));
    }
    return t;
}

// Written through both formats and solved by both solvers, the objective is the exhaustive
// minimum, and CBC's columns x1 .. xn evaluate to it.
template <class Model>
void expect_optimum(const Model& model, bool linearize, const Terms& terms, uint32_t n,
                    const std::string& tag) {
    int64_t best = INT64_MAX;
    for (uint32_t x = 0; x < (1u << n); ++x) best = std::min(best, energy(terms, x));
    for (const std::string format : {"lp", "mps"}) {
        SCOPED_TRACE(tag + " " + format);
        const std::string file = scratch(tag + "." + format);
        write_mip(model, file, format, linearize);
        MipAnswer cbc = solve_with_cbc(file, file + ".cbc"),
                  glpk = solve_with_glpk(file, format == "lp" ? "lp" : "freemps", file + ".glpk");
        for (const MipAnswer* a : {&cbc, &glpk}) {
            EXPECT_TRUE(a->optimal);
            EXPECT_EQ(std::llround(a->objective), best);
        }
        uint32_t x = 0;  // a column CBC leaves out is 0
        for (uint32_t i = 0; i < n; ++i)
            x |= std::llround(cbc.values["x" + std::to_string(i + 1)]) == 1 ? 1u << i : 0;
        EXPECT_EQ(energy(terms, x), best);
        for (const std::string& f : {file, file + ".cbc", file + ".glpk"}) std::remove(f.c_str());
    }
}

TEST(MipExport, LinearisedRandomProblemsReachTheExhaustiveMinimum) {
    ASSERT_TRUE(have_mip_solvers()) << "cbc and glpsol are installed by scripts/deps.sh";
    std::mt19937_64 rng(20260421);
    // Problems as the readers make them (diagonal entries, both orders of a pair); every
    // fourth is linear, a program without rows.
    for (int round = 0; round < 8; ++round) {
        dalo_cli::Problem p;
        p.n = 1 + static_cast<uint32_t>(rng() % 8);
        for (uint32_t i = 0; i < p.n; ++i) p.labels.push_back(i + 1);
        const Terms terms = random_terms(rng, p.n, round % 4 == 3 ? 1 : 2);
        p.offset = terms[0].first;
        for (const auto& [c, f] : terms)
            if (!f.empty()) p.entries.push_back({f[0], f.back(), c});
        expect_optimum(p, true, terms, p.n, "quad" + std::to_string(round));
    }
    // Expressions with terms up to degree 4 take the k-ary rows.
    for (int round = 0; round < 4; ++round) {
        const uint32_t n = 5 + static_cast<uint32_t>(rng() % 4);
        std::vector<dalo::Var> x;
        for (uint32_t i = 0; i < n; ++i) x.push_back(dalo::var("x" + std::to_string(i + 1)));
        const Terms terms = random_terms(rng, n, 4);
        dalo::Expr e(terms[0].first);
        for (const auto& [c, f] : terms) {
            dalo::Term t(c);
            for (uint32_t i : f) t *= x[i];
            if (!f.empty()) e += t;
        }
        expect_optimum(e.simplify_as_binary(), true, terms, n, "kary" + std::to_string(round));
    }
}

TEST(MipExport, ProgramsWithoutRowsOrColumnsReadInBothSolvers) {
    ASSERT_TRUE(have_mip_solvers());
    // Entries that cancel leave only the constant column.
    dalo_cli::Problem cancel;
    cancel.n = 2;
    cancel.offset = 5;
    cancel.entries = {{0, 1, 3}, {1, 0, -3}};
    expect_optimum(cancel, false, {{5, {}}}, 0, "cancel");
    // A linear program gets one row that always holds; columns are named by label, or by the
    // model's own names.
    dalo_cli::Problem lin;
    lin.n = 2;
    lin.labels = {1, 2};
    lin.entries = {{0, 0, -2}, {1, 1, 3}};
    const std::string file = scratch("lin.lp");
    for (const auto& [names, x0, x1] :
         {std::tuple<std::vector<std::string>, std::string, std::string>{{}, "x1", "x2"},
          {{"\"a\"", "[1,2]"}, "a", "_1_2_"}}) {
        lin.names = names;
        write_mip(lin, file, "lp", false);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(file).rdbuf()), {}),
                  "\\ Integer linear program written by dalo\nMinimize\n obj: -2 " + x0 + " +3 " +
                      x1 + "\nSubject To\n no_rows: 0 " + x0 + " >= 0\nBounds\nBinaries\n " + x0 +
                      " " + x1 + "\nEnd\n");
    }
    std::remove(file.c_str());
}

TEST(MipExport, RefusalsAreOneLine) {
    dalo_cli::Problem p;
    p.n = 2;
    p.entries = {{0, 1, -2}};
    const std::string file = scratch("refused.lp");
    const std::string quadratic =
        ": not an ILP: the objective has a degree-2 term; --linearize writes each product as a "
        "binary variable with linear rows";
    const std::tuple<std::string, const char*, bool, const char*, std::string> cases[] = {
        {file, "lp", false, "in.txt", "in.txt" + quadratic},
        {file, "lp", false, "", file + quadratic},
        {file, "cplex", true, "", file + ": 'cplex' is not a MIP format (lp or mps)"},
        {"/nonexistent-dir/a.mps", "mps", true, "",
         "cannot open '/nonexistent-dir/a.mps' for writing: No such file or directory"},
    };
    for (const auto& [path, format, linearize, source, text] : cases)
        EXPECT_EQ(
            thrown<dalo_cli::MipError>([&] { write_mip(p, path, format, linearize, source); }),
            text);
    EXPECT_FALSE(std::ifstream(file).good());
}

TEST(MipExport, ToursAndAssignmentsReachTheBruteForceOptimum) {
    ASSERT_TRUE(have_mip_solvers());
    std::mt19937_64 rng(20261208);
    for (int round = 0; round < 6; ++round) {
        // Symmetric tours of 3 to 6 cities, then assignments of 3 or 4 facilities.
        const bool tour = round < 4;
        const uint32_t n = tour ? 3 + round : 3 + round % 2;
        dalo_cli::Assignment a;
        a.n = n;
        a.distance.assign(n * n, 0);
        if (!tour) a.flow.assign(n * n, 0);
        for (uint32_t i = 0; i < n; ++i) {
            for (uint32_t j = 0; j < n; ++j) {
                if (j > i) a.distance[i * n + j] = a.distance[j * n + i] = 1 + rng() % 30;
                if (!tour && i != j) a.flow[i * n + j] = rng() % 6;
            }
        }
        std::vector<uint32_t> order(n);
        std::iota(order.begin(), order.end(), 0u);
        int64_t best = INT64_MAX;
        do best = std::min(best, dalo_cli::assignment_cost(a, order));
        while (std::next_permutation(order.begin(), order.end()));
        for (const std::string format : {"lp", "mps"}) {
            SCOPED_TRACE(std::to_string(round) + " " + format);
            const std::string file = scratch("perm." + format);
            write_mip(dalo_cli::mip_model(a).simplify_as_binary(), file, format, !tour);
            const MipAnswer cbc = solve_with_cbc(file, file + ".cbc"),
                            glpk = solve_with_glpk(file, format == "lp" ? "lp" : "freemps",
                                                   file + ".glpk");
            for (const MipAnswer* m : {&cbc, &glpk}) {
                EXPECT_TRUE(m->optimal);
                EXPECT_EQ(std::llround(m->objective), best);
            }
            for (const std::string& f : {file, file + ".cbc", file + ".glpk"})
                std::remove(f.c_str());
        }
    }
}

}  // namespace

// BriskSolver's moves that keep one-hot groups: the groups found in the native constraints,
// each move's energy change against the exact energy after random move sequences, and the
// annealing over them reaching the optimum of small assignment, tour and choice Models found
// by enumeration.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "brisk/onehot.hpp"

namespace {

using brisk::Groups;
using brisk::GroupState;
using brisk::Problem;

// A quadratic Model with one-hot constraints, built as the plug-in receives it.
struct Built {
    std::vector<uint32_t> lin_vars, quad_vars;
    std::vector<int32_t> lin_coeffs, quad_coeffs;
    std::vector<std::vector<uint32_t>> groups;
    std::unique_ptr<Problem> p;
    int64_t weight = 1000;
    int32_t coeff = 1;  // of every group member
    int64_t rhs = 1;

    void quad(uint32_t a, uint32_t b, int32_t c) {
        quad_vars.insert(quad_vars.end(), {a, b});
        quad_coeffs.push_back(c);
    }
    Problem& make(uint32_t n, int64_t constant = 3) {
        const uint64_t counts[2] = {lin_coeffs.size(), quad_coeffs.size()};
        const uint32_t* vars[2] = {lin_vars.data(), quad_vars.data()};
        const int32_t* coeffs[2] = {lin_coeffs.data(), quad_coeffs.data()};
        p = std::make_unique<Problem>(n,
                                      plugin_common::Objective(2, &constant, counts, vars, coeffs));
        for (const std::vector<uint32_t>& g : groups) {
            const std::vector<int32_t> cf(g.size(), coeff);
            const int64_t zero = 0;
            p->add_constraint(brisk::RawCons(plugin_common::ConstraintArgs(
                &weight, &rhs, &rhs, &zero, g.size(), g.data(), cf.data())));
        }
        p->compile();
        return *p;
    }
};

// Random linear terms and couplings between every pair of the first n variables.
void couple_all(Built& b, uint32_t n, uint64_t seed) {
    std::mt19937_64 gen(seed);
    for (uint32_t i = 0; i < n; ++i) {
        b.lin_vars.push_back(i);
        b.lin_coeffs.push_back(static_cast<int32_t>(gen() % 41) - 20);
        for (uint32_t j = i + 1; j < n; ++j) b.quad(i, j, static_cast<int32_t>(gen() % 41) - 20);
    }
}

// side x side cells (variable r * side + c) with row and column groups.
Built rows_and_columns(uint32_t side) {
    Built b;
    for (uint32_t r = 0; r < side; ++r) {
        b.groups.emplace_back();
        b.groups.emplace_back();
        for (uint32_t c = 0; c < side; ++c) {
            b.groups[2 * r].push_back(r * side + c);
            b.groups[2 * r + 1].push_back(c * side + r);
        }
    }
    return b;
}

// The cells, then `free` variables, all coupled at random.
Built assignment(uint32_t side, uint32_t free, uint64_t seed) {
    Built b = rows_and_columns(side);
    couple_all(b, side * side + free, seed);
    return b;
}

// The length of the tour through the cities in step order: city c at step s is c * side + s.
Built tour(uint32_t side, uint64_t seed) {
    Built b = rows_and_columns(side);
    std::mt19937_64 gen(seed);
    for (uint32_t c = 0; c < side; ++c) {
        for (uint32_t d = c + 1; d < side; ++d) {
            const int32_t w = 1 + static_cast<int32_t>(gen() % 30);
            for (uint32_t s = 0; s < side; ++s) {
                b.quad(c * side + s, d * side + (s + 1) % side, w);
                b.quad(d * side + s, c * side + (s + 1) % side, w);
            }
        }
    }
    return b;
}

// Disjoint groups of sizes 1 to `count`, then `free` variables, all coupled at random.
Built choices(uint32_t count, uint32_t free, uint64_t seed) {
    Built b;
    uint32_t n = 0;
    for (uint32_t k = 1; k <= count; ++k) {
        b.groups.emplace_back();
        for (uint32_t m = 0; m < k; ++m) b.groups.back().push_back(n++);
    }
    couple_all(b, n + free, seed);
    return b;
}

// Stops after a fixed number of questions, so that runs repeat exactly.
class CountingSink final : public brisk::Sink {
  public:
    explicit CountingSink(uint64_t asks) : left_(asks) {}
    bool stop() override { return left_ == 0 || --left_ == 0; }
    int64_t bar() override { return best - 1; }
    void offer(const uint8_t* x, int64_t e) override {
        best = e;
        state.assign(x, x + n);
    }
    bool lists() override { return false; }
    int64_t best = INT64_MAX;
    std::vector<uint8_t> state;
    uint32_t n = 0;

  private:
    uint64_t left_;
};

// The least energy over every state that satisfies the groups.
int64_t brute_minimum(const Problem& p) {
    int64_t best = INT64_MAX;
    std::vector<uint8_t> x(p.n());
    for (uint64_t k = 0; k < (uint64_t{1} << p.n()); ++k) {
        for (uint32_t i = 0; i < p.n(); ++i) x[i] = (k >> i) & 1;
        if (p.energy(x.data()) == p.objective(x.data())) best = std::min(best, p.energy(x.data()));
    }
    return best;
}

// Over permutations only, for the larger assignments.
int64_t permutation_minimum(const Problem& p, uint32_t side) {
    std::vector<uint32_t> perm(side);
    std::iota(perm.begin(), perm.end(), 0u);
    int64_t best = INT64_MAX;
    std::vector<uint8_t> x(p.n(), 0);
    do {
        std::fill(x.begin(), x.end(), 0);
        for (uint32_t r = 0; r < side; ++r) x[r * side + perm[r]] = 1;
        best = std::min(best, p.energy(x.data()));
    } while (std::next_permutation(perm.begin(), perm.end()));
    return best;
}

TEST(BriskOneHot, GroupsFoundOnlyWhereEveryConstraintIsOne) {
    Built a = assignment(4, 2, 1);
    const std::unique_ptr<Groups> g = brisk::find_groups(a.make(18));
    ASSERT_TRUE(g);
    EXPECT_EQ(g->side, 4u);
    EXPECT_EQ(g->count, 8u);
    EXPECT_EQ(g->free, (std::vector<uint32_t>{16, 17}));
    for (uint32_t r = 0; r < 4; ++r) {
        for (uint32_t c = 0; c < 4; ++c) EXPECT_EQ(g->cell[r * 4 + c], r * 4 + c);
    }
    Built d = choices(3, 1, 2);
    const std::unique_ptr<Groups> h = brisk::find_groups(d.make(7));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->side, 0u);
    EXPECT_EQ(h->off, (std::vector<uint64_t>{0, 1, 3, 6}));
    EXPECT_EQ(h->free, (std::vector<uint32_t>{6}));
    // Not groups: a coefficient 2, a right-hand side 2, a missing column, a third membership.
    Built two = choices(3, 0, 3);
    two.coeff = 2;
    EXPECT_FALSE(brisk::find_groups(two.make(6)));
    Built rhs = choices(3, 0, 3);
    rhs.rhs = 2;
    EXPECT_FALSE(brisk::find_groups(rhs.make(6)));
    Built rows = assignment(3, 0, 4);
    rows.groups.pop_back();
    EXPECT_FALSE(brisk::find_groups(rows.make(9)));
    Built mixed = assignment(3, 0, 4);
    mixed.groups.push_back({0, 4});
    EXPECT_FALSE(brisk::find_groups(mixed.make(9)));
}

TEST(BriskOneHot, MoveChangesMatchExactEnergiesAlongRandomMoves) {
    // Couplings read from the dense table (shapes 0 to 2) and from the hash table.
    for (int shape = 0; shape < 6; ++shape) {
        Built b = shape % 3 == 0   ? assignment(6, 3, 5)
                  : shape % 3 == 1 ? tour(6, 6)
                                   : choices(5, 3, 7);
        const Problem& p = b.make(shape % 3 == 0 ? 39 : shape % 3 == 1 ? 36 : 18);
        const std::unique_ptr<Groups> g = brisk::find_groups(p);
        ASSERT_TRUE(g);
        ASSERT_FALSE(g->dense.empty());
        if (shape >= 3) g->index_couplings(p, 0);
        ASSERT_EQ(g->dense.empty(), shape >= 3);
        GroupState st(p, *g);
        brisk::Rng rng(11);
        st.randomise(rng);
        std::mt19937_64 gen(12);
        for (int step = 0; step < 3000; ++step) {
            const int64_t before = p.energy(st.x());
            ASSERT_EQ(st.energy(), before) << "shape " << shape << " step " << step;
            ASSERT_EQ(p.objective(st.x()), before);
            int64_t delta = 0;
            if (!g->free.empty() && gen() % 4 == 0) {
                const uint32_t v = g->free[gen() % g->free.size()];
                delta = st.flip_delta(v);
                st.flip(v, delta);
            } else if (g->side > 0) {
                const uint32_t r = static_cast<uint32_t>(gen() % g->side);
                const uint32_t t = static_cast<uint32_t>(gen() % g->side);
                if (r == t) continue;
                delta = st.exchange_delta(r, t);
                st.exchange(r, t, delta);
            } else {
                const uint64_t s = gen() % g->members.size();
                delta = st.swap_delta(st.group_of(s), g->members[s]);
                st.swap(st.group_of(s), g->members[s], delta);
            }
            ASSERT_EQ(p.energy(st.x()), before + delta) << "shape " << shape << " step " << step;
        }
    }
}

TEST(BriskOneHot, SearchReachesTheOptimumAndRepeatsItself) {
    for (int shape = 0; shape < 4; ++shape) {
        Built b = shape == 0   ? assignment(4, 2, 21)
                  : shape == 1 ? tour(4, 22)
                  : shape == 2 ? choices(4, 3, 23)
                               : tour(6, 24);
        const Problem& p = b.make(shape == 0 ? 18 : shape == 1 ? 16 : shape == 2 ? 13 : 36);
        const std::unique_ptr<Groups> g = brisk::find_groups(p);
        ASSERT_TRUE(g);
        const int64_t want = shape == 3 ? permutation_minimum(p, 6) : brute_minimum(p);
        std::vector<uint8_t> first;
        for (int again = 0; again < 2; ++again) {
            CountingSink sink(400);
            sink.n = p.n();
            brisk::Rng rng(31);
            EXPECT_FALSE(brisk::group_search(p, *g, rng, sink, nullptr).weak);
            EXPECT_EQ(sink.best, want) << "shape " << shape;
            EXPECT_EQ(p.energy(sink.state.data()), sink.best);
            if (again == 1) {
                EXPECT_EQ(sink.state, first);
            }
            first = sink.state;
        }
    }
}

TEST(BriskOneHot, WeightsTooWeakForTheGroupsEndTheSearch) {
    // Weight 1: some flip out of every feasible state pays more than its penalty.
    Built b = choices(4, 0, 25);
    b.weight = 1;
    const Problem& p = b.make(10);
    const std::unique_ptr<Groups> g = brisk::find_groups(p);
    ASSERT_TRUE(g);
    CountingSink sink(1000);
    sink.n = p.n();
    brisk::Rng rng(3);
    const brisk::GroupSearchCounts c = brisk::group_search(p, *g, rng, sink, nullptr);
    EXPECT_TRUE(c.weak);
    EXPECT_EQ(c.runs, 0u);
}

}  // namespace

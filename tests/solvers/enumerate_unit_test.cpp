// Exact enumeration of native integer Models: the size limit, the visiting order, best-energy
// collection, parameters, and the optimum against an independent brute force.
#include "support/suite.hpp"

#include <regex>

#include "capi/handles.hpp"
#include "solvers/enumerate.hpp"

namespace {

using dalo::ModelImpl;
using dalo::ParamList;
using dalo::SolverResult;
using namespace dalo_test;
using namespace dalo_test::build;

const ModelImpl& impl(const ModelPtr& m) { return **dalo::unwrap(m.get()); }

ParamList params(std::vector<std::pair<std::string, std::string>> items) {
    ParamList p;
    for (auto& [k, v] : items) p.add(k, v);
    return p;
}

std::string info(const SolverResult& r, const std::string& key) {
    for (const auto& [k, v] : r.info)
        if (k == key) return v;
    return "<missing>";
}

// A state as (bits of the binary model indices, then the integer values).
using State = std::vector<int64_t>;

State state_of(const ModelImpl& m, const dalo::PodArray<uint64_t>& bits,
               const std::vector<int64_t>& ints) {
    State s;
    for (uint32_t i = 0; i < m.var_count(); ++i) s.push_back((bits[i >> 6] >> (i & 63)) & 1);
    s.insert(s.end(), ints.begin(), ints.end());
    return s;
}

std::vector<State> collected(const ModelImpl& m, const SolverResult& r) {
    std::vector<State> out;
    for (const dalo::TopkEntry& e : r.topk) out.push_back(state_of(m, e.bits, e.int_values));
    return out;
}

// Energy of a state through a Sol of the library.
int64_t sol_energy(const ModelPtr& model, const State& s) {
    const ModelImpl& m = impl(model);
    SolPtr sol(dalo_sol_create(model.get()));
    for (uint32_t i = 0; i < m.var_count(); ++i)
        dalo_sol_set(sol.get(), m.vars[i], static_cast<uint32_t>(s[i]));
    for (uint64_t k = 0; k < m.int_count(); ++k)
        dalo_sol_set_int(sol.get(), m.int_var_orig[k] | DALO_INT_BIT, s[m.var_count() + k]);
    return dalo_sol_compute_energy(sol.get(), nullptr);
}

// Every state in reflected mixed-radix Gray order (position 0 fastest), built recursively:
// the states of the lower positions run forward, backward, forward, ... under each value of
// the next position.
std::vector<State> gray_order(const std::vector<int64_t>& lower,
                              const std::vector<int64_t>& upper) {
    std::vector<State> seq{State{}};
    for (size_t p = 0; p < lower.size(); ++p) {
        std::vector<State> next;
        for (int64_t v = lower[p]; v <= upper[p]; ++v) {
            const bool forward = (v - lower[p]) % 2 == 0;
            for (size_t i = 0; i < seq.size(); ++i) {
                State s = seq[forward ? i : seq.size() - 1 - i];
                s.push_back(v);
                next.push_back(std::move(s));
            }
        }
        seq = std::move(next);
    }
    return seq;
}

// ---------------------------------------------------------------------------------------------

TEST(EnumerateSize, ThirtyTwoBitsAcceptedThirtyThreeRejected) {
    uint64_t n = 21;
    const dalo_var x = dalo_new_var_array("sz", &n, 1);
    const dalo_var k = dalo_new_int_var("szk", 0, 4095);
    ExprPtr e20 = raw(1, {k});
    for (dalo_var i = 0; i < 20; ++i) dalo_expr_iadd_var(e20.get(), x + i);
    ModelPtr m20(dalo_model_create(binary(e20).get()));
    ASSERT_EQ(impl(m20).var_count(), 20u);
    dalo::check_enumeration_size(impl(m20));  // exactly 2^32 states

    ExprPtr e21 = raw(1, {x + 20});
    dalo_expr_iadd_expr(e21.get(), e20.get());
    ModelPtr m21(dalo_model_create(binary(e21).get()));
    EXPECT_FATAL(dalo::check_enumeration_size(impl(m21)),
                 "SweepSolver: integer search space (~2^33 states) exceeds the 2^32 enumeration "
                 "limit.");

    // 2^32 + 1 states: just above the limit, and the bit count truncates to 32.
    const dalo_var big = dalo_new_int_var("szbig", -1, 4294967295);
    ModelPtr mb(dalo_model_create(raw(1, {big}).get()));
    EXPECT_FATAL(dalo::check_enumeration_size(impl(mb)),
                 "SweepSolver: integer search space (~2^32 states) exceeds the 2^32 enumeration "
                 "limit.");
    const dalo_var edge = dalo_new_int_var("szedge", -1, 4294967294);
    dalo::check_enumeration_size(impl(ModelPtr(dalo_model_create(raw(1, {edge}).get()))));

    ModelImpl rem;
    rem.has_remainder = 1;
    EXPECT_FATAL(dalo::check_enumeration_size(rem),
                 "SweepSolver: internal error — a free-form remainder with integer variables "
                 "should have been rejected at Model.");
}

TEST(EnumerateDeathTest, OnlyBestEnergySolsIsAccepted) {
    const dalo_var k = dalo_new_int_var("pk", 0, 1);
    ModelPtr m(dalo_model_create(raw(1, {k}).get()));
    EXPECT_FATAL(dalo::sweep_int_enumerate(impl(m), params({{"time_limit", "5"}})),
                 "SweepSolver: search parameter 'time_limit' is not supported for native "
                 "integer models yet.");
    EXPECT_FATAL(
        dalo::sweep_int_enumerate(impl(m), params({{"best_energy_sols", "0"}, {"seed", "1"}})),
        "SweepSolver: search parameter 'seed' is not supported for native integer models yet.");
}

// ---------------------------------------------------------------------------------------------
// Random Models against Sol energies over the states of an independently built Gray order.

// Binaries and small integers under a random objective of degree up to 4 (negated binaries,
// the square of an integer atom) and one to four constraints: ranges (some with nonlinear
// bodies), allowed sets, abs and relu with k = 1 and 2.
ModelPtr random_model(std::mt19937_64& rng, int seed) {
    auto pick = [&rng](int64_t lo, int64_t hi) {
        return lo + static_cast<int64_t>(rng() % static_cast<uint64_t>(hi - lo + 1));
    };
    const std::string tag = "r" + std::to_string(seed);
    std::vector<dalo_var> bins, ints;
    for (int64_t i = 0, n = pick(1, 4); i < n; ++i)
        bins.push_back(dalo_new_var((tag + "x" + std::to_string(i)).c_str()));
    for (int64_t i = 0, n = pick(1, 2); i < n; ++i) {
        const int64_t lo = pick(-3, 1);
        ints.push_back(
            dalo_new_int_var((tag + "k" + std::to_string(i)).c_str(), lo, lo + pick(1, 3)));
    }
    auto any_var = [&]() {
        const size_t i = rng() % (bins.size() + ints.size());
        return i < bins.size() ? bins[i] : ints[i - bins.size()];
    };
    auto coeff = [&]() {
        const int64_t c = pick(-4, 4);
        return c == 0 ? 1 : c;
    };
    ExprPtr obj(dalo_expr_create_int(pick(-5, 5)));
    for (int64_t t = 0, n = pick(2, 8); t < n; ++t) {
        std::vector<dalo_var> vs;
        for (int64_t d = 0, deg = pick(1, 4); d < deg; ++d) {
            dalo_var v = any_var();
            if (!(v & DALO_INT_BIT) && rng() % 3 == 0) v |= DALO_NEG_BIT;
            vs.push_back(v);
        }
        add(obj, coeff(), vs);
    }
    add(obj, coeff(), {ints[0], ints[0]});
    ExprPtr objective = binary(obj);
    for (int64_t c = 0, n = pick(1, 4); c < n; ++c) {
        // A linear body over distinct variables, and for some ranges products on top.
        std::vector<dalo_var> pool = bins;
        pool.insert(pool.end(), ints.begin(), ints.end());
        std::shuffle(pool.begin(), pool.end(), rng);
        ExprPtr raw_body(dalo_expr_create_int(pick(-2, 2)));
        for (int64_t i = 0, m = pick(1, std::min<int64_t>(3, pool.size())); i < m; ++i)
            add(raw_body, coeff(), {pool[i]});
        const int shape = static_cast<int>(rng() % 4);
        const int64_t weight = pick(1, 3);
        if (shape == 0 && rng() % 2 == 0) {
            add(raw_body, coeff(), {ints[0], ints[0]});
            add(raw_body, coeff(), {any_var(), any_var()});
        }
        ExprPtr body = binary(raw_body);
        ExprPtr ce;
        if (shape == 0) {
            const int64_t lo = pick(-3, 2);
            ce.reset(dalo_cons_between(body.get(), lo, lo + pick(0, 3)));
        } else if (shape == 1) {
            std::vector<int64_t> lo, hi;
            for (int64_t i = 0, m = pick(1, 3); i < m; ++i) {
                lo.push_back(pick(-4, 4));
                hi.push_back(lo.back() + pick(0, 2));
            }
            ce.reset(dalo_cons_equal(body.get(), lo.data(), hi.data(), lo.size()));
        } else {
            const int k = static_cast<int>(pick(1, 2));
            ce.reset(shape == 2 ? dalo_abs_term(body.get(), k) : dalo_relu_term(body.get(), k));
        }
        if (weight != 1) dalo_expr_imul_int(ce.get(), weight);
        add(objective, ce);
    }
    return model_of(objective);
}

TEST(EnumerateBruteForce, RandomModelsWithEveryConstraintKind) {
    std::mt19937_64 rng(2024);
    int with_pow_bodies = 0, with_shapes = 0;
    for (int seed = 0; seed < 80; ++seed) {
        SCOPED_TRACE(seed);
        const ModelPtr model = random_model(rng, seed);
        const ModelImpl& m = impl(model);
        ASSERT_GT(m.int_count(), 0u);
        for (const dalo::NativeCons& c : m.native_cons) {
            with_pow_bodies += !c.nl_vars.empty();
            with_shapes += c.objective_only;
        }
        std::vector<int64_t> lower(m.var_count(), 0), upper(m.var_count(), 1);
        lower.insert(lower.end(), m.int_lower.begin(), m.int_lower.end());
        upper.insert(upper.end(), m.int_upper.begin(), m.int_upper.end());
        const std::vector<State> order = gray_order(lower, upper);
        std::vector<int64_t> energies;
        for (const State& s : order) energies.push_back(sol_energy(model, s));
        const int64_t best = *std::min_element(energies.begin(), energies.end());
        std::vector<State> optimal;
        for (size_t i = 0; i < order.size(); ++i)
            if (energies[i] == best) optimal.push_back(order[i]);

        SolverResult r = dalo::sweep_int_enumerate(m, params({{"best_energy_sols", "0"}}));
        EXPECT_EQ(r.energy, best);
        EXPECT_EQ(info(r, "states"), std::to_string(order.size()));
        EXPECT_EQ(state_of(m, r.bits, r.int_values), optimal.front());
        EXPECT_EQ(collected(m, r), optimal);
        for (const dalo::TopkEntry& e : r.topk) EXPECT_EQ(e.energy, best);
        SolverResult two = dalo::sweep_int_enumerate(m, params({{"best_energy_sols", "2"}}));
        const size_t kept = std::min<size_t>(2, optimal.size());
        EXPECT_EQ(collected(m, two), std::vector<State>(optimal.begin(), optimal.begin() + kept));
    }
    // The generator reaches the nonlinear bodies and the objective-only shapes.
    EXPECT_GT(with_pow_bodies, 10);
    EXPECT_GT(with_shapes, 10);
}

}  // namespace

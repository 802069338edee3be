// Model building in dalo's C interface and in dimod's header-only C++ core, side by side in
// one process: the same three models, built in alternating runs, warm medians, and the
// energies of one assignment compared so that both tools hold the same model.
//
//   bench/peers/run.sh [RUNS] [in-place|simplified]   (fetches dimod's headers into a benchmark
//   environment)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "dalo.h"
#include "dimod/binary_quadratic_model.h"
#include "dimod/constrained_quadratic_model.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bqm = dimod::BinaryQuadraticModel<double, int>;
using Cqm = dimod::ConstrainedQuadraticModel<double, int>;

constexpr int kDense = 2000;
constexpr int kCities = 100;

// With "in-place" on the command line, dalo simplifies the built expressions in place; with
// "simplified" it compiles them through dalo_model_create_simplified, which writes the Model
// from the simplification without a simplified expression.
bool g_in_place = false, g_simplified = false;

// The Model of e's binary form, from a new expression or from e itself rewritten in place.
dalo_model* model_of(dalo_expr* e, std::vector<dalo_expr*>& keep) {
    keep.push_back(e);
    if (g_simplified) return dalo_model_create_simplified(e);
    if (g_in_place) {
        dalo_expr_simplify_as_binary_inplace(e);
        return dalo_model_create(e);
    }
    keep.push_back(dalo_expr_simplify_as_binary(e));
    return dalo_model_create(keep.back());
}

double seconds(const std::function<void()>& f) {
    const auto t0 = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Energy of a Model at the assignment value(index) of each model variable's position.
int64_t dalo_energy(const dalo_model* m, const std::vector<dalo_var>& vars,
                    const std::vector<uint8_t>& bits) {
    dalo_sol* s = dalo_sol_create(m);
    for (size_t i = 0; i < vars.size(); ++i) {
        if (bits[i] != 0) dalo_sol_set(s, vars[i], 1);
    }
    int64_t e = 0;
    dalo_sol_compute_energy(s, &e);
    dalo_sol_destroy(s);
    return e;
}

struct Case {
    std::string name;
    std::function<dalo_model*(const struct Case&, std::vector<dalo_expr*>&)>
        dalo;  // builds; the caller destroys the Model
    std::function<double(const struct Case&, double*)>
        dimod;                   // builds, stores the build time, returns the energy at bits
    std::vector<dalo_var> vars;  // dalo identifier of peer variable i
    std::vector<uint8_t> bits;   // the checked assignment
};

std::vector<int64_t> weights(int n, std::mt19937_64& rng) {
    std::vector<int64_t> w(n);
    for (int64_t& x : w) {
        x = static_cast<int64_t>(rng() % 19) - 9;
        if (x == 0) x = 1;
    }
    return w;
}

// (sum_i w_i x_i)^2: w_i^2 x_i + sum_{i<j} 2 w_i w_j x_i x_j, in dalo as the product s * s
// (4M products) or as the square of s (each pair once).
Case dense_square(std::mt19937_64& rng, bool square) {
    Case c{square ? "dense 2,000, dalo_expr_sqr of a sum" : "dense 2,000, square of a sum",
           {},
           {},
           {},
           {}};
    static std::vector<int64_t> w = weights(kDense, rng);
    const uint64_t n = kDense;
    const dalo_var first = dalo_new_var_array("q", &n, 1);
    for (int i = 0; i < kDense; ++i) c.vars.push_back(first + i);
    c.dalo = [first, square](const Case&, std::vector<dalo_expr*>& keep) {
        dalo_expr* s = dalo_expr_create();
        for (int i = 0; i < kDense; ++i) {
            const dalo_var v = first + i;
            dalo_expr_iadd_raw_term(s, w[i], &v, 1);
        }
        keep.push_back(s);
        return model_of(square ? dalo_expr_sqr(s) : dalo_expr_mul_expr(s, s), keep);
    };
    c.dimod = [](const Case& c, double* took) {
        const auto t0 = Clock::now();
        Bqm bqm(kDense, dimod::Vartype::BINARY);
        for (int i = 0; i < kDense; ++i) {
            bqm.add_linear(i, static_cast<double>(w[i] * w[i]));
            for (int j = i + 1; j < kDense; ++j)
                bqm.add_quadratic_back(i, j, static_cast<double>(2 * w[i] * w[j]));
        }
        *took = std::chrono::duration<double>(Clock::now() - t0).count();
        return bqm.energy(c.bits.begin());
    };
    return c;
}

// x^T Q x from an integer matrix.
Case dense_matrix(std::mt19937_64& rng) {
    Case c{"dense 2,000 from an integer matrix", {}, {}, {}, {}};
    static std::vector<int64_t> q(size_t{kDense} * kDense);
    for (int64_t& x : q) x = static_cast<int64_t>(rng() % 19) - 9;
    const uint64_t n = kDense;
    const dalo_var first = dalo_new_var_array("m", &n, 1);
    for (int i = 0; i < kDense; ++i) c.vars.push_back(first + i);
    c.dalo = [](const Case& c, std::vector<dalo_expr*>&) {
        return dalo_model_create_quadratic_i64(c.vars.data(), kDense, q.data(), kDense, 1, nullptr);
    };
    c.dimod = [](const Case& c, double* took) {
        const auto t0 = Clock::now();
        Bqm bqm(q.data(), kDense, dimod::Vartype::BINARY);
        *took = std::chrono::duration<double>(Clock::now() - t0).count();
        return bqm.energy(c.bits.begin());
    };
    return c;
}

// One-hot TSP: x[c][t] is city c at step t; distances between consecutive steps, and each
// city and each step taken exactly once (declared constraints, CQM equalities).
Case tsp(std::mt19937_64& rng) {
    Case c{"TSP-100, terms one by one + 200 one-hot", {}, {}, {}, {}};
    static std::vector<int64_t> dist(size_t{kCities} * kCities);
    for (int64_t& d : dist) d = 1 + static_cast<int64_t>(rng() % 99);
    const uint64_t shape[2] = {kCities, kCities};
    const dalo_var first = dalo_new_var_array("t", shape, 2);
    for (int i = 0; i < kCities * kCities; ++i) c.vars.push_back(first + i);
    auto at = [](int city, int step) { return city * kCities + step; };
    c.dalo = [at](const Case& c, std::vector<dalo_expr*>& keep) {
        dalo_expr* f = dalo_expr_create();
        for (int a = 0; a < kCities; ++a) {
            for (int b = 0; b < kCities; ++b) {
                if (a == b) continue;
                for (int t = 0; t < kCities; ++t) {
                    const dalo_var pair[2] = {c.vars[at(a, t)], c.vars[at(b, (t + 1) % kCities)]};
                    dalo_expr_iadd_raw_term(f, dist[a * kCities + b], pair, 2);
                }
            }
        }
        for (int axis = 0; axis < 2; ++axis) {
            for (int k = 0; k < kCities; ++k) {
                dalo_expr* row = dalo_expr_create();
                for (int l = 0; l < kCities; ++l) {
                    const dalo_var v = c.vars[axis == 0 ? at(k, l) : at(l, k)];
                    dalo_expr_iadd_var(row, v);
                }
                dalo_expr* con = dalo_cons_between(row, 1, 1);
                dalo_expr_iadd_expr(f, con);
                dalo_expr_destroy(con);
                dalo_expr_destroy(row);
            }
        }
        return model_of(f, keep);
    };
    c.dimod = [at](const Case& c, double* took) {
        const auto t0 = Clock::now();
        Cqm cqm;
        cqm.add_variables(dimod::Vartype::BINARY, kCities * kCities);
        for (int a = 0; a < kCities; ++a) {
            for (int b = 0; b < kCities; ++b) {
                if (a == b) continue;
                for (int t = 0; t < kCities; ++t) {
                    cqm.objective.add_quadratic(at(a, t), at(b, (t + 1) % kCities),
                                                static_cast<double>(dist[a * kCities + b]));
                }
            }
        }
        for (int axis = 0; axis < 2; ++axis) {
            for (int k = 0; k < kCities; ++k) {
                auto con = cqm.new_constraint();
                for (int l = 0; l < kCities; ++l)
                    con.add_linear(axis == 0 ? at(k, l) : at(l, k), 1);
                con.set_sense(dimod::Sense::EQ);
                con.set_rhs(1);
                cqm.add_constraint(std::move(con));
            }
        }
        *took = std::chrono::duration<double>(Clock::now() - t0).count();
        return cqm.objective.energy(c.bits.begin());
    };
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    g_in_place = argc > 2 && std::string(argv[2]) == "in-place";
    g_simplified = argc > 2 && std::string(argv[2]) == "simplified";
    std::mt19937_64 rng(2026);
    std::vector<Case> cases;
    cases.push_back(dense_square(rng, false));
    cases.push_back(dense_square(rng, true));
    cases.push_back(dense_matrix(rng));
    cases.push_back(tsp(rng));
    // A feasible tour for the TSP (city k at step (7k + 3) mod 100), random bits elsewhere.
    for (Case& c : cases) {
        c.bits.resize(c.vars.size());
        for (uint8_t& b : c.bits) b = rng() & 1;
    }
    Case& tour = cases.back();
    std::fill(tour.bits.begin(), tour.bits.end(), 0);
    for (int k = 0; k < kCities; ++k) tour.bits[k * kCities + (7 * k + 3) % kCities] = 1;

    std::printf("%-42s %10s %10s %8s  energies\n", "model (median of alternating runs)", "dalo s",
                "dimod s", "ratio");
    for (Case& c : cases) {
        std::vector<double> td, tp;
        int64_t energy = 0;
        double peer_energy = 0;
        for (int r = 0; r <= runs; ++r) {  // run 0 warms both up and is not counted
            dalo_model* m = nullptr;
            std::vector<dalo_expr*> keep;  // destroyed outside the timing, as dimod's models are
            const double a = seconds([&] { m = c.dalo(c, keep); });
            for (dalo_expr* e : keep) dalo_expr_destroy(e);
            energy = dalo_energy(m, c.vars, c.bits);
            dalo_model_destroy(m);
            double b = 0;
            peer_energy = c.dimod(c, &b);
            if (r > 0) {
                td.push_back(a);
                tp.push_back(b);
            }
        }
        const double md = median(td), mp = median(tp);
        std::printf("%-42s %10.4f %10.4f %8.2f  %lld %s %.0f\n", c.name.c_str(), md, mp, md / mp,
                    static_cast<long long>(energy),
                    static_cast<double>(energy) == peer_energy ? "==" : "!=", peer_energy);
    }
    return 0;
}

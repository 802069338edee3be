// Random Models for solver plug-in tests, and their optima by enumeration over Sol energies.
#pragma once

#include <dlfcn.h>
#include "support/suite.hpp"

#include "support/brute.hpp"

namespace dalo_test {

// Every binary assignment of a Model (as a number over the model bits) with its Sol energy,
// ascending.
inline std::vector<std::pair<int64_t, uint64_t>> all_energies(const dalo_model* m) {
    const uint32_t n = dalo_model_var_count(m);
    dalo_sol* s = dalo_sol_create(m);
    std::vector<std::pair<int64_t, uint64_t>> out;
    for (uint64_t mask = 0; mask < (uint64_t{1} << n); ++mask) {
        for (uint32_t i = 0; i < n; ++i)
            dalo_sol_set(s, dalo_model_var(m, i), static_cast<uint32_t>((mask >> i) & 1));
        out.emplace_back(dalo_sol_compute_energy(s, nullptr), mask);
    }
    dalo_sol_destroy(s);
    std::sort(out.begin(), out.end());
    return out;
}

// The library's own energy of a Sol (recomputed after two flips); the Sol is released.
inline int64_t recomputed(dalo_sol* s, const dalo_model* m) {
    if (dalo_model_var_count(m) > 0) {
        dalo_sol_flip(s, dalo_model_var(m, 0));
        dalo_sol_flip(s, dalo_model_var(m, 0));
    }
    const int64_t e = dalo_sol_compute_energy(s, nullptr);
    dalo_sol_destroy(s);
    return e;
}

// Smallest Sol energy over every binary assignment and every value of the integer variables.
inline int64_t mixed_optimum(const dalo_model* m, const std::vector<dalo_var>& ints) {
    const uint32_t n = dalo_model_var_count(m);
    dalo_sol* s = dalo_sol_create(m);
    int64_t best = INT64_MAX;
    std::vector<int64_t> lo(ints.size()), hi(ints.size());
    for (size_t k = 0; k < ints.size(); ++k) dalo_int_var_bounds(ints[k], &lo[k], &hi[k]);
    for (uint64_t mask = 0; mask < (uint64_t{1} << n); ++mask) {
        for (uint32_t i = 0; i < n; ++i)
            dalo_sol_set(s, dalo_model_var(m, i), static_cast<uint32_t>((mask >> i) & 1));
        std::vector<int64_t> v = lo;
        for (bool more = true; more;) {
            for (size_t k = 0; k < ints.size(); ++k) dalo_sol_set_int(s, ints[k], v[k]);
            best = std::min(best, dalo_sol_compute_energy(s, nullptr));
            more = false;
            for (size_t k = 0; k < v.size() && !more; ++k) {
                more = ++v[k] <= hi[k];
                if (!more) v[k] = lo[k];
            }
        }
    }
    dalo_sol_destroy(s);
    return best;
}

// Adds constraint c (then destroyed) to e with the given weight.
inline void attach(dalo_expr* e, dalo_expr* c, int64_t weight = 1) {
    if (weight != 1) dalo_expr_imul_int(c, weight);
    dalo_expr_iadd_expr(e, c);
    dalo_expr_destroy(c);
}

// sum of c_i * x_i over a few variables of [first, first + n), binary-simplified.
inline ExprPtr random_linear(std::mt19937_64& rng, dalo_var first, uint32_t n, uint32_t terms) {
    ExprPtr e(dalo_expr_create_int(static_cast<int64_t>(rng() % 5) - 2));
    for (uint32_t k = 0; k < terms; ++k) {
        const dalo_var v = first + static_cast<dalo_var>(rng() % n);
        const int64_t c = static_cast<int64_t>(rng() % 7) - 3;
        dalo_expr_iadd_raw_term(e.get(), c == 0 ? 2 : c, &v, 1);
    }
    return ExprPtr(dalo_expr_simplify_as_binary(e.get()));
}

// A random cubic objective (negated literals kept in cubic terms) with one constraint of
// every kind: linear and nonlinear ranges, an allowed set, abs and relu with k = 1 and 2,
// weights from integer multiples of declared sums, a free-form penalty and, when `wide`, a
// body of more than 4096 values.
inline ModelPtr constrained_model(std::mt19937_64& rng, dalo_var first, uint32_t n,
                                  bool wide = false) {
    ExprPtr raw = random_poly(rng, first, n, static_cast<int>(3 * n), 3);
    ExprPtr obj(dalo_expr_simplify_as_binary(raw.get()));
    auto lo = [&] { return static_cast<int64_t>(rng() % 5) - 2; };
    attach(obj.get(), dalo_cons_between(random_linear(rng, first, n, 4).get(), lo(), 2), 3);
    ExprPtr nl = random_linear(rng, first, n, 3);
    const dalo_var a = first + static_cast<dalo_var>(rng() % n);
    const dalo_var b = first + static_cast<dalo_var>((a - first + 1 + rng() % (n - 1)) % n);
    const dalo_var c3[3] = {a, b, first + static_cast<dalo_var>((b - first + 1) % n)};
    dalo_expr_iadd_raw_term(nl.get(), 3, c3, n >= 3 ? 3 : 2);
    ExprPtr nl_body(dalo_expr_simplify_as_binary(nl.get()));
    attach(obj.get(), dalo_cons_between(nl_body.get(), lo(), 1), 2);
    const int64_t set_lo[2] = {-1, 3}, set_hi[2] = {0, 4};
    attach(obj.get(), dalo_cons_equal(random_linear(rng, first, n, 4).get(), set_lo, set_hi, 2), 2);
    attach(obj.get(), dalo_abs_term(random_linear(rng, first, n, 3).get(), 1), 2);
    attach(obj.get(), dalo_abs_term(random_linear(rng, first, n, 3).get(), 2));
    attach(obj.get(), dalo_relu_term(random_linear(rng, first, n, 3).get(), 1), 3);
    attach(obj.get(), dalo_relu_term(random_linear(rng, first, n, 3).get(), 2));
    if (wide) {
        ExprPtr body = random_linear(rng, first, n, 3);
        dalo_expr_imul_int(body.get(), 5000);
        attach(obj.get(), dalo_cons_between(body.get(), -5000, 5000));
    }
    ExprPtr penalty = random_poly(rng, first, n, 3, 3);
    attach(obj.get(), dalo_cons_mark(penalty.get()));
    return ModelPtr(dalo_model_create(obj.get()));
}

// A random quadratic objective over n variables (about `degree` neighbours each).
inline ModelPtr random_qubo(std::mt19937_64& rng, dalo_var first, uint32_t n, uint32_t degree) {
    ExprPtr e(dalo_expr_create());
    for (uint32_t i = 0; i < n; ++i) {
        const dalo_var v = first + i;
        dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 21) - 10, &v, 1);
        for (uint32_t k = 0; k < degree / 2; ++k) {
            const dalo_var pair[2] = {v, first + static_cast<dalo_var>(rng() % n)};
            if (pair[1] != v)
                dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 21) - 10, pair, 2);
        }
    }
    ExprPtr s(dalo_expr_simplify_as_binary(e.get()));
    return ModelPtr(dalo_model_create(s.get()));
}

// Three integer variables (ranges of 3 to 2 + spread values) and the four binaries from x: a
// quadratic over all of them, a weighted capacity range and an allowed-set constraint.
inline ModelPtr mixed_model(std::mt19937_64& rng, dalo_var x, uint64_t spread,
                            std::vector<dalo_var>& ints) {
    ints.clear();
    for (int k = 0; k < 3; ++k) {
        const int64_t lo = static_cast<int64_t>(rng() % 5) - 3;
        ints.push_back(dalo_new_int_var("k", lo, lo + 2 + static_cast<int64_t>(rng() % spread)));
    }
    ExprPtr e(dalo_expr_create());
    std::vector<dalo_var> all(ints);
    for (uint32_t i = 0; i < 4; ++i) all.push_back(x + i);
    for (int t = 0; t < 10; ++t) {
        const dalo_var pair[2] = {all[rng() % all.size()], all[rng() % all.size()]};
        dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 11) - 5, pair, 1 + rng() % 2);
    }
    ExprPtr cap(dalo_expr_create()), eq(dalo_expr_create());
    for (const dalo_var v : all) {
        dalo_expr_iadd_raw_term(cap.get(), 1 + static_cast<int64_t>(rng() % 3), &v, 1);
        if (rng() % 2) dalo_expr_iadd_raw_term(eq.get(), 1, &v, 1);
    }
    ExprPtr c1(dalo_cons_between(cap.get(), -5, 6));
    dalo_expr_imul_int(c1.get(), 2);
    const int64_t set_lo[2] = {0, 3}, set_hi[2] = {1, 3};
    ExprPtr c2(dalo_cons_equal(eq.get(), set_lo, set_hi, 2));
    dalo_expr_iadd_expr(e.get(), c1.get());
    dalo_expr_iadd_expr(e.get(), c2.get());
    ExprPtr s(dalo_expr_simplify_as_binary(e.get()));
    return ModelPtr(dalo_model_create(s.get()));
}

// The mixed Model with penalty shapes on integer bodies: abs (k = 1), relu (k = 2), a
// nonlinear range constraint and an allowed set.
inline ModelPtr shaped_mixed_model(std::mt19937_64& rng, dalo_var x, std::vector<dalo_var>& ints) {
    ints.clear();
    for (int k = 0; k < 2; ++k) {
        const int64_t lo = static_cast<int64_t>(rng() % 4) - 2;
        ints.push_back(dalo_new_int_var("k", lo, lo + 3 + static_cast<int64_t>(rng() % 3)));
    }
    std::vector<dalo_var> all(ints);
    for (uint32_t i = 0; i < 3; ++i) all.push_back(x + i);
    auto linear = [&](uint32_t terms) {
        ExprPtr e(dalo_expr_create_int(static_cast<int64_t>(rng() % 5) - 2));
        for (uint32_t t = 0; t < terms; ++t) {
            const dalo_var v = all[rng() % all.size()];
            dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 7) - 3, &v, 1);
        }
        return ExprPtr(dalo_expr_simplify_as_binary(e.get()));
    };
    ExprPtr e = linear(6);
    for (int t = 0; t < 6; ++t) {
        const dalo_var pair[2] = {all[rng() % all.size()], all[rng() % all.size()]};
        dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 9) - 4, pair, 2);
    }
    attach(e.get(), dalo_abs_term(linear(3).get(), 1));
    attach(e.get(), dalo_relu_term(linear(3).get(), 2));
    ExprPtr nl = linear(2);
    const dalo_var prod[2] = {ints[0], x};
    dalo_expr_iadd_raw_term(nl.get(), 2, prod, 2);
    ExprPtr nl_body(dalo_expr_simplify_as_binary(nl.get()));
    attach(e.get(), dalo_cons_between(nl_body.get(), -1, 2), 2);
    const int64_t set_lo[2] = {-2, 2}, set_hi[2] = {-1, 2};
    attach(e.get(), dalo_cons_equal(linear(3).get(), set_lo, set_hi, 2));
    ExprPtr s(dalo_expr_simplify_as_binary(e.get()));
    return ModelPtr(dalo_model_create(s.get()));
}

// ---- searches through the wrappers ----

enum class Family { Brisk, Sweep, Kelp };

struct Found {
    int64_t energy = 0;
    uint64_t bits = 0;  // the first word
    bool operator==(const Found&) const = default;
};

inline std::set<uint64_t> masks(const std::vector<Found>& list) {
    std::set<uint64_t> out;
    for (const Found& f : list) out.insert(f.bits);
    return out;
}

struct Outcome {
    Found best;
    std::vector<int64_t> ints;
    std::vector<Found> list;
    std::vector<std::pair<std::string, std::string>> info;
    double seconds = 0.0;

    std::string operator[](const std::string& key) const {
        for (const auto& [k, v] : info)
            if (k == key) return v;
        return "<absent>";
    }
};

// n fresh binary variables x.
inline dalo_var binaries(uint64_t n) { return dalo_new_var_array("x", &n, 1); }

// x_0 + ... + x_(n-1).
inline ExprPtr sum_of(dalo_var x, uint32_t n) {
    ExprPtr e(dalo_expr_create());
    for (uint32_t i = 0; i < n; ++i) dalo_expr_iadd_var(e.get(), x + i);
    return e;
}

// (x_0 + ... + x_(n-1) - k)^2 as a declared constraint: C(n, k) optima of energy 0.
inline ModelPtr cardinality(dalo_var x, uint32_t n, int64_t k) {
    ExprPtr body(dalo_expr_simplify_as_binary(sum_of(x, n).get()));
    ExprPtr card(dalo_cons_between(body.get(), k, k));
    return ModelPtr(dalo_model_create(card.get()));
}

// Every assignment of a Model with its Sol energy, ascending (ties by assignment).
inline std::vector<Found> brute_force(const dalo_model* m) {
    std::vector<Found> all;
    for (const auto& [e, mask] : all_energies(m)) all.push_back({e, mask});
    return all;
}

// The optimal states that lead an ascending list.
inline std::vector<Found> optima_of(const std::vector<Found>& all) {
    const auto tied = [&](const Found& s) { return s.energy == all.front().energy; };
    return {all.begin(), std::find_if_not(all.begin(), all.end(), tied)};
}

// `top` lists the k best energies in distinct states and leads with the best; `optimal` lists
// optimal states only, and every one of them.
inline void expect_top_and_optima(const Outcome& top, const Outcome& optimal,
                                  const std::vector<Found>& all, size_t k) {
    ASSERT_EQ(top.list.size(), k);
    for (size_t i = 0; i < k; ++i) EXPECT_EQ(top.list[i].energy, all[i].energy) << i;
    EXPECT_EQ(masks(top.list).size(), k);
    EXPECT_EQ(top.best.energy, all.front().energy);
    for (const Found& s : optimal.list) EXPECT_EQ(s.energy, all.front().energy);
    EXPECT_EQ(masks(optimal.list), masks(optima_of(all)));
}

// Progress events as the host sees them: event, Sol energy, recomputed energy.
struct Events {
    std::vector<uint32_t> kinds;
    std::vector<int64_t> energies, recomputed;
    const dalo_model* model = nullptr;
};

inline double record_event(void* context, dalo_sol* sol, uint32_t event) {
    auto* ev = static_cast<Events*>(context);
    ev->kinds.push_back(event);
    ev->energies.push_back(dalo_sol_energy(sol, nullptr));
    ev->recomputed.push_back(recomputed(sol, ev->model));
    return -1.0;
}

// Reads a result (and destroys it); every reported energy is checked against the library's
// Sol energy.
inline Outcome finish(dalo_solver_result* r, const dalo_model* m,
                      std::chrono::steady_clock::time_point t0) {
    Outcome out;
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const bool has_bits = dalo_model_var_count(m) > 0;
    auto first = [&](const uint64_t* w) { return w != nullptr && has_bits ? w[0] : 0; };
    out.best = {dalo_brisk_solver_result_energy(r, nullptr),
                first(dalo_brisk_solver_result_bits(r))};
    for (uint64_t i = 0; i < dalo_brisk_solver_result_topk_count(r); ++i) {
        out.list.push_back({dalo_brisk_solver_result_topk_energy(r, i, nullptr),
                            first(dalo_brisk_solver_result_topk_bits(r, i))});
        EXPECT_EQ(recomputed(dalo_brisk_solver_result_topk_to_sol(r, i, m), m),
                  out.list.back().energy);
    }
    for (uint64_t i = 0; i < dalo_brisk_solver_result_info_count(r); ++i)
        out.info.emplace_back(dalo_brisk_solver_result_info_key(r, i),
                              dalo_brisk_solver_result_info_value(r, i));
    dalo_sol* s = dalo_brisk_solver_result_to_sol(r, m);
    out.ints.assign(dalo_sol_int_vals(s), dalo_sol_int_vals(s) + dalo_sol_int_count(s));
    EXPECT_EQ(recomputed(s, m), out.best.energy);
    dalo_brisk_solver_result_destroy(r);
    return out;
}

// One search of a family (integer Models through the integer search); events and the KELP
// mode only reach KELPSolver.
inline Outcome solve(Family f, const dalo_model* m, std::vector<dalo_param> params,
                     const uint64_t* hint = nullptr, Events* events = nullptr,
                     int32_t kelp_mode = 0) {
    params.push_back({nullptr, nullptr});
    const bool ints = dalo_model_int_var_count(m) > 0;
    const auto t0 = std::chrono::steady_clock::now();
    if (f == Family::Brisk) {
        BriskPtr w(dalo_brisk_solver_wrapper_create(m));
        return finish(
            ints ? dalo_brisk_solver_wrapper_search_int(w.get(), params.data(), nullptr, nullptr, 0)
                 : dalo_brisk_solver_wrapper_search(w.get(), params.data(), hint),
            m, t0);
    }
    if (f == Family::Sweep) {
        SweepPtr w(dalo_sweep_wrapper_create(m));
        return finish(dalo_sweep_wrapper_search(w.get(), params.data()), m, t0);
    }
    KelpPtr w(dalo_kelp_wrapper_create(m, kelp_mode));
    if (events != nullptr) {
        events->model = m;
        dalo_kelp_wrapper_set_callback(w.get(), record_event, events);
    }
    return finish(ints ? dalo_kelp_wrapper_search_int(w.get(), params.data(), nullptr, nullptr, 0)
                       : dalo_kelp_wrapper_search(w.get(), params.data(), hint),
                  m, t0);
}

// What the KELPSolver plug-in beside the library offers: its GPU solver, the integer GPU
// engine and the devices it sees.
#ifdef DALO_LIBRARY_PATH
struct GpuSide {
    void* lib = nullptr;
    bool solver = false, int_engine = false;
    int32_t devices = 0;
    GpuSide() {
        std::string dir = DALO_LIBRARY_PATH;
        dir = dir.substr(0, dir.rfind('/') + 1);
        lib = dlopen((dir + "kelp_c32e64.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) return;
        solver = dlsym(lib, "dalo_kelp_solver_create") != nullptr;
        int_engine = dlsym(lib, "dalo_kelp_int_create") != nullptr;
        auto count = reinterpret_cast<int32_t (*)()>(dlsym(lib, "dalo_kelp_gpu_device_count"));
        devices = count != nullptr ? count() : 0;
    }
    template <class F>
    F* get(const char* name) const {
        return reinterpret_cast<F*>(dlsym(lib, name));
    }
};
#endif

}  // namespace dalo_test

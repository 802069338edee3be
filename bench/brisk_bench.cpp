// BriskSolver on the shared benchmark set (a plain program, not Google Benchmark: each row is a
// set of whole searches).
//
//   brisk_bench [--data DIR] [--seeds N] [--threads T] [--cap S] [--only NAME ...]
//               [--no-ttb] [--no-rate] [--no-int] [--each] [--first-seed K]
//
// Time to best known: for each instance (G1, G11, G22, G43 and every bqp instance by default)
// N seeded searches (seeds K, K+1, ...; K = 1 by default) with T threads and the best-known
// value as target energy; the row gives the median value found, the median of the wrapper's own run
// time (the whole plug-in call), and how many searches reached the target within the cap (a miss
// counts as the cap).
// --each adds a line per search with its run time, the process CPU time it took and its flips:
// with one thread the flips to the target do not depend on the machine's load.
// Rates: one thread for two seconds on G22 and on a 10,000-variable random cubic Model: flips
// per second and moves evaluated per second (every one-flip move whose change is known when
// the search picks its move), flips per second of process CPU time, which a loaded machine
// disturbs less, and search runs (restarts) completed per CPU second.
// Integer engines: bounded knapsacks searched by the library's integer engine and by the
// plug-in's unified engine (DALO_INT_UNIFIED=1), best energy after one second, median of N.
//
// DIR defaults to $DALO_BENCH_DATA, else the first of ../shared/bench, ../../shared/bench and
// /work/shared/bench that exists.
#include <sys/resource.h>
#include <sys/stat.h>
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench_instances.hpp"
#include "dalo.h"

namespace {

using bench::build;
using bench::exists;
using bench::Instance;
using bench::read_instance;

// A random cubic Model: n variables, 2n quadratic and 2n cubic terms, coefficients -9..9.
Instance random_cubic(uint32_t n) {
    Instance inst;
    inst.name = "cubic10k";
    inst.n = n;
    std::mt19937_64 rng(2026);
    for (uint32_t t = 0; t < 4 * n; ++t) {
        const uint32_t d = t < 2 * n ? 2 : 3;
        std::vector<uint32_t> v;
        while (v.size() < d) {
            const uint32_t i = static_cast<uint32_t>(rng() % n);
            if (std::find(v.begin(), v.end(), i) == v.end()) v.push_back(i);
        }
        int64_t c = static_cast<int64_t>(rng() % 19) - 9;
        inst.terms.push_back({c == 0 ? 1 : c, v});
    }
    return inst;
}

std::string info(const dalo_solver_result* r, const char* key) {
    for (uint64_t i = 0; i < dalo_brisk_solver_result_info_count(r); ++i) {
        if (std::strcmp(key, dalo_brisk_solver_result_info_key(r, i)) == 0)
            return dalo_brisk_solver_result_info_value(r, i);
    }
    return "0";
}

using Params = std::vector<std::pair<std::string, std::string>>;

dalo_solver_result* search(const dalo_model* m, const Params& items, bool integer) {
    std::vector<dalo_param> params;
    for (const auto& [k, v] : items) params.push_back({k.c_str(), v.c_str()});
    params.push_back({nullptr, nullptr});
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(m);
    dalo_solver_result* r =
        integer ? dalo_brisk_solver_wrapper_search_int(w, params.data(), nullptr, nullptr, 0)
                : dalo_brisk_solver_wrapper_search(w, params.data(), nullptr);
    dalo_brisk_solver_wrapper_destroy(w);
    return r;
}

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t k = v.size();
    return k == 0 ? 0.0 : (k % 2 ? v[k / 2] : 0.5 * (v[k / 2 - 1] + v[k / 2]));
}

std::map<std::string, int64_t> best_known(const std::string& dir) {
    std::map<std::string, int64_t> out;
    std::ifstream in(dir + "/best_known.tsv");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        char name[64], kind[32];
        long long n = 0, best = 0;
        if (std::sscanf(line.c_str(), "%63s %31s %lld %lld", name, kind, &n, &best) == 4)
            out[name] = best;
    }
    return out;
}

// Bounded knapsack with a squared capacity penalty (items 0..max_count each).
dalo_model* knapsack(uint64_t items, int64_t max_count, uint64_t seed) {
    const dalo_var first = dalo_new_int_var_array("k", &items, 1, 0, max_count);
    std::mt19937_64 rng(seed);
    dalo_expr* obj = dalo_expr_create();
    dalo_expr* body = dalo_expr_create();
    int64_t total = 0;
    for (uint64_t i = 0; i < items; ++i) {
        const dalo_var v = first + static_cast<dalo_var>(i);
        const int64_t weight = 1 + static_cast<int64_t>(rng() % 3);
        dalo_expr_iadd_raw_term(obj, -(10 + static_cast<int64_t>(rng() % 91)), &v, 1);
        dalo_expr_iadd_raw_term(body, weight, &v, 1);
        total += weight * max_count;
    }
    dalo_expr* cons = dalo_cons_between(body, 0, total / 4);
    dalo_expr_imul_int(cons, 4);
    dalo_expr_iadd_expr(obj, cons);
    dalo_expr* simple = dalo_expr_simplify_as_binary(obj);
    dalo_model* m = dalo_model_create(simple);
    for (dalo_expr* e : {obj, body, cons, simple}) dalo_expr_destroy(e);
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    int seeds = 5;
    int first_seed = 1;
    std::string threads = "2";
    double cap = 10.0;
    bool ttb = true, rate = true, integer = true, each = false;
    std::vector<std::string> only;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        auto next = [&] { return a + 1 < argc ? std::string(argv[++a]) : std::string(); };
        if (arg == "--data") {
            dir = next();
        } else if (arg == "--seeds") {
            seeds = std::max(1, std::atoi(next().c_str()));
        } else if (arg == "--threads") {
            threads = next();
        } else if (arg == "--cap") {
            cap = std::atof(next().c_str());
        } else if (arg == "--only") {
            only.push_back(next());
        } else if (arg == "--no-ttb") {
            ttb = false;
        } else if (arg == "--no-rate") {
            rate = false;
        } else if (arg == "--no-int") {
            integer = false;
        } else if (arg == "--first-seed") {
            first_seed = std::atoi(next().c_str());
        } else if (arg == "--each") {
            each = true;
        }
    }
    if (dir.empty()) dir = bench::data_dir(std::getenv("DALO_BENCH_DATA"));
    const bool have_data = !dir.empty() && exists(dir + "/best_known.tsv");
    if (!have_data) std::printf("benchmark data not found: time to best known left out\n");
    const auto known = have_data ? best_known(dir) : std::map<std::string, int64_t>{};

    if (ttb && have_data) {
        std::vector<std::string> names = only;
        if (names.empty()) {
            names = {"G1", "G11", "G22", "G43"};
            for (int n : {50, 100, 250, 500, 1000}) {
                for (int k = 1; k <= 10; ++k)
                    names.push_back("bqp" + std::to_string(n) + "." + std::to_string(k));
            }
        }
        std::printf("%-12s %6s %10s %10s %8s %12s %12s\n", "instance", "n", "best", "found",
                    "reached", "median_s", "max_s");
        for (const std::string& name : names) {
            Instance inst;
            const bool ok = read_instance(dir, name, inst);
            if (!ok || known.count(name) == 0) {
                std::printf("%-12s missing\n", name.c_str());
                continue;
            }
            const int64_t target = -known.at(name);
            dalo_model* m = build(inst);
            std::vector<double> times, found;
            int reached = 0;
            for (int s = first_seed; s < first_seed + seeds; ++s) {
                const double cpu0 = cpu_seconds();
                dalo_solver_result* r = search(m,
                                               {{"target_energy", std::to_string(target)},
                                                {"time_limit", std::to_string(cap)},
                                                {"threads", threads},
                                                {"seed", std::to_string(s)}},
                                               false);
                const int64_t e = dalo_brisk_solver_result_energy(r, nullptr);
                const double t = std::stod(info(r, "run_time"));
                if (e <= target) ++reached;
                found.push_back(-static_cast<double>(e));
                times.push_back(e <= target ? t : cap);
                if (each) {
                    std::printf("  seed %-4d %10" PRId64 " %10.4f s %10.4f cpu_s %14s flips\n", s,
                                -e, t, cpu_seconds() - cpu0, info(r, "flips").c_str());
                }
                dalo_brisk_solver_result_destroy(r);
            }
            std::printf("%-12s %6u %10" PRId64 " %10.0f %5d/%-2d %12.4f %12.4f\n", name.c_str(),
                        inst.n, known.at(name), median(found), reached, seeds, median(times),
                        *std::max_element(times.begin(), times.end()));
            std::fflush(stdout);
            dalo_model_destroy(m);
        }
    }

    if (rate) {
        std::vector<Instance> sets;
        if (have_data) {
            Instance g22;
            if (read_instance(dir, "G22", g22)) sets.push_back(g22);
        }
        sets.push_back(random_cubic(10000));
        std::printf("\n%-12s %16s %22s %18s %16s (1 thread, 2 s)\n", "model", "flips_per_s",
                    "moves_evaluated_per_s", "flips_per_cpu_s", "runs_per_cpu_s");
        for (const Instance& inst : sets) {
            dalo_model* m = build(inst);
            const double cpu0 = cpu_seconds();
            dalo_solver_result* r =
                search(m, {{"time_limit", "2"}, {"threads", "1"}, {"seed", "1"}}, false);
            const double cpu = cpu_seconds() - cpu0;
            const double t = std::stod(info(r, "run_time"));
            std::printf("%-12s %16.3e %22.3e %18.3e %16.1f\n", inst.name.c_str(),
                        std::stod(info(r, "flips")) / t, std::stod(info(r, "moves_evaluated")) / t,
                        std::stod(info(r, "flips")) / cpu, std::stod(info(r, "restarts")) / cpu);
            std::fflush(stdout);
            dalo_brisk_solver_result_destroy(r);
            dalo_model_destroy(m);
        }
    }

    if (integer) {
        std::printf("\n%-22s %14s %14s (best energy after 1 s, %s threads, median of %d)\n",
                    "integer model", "library", "unified", threads.c_str(), seeds);
        struct Shape {
            uint64_t items;
            int64_t max_count;
        };
        for (const Shape& sh : {Shape{200, 3}, Shape{200, 30}, Shape{1000, 100}}) {
            dalo_model* m = knapsack(sh.items, sh.max_count, 20240611);
            double med[2];
            for (int engine = 0; engine < 2; ++engine) {
                if (engine == 1) {
                    setenv("DALO_INT_UNIFIED", "1", 1);
                } else {
                    unsetenv("DALO_INT_UNIFIED");
                }
                std::vector<double> energies;
                for (int s = 1; s <= seeds; ++s) {
                    dalo_solver_result* r = search(
                        m, {{"time_limit", "1"}, {"threads", threads}, {"seed", std::to_string(s)}},
                        true);
                    energies.push_back(
                        static_cast<double>(dalo_brisk_solver_result_energy(r, nullptr)));
                    dalo_brisk_solver_result_destroy(r);
                }
                med[engine] = median(energies);
            }
            unsetenv("DALO_INT_UNIFIED");
            char label[64];
            std::snprintf(label, sizeof label, "knapsack %" PRIu64 "x0..%" PRId64, sh.items,
                          sh.max_count);
            std::printf("%-22s %14.0f %14.0f\n", label, med[0], med[1]);
            std::fflush(stdout);
            dalo_model_destroy(m);
        }
    }
    return 0;
}

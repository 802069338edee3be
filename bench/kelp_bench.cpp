// KELPSolver's CPU path beside BriskSolver on the shared benchmark set, in one run.
//
//   kelp_bench [--seeds N] [--threads T] [--cap S] [--only NAME ...] [--gpu]
//
// Time to best known: for each instance (G1, G11, G22, G43 and the bqp instances by default)
// N seeded searches per solver with T threads and the best-known value as target energy; a
// row gives per solver the median value found, how many searches reached the target, and
// the median of the wrapper's own run time (a miss counts as the cap). A last table gives
// KELP's moves per second on G22 (one thread, two seconds).
// --gpu: KELP alone in GPU mode 1 (the first device), on G22, G55 and G60 by default, and the
// moves per second on G22 of the GPU beside the CPU path.
// The data folder is $DALO_BENCH_DATA, else ../shared/bench, ../../shared/bench or
// /work/shared/bench.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_instances.hpp"
#include "dalo.h"

namespace {

int32_t g_mode = 0;  // KELP's GPU mode

std::string info(const dalo_solver_result* r, const char* key) {
    for (uint64_t i = 0; i < dalo_brisk_solver_result_info_count(r); ++i) {
        if (std::strcmp(key, dalo_brisk_solver_result_info_key(r, i)) == 0)
            return dalo_brisk_solver_result_info_value(r, i);
    }
    return "0";
}

dalo_solver_result* search(const dalo_model* m, bool kelp,
                           const std::vector<std::pair<std::string, std::string>>& items) {
    std::vector<dalo_param> params;
    for (const auto& [k, v] : items) params.push_back({k.c_str(), v.c_str()});
    params.push_back({nullptr, nullptr});
    if (kelp) {
        dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(m, g_mode);
        dalo_solver_result* r = dalo_kelp_wrapper_search(w, params.data(), nullptr);
        dalo_kelp_wrapper_destroy(w);
        return r;
    }
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(m);
    dalo_solver_result* r = dalo_brisk_solver_wrapper_search(w, params.data(), nullptr);
    dalo_brisk_solver_wrapper_destroy(w);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = bench::data_dir(std::getenv("DALO_BENCH_DATA"));
    int seeds = 5;
    std::string threads = "2";
    double cap = 10.0;
    std::vector<std::string> names;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        auto next = [&] { return a + 1 < argc ? std::string(argv[++a]) : std::string(); };
        if (arg == "--seeds") {
            seeds = std::max(1, std::atoi(next().c_str()));
        } else if (arg == "--threads") {
            threads = next();
        } else if (arg == "--cap") {
            cap = std::atof(next().c_str());
        } else if (arg == "--only") {
            names.push_back(next());
        } else if (arg == "--gpu") {
            g_mode = 1;
        }
    }
    if (dir.empty()) {
        std::printf("benchmark data not found\n");
        return 1;
    }
    const auto known = bench::best_known(dir);
    if (names.empty() && g_mode != 0) names = {"G22", "G55", "G60"};
    if (names.empty()) {
        names = {"G1", "G11", "G22", "G43"};
        for (int n : {50, 100, 250, 500, 1000}) {
            for (int k = 1; k <= 10; ++k)
                names.push_back("bqp" + std::to_string(n) + "." + std::to_string(k));
        }
    }
    std::printf("%-12s %6s %8s | %8s %7s %10s | %8s %7s %10s   (%s threads, %d seeds, cap %g s)\n",
                "instance", "n", "best", "brisk", "reached", "median_s", "kelp", "reached",
                "median_s", threads.c_str(), seeds, cap);
    for (const std::string& name : names) {
        bench::Instance inst;
        if (!bench::read_instance(dir, name, inst) || known.count(name) == 0) {
            std::printf("%-12s missing\n", name.c_str());
            continue;
        }
        const int64_t target = -known.at(name);
        dalo_model* m = bench::build(inst);
        std::printf("%-12s %6u %8" PRId64, name.c_str(), inst.n, known.at(name));
        for (bool kelp : {false, true}) {
            if (!kelp && g_mode != 0) {
                std::printf(" | %8s %7s %10s", "-", "-", "-");
                continue;
            }
            std::vector<double> times, found;
            int reached = 0;
            for (int s = 1; s <= seeds; ++s) {
                dalo_solver_result* r = search(m, kelp,
                                               {{"target_energy", std::to_string(target)},
                                                {"time_limit", std::to_string(cap)},
                                                {"threads", threads},
                                                {"seed", std::to_string(s)}});
                const int64_t e = dalo_brisk_solver_result_energy(r, nullptr);
                const double t = std::stod(info(r, "run_time"));
                reached += e <= target ? 1 : 0;
                found.push_back(-static_cast<double>(e));
                times.push_back(e <= target ? t : cap);
                dalo_brisk_solver_result_destroy(r);
            }
            std::printf(" | %8.0f %4d/%-2d %10.4f", bench::median(found), reached, seeds,
                        bench::median(times));
        }
        std::printf("\n");
        std::fflush(stdout);
        dalo_model_destroy(m);
    }
    bench::Instance g22;
    if (bench::read_instance(dir, "G22", g22)) {
        dalo_model* m = bench::build(g22);
        const int32_t mode = g_mode;
        for (int32_t pass : {0, 1}) {
            if (pass == 1 && mode == 0) break;
            g_mode = pass;
            // A plug-in with the GPU solver serves mode 0 with it too; "gpu" = 0 keeps it on
            // the CPU search.
            dalo_solver_result* r = search(
                m, true,
                {{"time_limit", "2"}, {"threads", "1"}, {"seed", "1"}, {"gpu", pass ? "1" : "0"}});
            std::printf("%sKELP %s on G22, 1 thread, 2 s: %.3e moves per second\n",
                        pass == 0 ? "\n" : "", pass == 0 ? "CPU" : "GPU",
                        std::stod(info(r, "moves")) / std::stod(info(r, "run_time")));
            dalo_brisk_solver_result_destroy(r);
        }
        g_mode = mode;
        dalo_model_destroy(m);
    }
    return 0;
}

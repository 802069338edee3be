// The integer search engine: rounds of simulated annealing followed by greedy descent on
// worker threads, sharing one best state; optionally a thread that feeds an integer GPU engine
// with start states and offers what it returns. Here: the options, and the search that starts
// the threads, serves the timer and builds the result.
#include "solvers/int_engine.hpp"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "core/fatal.hpp"
#include "solvers/int_engine/detail.hpp"
#include "solvers/int_engine/setup.hpp"
#include "solvers/int_engine/state.hpp"
#include "solvers/sysinfo.hpp"

namespace dalo {

namespace {

using namespace int_detail;

uint32_t default_threads() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<uint32_t>(n);
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string fixed6(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", v);
    return buf;
}

}  // namespace

IntSearchOpts int_search_options(const ParamList& params, const std::string& name) {
    IntSearchOpts o;
    o.name = name;
    o.seed = std::random_device{}();
    o.threads = default_threads();
    for (const auto& [key, value] : params.items()) {
        if (key == "time_limit") {
            o.time_limit = std::strtod(value.c_str(), nullptr);
        } else if (key == "target_energy") {
            o.target = parse_param_int(value);
            o.has_target = true;
        } else if (key == "seed") {
            o.seed = parse_param_uint(value);
        } else if (key == "threads") {
            const uint64_t n = parse_param_uint(value);
            if (n == 0) fatal(name + ": threads must be >= 1.");
            o.threads = static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX));
        } else if (key == "topk_sols") {
            o.topk = parse_param_uint(value);
            if (o.topk == 0) fatal(name + ": topk_sols must be >= 1.");
        } else if (key == "best_energy_sols") {
            o.best_energy_sols = true;
            o.best_energy_limit =
                !value.empty() && value[0] >= '0' && value[0] <= '9' ? parse_param_uint(value) : 0;
        } else if (key == "enable_default_callback") {
            o.default_callback = value == "1" || value == "true" || value == "True";
        } else {
            fatal(name + ": parameter '" + key +
                  "' is not supported for native integer models yet.");
        }
    }
    return o;
}

void set_int_hint(IntSearchOpts& opts, const ModelImpl& m, const uint64_t* bits,
                  const int64_t* ints, uint64_t count) {
    if (bits == nullptr) return;
    if (count != m.int_count()) fatal(opts.name + ": hint integer-variable count mismatch.");
    for (uint64_t a = 0; a < count; ++a) {
        if (ints[a] < m.int_lower[a] || ints[a] > m.int_upper[a])
            fatal(opts.name + ": hint value outside the integer variable's bounds.");
    }
    opts.hint_bits = bits;
    opts.hint_ints = ints;
}

SolverResult brisk_int_search(const ModelImpl& m, IntSearchOpts& opts) {
    const Clock::time_point start = Clock::now();
    const Problem pr(m);
    Shared sh(m, opts, pr, start);
    const bool gpu = opts.gpu_engine != nullptr && opts.gpu_round != nullptr;
    const uint32_t threads = std::max(1u, opts.threads);

    if (opts.callback != nullptr) {
        std::lock_guard<std::mutex> g(sh.lock);
        sh.call_host(sh.start_sol(), 0);
    }

    std::thread submitter;
    if (threads < 2 && opts.callback == nullptr) {
        if (gpu) submitter = std::thread([&sh] { run_submitter(sh); });
        run_worker(sh, 0);
        if (gpu) submitter.join();
    } else {
        std::mutex finish_lock;
        std::condition_variable finished_cv;
        uint32_t finished = 0;
        const uint32_t total = threads + (gpu ? 1 : 0);
        auto finish = [&] {
            std::lock_guard<std::mutex> g(finish_lock);
            ++finished;
            finished_cv.notify_all();
        };
        std::vector<std::thread> pool;
        pool.reserve(threads);
        for (uint32_t w = 0; w < threads; ++w) {
            pool.emplace_back([&sh, &finish, w] {
                run_worker(sh, w);
                finish();
            });
        }
        if (gpu) {
            submitter = std::thread([&sh, &finish] {
                run_submitter(sh);
                finish();
            });
        }
        for (;;) {
            std::unique_lock<std::mutex> lk(finish_lock);
            if (finished_cv.wait_for(lk, std::chrono::milliseconds(20),
                                     [&] { return finished == total; }))
                break;
            lk.unlock();
            if (opts.callback != nullptr) sh.timer_tick();
        }
        for (std::thread& t : pool) t.join();
        if (gpu) submitter.join();
    }
    const double run_time = seconds_since(start);

    if (!sh.keeper.has_best())
        fatal(opts.name + ": internal error — integer engine produced no solution.");
    const KeptState& best = sh.keeper.best();
    if (evaluate_state(m, best.vals.data()).energy != best.energy)
        fatal(opts.name + ": internal error — best-state energy mismatch in integer engine.");

    SolverResult r;
    r.energy = best.energy;
    r.tts = best.tts;
    r.scale = 1.0;
    r.bits = PodArray<uint64_t>(pr.words, 0);
    pack_bits(best.vals.data(), pr.nbin, r.bits.data());
    r.int_values.assign(best.vals.begin() + pr.nbin, best.vals.end());
    for (const KeptState& k : sh.keeper.kept()) {
        TopkEntry e;
        e.energy = k.energy;
        e.tts = k.tts;
        e.bits = PodArray<uint64_t>(pr.words, 0);
        pack_bits(k.vals.data(), pr.nbin, e.bits.data());
        e.int_values.assign(k.vals.begin() + pr.nbin, k.vals.end());
        r.topk.push_back(std::move(e));
    }
    r.add_info("run_time", fixed6(run_time));
    r.add_info("threads", std::to_string(opts.threads));
    r.add_info("rounds", std::to_string(sh.rounds.load()));
    r.add_info("proposals", std::to_string(sh.proposals.load()));
    r.add_info("engine", gpu ? "integer-cpu+gpu" : "integer-cpu");
    append_system_info(r.info);

    if (gpu && std::getenv("DALO_KELP_INT_DEBUG") != nullptr) {
        std::fprintf(stderr, "[kelp-int-gpu] rounds=%" PRIu64 " submissions=%" PRIu64 "\n",
                     sh.rounds.load(), sh.submissions.load());
        std::fflush(stderr);
    }
    return r;
}

}  // namespace dalo

// The state the integer search's threads share, and the entry points of those threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <vector>

#include "model/sol.hpp"
#include "solvers/int_engine.hpp"
#include "solvers/int_engine/detail.hpp"
#include "solvers/int_engine/setup.hpp"

namespace dalo::int_detail {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// What the workers and the submitter share: options, the kept list and best state under one
// lock, the stop conditions and the counters.
struct Shared {
    const ModelImpl& m;
    IntSearchOpts& opts;
    const Problem& pr;
    ModelHandle handle;  // for the Sols handed to the host callback
    Clock::time_point start;
    Clock::time_point deadline;
    bool has_deadline = true;

    std::mutex lock;
    Keeper keeper;
    double timer_interval = 0.0;  // seconds; 0: off
    Clock::time_point last_timer;

    std::atomic<bool> done{false};
    std::atomic<bool> has_best{false};
    std::atomic<int64_t> best_energy{0};
    std::atomic<uint64_t> rounds{0};
    std::atomic<uint64_t> proposals{0};
    std::atomic<uint64_t> submissions{0};

    Shared(const ModelImpl& model, IntSearchOpts& o, const Problem& p, Clock::time_point t0)
        : m(model),
          opts(o),
          pr(p),
          handle(o.model ? o.model : ModelHandle(ModelHandle(), &model)),
          start(t0),
          keeper(o.topk, o.best_energy_sols, o.best_energy_limit),
          last_timer(t0) {
        const double limit = o.time_limit;
        if (!(limit > 0.0)) {
            deadline = t0;
        } else if (limit > 1e9) {
            has_deadline = false;
        } else {
            deadline = t0 + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(limit));
        }
    }

    bool should_stop() const {
        if (done.load(std::memory_order_relaxed)) return true;
        if (opts.stop != nullptr && opts.stop->load(std::memory_order_relaxed) != 0) return true;
        return has_deadline && Clock::now() >= deadline;
    }

    SolImpl* make_sol(const int64_t* vals, energy_t energy, double tts) const {
        PodArray<uint64_t> bits(pr.words, 0);
        pack_bits(vals, pr.nbin, bits.data());
        auto* sol = new SolImpl(handle, energy, std::move(bits), tts);
        sol->int_vals.assign(vals + pr.nbin, vals + pr.positions);
        return sol;
    }

    SolImpl* start_sol() const {
        auto* sol = new SolImpl(handle);
        sol->tts = 0.0;
        return sol;
    }

    // Calls the host callback (under the lock) and applies its answer to the timer.
    void call_host(SolImpl* sol, uint32_t event) {
        const double answer = opts.callback(opts.callback_context, sol, event);
        if (answer > 0.0) {
            // Switching the timer on starts its interval now.
            if (timer_interval <= 0.0) last_timer = Clock::now();
            timer_interval = answer;
        } else if (answer == 0.0) {
            timer_interval = 0.0;
        }
    }

    void print_progress(const StateEval& ev, double tts) const {
        char line[160];
        int n = std::snprintf(line, sizeof line, "TTS = %.3fs Energy = %" PRId64, tts, ev.energy);
        if (!m.native_cons.empty()) {
            n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), " Obj = %" PRId64,
                               s(u(ev.energy) - u(ev.penalty)));
            if (ev.counted > 0) {
                std::snprintf(line + n, sizeof line - static_cast<size_t>(n),
                              " Viol = %" PRIu64 "/%" PRIu64, ev.violated, ev.counted);
            }
        }
        std::printf("%s\n", line);
        std::fflush(stdout);
    }

    void offer(const int64_t* vals, energy_t energy) {
        std::lock_guard<std::mutex> g(lock);
        const double tts = seconds_since(start);
        if (!keeper.offer(vals, pr.positions, energy, tts)) return;
        best_energy.store(energy, std::memory_order_relaxed);
        has_best.store(true, std::memory_order_release);
        if (opts.default_callback || (opts.has_target && energy <= opts.target)) {
            const StateEval ev = evaluate_state(m, vals);
            if (opts.default_callback) print_progress(ev, tts);
            if (opts.has_target && energy <= opts.target && ev.violated == 0) done.store(true);
        }
        if (opts.callback != nullptr) call_host(make_sol(vals, energy, tts), 1);
    }

    // Copies the best state into vals; false when there is none yet.
    bool copy_best(std::vector<int64_t>& vals) {
        std::lock_guard<std::mutex> g(lock);
        if (!keeper.has_best()) return false;
        vals = keeper.best().vals;
        return true;
    }

    void timer_tick() {
        std::lock_guard<std::mutex> g(lock);
        if (timer_interval <= 0.0) return;
        const Clock::time_point now = Clock::now();
        if (std::chrono::duration<double>(now - last_timer).count() < timer_interval) return;
        last_timer = now;
        const KeptState& b = keeper.best();
        call_host(keeper.has_best() ? make_sol(b.vals.data(), b.energy, b.tts) : start_sol(), 2);
    }
};

// The bodies of the search threads: a worker of the given index, the GPU submitter.
void run_worker(Shared& sh, uint32_t index);
void run_submitter(Shared& sh);

}  // namespace dalo::int_detail

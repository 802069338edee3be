// Replica-exchange search (parallel tempering) over a KELP Model: each thread runs a ladder
// of replicas at geometric temperatures, exchanging neighbours after every sweep and
// reseeding its hottest replica by crossover of the best state with a random one when the
// ladder stalls.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dalo_plugin.h"
#include "model.hpp"

namespace kelp {

using Clock = std::chrono::steady_clock;

struct Options {
    double time_limit = 10.0;
    bool has_target = false;
    int64_t target = 0;
    uint64_t seed = 0;
    uint32_t threads = 1;
    uint32_t replicas = 16;
    double timer_interval = 1.0;  // seconds between timer events
    uint64_t topk = 0;            // 0: no list of the k best
    bool best_energy_sols = false;
    uint64_t best_energy_limit = 0;  // 0: every state at the best energy
    bool device = true;              // "gpu" = 0: the GPU solver runs the CPU search
    Clock::time_point start = Clock::now();
};

// Parses the parameter pairs; an unknown key or a bad value ends the process with a message.
Options parse_options(const dalo_plugin_pair* params);

// A start state offered while a search runs (from any thread).
class Hint {
  public:
    void offer(std::vector<int64_t> values) {
        std::lock_guard<std::mutex> lock(mutex_);
        values_ = std::move(values);
        pending_.store(true, std::memory_order_release);
    }
    bool pending() const { return pending_.load(std::memory_order_acquire); }
    bool take(std::vector<int64_t>& out) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pending_.load(std::memory_order_relaxed)) return false;
        out = values_;
        pending_.store(false, std::memory_order_relaxed);
        return true;
    }

  private:
    std::mutex mutex_;
    std::vector<int64_t> values_;
    std::atomic<bool> pending_{false};
};

// Receives progress: event 1 on a new best, 2 on the timer; values of every position.
using Progress = void (*)(void* context, int64_t energy, const std::vector<int64_t>& values,
                          uint32_t event, double seconds);

struct Outcome {
    int64_t energy = 0;
    double tts = 0.0;
    std::vector<int64_t> values;
    bool stopped = false;
    // The k best distinct states seen, or those at the best energy; ascending energy.
    std::vector<std::pair<int64_t, std::vector<int64_t>>> list;
    uint64_t sweeps = 0, moves = 0;
    uint64_t groups = 0;      // one-hot groups among the constraints (0: not all are)
    std::string group_moves;  // the moves that kept them, or why none did
};

Outcome search(const Model& m, const Options& o, Hint& hint, const uint8_t* stop, Progress progress,
               void* progress_context);

}  // namespace kelp

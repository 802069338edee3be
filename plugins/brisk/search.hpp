// The multi-threaded search over a binary Problem and its parameters.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dalo_plugin.h"
#include "model.hpp"
#include "rng.hpp"

namespace brisk {

struct Options {
    double time_limit = 10.0;
    bool has_target = false;
    int64_t target = 0;
    uint64_t seed = 0;
    uint32_t threads = 1;
    uint64_t topk = 0;  // 0: no list
    bool best_energy_sols = false;
    uint64_t best_energy_limit = 0;  // 0: no limit
    bool default_callback = false;
    // The searches that may run ("search": portfolio, annealing or breakout).
    bool annealing = true;
    bool breakout = true;
    // When the plug-in call began: the time limit counts from here, preparation included.
    Clock::time_point start = Clock::now();
};

// Parses the parameter pairs; unknown keys and bad values end the process with a message.
// The thread count goes by "threads" or "thread_count".
Options parse_options(const dalo_plugin_pair* params);

// Online processors available to this process.
uint32_t default_threads();

struct Found {
    int64_t energy = 0;
    double tts = 0.0;
    std::vector<uint8_t> x;
};

struct Outcome {
    Found best;
    std::vector<Found> list;  // top-k or best-energy solutions, ascending energy
    bool has_list = false;
    std::vector<std::pair<std::string, std::string>> info;
};

using ProgressCallback = dalo_plugin_callback;

// Searches from random starts (and the hint, bits of var_count variables, when given).
Outcome search(const Problem& p, const Options& o, const uint64_t* hint, ProgressCallback cb);

}  // namespace brisk

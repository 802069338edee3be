// The library's own search engine for Models with native integer variables (annealing plus
// greedy descent on worker threads), shared by the BriskSolver and KELPSolver wrappers.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "dalo.h"
#include "model/model.hpp"
#include "solvers/callback.hpp"
#include "solvers/params.hpp"
#include "solvers/result.hpp"

namespace dalo {

// Fetches a pending hint for consumer 0 (workers) or 1 (GPU submitter) into the buffers;
// true when one was taken.
using HintFetch = bool (*)(void* context, int consumer, uint64_t* bits, int64_t* int_values);
// The integer GPU engine's entry points (see dalo_plugin.h).
using IntRoundFn = int32_t (*)(void*, const uint64_t*, const int64_t*, uint32_t, uint64_t*,
                               int64_t*, int64_t*, uint8_t*);
using IntHintFn = void (*)(void*, const uint64_t*, const int64_t*);

struct IntSearchOpts {
    double time_limit = 10.0;
    bool has_target = false;
    energy_t target = 0;
    uint64_t seed = 0;
    uint32_t threads = 1;
    uint64_t topk = 0;  // 0: no top-k list
    bool best_energy_sols = false;
    uint64_t best_energy_limit = 0;  // 0: no limit
    bool default_callback = false;
    const uint64_t* hint_bits = nullptr;
    const int64_t* hint_ints = nullptr;
    std::string name = "BriskSolver";  // prefixes the engine's messages
    const std::atomic<uint8_t>* stop = nullptr;
    SolCallback callback = nullptr;
    void* callback_context = nullptr;
    ModelHandle model;
    HintFetch hint_fetch = nullptr;
    void* hint_context = nullptr;
    void* gpu_engine = nullptr;
    IntRoundFn gpu_round = nullptr;
    IntHintFn gpu_hint = nullptr;
};

// Defaults (time limit 10 s, a random seed, threads from the affinity mask), then the
// parameters; unknown keys and bad values are fatal, a bad integer throws std::runtime_error.
IntSearchOpts int_search_options(const ParamList& params, const std::string& name);

// Validates a hint given to search_int (count and bounds) and stores it in the options.
void set_int_hint(IntSearchOpts& opts, const ModelImpl& m, const uint64_t* bits,
                  const int64_t* ints, uint64_t count);

// Runs the search; the result's info ends with the system keys.
SolverResult brisk_int_search(const ModelImpl& m, IntSearchOpts& opts);

}  // namespace dalo

// Exhaustive Gray-code enumeration of a compiled Model over worker threads.
#pragma once

#include <cstdint>
#include <vector>

#include "dalo_plugin.h"
#include "model.hpp"

namespace sweep {

struct SearchOptions {
    uint32_t threads = 1;
    uint64_t topk = 0;           // 0: no top-k list
    bool collect = false;        // list every assignment of the best energy
    uint64_t collect_limit = 0;  // 0: no limit
    double time_limit = 0.0;     // seconds; 0: none
    bool has_target = false;     // stop once an energy at or below target is found
    int64_t target = 0;
    bool print_progress = false;
    dalo_plugin_sweep_callback callback = nullptr;
};

// Parses the parameter pairs (the callback is left to the caller); an unknown key or a bad
// value ends the process with a message.
SearchOptions parse_options(const dalo_plugin_pair* params);

// An assignment in model order (model index i = bit i) with its energy and the seconds from
// the start of the search to when it was found.
struct Found {
    int64_t energy;
    u64 bits;
    double tts;
};

// Assignments compare by energy, then as numbers over the model bits: the enumeration gives
// the same answers whatever the thread count.
inline bool before(int64_t ea, u64 ba, int64_t eb, u64 bb) {
    return ea < eb || (ea == eb && ba < bb);
}
inline bool before(const Found& a, const Found& b) {
    return before(a.energy, a.bits, b.energy, b.bits);
}

struct SearchResult {
    Found best{};
    std::vector<Found> list;  // the top-k or best-energy list when asked for
    uint64_t states = 0;
    uint32_t threads = 0;
    bool complete = false;
    const char* cut_short = nullptr;  // "time_limit" or "target_energy" when it stopped early
};

SearchResult search(const Compiled& c, const SearchOptions& opts);

}  // namespace sweep

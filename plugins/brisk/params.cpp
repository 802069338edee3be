// BriskSolver's parameters: its table of keys for the shared walker.
#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "common/params.hpp"
#include "search.hpp"

namespace brisk {

namespace {

[[noreturn]] void fail(const std::string& msg) { plugin_common::fatal("BriskSolver: " + msg); }

[[noreturn]] void bad(const std::string& key, const char* value) {
    fail(plugin_common::invalid_value(key, value));
}

void read_threads(Options& o, const std::string& key, const char* value) {
    uint64_t v = 0;
    if (!plugin_common::uint_then_blanks(value, v)) bad(key, value);
    if (v == 0) fail("threads must be >= 1.");
    o.threads = static_cast<uint32_t>(std::min<uint64_t>(v, 1024));
}

constexpr plugin_common::Key<Options> kKeys[] = {
    {"time_limit",
     [](Options& o, const std::string& key, const char* value) {
         char* end = nullptr;
         o.time_limit = std::strtod(value, &end);
         if (end == value || std::isnan(o.time_limit)) bad(key, value);
         while (*end == ' ' || *end == '\t') ++end;
         if (*end != '\0') bad(key, value);
     }},
    {"target_energy",
     [](Options& o, const std::string& key, const char* value) {
         if (!plugin_common::int_then_blanks(value, o.target)) bad(key, value);
         o.has_target = true;
     }},
    {"seed",
     [](Options& o, const std::string& key, const char* value) {
         int64_t v = 0;
         uint64_t w = 0;
         if (plugin_common::uint_then_blanks(value, w)) {
             o.seed = w;
         } else if (plugin_common::int_then_blanks(value, v)) {
             o.seed = static_cast<uint64_t>(v);
         } else {
             bad(key, value);
         }
     }},
    {"threads", read_threads},
    {"thread_count", read_threads},
    {"topk_sols",
     [](Options& o, const std::string& key, const char* value) {
         if (!plugin_common::uint_then_blanks(value, o.topk)) bad(key, value);
         if (o.topk == 0) fail("topk_sols must be >= 1.");
     }},
    {"best_energy_sols",
     [](Options& o, const std::string& key, const char* value) {
         if (!plugin_common::uint_then_blanks(value, o.best_energy_limit)) bad(key, value);
         o.best_energy_sols = true;
     }},
    {"search",
     [](Options& o, const std::string& key, const char* value) {
         const std::string v = value;
         if (v != "portfolio" && v != "annealing" && v != "breakout") bad(key, value);
         o.annealing = v != "breakout";
         o.breakout = v != "annealing";
     }},
    {"enable_default_callback",
     [](Options& o, const std::string& key, const char* value) {
         if (plugin_common::is_true(value)) {
             o.default_callback = true;
         } else if (plugin_common::is_false(value)) {
             o.default_callback = false;
         } else {
             bad(key, value);
         }
     }},
};

}  // namespace

uint32_t default_threads() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<uint32_t>(n);
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

Options parse_options(const dalo_plugin_pair* params) {
    Options o;
    o.seed = std::random_device{}();
    o.threads = default_threads();
    plugin_common::read_params(
        params, kKeys, o, [](const std::string& key) { fail("unknown parameter '" + key + "'"); });
    if (o.topk > 0 && o.best_energy_sols) fail("topk_sols and best_energy_sols exclude each other");
    return o;
}

}  // namespace brisk

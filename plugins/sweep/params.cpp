// SweepSolver's parameters: its table of keys for the shared walker.
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/params.hpp"
#include "search.hpp"

namespace sweep {

namespace {

// More threads than this only add start-up cost.
constexpr int kMaxThreads = 1024;

// The cores this process may run on.
uint32_t online_processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<uint32_t>(std::min<int>(CPU_COUNT(&set), kMaxThreads));
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    if (n > 0) return static_cast<uint32_t>(std::min<long>(n, kMaxThreads));
    return std::max(1u, std::thread::hardware_concurrency());
}

[[noreturn]] void bad_value(const std::string& key, const char* value, const char* what) {
    fatal("SweepSolver: parameter '" + key + "' must be " + what + " (got '" + value + "')");
}

using plugin_common::whole_int;

constexpr plugin_common::Key<SearchOptions> kKeys[] = {
    {"threads",
     [](SearchOptions& o, const std::string& key, const char* value) {
         int64_t n = 0;
         if (!whole_int(value, n) || n < 1) bad_value(key, value, "a positive integer");
         o.threads = static_cast<uint32_t>(std::min<int64_t>(n, kMaxThreads));
     }},
    {"topk_sols",
     [](SearchOptions& o, const std::string& key, const char* value) {
         int64_t n = 0;
         if (!whole_int(value, n) || n < 1) bad_value(key, value, "a positive integer");
         o.topk = static_cast<uint64_t>(n);
     }},
    // The library reads "best_energy_sols" so: leading digits, 0 when there are none.
    {"best_energy_sols",
     [](SearchOptions& o, const std::string&, const char* value) {
         o.collect = true;
         o.collect_limit = plugin_common::leading_uint(value);
     }},
    {"time_limit",
     [](SearchOptions& o, const std::string& key, const char* value) {
         char* end = nullptr;
         const double t = std::strtod(value, &end);
         if (end == value || *end != '\0' || !(t > 0.0) || !std::isfinite(t))
             bad_value(key, value, "a positive number of seconds");
         o.time_limit = t;
     }},
    {"target_energy",
     [](SearchOptions& o, const std::string& key, const char* value) {
         int64_t n = 0;
         if (!whole_int(value, n)) bad_value(key, value, "an integer");
         o.has_target = true;
         o.target = n;
     }},
    {"enable_default_callback",
     [](SearchOptions& o, const std::string&, const char* value) {
         o.print_progress = plugin_common::is_true(value);
     }},
};

}  // namespace

SearchOptions parse_options(const dalo_plugin_pair* params) {
    SearchOptions o;
    o.threads = online_processors();
    plugin_common::read_params(params, kKeys, o, [](const std::string& key) {
        fatal("SweepSolver: unknown parameter '" + key +
              "' (known: time_limit, target_energy, threads, topk_sols, "
              "best_energy_sols, enable_default_callback)");
    });
    return o;
}

}  // namespace sweep

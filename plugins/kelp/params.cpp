// KELPSolver's parameters: its table of keys for the shared walker.
#include <algorithm>
#include <random>
#include <string>
#include <thread>

#include "common/params.hpp"
#include "search.hpp"

namespace kelp {

namespace {

using plugin_common::whole_double;
using plugin_common::whole_int;

[[noreturn]] void fail(const std::string& what) { plugin_common::fatal("KELPSolver: " + what); }

[[noreturn]] void bad(const std::string& key, const char* value) {
    fail(plugin_common::invalid_value(key, value));
}

void read_threads(Options& o, const std::string& key, const char* value) {
    int64_t iv = 0;
    if (!whole_int(value, iv) || iv < 1) bad(key, value);
    o.threads = static_cast<uint32_t>(std::min<int64_t>(iv, 1024));
}

constexpr plugin_common::Key<Options> kKeys[] = {
    {"time_limit",
     [](Options& o, const std::string& key, const char* value) {
         if (!whole_double(value, o.time_limit)) bad(key, value);
     }},
    {"target_energy",
     [](Options& o, const std::string& key, const char* value) {
         if (!whole_int(value, o.target)) bad(key, value);
         o.has_target = true;
     }},
    {"seed",
     [](Options& o, const std::string& key, const char* value) {
         int64_t iv = 0;
         if (!whole_int(value, iv)) bad(key, value);
         o.seed = static_cast<uint64_t>(iv);
     }},
    {"threads", read_threads},
    {"thread_count", read_threads},
    {"replicas",
     [](Options& o, const std::string& key, const char* value) {
         int64_t iv = 0;
         if (!whole_int(value, iv) || iv < 2) bad(key, value);
         o.replicas = static_cast<uint32_t>(std::min<int64_t>(iv, 4096));
     }},
    {"topk_sols",
     [](Options& o, const std::string& key, const char* value) {
         int64_t iv = 0;
         if (!whole_int(value, iv) || iv < 1) bad(key, value);
         o.topk = static_cast<uint64_t>(iv);
     }},
    {"best_energy_sols",
     [](Options& o, const std::string& key, const char* value) {
         int64_t iv = 0;
         if (!whole_int(value, iv) || iv < 0) bad(key, value);
         o.best_energy_sols = true;
         o.best_energy_limit = static_cast<uint64_t>(iv);
     }},
    {"gpu",
     [](Options& o, const std::string& key, const char* value) {
         int64_t iv = 0;
         if (!whole_int(value, iv) || iv < 0 || iv > 1) bad(key, value);
         o.device = iv == 1;
     }},
    {"timer_interval",
     [](Options& o, const std::string& key, const char* value) {
         if (!whole_double(value, o.timer_interval) || !(o.timer_interval > 0)) bad(key, value);
     }},
};

}  // namespace

Options parse_options(const dalo_plugin_pair* params) {
    Options o;
    o.seed = std::random_device{}();
    o.threads = std::max(1u, std::thread::hardware_concurrency());
    plugin_common::read_params(
        params, kKeys, o, [](const std::string& key) { fail("unknown parameter '" + key + "'"); });
    if (o.topk > 0 && o.best_energy_sols) fail("topk_sols and best_energy_sols exclude each other");
    return o;
}

}  // namespace kelp

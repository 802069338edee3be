#include "solvers/plugins.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "core/fatal.hpp"
#include "dalo.h"

namespace dalo {

namespace {

// Loading, the BriskSolver registry and the callback flags share one lock: the first use
// of a plug-in may come from any thread.
std::mutex& plugin_mutex() {
    static std::mutex m;
    return m;
}

void* open_plugin(const std::string& family, const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
        const char* why = dlerror();
        fatal(family + ": failed to load " + path + ": " +
              (why != nullptr ? why : "unknown error"));
    }
    return h;
}

enum class Need : bool { optional, required };

// Handed to every plug-in that takes it: a plug-in's misuse becomes the library's own.
void plugin_fail(const char* line) { fatal_raw(line); }

// Resolves one entry point into its slot; a missing required one is fatal.
class Resolver {
  public:
    Resolver(void* handle, std::string family) : handle_(handle), family_(std::move(family)) {}
    template <class F>
    void operator()(F& slot, const char* name, Need need) {
        slot = reinterpret_cast<F>(dlsym(handle_, name));
        if (slot == nullptr && need == Need::required)
            fatal(family_ + ": symbol not found: " + name);
    }

  private:
    void* handle_;
    std::string family_;
};

// One table row: the slot of `api` through the resolver `r`.
#define DALO_RESOLVE(slot, symbol, need) r(api.slot, #symbol, Need::need);

std::unique_ptr<BriskSolverApi> load_brisk(const std::string& solver_type) {
    auto owned = std::make_unique<BriskSolverApi>();
    BriskSolverApi& api = *owned;
    api.handle =
        open_plugin("BriskSolver", plugin_dir_with_env() + "brisksolver_" + solver_type + ".so");
    Resolver r(api.handle, "BriskSolver");
    DALO_BRISK_SYMBOLS(DALO_RESOLVE)
    if (api.set_fail != nullptr) api.set_fail(plugin_fail);
    return owned;
}

SweepSolverApi load_sweep() {
    SweepSolverApi api;
    api.handle = open_plugin("SweepSolver", library_dir() + "sweep_" + kSolverType + ".so");
    Resolver r(api.handle, "SweepSolver");
    DALO_SWEEP_SYMBOLS(DALO_RESOLVE)
    if (api.set_fail != nullptr) api.set_fail(plugin_fail);
    return api;
}

KelpSolverApi load_kelp() {
    KelpSolverApi api;
    api.handle = open_plugin("KELPSolver", plugin_dir_with_env() + "kelp_" + kSolverType + ".so");
    Resolver r(api.handle, "KELPSolver");
    DALO_KELP_SYMBOLS(DALO_RESOLVE)
    if (api.solver_create != nullptr) {
        DALO_KELP_GPU_SYMBOLS(DALO_RESOLVE)
    }
    DALO_KELP_INT_SYMBOLS(DALO_RESOLVE)
    if (api.set_fail != nullptr) api.set_fail(plugin_fail);
    // The integer GPU engine is all or nothing.
    if (!api.int_add_cons || !api.int_round2 || !api.int_hint || !api.int_destroy)
        api.int_create = nullptr;
    return api;
}

#undef DALO_RESOLVE

double brisk_callback(void*, const dalo_plugin_energy*, const uint64_t*, uint32_t, double) {
    return -1.0;
}
void sweep_callback(void*, const dalo_plugin_energy*, const uint64_t*, uint32_t, double) {}

}  // namespace

std::string library_dir() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&dalo_var_reset), &info) == 0 || info.dli_fname == nullptr)
        return "lib/";
    const std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

std::string plugin_dir_with_env() {
    const char* env = std::getenv("DALO_LIB_DIR");
    if (env == nullptr || env[0] == '\0') return library_dir();
    std::string dir = env;
    if (dir.back() != '/') dir.push_back('/');
    return dir;
}

const BriskSolverApi& brisk_api(const std::string& solver_type) {
    static std::map<std::string, std::unique_ptr<BriskSolverApi>> registry;
    std::lock_guard<std::mutex> lock(plugin_mutex());
    auto it = registry.find(solver_type);
    if (it == registry.end()) it = registry.emplace(solver_type, load_brisk(solver_type)).first;
    return *it->second;
}

const SweepSolverApi& sweep_api() {
    static const SweepSolverApi api = load_sweep();
    return api;
}

const KelpSolverApi& kelp_api() {
    static const KelpSolverApi api = load_kelp();
    return api;
}

void brisk_register_callback_once(const std::string& solver_type, const BriskSolverApi& api) {
    static std::set<std::string> done;
    std::lock_guard<std::mutex> lock(plugin_mutex());
    if (done.insert(solver_type).second) api.register_callback(brisk_callback);
}

void sweep_register_callback_once(const SweepSolverApi& api) {
    static std::once_flag once;
    std::call_once(once, [&] { api.register_callback(sweep_callback); });
}

void kelp_register_cpu_callback_once(const KelpSolverApi& api, dalo_plugin_callback forward) {
    static std::once_flag once;
    std::call_once(once, [&] { api.cpu_register_callback(forward); });
}

void kelp_register_gpu_callback_once(const KelpSolverApi& api, dalo_plugin_callback forward) {
    static std::once_flag once;
    std::call_once(once, [&] {
        if (api.register_callback != nullptr) api.register_callback(forward);
    });
}

void kelp_register_iv_callback_once(const KelpSolverApi& api, dalo_plugin_callback_iv forward) {
    static std::once_flag once;
    std::call_once(once, [&] { api.cpu_register_callback_iv(forward); });
}

}  // namespace dalo

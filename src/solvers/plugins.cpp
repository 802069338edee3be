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

// Resolves one entry point into its slot; a missing required one is fatal.
class Resolver {
  public:
    Resolver(void* handle, std::string family) : handle_(handle), family_(std::move(family)) {}
    template <class F>
    void operator()(F& slot, const char* name, bool required) {
        slot = reinterpret_cast<F>(dlsym(handle_, name));
        if (slot == nullptr && required) fatal(family_ + ": symbol not found: " + name);
    }

  private:
    void* handle_;
    std::string family_;
};

std::unique_ptr<BriskSolverApi> load_brisk(const std::string& solver_type) {
    auto api = std::make_unique<BriskSolverApi>();
    api->handle =
        open_plugin("BriskSolver", plugin_dir_with_env() + "brisksolver_" + solver_type + ".so");
    Resolver r(api->handle, "BriskSolver");
    r(api->create, "dalo_brisk_solver_create", true);
    r(api->destroy, "dalo_brisk_solver_destroy", true);
    r(api->search, "dalo_brisk_solver_search", true);
    r(api->sol_list_count, "dalo_brisk_solver_sol_list_count", true);
    r(api->sol_list_get, "dalo_brisk_solver_sol_list_get", true);
    r(api->sol_list_destroy, "dalo_brisk_solver_sol_list_destroy", true);
    r(api->register_callback, "dalo_brisk_solver_register_callback", true);
    r(api->get_info, "dalo_brisk_solver_get_info", false);
    r(api->free_info, "dalo_brisk_solver_free_info", false);
    r(api->add_constraint, "dalo_brisk_solver_add_constraint", false);
    r(api->add_constraint_nl, "dalo_brisk_solver_add_constraint_nl", false);
    r(api->add_constraint_set, "dalo_brisk_solver_add_constraint_set", false);
    r(api->set_cons_shape, "dalo_brisk_solver_set_cons_shape", false);
    r(api->set_remainder, "dalo_brisk_solver_set_remainder", false);
    r(api->create_int, "dalo_brisk_solver_create_int", false);
    r(api->search_int, "dalo_brisk_solver_search_int", false);
    return api;
}

SweepSolverApi load_sweep() {
    SweepSolverApi api;
    api.handle = open_plugin("SweepSolver", library_dir() + "sweep_" + kSolverType + ".so");
    Resolver r(api.handle, "SweepSolver");
    r(api.create, "dalo_sweep_create", true);
    r(api.destroy, "dalo_sweep_destroy", true);
    r(api.search, "dalo_sweep_search", true);
    r(api.sol_list_count, "dalo_sweep_sol_list_count", true);
    r(api.sol_list_get, "dalo_sweep_sol_list_get", true);
    r(api.sol_list_destroy, "dalo_sweep_sol_list_destroy", true);
    r(api.register_callback, "dalo_sweep_register_callback", true);
    r(api.get_info, "dalo_sweep_get_info", false);
    r(api.free_info, "dalo_sweep_free_info", false);
    r(api.add_constraint, "dalo_sweep_add_constraint", false);
    r(api.add_constraint_nl, "dalo_sweep_add_constraint_nl", false);
    r(api.add_constraint_set, "dalo_sweep_add_constraint_set", false);
    r(api.set_cons_shape, "dalo_sweep_set_cons_shape", false);
    r(api.set_remainder, "dalo_sweep_set_remainder", false);
    return api;
}

KelpSolverApi load_kelp() {
    KelpSolverApi api;
    api.handle = open_plugin("KELPSolver", plugin_dir_with_env() + "kelp_" + kSolverType + ".so");
    Resolver r(api.handle, "KELPSolver");
    r(api.gpu_device_count, "dalo_kelp_gpu_device_count", true);
    r(api.cpu_solver_create, "dalo_kelp_cpu_solver_create", true);
    r(api.cpu_solver_create_int, "dalo_kelp_cpu_solver_create_int", false);
    r(api.cpu_solver_search_int, "dalo_kelp_cpu_solver_search_int", false);
    r(api.cpu_register_callback_iv, "dalo_kelp_cpu_register_callback_iv", false);
    r(api.cpu_hint_iv, "dalo_kelp_cpu_hint_iv", false);
    r(api.cpu_add_constraint, "dalo_kelp_cpu_add_constraint", false);
    r(api.cpu_add_constraint_nl, "dalo_kelp_cpu_add_constraint_nl", false);
    r(api.cpu_add_constraint_set, "dalo_kelp_cpu_add_constraint_set", false);
    r(api.add_constraint_set, "dalo_kelp_add_constraint_set", false);
    r(api.add_constraint, "dalo_kelp_add_constraint", false);
    r(api.add_constraint_nl, "dalo_kelp_add_constraint_nl", false);
    r(api.cpu_set_cons_shape, "dalo_kelp_cpu_set_cons_shape", false);
    r(api.set_cons_shape, "dalo_kelp_set_cons_shape", false);
    r(api.cpu_set_remainder, "dalo_kelp_cpu_set_remainder", false);
    r(api.set_remainder, "dalo_kelp_set_remainder", false);
    r(api.cpu_solver_destroy, "dalo_kelp_cpu_solver_destroy", true);
    r(api.cpu_solver_search, "dalo_kelp_cpu_solver_search", true);
    r(api.cpu_register_callback, "dalo_kelp_cpu_register_callback", true);
    r(api.cpu_sol_list_count, "dalo_kelp_cpu_sol_list_count", true);
    r(api.cpu_sol_list_get, "dalo_kelp_cpu_sol_list_get", true);
    r(api.cpu_sol_list_destroy, "dalo_kelp_cpu_sol_list_destroy", true);
    r(api.cpu_hint_solution, "dalo_kelp_cpu_hint_solution", false);
    r(api.cpu_solver_set_external_stop, "dalo_kelp_cpu_solver_set_external_stop", false);
    r(api.solver_create, "dalo_kelp_solver_create", false);
    if (api.solver_create != nullptr) {
        r(api.init, "dalo_kelp_init", false);
        r(api.solver_destroy, "dalo_kelp_solver_destroy", false);
        r(api.solver_search, "dalo_kelp_solver_search", false);
        r(api.register_callback, "dalo_kelp_register_callback", false);
        r(api.sol_list_count, "dalo_kelp_sol_list_count", false);
        r(api.sol_list_get, "dalo_kelp_sol_list_get", false);
        r(api.sol_list_destroy, "dalo_kelp_sol_list_destroy", false);
        r(api.hint_solution, "dalo_kelp_hint_solution", false);
        r(api.solver_set_external_stop, "dalo_kelp_solver_set_external_stop", false);
    }
    r(api.int_create, "dalo_kelp_int_create", false);
    r(api.int_add_cons, "dalo_kelp_int_add_cons", false);
    r(api.int_round2, "dalo_kelp_int_round2", false);
    r(api.int_hint, "dalo_kelp_int_hint", false);
    r(api.int_set_cons_shape, "dalo_kelp_int_set_cons_shape", false);
    r(api.int_destroy, "dalo_kelp_int_destroy", false);
    // The integer GPU engine is all or nothing.
    if (!api.int_add_cons || !api.int_round2 || !api.int_hint || !api.int_destroy)
        api.int_create = nullptr;
    return api;
}

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

// Finding, loading and describing the solver plug-ins.
#pragma once

#include <cstdint>
#include <string>

#include "dalo_plugin.h"

namespace dalo {

inline constexpr const char* kSolverType = "c32e64";

// Directory of the library's own file ("dir/"), "./" when the path has no slash, "lib/"
// when the loader cannot tell.
std::string library_dir();
// BriskSolver and KELPSolver: DALO_LIB_DIR (slash appended) when set and not empty.
std::string plugin_dir_with_env();

// Each family's entry points in lookup order: (slot, symbol, required or optional). The records
// below and the loader in plugins.cpp are both generated from these tables.

// BriskSolver: brisksolver_<type>.so.
#define DALO_BRISK_SYMBOLS(X)                                             \
    X(create, dalo_brisk_solver_create, required)                         \
    X(destroy, dalo_brisk_solver_destroy, required)                       \
    X(search, dalo_brisk_solver_search, required)                         \
    X(sol_list_count, dalo_brisk_solver_sol_list_count, required)         \
    X(sol_list_get, dalo_brisk_solver_sol_list_get, required)             \
    X(sol_list_destroy, dalo_brisk_solver_sol_list_destroy, required)     \
    X(register_callback, dalo_brisk_solver_register_callback, required)   \
    X(set_fail, dalo_brisk_solver_set_fail, optional)                     \
    X(get_info, dalo_brisk_solver_get_info, optional)                     \
    X(free_info, dalo_brisk_solver_free_info, optional)                   \
    X(add_constraint, dalo_brisk_solver_add_constraint, optional)         \
    X(add_constraint_nl, dalo_brisk_solver_add_constraint_nl, optional)   \
    X(add_constraint_set, dalo_brisk_solver_add_constraint_set, optional) \
    X(set_cons_shape, dalo_brisk_solver_set_cons_shape, optional)         \
    X(set_remainder, dalo_brisk_solver_set_remainder, optional)           \
    X(create_int, dalo_brisk_solver_create_int, optional)                 \
    X(search_int, dalo_brisk_solver_search_int, optional)

// SweepSolver: sweep_<type>.so.
#define DALO_SWEEP_SYMBOLS(X)                                      \
    X(create, dalo_sweep_create, required)                         \
    X(destroy, dalo_sweep_destroy, required)                       \
    X(search, dalo_sweep_search, required)                         \
    X(sol_list_count, dalo_sweep_sol_list_count, required)         \
    X(sol_list_get, dalo_sweep_sol_list_get, required)             \
    X(sol_list_destroy, dalo_sweep_sol_list_destroy, required)     \
    X(register_callback, dalo_sweep_register_callback, required)   \
    X(set_fail, dalo_sweep_set_fail, optional)                     \
    X(get_info, dalo_sweep_get_info, optional)                     \
    X(free_info, dalo_sweep_free_info, optional)                   \
    X(add_constraint, dalo_sweep_add_constraint, optional)         \
    X(add_constraint_nl, dalo_sweep_add_constraint_nl, optional)   \
    X(add_constraint_set, dalo_sweep_add_constraint_set, optional) \
    X(set_cons_shape, dalo_sweep_set_cons_shape, optional)         \
    X(set_remainder, dalo_sweep_set_remainder, optional)

// KELPSolver: kelp_<type>.so.
#define DALO_KELP_SYMBOLS(X)                                                          \
    X(gpu_device_count, dalo_kelp_gpu_device_count, required)                         \
    X(set_fail, dalo_kelp_set_fail, optional)                                         \
    X(cpu_solver_create, dalo_kelp_cpu_solver_create, required)                       \
    X(cpu_solver_create_int, dalo_kelp_cpu_solver_create_int, optional)               \
    X(cpu_solver_search_int, dalo_kelp_cpu_solver_search_int, optional)               \
    X(cpu_register_callback_iv, dalo_kelp_cpu_register_callback_iv, optional)         \
    X(cpu_hint_iv, dalo_kelp_cpu_hint_iv, optional)                                   \
    X(cpu_add_constraint, dalo_kelp_cpu_add_constraint, optional)                     \
    X(cpu_add_constraint_nl, dalo_kelp_cpu_add_constraint_nl, optional)               \
    X(cpu_add_constraint_set, dalo_kelp_cpu_add_constraint_set, optional)             \
    X(add_constraint_set, dalo_kelp_add_constraint_set, optional)                     \
    X(add_constraint, dalo_kelp_add_constraint, optional)                             \
    X(add_constraint_nl, dalo_kelp_add_constraint_nl, optional)                       \
    X(cpu_set_cons_shape, dalo_kelp_cpu_set_cons_shape, optional)                     \
    X(set_cons_shape, dalo_kelp_set_cons_shape, optional)                             \
    X(cpu_set_remainder, dalo_kelp_cpu_set_remainder, optional)                       \
    X(set_remainder, dalo_kelp_set_remainder, optional)                               \
    X(cpu_solver_destroy, dalo_kelp_cpu_solver_destroy, required)                     \
    X(cpu_solver_search, dalo_kelp_cpu_solver_search, required)                       \
    X(cpu_register_callback, dalo_kelp_cpu_register_callback, required)               \
    X(cpu_sol_list_count, dalo_kelp_cpu_sol_list_count, required)                     \
    X(cpu_sol_list_get, dalo_kelp_cpu_sol_list_get, required)                         \
    X(cpu_sol_list_destroy, dalo_kelp_cpu_sol_list_destroy, required)                 \
    X(cpu_hint_solution, dalo_kelp_cpu_hint_solution, optional)                       \
    X(cpu_solver_set_external_stop, dalo_kelp_cpu_solver_set_external_stop, optional) \
    X(solver_create, dalo_kelp_solver_create, optional)

// Looked up only when the plug-in has dalo_kelp_solver_create.
#define DALO_KELP_GPU_SYMBOLS(X)                                \
    X(init, dalo_kelp_init, optional)                           \
    X(solver_destroy, dalo_kelp_solver_destroy, optional)       \
    X(solver_search, dalo_kelp_solver_search, optional)         \
    X(register_callback, dalo_kelp_register_callback, optional) \
    X(sol_list_count, dalo_kelp_sol_list_count, optional)       \
    X(sol_list_get, dalo_kelp_sol_list_get, optional)           \
    X(sol_list_destroy, dalo_kelp_sol_list_destroy, optional)   \
    X(hint_solution, dalo_kelp_hint_solution, optional)         \
    X(solver_set_external_stop, dalo_kelp_solver_set_external_stop, optional)

// The integer GPU engine: all or nothing (see kelp_api).
#define DALO_KELP_INT_SYMBOLS(X)                                  \
    X(int_create, dalo_kelp_int_create, optional)                 \
    X(int_add_cons, dalo_kelp_int_add_cons, optional)             \
    X(int_round2, dalo_kelp_int_round2, optional)                 \
    X(int_hint, dalo_kelp_int_hint, optional)                     \
    X(int_set_cons_shape, dalo_kelp_int_set_cons_shape, optional) \
    X(int_destroy, dalo_kelp_int_destroy, optional)

#define DALO_API_SLOT(slot, symbol, need) decltype(&symbol) slot = nullptr;

struct BriskSolverApi {
    void* handle = nullptr;
    DALO_BRISK_SYMBOLS(DALO_API_SLOT)
};

struct SweepSolverApi {
    void* handle = nullptr;
    DALO_SWEEP_SYMBOLS(DALO_API_SLOT)
};

struct KelpSolverApi {
    void* handle = nullptr;
    DALO_KELP_SYMBOLS(DALO_API_SLOT)
    DALO_KELP_GPU_SYMBOLS(DALO_API_SLOT)
    DALO_KELP_INT_SYMBOLS(DALO_API_SLOT)
};

#undef DALO_API_SLOT

// Loaded on first use and kept for the life of the process; loading is serialised, so first
// uses from several threads are safe.
const BriskSolverApi& brisk_api(const std::string& solver_type);
const SweepSolverApi& sweep_api();
const KelpSolverApi& kelp_api();

// Registers the library's callback with each plug-in once per process (BriskSolver: once
// per solver type). The KELPSolver functions forward plug-in events to the wrapper's host
// callback.
void brisk_register_callback_once(const std::string& solver_type, const BriskSolverApi& api);
void sweep_register_callback_once(const SweepSolverApi& api);
void kelp_register_cpu_callback_once(const KelpSolverApi& api, dalo_plugin_callback forward);
void kelp_register_gpu_callback_once(const KelpSolverApi& api, dalo_plugin_callback forward);
void kelp_register_iv_callback_once(const KelpSolverApi& api, dalo_plugin_callback_iv forward);

}  // namespace dalo

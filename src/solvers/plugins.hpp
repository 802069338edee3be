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

struct BriskSolverApi {
    void* handle = nullptr;
    decltype(&dalo_brisk_solver_create) create = nullptr;
    decltype(&dalo_brisk_solver_destroy) destroy = nullptr;
    decltype(&dalo_brisk_solver_search) search = nullptr;
    decltype(&dalo_brisk_solver_sol_list_count) sol_list_count = nullptr;
    decltype(&dalo_brisk_solver_sol_list_get) sol_list_get = nullptr;
    decltype(&dalo_brisk_solver_sol_list_destroy) sol_list_destroy = nullptr;
    decltype(&dalo_brisk_solver_register_callback) register_callback = nullptr;
    decltype(&dalo_brisk_solver_get_info) get_info = nullptr;
    decltype(&dalo_brisk_solver_free_info) free_info = nullptr;
    decltype(&dalo_brisk_solver_add_constraint) add_constraint = nullptr;
    decltype(&dalo_brisk_solver_add_constraint_nl) add_constraint_nl = nullptr;
    decltype(&dalo_brisk_solver_add_constraint_set) add_constraint_set = nullptr;
    decltype(&dalo_brisk_solver_set_cons_shape) set_cons_shape = nullptr;
    decltype(&dalo_brisk_solver_set_remainder) set_remainder = nullptr;
    decltype(&dalo_brisk_solver_create_int) create_int = nullptr;
    decltype(&dalo_brisk_solver_search_int) search_int = nullptr;
};

struct SweepSolverApi {
    void* handle = nullptr;
    decltype(&dalo_sweep_create) create = nullptr;
    decltype(&dalo_sweep_destroy) destroy = nullptr;
    decltype(&dalo_sweep_search) search = nullptr;
    decltype(&dalo_sweep_sol_list_count) sol_list_count = nullptr;
    decltype(&dalo_sweep_sol_list_get) sol_list_get = nullptr;
    decltype(&dalo_sweep_sol_list_destroy) sol_list_destroy = nullptr;
    decltype(&dalo_sweep_register_callback) register_callback = nullptr;
    decltype(&dalo_sweep_get_info) get_info = nullptr;
    decltype(&dalo_sweep_free_info) free_info = nullptr;
    decltype(&dalo_sweep_add_constraint) add_constraint = nullptr;
    decltype(&dalo_sweep_add_constraint_nl) add_constraint_nl = nullptr;
    decltype(&dalo_sweep_add_constraint_set) add_constraint_set = nullptr;
    decltype(&dalo_sweep_set_cons_shape) set_cons_shape = nullptr;
    decltype(&dalo_sweep_set_remainder) set_remainder = nullptr;
};

struct KelpSolverApi {
    void* handle = nullptr;
    decltype(&dalo_kelp_gpu_device_count) gpu_device_count = nullptr;
    decltype(&dalo_kelp_cpu_solver_create) cpu_solver_create = nullptr;
    decltype(&dalo_kelp_cpu_solver_create_int) cpu_solver_create_int = nullptr;
    decltype(&dalo_kelp_cpu_solver_search_int) cpu_solver_search_int = nullptr;
    decltype(&dalo_kelp_cpu_register_callback_iv) cpu_register_callback_iv = nullptr;
    decltype(&dalo_kelp_cpu_hint_iv) cpu_hint_iv = nullptr;
    decltype(&dalo_kelp_cpu_add_constraint) cpu_add_constraint = nullptr;
    decltype(&dalo_kelp_cpu_add_constraint_nl) cpu_add_constraint_nl = nullptr;
    decltype(&dalo_kelp_cpu_add_constraint_set) cpu_add_constraint_set = nullptr;
    decltype(&dalo_kelp_add_constraint_set) add_constraint_set = nullptr;
    decltype(&dalo_kelp_add_constraint) add_constraint = nullptr;
    decltype(&dalo_kelp_add_constraint_nl) add_constraint_nl = nullptr;
    decltype(&dalo_kelp_cpu_set_cons_shape) cpu_set_cons_shape = nullptr;
    decltype(&dalo_kelp_set_cons_shape) set_cons_shape = nullptr;
    decltype(&dalo_kelp_cpu_set_remainder) cpu_set_remainder = nullptr;
    decltype(&dalo_kelp_set_remainder) set_remainder = nullptr;
    decltype(&dalo_kelp_cpu_solver_destroy) cpu_solver_destroy = nullptr;
    decltype(&dalo_kelp_cpu_solver_search) cpu_solver_search = nullptr;
    decltype(&dalo_kelp_cpu_register_callback) cpu_register_callback = nullptr;
    decltype(&dalo_kelp_cpu_sol_list_count) cpu_sol_list_count = nullptr;
    decltype(&dalo_kelp_cpu_sol_list_get) cpu_sol_list_get = nullptr;
    decltype(&dalo_kelp_cpu_sol_list_destroy) cpu_sol_list_destroy = nullptr;
    decltype(&dalo_kelp_cpu_hint_solution) cpu_hint_solution = nullptr;
    decltype(&dalo_kelp_cpu_solver_set_external_stop) cpu_solver_set_external_stop = nullptr;
    decltype(&dalo_kelp_solver_create) solver_create = nullptr;
    decltype(&dalo_kelp_init) init = nullptr;
    decltype(&dalo_kelp_solver_destroy) solver_destroy = nullptr;
    decltype(&dalo_kelp_solver_search) solver_search = nullptr;
    decltype(&dalo_kelp_register_callback) register_callback = nullptr;
    decltype(&dalo_kelp_sol_list_count) sol_list_count = nullptr;
    decltype(&dalo_kelp_sol_list_get) sol_list_get = nullptr;
    decltype(&dalo_kelp_sol_list_destroy) sol_list_destroy = nullptr;
    decltype(&dalo_kelp_hint_solution) hint_solution = nullptr;
    decltype(&dalo_kelp_solver_set_external_stop) solver_set_external_stop = nullptr;
    decltype(&dalo_kelp_int_create) int_create = nullptr;
    decltype(&dalo_kelp_int_add_cons) int_add_cons = nullptr;
    decltype(&dalo_kelp_int_round2) int_round2 = nullptr;
    decltype(&dalo_kelp_int_hint) int_hint = nullptr;
    decltype(&dalo_kelp_int_set_cons_shape) int_set_cons_shape = nullptr;
    decltype(&dalo_kelp_int_destroy) int_destroy = nullptr;
};

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

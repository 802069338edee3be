// Handles of the solver wrappers and results.
#pragma once

#include "capi/handles.hpp"
#include "capi/sol_handle.hpp"
#include "solvers/wrappers.hpp"

namespace dalo {

DALO_DEFINE_HANDLE(dalo_brisk_solver_wrapper, BriskWrapper)
DALO_DEFINE_HANDLE(dalo_sweep_wrapper, SweepWrapper)
// A KELPSolver wrapper with the host's C callback, to which the wrapper's own callback forwards.
struct KelpHandle : KelpWrapper {
    using KelpWrapper::KelpWrapper;
    dalo_solver_callback host = nullptr;
    void* host_context = nullptr;
};

DALO_DEFINE_HANDLE(dalo_kelp_wrapper, KelpHandle)
DALO_DEFINE_HANDLE(dalo_solver_result, SolverResult)

// Parameter arrays of the interface and of the plug-ins share one layout.
inline const dalo_plugin_pair* plugin_params(const dalo_param* p) {
    static_assert(sizeof(dalo_param) == sizeof(dalo_plugin_pair));
    return reinterpret_cast<const dalo_plugin_pair*>(p);
}

inline dalo_solver_result* new_result(SolverResult&& r) {
    return wrap(new SolverResult(std::move(r)));
}

}  // namespace dalo

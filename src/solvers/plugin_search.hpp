// A search through a BriskSolver or SweepSolver plug-in and the result it gives.
#pragma once

#include <chrono>

#include "model/model.hpp"
#include "solvers/handover.hpp"
#include "solvers/result.hpp"
#include "solvers/sysinfo.hpp"

namespace dalo {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Appends information pairs up to the first with a null key (none when p is null).
inline void append_pairs(SolverResult& r, const dalo_plugin_pair* p) {
    for (; p != nullptr && p->key != nullptr; ++p) r.add_info(p->key, p->value ? p->value : "");
}

// Appends the plug-in's information pairs, handing the array back when it can.
template <class Api>
void append_plugin_info(const Api& api, void* solver, SolverResult& r) {
    if (api.get_info == nullptr) return;
    dalo_plugin_pair* info = api.get_info(solver);
    if (info == nullptr) return;
    append_pairs(r, info);
    if (api.free_info != nullptr) api.free_info(info);
}

// The best solution, the listed ones, then "run_time", the plug-in's pairs and the system keys.
template <class Api, class Search>
SolverResult plugin_search(const Api& api, void* solver, const ModelImpl& m, Search&& search) {
    SolutionCells best(m.var_count());
    const auto t0 = Clock::now();
    void* list = search(best.record());
    const double elapsed = seconds_since(t0);
    SolverResult r;
    r.energy = best.energy();
    r.tts = best.tts();
    r.scale = m.scale;
    r.bits = best.bits();
    if (list != nullptr) {
        const uint64_t n = api.sol_list_count(list);
        for (uint64_t i = 0; i < n; ++i) {
            SolutionCells cells(m.var_count());
            api.sol_list_get(list, i, cells.record());
            TopkEntry e;
            e.energy = cells.energy();
            e.tts = cells.tts();
            e.bits = cells.bits();
            r.topk.push_back(std::move(e));
        }
        api.sol_list_destroy(list);
    }
    r.add_info("run_time", format_seconds(elapsed));
    append_plugin_info(api, solver, r);
    append_system_info(r.info);
    return r;
}

}  // namespace dalo

// Handing a Model's native constraints, penalty shapes and remainder to a plug-in, and the
// records exchanged with plug-ins.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dalo_plugin.h"
#include "model/model.hpp"
#include "solvers/result.hpp"

namespace dalo {

// One family's constraint entry points on one solver handle, with its messages.
struct ConsSink {
    void* solver = nullptr;
    decltype(&dalo_brisk_solver_add_constraint) add = nullptr;
    decltype(&dalo_brisk_solver_add_constraint_nl) add_nl = nullptr;
    decltype(&dalo_brisk_solver_add_constraint_set) add_set = nullptr;
    decltype(&dalo_brisk_solver_set_cons_shape) set_shape = nullptr;
    decltype(&dalo_brisk_solver_set_remainder) set_remainder = nullptr;
    std::string no_shape, no_add, no_nl, no_set, no_remainder;
};

inline bool default_shape(const NativeCons& c) { return c.exponent == 2 && c.objective_only == 0; }
bool has_nonlinear_body(const NativeCons& c);
bool any_nonlinear_body(const ModelImpl& m);

// The capability checks of hand_over, in its order. Run before the plug-in creates its
// solver, so that a refusal leaves no handle behind (the sink's solver may still be null).
void check_hand_over(const ModelImpl& m, const ConsSink& sink,
                     const std::vector<NativeCons>* records = nullptr);

// In Model order: the checks first, then each constraint (and its shape), then the remainder.
// `records` replaces the Model's records when given (rewritten variable words).
void hand_over(const ModelImpl& m, const ConsSink& sink,
               const std::vector<NativeCons>* records = nullptr);

// A plug-in's solver handle, destroyed unless released: a wrapper that fails half way gives
// its handle back.
class PluginHandle {
  public:
    PluginHandle(void* handle, void (*destroy)(void*)) : handle_(handle), destroy_(destroy) {}
    ~PluginHandle() {
        if (handle_ != nullptr) destroy_(handle_);
    }
    PluginHandle(const PluginHandle&) = delete;
    PluginHandle& operator=(const PluginHandle&) = delete;
    void release() { handle_ = nullptr; }

  private:
    void* handle_;
    void (*destroy_)(void*);
};

// The records with their variables in one index space: binary variables keep their index,
// integer atoms become binary count + atom index.
std::vector<NativeCons> unified_records(const ModelImpl& m);

// The five cells of a BriskSolver/SweepSolver solution record.
class SolutionCells {
  public:
    explicit SolutionCells(uint32_t var_count);
    SolutionCells(const SolutionCells&) = delete;
    SolutionCells& operator=(const SolutionCells&) = delete;
    dalo_solution_record* record() { return &record_; }
    energy_t energy() const { return energy_; }
    double tts() const { return tts_; }
    PodArray<uint64_t> bits() const;

  private:
    uint32_t var_count_;
    uint32_t word_count_;
    energy_t energy_ = 0;
    std::vector<uint64_t> bits_;
    double tts_ = 0.0;
    dalo_solution_record record_;
};

// A KELPSolver solution record with its bit words.
class KelpCells {
  public:
    explicit KelpCells(uint32_t var_count);
    KelpCells(const KelpCells&) = delete;
    KelpCells& operator=(const KelpCells&) = delete;
    dalo_kelp_solution_record* record() { return &record_; }
    PodArray<uint64_t> bits() const;

  private:
    std::vector<uint64_t> bits_;
    dalo_kelp_solution_record record_;
};

// The Model's per-degree arrays as plug-ins take them.
struct TermArrays {
    std::vector<uint64_t> counts;
    std::vector<const uint32_t*> vars;
    std::vector<const dalo_plugin_coeff*> coeffs;
    explicit TermArrays(const ModelImpl& m);
};

// Seconds since t0 with the "%f" format of result information.
std::string format_seconds(double seconds);

}  // namespace dalo

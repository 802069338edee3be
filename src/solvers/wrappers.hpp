// The three solver wrappers: a Model bound to a plug-in (or to the library's own engines for
// Models with integer variables).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dalo.h"
#include "model/model.hpp"
#include "solvers/callback.hpp"
#include "solvers/handover.hpp"
#include "solvers/params.hpp"
#include "solvers/result.hpp"

namespace dalo {

struct SolImpl;

struct BriskWrapper {
    ModelHandle model;
    std::string solver_type;  // empty for an integer Model
    std::unique_ptr<TermArrays> arrays;
    bool int_model = false;
    void* solver = nullptr;

    explicit BriskWrapper(ModelHandle m);
    ~BriskWrapper();
    BriskWrapper(const BriskWrapper&) = delete;
    BriskWrapper& operator=(const BriskWrapper&) = delete;

    SolverResult search(const dalo_plugin_pair* params, const void* hint);
    SolverResult search_int(const dalo_plugin_pair* params, const uint64_t* hint_bits,
                            const int64_t* hint_ints, uint64_t hint_count);

  private:
    SolverResult integer_search(const dalo_plugin_pair* params, const uint64_t* hint_bits,
                                const int64_t* hint_ints, uint64_t hint_count);
    SolverResult unified_search(const ParamList& params);
};

struct SweepWrapper {
    ModelHandle model;
    void* solver = nullptr;
    std::unique_ptr<TermArrays> arrays;
    bool int_model = false;

    explicit SweepWrapper(ModelHandle m);
    ~SweepWrapper();
    SweepWrapper(const SweepWrapper&) = delete;
    SweepWrapper& operator=(const SweepWrapper&) = delete;

    SolverResult search(const dalo_plugin_pair* params);
};

struct KelpWrapper {
    ModelHandle model;
    void* solver = nullptr;
    bool gpu = false;
    SolCallback callback = nullptr;
    void* callback_context = nullptr;
    std::atomic<uint8_t> stop{0};
    bool int_model = false;
    bool int_gpu = false;
    int32_t gpu_mode = 0;
    std::mutex mutex;  // the pending hint and the running unified solver
    std::unique_ptr<TermArrays> arrays;
    std::vector<uint64_t> pending_bits;
    std::vector<int64_t> pending_ints;
    std::atomic<bool> hint_pending[2] = {false, false};
    void* running_int_solver = nullptr;

    KelpWrapper(ModelHandle m, int32_t mode);
    ~KelpWrapper();
    KelpWrapper(const KelpWrapper&) = delete;
    KelpWrapper& operator=(const KelpWrapper&) = delete;

    SolverResult search(const dalo_plugin_pair* params, const void* hint);
    SolverResult search_int(const dalo_plugin_pair* params, const uint64_t* hint_bits,
                            const int64_t* hint_ints, uint64_t hint_count);
    void hint(const SolImpl* sol);
    void terminate() { stop.store(1); }
    // Copies a pending hint for a consumer (0: engine workers, 1: GPU submitter).
    bool take_hint(int consumer, uint64_t* bits, int64_t* ints);
    // The host callback with a new Sol for this wrapper's Model.
    double notify(const int64_t* energy, const uint64_t* bits, const int64_t* ints, uint32_t event,
                  double time);

  private:
    SolverResult integer_search(const dalo_plugin_pair* params, const uint64_t* hint_bits,
                                const int64_t* hint_ints, uint64_t hint_count);
    SolverResult unified_search(const ParamList& params);
};

// Whether DALO_INT_UNIFIED asks for the plug-ins' unified integer engines.
bool unified_requested();

}  // namespace dalo

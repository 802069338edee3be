// The KELPSolver wrapper: CPU or GPU solver for binary Models, the library engine (optionally
// fed by the plug-in's integer GPU engine) or the unified engine for integer Models.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "core/fatal.hpp"
#include "model/sol.hpp"
#include "solvers/int_engine.hpp"
#include "solvers/plugin_search.hpp"
#include "solvers/plugins.hpp"
#include "solvers/wrappers.hpp"

namespace dalo {

namespace {

// "  [Wrap] <mark>: <seconds>s" lines while DALO_MODEL_PROFILE is set.
class WrapClock {
  public:
    void mark(const char* label) {
        const auto now = Clock::now();
        const double s = std::chrono::duration<double>(now - last_).count();
        last_ = now;
        if (std::getenv("DALO_MODEL_PROFILE") != nullptr)
            std::fprintf(stderr, "  [Wrap] %s: %gs\n", label, s);
    }

  private:
    Clock::time_point last_ = Clock::now();
};

ConsSink cpu_sink(const KelpSolverApi& api, void* solver) {
    ConsSink s;
    s.solver = solver;
    s.add = api.cpu_add_constraint;
    s.add_nl = api.cpu_add_constraint_nl;
    s.add_set = api.cpu_add_constraint_set;
    s.set_shape = api.cpu_set_cons_shape;
    s.set_remainder = api.cpu_set_remainder;
    s.no_shape =
        "KELPSolver: this kelp .so predates dalo::abs/relu (missing dalo_kelp_cpu_set_cons_shape) "
        "— update the solver "
        ".so.";
    s.no_add = "KELPSolver: this kelp .so does not support native constraints (rebuild it)";
    s.no_nl =
        "KELPSolver: this kelp .so does not support nonlinear native constraint bodies (rebuild "
        "it, or use a linear "
        "constraint body)";
    s.no_set =
        "KELPSolver: this kelp .so does not support allowed-value set constraints (equal{...}); "
        "rebuild it";
    s.no_remainder =
        "KELPSolver: this solver .so does not support free-form penalty constraints (rebuild it)";
    return s;
}

ConsSink gpu_sink(const KelpSolverApi& api, void* solver) {
    ConsSink s;
    s.solver = solver;
    s.add = api.add_constraint;
    s.add_nl = api.add_constraint_nl;
    s.add_set = api.add_constraint_set;
    s.set_shape = api.set_cons_shape;
    s.set_remainder = api.set_remainder;
    s.no_shape =
        "KELPSolver: this kelp .so predates dalo::abs/relu (missing dalo_kelp_set_cons_shape) — "
        "update the solver .so.";
    s.no_add =
        "KELPSolver: this kelp .so does not support native constraints on the GPU path (rebuild "
        "it)";
    s.no_nl =
        "KELPSolver: this kelp .so does not support nonlinear native constraint bodies on the GPU "
        "(rebuild it)";
    s.no_set =
        "KELPSolver: this kelp .so does not support allowed-value set constraints (equal{...}) on "
        "the GPU (rebuild it)";
    s.no_remainder =
        "KELPSolver: this solver .so does not support free-form penalty constraints (rebuild it)";
    return s;
}

double forward(void* context, const dalo_plugin_energy* energy, const uint64_t* bits,
               uint32_t event, double time) {
    if (context == nullptr) return -1.0;
    return static_cast<KelpWrapper*>(context)->notify(energy, bits, nullptr, event, time);
}

double forward_iv(void* context, const dalo_plugin_energy* energy, const uint64_t* bits,
                  const int64_t* ints, uint32_t event, double time) {
    if (context == nullptr) return -1.0;
    return static_cast<KelpWrapper*>(context)->notify(energy, bits, ints, event, time);
}

bool fetch_hint(void* context, int consumer, uint64_t* bits, int64_t* ints) {
    return static_cast<KelpWrapper*>(context)->take_hint(consumer, bits, ints);
}

uint32_t device_argument(int32_t mode, bool any_device) {
    if (mode > 0) return static_cast<uint32_t>(mode);
    return mode < 0 && any_device ? 0xFFFFFFFFu : 0u;
}

// A search's result from a KELPSolver record and list.
template <class ListGet, class ListCount, class ListDestroy>
SolverResult kelp_result(const ModelImpl& m, KelpCells& best, void* list, double elapsed,
                         ListCount count, ListGet get, ListDestroy destroy) {
    SolverResult r;
    const dalo_kelp_solution_record& rec = *best.record();
    r.energy = rec.energy;
    r.tts = rec.tts;
    r.scale = m.scale;
    r.bits = best.bits();
    if (list != nullptr) {
        const uint64_t n = count(list);
        for (uint64_t i = 0; i < n; ++i) {
            KelpCells cells(m.var_count());
            get(list, i, cells.record(), m.var_count());
            TopkEntry e;
            e.energy = cells.record()->energy;
            e.tts = cells.record()->tts;
            e.bits = cells.bits();
            r.topk.push_back(std::move(e));
        }
        destroy(list);
    }
    r.add_info("run_time", format_seconds(elapsed));
    append_pairs(r, rec.info);
    return r;
}

}  // namespace

KelpWrapper::KelpWrapper(ModelHandle m, int32_t mode) : model(std::move(m)), gpu_mode(mode) {
    const ModelImpl& mm = *model;
    if (mm.int_count() > 0) {
        if (mm.has_remainder) {
            fatal(
                "KELPSolver: internal error — a free-form remainder with integer variables should "
                "have been "
                "rejected at Model.");
        }
        int_model = true;
        if (mode == 0) return;
        const KelpSolverApi& api = kelp_api();
        if (api.int_create != nullptr) {
            bool shaped = false;
            for (const NativeCons& c : mm.native_cons) shaped = shaped || !default_shape(c);
            if (shaped && api.int_set_cons_shape == nullptr) {
                if (mode > 0) {
                    fatal(
                        "KELPSolver: this kelp .so predates dalo::abs/relu on the integer GPU "
                        "engine (missing "
                        "dalo_kelp_int_set_cons_shape) — update the solver .so.");
                }
                return;
            }
            if (api.gpu_device_count() >= 1) {
                int_gpu = true;
                return;
            }
        }
        if (mode > 0) {
            fatal(
                "KELPSolver: GPU mode requested but the integer GPU engine is unavailable (no CUDA "
                "device, or this "
                "kelp .so has no integer kernels).");
        }
        return;
    }

    WrapClock clock;
    clock.mark("enter (after model copy)");
    const KelpSolverApi& api = kelp_api();
    clock.mark("kelp_dispatch()");
    const bool has_gpu = api.gpu_device_count() >= 1 && api.solver_create != nullptr;
    const bool gpu_capable = api.solver_create != nullptr && api.solver_search != nullptr;
    clock.mark("gpu_count + has_gpu (CUDA init)");
    if (mode > 0) {
        if (!has_gpu) fatal("KELPSolver: GPU mode requested but no GPU available");
        gpu = true;
    } else {
        gpu = gpu_capable;
    }
    bool nonlinear = false, sets = false;
    for (const NativeCons& c : mm.native_cons) {
        nonlinear = nonlinear || has_nonlinear_body(c);
        sets = sets || (!has_nonlinear_body(c) && !c.allowed.empty());
    }
    if (nonlinear && !(gpu_capable && api.add_constraint_nl != nullptr)) {
        if (mode > 0) {
            fatal(
                "KELPSolver: this kelp .so does not support nonlinear native constraint bodies on "
                "the GPU (rebuild "
                "it)");
        }
        if (api.cpu_add_constraint_nl == nullptr) {
            fatal(
                "KELPSolver: this solver .so does not support nonlinear native constraint bodies "
                "(rebuild it)");
        }
        gpu = false;
    }
    if (sets && !(gpu_capable && api.add_constraint_set != nullptr)) {
        if (mode > 0) {
            fatal(
                "KELPSolver: this kelp .so does not support allowed-value set constraints "
                "(equal{...}) on the GPU "
                "(rebuild it)");
        }
        if (api.cpu_add_constraint_set == nullptr) {
            fatal(
                "KELPSolver: this solver .so does not support allowed-value set constraints "
                "(equal{...}); rebuild "
                "it");
        }
        gpu = false;
    }
    arrays = std::make_unique<TermArrays>(mm);
    clock.mark("set tv_ptrs + ca_ptrs (no copy)");
    const uint8_t* flag = reinterpret_cast<const uint8_t*>(&stop);
    ConsSink sink = gpu ? gpu_sink(api, nullptr) : cpu_sink(api, nullptr);
    check_hand_over(mm, sink);
    if (!gpu) {
        kelp_register_cpu_callback_once(api, forward);
        solver = api.cpu_solver_create(this, mm.var_count(), mm.max_degree, &mm.constant,
                                       arrays->counts.data(), arrays->vars.data(),
                                       arrays->coeffs.data());
        PluginHandle guard(solver, api.cpu_solver_destroy);
        if (api.cpu_solver_set_external_stop != nullptr)
            api.cpu_solver_set_external_stop(solver, flag);
        sink.solver = solver;
        hand_over(mm, sink);
        guard.release();
    } else {
        kelp_register_gpu_callback_once(api, forward);
        solver = api.solver_create(this, mm.var_count(), mm.max_degree, &mm.constant,
                                   arrays->counts.data(), arrays->vars.data(),
                                   arrays->coeffs.data(), device_argument(mode, has_gpu));
        PluginHandle guard(solver, api.solver_destroy);
        sink.solver = solver;
        hand_over(mm, sink);
        guard.release();
        if (api.solver_set_external_stop != nullptr) api.solver_set_external_stop(solver, flag);
    }
    clock.mark("gpu/cpu_create (DeltaModel + DeviceDeltaModel)");
}

KelpWrapper::~KelpWrapper() {
    if (solver == nullptr) return;
    if (gpu) {
        kelp_api().solver_destroy(solver);
    } else {
        kelp_api().cpu_solver_destroy(solver);
    }
}

double KelpWrapper::notify(const int64_t* energy, const uint64_t* bits, const int64_t* ints,
                           uint32_t event, double time) {
    if (callback == nullptr) return -1.0;
    const ModelImpl& m = *model;
    const uint64_t words = word_count(m.var_count());
    PodArray<uint64_t> copy(words, 0);
    if (bits != nullptr) {
        for (uint64_t i = 0; i < words; ++i) copy[i] = bits[i];
    }
    auto* sol = new SolImpl(model, energy != nullptr ? *energy : 0, std::move(copy), time);
    if (ints != nullptr) {
        for (uint64_t k = 0; k < m.int_count(); ++k) sol->int_vals[k] = ints[k];
    }
    return callback(callback_context, sol, event);
}

SolverResult KelpWrapper::search(const dalo_plugin_pair* params, const void* hint) {
    if (int_model) {
        stop.store(0);
        if (hint != nullptr) {
            fatal(
                "KELPSolver: hint on a native integer model requires the int-aware search path "
                "(update the dalo "
                "header).");
        }
        return integer_search(params, nullptr, nullptr, 0);
    }
    stop.store(0);
    ParamList list(params);
    const ModelImpl& m = *model;
    const KelpSolverApi& api = kelp_api();
    KelpCells best(m.var_count());
    const auto t0 = Clock::now();
    SolverResult r;
    if (gpu) {
        void* sols = api.solver_search(solver, best.record(), m.var_count(), list.pairs(), hint);
        r = kelp_result(m, best, sols, seconds_since(t0), api.sol_list_count, api.sol_list_get,
                        api.sol_list_destroy);
    } else {
        void* sols =
            api.cpu_solver_search(solver, best.record(), m.var_count(), list.pairs(), hint);
        r = kelp_result(m, best, sols, seconds_since(t0), api.cpu_sol_list_count,
                        api.cpu_sol_list_get, api.cpu_sol_list_destroy);
    }
    append_system_info(r.info);
    return r;
}

SolverResult KelpWrapper::search_int(const dalo_plugin_pair* params, const uint64_t* hint_bits,
                                     const int64_t* hint_ints, uint64_t hint_count) {
    if (!int_model) fatal("KELPSolver: search_int called on a binary model.");
    stop.store(0);
    return integer_search(params, hint_bits, hint_ints, hint_count);
}

SolverResult KelpWrapper::integer_search(const dalo_plugin_pair* params, const uint64_t* hint_bits,
                                         const int64_t* hint_ints, uint64_t hint_count) {
    const ModelImpl& m = *model;
    ParamList list(params);
    const bool eligible = !list.has("topk_sols") && !list.has("best_energy_sols") &&
                          !m.has_remainder && !any_nonlinear_body(m);
    if (unified_requested() && hint_bits == nullptr && eligible) return unified_search(list);

    IntSearchOpts opts = int_search_options(list, "KELPSolver");
    if (hint_bits != nullptr) set_int_hint(opts, m, hint_bits, hint_ints, hint_count);
    opts.model = model;
    opts.callback = callback;
    opts.callback_context = callback_context;
    opts.stop = &stop;
    opts.hint_fetch = fetch_hint;
    opts.hint_context = this;
    if (!int_gpu) return brisk_int_search(m, opts);

    const KelpSolverApi& api = kelp_api();
    const char* env = std::getenv("DALO_KELP_INT_REPLICAS");
    const uint64_t asked = env != nullptr ? parse_param_uint(env) : 0;
    const uint32_t replicas = asked != 0 ? static_cast<uint32_t>(asked) : 2048u;
    TermArrays terms(m);
    void* engine =
        api.int_create(m.var_count(), m.int_count(), m.int_lower.data(), m.int_upper.data(),
                       m.max_degree, &m.constant, terms.counts.data(), terms.vars.data(),
                       terms.coeffs.data(), 0, replicas, std::random_device{}());
    const PluginHandle guard(engine, api.int_destroy);
    for (const NativeCons& c : unified_records(m)) {
        std::vector<int64_t> lo, hi;
        for (const auto& [a, b] : c.allowed) {
            lo.push_back(a);
            hi.push_back(b);
        }
        api.int_add_cons(engine, &c.weight, &c.lower, &c.upper, &c.constant, c.vars.size(),
                         c.vars.data(), c.coeffs.data(), c.nl_coeffs.size(), c.nl_head.data(),
                         c.nl_vars.data(), c.nl_coeffs.data(), lo.size(),
                         lo.empty() ? nullptr : lo.data(), hi.empty() ? nullptr : hi.data());
        if (!default_shape(c)) api.int_set_cons_shape(engine, c.exponent, c.objective_only);
    }
    opts.gpu_engine = engine;
    opts.gpu_round = api.int_round2;
    opts.gpu_hint = api.int_hint;
    return brisk_int_search(m, opts);
}

SolverResult KelpWrapper::unified_search(const ParamList& params) {
    const ModelImpl& m = *model;
    const KelpSolverApi& api = kelp_api();
    if (api.cpu_solver_create_int == nullptr || api.cpu_solver_search_int == nullptr ||
        api.cpu_register_callback_iv == nullptr) {
        fatal(
            "KELPSolver: DALO_INT_UNIFIED=1 but the kelp solver .so lacks the unified integer "
            "engine (rebuild the "
            "solver .so)");
    }
    ConsSink sink = cpu_sink(api, nullptr);
    sink.no_shape =
        "KELPSolver: this kelp .so predates dalo::abs/relu (missing dalo_kelp_cpu_set_cons_shape)";
    sink.no_set =
        "KELPSolver: this kelp .so does not support allowed-value set constraints (rebuild it)";
    const std::vector<NativeCons> records = unified_records(m);
    check_hand_over(m, sink, &records);
    kelp_register_iv_callback_once(api, forward_iv);
    TermArrays terms(m);
    void* h = api.cpu_solver_create_int(this, m.var_count(), m.int_count(), m.int_lower.data(),
                                        m.int_upper.data(), m.max_degree, &m.constant,
                                        terms.counts.data(), terms.vars.data(), terms.coeffs.data(),
                                        device_argument(gpu_mode, true));
    const PluginHandle guard(h, api.cpu_solver_destroy);
    if (api.cpu_solver_set_external_stop != nullptr) {
        api.cpu_solver_set_external_stop(h, reinterpret_cast<const uint8_t*>(&stop));
    }
    sink.solver = h;
    hand_over(m, sink, &records);

    ParamList list = params;
    KelpCells best(m.var_count());
    std::vector<int64_t> values(m.int_count(), 0);
    // Hints reach the solver only while it searches, also when the search is refused.
    struct Running {
        KelpWrapper& w;
        Running(KelpWrapper& wrapper, void* searching) : w(wrapper) { set(searching); }
        ~Running() { set(nullptr); }
        void set(void* searching) {
            std::lock_guard<std::mutex> lock(w.mutex);
            w.running_int_solver = searching;
        }
    };
    const auto t0 = Clock::now();
    void* sols = nullptr;
    {
        const Running running(*this, h);
        sols =
            api.cpu_solver_search_int(h, best.record(), m.var_count(), list.pairs(), values.data());
    }
    const double elapsed = seconds_since(t0);
    SolverResult r;
    const dalo_kelp_solution_record& rec = *best.record();
    r.energy = rec.energy;
    r.tts = rec.tts;
    r.scale = m.scale;
    r.bits = best.bits();
    r.int_values = std::move(values);
    if (sols != nullptr) api.cpu_sol_list_destroy(sols);
    r.add_info("run_time", format_seconds(elapsed));
    append_pairs(r, rec.info);
    r.add_info("engine", "integer-unified");
    append_system_info(r.info);
    return r;
}

void KelpWrapper::hint(const SolImpl* sol) {
    if (sol == nullptr) return;
    const ModelImpl& m = *model;
    const uint64_t words = word_count(m.var_count());
    if (sol->bits.size() < words) return;
    if (!int_model) {
        const KelpSolverApi& api = kelp_api();
        if (gpu) {
            if (api.hint_solution != nullptr) api.hint_solution(solver, sol->bits.data());
        } else if (api.cpu_hint_solution != nullptr) {
            api.cpu_hint_solution(solver, sol->bits.data());
        }
        return;
    }
    if (sol->int_vals.size() < m.int_count()) return;
    for (uint64_t k = 0; k < m.int_count(); ++k) {
        if (sol->int_vals[k] < m.int_lower[k] || sol->int_vals[k] > m.int_upper[k]) return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    pending_bits.assign(sol->bits.begin(), sol->bits.begin() + words);
    pending_ints.assign(sol->int_vals.begin(), sol->int_vals.begin() + m.int_count());
    hint_pending[0].store(true);
    hint_pending[1].store(true);
    if (running_int_solver != nullptr && kelp_api().cpu_hint_iv != nullptr) {
        kelp_api().cpu_hint_iv(running_int_solver, pending_bits.data(), pending_ints.data(),
                               m.int_count());
    }
}

bool KelpWrapper::take_hint(int consumer, uint64_t* bits, int64_t* ints) {
    if (!hint_pending[consumer].load()) return false;
    std::lock_guard<std::mutex> lock(mutex);
    if (!hint_pending[consumer].load()) return false;
    std::copy(pending_bits.begin(), pending_bits.end(), bits);
    std::copy(pending_ints.begin(), pending_ints.end(), ints);
    hint_pending[consumer].store(false);
    return true;
}

}  // namespace dalo

// The BriskSolver wrapper.
#include <chrono>
#include <cstdlib>

#include "core/fatal.hpp"
#include "solvers/int_engine.hpp"
#include "solvers/plugin_search.hpp"
#include "solvers/plugins.hpp"
#include "solvers/sysinfo.hpp"
#include "solvers/wrappers.hpp"

namespace dalo {

namespace {

ConsSink brisk_sink(const BriskSolverApi& api, void* solver, const std::string& type) {
    ConsSink s;
    s.solver = solver;
    s.add = api.add_constraint;
    s.add_nl = api.add_constraint_nl;
    s.add_set = api.add_constraint_set;
    s.set_shape = api.set_cons_shape;
    s.set_remainder = api.set_remainder;
    s.no_shape =
        "BriskSolver: this solver .so predates dalo::abs/relu (missing "
        "dalo_brisk_solver_set_cons_shape) — update the "
        "solver .so.";
    s.no_add =
        "BriskSolver: brisksolver_" + type + ".so does not support native constraints (rebuild it)";
    s.no_nl =
        "BriskSolver: this solver .so does not support nonlinear native constraint bodies (rebuild "
        "it, or use a "
        "linear constraint body)";
    s.no_set =
        "BriskSolver: this solver .so does not support allowed-value set constraints (equal{...}); "
        "rebuild it";
    s.no_remainder =
        "BriskSolver: this solver .so does not support free-form penalty constraints (rebuild it)";
    return s;
}

}  // namespace

bool unified_requested() {
    const char* env = std::getenv("DALO_INT_UNIFIED");
    return env != nullptr && env[0] == '1';
}

BriskWrapper::BriskWrapper(ModelHandle m) : model(std::move(m)) {
    const ModelImpl& mm = *model;
    if (mm.int_count() > 0) {
        if (mm.has_remainder) {
            fatal(
                "BriskSolver: internal error — a free-form remainder with integer variables should "
                "have been "
                "rejected at Model.");
        }
        int_model = true;
        return;
    }
    solver_type = kSolverType;
    arrays = std::make_unique<TermArrays>(mm);
    const BriskSolverApi& api = brisk_api(solver_type);
    ConsSink sink = brisk_sink(api, nullptr, solver_type);
    check_hand_over(mm, sink);
    brisk_register_callback_once(solver_type, api);
    solver = api.create(nullptr, mm.var_count(), mm.max_degree, &mm.constant, arrays->counts.data(),
                        arrays->vars.data(), arrays->coeffs.data());
    sink.solver = solver;
    PluginHandle guard(solver, api.destroy);
    hand_over(mm, sink);
    guard.release();
}

BriskWrapper::~BriskWrapper() {
    if (solver != nullptr) brisk_api(solver_type).destroy(solver);
}

SolverResult BriskWrapper::search(const dalo_plugin_pair* params, const void* hint) {
    if (int_model) {
        if (hint != nullptr) {
            fatal(
                "BriskSolver: hint on a native integer model requires the int-aware search path "
                "(update the dalo "
                "header).");
        }
        return integer_search(params, nullptr, nullptr, 0);
    }
    ParamList list(params);
    if (!list.has("time_limit")) list.add("time_limit", "10.0");
    const BriskSolverApi& api = brisk_api(solver_type);
    return plugin_search(api, solver, *model, [&](dalo_solution_record* rec) {
        return api.search(solver, rec, list.pairs(), hint);
    });
}

SolverResult BriskWrapper::search_int(const dalo_plugin_pair* params, const uint64_t* hint_bits,
                                      const int64_t* hint_ints, uint64_t hint_count) {
    if (!int_model) fatal("BriskSolver: search_int called on a binary model.");
    return integer_search(params, hint_bits, hint_ints, hint_count);
}

SolverResult BriskWrapper::integer_search(const dalo_plugin_pair* params, const uint64_t* hint_bits,
                                          const int64_t* hint_ints, uint64_t hint_count) {
    const ModelImpl& m = *model;
    ParamList list(params);
    const bool eligible = !list.has("topk_sols") && !list.has("best_energy_sols") &&
                          !m.has_remainder && !any_nonlinear_body(m) &&
                          (solver_type.empty() || solver_type == kSolverType);
    if (unified_requested() && hint_bits == nullptr && eligible) return unified_search(list);
    IntSearchOpts opts = int_search_options(list, "BriskSolver");
    if (hint_bits != nullptr) set_int_hint(opts, m, hint_bits, hint_ints, hint_count);
    opts.model = model;
    return brisk_int_search(m, opts);
}

SolverResult BriskWrapper::unified_search(const ParamList& params) {
    const ModelImpl& m = *model;
    const std::string type = kSolverType;
    const BriskSolverApi& api = brisk_api(type);
    if (api.create_int == nullptr || api.search_int == nullptr) {
        fatal("BriskSolver: DALO_INT_UNIFIED=1 but brisksolver_" + type +
              " lacks the unified integer engine (rebuild the solver .so)");
    }
    ConsSink sink = brisk_sink(api, nullptr, type);
    sink.no_set =
        "BriskSolver: this solver .so does not support allowed-set constraints (rebuild it)";
    sink.no_shape =
        "BriskSolver: this solver .so predates dalo::abs/relu (missing "
        "dalo_brisk_solver_set_cons_shape)";
    const std::vector<NativeCons> records = unified_records(m);
    check_hand_over(m, sink, &records);
    ParamList list;
    for (const auto& [k, v] : params.items()) {
        if (k == "threads") {
            if (parse_param_uint(v) == 0) fatal("BriskSolver: threads must be >= 1.");
            list.add("thread_count", v);
        } else {
            list.add(k, v);
        }
    }
    if (!list.has("time_limit")) list.add("time_limit", "10.0");

    brisk_register_callback_once(type, api);
    TermArrays terms(m);
    void* h = api.create_int(nullptr, m.var_count(), m.int_count(), m.int_lower.data(),
                             m.int_upper.data(), m.max_degree, &m.constant, terms.counts.data(),
                             terms.vars.data(), terms.coeffs.data());
    const PluginHandle guard(h, api.destroy);
    sink.solver = h;
    hand_over(m, sink, &records);
    SolutionCells best(m.var_count());
    std::vector<int64_t> values(m.int_count(), 0);
    const auto t0 = Clock::now();
    void* sols = api.search_int(h, best.record(), list.pairs(), values.data());
    const double elapsed = seconds_since(t0);
    SolverResult r;
    r.energy = best.energy();
    r.tts = best.tts();
    r.scale = m.scale;
    r.bits = best.bits();
    r.int_values = std::move(values);
    if (sols != nullptr) api.sol_list_destroy(sols);
    r.add_info("run_time", format_seconds(elapsed));
    append_plugin_info(api, h, r);
    r.add_info("engine", "integer-unified");
    append_system_info(r.info);
    return r;
}

}  // namespace dalo

// The SweepSolver wrapper: the plug-in enumerates binary Models, the library integer ones.
#include "core/fatal.hpp"
#include "solvers/enumerate.hpp"
#include "solvers/plugin_search.hpp"
#include "solvers/plugins.hpp"
#include "solvers/wrappers.hpp"

namespace dalo {

namespace {

ConsSink sweep_sink(const SweepSolverApi& api, void* solver) {
    ConsSink s;
    s.solver = solver;
    s.add = api.add_constraint;
    s.add_nl = api.add_constraint_nl;
    s.add_set = api.add_constraint_set;
    s.set_shape = api.set_cons_shape;
    s.set_remainder = api.set_remainder;
    s.no_shape =
        "SweepSolver: this solver .so predates dalo::abs/relu (missing dalo_sweep_set_cons_shape) "
        "— update the solver "
        ".so.";
    s.no_add = "SweepSolver: the sweep solver .so does not support native constraints (rebuild it)";
    s.no_nl =
        "SweepSolver: this solver .so does not support nonlinear native constraint bodies (rebuild "
        "it)";
    s.no_set =
        "SweepSolver: this solver .so does not support allowed-value set constraints (equal{...}); "
        "rebuild it";
    s.no_remainder =
        "SweepSolver: this solver .so does not support free-form penalty constraints (rebuild it)";
    return s;
}

}  // namespace

SweepWrapper::SweepWrapper(ModelHandle m) : model(std::move(m)) {
    const ModelImpl& mm = *model;
    if (mm.int_count() > 0) {
        check_enumeration_size(mm);
        int_model = true;
        return;
    }
    arrays = std::make_unique<TermArrays>(mm);
    const SweepSolverApi& api = sweep_api();
    ConsSink sink = sweep_sink(api, nullptr);
    check_hand_over(mm, sink);
    sweep_register_callback_once(api);
    solver = api.create(nullptr, mm.var_count(), mm.max_degree, &mm.constant, arrays->counts.data(),
                        arrays->vars.data(), arrays->coeffs.data(), 0xFFFFFFFFu);
    sink.solver = solver;
    PluginHandle guard(solver, api.destroy);
    hand_over(mm, sink);
    guard.release();
}

SweepWrapper::~SweepWrapper() {
    if (solver != nullptr) sweep_api().destroy(solver);
}

SolverResult SweepWrapper::search(const dalo_plugin_pair* params) {
    ParamList list(params);
    if (int_model) return sweep_int_enumerate(*model, list);
    const SweepSolverApi& api = sweep_api();
    return plugin_search(api, solver, *model, [&](dalo_solution_record* rec) {
        return api.search(solver, rec, list.pairs());
    });
}

}  // namespace dalo

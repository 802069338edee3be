// Solver plug-ins through the wrappers: loading, capabilities, hand-over, parameters,
// results. The test plug-ins of tests/plugins/fixtures stand in for real solvers (ctest runs every
// test in its own process, so each may choose its plug-in folder before the first load).
#include "support/suite.hpp"

#include "support/plugin_models.hpp"

namespace {

using namespace dalo_test;
using namespace dalo_test::build;

void use(const std::string& variant) {
    setenv("DALO_LIB_DIR", (std::string(DALO_FIXTURE_DIR) + "/" + variant).c_str(), 1);
}

std::vector<std::string> keys(const Outcome& o) {
    std::vector<std::string> out;
    for (const auto& kv : o.info) out.push_back(kv.first);
    return out;
}

class SolverTest : public testing::Test {
  protected:
    uint64_t n = 4;
    dalo_var x = dalo_new_var_array("x", &n, 1);
    dalo_var k = dalo_new_int_var("k", -2, 3);
    // 1 - 3 x0 x1 - 2 x0 + 2 x2: optimum -4 at x0 = x1 = 1, x2 = x3 = 0.
    ExprPtr objective() {
        ExprPtr e(dalo_expr_create_int(1));
        add(e, -3, {x, x + 1});
        add(e, -2, {x});
        add(e, 2, {x + 2});
        return binary(e);
    }
    // (k - 1)^2 - x0 + 2 k x0 over k in [-2, 3]: optimum 0 (k = 0, x0 = 1 or k = 1, x0 = 0).
    ExprPtr int_objective() {
        ExprPtr e(dalo_expr_create_add_var_int(k, -1));
        ExprPtr sq(dalo_expr_sqr(e.get()));
        dalo_expr_isub_var(sq.get(), x);
        add(sq, 2, {x, k});
        return binary(sq);
    }
    // The objective with one constraint of each asked kind (always a linear one).
    ExprPtr constrained(bool shapes, bool nonlinear, bool sets, bool remainder) {
        ExprPtr e = objective();
        add(e, ExprPtr(
                   dalo_cons_between(ExprPtr(dalo_expr_create_add_var_var(x, x + 3)).get(), 0, 1)));
        if (shapes) {
            add(e, ExprPtr(dalo_abs_term(var(x + 1).get(), 1)));
            add(e, ExprPtr(dalo_relu_term(var(x + 2).get(), 2)));
        }
        if (nonlinear) add(e, ExprPtr(dalo_cons_between(raw(1, {x, x + 2}).get(), 0, 0)));
        if (sets) {
            const int64_t lo[2] = {0, 2}, hi[2] = {0, 2};
            ExprPtr body(dalo_expr_create_add_var_var(x + 1, x + 3));
            add(e, ExprPtr(dalo_cons_equal(body.get(), lo, hi, 2)));
        }
        if (remainder) add(e, ExprPtr(dalo_cons_mark(var(x + 3).get())));
        return e;
    }
    dalo_model* model(const ExprPtr& e) { return models.emplace_back(model_of(e)).get(); }
    std::vector<ModelPtr> models;
};

using SolverDeathTest = SolverTest;

// ---- loading ----

TEST_F(SolverTest, EmptyLibDirIsUnset) {
    setenv("DALO_LIB_DIR", "", 1);
    EXPECT_EQ(solve(Family::Brisk, model(objective()), {{"time_limit", "0.2"}}).best.energy, -4);
}

TEST_F(SolverTest, LibDirWithoutTrailingSlash) {
    use("minimal");  // no get_info: only the library's own pairs
    EXPECT_EQ(keys(solve(Family::Brisk, model(objective()), {{"time_limit", "0.2"}})),
              (std::vector<std::string>{"run_time", "os", "cpu", "gpu", "ram"}));
}

TEST_F(SolverDeathTest, LoadFailures) {
    setenv("DALO_LIB_DIR", "/nonexistent/", 1);
    for (const std::string name : {"BriskSolver", "KELPSolver"}) {
        const std::string file = std::string("/nonexistent/") +
                                 (name == "KELPSolver" ? "kelp" : "brisksolver") + "_c32e64.so";
        EXPECT_FATAL(name == "KELPSolver"
                         ? (void)dalo_kelp_wrapper_create(model(objective()), 0)
                         : (void)dalo_brisk_solver_wrapper_create(model(objective())),
                     name + ": failed to load " + file + ": " + file +
                         ": cannot open shared object file: No such file or directory");
    }
    use("broken");
    EXPECT_FATAL(dalo_brisk_solver_wrapper_create(model(objective())),
                 "BriskSolver: symbol not found: dalo_brisk_solver_sol_list_destroy");
}

// ---- hand-over of native constraints ----

struct Missing {
    const char* variant;
    bool shapes, nonlinear, sets, remainder;
    const char* message;
};

class HandOverDeathTest : public SolverTest, public testing::WithParamInterface<Missing> {};

TEST_P(HandOverDeathTest, MissingCapability) {
    const Missing& c = GetParam();
    use(c.variant);
    EXPECT_FATAL(dalo_brisk_solver_wrapper_create(
                     model(constrained(c.shapes, c.nonlinear, c.sets, c.remainder))),
                 c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, HandOverDeathTest,
    testing::Values(
        Missing{
            "minimal", false, false, false, false,
            "BriskSolver: brisksolver_c32e64.so does not support native constraints (rebuild it)"},
        Missing{"noshape", true, false, false, false,
                "BriskSolver: this solver .so predates dalo::abs/relu (missing "
                "dalo_brisk_solver_set_cons_shape) — update the solver .so."},
        Missing{"nonl", false, true, false, false,
                "BriskSolver: this solver .so does not support nonlinear native constraint bodies "
                "(rebuild it, or use a linear constraint body)"},
        Missing{"noset", false, false, true, false,
                "BriskSolver: this solver .so does not support allowed-value set constraints "
                "(equal{...}); rebuild it"},
        Missing{"noremainder", false, false, false, true,
                "BriskSolver: this solver .so does not support free-form penalty constraints "
                "(rebuild it)"}));

// ---- results ----

TEST_F(SolverTest, ResultsListsAndSols) {
    use("full");
    dalo_model* m = model(objective());
    BriskPtr w(dalo_brisk_solver_wrapper_create(m));
    const dalo_param p[] = {{"fixture_list", "1"}, {"fixture_callback", "1"}, {nullptr, nullptr}};
    dalo_solver_result* r = dalo_brisk_solver_wrapper_search(w.get(), p, nullptr);
    // The library's BriskSolver callback answers -1.
    std::string params;
    for (uint64_t i = 0; i < dalo_brisk_solver_result_info_count(r); ++i)
        if (std::string(dalo_brisk_solver_result_info_key(r, i)) == "fixture_params")
            params = dalo_brisk_solver_result_info_value(r, i);
    EXPECT_NE(params.find("callback=-1.000000;"), std::string::npos) << params;
    ASSERT_EQ(dalo_brisk_solver_result_topk_count(r), 3u);
    int64_t prev = INT64_MIN;
    for (uint64_t i = 0; i < 3; ++i) {
        int64_t e = 0;
        EXPECT_EQ(dalo_brisk_solver_result_topk_energy(r, i, &e), e);
        EXPECT_GE(e, prev);
        prev = e;
        EXPECT_DOUBLE_EQ(dalo_brisk_solver_result_topk_tts(r, i), 0.001);
    }
    // Exchanging bit words: the result gets the caller's block, the caller the result's.
    auto* mine = static_cast<uint64_t*>(std::malloc(sizeof(uint64_t)));
    mine[0] = 0xABC;
    dalo_u64_vector v{mine, mine + 1, mine + 1};
    dalo_brisk_solver_result_steal_bits(r, &v);
    ASSERT_EQ(v.end - v.begin, 1);
    EXPECT_EQ(v.begin[0], 0b0011u);
    EXPECT_EQ(dalo_brisk_solver_result_bits(r)[0], 0xABCu);
    std::free(v.begin);
    dalo_u64_vector empty{nullptr, nullptr, nullptr};
    dalo_brisk_solver_result_steal_topk_bits(r, 0, &empty);
    EXPECT_EQ(empty.end - empty.begin, 1);
    std::free(empty.begin);
    // Moving the bits into a Sol twice: the second Sol gets none.
    SolPtr a(dalo_brisk_solver_result_to_sol(r, m));
    SolPtr b(dalo_brisk_solver_result_to_sol(r, m));
    EXPECT_EQ(dalo_sol_get(a.get(), x), 0u);  // 0xABC: x0 = 0
    EXPECT_EQ(dalo_sol_energy(b.get(), nullptr), -4);
    EXPECT_DOUBLE_EQ(dalo_sol_tts(a.get()), 0.001);
    dalo_brisk_solver_result_destroy(r);
    dalo_brisk_solver_result_destroy(nullptr);
    dalo_brisk_solver_wrapper_destroy(nullptr);
}

TEST_F(SolverDeathTest, ResultIndexesAreChecked) {
    BriskPtr w(dalo_brisk_solver_wrapper_create(model(objective())));
    const dalo_param p[] = {{"time_limit", "0.2"}, {nullptr, nullptr}};
    dalo_solver_result* r = dalo_brisk_solver_wrapper_search(w.get(), p, nullptr);
    EXPECT_FATAL(dalo_brisk_solver_result_info_key(r, 99), "SolverResult: info index out of range");
    EXPECT_FATAL(dalo_brisk_solver_wrapper_search_int(w.get(), nullptr, nullptr, nullptr, 0),
                 "BriskSolver: search_int called on a binary model.");
    dalo_brisk_solver_result_destroy(r);
}

// ---- integer Models ----

TEST_F(SolverTest, IntegerEnginesReachThePlugins) {
    use("full");
    setenv("DALO_INT_UNIFIED", "1", 1);
    Outcome o = solve(Family::Brisk, model(int_objective()), {{"threads", "2"}});
    EXPECT_EQ(o["engine"], "integer-unified");
    EXPECT_EQ(o["fixture_params"], "thread_count=2;time_limit=10.0;");
    // KELPSolver's unified engine forwards integer events.
    use("gpu");
    KelpPtr w(dalo_kelp_wrapper_create(models.back().get(), 0));
    Events ev;
    ev.model = models.back().get();
    dalo_kelp_wrapper_set_callback(w.get(), record_event, &ev);
    o = finish(dalo_kelp_wrapper_search_int(w.get(), nullptr, nullptr, nullptr, 0),
               models.back().get(), std::chrono::steady_clock::now());
    EXPECT_EQ(o["engine"], "integer-unified");
    EXPECT_EQ(ev.energies, std::vector<int64_t>{0});  // one event, as reported and recomputed
    EXPECT_EQ(ev.recomputed, std::vector<int64_t>{0});
    EXPECT_EQ(o.best.energy, 0);
    unsetenv("DALO_INT_UNIFIED");
    // Its integer GPU engine takes part in GPU mode.
    o = solve(Family::Kelp, models.back().get(), {{"time_limit", "0.2"}, {"threads", "1"}}, nullptr,
              nullptr, 1);
    EXPECT_EQ(o["engine"], "integer-cpu+gpu");
    EXPECT_EQ(o.best.energy, 0);
}

TEST_F(SolverTest, KelpTerminateStopsAnIntegerSearch) {
    dalo_model* m = model(int_objective());
    KelpPtr w(dalo_kelp_wrapper_create(m, 0));
    const dalo_param p[] = {{"time_limit", "20"}, {"threads", "1"}, {nullptr, nullptr}};
    std::thread stopper([&w] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        dalo_kelp_wrapper_terminate(w.get());
    });
    const auto t0 = std::chrono::steady_clock::now();
    dalo_solver_result* r = dalo_kelp_wrapper_search_int(w.get(), p, nullptr, nullptr, 0);
    stopper.join();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 5.0);
    EXPECT_EQ(dalo_brisk_solver_result_energy(r, nullptr), 0);
    // A hint that does not fit the Model is ignored; one that fits is taken by the next search.
    SolPtr good(dalo_brisk_solver_result_to_sol(r, m));
    dalo_kelp_wrapper_hint(w.get(), good.get());
    dalo_kelp_wrapper_hint(w.get(), nullptr);
    dalo_brisk_solver_result_destroy(r);
}

TEST_F(SolverDeathTest, IntegerRefusals) {
    BriskPtr w(dalo_brisk_solver_wrapper_create(model(int_objective())));
    uint64_t bits = 0;
    EXPECT_FATAL(dalo_brisk_solver_wrapper_search(w.get(), nullptr, &bits),
                 "BriskSolver: hint on a native integer model requires the int-aware search path "
                 "(update the dalo header).");
    setenv("DALO_INT_UNIFIED", "1", 1);
    const dalo_param zero[] = {{"threads", "0"}, {nullptr, nullptr}};
    EXPECT_FATAL(dalo_brisk_solver_wrapper_search_int(w.get(), zero, nullptr, nullptr, 0),
                 "BriskSolver: threads must be >= 1.");
    use("minimal");
    EXPECT_FATAL(dalo_brisk_solver_wrapper_search_int(w.get(), nullptr, nullptr, nullptr, 0),
                 "BriskSolver: DALO_INT_UNIFIED=1 but brisksolver_c32e64 lacks the unified integer "
                 "engine (rebuild the solver .so)");
    // A free-form remainder next to integer variables cannot reach a solver.
    ExprPtr e = int_objective();
    add(e, ExprPtr(dalo_cons_mark(var(x + 1).get())));
    dalo_model* m = model(e);
    const std::string rest =
        ": internal error — a free-form remainder with integer variables should have been "
        "rejected at Model.";
    EXPECT_FATAL(dalo_brisk_solver_wrapper_create(m), "BriskSolver" + rest);
    EXPECT_FATAL(dalo_kelp_wrapper_create(m, 0), "KELPSolver" + rest);
    EXPECT_FATAL(dalo_sweep_wrapper_create(m), "SweepSolver" + rest);
}

// ---- KELPSolver ----

TEST_F(SolverTest, KelpFallsBackToTheCpuForNonlinearBodies) {
    // Without a host callback the forwarding function answers -1.
    use("gpu_no_nl");
    ExprPtr e = objective();
    add(e, ExprPtr(dalo_cons_between(raw(1, {x, x + 1}).get(), 0, 0)));
    EXPECT_EQ(solve(Family::Kelp, model(e), {})["fixture_run"].substr(0, 33),
              "cpu;device=0;callback=-1.000000;s");
}

TEST_F(SolverTest, KelpProfileLines) {
    use("full");
    dalo_model* m = model(objective());
    EXPECT_EXIT(
        {
            setenv("DALO_MODEL_PROFILE", "1", 1);
            dalo_kelp_wrapper_destroy(dalo_kelp_wrapper_create(m, 0));
            std::exit(0);
        },
        testing::ExitedWithCode(0),
        "^  \\[Wrap\\] enter \\(after model copy\\): [0-9.e+-]+s\n"
        "  \\[Wrap\\] kelp_dispatch\\(\\): [0-9.e+-]+s\n"
        "  \\[Wrap\\] gpu_count \\+ has_gpu \\(CUDA init\\): [0-9.e+-]+s\n"
        "  \\[Wrap\\] set tv_ptrs \\+ ca_ptrs \\(no copy\\): [0-9.e+-]+s\n"
        "  \\[Wrap\\] gpu/cpu_create \\(DeltaModel \\+ DeviceDeltaModel\\): [0-9.e+-]+s\n$");
}

TEST_F(SolverDeathTest, KelpGpuRefusals) {
    use("gpu_nodev");
    EXPECT_FATAL(dalo_kelp_wrapper_create(model(objective()), 1),
                 "KELPSolver: GPU mode requested but no GPU available");
    use("gpu_no_nl");
    ExprPtr e = objective();
    add(e, ExprPtr(dalo_cons_between(raw(1, {x, x + 1}).get(), 0, 0)));
    EXPECT_FATAL(dalo_kelp_wrapper_create(model(e), 1),
                 "KELPSolver: this kelp .so does not support nonlinear native constraint bodies on "
                 "the GPU (rebuild it)");
    use("int_partial");
    EXPECT_FATAL(dalo_kelp_wrapper_create(model(var(k)), 1),
                 "KELPSolver: GPU mode requested but the integer GPU engine is unavailable (no "
                 "CUDA device, or this kelp .so has no integer kernels).");
}

}  // namespace

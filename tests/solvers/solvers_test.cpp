// Solver plug-ins through the wrappers: loading, capabilities, hand-over, parameters,
// results. The test plug-ins of tests/plugins/fixtures stand in for real solvers (ctest runs every
// test in its own process, so each may choose its plug-in folder before the first load).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "dalo.h"
#include "support/expr_util.hpp"
#include "support/fatal.hpp"

using dalo_test::ExprPtr;

namespace {

// A short search for the plug-ins beside the library (real solvers use the whole limit).
const dalo_param kShort[] = {{"time_limit", "0.2"}, {nullptr, nullptr}};

std::string fixtures(const std::string& variant) {
    return std::string(DALO_FIXTURE_DIR) + "/" + variant;
}
void use(const std::string& variant) { setenv("DALO_LIB_DIR", fixtures(variant).c_str(), 1); }

struct Info {
    std::vector<std::pair<std::string, std::string>> pairs;
    explicit Info(const dalo_solver_result* r) {
        for (uint64_t i = 0; i < dalo_brisk_solver_result_info_count(r); ++i) {
            pairs.emplace_back(dalo_brisk_solver_result_info_key(r, i),
                               dalo_brisk_solver_result_info_value(r, i));
        }
    }
    std::string operator[](const std::string& key) const {
        for (const auto& [k, v] : pairs) {
            if (k == key) return v;
        }
        return "<absent>";
    }
    std::vector<std::string> keys() const {
        std::vector<std::string> out;
        for (const auto& kv : pairs) out.push_back(kv.first);
        return out;
    }
};

class SolverTest : public testing::Test {
  protected:
    uint64_t n = 4;
    dalo_var x = dalo_new_var_array("x", &n, 1);
    // A small binary objective with its optimum at x0 = 1, x1 = 1, x2 = 0, x3 = 0 (energy -4).
    ExprPtr objective() {
        ExprPtr e(dalo_expr_create_int(1));
        dalo_var x01[2] = {x, x + 1};
        dalo_expr_iadd_raw_term(e.get(), -3, x01, 2);
        dalo_expr_iadd_raw_term(e.get(), -2, &x, 1);
        dalo_var x2 = x + 2;
        dalo_expr_iadd_raw_term(e.get(), 2, &x2, 1);
        return ExprPtr(dalo_expr_simplify_as_binary(e.get()));
    }
    dalo_model* model(const ExprPtr& e) { return models.emplace_back(dalo_model_create(e.get())); }
    ExprPtr var(dalo_var v) { return ExprPtr(dalo_expr_create_var(v)); }
    void TearDown() override {
        for (dalo_model* m : models) dalo_model_destroy(m);
    }
    std::vector<dalo_model*> models;
};

// A host callback that counts its calls and answers a fixed number.
struct CallbackLog {
    int calls = 0;
    uint32_t last_event = 99;
    int64_t last_energy = 0;
    double answer = 7.5;
};

double record_callback(void* context, dalo_sol* sol, uint32_t event) {
    auto* log = static_cast<CallbackLog*>(context);
    ++log->calls;
    log->last_event = event;
    log->last_energy = dalo_sol_energy(sol, nullptr);
    dalo_sol_destroy(sol);
    return log->answer;
}

// ---- loading ----

TEST_F(SolverTest, DefaultFolderIsTheLibrarysOwn) {
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(model(objective()));
    dalo_solver_result* r = dalo_brisk_solver_wrapper_search(w, kShort, nullptr);
    Info info(r);
    std::vector<std::string> keys = info.keys();
    ASSERT_GE(keys.size(), 5u);
    EXPECT_EQ(keys.front(), "run_time");
    EXPECT_EQ(std::vector<std::string>(keys.end() - 4, keys.end()),
              (std::vector<std::string>{"os", "cpu", "gpu", "ram"}));
    EXPECT_EQ(dalo_brisk_solver_result_energy(r, nullptr), -4);
    EXPECT_EQ(dalo_brisk_solver_result_bits(r)[0], 0b0011u);
    dalo_brisk_solver_result_destroy(r);
    dalo_brisk_solver_wrapper_destroy(w);
}

TEST_F(SolverTest, DefaultParametersAndNoList) {
    use("full");
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(model(objective()));
    dalo_solver_result* r = dalo_brisk_solver_wrapper_search(w, nullptr, nullptr);
    EXPECT_EQ(Info(r)["fixture_params"], "time_limit=10.0;");  // the one default parameter
    EXPECT_EQ(dalo_brisk_solver_result_topk_count(r), 0u);     // the plug-in returned no list
    dalo_brisk_solver_result_destroy(r);
    dalo_brisk_solver_wrapper_destroy(w);
}

TEST_F(SolverTest, LibDirWithoutTrailingSlash) {
    use("minimal");  // no get_info: only the library's own pairs
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(model(objective()));
    dalo_solver_result* r = dalo_brisk_solver_wrapper_search(w, kShort, nullptr);
    EXPECT_EQ(Info(r).keys(), (std::vector<std::string>{"run_time", "os", "cpu", "gpu", "ram"}));
    dalo_brisk_solver_result_destroy(r);
    dalo_brisk_solver_wrapper_destroy(w);
}

TEST_F(SolverTest, EmptyLibDirIsUnset) {
    setenv("DALO_LIB_DIR", "", 1);
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(model(objective()));
    dalo_solver_result* r = dalo_brisk_solver_wrapper_search(w, kShort, nullptr);
    EXPECT_EQ(dalo_brisk_solver_result_energy(r, nullptr), -4);
    dalo_brisk_solver_result_destroy(r);
    dalo_brisk_solver_wrapper_destroy(w);
}

TEST_F(SolverTest, SweepIgnoresLibDir) {
    setenv("DALO_LIB_DIR", "/nonexistent", 1);
    dalo_sweep_wrapper* w = dalo_sweep_wrapper_create(model(objective()));
    dalo_solver_result* r = dalo_sweep_wrapper_search(w, nullptr);
    EXPECT_EQ(dalo_brisk_solver_result_energy(r, nullptr), -4);
    dalo_brisk_solver_result_destroy(r);
    dalo_sweep_wrapper_destroy(w);
}

using SolverDeathTest = SolverTest;

TEST_F(SolverDeathTest, LoadFailures) {
    const std::string missing = "/nonexistent/brisksolver_c32e64.so";
    setenv("DALO_LIB_DIR", "/nonexistent/", 1);
    EXPECT_FATAL(dalo_brisk_solver_wrapper_create(model(objective())),
                 "BriskSolver: failed to load " + missing + ": " + missing +
                     ": cannot open shared object file: No such file or directory");
    const std::string kelp = "/nonexistent/kelp_c32e64.so";
    EXPECT_FATAL(dalo_kelp_wrapper_create(model(objective()), 0),
                 "KELPSolver: failed to load " + kelp + ": " + kelp +
                     ": cannot open shared object file: No such file or directory");
    use("broken");
    EXPECT_FATAL(dalo_brisk_solver_wrapper_create(model(objective())),
                 "BriskSolver: symbol not found: dalo_brisk_solver_sol_list_destroy");
}

// ---- hand-over of native constraints ----

class HandOver : public SolverTest {
  protected:
    // Objective plus one constraint of each kind.
    ExprPtr constrained(bool shapes, bool nonlinear, bool sets, bool remainder) {
        ExprPtr e = objective();
        dalo_expr_iadd_expr(
            e.get(),
            ExprPtr(dalo_cons_between(ExprPtr(dalo_expr_create_add_var_var(x, x + 3)).get(), 0, 1))
                .get());
        if (shapes) {
            dalo_expr_iadd_expr(e.get(), ExprPtr(dalo_abs_term(var(x + 1).get(), 1)).get());
            dalo_expr_iadd_expr(e.get(), ExprPtr(dalo_relu_term(var(x + 2).get(), 2)).get());
        }
        if (nonlinear) {
            dalo_var xy[2] = {x, x + 2};
            ExprPtr body(dalo_expr_create_raw_term(1, xy, 2, 0));
            dalo_expr_iadd_expr(e.get(), ExprPtr(dalo_cons_between(body.get(), 0, 0)).get());
        }
        if (sets) {
            int64_t lo[2] = {0, 2}, hi[2] = {0, 2};
            dalo_expr_iadd_expr(
                e.get(),
                ExprPtr(dalo_cons_equal(ExprPtr(dalo_expr_create_add_var_var(x + 1, x + 3)).get(),
                                        lo, hi, 2))
                    .get());
        }
        if (remainder)
            dalo_expr_iadd_expr(e.get(), ExprPtr(dalo_cons_mark(var(x + 3).get())).get());
        return e;
    }
};

TEST_F(HandOver, EveryKindReachesThePlugin) {
    use("full");
    dalo_brisk_solver_wrapper* w =
        dalo_brisk_solver_wrapper_create(model(constrained(true, true, true, true)));
    dalo_param p[] = {{"time_limit", "3"}, {"other", "x"}, {nullptr, nullptr}};
    dalo_solver_result* r = dalo_brisk_solver_wrapper_search(w, p, nullptr);
    Info info(r);
    EXPECT_EQ(info["fixture_params"], "time_limit=3;other=x;");
    // linear / nonlinear / sets / shaped / remainder terms: records in Model order
    // (linear bodies first); abs with k = 1 passes (1, 1), relu with k = 2 passes (2, 1).
    EXPECT_EQ(info["fixture_cons"], "3/1/1/2/1");
    EXPECT_EQ(info["fixture_shapes"], "2:0;1:1;2:1;2:0;2:0;");
    // The plug-in's optimum counts the constraints: the Sol recomputes the same energy.
    dalo_sol* s = dalo_brisk_solver_result_to_sol(r, models.back());
    const int64_t e = dalo_brisk_solver_result_energy(r, nullptr);
    EXPECT_EQ(dalo_sol_energy(s, nullptr), e);
    dalo_sol_flip(s, x);
    dalo_sol_flip(s, x);
    EXPECT_EQ(dalo_sol_compute_energy(s, nullptr), e);
    dalo_sol_destroy(s);
    dalo_brisk_solver_result_destroy(r);
    dalo_brisk_solver_wrapper_destroy(w);
}

TEST_F(HandOver, DefaultShapesNeedNoShapeEntryPoint) {
    use("noshape");
    dalo_brisk_solver_wrapper* w =
        dalo_brisk_solver_wrapper_create(model(constrained(false, true, true, true)));
    dalo_brisk_solver_wrapper_destroy(w);
}

using HandOverDeathTest = HandOver;

TEST_F(HandOverDeathTest, MissingCapabilities) {
    use("minimal");
    EXPECT_FATAL(
        dalo_brisk_solver_wrapper_create(model(constrained(false, false, false, false))),
        "BriskSolver: brisksolver_c32e64.so does not support native constraints (rebuild it)");
    use("noshape");
    EXPECT_FATAL(dalo_brisk_solver_wrapper_create(model(constrained(true, false, false, false))),
                 "BriskSolver: this solver .so predates dalo::abs/relu (missing "
                 "dalo_brisk_solver_set_cons_shape) — "
                 "update the solver .so.");
}

TEST_F(HandOverDeathTest, MissingNonlinearBodies) {
    use("nonl");
    EXPECT_FATAL(dalo_brisk_solver_wrapper_create(model(constrained(false, true, false, false))),
                 "BriskSolver: this solver .so does not support nonlinear native constraint bodies "
                 "(rebuild it, or use "
                 "a linear constraint body)");
}

TEST_F(HandOverDeathTest, MissingAllowedSets) {
    use("noset");
    EXPECT_FATAL(dalo_brisk_solver_wrapper_create(model(constrained(false, false, true, false))),
                 "BriskSolver: this solver .so does not support allowed-value set constraints "
                 "(equal{...}); rebuild it");
}

TEST_F(HandOverDeathTest, MissingRemainder) {
    use("noremainder");
    EXPECT_FATAL(
        dalo_brisk_solver_wrapper_create(model(constrained(false, false, false, true))),
        "BriskSolver: this solver .so does not support free-form penalty constraints (rebuild it)");
}

// ---- results ----

TEST_F(SolverTest, ResultsListsAndSols) {
    use("full");
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(model(objective()));
    dalo_param p[] = {{"fixture_list", "1"}, {"fixture_callback", "1"}, {nullptr, nullptr}};
    dalo_solver_result* r = dalo_brisk_solver_wrapper_search(w, p, nullptr);
    // The library's BriskSolver callback answers -1.
    EXPECT_NE(Info(r)["fixture_params"].find("callback=-1.000000;"), std::string::npos);
    ASSERT_EQ(dalo_brisk_solver_result_topk_count(r), 3u);
    int64_t prev = INT64_MIN;
    for (uint64_t i = 0; i < 3; ++i) {
        int64_t e = 0;
        EXPECT_EQ(dalo_brisk_solver_result_topk_energy(r, i, &e), e);
        EXPECT_GE(e, prev);
        prev = e;
        EXPECT_DOUBLE_EQ(dalo_brisk_solver_result_topk_tts(r, i), 0.001);
    }
    dalo_sol* t = dalo_brisk_solver_result_topk_to_sol(r, 1, models.back());
    EXPECT_EQ(dalo_sol_energy(t, nullptr), dalo_brisk_solver_result_topk_energy(r, 1, nullptr));
    dalo_sol_destroy(t);
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
    dalo_sol* a = dalo_brisk_solver_result_to_sol(r, models.back());
    dalo_sol* b = dalo_brisk_solver_result_to_sol(r, models.back());
    EXPECT_EQ(dalo_sol_get(a, x), 0u);  // 0xABC: x0 = 0
    EXPECT_EQ(dalo_sol_energy(b, nullptr), -4);
    EXPECT_DOUBLE_EQ(dalo_sol_tts(a), 0.001);
    dalo_sol_destroy(a);
    dalo_sol_destroy(b);
    dalo_brisk_solver_result_destroy(r);
    dalo_brisk_solver_result_destroy(nullptr);
    dalo_brisk_solver_wrapper_destroy(w);
    dalo_brisk_solver_wrapper_destroy(nullptr);
}

TEST_F(SolverDeathTest, ResultIndexesAreChecked) {
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(model(objective()));
    dalo_solver_result* r = dalo_brisk_solver_wrapper_search(w, kShort, nullptr);
    EXPECT_FATAL(dalo_brisk_solver_result_topk_tts(r, 0), "SolverResult: top-k index out of range");
    EXPECT_FATAL(dalo_brisk_solver_result_info_key(r, 99), "SolverResult: info index out of range");
    EXPECT_FATAL(dalo_brisk_solver_wrapper_search_int(w, nullptr, nullptr, nullptr, 0),
                 "BriskSolver: search_int called on a binary model.");
    dalo_brisk_solver_result_destroy(r);
    dalo_brisk_solver_wrapper_destroy(w);
}

// ---- integer Models ----

class IntModelTest : public SolverTest {
  protected:
    dalo_var k = dalo_new_int_var("k", -2, 3);
    // (k - 1)^2 - x0 + 2 k x0: minimum -2 at k = -1... checked by brute force in the tests that
    // need it.
    ExprPtr int_objective() {
        ExprPtr e(dalo_expr_create_add_var_int(k, -1));
        ExprPtr sq(dalo_expr_sqr(e.get()));
        dalo_expr_isub_var(sq.get(), x);
        dalo_var kx[2] = {x, k};
        dalo_expr_iadd_raw_term(sq.get(), 2, kx, 2);
        return ExprPtr(dalo_expr_simplify_as_binary(sq.get()));
    }
};

TEST_F(IntModelTest, UnifiedEngineWhenAsked) {
    use("full");
    setenv("DALO_INT_UNIFIED", "1", 1);
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(model(int_objective()));
    dalo_param p[] = {{"threads", "2"}, {nullptr, nullptr}};
    dalo_solver_result* r = dalo_brisk_solver_wrapper_search_int(w, p, nullptr, nullptr, 0);
    Info info(r);
    EXPECT_EQ(info["engine"], "integer-unified");
    EXPECT_EQ(info["fixture_params"], "thread_count=2;time_limit=10.0;");
    dalo_sol* s = dalo_brisk_solver_result_to_sol(r, models.back());
    dalo_sol_flip(s, x);
    dalo_sol_flip(s, x);
    EXPECT_EQ(dalo_sol_compute_energy(s, nullptr), dalo_brisk_solver_result_energy(r, nullptr));
    dalo_sol_destroy(s);
    dalo_brisk_solver_result_destroy(r);
    dalo_brisk_solver_wrapper_destroy(w);
    unsetenv("DALO_INT_UNIFIED");
}

// The exact minimum of int_objective over k in [-2, 3] and x0 in {0, 1}.
int64_t int_optimum() {
    int64_t best = INT64_MAX;
    for (int64_t k = -2; k <= 3; ++k)
        for (int64_t x0 = 0; x0 <= 1; ++x0)
            best = std::min(best, (k - 1) * (k - 1) - x0 + 2 * k * x0);
    return best;
}

TEST_F(IntModelTest, LibraryEngineFindsTheOptimum) {
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(model(int_objective()));
    dalo_param p[] = {{"time_limit", "0.2"}, {"threads", "2"}, {"seed", "5"}, {nullptr, nullptr}};
    dalo_solver_result* r = dalo_brisk_solver_wrapper_search_int(w, p, nullptr, nullptr, 0);
    EXPECT_EQ(dalo_brisk_solver_result_energy(r, nullptr), int_optimum());
    Info info(r);
    EXPECT_EQ(info["engine"], "integer-cpu");
    EXPECT_EQ(info["threads"], "2");
    dalo_sol* s = dalo_brisk_solver_result_to_sol(r, models.back());
    dalo_sol_flip(s, x);
    dalo_sol_flip(s, x);
    EXPECT_EQ(dalo_sol_compute_energy(s, nullptr), int_optimum());
    dalo_sol_destroy(s);
    dalo_brisk_solver_result_destroy(r);
    dalo_brisk_solver_wrapper_destroy(w);
}

TEST_F(IntModelTest, KelpIntegerGpuEngineTakesPart) {
    use("gpu");
    dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(model(int_objective()), 1);
    dalo_param p[] = {{"time_limit", "0.2"}, {"threads", "1"}, {nullptr, nullptr}};
    dalo_solver_result* r = dalo_kelp_wrapper_search_int(w, p, nullptr, nullptr, 0);
    EXPECT_EQ(Info(r)["engine"], "integer-cpu+gpu");
    EXPECT_EQ(dalo_brisk_solver_result_energy(r, nullptr), int_optimum());
    dalo_brisk_solver_result_destroy(r);
    dalo_kelp_wrapper_destroy(w);
}

TEST_F(IntModelTest, KelpUnifiedEngineForwardsIntegerEvents) {
    use("gpu");
    setenv("DALO_INT_UNIFIED", "1", 1);
    dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(model(int_objective()), 0);
    CallbackLog log;
    dalo_kelp_wrapper_set_callback(w, record_callback, &log);
    dalo_solver_result* r = dalo_kelp_wrapper_search_int(w, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(Info(r)["engine"], "integer-unified");
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.last_energy, int_optimum());
    EXPECT_EQ(dalo_brisk_solver_result_energy(r, nullptr), int_optimum());
    dalo_brisk_solver_result_destroy(r);
    dalo_kelp_wrapper_destroy(w);
    unsetenv("DALO_INT_UNIFIED");
}

TEST_F(IntModelTest, KelpTerminateStopsAnIntegerSearch) {
    dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(model(int_objective()), 0);
    dalo_param p[] = {{"time_limit", "20"}, {"threads", "1"}, {nullptr, nullptr}};
    std::thread stopper([w] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        dalo_kelp_wrapper_terminate(w);
    });
    const auto t0 = std::chrono::steady_clock::now();
    dalo_solver_result* r = dalo_kelp_wrapper_search_int(w, p, nullptr, nullptr, 0);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    stopper.join();
    EXPECT_LT(took, 5.0);
    EXPECT_EQ(dalo_brisk_solver_result_energy(r, nullptr), int_optimum());
    // A hint that does not fit the Model is ignored; one that fits is taken by the next search.
    dalo_sol* good = dalo_brisk_solver_result_to_sol(r, models.back());
    dalo_kelp_wrapper_hint(w, good);
    dalo_kelp_wrapper_hint(w, nullptr);
    dalo_sol_destroy(good);
    dalo_brisk_solver_result_destroy(r);
    dalo_kelp_wrapper_destroy(w);
}

using IntModelDeathTest = IntModelTest;

TEST_F(IntModelDeathTest, Refusals) {
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(model(int_objective()));
    uint64_t bits = 0;
    EXPECT_FATAL(dalo_brisk_solver_wrapper_search(w, nullptr, &bits),
                 "BriskSolver: hint on a native integer model requires the int-aware search path "
                 "(update the dalo "
                 "header).");
    setenv("DALO_INT_UNIFIED", "1", 1);
    dalo_param zero[] = {{"threads", "0"}, {nullptr, nullptr}};
    EXPECT_FATAL(dalo_brisk_solver_wrapper_search_int(w, zero, nullptr, nullptr, 0),
                 "BriskSolver: threads must be >= 1.");
    use("minimal");
    EXPECT_FATAL(dalo_brisk_solver_wrapper_search_int(w, nullptr, nullptr, nullptr, 0),
                 "BriskSolver: DALO_INT_UNIFIED=1 but brisksolver_c32e64 lacks the unified integer "
                 "engine (rebuild the "
                 "solver .so)");
    // A free-form remainder next to integer variables cannot reach a solver.
    ExprPtr e = int_objective();
    dalo_expr_iadd_expr(e.get(), ExprPtr(dalo_cons_mark(var(x + 1).get())).get());
    dalo_model* m = model(e);
    EXPECT_FATAL(dalo_brisk_solver_wrapper_create(m),
                 "BriskSolver: internal error — a free-form remainder with integer variables "
                 "should have been rejected "
                 "at Model.");
    EXPECT_FATAL(dalo_kelp_wrapper_create(m, 0),
                 "KELPSolver: internal error — a free-form remainder with integer variables should "
                 "have been rejected "
                 "at Model.");
    EXPECT_FATAL(dalo_sweep_wrapper_create(m),
                 "SweepSolver: internal error — a free-form remainder with integer variables "
                 "should have been rejected "
                 "at Model.");
    dalo_brisk_solver_wrapper_destroy(w);
}

// ---- KELPSolver ----

TEST_F(SolverTest, KelpChoosesTheGpuWhenItCan) {
    use("gpu");
    dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(model(objective()), 0);
    CallbackLog log;
    dalo_kelp_wrapper_set_callback(w, record_callback, &log);
    dalo_kelp_wrapper_terminate(w);  // before the search: cleared when it starts
    dalo_solver_result* r = dalo_kelp_wrapper_search(w, nullptr, nullptr);
    EXPECT_EQ(Info(r)["fixture_run"], "gpu;device=0;callback=7.500000;stopped=0;");
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.last_event, 1u);
    EXPECT_EQ(log.last_energy, -4);
    EXPECT_EQ(dalo_brisk_solver_result_topk_count(r), 2u);
    dalo_brisk_solver_result_destroy(r);
    dalo_kelp_wrapper_destroy(w);
    dalo_kelp_wrapper* any = dalo_kelp_wrapper_create(models.back(), -1);
    r = dalo_kelp_wrapper_search(any, nullptr, nullptr);
    EXPECT_EQ(Info(r)["fixture_run"].substr(0, 19), "gpu;device=42949672");
    dalo_brisk_solver_result_destroy(r);
    dalo_kelp_wrapper_destroy(any);
}

TEST_F(SolverTest, KelpFallsBackToTheCpuForNonlinearBodies) {
    use("gpu_no_nl");
    ExprPtr e = objective();
    dalo_var xy[2] = {x, x + 1};
    dalo_expr_iadd_expr(
        e.get(),
        ExprPtr(dalo_cons_between(ExprPtr(dalo_expr_create_raw_term(1, xy, 2, 0)).get(), 0, 0))
            .get());
    dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(model(e), 0);
    dalo_solver_result* r = dalo_kelp_wrapper_search(w, nullptr, nullptr);
    EXPECT_EQ(Info(r)["fixture_run"].substr(0, 4), "cpu;");
    // Without a host callback the forwarding function answers -1.
    EXPECT_NE(Info(r)["fixture_run"].find("callback=-1.000000"), std::string::npos);
    dalo_brisk_solver_result_destroy(r);
    dalo_kelp_wrapper_destroy(w);
}

TEST_F(SolverTest, KelpIntegerModelWithoutGpuModeLoadsNothing) {
    setenv("DALO_LIB_DIR", "/nonexistent", 1);
    dalo_var k = dalo_new_int_var("k", 0, 3);
    dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(model(ExprPtr(dalo_expr_create_var(k))), 0);
    dalo_kelp_wrapper_destroy(w);
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
    dalo_var xy[2] = {x, x + 1};
    dalo_expr_iadd_expr(
        e.get(),
        ExprPtr(dalo_cons_between(ExprPtr(dalo_expr_create_raw_term(1, xy, 2, 0)).get(), 0, 0))
            .get());
    EXPECT_FATAL(dalo_kelp_wrapper_create(model(e), 1),
                 "KELPSolver: this kelp .so does not support nonlinear native constraint bodies on "
                 "the GPU (rebuild it)");
    use("int_partial");
    dalo_var k = dalo_new_int_var("k", 0, 3);
    EXPECT_FATAL(dalo_kelp_wrapper_create(model(ExprPtr(dalo_expr_create_var(k))), 1),
                 "KELPSolver: GPU mode requested but the integer GPU engine is unavailable (no "
                 "CUDA device, or this kelp "
                 ".so has no integer kernels).");
}

TEST_F(SolverDeathTest, SweepStateSpaceLimit) {
    uint64_t twenty = 20, twentyone = 21;
    dalo_var b = dalo_new_var_array("b", &twenty, 1);
    dalo_var c = dalo_new_var_array("c", &twentyone, 1);
    dalo_var k = dalo_new_int_var("k", 0, 4095);
    auto build = [&](dalo_var first, uint64_t count) {
        ExprPtr e(dalo_expr_create_var(k));
        for (uint64_t i = 0; i < count; ++i)
            dalo_expr_iadd_var(e.get(), first + static_cast<dalo_var>(i));
        return ExprPtr(dalo_expr_simplify_as_binary(e.get()));
    };
    dalo_sweep_wrapper_destroy(
        dalo_sweep_wrapper_create(model(build(b, 20))));  // exactly 2^32 states
    EXPECT_FATAL(
        dalo_sweep_wrapper_create(model(build(c, 21))),
        "SweepSolver: integer search space (~2^33 states) exceeds the 2^32 enumeration limit.");
}

}  // namespace

// Misuse of arrays, einsum, Models, Sols, the solver wrappers and the ILP export: in the keep
// mode each refused call returns its neutral value with the default mode's message and leaves
// its operands, results, out-values and the registries as they were.
#include "support/suite.hpp"

#include "support/misuse.hpp"
#include "support/model_util.hpp"
#include "support/plugin_models.hpp"

namespace {

using namespace dalo_test;
using namespace dalo_test::build;

template <class T>
std::shared_ptr<T> share(T* p, void (*destroy)(T*)) {
    return std::shared_ptr<T>(p, destroy);
}
using Exprs = std::shared_ptr<dalo_array_expr>;
using Model = std::shared_ptr<dalo_model>;
using Sol = std::shared_ptr<dalo_sol>;
using Result = std::shared_ptr<dalo_solver_result>;
using State = std::function<std::string()>;

// A refused call whose neutral result is null (or zero), and one that returns nothing.
template <class F>
Misuse null_result(F call, State state = {}) {
    return {[=] { return !call(); }, state};
}
template <class F>
Misuse no_result(F call, State state = {}) {
    return {[=] { return call(), true; }, state};
}

Exprs exprs(std::initializer_list<const dalo_expr*> items) {
    const std::vector<const dalo_expr*> p(items);
    const uint64_t n = p.size();
    return share(dalo_array_expr_create_data(p.data(), &n, 1), dalo_array_expr_destroy);
}
// The in-place member f on a, which must stay as it was.
Misuse in_place(Exprs a, void (*f)(dalo_array_expr*)) {
    return no_result([=] { f(a.get()); },
                     [=] { return std::string(dalo_array_expr_str(a.get())); });
}
ExprPtr sum(dalo_var x, int64_t c0, int64_t c1) {
    ExprPtr e = raw(c0, {x});
    add(e, c1, {x + 1});
    return e;
}
ExprPtr ones(uint32_t n) { return sum_of(binaries(n), n); }
ExprPtr declared(dalo_var x) { return ExprPtr(dalo_cons_between(var(x).get(), 0, 1)); }
Model compiled(const ExprPtr& e) { return share(dalo_model_create(e.get()), dalo_model_destroy); }
Sol sol(const Model& m) { return share(dalo_sol_create(m.get()), dalo_sol_destroy); }
State bits_of(Sol s) {
    return [s] {
        return std::to_string(*dalo_sol_bits(s.get())) +
               std::to_string(dalo_sol_energy_valid(s.get()));
    };
}
Result swept(const Model& m) {
    SweepPtr w(dalo_sweep_wrapper_create(m.get()));
    const dalo_param none{nullptr, nullptr};
    return share(dalo_sweep_wrapper_search(w.get(), &none), dalo_brisk_solver_result_destroy);
}
// The next ExprExpr and constraint-sum indices less the earlier reads, each adding one of both.
State records() {
    auto reads = std::make_shared<uint32_t>(0);
    return [reads] {
        ExprPtr zero(dalo_expr_create());
        ExprPtr ee(dalo_exprexprelem_create(zero.get(), zero.get())),
            mark(dalo_cons_mark(zero.get()));
        const uint32_t k = (*reads)++;
        return std::to_string((dalo_expr_attr(ee.get()) & 0x3FFFFFFFu) - k) + " " +
               std::to_string((dalo_expr_attr(mark.get()) & 0x3FFFFFFFu) - k);
    };
}

const std::vector<MisuseRow> kRows = {
    {"ArrayView", "Array view: range 0..3 outside axis 0 of shape (2,3)",
     [] {
         const uint64_t shape[2] = {2, 3}, start[2] = {0, 0}, stop[2] = {3, 3};
         const uint8_t drop[2] = {0, 0};
         auto a = share(dalo_array_int_create(shape, 2), dalo_array_int_destroy);
         return Misuse{[=] { return !dalo_array_int_view(a.get(), start, stop, drop, 2); }, {}};
     }},
    {"ArrayGet", "dalo_array_var_get: index 6 out of range (size 6)",
     [] {
         const uint64_t n = 6;
         auto a = share(dalo_array_var_create_named("g", &n, 1), dalo_array_var_destroy);
         return null_result([=] { return dalo_array_var_get(a.get(), 6); });
     }},
    {"ArrayShapes", "Array +=: shape mismatch (2) vs (1)",
     [] {
         const dalo_var x = binaries(2);
         Exprs b = exprs({var(x).get()}), a = exprs({var(x).get(), var(x + 1).get()});
         return no_result([=] { dalo_array_expr_add_eq_array_expr(a.get(), b.get()); });
     }},
    {"ParallelTermDivision", "Array<Term> /=: indivisible coefficient",
     [] {
         // Past the serial limit every thread checks its chunks before any coefficient changes.
         std::vector<int32_t> c(20000, 2);
         c.back() = 3;
         const uint64_t n = c.size();
         auto k = share(dalo_array_int_create_data(c.data(), &n, 1), dalo_array_int_destroy);
         auto a =
             share(dalo_array_int_coeffvec_mul_var(k.get(), binaries(1)), dalo_array_term_destroy);
         return no_result(
             [=] { dalo_array_term_div_eq_int(a.get(), 2); },
             [=] {
                 return std::to_string(std::hash<std::string>{}(dalo_array_term_str(a.get())));
             });
     }},
    {"ScaleByZero", "dalo::cons: multiplying declared constraints by 0 would silently drop them",
     [] {
         const dalo_var x = binaries(3);
         return in_place(exprs({sum(x, 2, 3).get(), declared(x + 2).get()}),
                         [](dalo_array_expr* a) { dalo_array_expr_mul_eq_int(a, 0); });
     }},
    {"ScaleRecords", "dalo::cons: multiplying declared constraints by 0 would silently drop them",
     [] {
         const uint64_t n = 2;
         const int32_t c[2] = {3, 0};
         auto k = share(dalo_array_int_create_data(c, &n, 1), dalo_array_int_destroy);
         auto e = share(declared(binaries(1)).release(), dalo_expr_destroy);
         return Misuse{[=] { return !dalo_array_int_mul_expr(k.get(), e.get()); }, records()};
     }},
    {"ExprDivision", "Indivisible division in Expr term",
     [] {
         const dalo_var x = binaries(2);
         return in_place(exprs({raw(2, {x}).get(), sum(x, 4, 3).get()}),
                         [](dalo_array_expr* a) { dalo_array_expr_div_eq_int(a, 2); });
     }},
    {"CompareDeclared",
     "dalo::cons: '== / <= (comparing declared constraints)' is not allowed on an expression with "
     "declared constraints",
     [] {
         const dalo_var x = binaries(3);
         Exprs a = exprs({sum(x, 1, 1).get(), declared(x + 2).get()});
         return null_result([=] { return dalo_array_expr_between(a.get(), 0, 5); }, records());
     }},
    {"SumMixedKinds",
     "dalo::cons: cannot sum declared and classic penalty-style constraints in one array",
     [] {
         const dalo_var x = binaries(2);
         Exprs a = exprs({declared(x).get(), classic_of(var(x + 1)).get()});
         return null_result([=] { return dalo_array_expr_sum(a.get()); }, records());
     }},
    {"EinsumSizes", "einsum: inconsistent size for label 'j': 3 vs 2",
     [] {
         const uint64_t s[2] = {2, 3};
         auto a = share(dalo_array_int_create(s, 2), dalo_array_int_destroy);
         return null_result([=] {
             const uint32_t tags[2] = {DALO_EINSUM_INT, DALO_EINSUM_INT};
             const void* in[2] = {a.get(), a.get()};
             return dalo_einsum("ij,jk->ik", 2, tags, in, 0, 2);
         });
     }},
    {"ModelUnsorted",
     "Model: expression not simplified as binary (unsorted/duplicate vars). Call "
     "simplify_as_binary() first.",
     [] {
         const dalo_var x = binaries(2);
         auto e = share(raw(5, {x + 1, x}).release(), dalo_expr_destroy);
         return Misuse{[=] { return !dalo_model_create(e.get()); }, [=] { return str(e.get()); }};
     }},
    {"ModelBytes", "Model bytes: checksum mismatch (corrupted)",
     [] {
         uint64_t size = 0;
         uint8_t* p = dalo_model_serialize(compiled(ones(3)).get(), &size);
         auto bytes = std::make_shared<std::vector<uint8_t>>(p, p + size);
         std::free(p);
         bytes->back() ^= 1;
         return null_result([=] { return dalo_model_deserialize(bytes->data(), size); });
     }},
    {"ModelDegree", "dalo_model_term_count: degree out of range",
     [] {
         return null_result([m = compiled(ones(2))] { return dalo_model_term_count(m.get(), 9); });
     }},
    {"SolSetFrom", "Sol::set: integer variable not in model",
     [] {
         // The source's bits come first in the copy; its integer is refused.
         const dalo_var x = binaries(2);
         ExprPtr e = sum(x, 1, 1);
         Sol dst = sol(compiled(e));
         add(e, 1, {dalo_new_int_var("k", 0, 3)});
         Sol src = sol(compiled(e));
         for (dalo_var v : {x, x + 1}) dalo_sol_set(src.get(), v, 1);
         return no_result([=] { dalo_sol_set_from_sol(dst.get(), src.get()); }, bits_of(dst));
     }},
    {"SolFlip", "Sol::flip: variable not in model (index=1073741823)",
     [] {
         Sol s = sol(compiled(ones(2)));
         return no_result([=] { dalo_sol_flip(s.get(), 0x3FFFFFFFu); }, bits_of(s));
     }},
    {"SolText",
     "Sol::str(): energy is invalid (variable changed after last computation). Call "
     "comp_energy() first.",
     [] {
         const dalo_var x = binaries(2);
         Sol s = sol(compiled(sum(x, 1, 1)));
         dalo_sol_flip(s.get(), x);
         return null_result([=] { return dalo_sol_str(s.get()); }, bits_of(s));
     }},
    {"SolFromResult", "Sol: solver result holds too few bit words",
     [] {
         Result r = swept(compiled(sum(binaries(2), -1, 1)));
         Model wide = compiled(ones(70));
         return null_result([=] { return dalo_brisk_solver_result_to_sol(r.get(), wide.get()); },
                            [=] {
                                const uint64_t* w = dalo_brisk_solver_result_bits(r.get());
                                return w == nullptr ? std::string("moved") : std::to_string(*w);
                            });
     }},
    {"ResultTopk", "SolverResult: top-k index out of range",
     [] {
         Result r = swept(compiled(ones(2)));
         auto out = std::make_shared<int64_t>(-7);
         return Misuse{[=] { return !dalo_brisk_solver_result_topk_energy(r.get(), 3, out.get()); },
                       [=] { return std::to_string(*out); }};
     }},
    {"SweepTooLarge", "SweepSolver: 60 variables exceed the enumeration limit of 48 (2^48 states)",
     [] {
         return null_result(
             [m = compiled(ones(60))] { return dalo_sweep_wrapper_create(m.get()); });
     }},
    {"BriskParameter", "BriskSolver: invalid value 'soon' for 'time_limit'",
     [] {
         Model m = compiled(ones(2));
         auto w =
             share(dalo_brisk_solver_wrapper_create(m.get()), dalo_brisk_solver_wrapper_destroy);
         return null_result([=] {
             const dalo_param p[2] = {{"time_limit", "soon"}, {nullptr, nullptr}};
             return dalo_brisk_solver_wrapper_search(w.get(), p, nullptr);
         });
     }},
    {"KelpCapability", "KELPSolver: this kelp .so does not support native constraints (rebuild it)",
     [] {
         // A plug-in without constraint entry points: no solver of it may outlive the refusal.
         setenv("DALO_LIB_DIR", DALO_FIXTURE_DIR "/minimal", 1);
         const dalo_var x = binaries(1);
         KelpPtr loaded(dalo_kelp_wrapper_create(compiled(var(x)).get(), 0));
         unsetenv("DALO_LIB_DIR");
         return null_result(
             [m = compiled(declared(x))] { return dalo_kelp_wrapper_create(m.get(), 0); });
     }},
    {"IlpNonlinear",
     "MIP/ILP solvers do not support nonlinear (degree>=2) constraint bodies inside cons(). Call "
     "expand_cons() on the expression to get the classic penalty form, or use a bundled heuristic "
     "solver (BriskSolver/SweepSolver/KELPSolver).",
     [] {
         // The last soft refusal, kept for the next call.
         const dalo_var x = binaries(3);
         IlpPtr cubic(dalo_model_ilp_build(compiled(raw(1, {x, x + 1, x + 2})).get()));
         Model m = compiled(ExprPtr(dalo_cons_between(raw(1, {x, x + 1}).get(), 0, 0)));
         return null_result([=] { return dalo_model_ilp_build(m.get()); },
                            [] { return std::string(dalo_ilp_last_error()); });
     }},
    {"IlpDecode", "dalo_ilp_col_decode: integer value out of the encoded range",
     [] {
         ExprPtr n(dalo_varintelem_create("n", 10, 17));
         add(n, 1, {binaries(1)});
         auto p = share(dalo_model_ilp_build(compiled(n).get()), dalo_ilp_destroy);
         auto out = std::make_shared<std::string>(3, '7');
         return no_result(
             [=] { dalo_ilp_col_decode(p.get(), 1, 18, reinterpret_cast<uint8_t*>(out->data())); },
             [=] { return *out; });
     }},
};

class ModelMisuseDeath : public testing::TestWithParam<MisuseRow> {};

TEST_P(ModelMisuseDeath, KeptThenFatal) { expect_misuse(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Rows, ModelMisuseDeath, testing::ValuesIn(kRows),
                         [](const auto& row) { return std::string(row.param.label); });

TEST(ModelMisuse, RefusedCompileThenCorrectedSolve) {
    const dalo_var x = binaries(3);
    ExprPtr e = raw(-4, {x + 1, x});
    add(e, 3, {x + 2});
    add(e, 1, {x});
    dalo_set_error_mode(DALO_ERRORS_KEEP);
    EXPECT_EQ(dalo_model_create(e.get()), nullptr);
    dalo_set_error_mode(DALO_ERRORS_ABORT);
    dalo_clear_error();
    ModelPtr m = compile(e);
    EXPECT_EQ(solve(Family::Sweep, m.get(), {}).best.energy, -3);
    EXPECT_EQ(all_energies(m.get()).front().first, -3);
}

TEST(ModelMisuse, ErrorModesArePerThread) {
    dalo_clear_error();
    ModelPtr m = compile(ones(2));
    auto kept = [&] {
        dalo_set_error_mode(DALO_ERRORS_KEEP);
        dalo_model_term_count(m.get(), 9);
        return std::string(dalo_last_error());
    };
    auto seen = [] {
        return std::to_string(dalo_error_mode()) + (dalo_last_error() ? "kept" : "none");
    };
    std::string other;
    std::thread([&] { other = kept(); }).join();
    EXPECT_EQ(other, "dalo: dalo_model_term_count: degree out of range");
    EXPECT_EQ(seen(), "0none");
    kept();
    std::thread([&] { other = seen(); }).join();
    EXPECT_EQ(other, "0none");
    EXPECT_EQ(seen(), "1kept");
    dalo_set_error_mode(DALO_ERRORS_ABORT);
    dalo_clear_error();
}

}  // namespace

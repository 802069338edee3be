// Misuse of variables, terms, expressions, constraints and their rewrites: in the keep mode
// the refused call returns its neutral value with the default mode's message and leaves its
// operands, the registries, the next automatic name and the next record indices as they were.
#include "support/suite.hpp"

#include "support/misuse.hpp"

using dalo_test::Misuse;
using dalo_test::MisuseRow;
using dalo_test::str;

namespace {

using E = std::shared_ptr<dalo_expr>;
using Es = std::vector<E>;
constexpr uint32_t kRecord = 0x3FFFFFFFu;
constexpr int64_t kBig = int64_t{1} << 40;

E own(dalo_expr* e) { return E(e, dalo_expr_destroy); }
E of(dalo_var v) { return own(dalo_expr_create_var(v)); }
// constant + c_0 x_0 + c_1 x_1 + ... over new variables
E linear(int64_t constant, std::initializer_list<int64_t> coeffs) {
    E e = own(dalo_expr_create_int(constant));
    for (int64_t c : coeffs) {
        const dalo_var v = dalo_new_var("x");
        dalo_expr_iadd_raw_term(e.get(), c, &v, 1);
    }
    return e;
}
E bit() { return linear(0, {1}); }
E affine() { return linear(1, {2, 3}); }
E cons(const E& body, int64_t lo, int64_t hi) { return own(dalo_cons_between(body.get(), lo, hi)); }
E declared() { return cons(bit(), 0, 1); }
E plus(E a, const E& b) {
    dalo_expr_iadd_expr(a.get(), b.get());
    return a;
}
// A classic ExprExpr over [0, 1]: penalty 4 + 2x + 3y, body x.
E classic() {
    E ee = own(dalo_exprexprelem_create(linear(4, {2, 3}).get(), bit().get()));
    dalo_exprexpr_set_bounds(ee.get(), 0, 1);
    return ee;
}
// 12 + 6x + ... + 4x + 6x over 30000 terms: the coefficients are read in parallel.
E long_sum() {
    const uint64_t n = 30000;
    std::vector<int32_t> c(n, 6);
    c[n - 2] = 4;
    std::vector<uint32_t> d(n, 1);
    std::vector<dalo_var> v(n, dalo_new_var("x"));
    return own(dalo_expr_create_from_bulk(12, n, c.data(), d.data(), v.data()));
}
// A range over [0, 3], then `next`: the range's slack is made first when nothing checks ahead.
E range_then(const E& next) { return plus(cons(linear(0, {1, 2}), 0, 3), next); }
// A declared record without bounds.
E unbounded() {
    E f = bit();
    return own(dalo_cons_mark(own(dalo_exprexprelem_create(f.get(), f.get())).get()));
}
// [x in 0 .. 1] + [y in 0 .. 1], y, and a declared replacement for y.
Es replace_scene() {
    E y = bit();
    return {plus(declared(), cons(y, 0, 1)), y, declared()};
}
E int_atom(int64_t hi) { return of(dalo_new_int_var("n", 0, hi)); }
E unknown_int_atom() { return of(DALO_INT_BIT | 0x3FFFFFF0u); }
dalo_var first_var(const dalo_expr* e) { return dalo_term_var_at(dalo_expr_term_at(e, 0), 0); }

// What later uses of e read: its text, its attribute word and the bounds of its items.
std::string show(const dalo_expr* e) {
    std::string out = str(e) + " @" + std::to_string(dalo_expr_attr(e));
    for (uint64_t i = 0; i < dalo_cons_item_count(e); ++i) {
        int64_t w = 0, lo = 0, hi = 0;
        if (dalo_cons_item_info(e, i, nullptr, &w, &lo, &hi))
            out += " [" + std::to_string(w) + " " + std::to_string(lo) + " " + std::to_string(hi) +
                   "]";
    }
    return out + "; ";
}

// Out-arguments a refused call must leave alone.
struct Outs {
    int64_t a = -7, b = -7;
    int32_t small = -7;
    dalo_expr* slot = nullptr;
    std::string text() const {
        return std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(small) +
               (slot == nullptr ? "" : " written");
    }
};

// Each read draws one automatic name and adds one ExprExpr and one sum record; less the
// earlier reads, the text is the same before and after a call that drew and added nothing.
std::function<std::string()> counters() {
    auto reads = std::make_shared<uint64_t>(0);
    return [reads] {
        const uint64_t k = (*reads)++;
        E zero = own(dalo_expr_create());
        const uint64_t ee =
            dalo_expr_attr(own(dalo_exprexprelem_create(zero.get(), zero.get())).get());
        const uint64_t sum = dalo_expr_attr(own(dalo_cons_mark(zero.get())).get());
        const uint64_t name = std::stoull(dalo_auto_var_name() + 1);
        return "; next name " + std::to_string(name - k) + ", records " +
               std::to_string((ee & kRecord) - k) + " and " + std::to_string((sum & kRecord) - k);
    };
}

// A row's make(): build() makes the operands, the call gets them as an array and the
// out-arguments, and its neutral result is the value-initialised one (nothing for void).
template <class Call>
std::function<Misuse()> with_all(std::function<Es()> build, Call call) {
    return [=] {
        const Es es = build();
        std::vector<dalo_expr*> p;
        for (const E& x : es) p.push_back(x.get());
        auto outs = std::make_shared<Outs>();
        auto read = counters();  // the next automatic name and record indices as well
        auto run = [=]() -> bool {
            using R = decltype(call(p.data(), outs.get()));
            if constexpr (std::is_void_v<R>)
                return call(p.data(), outs.get()), true;
            else
                return call(p.data(), outs.get()) == R{};
        };
        return Misuse{run, [=] {
                          std::string text;
                          for (const E& x : es) text += show(x.get());
                          return text + outs->text() + read();
                      }};
    };
}
// The same with one maker per operand.
template <class Call>
std::function<Misuse()> with(std::vector<std::function<E()>> makers, Call call) {
    auto build = [makers] {
        Es es;
        for (const auto& make : makers) es.push_back(make());
        return es;
    };
    return with_all(build, call);
}

const auto expand = [](dalo_expr* const* e, Outs*) { return dalo_expr_expand_cons(e[0]); };
const auto binarize = [](dalo_expr* const* e, Outs*) { return dalo_expr_binarize(e[0]); };
const uint64_t kHuge[3] = {uint64_t{1} << 40, uint64_t{1} << 40, 1};

std::vector<MisuseRow> rows() {
    return {
        // ---- registries ----
        {"IntVarBoundsUnordered", "int_var: bounds must satisfy lo < hi (got lo = 3, hi = 3)",
         with({}, [](auto, auto) { return dalo_new_int_var("n", 3, 3); })},
        {"IntVarArrayBeyondTheIndexSpace", "int_var: integer variable index space exhausted",
         with({}, [](auto, auto) { return dalo_new_int_var_array(nullptr, kHuge, 2, 0, 1); })},
        {"IntVarBoundsOfABinary", "dalo_int_var_bounds: not an integer variable index",
         with({bit}, [](auto e, auto o) { dalo_int_var_bounds(first_var(e[0]), &o->a, &o->b); })},
        // ---- terms and expressions ----
        {"TermVarIndex", "dalo_term_var_at: index 1 out of range (degree 1)",
         with({bit}, [](auto e, auto) { return dalo_term_var_at(dalo_expr_term_at(e[0], 0), 1); })},
        {"ExprTermIndex", "Expr term index 1 out of range (term count 1)",
         with({bit}, [](auto e, auto) { return dalo_expr_term_at(e[0], 1); })},
        {"ExprDivKeepsTheRecord", "Indivisible division in Expr term",
         with({classic}, [](auto e, auto) { dalo_expr_idiv_int(e[0], 2); })},
        {"ExprDivInParallel", "Indivisible division in Expr term",
         with({long_sum}, [](auto e, auto) { dalo_expr_idiv_int(e[0], -3); })},
        {"DeclaredTimesVar",
         "dalo::cons: '*= var' is not allowed on an expression with declared constraints",
         with({declared, bit}, [](auto e, auto) { dalo_expr_imul_var(e[0], first_var(e[1])); })},
        {"ClassicMinusDeclared",
         "dalo::cons: cannot mix declared constraints with classic penalty-style constraints in "
         "one expression; wrap the classic part with dalo::cons(...) as well",
         with({classic, declared}, [](auto e, auto) { dalo_expr_isub_expr(e[0], e[1]); })},
        // ---- declared constraints, records and items ----
        {"AbsExponent", "dalo::abs: the exponent k must be 1 or 2 (got 3)",
         with({bit}, [](auto e, auto) { return dalo_abs_term(e[0], 3); })},
        {"SetBoundsOfDeclared", "dalo_exprexpr_set_bounds: not an ExprExpr",
         with({declared}, [](auto e, auto) { dalo_exprexpr_set_bounds(e[0], 0, 5); })},
        {"SetAllowedEmptySet", "ExprExprSet: set_allowed empty set",
         with({classic},
              [](auto e, auto) { dalo_exprexpr_set_allowed(e[0], nullptr, nullptr, 0); })},
        {"BodyOfTwoConstraints",
         "body() requires exactly one constraint, but this value holds 2 constraint(s); use "
         "violations(sol) instead.",
         with({[] { return plus(declared(), declared()); }},
              [](auto e, auto) { return dalo_exprexprelem_get_body(e[0]); })},
        {"ItemIndex", "dalo_cons_item_info: bad item index",
         with({declared},
              [](auto e, auto o) {
                  return dalo_cons_item_info(e[0], 1, &o->slot, nullptr, &o->a, &o->b);
              })},
        // ---- penalty expansion: every item is checked before the first slack is made ----
        {"ExpandNegativeRangeAfterARange",
         "expand_cons: a one-sided/range constraint carries a NEGATIVE weight; its slack-based "
         "penalty form is only valid for positive weights. Keep the expression in cons() form "
         "and use a bundled solver.",
         with({[] { return range_then(own(dalo_expr_clone_mul_int(declared().get(), -1))); }},
              expand)},
        {"ExpandUnboundedAfterARange", "expand_cons: constraint carries no bounds",
         with({[] { return range_then(unbounded()); }}, expand)},
        {"ExpandWideSlackAfterARange",
         "VarInt slack range [0, 8589934591] too large: binary coefficient 2147483648 overflows "
         "the coefficient type",
         with({[] { return range_then(cons(bit(), 0, int64_t{1} << 33)); }}, expand)},
        {"ArrayBetweenKind", "dalo_array_between: unknown item kind 3",
         with({}, [](auto, auto o) { dalo_array_between(nullptr, 3, 0, 1, &o->slot, 1); })},
        // ---- VarInt ----
        {"VarIntTooWide",
         "VarInt range [0, 1099511627776] too large: binary coefficient 2147483648 overflows the "
         "coefficient type; use a wider INTEGER_TYPE variant",
         with({}, [](auto, auto) { return dalo_varintelem_create(nullptr, 0, kBig); })},
        {"VarIntAccessorOfPlain",
         "VarInt accessor called on a value that is not a VarInt (plain Expr or ExprExpr).",
         with({bit}, [](auto e, auto o) { return dalo_varintelem_min(e[0], &o->a); })},
        {"OnehotShape", "dalo_onehot_to_int: shape too large",
         with({}, [](auto, auto o) { dalo_onehot_to_int(&o->small, kHuge, 3, &o->small); })},
        // ---- rewrites: a carried record is made once every body is rewritten ----
        {"SpinOfACarriedIntegerBody",
         "simplify_as_spin(): native integer variables (int_var) are not supported (spin rules "
         "do not apply to integer atoms).",
         with({[] { return plus(declared(), cons(int_atom(3), 0, 2)); }},
              [](auto e, auto) { return dalo_expr_simplify_as_spin(e[0]); })},
        {"ReplaceByDeclaredInACarriedBody",
         "dalo::cons: '* expr' is not allowed on an expression with declared constraints",
         with_all(replace_scene,
                  [](auto e, auto) {
                      const dalo_var y = first_var(e[1]);
                      return dalo_expr_replace(e[0], &y, &e[2], 1);
                  })},
        {"ReduceOfAnIntegerAtom",
         "reduce: native integer variables (int_var) are not supported (Ishikawa/Freedman "
         "quadratization assumes 0/1 variables).",
         with({[] { return plus(bit(), int_atom(3)); }},
              [](auto e, auto) { return dalo_expr_reduce(e[0]); })},
        {"EvalMissingVariable", "eval: variable not found in mapping",
         with({affine},
              [](auto e, auto o) {
                  const dalo_var x = first_var(e[0]);
                  return dalo_expr_eval_map(e[0], &x, &o->b, 1, &o->a);
              })},
        // ---- binarization: every integer atom is checked before the first bits are made ----
        {"BinarizeWideAfterANarrow",
         "binarize: encoding coefficient 2147483648 overflows coeff_t — use a wider coefficient "
         "variant.",
         with({[] { return plus(int_atom(3), int_atom(int64_t{1} << 32)); }}, binarize)},
        {"BinarizeUnknownAfterANarrow", "binarize: unknown integer variable",
         with({[] { return plus(int_atom(3), unknown_int_atom()); }}, binarize)},
        {"BoundsOfAnUnknownAtom", "reachable bounds: unknown integer variable",
         with({[] { return plus(bit(), unknown_int_atom()); }},
              [](auto e, auto o) { return dalo_expr_pos_sum(e[0], &o->a); })},
    };
}

class AlgebraMisuseDeath : public testing::TestWithParam<MisuseRow> {};

TEST_P(AlgebraMisuseDeath, RefusedAlikeAndChangesNothing) { dalo_test::expect_misuse(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Rows, AlgebraMisuseDeath, testing::ValuesIn(rows()),
                         [](const testing::TestParamInfo<MisuseRow>& row) {
                             return std::string(row.param.label);
                         });

}  // namespace

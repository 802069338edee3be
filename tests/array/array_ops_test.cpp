// Element-wise operations. Every row of the member table is called on random operands and each
// result element is compared with the scalar operation (dalo_expr_*, dalo_term_*) on the same
// operands; then the edge cases, messages and attribute rules one by one. The suite whose name
// contains "Parallel" runs the same table above the serial limit.
#include "support/suite.hpp"

#include <type_traits>

using dalo_test::ArrayExprPtr, dalo_test::ArrayIntPtr, dalo_test::ArrayTermPtr;
using dalo_test::count_of, dalo_test::ExprPtr, dalo_test::TermPtr, dalo_test::build::values;

namespace {

using Shape = std::vector<uint64_t>;

// ---- reading values back ----

std::string term_text(const dalo_test::Term& t, dalo_var from = DALO_NO_VAR, dalo_var shift = 0) {
    std::string s = std::to_string(t.coeff) + "*[";
    for (dalo_var v : t.vars) s += std::to_string((v & 0x3FFFFFFFu) >= from ? v - shift : v) + ",";
    return s + "]";
}

// Identifiers from `from` on are shifted down (to compare fresh auxiliary variables).
std::string poly_text(const dalo_expr* e, dalo_var from = DALO_NO_VAR, dalo_var shift = 0) {
    std::string s = std::to_string(dalo_expr_constant(e, nullptr));
    for (const dalo_test::Term& t : dalo_test::terms_of(e)) s += " " + term_text(t, from, shift);
    return s;
}

std::string item_text(const dalo_expr* e, uint64_t i) {
    dalo_expr* body = nullptr;
    int64_t w = 0, lo = 0, hi = 0;
    const bool bounded = dalo_cons_item_info(e, i, &body, &w, &lo, &hi) != 0;
    std::string s = (bounded ? "" : "free ") + poly_text(body) + " w" + std::to_string(w) + " [" +
                    std::to_string(lo) + "," + std::to_string(hi) + "]; ";
    dalo_expr_destroy(body);
    return s;
}

// The attribute word: exact for an ExprExpr, by content for a constraint sum.
std::string attr_text(const dalo_expr* e) {
    const uint32_t w = dalo_expr_attr(e);
    if (w == DALO_ATTR_PLAIN) return "plain";
    if ((w >> 30) == 2) return "ee" + std::to_string(w & 0x3FFFFFFFu);
    std::string s = dalo_expr_is_declared(e) ? "declared{" : "classic{";
    for (uint64_t i = 0; i < dalo_cons_item_count(e); ++i) s += item_text(e, i);
    return s + "}";
}

std::string full_text(const dalo_expr* e, const std::string& attr) {
    return "expr " + poly_text(e) + " @" + attr;
}
std::string full_text(const dalo_expr* e) { return full_text(e, attr_text(e)); }

// ---- operands ----

struct Operand {
    char kind = 'i';  // i, v, t, e
    int64_t i = 0;
    dalo_var v = 0;
    std::shared_ptr<dalo_term> t;
    std::shared_ptr<dalo_expr> e;
};
Operand of_int(int64_t i) { return Operand{'i', i, 0, nullptr, nullptr}; }

ExprPtr expr_of(const Operand& x) {
    if (x.kind == 'i') return ExprPtr(dalo_expr_create_int(x.i));
    if (x.kind == 'v') return ExprPtr(dalo_expr_create_var(x.v));
    if (x.kind == 't') return ExprPtr(dalo_expr_create_term(x.t.get(), 0));
    return ExprPtr(dalo_expr_clone(x.e.get()));
}
TermPtr term_of(const Operand& x) {
    if (x.kind == 'i') return TermPtr(dalo_term_create(x.i));
    if (x.kind == 'v') return TermPtr(dalo_term_create_var(1, x.v));
    return TermPtr(dalo_term_clone(x.t.get()));
}
// A copy without constraint links (adding 0 in place drops a classic one).
ExprPtr plain_copy(const dalo_expr* e) {
    ExprPtr c(dalo_expr_clone(e));
    dalo_expr_iadd_int(c.get(), 0);
    return c;
}

std::string text(const Operand& x) {
    if (x.kind == 'i') return "int " + std::to_string(static_cast<int32_t>(x.i));
    if (x.kind == 'v') return "var " + std::to_string(x.v);
    if (x.kind == 't') return "term " + term_text(dalo_test::term_of(x.t.get()));
    return full_text(x.e.get());
}

class Gen {
  public:
    explicit Gen(uint64_t seed) : rng_(seed) {
        uint64_t n = 12;
        const dalo_var first = dalo_new_var_array("ew", &n, 1);
        for (dalo_var i = 0; i < n; ++i) pool_.push_back(first + i);
    }
    int64_t pick(int64_t lo, int64_t hi) {
        return lo + static_cast<int64_t>(rng_() % static_cast<uint64_t>(hi - lo + 1));
    }
    dalo_var var() { return pool_[rng_() % pool_.size()] | (rng_() % 6 == 0 ? DALO_NEG_BIT : 0); }

    // Random operand; scale multiplies every number (divisible operands for division).
    // `small` keeps the reachable range of var, term and expr operands inside [0, 1].
    Operand make(char kind, int64_t scale = 1, bool small = false) {
        Operand x{kind, 0, 0, nullptr, nullptr};
        if (kind == 'i') x.i = small ? pick(0, 1) : scale * pick(-9, 9);
        if (kind == 'v') x.v = small ? pool_[rng_() % pool_.size()] : var();
        if (kind == 't') {
            const int64_t c = small ? 1 : scale * pick(-9, 9);
            const int64_t d = small ? pick(1, 2) : pick(0, 3);
            // Negated literals widen the reachable range: 1 - x is not in [0, 1] term by term.
            auto lit = [&] { return small ? var() & ~DALO_NEG_BIT : var(); };
            dalo_term* t = d == 0 ? dalo_term_create(c) : dalo_term_create_var(c, lit());
            for (int64_t k = 1; k < d; ++k) dalo_term_mul_var(t, lit());
            x.t.reset(t, dalo_term_destroy);
        }
        if (kind == 'e') {
            dalo_expr* e = dalo_expr_create_int(small ? 0 : scale * pick(-5, 5));
            if (small) {
                dalo_var ab[2] = {var() & ~DALO_NEG_BIT, var() & ~DALO_NEG_BIT};
                dalo_expr_iadd_raw_term(e, 1, ab, static_cast<uint64_t>(pick(1, 2)));
            }
            for (int64_t k = small ? 0 : pick(0, 3); k > 0; --k) {
                dalo_var vars[3] = {var(), var(), var()};
                dalo_expr_iadd_raw_term(e, scale * pick(-9, 9), vars,
                                        static_cast<uint64_t>(pick(0, 3)));
            }
            if (!small && rng_() % 4 == 0) {  // a classic constraint
                dalo_expr* ee = dalo_exprexprelem_create(e, e);
                dalo_exprexpr_set_bounds(ee, 0, 1);
                dalo_expr_destroy(e);
                e = ee;
            }
            x.e.reset(e, dalo_expr_destroy);
        }
        return x;
    }
    std::vector<Operand> make_n(char kind, uint64_t n, int64_t scale = 1, bool small = false) {
        std::vector<Operand> out;
        for (uint64_t i = 0; i < n; ++i) out.push_back(make(kind, scale, small));
        return out;
    }

  private:
    std::mt19937_64 rng_;
    std::vector<dalo_var> pool_;
};

// ---- the four array kinds ----

using Texts = std::pair<std::string, std::string>;
#define KIND_HELPERS(K, C, ELEM, CONV, READ)                                                     \
    [[maybe_unused]] char kind_of(const dalo_array_##K*) { return C; }                           \
    [[maybe_unused]] Shape shape_of(const dalo_array_##K* a) {                                   \
        return Shape(dalo_array_##K##_shape(a),                                                  \
                     dalo_array_##K##_shape(a) + dalo_array_##K##_ndim(a));                      \
    }                                                                                            \
    [[maybe_unused]] void destroy(dalo_array_##K* a) { dalo_array_##K##_destroy(a); }            \
    [[maybe_unused]] dalo_array_##K* make(const dalo_array_##K*, const std::vector<Operand>& xs, \
                                          const Shape& s) {                                      \
        std::vector<ELEM> v;                                                                     \
        for (const Operand& x : xs) v.push_back(CONV);                                           \
        return dalo_array_##K##_create_data(v.data(), s.data(), s.size());                       \
    }                                                                                            \
    [[maybe_unused]] std::vector<std::string> texts(const dalo_array_##K* a) {                   \
        std::vector<std::string> out;                                                            \
        for (uint64_t i = 0; i < dalo_array_##K##_size(a); ++i) out.push_back(READ);             \
        return out;                                                                              \
    }                                                                                            \
    /* A copy of the two halves of a joined again, and a, as text; a is released. */             \
    [[maybe_unused]] Texts rejoined(dalo_array_##K* a) {                                         \
        const uint64_t n = dalo_array_##K##_size(a), lo[1] = {0}, mid[1] = {n / 2}, hi[1] = {n}; \
        const uint8_t keep[1] = {0};                                                             \
        dalo_array_##K* h0 = dalo_array_##K##_view(a, lo, mid, keep, 1);                         \
        dalo_array_##K* h1 = dalo_array_##K##_view(a, mid, hi, keep, 1);                         \
        dalo_array_##K* j = dalo_array_##K##_concat(h0, h1, 0);                                  \
        dalo_array_##K* c = dalo_array_##K##_clone(j);                                           \
        Texts out{dalo_array_##K##_str(c), ""};                                                  \
        out.second = dalo_array_##K##_str(a); /* the text buffer is shared */                    \
        for (dalo_array_##K * p : {h0, h1, j, c, a}) dalo_array_##K##_destroy(p);                \
        return out;                                                                              \
    }
KIND_HELPERS(var, 'v', dalo_var, x.v, "var " + std::to_string(dalo_array_var_get(a, i)))
KIND_HELPERS(int, 'i', int32_t, static_cast<int32_t>(x.i),
             "int " + std::to_string(dalo_array_int_get(a, i, nullptr)))
KIND_HELPERS(term, 't', const dalo_term*, x.t.get(),
             "term " + term_text(dalo_test::term_of(TermPtr(dalo_array_term_get(a, i)).get())))
KIND_HELPERS(expr, 'e', const dalo_expr*, x.e.get(), full_text(dalo_array_expr_ref(a, i)))

// Scalar operands: the kind, and the operand as an argument of that type.
char kind_of(int64_t) { return 'i'; }
char kind_of(dalo_var) { return 'v'; }
char kind_of(const dalo_term*) { return 't'; }
char kind_of(const dalo_expr*) { return 'e'; }
int64_t arg(const Operand& x, int64_t) { return x.i; }
dalo_var arg(const Operand& x, dalo_var) { return x.v; }
const dalo_term* arg(const Operand& x, const dalo_term*) { return x.t.get(); }
const dalo_expr* arg(const Operand& x, const dalo_expr*) { return x.e.get(); }
template <class B>
inline constexpr bool is_array_handle =
    !std::is_same_v<B, const dalo_term*> && !std::is_same_v<B, const dalo_expr*> &&
    std::is_pointer_v<B>;

// Random elements of LA's kind in shape s, and an array holding them.
template <class LA>
std::pair<std::vector<Operand>, LA*> random_array(Gen& g, const Shape& s, int64_t scale = 1,
                                                  bool small = false) {
    std::vector<Operand> xs =
        g.make_n(kind_of(static_cast<const LA*>(nullptr)), count_of(s), scale, small);
    return {xs, make(static_cast<const LA*>(nullptr), xs, s)};
}

std::vector<std::string> texts(const std::vector<Operand>& xs) {
    std::vector<std::string> out;
    for (const Operand& x : xs) out.push_back(text(x));
    return out;
}

// ---- expected elements through the scalar interface ----

void add_to(dalo_expr* e, const Operand& x, bool sub) {
    if (x.kind == 'i') (sub ? dalo_expr_isub_int : dalo_expr_iadd_int)(e, x.i);
    if (x.kind == 'v') (sub ? dalo_expr_isub_var : dalo_expr_iadd_var)(e, x.v);
    if (x.kind == 't') (sub ? dalo_expr_isub_term : dalo_expr_iadd_term)(e, x.t.get());
    if (x.kind == 'e') (sub ? dalo_expr_isub_expr : dalo_expr_iadd_expr)(e, x.e.get());
}

std::string expected(const std::string& op, const Operand& l, const Operand& r) {
    if (l.kind == 'i' && r.kind == 'i') {
        const int64_t x = l.i, y = r.i;
        const int64_t v = op == "add"   ? x + y
                          : op == "sub" ? x - y
                          : op == "mul" ? x * y
                          : y           ? x / y
                                        : 0;
        return text(of_int(v));
    }
    if (op == "div" && l.kind == 't') {
        TermPtr t = term_of(l);
        dalo_term_div_coeff(t.get(), r.i);
        return "term " + term_text(dalo_test::term_of(t.get()));
    }
    if (op == "div") {
        ExprPtr e = expr_of(l);
        dalo_expr_idiv_int(e.get(), r.i);
        return full_text(e.get());
    }
    if (op == "mul" && l.kind != 'e' && r.kind != 'e') {
        TermPtr t(dalo_term_mul_term(term_of(l).get(), term_of(r).get()));
        return "term " + term_text(dalo_test::term_of(t.get()));
    }
    if (op == "mul") {  // the scale rule with an integer; other products are plain
        ExprPtr e(r.kind == 'i'   ? dalo_expr_clone_mul_int(l.e.get(), r.i)
                  : l.kind == 'i' ? dalo_expr_clone_mul_int(r.e.get(), l.i)
                                  : dalo_expr_mul_expr(expr_of(l).get(), expr_of(r).get()));
        return full_text(e.get());
    }
    // Sums start from the expression operand and keep its word; differences from the left.
    const bool swap = op == "add" && l.kind != 'e' && r.kind == 'e';
    const Operand& base = swap ? r : l;
    ExprPtr e = expr_of(base);
    add_to(e.get(), swap ? l : r, op == "sub");
    return full_text(e.get(), base.kind == 'e' ? attr_text(base.e.get()) : "plain");
}

std::string symbol(const std::string& op, bool in_place) {
    return std::string(op == "add" ? "+" : op == "sub" ? "-" : "*") + (in_place ? "=" : "");
}

// ---- one checker per row shape ----

// Binary members of all four forms: a new result or the left array changed, a scalar or an
// array right operand.
template <class Ret, class LP, class B>
void check_binary(const char* op, Ret (*fn)(LP, B), Gen& g, const std::vector<Shape>& shapes) {
    using LA = std::remove_const_t<std::remove_pointer_t<LP>>;
    constexpr bool in_place = std::is_void_v<Ret>, array_right = is_array_handle<B>;
    const char lk = kind_of(static_cast<const LA*>(nullptr)), rk = kind_of(B{});
    const bool div = std::string(op) == "div";
    for (const Shape& s : shapes) {
        const uint64_t n = count_of(s);
        const auto [lefts, a] = random_array<LA>(g, s, div && lk != 'i' ? 3 : 1);
        std::vector<Operand> rights = g.make_n(rk, array_right ? n : 1);
        if (div) rights[0] = of_int(lk == 'i' ? g.pick(-3, 3) : g.pick(0, 1) ? 3 : -1);
        std::vector<std::string> want;
        for (uint64_t i = 0; i < n; ++i)
            want.push_back(expected(op, lefts[i], rights[array_right ? i : 0]));
        B b{};
        if constexpr (array_right) b = make(b, rights, s);
        if constexpr (!array_right) b = arg(rights[0], b);
        if constexpr (in_place) {
            fn(a, b);
            EXPECT_EQ(texts(a), want);
        } else {
            Ret r = fn(a, b);
            EXPECT_EQ(shape_of(r), s);
            EXPECT_EQ(texts(r), want);
            EXPECT_EQ(texts(a), texts(lefts));  // the operands are only read
            destroy(r);
        }
        if constexpr (array_right) {
            if (s == Shape{2, 3}) {
                auto* t = make(b, g.make_n(rk, 6), {3, 2});
                EXPECT_FATAL(fn(a, t),
                             "Array " + symbol(op, in_place) + ": shape mismatch (2,3) vs (3,2)");
                destroy(t);
            }
            destroy(const_cast<std::remove_const_t<std::remove_pointer_t<B>>*>(b));
        }
        destroy(a);
    }
}

// Unary members: the scalar operation on the same element (transforms give plain results).
// Reduction runs in element order, so its k-th new variable is the k-th of the scalar calls
// made afterwards.
template <class LA>
void check_unary(const std::string& name, dalo_array_expr* (*fn)(const LA*), Gen& g,
                 const std::vector<Shape>& shapes) {
    auto* scalar = name == "sqr"                  ? dalo_expr_sqr
                   : name == "simplify"           ? dalo_expr_simplify
                   : name == "simplify_as_binary" ? dalo_expr_simplify_as_binary
                   : name == "simplify_as_spin"   ? dalo_expr_simplify_as_spin
                   : name == "reduce"             ? dalo_expr_reduce
                                                  : nullptr;
    for (const Shape& s : shapes) {
        const auto [xs, a] = random_array<LA>(g, s);
        const auto first = static_cast<dalo_var>(dalo_var_count());
        dalo_array_expr* r = fn(a);
        const auto made = static_cast<dalo_var>(dalo_var_count()) - first;
        std::vector<std::string> got = texts(r), want;
        for (const Operand& x : xs) {
            ExprPtr e = scalar ? ExprPtr(scalar(plain_copy(x.e.get()).get())) : expr_of(x);
            if (!scalar) dalo_expr_negate(e.get());
            want.push_back(scalar ? "expr " + poly_text(e.get(), first + made, made) + " @plain"
                                  : full_text(e.get()));
        }
        EXPECT_EQ(got, want) << name;
        destroy(r), destroy(a);
    }
}

// The sum in element order through the scalar interface, and the array sum attribute rule
// worked out from the elements (classic items in order, plain elements into the penalty).
ExprPtr loop_sum(const std::vector<Operand>& xs) {
    ExprPtr acc(dalo_expr_create());
    for (const Operand& x : xs) {
        if (x.kind == 'e') dalo_expr_iadd_expr(acc.get(), plain_copy(x.e.get()).get());
        if (x.kind != 'e') add_to(acc.get(), x, false);
    }
    return acc;
}
std::string sum_attr(const std::vector<Operand>& xs) {
    std::string items;
    std::vector<Operand> plain;
    for (const Operand& x : xs) {
        if (x.kind != 'e') return "plain";
        const bool is_plain = dalo_expr_attr(x.e.get()) == DALO_ATTR_PLAIN;
        if (is_plain) plain.push_back(x);
        if (!is_plain) items += item_text(x.e.get(), 0);
    }
    if (items.empty()) return "plain";
    return "classic{" + items +
           (plain.empty() ? "" : "free " + poly_text(loop_sum(plain).get()) + " w1 [0,0]; ") + "}";
}

template <class LA>
void check_sum(dalo_expr* (*fn)(const LA*), Gen& g, const std::vector<Shape>& shapes) {
    for (const Shape& s : shapes) {
        const auto [xs, a] = random_array<LA>(g, s);
        ExprPtr r(fn(a));
        EXPECT_EQ(full_text(r.get()), full_text(loop_sum(xs).get(), sum_attr(xs)));
        destroy(a);
    }
}

// Sums along each axis against sums built by walking the source in flat order.
template <class LA>
void check_vector_sum(dalo_array_expr* (*fn)(const LA*, uint32_t), Gen& g,
                      const std::vector<Shape>& shapes) {
    for (const Shape& s : shapes) {
        const auto [xs, a] = random_array<LA>(g, s);
        for (uint32_t axis = 0; axis < s.size(); ++axis) {
            Shape rs = s;
            rs.erase(rs.begin() + axis);
            std::vector<std::vector<Operand>> parts(count_of(rs));
            // Flat index (outer, c, inner) goes to (outer, inner); inner spans the later axes.
            const uint64_t inner = count_of(Shape(s.begin() + axis + 1, s.end()));
            for (uint64_t i = 0; i < xs.size(); ++i)
                parts[i / (s[axis] * inner) * inner + i % inner].push_back(xs[i]);
            std::vector<std::string> want;
            for (const auto& p : parts) want.push_back(full_text(loop_sum(p).get(), "plain"));
            dalo_array_expr* r = fn(a, axis);
            EXPECT_EQ(shape_of(r), rs);
            EXPECT_EQ(texts(r), want);
            destroy(r);
        }
        destroy(a);
    }
}

// Comparisons on operands whose reachable range lies in [0, 1], with bounds no wider than
// that, so that no penalty needs a slack variable and dalo_between gives it exactly.
template <class LA, class... B>
void check_compare(const std::string& form, dalo_array_expr* (*fn)(const LA*, B...), Gen& g,
                   const std::vector<Shape>& shapes) {
    const bool eq = form.rfind("eq", 0) == 0, ge = form.rfind("ge", 0) == 0,
               le = form.rfind("le", 0) == 0, per_element = form.find("array") != std::string::npos;
    auto draw_lo = [&] { return eq ? g.pick(-1, 2) : ge ? g.pick(0, 1) : 0; };
    for (const Shape& s : shapes) {
        const uint64_t n = count_of(s);
        const auto [xs, a] = random_array<LA>(g, s, 1, true);
        const int64_t k_lo = draw_lo(), k_hi = eq ? k_lo : g.pick(0, 1);
        std::vector<Operand> lo, hi;
        for (uint64_t i = 0; i < n; ++i) {
            lo.push_back(of_int(per_element ? draw_lo() : k_lo));
            hi.push_back(of_int(eq ? lo[i].i : per_element ? g.pick(0, 1) : k_hi));
        }
        dalo_array_int* la = make(static_cast<const dalo_array_int*>(nullptr), lo, s);
        dalo_array_int* ha = make(la, hi, s);
        dalo_array_expr* r = nullptr;
        constexpr bool scalars = (std::is_same_v<B, int64_t> && ...), one = sizeof...(B) == 1;
        if constexpr (scalars && one) r = fn(a, le ? k_hi : k_lo);
        if constexpr (scalars && !one) r = fn(a, k_lo, k_hi);
        if constexpr (!scalars && one) r = fn(a, le ? ha : la);
        if constexpr (!scalars && !one) r = fn(a, la, ha);
        ASSERT_EQ(shape_of(r), s);
        for (uint64_t i = 0; i < n; ++i) {
            ExprPtr e = expr_of(xs[i]);
            const int64_t l = le ? dalo_expr_neg_sum(e.get(), nullptr) : lo[i].i;
            const int64_t h = ge ? dalo_expr_pos_sum(e.get(), nullptr) : hi[i].i;
            ExprPtr el(dalo_array_expr_get(r, i)), pen(dalo_array_exprexpr_get_penalty(r, i));
            int64_t got_lo = 7, got_hi = 7;
            EXPECT_EQ(dalo_exprexpr_get_bounds(el.get(), &got_lo, &got_hi), 1);
            EXPECT_EQ(std::make_pair(got_lo, got_hi), std::make_pair(l, h)) << form << " " << i;
            EXPECT_EQ(full_text(pen.get()), full_text(ExprPtr(dalo_between(e.get(), l, h)).get()));
            EXPECT_EQ(poly_text(dalo_exprexprelem_get_body(el.get())), poly_text(e.get()));
        }
        if constexpr (!scalars) {
            if (s == Shape{2, 3}) {
                dalo_array_int* bad = make(la, lo, {3, 2});
                const char* lower = "Array range constraint: lower-bound array shape mismatch";
                const char* upper = "Array range constraint: upper-bound array shape mismatch";
                if constexpr (one) {
                    EXPECT_FATAL(fn(a, bad), eq   ? "Array == Array<int>: shape mismatch"
                                             : le ? upper
                                                  : lower);
                } else {
                    EXPECT_FATAL(fn(a, bad, ha), lower);
                    EXPECT_FATAL(fn(a, la, bad), upper);
                }
                destroy(bad);
            }
        }
        destroy(r), destroy(a), destroy(la), destroy(ha);
    }
}

void run_table(Gen& g, const std::vector<Shape>& shapes, const std::vector<Shape>& sum_shapes) {
#define DALO_EW_SCALAR(L, OP, R) check_binary(#OP, &dalo_array_##L##_##OP##_##R, g, shapes);
#define DALO_EW_ARRAY(L, OP, R) check_binary(#OP, &dalo_array_##L##_##OP##_array_##R, g, shapes);
#define DALO_EW_SCALAR_EQ(L, OP, R) check_binary(#OP, &dalo_array_##L##_##OP##_eq_##R, g, shapes);
#define DALO_EW_ARRAY_EQ(L, OP, R) \
    check_binary(#OP, &dalo_array_##L##_##OP##_eq_array_##R, g, shapes);
#define DALO_EW_NEGATE(L) check_unary("negate", &dalo_array_##L##_negate, g, shapes);
#define DALO_EW_MAP(NAME) check_unary(#NAME, &dalo_array_expr_##NAME, g, shapes);
#define DALO_EW_SUM(L) check_sum(&dalo_array_##L##_sum, g, sum_shapes);
#define DALO_EW_VECTOR_SUM(L) check_vector_sum(&dalo_array_##L##_vector_sum, g, sum_shapes);
#define DALO_EW_COMPARE(L, FORM) check_compare(#FORM, &dalo_array_##L##_##FORM, g, shapes);
#include "../../src/array/elementwise.def"
}

TEST(ArrayOps, EveryTableRowMatchesTheScalarOperations) {
    Gen g(7);
    run_table(g, {{2, 3}, {0, 3}, {}}, {{2, 3}, {2, 3, 2}, {0, 3}, {4}, {}});
}

// ---- edge cases and messages ----

dalo_array_int* ints(std::vector<int32_t> v, Shape s) {
    return dalo_array_int_create_data(v.data(), s.data(), s.size());
}
dalo_array_expr* exprs(const std::vector<dalo_expr*>& owned) {
    const uint64_t n = owned.size();
    dalo_array_expr* a = dalo_array_expr_create_data(owned.data(), &n, 1);
    for (dalo_expr* e : owned) dalo_expr_destroy(e);
    return a;
}
std::string attr_at(const dalo_array_expr* a, uint64_t i) {
    return attr_text(dalo_array_expr_ref(a, i));
}
std::string lin(int64_t c, dalo_var x) {
    return std::to_string(c) + "*[" + std::to_string(x) + ",]";
}

TEST(ArrayOps, ShapesKindsAndIntegerDivision) {
    const dalo_var x = dalo_new_var("x");
    ArrayIntPtr scalar(ints({1}, {})), one(ints({1}, {1})), a(ints({1, -2}, {2}));
    EXPECT_FATAL(dalo_array_int_sub_eq_array_int(scalar.get(), one.get()),
                 "Array -=: shape mismatch () vs (1)");
    ArrayTermPtr coeffvec(dalo_array_int_coeffvec_mul_var(a.get(), x));
    EXPECT_EQ(texts(coeffvec.get()),
              (std::vector<std::string>{"term " + lin(1, x), "term " + lin(-2, x)}));
    ArrayIntPtr m(ints({INT32_MIN, 7}, {2}));
    dalo_array_int_div_eq_int(m.get(), -1);  // wraps like negation
    EXPECT_EQ(values(m.get()), (std::vector<int32_t>{INT32_MIN, -7}));
    dalo_array_int_div_eq_int(m.get(), 0);  // integer division by zero gives zeros
    EXPECT_EQ(values(m.get()), (std::vector<int32_t>{0, 0}));
}

TEST(ArrayOps, DivisionMessages) {
    const dalo_var x = dalo_new_var("x");
    TermPtr t(dalo_term_create_var(6, x));
    const dalo_term* tv[1] = {t.get()};
    const uint64_t n = 1;
    ArrayTermPtr terms(dalo_array_term_create_data(tv, &n, 1));
    EXPECT_FATAL(dalo_array_term_div_eq_int(terms.get(), 0), "Array<Term> /=: division by zero");
    EXPECT_FATAL(dalo_array_term_div_int(terms.get(), 0), "Array<Term> /=: division by zero");
    dalo_expr* declared = dalo_cons_between(ExprPtr(dalo_expr_create_var(x)).get(), 0, 1);
    dalo_expr_iadd_raw_term(declared, 8, &x, 1);
    dalo_expr_iadd_int(declared, 4);  // 8x + 4
    ArrayExprPtr e(exprs({declared}));
    EXPECT_FATAL(dalo_array_expr_div_eq_int(e.get(), 0), "Array<Expr> /=: division by zero");
    EXPECT_FATAL(dalo_array_expr_div_int(e.get(), 3), "Indivisible division in Expr constant");
    EXPECT_FATAL(dalo_array_expr_div_eq_int(e.get(), 16), "Indivisible division in Expr constant");
    dalo_array_expr_add_eq_int(e.get(), 12);  // 8x + 16
    // A declared element is divided too (the scalar form refuses it) and becomes plain.
    dalo_array_expr_div_eq_int(e.get(), -8);
    EXPECT_EQ(texts(e.get())[0], "expr -2 " + lin(-1, x) + " @plain");
}

TEST(ArrayOps, AttributeWordsOfDeclaredElements) {
    const dalo_var x = dalo_new_var("x"), y = dalo_new_var("y");
    ExprPtr fx(dalo_expr_create_var(x));
    ExprPtr declared(dalo_cons_between(fx.get(), 0, 1));
    const uint32_t word = dalo_expr_attr(declared.get());
    ArrayExprPtr a(exprs({dalo_expr_clone(declared.get()), dalo_expr_create_var(y)}));
    const uint64_t two = 2;
    dalo_var xy[2] = {x, y};
    dalo_test::ArrayVarPtr vars(dalo_array_var_create_data(xy, &two, 1));
    ArrayExprPtr right(dalo_array_var_add_array_expr(vars.get(), a.get()));  // the right word
    ArrayExprPtr minus(dalo_array_var_sub_array_expr(vars.get(), a.get()));  // plain
    EXPECT_EQ(dalo_expr_attr(dalo_array_expr_ref(right.get(), 0)), word);
    EXPECT_EQ(attr_at(minus.get(), 0), "plain");
    const std::string body = poly_text(fx.get());
    EXPECT_EQ(attr_at(ArrayExprPtr(dalo_array_expr_mul_int(a.get(), 2)).get(), 0),
              "declared{" + body + " w2 [0,1]; }");
    EXPECT_EQ(attr_at(ArrayExprPtr(dalo_array_expr_negate(a.get())).get(), 0),
              "declared{" + body + " w-1 [0,1]; }");
    EXPECT_EQ(attr_at(ArrayExprPtr(dalo_array_expr_sqr(a.get())).get(), 0), "plain");
    ArrayExprPtr shapes(exprs({dalo_abs_term(fx.get(), 1)}));
    dalo_array_expr_mul_eq_int(shapes.get(), 0);  // abs/relu items only: dropped without failure
    EXPECT_EQ(attr_at(shapes.get(), 0), "plain");
    // In place, an array added to itself keeps the left word and doubles the polynomial.
    dalo_array_expr_add_eq_array_expr(right.get(), right.get());
    const std::string y1 = " 1*[" + std::to_string(y) + ",]";
    EXPECT_EQ(texts(right.get())[1], "expr 0" + y1 + y1 + y1 + y1 + " @plain");
    EXPECT_EQ(dalo_expr_attr(dalo_array_expr_ref(right.get(), 0)), word);
}

TEST(ArrayOps, SumsAndTheArraySumRule) {
    const dalo_var x = dalo_new_var("x"), y = dalo_new_var("y");
    ArrayIntPtr big(ints({INT32_MAX, INT32_MAX}, {2}));  // the sum is 64-bit
    EXPECT_EQ(full_text(ExprPtr(dalo_array_int_sum(big.get())).get()), "expr 4294967294 @plain");
    ExprPtr fx(dalo_expr_create_var(x)), fy(dalo_expr_create_var(y));
    ExprPtr classic(dalo_exprexprelem_create(fx.get(), fx.get()));
    // Declared: the items of every declared element; plain elements join only the polynomial.
    ArrayExprPtr declared(exprs({dalo_cons_between(fx.get(), 0, 1), dalo_expr_create_var(y),
                                 dalo_cons_between(fy.get(), 2, 3)}));
    EXPECT_EQ(full_text(ExprPtr(dalo_array_expr_sum(declared.get())).get()),
              "expr 0 " + lin(1, y) + " @declared{" + poly_text(fx.get()) + " w1 [0,1]; " +
                  poly_text(fy.get()) + " w1 [2,3]; }");
    // The sum of handles is plain whatever the elements carry.
    const dalo_expr* items[3] = {dalo_array_expr_ref(declared.get(), 0), classic.get(),
                                 dalo_array_expr_ref(declared.get(), 1)};
    EXPECT_EQ(full_text(ExprPtr(dalo_array_sum(items, 3)).get()),
              "expr 0 " + lin(1, x) + " " + lin(1, y) + " @plain");
    EXPECT_EQ(full_text(ExprPtr(dalo_array_sum(items, 0)).get()), "expr 0 @plain");
}

TEST(ArrayOps, VectorSumOverCallerBuffers) {
    Gen g(3);
    const Shape s{2, 3};
    const std::vector<Operand> es = g.make_n('e', 6), vs = g.make_n('v', 6), ts = g.make_n('t', 6);
    std::vector<const dalo_expr*> eh;
    std::vector<dalo_var> vh;
    std::vector<unsigned char> th(6 * 24);  // term records as the library lays them out
    for (int i = 0; i < 6; ++i) {
        eh.push_back(es[i].e.get());
        vh.push_back(vs[i].v);
        std::memcpy(th.data() + 24 * i, ts[i].t.get(), 24);
    }
    ArrayExprPtr ea(make(static_cast<const dalo_array_expr*>(nullptr), es, s));
    dalo_test::ArrayVarPtr va(make(static_cast<const dalo_array_var*>(nullptr), vs, s));
    ArrayTermPtr ta(make(static_cast<const dalo_array_term*>(nullptr), ts, s));
    for (uint32_t axis : {0u, 1u}) {
        auto buffer = [&](const void* data, uint32_t kind) {
            std::vector<dalo_expr*> out(axis == 0 ? 3 : 2);
            dalo_array_vector_sum(data, kind, s.data(), 2, axis, out.data());
            std::vector<std::string> got;
            for (dalo_expr* e : out) got.push_back(full_text(ExprPtr(e).get()));
            return got;
        };
        EXPECT_EQ(buffer(eh.data(), 0),
                  texts(ArrayExprPtr(dalo_array_expr_vector_sum(ea.get(), axis)).get()));
        EXPECT_EQ(buffer(vh.data(), 1),
                  texts(ArrayExprPtr(dalo_array_var_vector_sum(va.get(), axis)).get()));
        EXPECT_EQ(buffer(th.data(), 2),
                  texts(ArrayExprPtr(dalo_array_term_vector_sum(ta.get(), axis)).get()));
        EXPECT_EQ(buffer(vh.data(), 7),
                  std::vector<std::string>(axis == 0 ? 3 : 2, "expr 0 @plain"));
    }
    std::vector<dalo_expr*> out(6);
    EXPECT_FATAL(dalo_array_vector_sum(vh.data(), 1, s.data(), 2, 2, out.data()),
                 "dalo_array_vector_sum: axis 2 out of range (2 axes)");
    EXPECT_FATAL(dalo_array_var_vector_sum(va.get(), 2),
                 "Array vector_sum: axis 2 out of range (2 axes)");
}

TEST(ArrayOps, OneHotDecoding) {
    ArrayIntPtr a(ints({0, 1, 0, 1, 1, 0, 0, 0, 2}, {3, 3})), line(ints({0, 0, 1}, {3}));
    for (int64_t axis : {-1, 0})
        EXPECT_EQ(values(ArrayIntPtr(dalo_array_int_onehot_to_int(a.get(), axis)).get()),
                  (std::vector<int32_t>{1, -1, -1}));
    ArrayIntPtr single(dalo_array_int_onehot_to_int(line.get(), 0));
    EXPECT_EQ(shape_of(single.get()), Shape{1});
    EXPECT_EQ(values(single.get()), std::vector<int32_t>{2});
    ArrayIntPtr scalar(ints({1}, {}));
    for (int64_t axis : {2, -3}) EXPECT_EQ(dalo_array_int_onehot_to_int(a.get(), axis), nullptr);
    EXPECT_EQ(dalo_array_int_onehot_to_int(scalar.get(), 0), nullptr);
}

TEST(ArrayOps, ComparisonEdgeCases) {
    const uint64_t three = 3;
    dalo_test::ArrayVarPtr x(dalo_array_var_create_named("cx", &three, 1));
    const std::string x0 = std::to_string(dalo_array_var_get(x.get(), 0));
    ArrayExprPtr ge(dalo_array_var_ge_int(x.get(), 0));
    EXPECT_EQ(full_text(ExprPtr(dalo_array_exprexpr_get_penalty(ge.get(), 0)).get()),
              "expr 0 -1*[" + x0 + ",] 1*[" + x0 + "," + x0 + ",] @plain");
    EXPECT_FATAL(dalo_array_exprexpr_get_penalty(ge.get(), 3),
                 "dalo_array_exprexpr_get_penalty: index 3 out of range (size 3)");
    // Beyond the reachable range: bounds [2, 1] and a zero penalty.
    ArrayExprPtr unreachable(dalo_array_var_ge_int(x.get(), 2));
    int64_t lo = 0, hi = 0;
    EXPECT_EQ(dalo_exprexpr_get_bounds(dalo_array_expr_ref(unreachable.get(), 1), &lo, &hi), 1);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(int64_t{2}, int64_t{1}));
    EXPECT_EQ(full_text(dalo_array_expr_ref(unreachable.get(), 1)).substr(0, 8), "expr 0 @");
    // An integer element c >= k records [k, c]; wide ranges take slack variables in element order.
    ArrayIntPtr c(ints({5, 9}, {2}));
    ArrayExprPtr wide(dalo_array_int_ge_int(c.get(), 1));
    EXPECT_EQ(dalo_exprexpr_get_bounds(dalo_array_expr_ref(wide.get(), 1), &lo, &hi), 1);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(int64_t{1}, int64_t{9}));
    EXPECT_LT(dalo_test::terms_of(dalo_array_expr_ref(wide.get(), 0)).back().vars.back(),
              dalo_test::terms_of(dalo_array_expr_ref(wide.get(), 1)).back().vars.back());
}

TEST(ArrayOps, ReduceAndReplace) {
    const dalo_var x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z");
    const dalo_var n = dalo_new_int_var("n", 0, 3);
    dalo_var xyz[3] = {x, y, z}, xyn[3] = {x, y, n};
    // An element with an integer atom is reduced like any other (the scalar form refuses it).
    ArrayExprPtr a(
        exprs({dalo_expr_create_raw_term(2, xyz, 3, 0), dalo_expr_create_raw_term(-1, xyn, 3, 0)}));
    ArrayExprPtr r(dalo_array_expr_reduce(a.get()));
    for (uint64_t i = 0; i < 2; ++i)
        EXPECT_LE(dalo_expr_max_degree(dalo_array_expr_ref(r.get(), i)), 2u);
    // Replacement: each element as dalo_expr_replace, but plain even where it is declared.
    ExprPtr fy(dalo_expr_create_var(y)), two(dalo_expr_create_int(2));
    dalo_array_expr_set(a.get(), 1, ExprPtr(dalo_cons_between(fy.get(), 0, 1)).get());
    const dalo_expr* repl[1] = {two.get()};
    ArrayExprPtr rep(dalo_array_expr_replace(a.get(), &y, repl, 1));
    for (uint64_t i = 0; i < 2; ++i) {
        ExprPtr want(dalo_expr_replace(dalo_array_expr_ref(a.get(), i), &y, repl, 1));
        EXPECT_EQ(poly_text(dalo_array_expr_ref(rep.get(), i)), poly_text(want.get()));
    }
    EXPECT_EQ(dalo_expr_attr(dalo_array_expr_ref(rep.get(), 1)), DALO_ATTR_PLAIN);
}

// Above the serial limit: the same comparisons, so every thread count gives the scalar results.
TEST(ArrayOpsParallel, EveryTableRowMatchesTheScalarOperationsAboveTheSerialLimit) {
    Gen g(11);
    run_table(g, {{10010}}, {{10010}, {10010, 2}});
}

TEST(ArrayOpsParallel, ViewsAndConcatenationOfEveryKindGiveBackTheSource) {
    Gen g(5);
    const Shape s{10010};
    for (auto [got, want] : {rejoined(random_array<dalo_array_var>(g, s).second),
                             rejoined(random_array<dalo_array_int>(g, s).second),
                             rejoined(random_array<dalo_array_term>(g, s).second),
                             rejoined(random_array<dalo_array_expr>(g, s).second)})
        EXPECT_EQ(got, want);
}

TEST(ArrayOpsParallel, ChunkedSumsEqualTheSerialSum) {
    // Elements whose first stored term has coefficient 0: appended in order, such a term
    // vanishes only while the sum has no term yet.
    const uint64_t n = 10007;
    const dalo_var first = dalo_new_var_array("ps", &n, 1);
    std::vector<dalo_expr*> owned;
    std::vector<const dalo_expr*> items;
    ExprPtr want(dalo_expr_create());
    for (dalo_var i = 0; i < n; ++i) {
        const int32_t coeffs[2] = {0, static_cast<int32_t>(i % 5) - 2};
        const uint32_t degrees[2] = {1, 1};
        const dalo_var vars[2] = {first + i, first + static_cast<dalo_var>((i * 7) % n)};
        owned.push_back(dalo_expr_create_from_bulk(i % 3, 2, coeffs, degrees, vars));
        items.push_back(owned.back());
        dalo_expr_iadd_expr(want.get(), owned.back());
    }
    ExprPtr h(dalo_array_sum(items.data(), n));  // before exprs() takes the elements
    ExprPtr s(dalo_array_expr_sum(ArrayExprPtr(exprs(owned)).get()));
    EXPECT_EQ(full_text(s.get()), full_text(want.get()));
    EXPECT_EQ(full_text(h.get()), full_text(want.get()));
}

}  // namespace

/*
 * dalo.hpp: the typed C++ front end of dalo, header-only, over the C interface of dalo.h.
 *
 *   dalo::Var x = dalo::var("x"), y = dalo::var("y");
 *   dalo::Expr f = 3 * x * y - 2 * x + dalo::cons(x + y, 1, 1);
 *   dalo::Model m(f.simplify_as_binary());
 *   dalo::Result r = dalo::BriskSolver(m).search({.time_limit = 1.0, .seed = 7});
 *   std::cout << r.energy() << " " << r.sol() << "\n";
 *
 * Value semantics throughout: copying a Term, Expr, array, Model or Sol copies the value
 * (Models and the Model inside a Sol are shared, as they are immutable); moving hands the
 * handle over. Every handle is released by its destructor.
 *
 * Misuse throws dalo::error (a std::invalid_argument) with the library's message, the line
 * a C caller would see on standard error ("dalo: ..."); the objects involved are unchanged
 * and stay usable. To do so the front end puts each thread that calls it in the library's
 * DALO_ERRORS_KEEP mode with a handler that throws (see dalo.h). Out-of-range indices of the
 * front end's own accessors throw std::out_of_range. Expressions are not simplified behind your
 * back: call simplify(), simplify_as_binary() or simplify_as_spin() when you want the canonical
 * form, and compile a binary-simplified expression into a Model.
 */
#ifndef DALO_HPP
#define DALO_HPP

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "dalo.h"

namespace dalo {

class Term;
class Expr;
class Model;
class Sol;

// Misuse reported by the library: what() is its message ("dalo: ...").
class error : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

namespace detail {

[[noreturn]] inline void raise(const char* message, void*) {
    std::string text = message;
    dalo_clear_error();
    throw error(text);
}

// The first call on a thread switches it to keeping errors, with a handler that throws.
inline void ensure_errors_throw() {
    thread_local const bool ready = [] {
        dalo_set_error_mode(DALO_ERRORS_KEEP);
        dalo_set_error_handler(raise, nullptr);
        return true;
    }();
    (void)ready;
}

// Every call into the library goes through here.
template <class F, class... A>
decltype(auto) call(F* f, A&&... args) {
    ensure_errors_throw();
    return f(std::forward<A>(args)...);
}

// An owning handle: copies clone, moves steal, the destructor releases.
template <class T, T* (*Clone)(const T*), void (*Destroy)(T*)>
class Owned {
  public:
    Owned() = default;
    explicit Owned(T* p) : p_(p) {}
    Owned(const Owned& o) : p_(o.p_ != nullptr ? Clone(o.p_) : nullptr) {}
    Owned(Owned&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Owned& operator=(const Owned& o) {
        if (this != &o) reset(o.p_ != nullptr ? Clone(o.p_) : nullptr);
        return *this;
    }
    Owned& operator=(Owned&& o) noexcept {
        if (this != &o) reset(std::exchange(o.p_, nullptr));
        return *this;
    }
    ~Owned() { reset(nullptr); }

    T* get() const { return p_; }
    T* release() { return std::exchange(p_, nullptr); }
    void reset(T* p) {
        if (p_ != nullptr) Destroy(p_);
        p_ = p;
    }

  private:
    T* p_ = nullptr;
};

inline dalo_expr* clone_expr(const dalo_expr* e) { return dalo_expr_clone(e); }

}  // namespace detail

// ---- variables --------------------------------------------------------------------------

// A binary variable, a negated binary literal (~x, read as 1 - x) or an integer variable.
class Var {
  public:
    Var() = default;
    explicit Var(dalo_var id) : id_(id) {}

    dalo_var id() const { return id_; }
    bool is_negated() const { return (id_ & DALO_NEG_BIT) != 0; }
    bool is_int() const { return !is_negated() && (id_ & DALO_INT_BIT) != 0; }
    // The literal 1 - x of a binary variable.
    Var operator~() const { return Var(id_ ^ DALO_NEG_BIT); }
    std::string name() const { return detail::call(dalo_var_str, id_); }
    // Bounds of an integer variable.
    std::pair<int64_t, int64_t> bounds() const {
        int64_t lo = 0, hi = 0;
        detail::call(dalo_int_var_bounds, id_, &lo, &hi);
        return {lo, hi};
    }

    friend bool operator==(Var a, Var b) { return a.id_ == b.id_; }
    friend bool operator!=(Var a, Var b) { return a.id_ != b.id_; }
    friend bool operator<(Var a, Var b) { return a.id_ < b.id_; }

  private:
    dalo_var id_ = DALO_NO_VAR;
};

// A new binary variable; an empty name asks for an automatic one ("{n}").
inline Var var(const std::string& name = "") {
    return Var(detail::call(dalo_new_var, name.c_str()));
}
// A new integer variable over [lo, hi] (lo < hi).
inline Var int_var(const std::string& name, int64_t lo, int64_t hi) {
    return Var(detail::call(dalo_new_int_var, name.c_str(), lo, hi));
}

inline std::ostream& operator<<(std::ostream& os, Var v) {
    return os << detail::call(dalo_var_str, v.id());
}

// ---- terms ------------------------------------------------------------------------------

// A coefficient times a product of variables (kept in the order multiplied).
class Term {
  public:
    Term() : h_(detail::call(dalo_term_create, 1)) {}
    Term(int64_t coeff) : h_(detail::call(dalo_term_create, coeff)) {}  // NOLINT: a constant term
    Term(Var v) : h_(detail::call(dalo_term_create_var, 1, v.id())) {}  // NOLINT: 1 * v
    Term(int64_t coeff, Var v) : h_(detail::call(dalo_term_create_var, coeff, v.id())) {}
    Term(int64_t coeff, Var a, Var b)
        : h_(detail::call(dalo_term_create_var_var, coeff, a.id(), b.id())) {}
    // Takes ownership of a term handle.
    static Term adopt(dalo_term* t) {
        Term out(Adopt{}, t);
        return out;
    }

    const dalo_term* get() const { return h_.get(); }
    dalo_term* get() { return h_.get(); }
    dalo_term* release() { return h_.release(); }

    int64_t coeff() const { return detail::call(dalo_term_coeff, get(), nullptr); }
    uint64_t degree() const { return detail::call(dalo_term_degree, get()); }
    Var var(uint64_t i) const { return Var(detail::call(dalo_term_var_at, get(), i)); }
    std::vector<Var> vars() const {
        std::vector<Var> out;
        for (uint64_t i = 0; i < degree(); ++i) out.push_back(var(i));
        return out;
    }
    std::string str() const { return detail::call(dalo_term_str, get()); }

    Term& operator*=(Var v) {
        detail::call(dalo_term_mul_var, get(), v.id());
        return *this;
    }
    Term& operator*=(int64_t k) {
        detail::call(dalo_term_mul_coeff, get(), k);
        return *this;
    }
    Term& operator*=(const Term& t) {
        detail::call(dalo_term_mul_term_move, get(), t.get());
        return *this;
    }
    Term& operator/=(int64_t k) {
        detail::call(dalo_term_div_coeff, get(), k);
        return *this;
    }
    Term operator-() const {
        Term out(*this);
        detail::call(dalo_term_negate, out.get());
        return out;
    }

  private:
    struct Adopt {};
    Term(Adopt, dalo_term* t) : h_(t) {}
    detail::Owned<dalo_term, dalo_term_clone, dalo_term_destroy> h_;
};

inline Term operator*(Var a, Var b) { return Term(1, a, b); }
inline Term operator*(int64_t k, Var v) { return Term(k, v); }
inline Term operator*(Var v, int64_t k) { return Term(k, v); }
inline Term operator-(Var v) { return Term(-1, v); }
inline Term operator*(Term t, Var v) { return std::move(t *= v); }
inline Term operator*(Var v, const Term& t) {
    Term out(v);
    return std::move(out *= t);
}
inline Term operator*(Term t, int64_t k) { return std::move(t *= k); }
inline Term operator*(int64_t k, Term t) { return std::move(t *= k); }
inline Term operator*(const Term& a, const Term& b) {
    return Term::adopt(detail::call(dalo_term_mul_term, a.get(), b.get()));
}
inline Term operator/(Term t, int64_t k) { return std::move(t /= k); }

inline std::ostream& operator<<(std::ostream& os, const Term& t) { return os << t.str(); }

// ---- expressions ------------------------------------------------------------------------

// A constant plus a sequence of terms, possibly carrying constraints.
class Expr {
  public:
    Expr() : h_(detail::call(dalo_expr_create)) {}
    Expr(int64_t c) : h_(detail::call(dalo_expr_create_int, c)) {}   // NOLINT: a constant
    Expr(int c) : h_(detail::call(dalo_expr_create_int, c)) {}       // NOLINT: a constant
    Expr(Var v) : h_(detail::call(dalo_expr_create_var, v.id())) {}  // NOLINT: 1 * v
    Expr(const Term& t)
        : h_(detail::call(dalo_expr_create_term, const_cast<dalo_term*>(t.get()), 0)) {}  // NOLINT
    Expr(Term&& t) : h_(detail::call(dalo_expr_create_term, t.release(), 1)) {}           // NOLINT
    // Takes ownership of an expression handle.
    static Expr adopt(dalo_expr* e) {
        Expr out(Adopt{}, e);
        return out;
    }

    const dalo_expr* get() const { return h_.get(); }
    dalo_expr* get() { return h_.get(); }
    dalo_expr* release() { return h_.release(); }

    // ---- queries
    int64_t constant() const { return detail::call(dalo_expr_constant, get(), nullptr); }
    uint32_t attr() const { return detail::call(dalo_expr_attr, get()); }
    uint64_t term_count() const { return detail::call(dalo_expr_term_count, get()); }
    Term term(uint64_t i) const {
        return Term::adopt(dalo_term_clone(detail::call(dalo_expr_term_at, get(), i)));
    }
    uint64_t max_degree() const { return detail::call(dalo_expr_max_degree, get()); }
    bool has(Var v) const { return detail::call(dalo_expr_has, get(), v.id()) != 0; }
    bool has_int_var() const { return detail::call(dalo_expr_has_int_atom, get()) != 0; }
    int64_t gcd() const { return detail::call(dalo_expr_gcd, get(), nullptr); }
    // Highest and lowest values the expression can reach.
    int64_t pos_sum() const { return detail::call(dalo_expr_pos_sum, get(), nullptr); }
    int64_t neg_sum() const { return detail::call(dalo_expr_neg_sum, get(), nullptr); }
    std::string str() const { return detail::call(dalo_expr_str, get()); }

    // ---- in-place arithmetic
    Expr& operator+=(int64_t c) {
        detail::call(dalo_expr_iadd_int, get(), c);
        return *this;
    }
    Expr& operator-=(int64_t c) {
        detail::call(dalo_expr_isub_int, get(), c);
        return *this;
    }
    Expr& operator+=(Var v) {
        detail::call(dalo_expr_iadd_var, get(), v.id());
        return *this;
    }
    Expr& operator-=(Var v) {
        detail::call(dalo_expr_isub_var, get(), v.id());
        return *this;
    }
    Expr& operator+=(const Term& t) {
        detail::call(dalo_expr_iadd_term, get(), t.get());
        return *this;
    }
    Expr& operator-=(const Term& t) {
        detail::call(dalo_expr_isub_term, get(), t.get());
        return *this;
    }
    Expr& operator+=(const Expr& e) {
        detail::call(dalo_expr_iadd_expr, get(), e.get());
        return *this;
    }
    Expr& operator-=(const Expr& e) {
        detail::call(dalo_expr_isub_expr, get(), e.get());
        return *this;
    }
    Expr& operator*=(int64_t k) {
        detail::call(dalo_expr_imul_int, get(), k);
        return *this;
    }
    Expr& operator*=(Var v) {
        detail::call(dalo_expr_imul_var, get(), v.id());
        return *this;
    }
    Expr& operator*=(const Expr& e) {
        detail::call(dalo_expr_imul_expr, get(), e.get());
        return *this;
    }
    Expr& operator/=(int64_t k) {
        detail::call(dalo_expr_idiv_int, get(), k);
        return *this;
    }
    Expr operator-() const {
        Expr out(*this);
        detail::call(dalo_expr_negate, out.get());
        return out;
    }
    Expr sqr() const { return adopt(detail::call(dalo_expr_sqr, get())); }

    // ---- transforms (each returns a new expression)
    Expr simplify() const { return adopt(detail::call(dalo_expr_simplify, get())); }
    Expr simplify_as_binary() const& {
        return adopt(detail::call(dalo_expr_simplify_as_binary, get()));
    }
    // std::move(e).simplify_as_binary() rewrites e's own terms (no copy) and hands them over;
    // e is left without a handle, as any moved-from Expr: assign to it before using it again.
    Expr simplify_as_binary() && {
        detail::call(dalo_expr_simplify_as_binary_inplace, get());
        return std::move(*this);
    }
    Expr simplify_as_spin() const { return adopt(detail::call(dalo_expr_simplify_as_spin, get())); }
    // 2^D times the expression over spins s = 2x - 1 (D its largest degree).
    Expr to_spin() const { return adopt(detail::call(dalo_expr_binary_to_spin, get())); }
    Expr to_binary() const { return adopt(detail::call(dalo_expr_spin_to_binary, get())); }
    // Quadratic form with auxiliary variables whose minimum equals this expression.
    Expr reduce() const { return adopt(detail::call(dalo_expr_reduce, get())); }
    // Integer variables replaced by their binary encodings.
    Expr binarize() const { return adopt(detail::call(dalo_expr_binarize, get())); }
    // Every variable of the pairs replaced by its expression.
    Expr replace(const std::vector<std::pair<Var, Expr>>& pairs) const {
        std::vector<dalo_var> vars;
        std::vector<const dalo_expr*> repl;
        for (const auto& [v, e] : pairs) {
            vars.push_back(v.id());
            repl.push_back(e.get());
        }
        return adopt(detail::call(dalo_expr_replace, get(), vars.data(), repl.data(), vars.size()));
    }
    // Value with the given variable values (every variable of the expression needed).
    int64_t eval(const std::vector<std::pair<Var, int64_t>>& values) const {
        std::vector<dalo_var> vars;
        std::vector<int64_t> vals;
        for (const auto& [v, x] : values) {
            vars.push_back(v.id());
            vals.push_back(x);
        }
        return detail::call(dalo_expr_eval_map, get(), vars.data(), vals.data(), vars.size(),
                            nullptr);
    }

    // ---- constraints
    bool is_declared() const { return detail::call(dalo_expr_is_declared, get()) != 0; }
    bool has_body() const { return detail::call(dalo_expr_has_body, get()) != 0; }
    // The constrained body of a single constraint.
    Expr body() const {
        return adopt(dalo_expr_clone(detail::call(dalo_exprexprelem_get_body, get())));
    }
    // Number of constraints that sol violates.
    uint64_t violations(const Sol& sol) const;
    // The classic penalty form: declared constraints become quadratic penalties (with slack
    // variables for ranges) that vanish exactly where they hold.
    Expr expand_cons() const { return adopt(detail::call(dalo_expr_expand_cons, get())); }

  private:
    struct Adopt {};
    Expr(Adopt, dalo_expr* e) : h_(e) {}
    detail::Owned<dalo_expr, detail::clone_expr, dalo_expr_destroy> h_;
};

// Sums and differences keep the left operand's terms first. Products use the dedicated C
// functions where one exists.
inline Expr operator+(Var a, Var b) {
    return Expr::adopt(detail::call(dalo_expr_create_add_var_var, a.id(), b.id()));
}
inline Expr operator+(Var v, int64_t c) {
    return Expr::adopt(detail::call(dalo_expr_create_add_var_int, v.id(), c));
}
inline Expr operator+(int64_t c, Var v) {
    return Expr::adopt(detail::call(dalo_expr_create_add_var_int, v.id(), c));
}
inline Expr operator-(Var v, int64_t c) {
    return Expr::adopt(detail::call(dalo_expr_create_add_var_int, v.id(), -c));
}
inline Expr operator-(int64_t c, Var v) {
    return Expr::adopt(detail::call(dalo_expr_create_sub_int_var, c, v.id()));
}
inline Expr operator-(Var a, Var b) {
    Expr out(a);
    return std::move(out -= b);
}
inline Expr operator+(const Term& a, const Term& b) {
    return Expr::adopt(detail::call(dalo_expr_create_add_term_term, a.get(), b.get()));
}
inline Expr operator-(const Term& a, const Term& b) {
    return Expr::adopt(detail::call(dalo_expr_create_sub_term_term, a.get(), b.get()));
}
inline Expr operator+(const Term& t, Var v) {
    return Expr::adopt(detail::call(dalo_expr_create_add_term_var, t.get(), v.id()));
}
inline Expr operator+(Var v, const Term& t) {
    Expr out(v);
    return std::move(out += t);
}
inline Expr operator-(const Term& t, Var v) {
    Expr out(t);
    return std::move(out -= v);
}
inline Expr operator-(Var v, const Term& t) {
    Expr out(v);
    return std::move(out -= t);
}
inline Expr operator+(const Term& t, int64_t c) {
    return Expr::adopt(detail::call(dalo_expr_create_add_term_int, t.get(), c));
}
inline Expr operator+(int64_t c, const Term& t) {
    return Expr::adopt(detail::call(dalo_expr_create_add_term_int, t.get(), c));
}
inline Expr operator-(const Term& t, int64_t c) {
    return Expr::adopt(detail::call(dalo_expr_create_add_term_int, t.get(), -c));
}
inline Expr operator-(int64_t c, const Term& t) {
    return Expr::adopt(detail::call(dalo_expr_create_sub_int_term, c, t.get()));
}

// With an expression operand: a copy of the left side (or the temporary itself) changed in
// place.
inline Expr operator+(Expr a, const Expr& b) { return std::move(a += b); }
inline Expr operator-(Expr a, const Expr& b) { return std::move(a -= b); }
inline Expr operator*(Expr a, const Expr& b) { return std::move(a *= b); }
inline Expr operator+(Expr a, int64_t c) { return std::move(a += c); }
inline Expr operator-(Expr a, int64_t c) { return std::move(a -= c); }
inline Expr operator*(Expr a, int64_t k) { return std::move(a *= k); }
inline Expr operator/(Expr a, int64_t k) { return std::move(a /= k); }
inline Expr operator+(Expr a, Var v) { return std::move(a += v); }
inline Expr operator-(Expr a, Var v) { return std::move(a -= v); }
inline Expr operator*(Expr a, Var v) { return std::move(a *= v); }
inline Expr operator+(Expr a, const Term& t) { return std::move(a += t); }
inline Expr operator-(Expr a, const Term& t) { return std::move(a -= t); }
inline Expr operator+(int64_t c, const Expr& e) { return Expr(c) + e; }
inline Expr operator-(int64_t c, const Expr& e) { return Expr(c) - e; }
inline Expr operator*(int64_t k, Expr e) { return std::move(e *= k); }
inline Expr operator+(Var v, const Expr& e) { return Expr(v) + e; }
inline Expr operator-(Var v, const Expr& e) { return Expr(v) - e; }
inline Expr operator*(Var v, const Expr& e) { return Expr(v) * e; }
inline Expr operator+(const Term& t, const Expr& e) { return Expr(t) + e; }
inline Expr operator-(const Term& t, const Expr& e) { return Expr(t) - e; }
inline Expr operator*(const Term& t, const Expr& e) { return Expr(t) * e; }
inline Expr operator*(Expr e, const Term& t) { return std::move(e *= Expr(t)); }

inline std::ostream& operator<<(std::ostream& os, const Expr& e) { return os << e.str(); }

// Sum of a sequence of expressions (or anything an Expr is made from), in order.
template <class Range>
Expr sum(const Range& items) {
    Expr out;
    for (const auto& x : items) out += x;
    return out;
}

// ---- constraints ------------------------------------------------------------------------

// Allowed values of a declared constraint: single values and closed intervals.
struct equal {
    std::vector<std::pair<int64_t, int64_t>> intervals;
    equal(int64_t v) : intervals{{v, v}} {}  // NOLINT: a single value
    equal(std::initializer_list<int64_t> values) {
        for (int64_t v : values) intervals.emplace_back(v, v);
    }
    equal(std::vector<std::pair<int64_t, int64_t>> iv) : intervals(std::move(iv)) {}  // NOLINT
};

// Declared constraint lo <= body <= hi, kept outside the polynomial for native solving; add
// it to an objective. Multiplying it by an integer sets its weight.
inline Expr cons(const Expr& body, int64_t lo, int64_t hi) {
    return Expr::adopt(detail::call(dalo_cons_between, body.get(), lo, hi));
}
// Declared constraint: body takes one of the allowed values.
inline Expr cons(const Expr& body, const equal& allowed) {
    std::vector<int64_t> lo, hi;
    for (const auto& [a, b] : allowed.intervals) {
        lo.push_back(a);
        hi.push_back(b);
    }
    return Expr::adopt(detail::call(dalo_cons_equal, body.get(), lo.data(), hi.data(), lo.size()));
}
// Declares the constraints of e; a plain e becomes the requirement e = 0 (a free-form
// penalty that solvers keep at 0).
inline Expr cons(const Expr& e) { return Expr::adopt(detail::call(dalo_cons_mark, e.get())); }
// Objective-only penalties |body|^k and max(body, 0)^k, k in {1, 2}.
inline Expr abs(const Expr& body, int k = 1) {
    return Expr::adopt(detail::call(dalo_abs_term, body.get(), k));
}
inline Expr relu(const Expr& body, int k = 1) {
    return Expr::adopt(detail::call(dalo_relu_term, body.get(), k));
}
// Classic range penalty: a polynomial whose minimum over its slack variables is 0 exactly
// when lo <= f <= hi.
inline Expr between(const Expr& f, int64_t lo, int64_t hi) {
    return Expr::adopt(detail::call(dalo_between, f.get(), lo, hi));
}

// ---- arrays -----------------------------------------------------------------------------

// Shapes: extents of each axis, row-major; an empty shape is a scalar array of one element.
using Shape = std::vector<uint64_t>;

template <class K>
class Array;
using VarArray = Array<Var>;
using IntArray = Array<int64_t>;
using TermArray = Array<Term>;
using ExprArray = Array<Expr>;

namespace detail {

template <class K>
struct ArrayKind;

#define DALO_FE_ARRAY_KIND(K, L, TAG, ELEM_IN, TO_C, FROM_C)                                 \
    template <>                                                                              \
    struct ArrayKind<K> {                                                                    \
        using C = dalo_array_##L;                                                            \
        static constexpr const char* name = #L;                                              \
        static C* create(const uint64_t* shape, uint64_t n) {                                \
            return detail::call(dalo_array_##L##_create, shape, n);                          \
        }                                                                                    \
        static C* clone(const C* a) { return dalo_array_##L##_clone(a); }                    \
        static void destroy(C* a) { dalo_array_##L##_destroy(a); }                           \
        static uint64_t size(const C* a) { return detail::call(dalo_array_##L##_size, a); }  \
        static uint64_t ndim(const C* a) { return detail::call(dalo_array_##L##_ndim, a); }  \
        static const uint64_t* shape(const C* a) {                                           \
            return detail::call(dalo_array_##L##_shape, a);                                  \
        }                                                                                    \
        static C* subarray(const C* a, uint64_t i) {                                         \
            return detail::call(dalo_array_##L##_subarray, a, i);                            \
        }                                                                                    \
        static C* view(const C* a, const uint64_t* start, const uint64_t* stop,              \
                       const uint8_t* drop, uint64_t n) {                                    \
            return detail::call(dalo_array_##L##_view, a, start, stop, drop, n);             \
        }                                                                                    \
        static C* concat(const C* a, const C* b, uint64_t axis) {                            \
            return detail::call(dalo_array_##L##_concat, a, b, axis);                        \
        }                                                                                    \
        static const char* str(const C* a) { return detail::call(dalo_array_##L##_str, a); } \
        static K get(const C* a, uint64_t i) { return FROM_C; }                              \
        static void set(C* a, uint64_t i, ELEM_IN v) {                                       \
            detail::call(dalo_array_##L##_set, a, i, TO_C);                                  \
        }                                                                                    \
        static dalo_expr* sum(const C* a) { return detail::call(dalo_array_##L##_sum, a); }  \
        static dalo_array_expr* vector_sum(const C* a, uint32_t axis) {                      \
            return detail::call(dalo_array_##L##_vector_sum, a, axis);                       \
        }                                                                                    \
        static dalo_array_expr* negate(const C* a) {                                         \
            return detail::call(dalo_array_##L##_negate, a);                                 \
        }                                                                                    \
        static constexpr uint32_t einsum_tag = TAG;                                          \
    };

DALO_FE_ARRAY_KIND(Var, var, DALO_EINSUM_VAR, Var, v.id(),
                   Var(detail::call(dalo_array_var_get, a, i)))
DALO_FE_ARRAY_KIND(int64_t, int, DALO_EINSUM_INT, int64_t, v,
                   detail::call(dalo_array_int_get, a, i, nullptr))
DALO_FE_ARRAY_KIND(Term, term, DALO_EINSUM_TERM, const Term&, v.get(),
                   Term::adopt(detail::call(dalo_array_term_get, a, i)))
DALO_FE_ARRAY_KIND(Expr, expr, DALO_EINSUM_EXPR, const Expr&, v.get(),
                   Expr::adopt(detail::call(dalo_array_expr_get, a, i)))
#undef DALO_FE_ARRAY_KIND

inline std::string shape_text(const Shape& s) {
    std::string out = "(";
    for (size_t k = 0; k < s.size(); ++k) {
        if (k > 0) out += ",";
        out += std::to_string(s[k]);
    }
    return out + ")";
}

}  // namespace detail

// An n-dimensional array of variables, integers (32-bit), terms or expressions. Copies are
// deep; every selection copies.
template <class K>
class Array {
    using Kind = detail::ArrayKind<K>;
    using C = typename Kind::C;

  public:
    // An array of the shape with zero elements (identifier 0, 0, the term 0, the
    // expression 0).
    explicit Array(const Shape& shape = {}) : a_(Kind::create(shape.data(), shape.size())) {}
    // Takes ownership of an array handle.
    static Array adopt(C* a) {
        if (a == nullptr) throw error(std::string("dalo::Array<") + Kind::name + ">: no array");
        Array out(Adopt{}, a);
        return out;
    }
    Array(const Array& o) : a_(Kind::clone(o.a_)) {}
    Array(Array&& o) noexcept : a_(std::exchange(o.a_, nullptr)) {}
    Array& operator=(const Array& o) {
        if (this != &o) reset(Kind::clone(o.a_));
        return *this;
    }
    Array& operator=(Array&& o) noexcept {
        if (this != &o) reset(std::exchange(o.a_, nullptr));
        return *this;
    }
    ~Array() { reset(nullptr); }

    const C* get() const { return a_; }
    C* get() { return a_; }

    uint64_t size() const { return Kind::size(a_); }
    uint64_t ndim() const { return Kind::ndim(a_); }
    Shape shape() const {
        const uint64_t* s = Kind::shape(a_);
        return Shape(s, s + ndim());
    }
    // Element at a flat (row-major) index or at a full index.
    K at(uint64_t flat) const { return Kind::get(a_, check_flat(flat)); }
    K operator()(std::initializer_list<uint64_t> index) const { return at(flat_of(index)); }
    template <class V>
    void set(uint64_t flat, const V& v) {
        Kind::set(a_, check_flat(flat), v);
    }
    template <class V>
    void set(std::initializer_list<uint64_t> index, const V& v) {
        Kind::set(a_, flat_of(index), v);
    }
    // The slice [i] along the first axis.
    Array operator[](uint64_t i) const {
        if (ndim() == 0 || i >= shape()[0]) {
            throw std::out_of_range("dalo::Array[]: index " + std::to_string(i) +
                                    " outside shape " + detail::shape_text(shape()));
        }
        return adopt(Kind::subarray(a_, i));
    }
    // Elements start[d] .. stop[d] - 1 on each axis (all axes given).
    Array slice(const Shape& start, const Shape& stop) const {
        if (start.size() != ndim() || stop.size() != ndim()) {
            throw error("dalo::Array::slice: one start and one stop per axis");
        }
        std::vector<uint8_t> drop(ndim(), 0);
        return adopt(Kind::view(a_, start.data(), stop.data(), drop.data(), ndim()));
    }
    Array concat(const Array& b, uint64_t axis) const {
        return adopt(Kind::concat(a_, b.a_, axis));
    }
    std::string str() const { return Kind::str(a_); }

    // The sum of all elements, and the sums along one axis.
    Expr sum() const { return Expr::adopt(Kind::sum(a_)); }
    Array<Expr> sum(uint32_t axis) const {
        if (axis >= ndim()) {
            throw std::out_of_range("dalo::Array::sum: axis " + std::to_string(axis) +
                                    " outside shape " + detail::shape_text(shape()));
        }
        return Array<Expr>::adopt(Kind::vector_sum(a_, axis));
    }
    Array<Expr> operator-() const { return Array<Expr>::adopt(Kind::negate(a_)); }

    // Element-wise transforms of expression arrays.
    Array simplify() const requires std::is_same_v<K, Expr> {
        return adopt(detail::call(dalo_array_expr_simplify, a_));
    }
    Array simplify_as_binary() const requires std::is_same_v<K, Expr> {
        return adopt(detail::call(dalo_array_expr_simplify_as_binary, a_));
    }
    Array simplify_as_spin() const requires std::is_same_v<K, Expr> {
        return adopt(detail::call(dalo_array_expr_simplify_as_spin, a_));
    }
    Array reduce() const requires std::is_same_v<K, Expr> {
        return adopt(detail::call(dalo_array_expr_reduce, a_));
    }
    Array sqr() const requires std::is_same_v<K, Expr> {
        return adopt(detail::call(dalo_array_expr_sqr, a_));
    }
    Array replace(
        const std::vector<std::pair<Var, Expr>>& pairs) const requires std::is_same_v<K, Expr> {
        std::vector<dalo_var> vars;
        std::vector<const dalo_expr*> repl;
        for (const auto& [v, e] : pairs) {
            vars.push_back(v.id());
            repl.push_back(e.get());
        }
        return adopt(
            detail::call(dalo_array_expr_replace, a_, vars.data(), repl.data(), vars.size()));
    }
    // The literals with each variable negated.
    Array operator~() const requires std::is_same_v<K, Var> {
        return adopt(detail::call(dalo_array_var_invert, a_));
    }

  private:
    struct Adopt {};
    Array(Adopt, C* a) : a_(a) {}
    void reset(C* a) {
        if (a_ != nullptr) Kind::destroy(a_);
        a_ = a;
    }
    uint64_t check_flat(uint64_t flat) const {
        if (flat >= size()) {
            throw std::out_of_range("dalo::Array: flat index " + std::to_string(flat) +
                                    " outside size " + std::to_string(size()));
        }
        return flat;
    }
    uint64_t flat_of(std::initializer_list<uint64_t> index) const {
        const Shape s = shape();
        if (index.size() != s.size()) {
            throw error("dalo::Array: " + std::to_string(index.size()) + " indices for shape " +
                        detail::shape_text(s));
        }
        uint64_t flat = 0, k = 0;
        for (uint64_t i : index) {
            if (i >= s[k]) {
                throw std::out_of_range("dalo::Array: index " + std::to_string(i) + " on axis " +
                                        std::to_string(k) + " outside shape " +
                                        detail::shape_text(s));
            }
            flat = flat * s[k++] + i;
        }
        return flat;
    }
    C* a_;
};

template <class K>
std::ostream& operator<<(std::ostream& os, const Array<K>& a) {
    return os << a.str();
}

// New variables name[i][j]... of the shape.
inline VarArray var(const std::string& name, const Shape& shape) {
    return VarArray::adopt(
        detail::call(dalo_array_var_create_named, name.c_str(), shape.data(), shape.size()));
}
// New integer variables over [lo, hi] of the shape.
inline VarArray int_var(const std::string& name, const Shape& shape, int64_t lo, int64_t hi) {
    const dalo_var first =
        detail::call(dalo_new_int_var_array, name.c_str(), shape.data(), shape.size(), lo, hi);
    VarArray out(shape);
    for (uint64_t i = 0; i < out.size(); ++i) out.set(i, Var(first + static_cast<dalo_var>(i)));
    return out;
}
// An integer array from values in row-major order.
inline IntArray ints(const std::vector<int32_t>& values, const Shape& shape) {
    uint64_t n = 1;
    for (uint64_t e : shape) n *= e;
    if (n != values.size()) {
        throw error("dalo::ints: " + std::to_string(values.size()) + " values for shape " +
                    detail::shape_text(shape));
    }
    return IntArray::adopt(
        detail::call(dalo_array_int_create_data, values.data(), shape.data(), shape.size()));
}

namespace detail {

inline VarArray wrap(dalo_array_var* a) { return VarArray::adopt(a); }
inline IntArray wrap(dalo_array_int* a) { return IntArray::adopt(a); }
inline TermArray wrap(dalo_array_term* a) { return TermArray::adopt(a); }
inline ExprArray wrap(dalo_array_expr* a) { return ExprArray::adopt(a); }

}  // namespace detail

// Element-wise operators: scalar and array right operands of every kind; two arrays must
// have the same shape (no broadcasting), else dalo::error.
namespace detail {
using arr_var = VarArray;
using arr_int = IntArray;
using arr_term = TermArray;
using arr_expr = ExprArray;
}  // namespace detail

#define DALO_FE_SCALAR(L, OP, NAME)                                                          \
    inline auto operator OP(const detail::arr_##L& a, int64_t b) {                           \
        return detail::wrap(detail::call(dalo_array_##L##_##NAME##_int, a.get(), b));        \
    }                                                                                        \
    inline auto operator OP(const detail::arr_##L& a, Var b) {                               \
        return detail::wrap(detail::call(dalo_array_##L##_##NAME##_var, a.get(), b.id()));   \
    }                                                                                        \
    inline auto operator OP(const detail::arr_##L& a, const Term& b) {                       \
        return detail::wrap(detail::call(dalo_array_##L##_##NAME##_term, a.get(), b.get())); \
    }                                                                                        \
    inline auto operator OP(const detail::arr_##L& a, const Expr& b) {                       \
        return detail::wrap(detail::call(dalo_array_##L##_##NAME##_expr, a.get(), b.get())); \
    }
#define DALO_FE_PAIR(L, R, OP, NAME)                                                              \
    inline auto operator OP(const detail::arr_##L& a, const detail::arr_##R& b) {                 \
        return detail::wrap(detail::call(dalo_array_##L##_##NAME##_array_##R, a.get(), b.get())); \
    }
// clang-format off
#define DALO_FE_LEFT(L)                                                               \
    DALO_FE_SCALAR(L, +, add)                                                         \
    DALO_FE_SCALAR(L, -, sub)                                                         \
    DALO_FE_SCALAR(L, *, mul)                                                         \
    DALO_FE_PAIR(L, var, +, add)                                                 \
    DALO_FE_PAIR(L, int, +, add)                                                 \
    DALO_FE_PAIR(L, term, +, add)                                                \
    DALO_FE_PAIR(L, expr, +, add)                                                \
    DALO_FE_PAIR(L, var, -, sub)                                                 \
    DALO_FE_PAIR(L, int, -, sub)                                                 \
    DALO_FE_PAIR(L, term, -, sub)                                                \
    DALO_FE_PAIR(L, expr, -, sub)                                                \
    DALO_FE_PAIR(L, var, *, mul)                                                 \
    DALO_FE_PAIR(L, int, *, mul)                                                 \
    DALO_FE_PAIR(L, term, *, mul)                                                \
    DALO_FE_PAIR(L, expr, *, mul)
// clang-format on
DALO_FE_LEFT(var)
DALO_FE_LEFT(int)
DALO_FE_LEFT(term)
DALO_FE_LEFT(expr)
#undef DALO_FE_LEFT
#undef DALO_FE_PAIR
#undef DALO_FE_SCALAR

// An integer on the left: the same as on the right (sums and integer products commute).
template <class K>
auto operator+(int64_t k, const Array<K>& a) {
    return a + k;
}
template <class K>
auto operator*(int64_t k, const Array<K>& a) {
    return a * k;
}

// In place: expression arrays take every operand; integer arrays integers; term arrays
// integer factors.
#define DALO_FE_INPLACE(OP, NAME)                                               \
    inline ExprArray& operator OP(ExprArray& a, int64_t b) {                    \
        detail::call(dalo_array_expr_##NAME##_eq_int, a.get(), b);              \
        return a;                                                               \
    }                                                                           \
    inline ExprArray& operator OP(ExprArray& a, Var b) {                        \
        detail::call(dalo_array_expr_##NAME##_eq_var, a.get(), b.id());         \
        return a;                                                               \
    }                                                                           \
    inline ExprArray& operator OP(ExprArray& a, const Term& b) {                \
        detail::call(dalo_array_expr_##NAME##_eq_term, a.get(), b.get());       \
        return a;                                                               \
    }                                                                           \
    inline ExprArray& operator OP(ExprArray& a, const Expr& b) {                \
        detail::call(dalo_array_expr_##NAME##_eq_expr, a.get(), b.get());       \
        return a;                                                               \
    }                                                                           \
    inline ExprArray& operator OP(ExprArray& a, const VarArray& b) {            \
        detail::call(dalo_array_expr_##NAME##_eq_array_var, a.get(), b.get());  \
        return a;                                                               \
    }                                                                           \
    inline ExprArray& operator OP(ExprArray& a, const IntArray& b) {            \
        detail::call(dalo_array_expr_##NAME##_eq_array_int, a.get(), b.get());  \
        return a;                                                               \
    }                                                                           \
    inline ExprArray& operator OP(ExprArray& a, const TermArray& b) {           \
        detail::call(dalo_array_expr_##NAME##_eq_array_term, a.get(), b.get()); \
        return a;                                                               \
    }                                                                           \
    inline ExprArray& operator OP(ExprArray& a, const ExprArray& b) {           \
        detail::call(dalo_array_expr_##NAME##_eq_array_expr, a.get(), b.get()); \
        return a;                                                               \
    }                                                                           \
    inline IntArray& operator OP(IntArray& a, int64_t b) {                      \
        detail::call(dalo_array_int_##NAME##_eq_int, a.get(), b);               \
        return a;                                                               \
    }                                                                           \
    inline IntArray& operator OP(IntArray& a, const IntArray& b) {              \
        detail::call(dalo_array_int_##NAME##_eq_array_int, a.get(), b.get());   \
        return a;                                                               \
    }
DALO_FE_INPLACE(+=, add)
DALO_FE_INPLACE(-=, sub)
DALO_FE_INPLACE(*=, mul)
#undef DALO_FE_INPLACE
inline TermArray& operator*=(TermArray& a, int64_t k) {
    detail::call(dalo_array_term_mul_eq_int, a.get(), k);
    return a;
}
// Division: integers truncate (and give 0 for k = 0); terms and expressions must divide
// exactly.
inline ExprArray& operator/=(ExprArray& a, int64_t k) {
    detail::call(dalo_array_expr_div_eq_int, a.get(), k);
    return a;
}
inline IntArray& operator/=(IntArray& a, int64_t k) {
    detail::call(dalo_array_int_div_eq_int, a.get(), k);
    return a;
}
inline TermArray& operator/=(TermArray& a, int64_t k) {
    detail::call(dalo_array_term_div_eq_int, a.get(), k);
    return a;
}
inline ExprArray operator/(const ExprArray& a, int64_t k) {
    return ExprArray::adopt(detail::call(dalo_array_expr_div_int, a.get(), k));
}
inline TermArray operator/(const TermArray& a, int64_t k) {
    return TermArray::adopt(detail::call(dalo_array_term_div_int, a.get(), k));
}
inline IntArray operator/(IntArray a, int64_t k) { return std::move(a /= k); }

// Classic constraints, element by element: a == k, a >= k, a <= k and lo <= a <= hi build
// constraint expressions whose penalties vanish exactly where they hold.
#define DALO_FE_COMPARE(L)                                                                       \
    inline ExprArray operator==(const detail::arr_##L& a, int64_t k) {                           \
        return ExprArray::adopt(detail::call(dalo_array_##L##_eq_int, a.get(), k));              \
    }                                                                                            \
    inline ExprArray operator>=(const detail::arr_##L& a, int64_t k) {                           \
        return ExprArray::adopt(detail::call(dalo_array_##L##_ge_int, a.get(), k));              \
    }                                                                                            \
    inline ExprArray operator<=(const detail::arr_##L& a, int64_t k) {                           \
        return ExprArray::adopt(detail::call(dalo_array_##L##_le_int, a.get(), k));              \
    }                                                                                            \
    inline ExprArray operator>=(const detail::arr_##L& a, const IntArray& k) {                   \
        return ExprArray::adopt(detail::call(dalo_array_##L##_ge_array_int, a.get(), k.get()));  \
    }                                                                                            \
    inline ExprArray operator<=(const detail::arr_##L& a, const IntArray& k) {                   \
        return ExprArray::adopt(detail::call(dalo_array_##L##_le_array_int, a.get(), k.get()));  \
    }                                                                                            \
    inline ExprArray between(const detail::arr_##L& a, int64_t lo, int64_t hi) {                 \
        return ExprArray::adopt(detail::call(dalo_array_##L##_between, a.get(), lo, hi));        \
    }                                                                                            \
    inline ExprArray between(const detail::arr_##L& a, const IntArray& lo, const IntArray& hi) { \
        return ExprArray::adopt(                                                                 \
            detail::call(dalo_array_##L##_between_array_int, a.get(), lo.get(), hi.get()));      \
    }
DALO_FE_COMPARE(var)
DALO_FE_COMPARE(int)
DALO_FE_COMPARE(term)
DALO_FE_COMPARE(expr)
#undef DALO_FE_COMPARE
#define DALO_FE_EQ_ARRAY(L)                                                                     \
    inline ExprArray operator==(const detail::arr_##L& a, const IntArray& k) {                  \
        return ExprArray::adopt(detail::call(dalo_array_##L##_eq_array_int, a.get(), k.get())); \
    }
DALO_FE_EQ_ARRAY(var)
DALO_FE_EQ_ARRAY(term)
DALO_FE_EQ_ARRAY(expr)
#undef DALO_FE_EQ_ARRAY

// Einstein summation, for example einsum<2>("ij,jk->ik", a, b); N is the number of output
// axes. Integer inputs alone give an integer array, anything else an expression array.
template <size_t N, class... Ks>
auto einsum(const std::string& subscript, const Array<Ks>&... inputs) {
    static_assert(sizeof...(Ks) >= 1, "einsum<N>() needs at least one input");
    constexpr bool all_int = (std::is_same_v<Ks, int64_t> && ...);
    const uint32_t tags[] = {detail::ArrayKind<Ks>::einsum_tag...};
    const void* handles[] = {static_cast<const void*>(inputs.get())...};
    void* r = detail::call(dalo_einsum, subscript.c_str(), static_cast<int32_t>(sizeof...(Ks)),
                           tags, handles, all_int ? 0u : 1u, N);
    if constexpr (all_int) {
        return IntArray::adopt(static_cast<dalo_array_int*>(r));
    } else {
        return ExprArray::adopt(static_cast<dalo_array_expr*>(r));
    }
}

// x^T Q x over binary variables x (x_i x_i = x_i), written straight into terms: the
// diagonal gives the linear terms, each pair i < j the coefficient Q[i][j] + Q[j][i]. Entry
// (i, j) of the x.size()-square matrix is q[i * row_stride + j * col_stride]; wrapped, when
// given, receives how many coefficients did not fit in 32 bits (they wrap).
inline Expr quadratic(const VarArray& x, const int64_t* q, int64_t row_stride, int64_t col_stride,
                      uint64_t* wrapped = nullptr) {
    return Expr::adopt(detail::call(dalo_expr_create_quadratic_i64,
                                    detail::call(dalo_array_var_data, x.get()), x.size(), q,
                                    row_stride, col_stride, wrapped));
}
inline Expr quadratic(const VarArray& x, const int32_t* q, int64_t row_stride, int64_t col_stride,
                      uint64_t* wrapped = nullptr) {
    return Expr::adopt(detail::call(dalo_expr_create_quadratic_i32,
                                    detail::call(dalo_array_var_data, x.get()), x.size(), q,
                                    row_stride, col_stride, wrapped));
}
// The same from row-major values; std::invalid_argument when q is not x.size() squared or
// a coefficient does not fit in 32 bits.
inline Expr quadratic(const VarArray& x, const std::vector<int64_t>& q) {
    const uint64_t n = x.size();
    if (q.size() != n * n) {
        throw error("dalo::quadratic: " + std::to_string(q.size()) + " values for " +
                    std::to_string(n) + " variables");
    }
    uint64_t wrapped = 0;
    Expr e = quadratic(x, q.data(), static_cast<int64_t>(n), 1, &wrapped);
    if (wrapped != 0) {
        throw error("dalo::quadratic: " + std::to_string(wrapped) +
                    " coefficients do not fit in 32 bits");
    }
    return e;
}

// ---- bit-encoded integers ---------------------------------------------------------------

// A bounded integer lo + c0*b0 + c1*b1 + ... over new binary variables, remembered by the
// library so that solutions decode back into the integer. Arithmetic on it gives a plain
// expression.
class VarInt : public Expr {
  public:
    VarInt(const std::string& name, int64_t lo, int64_t hi)
        : Expr(adopt(detail::call(dalo_varintelem_create, name.c_str(), lo, hi))) {}
    // Element i of a VarInt array.
    static VarInt of(Expr e) { return VarInt(std::move(e)); }

    int64_t min() const { return detail::call(dalo_varintelem_min, get(), nullptr); }
    int64_t max() const { return detail::call(dalo_varintelem_max, get(), nullptr); }
    std::vector<Var> bits() const {
        std::vector<Var> out;
        for (uint64_t i = 0; i < detail::call(dalo_varintelem_var_count, get()); ++i) {
            out.emplace_back(detail::call(dalo_varintelem_var, get(), i));
        }
        return out;
    }
    std::vector<int64_t> coeffs() const {
        std::vector<int64_t> out;
        for (uint64_t i = 0; i < detail::call(dalo_varintelem_var_count, get()); ++i) {
            out.push_back(detail::call(dalo_varintelem_coeff, get(), i, nullptr));
        }
        return out;
    }
    // The bit values that encode value.
    std::vector<std::pair<Var, int>> encode(int64_t value) const {
        const uint64_t n = detail::call(dalo_varintelem_var_count, get());
        std::vector<dalo_var> vars(n);
        std::vector<uint64_t> bits(n);
        detail::call(dalo_varintelem_decompose, get(), value, vars.data(), bits.data());
        std::vector<std::pair<Var, int>> out;
        for (uint64_t i = 0; i < n; ++i) out.emplace_back(Var(vars[i]), static_cast<int>(bits[i]));
        return out;
    }
    // The integer that a Sol's bits encode.
    int64_t value(const Sol& s) const;

  private:
    explicit VarInt(Expr e) : Expr(std::move(e)) {}
};

// An array of VarInts over one range.
inline ExprArray varint(const std::string& name, const Shape& shape, int64_t lo, int64_t hi) {
    return ExprArray::adopt(detail::call(dalo_array_varint_create_uniform, name.c_str(),
                                         shape.data(), shape.size(), lo, hi));
}

// ---- models and solutions ---------------------------------------------------------------

namespace detail {
inline dalo_model* clone_model(const dalo_model* m) { return dalo_model_clone(m); }
inline dalo_sol* clone_sol(const dalo_sol* s) { return dalo_sol_clone(s); }
}  // namespace detail

// A compiled, immutable Model of a binary-simplified expression. Copies share it.
class Model {
  public:
    explicit Model(const Expr& e) : h_(detail::call(dalo_model_create, e.get())) {}
    // Takes e over: its memory goes back while the Model is written; e is left without a
    // handle, as any moved-from Expr.
    explicit Model(Expr&& e) : h_(detail::call(dalo_model_create_take, e.release())) {}
    Model(const Expr& e, double scale)
        : h_(detail::call(dalo_model_create_scaled, e.get(), scale)) {}
    // The Model of e.simplify_as_binary(), e left as it is; a quadratic form goes from the
    // simplification straight to the Model's arrays.
    static Model simplified(const Expr& e) {
        return Model(detail::call(dalo_model_create_simplified, e.get()));
    }
    // Shares a Model handle (the caller keeps its own).
    static Model share(const dalo_model* m) { return Model(dalo_model_clone(m)); }
    // The Model of quadratic(x, q, ...) simplified as binary; over ascending binary
    // identifiers it is written from the matrix without term records.
    static Model quadratic(const VarArray& x, const int64_t* q, int64_t row_stride,
                           int64_t col_stride, uint64_t* wrapped = nullptr) {
        return Model(detail::call(dalo_model_create_quadratic_i64,
                                  detail::call(dalo_array_var_data, x.get()), x.size(), q,
                                  row_stride, col_stride, wrapped));
    }
    static Model quadratic(const VarArray& x, const int32_t* q, int64_t row_stride,
                           int64_t col_stride, uint64_t* wrapped = nullptr) {
        return Model(detail::call(dalo_model_create_quadratic_i32,
                                  detail::call(dalo_array_var_data, x.get()), x.size(), q,
                                  row_stride, col_stride, wrapped));
    }

    // The Model of sum_k w[k] x[i[k]] x[j[k]] (w[k] x[i[k]] where i[k] == j[k]) simplified
    // as binary, from count entries with positions into x.
    static Model quadratic(const VarArray& x, const int64_t* i, const int64_t* j, const int64_t* w,
                           uint64_t count, uint64_t* wrapped = nullptr) {
        return Model(detail::call(dalo_model_create_quadratic_coo,
                                  detail::call(dalo_array_var_data, x.get()), x.size(), i, j, w,
                                  count, wrapped));
    }
    // The same plus sum_u linear[u] x[u], linear holding x.size() coefficients.
    static Model quadratic(const VarArray& x, const int64_t* linear, const int64_t* i,
                           const int64_t* j, const int64_t* w, uint64_t count,
                           uint64_t* wrapped = nullptr) {
        return Model(detail::call(dalo_model_create_quadratic_vectors,
                                  detail::call(dalo_array_var_data, x.get()), x.size(), linear, i,
                                  j, w, count, wrapped));
    }

    // The Model's bytes (see dalo_model_serialize), and the Model of such bytes over newly
    // registered variables; refused bytes throw dalo::error with the reason.
    std::vector<uint8_t> serialize() const {
        uint64_t size = 0;
        uint8_t* p = detail::call(dalo_model_serialize, get(), &size);
        std::vector<uint8_t> bytes(p, p + size);
        std::free(p);
        return bytes;
    }
    static Model deserialize(const uint8_t* data, uint64_t size) {
        return Model(detail::call(dalo_model_deserialize, data, size));
    }

    const dalo_model* get() const { return h_.get(); }

    uint32_t var_count() const { return detail::call(dalo_model_var_count, get()); }
    Var var(uint32_t index) const { return Var(detail::call(dalo_model_var, get(), index)); }
    bool has(Var v) const { return detail::call(dalo_model_has, get(), v.id()) != 0; }
    int64_t constant() const { return detail::call(dalo_model_constant, get(), nullptr); }
    uint32_t max_degree() const { return detail::call(dalo_model_max_degree, get()); }
    uint64_t term_count(uint32_t d) const { return detail::call(dalo_model_term_count, get(), d); }
    uint64_t int_var_count() const { return detail::call(dalo_model_int_var_count, get()); }
    uint64_t native_cons_count() const { return detail::call(dalo_model_native_cons_count, get()); }
    bool has_remainder() const { return detail::call(dalo_model_has_remainder, get()) != 0; }

  private:
    explicit Model(dalo_model* m) : h_(m) {}
    detail::Owned<dalo_model, detail::clone_model, dalo_model_destroy> h_;
};

// One assignment over a Model's variables, with a cached energy.
class Sol {
  public:
    // All bits 0, integer variables at their lower bounds.
    explicit Sol(const Model& m) : h_(detail::call(dalo_sol_create, m.get())) {}
    // A Sol over a private Model of e (constraints are not attached).
    static Sol of(const Expr& e) { return adopt(detail::call(dalo_sol_create_from_expr, e.get())); }
    static Sol adopt(dalo_sol* s) {
        Sol out(Adopt{}, s);
        return out;
    }

    const dalo_sol* get() const { return h_.get(); }
    dalo_sol* get() { return h_.get(); }

    Model model() const { return Model::share(detail::call(dalo_sol_model, get())); }
    // Whether the variable (binary or integer) belongs to the Sol's Model.
    bool has(Var v) const {
        if (!v.is_int()) return detail::call(dalo_sol_has, get(), v.id()) != 0;
        const dalo_model* m = detail::call(dalo_sol_model, get());
        for (uint64_t k = 0; k < detail::call(dalo_model_int_var_count, m); ++k) {
            if ((detail::call(dalo_model_int_var_orig, m, k) | DALO_INT_BIT) == v.id()) return true;
        }
        return false;
    }
    // Value of a binary variable or literal, or of an integer variable.
    int64_t operator[](Var v) const { return get_value(v); }
    int64_t get_value(Var v) const {
        return v.is_int() ? detail::call(dalo_sol_get_int, get(), v.id(), nullptr)
                          : detail::call(dalo_sol_get, get(), v.id());
    }
    void set(Var v, int64_t value) {
        if (v.is_int()) {
            detail::call(dalo_sol_set_int, get(), v.id(), value);
        } else {
            detail::call(dalo_sol_set, get(), v.id(), value != 0 ? 1u : 0u);
        }
    }
    void flip(Var v) { detail::call(dalo_sol_flip, get(), v.id()); }
    // The values of an array of variables (0 for one outside the Model).
    IntArray values(const VarArray& vars) const {
        return IntArray::adopt(detail::call(dalo_array_int_from_sol, get(), vars.get()));
    }

    // The cached energy; a change since the last computation makes it invalid, and reading
    // it then is fatal: call comp_energy().
    int64_t energy() const { return detail::call(dalo_sol_energy, get(), nullptr); }
    bool energy_valid() const { return detail::call(dalo_sol_energy_valid, get()) != 0; }
    int64_t comp_energy() { return detail::call(dalo_sol_compute_energy, get(), nullptr); }
    double tts() const { return detail::call(dalo_sol_tts, get()); }
    // Value of e under this assignment (declared-constraint penalties included).
    int64_t eval(const Expr& e) const {
        return detail::call(dalo_sol_eval_expr, get(), e.get(), nullptr);
    }
    std::string str() const { return detail::call(dalo_sol_str, get()); }

  private:
    struct Adopt {};
    Sol(Adopt, dalo_sol* s) : h_(s) {}
    detail::Owned<dalo_sol, detail::clone_sol, dalo_sol_destroy> h_;
};

inline int64_t VarInt::value(const Sol& s) const {
    int64_t v = min();
    const std::vector<Var> b = bits();
    const std::vector<int64_t> c = coeffs();
    for (size_t i = 0; i < b.size(); ++i) {
        if (s.has(b[i]) && s[b[i]] != 0) v += c[i];
    }
    return v;
}

inline uint64_t Expr::violations(const Sol& sol) const {
    return detail::call(dalo_cons_violation_count, get(), sol.get());
}

inline std::ostream& operator<<(std::ostream& os, const Sol& s) { return os << s.str(); }

// ---- solvers ----------------------------------------------------------------------------

// Search parameters; unset fields keep the solver's defaults.
struct SearchOptions {
    std::optional<double> time_limit = {};  // seconds
    std::optional<uint64_t> seed = {};      // with one thread, the same seed gives the same result
    std::optional<uint32_t> threads = {};   // default: all cores
    std::optional<int64_t> target_energy = {};      // stop once reached
    std::optional<uint64_t> topk = {};              // the k best distinct solutions
    std::optional<uint64_t> best_energy_sols = {};  // all distinct solutions of the best energy
    bool progress = false;                          // a line per new best on standard output
    // Called with a copy of each new best (event 1) and on the timer (event 2); the return
    // value sets the timer interval in seconds (0 off, negative: unchanged). KELPSolver only.
    std::function<double(const Sol&, uint32_t)> callback = {};
    // Further plug-in parameters as (key, value) text pairs.
    std::vector<std::pair<std::string, std::string>> extra = {};
};

namespace detail {

// The (key, value) text pairs of the options, kept alive with the pointer array.
class Params {
  public:
    explicit Params(const SearchOptions& o) {
        auto put = [&](const char* key, std::string value) {
            text_.emplace_back(key, std::move(value));
        };
        if (o.time_limit) put("time_limit", to_text(*o.time_limit));
        if (o.seed) put("seed", std::to_string(*o.seed));
        if (o.threads) put("threads", std::to_string(*o.threads));
        if (o.target_energy) put("target_energy", std::to_string(*o.target_energy));
        if (o.topk) put("topk_sols", std::to_string(*o.topk));
        if (o.best_energy_sols) put("best_energy_sols", std::to_string(*o.best_energy_sols));
        if (o.progress) put("enable_default_callback", "1");
        for (const auto& [k, v] : o.extra) text_.emplace_back(k, v);
        for (const auto& [k, v] : text_) pairs_.push_back({k.c_str(), v.c_str()});
        pairs_.push_back({nullptr, nullptr});
    }
    const dalo_param* get() const { return pairs_.data(); }

  private:
    static std::string to_text(double seconds) {
        if (!(seconds >= 0)) throw error("dalo: time_limit must be >= 0");
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.17g", seconds);
        return buffer;
    }
    std::vector<std::pair<std::string, std::string>> text_;
    std::vector<dalo_param> pairs_;
};

}  // namespace detail

// The outcome of a search: the best energy, its time to solution, its assignment, the top-k
// list and the solver's information pairs.
class Result {
  public:
    Result(dalo_solver_result* r, Model m) : r_(r), model_(std::move(m)) {}
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    Result(Result&& o) noexcept
        : r_(std::exchange(o.r_, nullptr)),
          model_(std::move(o.model_)),
          best_(std::move(o.best_)),
          topk_(std::move(o.topk_)) {}
    Result& operator=(Result&& o) noexcept {
        if (this != &o) {
            destroy();
            r_ = std::exchange(o.r_, nullptr);
            model_ = std::move(o.model_);
            best_ = std::move(o.best_);
            topk_ = std::move(o.topk_);
        }
        return *this;
    }
    ~Result() { destroy(); }

    int64_t energy() const { return detail::call(dalo_brisk_solver_result_energy, r_, nullptr); }
    double tts() const { return detail::call(dalo_brisk_solver_result_tts, r_); }
    // The best assignment as a Sol (energy valid).
    const Sol& sol() {
        if (!best_)
            best_ = Sol::adopt(detail::call(dalo_brisk_solver_result_to_sol, r_, model_.get()));
        return *best_;
    }
    uint64_t topk_count() const { return detail::call(dalo_brisk_solver_result_topk_count, r_); }
    int64_t topk_energy(uint64_t i) const {
        return detail::call(dalo_brisk_solver_result_topk_energy, r_, i, nullptr);
    }
    const Sol& topk_sol(uint64_t i) {
        if (topk_.size() < topk_count()) topk_.resize(topk_count());
        if (!topk_.at(i))
            topk_[i] =
                Sol::adopt(detail::call(dalo_brisk_solver_result_topk_to_sol, r_, i, model_.get()));
        return *topk_[i];
    }
    std::vector<std::pair<std::string, std::string>> info() const {
        std::vector<std::pair<std::string, std::string>> out;
        for (uint64_t i = 0; i < detail::call(dalo_brisk_solver_result_info_count, r_); ++i) {
            out.emplace_back(detail::call(dalo_brisk_solver_result_info_key, r_, i),
                             detail::call(dalo_brisk_solver_result_info_value, r_, i));
        }
        return out;
    }
    // The value of an information key, or "" when absent.
    std::string info(const std::string& key) const {
        for (const auto& [k, v] : info()) {
            if (k == key) return v;
        }
        return "";
    }
    const Model& model() const { return model_; }

  private:
    void destroy() {
        if (r_ != nullptr) dalo_brisk_solver_result_destroy(r_);
        r_ = nullptr;
    }
    dalo_solver_result* r_;
    Model model_;
    std::optional<Sol> best_;
    std::vector<std::optional<Sol>> topk_;
};

// Packs a Sol's assignment for the integer search entry points.
namespace detail {
struct IntHint {
    std::vector<uint64_t> bits;
    std::vector<int64_t> ints;
    explicit IntHint(const Sol& s) {
        const uint64_t words = (detail::call(dalo_sol_var_count, s.get()) + 63) / 64;
        const uint64_t* b = detail::call(dalo_sol_bits, s.get());
        bits.assign(b, b + words);
        const int64_t* v = detail::call(dalo_sol_int_vals, s.get());
        ints.assign(v, v + detail::call(dalo_sol_int_count, s.get()));
    }
};
}  // namespace detail

// The fast heuristic solver.
class BriskSolver {
  public:
    explicit BriskSolver(const Model& m)
        : model_(m), w_(detail::call(dalo_brisk_solver_wrapper_create, m.get())) {}
    BriskSolver(const BriskSolver&) = delete;
    BriskSolver& operator=(const BriskSolver&) = delete;
    ~BriskSolver() { dalo_brisk_solver_wrapper_destroy(w_); }

    Result search(const SearchOptions& o = {}) {
        if (o.callback) throw error("dalo::BriskSolver: callbacks need KELPSolver");
        detail::Params p(o);
        return Result(detail::call(dalo_brisk_solver_wrapper_search, w_, p.get(), nullptr), model_);
    }
    // A search that starts from the assignment of hint.
    Result search(const SearchOptions& o, const Sol& hint) {
        detail::Params p(o);
        if (model_.int_var_count() > 0) {
            detail::IntHint h(hint);
            return Result(detail::call(dalo_brisk_solver_wrapper_search_int, w_, p.get(),
                                       h.bits.data(), h.ints.data(), h.ints.size()),
                          model_);
        }
        return Result(detail::call(dalo_brisk_solver_wrapper_search, w_, p.get(),
                                   detail::call(dalo_sol_bits, hint.get())),
                      model_);
    }

  private:
    Model model_;
    dalo_brisk_solver_wrapper* w_;
};

// Exact minimisation by enumeration (small Models).
class SweepSolver {
  public:
    explicit SweepSolver(const Model& m)
        : model_(m), w_(detail::call(dalo_sweep_wrapper_create, m.get())) {}
    SweepSolver(const SweepSolver&) = delete;
    SweepSolver& operator=(const SweepSolver&) = delete;
    ~SweepSolver() { dalo_sweep_wrapper_destroy(w_); }

    Result search(const SearchOptions& o = {}) {
        if (o.callback) throw error("dalo::SweepSolver: callbacks need KELPSolver");
        detail::Params p(o);
        return Result(detail::call(dalo_sweep_wrapper_search, w_, p.get()), model_);
    }

  private:
    Model model_;
    dalo_sweep_wrapper* w_;
};

// The CPU/GPU solver: gpu_mode > 0 requires a GPU, 0 takes one when present, < 0 any device.
class KelpSolver {
  public:
    explicit KelpSolver(const Model& m, int32_t gpu_mode = 0)
        : model_(m), w_(detail::call(dalo_kelp_wrapper_create, m.get(), gpu_mode)) {}
    KelpSolver(const KelpSolver&) = delete;
    KelpSolver& operator=(const KelpSolver&) = delete;
    ~KelpSolver() { dalo_kelp_wrapper_destroy(w_); }

    Result search(const SearchOptions& o = {}) {
        install(o);
        detail::Params p(o);
        return Result(detail::call(dalo_kelp_wrapper_search, w_, p.get(), nullptr), model_);
    }
    Result search(const SearchOptions& o, const Sol& hint) {
        install(o);
        detail::Params p(o);
        if (model_.int_var_count() > 0) {
            detail::IntHint h(hint);
            return Result(detail::call(dalo_kelp_wrapper_search_int, w_, p.get(), h.bits.data(),
                                       h.ints.data(), h.ints.size()),
                          model_);
        }
        return Result(detail::call(dalo_kelp_wrapper_search, w_, p.get(),
                                   detail::call(dalo_sol_bits, hint.get())),
                      model_);
    }
    // A start assignment for the next or running search.
    void hint(const Sol& s) { detail::call(dalo_kelp_wrapper_hint, w_, s.get()); }
    // Asks a running search to stop soon; safe from another thread.
    void terminate() { detail::call(dalo_kelp_wrapper_terminate, w_); }

  private:
    static double forward(void* context, dalo_sol* sol, uint32_t event) {
        auto* self = static_cast<KelpSolver*>(context);
        Sol s = Sol::adopt(sol);
        return self->callback_ ? self->callback_(s, event) : -1.0;
    }
    void install(const SearchOptions& o) {
        callback_ = o.callback;
        detail::call(dalo_kelp_wrapper_set_callback, w_, callback_ ? &KelpSolver::forward : nullptr,
                     callback_ ? this : nullptr);
    }
    Model model_;
    dalo_kelp_wrapper* w_;
    std::function<double(const Sol&, uint32_t)> callback_;
};

// Facts about this build and machine: "version", "cpu_name", "cpu_threads", "total_ram",
// "hostname", "compilation_date".
inline std::string const_str(const std::string& key) {
    return detail::call(dalo_const_str, key.c_str());
}

}  // namespace dalo

#endif  // DALO_HPP

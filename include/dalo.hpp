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
 * Misuse that the library treats as fatal (see dalo.h) ends the process with one "dalo: "
 * line on standard error; the front end checks what it can before calling, and throws
 * std::invalid_argument for those cases (shape mismatches of arrays, bad bounds, unknown
 * search options). Expressions are not simplified behind your back: call simplify(),
 * simplify_as_binary() or simplify_as_spin() when you want the canonical form, and compile
 * a binary-simplified expression into a Model.
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
#include <utility>
#include <vector>

#include "dalo.h"

namespace dalo {

class Term;
class Expr;
class Model;
class Sol;

namespace detail {

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
    std::string name() const { return dalo_var_str(id_); }
    // Bounds of an integer variable.
    std::pair<int64_t, int64_t> bounds() const {
        int64_t lo = 0, hi = 0;
        dalo_int_var_bounds(id_, &lo, &hi);
        return {lo, hi};
    }

    friend bool operator==(Var a, Var b) { return a.id_ == b.id_; }
    friend bool operator!=(Var a, Var b) { return a.id_ != b.id_; }
    friend bool operator<(Var a, Var b) { return a.id_ < b.id_; }

  private:
    dalo_var id_ = DALO_NO_VAR;
};

// A new binary variable; an empty name asks for an automatic one ("{n}").
inline Var var(const std::string& name = "") { return Var(dalo_new_var(name.c_str())); }
// A new integer variable over [lo, hi] (lo < hi).
inline Var int_var(const std::string& name, int64_t lo, int64_t hi) {
    if (!(lo < hi)) throw std::invalid_argument("dalo::int_var: bounds must satisfy lo < hi");
    return Var(dalo_new_int_var(name.c_str(), lo, hi));
}

inline std::ostream& operator<<(std::ostream& os, Var v) { return os << dalo_var_str(v.id()); }

// ---- terms ------------------------------------------------------------------------------

// A coefficient times a product of variables (kept in the order multiplied).
class Term {
  public:
    Term() : h_(dalo_term_create(1)) {}
    Term(int64_t coeff) : h_(dalo_term_create(coeff)) {}  // NOLINT: a constant term
    Term(Var v) : h_(dalo_term_create_var(1, v.id())) {}  // NOLINT: 1 * v
    Term(int64_t coeff, Var v) : h_(dalo_term_create_var(coeff, v.id())) {}
    Term(int64_t coeff, Var a, Var b) : h_(dalo_term_create_var_var(coeff, a.id(), b.id())) {}
    // Takes ownership of a term handle.
    static Term adopt(dalo_term* t) {
        Term out(Adopt{}, t);
        return out;
    }

    const dalo_term* get() const { return h_.get(); }
    dalo_term* get() { return h_.get(); }
    dalo_term* release() { return h_.release(); }

    int64_t coeff() const { return dalo_term_coeff(get(), nullptr); }
    uint64_t degree() const { return dalo_term_degree(get()); }
    Var var(uint64_t i) const { return Var(dalo_term_var_at(get(), i)); }
    std::vector<Var> vars() const {
        std::vector<Var> out;
        for (uint64_t i = 0; i < degree(); ++i) out.push_back(var(i));
        return out;
    }
    std::string str() const { return dalo_term_str(get()); }

    Term& operator*=(Var v) {
        dalo_term_mul_var(get(), v.id());
        return *this;
    }
    Term& operator*=(int64_t k) {
        dalo_term_mul_coeff(get(), k);
        return *this;
    }
    Term& operator*=(const Term& t) {
        dalo_term_mul_term_move(get(), t.get());
        return *this;
    }
    Term& operator/=(int64_t k) {
        dalo_term_div_coeff(get(), k);
        return *this;
    }
    Term operator-() const {
        Term out(*this);
        dalo_term_negate(out.get());
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
    return Term::adopt(dalo_term_mul_term(a.get(), b.get()));
}
inline Term operator/(Term t, int64_t k) { return std::move(t /= k); }

inline std::ostream& operator<<(std::ostream& os, const Term& t) { return os << t.str(); }

// ---- expressions ------------------------------------------------------------------------

// A constant plus a sequence of terms, possibly carrying constraints.
class Expr {
  public:
    Expr() : h_(dalo_expr_create()) {}
    Expr(int64_t c) : h_(dalo_expr_create_int(c)) {}   // NOLINT: a constant
    Expr(int c) : h_(dalo_expr_create_int(c)) {}       // NOLINT: a constant
    Expr(Var v) : h_(dalo_expr_create_var(v.id())) {}  // NOLINT: 1 * v
    Expr(const Term& t)
        : h_(dalo_expr_create_term(const_cast<dalo_term*>(t.get()), 0)) {}  // NOLINT
    Expr(Term&& t) : h_(dalo_expr_create_term(t.release(), 1)) {}           // NOLINT
    // Takes ownership of an expression handle.
    static Expr adopt(dalo_expr* e) {
        Expr out(Adopt{}, e);
        return out;
    }

    const dalo_expr* get() const { return h_.get(); }
    dalo_expr* get() { return h_.get(); }
    dalo_expr* release() { return h_.release(); }

    // ---- queries
    int64_t constant() const { return dalo_expr_constant(get(), nullptr); }
    uint32_t attr() const { return dalo_expr_attr(get()); }
    uint64_t term_count() const { return dalo_expr_term_count(get()); }
    Term term(uint64_t i) const {
        return Term::adopt(dalo_term_clone(dalo_expr_term_at(get(), i)));
    }
    uint64_t max_degree() const { return dalo_expr_max_degree(get()); }
    bool has(Var v) const { return dalo_expr_has(get(), v.id()) != 0; }
    bool has_int_var() const { return dalo_expr_has_int_atom(get()) != 0; }
    int64_t gcd() const { return dalo_expr_gcd(get(), nullptr); }
    // Highest and lowest values the expression can reach.
    int64_t pos_sum() const { return dalo_expr_pos_sum(get(), nullptr); }
    int64_t neg_sum() const { return dalo_expr_neg_sum(get(), nullptr); }
    std::string str() const { return dalo_expr_str(get()); }

    // ---- in-place arithmetic
    Expr& operator+=(int64_t c) {
        dalo_expr_iadd_int(get(), c);
        return *this;
    }
    Expr& operator-=(int64_t c) {
        dalo_expr_isub_int(get(), c);
        return *this;
    }
    Expr& operator+=(Var v) {
        dalo_expr_iadd_var(get(), v.id());
        return *this;
    }
    Expr& operator-=(Var v) {
        dalo_expr_isub_var(get(), v.id());
        return *this;
    }
    Expr& operator+=(const Term& t) {
        dalo_expr_iadd_term(get(), t.get());
        return *this;
    }
    Expr& operator-=(const Term& t) {
        dalo_expr_isub_term(get(), t.get());
        return *this;
    }
    Expr& operator+=(const Expr& e) {
        dalo_expr_iadd_expr(get(), e.get());
        return *this;
    }
    Expr& operator-=(const Expr& e) {
        dalo_expr_isub_expr(get(), e.get());
        return *this;
    }
    Expr& operator*=(int64_t k) {
        dalo_expr_imul_int(get(), k);
        return *this;
    }
    Expr& operator*=(Var v) {
        dalo_expr_imul_var(get(), v.id());
        return *this;
    }
    Expr& operator*=(const Expr& e) {
        dalo_expr_imul_expr(get(), e.get());
        return *this;
    }
    Expr& operator/=(int64_t k) {
        dalo_expr_idiv_int(get(), k);
        return *this;
    }
    Expr operator-() const {
        Expr out(*this);
        dalo_expr_negate(out.get());
        return out;
    }
    Expr sqr() const { return adopt(dalo_expr_sqr(get())); }

    // ---- transforms (each returns a new expression)
    Expr simplify() const { return adopt(dalo_expr_simplify(get())); }
    Expr simplify_as_binary() const { return adopt(dalo_expr_simplify_as_binary(get())); }
    Expr simplify_as_spin() const { return adopt(dalo_expr_simplify_as_spin(get())); }
    // 2^D times the expression over spins s = 2x - 1 (D its largest degree).
    Expr to_spin() const { return adopt(dalo_expr_binary_to_spin(get())); }
    Expr to_binary() const { return adopt(dalo_expr_spin_to_binary(get())); }
    // Quadratic form with auxiliary variables whose minimum equals this expression.
    Expr reduce() const { return adopt(dalo_expr_reduce(get())); }
    // Integer variables replaced by their binary encodings.
    Expr binarize() const { return adopt(dalo_expr_binarize(get())); }
    // Every variable of the pairs replaced by its expression.
    Expr replace(const std::vector<std::pair<Var, Expr>>& pairs) const {
        std::vector<dalo_var> vars;
        std::vector<const dalo_expr*> repl;
        for (const auto& [v, e] : pairs) {
            vars.push_back(v.id());
            repl.push_back(e.get());
        }
        return adopt(dalo_expr_replace(get(), vars.data(), repl.data(), vars.size()));
    }
    // Value with the given variable values (every variable of the expression needed).
    int64_t eval(const std::vector<std::pair<Var, int64_t>>& values) const {
        std::vector<dalo_var> vars;
        std::vector<int64_t> vals;
        for (const auto& [v, x] : values) {
            vars.push_back(v.id());
            vals.push_back(x);
        }
        return dalo_expr_eval_map(get(), vars.data(), vals.data(), vars.size(), nullptr);
    }

    // ---- constraints
    bool is_declared() const { return dalo_expr_is_declared(get()) != 0; }
    bool has_body() const { return dalo_expr_has_body(get()) != 0; }
    // The constrained body of a single constraint.
    Expr body() const { return adopt(dalo_expr_clone(dalo_exprexprelem_get_body(get()))); }
    // Number of constraints that sol violates.
    uint64_t violations(const Sol& sol) const;

  private:
    struct Adopt {};
    Expr(Adopt, dalo_expr* e) : h_(e) {}
    detail::Owned<dalo_expr, detail::clone_expr, dalo_expr_destroy> h_;
};

// Sums and differences keep the left operand's terms first. Products use the dedicated C
// functions where one exists.
inline Expr operator+(Var a, Var b) {
    return Expr::adopt(dalo_expr_create_add_var_var(a.id(), b.id()));
}
inline Expr operator+(Var v, int64_t c) {
    return Expr::adopt(dalo_expr_create_add_var_int(v.id(), c));
}
inline Expr operator+(int64_t c, Var v) {
    return Expr::adopt(dalo_expr_create_add_var_int(v.id(), c));
}
inline Expr operator-(Var v, int64_t c) {
    return Expr::adopt(dalo_expr_create_add_var_int(v.id(), -c));
}
inline Expr operator-(int64_t c, Var v) {
    return Expr::adopt(dalo_expr_create_sub_int_var(c, v.id()));
}
inline Expr operator-(Var a, Var b) {
    Expr out(a);
    return std::move(out -= b);
}
inline Expr operator+(const Term& a, const Term& b) {
    return Expr::adopt(dalo_expr_create_add_term_term(a.get(), b.get()));
}
inline Expr operator-(const Term& a, const Term& b) {
    return Expr::adopt(dalo_expr_create_sub_term_term(a.get(), b.get()));
}
inline Expr operator+(const Term& t, Var v) {
    return Expr::adopt(dalo_expr_create_add_term_var(t.get(), v.id()));
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
    return Expr::adopt(dalo_expr_create_add_term_int(t.get(), c));
}
inline Expr operator+(int64_t c, const Term& t) {
    return Expr::adopt(dalo_expr_create_add_term_int(t.get(), c));
}
inline Expr operator-(const Term& t, int64_t c) {
    return Expr::adopt(dalo_expr_create_add_term_int(t.get(), -c));
}
inline Expr operator-(int64_t c, const Term& t) {
    return Expr::adopt(dalo_expr_create_sub_int_term(c, t.get()));
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
    return Expr::adopt(dalo_cons_between(body.get(), lo, hi));
}
// Declared constraint: body takes one of the allowed values.
inline Expr cons(const Expr& body, const equal& allowed) {
    if (allowed.intervals.empty()) {
        throw std::invalid_argument("dalo::cons(body, equal=...): the allowed set is empty");
    }
    std::vector<int64_t> lo, hi;
    for (const auto& [a, b] : allowed.intervals) {
        lo.push_back(a);
        hi.push_back(b);
    }
    return Expr::adopt(dalo_cons_equal(body.get(), lo.data(), hi.data(), lo.size()));
}
// Declares the constraints of e; a plain e becomes the requirement e = 0 (a free-form
// penalty that solvers keep at 0).
inline Expr cons(const Expr& e) { return Expr::adopt(dalo_cons_mark(e.get())); }
// Objective-only penalties |body|^k and max(body, 0)^k, k in {1, 2}.
inline Expr abs(const Expr& body, int k = 1) {
    if (k != 1 && k != 2) throw std::invalid_argument("dalo::abs/relu: exponent must be 1 or 2");
    return Expr::adopt(dalo_abs_term(body.get(), k));
}
inline Expr relu(const Expr& body, int k = 1) {
    if (k != 1 && k != 2) throw std::invalid_argument("dalo::abs/relu: exponent must be 1 or 2");
    return Expr::adopt(dalo_relu_term(body.get(), k));
}
// Classic range penalty: a polynomial whose minimum over its slack variables is 0 exactly
// when lo <= f <= hi.
inline Expr between(const Expr& f, int64_t lo, int64_t hi) {
    return Expr::adopt(dalo_between(f.get(), lo, hi));
}

// ---- models and solutions ---------------------------------------------------------------

namespace detail {
inline dalo_model* clone_model(const dalo_model* m) { return dalo_model_clone(m); }
inline dalo_sol* clone_sol(const dalo_sol* s) { return dalo_sol_clone(s); }
}  // namespace detail

// A compiled, immutable Model of a binary-simplified expression. Copies share it.
class Model {
  public:
    explicit Model(const Expr& e) : h_(dalo_model_create(e.get())) {}
    Model(const Expr& e, double scale) : h_(dalo_model_create_scaled(e.get(), scale)) {}
    // Shares a Model handle (the caller keeps its own).
    static Model share(const dalo_model* m) { return Model(dalo_model_clone(m)); }

    const dalo_model* get() const { return h_.get(); }

    uint32_t var_count() const { return dalo_model_var_count(get()); }
    Var var(uint32_t index) const { return Var(dalo_model_var(get(), index)); }
    bool has(Var v) const { return dalo_model_has(get(), v.id()) != 0; }
    int64_t constant() const { return dalo_model_constant(get(), nullptr); }
    uint32_t max_degree() const { return dalo_model_max_degree(get()); }
    uint64_t term_count(uint32_t d) const { return dalo_model_term_count(get(), d); }
    uint64_t int_var_count() const { return dalo_model_int_var_count(get()); }
    uint64_t native_cons_count() const { return dalo_model_native_cons_count(get()); }
    bool has_remainder() const { return dalo_model_has_remainder(get()) != 0; }

  private:
    explicit Model(dalo_model* m) : h_(m) {}
    detail::Owned<dalo_model, detail::clone_model, dalo_model_destroy> h_;
};

// One assignment over a Model's variables, with a cached energy.
class Sol {
  public:
    // All bits 0, integer variables at their lower bounds.
    explicit Sol(const Model& m) : h_(dalo_sol_create(m.get())) {}
    // A Sol over a private Model of e (constraints are not attached).
    static Sol of(const Expr& e) { return adopt(dalo_sol_create_from_expr(e.get())); }
    static Sol adopt(dalo_sol* s) {
        Sol out(Adopt{}, s);
        return out;
    }

    const dalo_sol* get() const { return h_.get(); }
    dalo_sol* get() { return h_.get(); }

    Model model() const { return Model::share(dalo_sol_model(get())); }
    bool has(Var v) const { return dalo_sol_has(get(), v.id()) != 0; }
    // Value of a binary variable or literal, or of an integer variable.
    int64_t operator[](Var v) const { return get_value(v); }
    int64_t get_value(Var v) const {
        return v.is_int() ? dalo_sol_get_int(get(), v.id(), nullptr) : dalo_sol_get(get(), v.id());
    }
    void set(Var v, int64_t value) {
        if (v.is_int()) {
            dalo_sol_set_int(get(), v.id(), value);
        } else {
            dalo_sol_set(get(), v.id(), value != 0 ? 1u : 0u);
        }
    }
    void flip(Var v) { dalo_sol_flip(get(), v.id()); }

    // The cached energy; a change since the last computation makes it invalid, and reading
    // it then is fatal: call comp_energy().
    int64_t energy() const { return dalo_sol_energy(get(), nullptr); }
    bool energy_valid() const { return dalo_sol_energy_valid(get()) != 0; }
    int64_t comp_energy() { return dalo_sol_compute_energy(get(), nullptr); }
    double tts() const { return dalo_sol_tts(get()); }
    // Value of e under this assignment (declared-constraint penalties included).
    int64_t eval(const Expr& e) const { return dalo_sol_eval_expr(get(), e.get(), nullptr); }
    std::string str() const { return dalo_sol_str(get()); }

  private:
    struct Adopt {};
    Sol(Adopt, dalo_sol* s) : h_(s) {}
    detail::Owned<dalo_sol, detail::clone_sol, dalo_sol_destroy> h_;
};

inline uint64_t Expr::violations(const Sol& sol) const {
    return dalo_cons_violation_count(get(), sol.get());
}

inline std::ostream& operator<<(std::ostream& os, const Sol& s) { return os << s.str(); }

// ---- solvers ----------------------------------------------------------------------------

// Search parameters; unset fields keep the solver's defaults.
struct SearchOptions {
    std::optional<double> time_limit;      // seconds
    std::optional<uint64_t> seed;          // with one thread, the same seed gives the same result
    std::optional<uint32_t> threads;       // default: all cores
    std::optional<int64_t> target_energy;  // stop once reached
    std::optional<uint64_t> topk;          // the k best distinct solutions
    std::optional<uint64_t> best_energy_sols;  // all distinct solutions of the best energy
    bool progress = false;                     // a line per new best on standard output
    // Called with a copy of each new best (event 1) and on the timer (event 2); the return
    // value sets the timer interval in seconds (0 off, negative: unchanged). KELPSolver only.
    std::function<double(const Sol&, uint32_t)> callback;
    // Further plug-in parameters as (key, value) text pairs.
    std::vector<std::pair<std::string, std::string>> extra;
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
        if (!(seconds >= 0)) throw std::invalid_argument("dalo: time_limit must be >= 0");
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

    int64_t energy() const { return dalo_brisk_solver_result_energy(r_, nullptr); }
    double tts() const { return dalo_brisk_solver_result_tts(r_); }
    // The best assignment as a Sol (energy valid).
    const Sol& sol() {
        if (!best_) best_ = Sol::adopt(dalo_brisk_solver_result_to_sol(r_, model_.get()));
        return *best_;
    }
    uint64_t topk_count() const { return dalo_brisk_solver_result_topk_count(r_); }
    int64_t topk_energy(uint64_t i) const {
        return dalo_brisk_solver_result_topk_energy(r_, i, nullptr);
    }
    const Sol& topk_sol(uint64_t i) {
        if (topk_.size() < topk_count()) topk_.resize(topk_count());
        if (!topk_.at(i))
            topk_[i] = Sol::adopt(dalo_brisk_solver_result_topk_to_sol(r_, i, model_.get()));
        return *topk_[i];
    }
    std::vector<std::pair<std::string, std::string>> info() const {
        std::vector<std::pair<std::string, std::string>> out;
        for (uint64_t i = 0; i < dalo_brisk_solver_result_info_count(r_); ++i) {
            out.emplace_back(dalo_brisk_solver_result_info_key(r_, i),
                             dalo_brisk_solver_result_info_value(r_, i));
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
        const uint64_t words = (dalo_sol_var_count(s.get()) + 63) / 64;
        const uint64_t* b = dalo_sol_bits(s.get());
        bits.assign(b, b + words);
        const int64_t* v = dalo_sol_int_vals(s.get());
        ints.assign(v, v + dalo_sol_int_count(s.get()));
    }
};
}  // namespace detail

// The fast heuristic solver.
class BriskSolver {
  public:
    explicit BriskSolver(const Model& m)
        : model_(m), w_(dalo_brisk_solver_wrapper_create(m.get())) {}
    BriskSolver(const BriskSolver&) = delete;
    BriskSolver& operator=(const BriskSolver&) = delete;
    ~BriskSolver() { dalo_brisk_solver_wrapper_destroy(w_); }

    Result search(const SearchOptions& o = {}) {
        if (o.callback) throw std::invalid_argument("dalo::BriskSolver: callbacks need KELPSolver");
        detail::Params p(o);
        return Result(dalo_brisk_solver_wrapper_search(w_, p.get(), nullptr), model_);
    }
    // A search that starts from the assignment of hint.
    Result search(const SearchOptions& o, const Sol& hint) {
        detail::Params p(o);
        if (model_.int_var_count() > 0) {
            detail::IntHint h(hint);
            return Result(dalo_brisk_solver_wrapper_search_int(w_, p.get(), h.bits.data(),
                                                               h.ints.data(), h.ints.size()),
                          model_);
        }
        return Result(dalo_brisk_solver_wrapper_search(w_, p.get(), dalo_sol_bits(hint.get())),
                      model_);
    }

  private:
    Model model_;
    dalo_brisk_solver_wrapper* w_;
};

// Exact minimisation by enumeration (small Models).
class SweepSolver {
  public:
    explicit SweepSolver(const Model& m) : model_(m), w_(dalo_sweep_wrapper_create(m.get())) {}
    SweepSolver(const SweepSolver&) = delete;
    SweepSolver& operator=(const SweepSolver&) = delete;
    ~SweepSolver() { dalo_sweep_wrapper_destroy(w_); }

    Result search(const SearchOptions& o = {}) {
        if (o.callback) throw std::invalid_argument("dalo::SweepSolver: callbacks need KELPSolver");
        detail::Params p(o);
        return Result(dalo_sweep_wrapper_search(w_, p.get()), model_);
    }

  private:
    Model model_;
    dalo_sweep_wrapper* w_;
};

// The CPU/GPU solver: gpu_mode > 0 requires a GPU, 0 takes one when present, < 0 any device.
class KelpSolver {
  public:
    explicit KelpSolver(const Model& m, int32_t gpu_mode = 0)
        : model_(m), w_(dalo_kelp_wrapper_create(m.get(), gpu_mode)) {}
    KelpSolver(const KelpSolver&) = delete;
    KelpSolver& operator=(const KelpSolver&) = delete;
    ~KelpSolver() { dalo_kelp_wrapper_destroy(w_); }

    Result search(const SearchOptions& o = {}) {
        install(o);
        detail::Params p(o);
        return Result(dalo_kelp_wrapper_search(w_, p.get(), nullptr), model_);
    }
    Result search(const SearchOptions& o, const Sol& hint) {
        install(o);
        detail::Params p(o);
        if (model_.int_var_count() > 0) {
            detail::IntHint h(hint);
            return Result(dalo_kelp_wrapper_search_int(w_, p.get(), h.bits.data(), h.ints.data(),
                                                       h.ints.size()),
                          model_);
        }
        return Result(dalo_kelp_wrapper_search(w_, p.get(), dalo_sol_bits(hint.get())), model_);
    }
    // A start assignment for the next or running search.
    void hint(const Sol& s) { dalo_kelp_wrapper_hint(w_, s.get()); }
    // Asks a running search to stop soon; safe from another thread.
    void terminate() { dalo_kelp_wrapper_terminate(w_); }

  private:
    static double forward(void* context, dalo_sol* sol, uint32_t event) {
        auto* self = static_cast<KelpSolver*>(context);
        Sol s = Sol::adopt(sol);
        return self->callback_ ? self->callback_(s, event) : -1.0;
    }
    void install(const SearchOptions& o) {
        callback_ = o.callback;
        dalo_kelp_wrapper_set_callback(w_, callback_ ? &KelpSolver::forward : nullptr,
                                       callback_ ? this : nullptr);
    }
    Model model_;
    dalo_kelp_wrapper* w_;
    std::function<double(const Sol&, uint32_t)> callback_;
};

// Facts about this build and machine: "version", "cpu_name", "cpu_threads", "total_ram",
// "hostname", "compilation_date".
inline std::string const_str(const std::string& key) { return dalo_const_str(key.c_str()); }

}  // namespace dalo

#endif  // DALO_HPP

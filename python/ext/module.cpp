// dalo._core: the Python face of the C++ front end.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "dalo.hpp"
#include "quadratic.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

using dalo::Expr;
using dalo::Term;
using dalo::Var;

// ---- operands ---------------------------------------------------------------------------

bool is_int(nb::handle h);

// Any scalar operand as an expression: int, Var, Term or Expr.
Expr to_expr(nb::handle h) {
    if (nb::isinstance<Expr>(h)) return nb::cast<const Expr&>(h);
    if (nb::isinstance<Var>(h)) return Expr(nb::cast<Var>(h));
    if (nb::isinstance<Term>(h)) return Expr(nb::cast<const Term&>(h));
    if (nb::isinstance<nb::int_>(h) && !nb::isinstance<nb::bool_>(h)) {
        return Expr(nb::cast<int64_t>(h));
    }
    if (is_int(h)) return Expr(nb::cast<int64_t>(nb::int_(h)));
    throw nb::type_error(("dalo: cannot use a " + std::string(nb::type_name(h.type()).c_str()) +
                          " in an expression (int, Var, Term or Expr expected)")
                             .c_str());
}

// f(e) for the operand h as an Expr: the Expr itself when h holds one (no copy), else its
// conversion.
template <class F>
decltype(auto) with_expr(nb::handle h, F&& f) {
    if (nb::isinstance<Expr>(h)) return f(nb::cast<const Expr&>(h));
    return f(to_expr(h));
}

// A Python int or an integer scalar such as numpy.int64 (not a numpy array, which also has
// an index slot).
bool is_int(nb::handle h) {
    if (nb::isinstance<nb::bool_>(h)) return false;
    if (nb::isinstance<nb::int_>(h)) return true;
    if (nb::isinstance<Var>(h) || nb::isinstance<Term>(h) || nb::isinstance<Expr>(h)) return false;
    if (PyIndex_Check(h.ptr()) == 0) return false;
    return !nb::hasattr(h, "ndim") || nb::cast<int>(h.attr("ndim")) == 0;
}

int64_t as_int(nb::handle h) { return nb::cast<int64_t>(nb::int_(h)); }

Expr power(const Expr& base, int64_t k) {
    if (k < 0) throw dalo::error("dalo: ** needs a non-negative integer exponent");
    Expr out(1);
    Expr b = base;
    // Square-and-multiply keeps the expression sizes of the direct products.
    for (int64_t bit = 0; (int64_t{1} << bit) <= k; ++bit) {
        if ((k >> bit) & 1) out *= b;
        if ((int64_t{1} << (bit + 1)) <= k) b = b.sqr();
    }
    return out;
}

// x == k, x >= k and x <= k on one Var, Term or Expr: the array forms on a one-element
// array, so a scalar gets the same classic constraint ((x - k)^2 for ==) as an array element.
template <class Op>
nb::object compare(const Expr& e, nb::handle k, Op op) {
    if (!is_int(k)) return nb::borrow(Py_NotImplemented);
    dalo::ExprArray a(dalo::Shape{1});
    a.set(0, e);
    return nb::cast(op(a, as_int(k)).at(0));
}

template <class C>
void bind_compare(C& c) {
    c.def(
         "__eq__",
         [](nb::handle a, nb::handle k) {
             return compare(to_expr(a), k, [](const auto& x, int64_t v) { return x == v; });
         },
         nb::sig("def __eq__(self, k: object, /) -> Expr"))
        .def(
            "__ge__",
            [](nb::handle a, nb::handle k) {
                return compare(to_expr(a), k, [](const auto& x, int64_t v) { return x >= v; });
            },
            nb::sig("def __ge__(self, k: int, /) -> Expr"))
        .def(
            "__le__",
            [](nb::handle a, nb::handle k) {
                return compare(to_expr(a), k, [](const auto& x, int64_t v) { return x <= v; });
            },
            nb::sig("def __le__(self, k: int, /) -> Expr"));
    // Defining == takes the identity hash away; these values stay usable as keys.
    c.attr("__hash__") = nb::module_::import_("builtins").attr("object").attr("__hash__");
}

// ---- shapes and arrays ------------------------------------------------------------------

dalo::Shape shape_of(nb::handle shape) {
    dalo::Shape out;
    if (shape.is_none()) return out;
    if (is_int(shape)) {
        out.push_back(nb::cast<uint64_t>(nb::int_(shape)));
        return out;
    }
    for (nb::handle e : shape) {
        const int64_t v = as_int(e);
        if (v < 0) throw dalo::error("dalo: shape extents must be >= 0");
        out.push_back(static_cast<uint64_t>(v));
    }
    return out;
}

nb::tuple shape_tuple(const dalo::Shape& s) {
    nb::list l;
    for (uint64_t e : s) l.append(e);
    return nb::tuple(l);
}

// A flat index from an int or a tuple of ints (negative counts from the end).
template <class K>
uint64_t flat_index(const dalo::Array<K>& a, nb::handle key) {
    const dalo::Shape s = a.shape();
    std::vector<int64_t> idx;
    if (nb::isinstance<nb::tuple>(key)) {
        for (nb::handle e : key) idx.push_back(as_int(e));
    } else {
        idx.push_back(as_int(key));
    }
    if (idx.size() != s.size()) {
        throw nb::index_error(("dalo: " + std::to_string(idx.size()) + " indices for " +
                               std::to_string(s.size()) + " axes")
                                  .c_str());
    }
    uint64_t flat = 0;
    for (size_t k = 0; k < s.size(); ++k) {
        int64_t i = idx[k];
        if (i < 0) i += static_cast<int64_t>(s[k]);
        if (i < 0 || static_cast<uint64_t>(i) >= s[k]) {
            throw nb::index_error(("dalo: index " + std::to_string(idx[k]) +
                                   " out of range for axis " + std::to_string(k) + " of extent " +
                                   std::to_string(s[k]))
                                      .c_str());
        }
        flat = flat * s[k] + static_cast<uint64_t>(i);
    }
    return flat;
}

template <class K>
nb::object element_object(const dalo::Array<K>& a, uint64_t flat) {
    return nb::cast(a.at(flat));
}

template <class K>
nb::object get_item(const dalo::Array<K>& a, nb::handle key) {
    // a[i] on an array of several axes is the slice along the first axis.
    if (!nb::isinstance<nb::tuple>(key) && a.ndim() > 1) {
        int64_t i = as_int(key);
        const int64_t n = static_cast<int64_t>(a.shape()[0]);
        if (i < 0) i += n;
        if (i < 0 || i >= n) throw nb::index_error("dalo: index out of range");
        return nb::cast(a[static_cast<uint64_t>(i)]);
    }
    return element_object(a, flat_index(a, key));
}

dalo::IntArray ints_from(nb::handle values) {
    auto np = nb::module_::import_("numpy");
    nb::object arr = np.attr("ascontiguousarray")(values, "dtype"_a = "int64");
    auto view = nb::cast<nb::ndarray<const int64_t, nb::c_contig, nb::device::cpu>>(arr);
    dalo::Shape shape;
    uint64_t n = 1;
    for (size_t k = 0; k < view.ndim(); ++k) {
        shape.push_back(view.shape(k));
        n *= view.shape(k);
    }
    std::vector<int32_t> data(n);
    const int64_t* p = view.data();
    for (uint64_t i = 0; i < n; ++i) {
        if (p[i] > INT32_MAX || p[i] < INT32_MIN) {
            throw dalo::error("dalo: integer array values must fit in 32 bits");
        }
        data[i] = static_cast<int32_t>(p[i]);
    }
    return dalo::ints(data, shape);
}

nb::object to_numpy(const dalo::IntArray& a) {
    std::vector<int32_t> data(a.size());
    if (!data.empty()) dalo::detail::call(dalo_array_int_to_ints, a.get(), data.data());
    auto np = nb::module_::import_("numpy");
    nb::object flat = np.attr("array")(nb::cast(data), "dtype"_a = "int64");
    return flat.attr("reshape")(shape_tuple(a.shape()));
}

// Element-wise operators: the right operand may be a scalar of any kind or an array of any
// kind; the C++ front end checks shapes.
template <class K, class Op>
nb::object array_op(const dalo::Array<K>& a, nb::handle b, Op op) {
    if (nb::isinstance<dalo::VarArray>(b))
        return nb::cast(op(a, nb::cast<const dalo::VarArray&>(b)));
    if (nb::isinstance<dalo::IntArray>(b))
        return nb::cast(op(a, nb::cast<const dalo::IntArray&>(b)));
    if (nb::isinstance<dalo::TermArray>(b))
        return nb::cast(op(a, nb::cast<const dalo::TermArray&>(b)));
    if (nb::isinstance<dalo::ExprArray>(b))
        return nb::cast(op(a, nb::cast<const dalo::ExprArray&>(b)));
    if (nb::isinstance<Var>(b)) return nb::cast(op(a, nb::cast<Var>(b)));
    if (nb::isinstance<Term>(b)) return nb::cast(op(a, nb::cast<const Term&>(b)));
    if (nb::isinstance<Expr>(b)) return nb::cast(op(a, nb::cast<const Expr&>(b)));
    if (is_int(b)) return nb::cast(op(a, as_int(b)));
    // numpy arrays of integers act as integer arrays.
    return nb::cast(op(a, ints_from(b)));
}

template <class K>
nb::class_<dalo::Array<K>> bind_array(nb::module_& m, const char* name) {
    using A = dalo::Array<K>;
    nb::class_<A> c(m, name);
    c.def_prop_ro("shape", [](const A& a) { return shape_tuple(a.shape()); })
        .def_prop_ro("ndim", &A::ndim)
        .def_prop_ro("size", &A::size)
        .def("__len__", [](const A& a) { return a.ndim() == 0 ? 1 : a.shape()[0]; })
        .def("__getitem__", &get_item<K>)
        .def("__str__", &A::str)
        .def("__repr__", [name](const A& a) { return std::string(name) + "(" + a.str() + ")"; })
        .def(
            "sum",
            [](const A& a, std::optional<int64_t> axis) -> nb::object {
                if (!axis) return nb::cast(a.sum());
                int64_t ax = *axis;
                if (ax < 0) ax += static_cast<int64_t>(a.ndim());
                if (ax < 0 || ax >= static_cast<int64_t>(a.ndim())) {
                    throw nb::index_error("dalo: axis out of range");
                }
                return nb::cast(a.sum(static_cast<uint32_t>(ax)));
            },
            "axis"_a = nb::none())
        .def(
            "slice",
            [](const A& a, nb::handle start, nb::handle stop) {
                return a.slice(shape_of(start), shape_of(stop));
            },
            "start"_a, "stop"_a)
        .def(
            "concat",
            [](const A& a, const A& b, uint64_t axis) {
                if (axis >= a.ndim()) throw nb::index_error("dalo: axis out of range");
                return a.concat(b, axis);
            },
            "other"_a, "axis"_a = 0)
        .def("__neg__", [](const A& a) { return -a; })
        .def("__add__",
             [](const A& a, nb::handle b) {
                 return array_op(a, b, [](const auto& x, const auto& y) { return x + y; });
             })
        .def("__radd__",
             [](const A& a, nb::handle b) {
                 if (!is_int(b)) throw nb::type_error("dalo: unsupported left operand");
                 return nb::cast(a + as_int(b));
             })
        .def("__sub__",
             [](const A& a, nb::handle b) {
                 return array_op(a, b, [](const auto& x, const auto& y) { return x - y; });
             })
        .def("__mul__",
             [](const A& a, nb::handle b) {
                 return array_op(a, b, [](const auto& x, const auto& y) { return x * y; });
             })
        .def("__rmul__",
             [](const A& a, nb::handle b) {
                 if (!is_int(b)) throw nb::type_error("dalo: unsupported left operand");
                 return nb::cast(a * as_int(b));
             })
        .def("__eq__",
             [](const A& a, nb::handle k) -> nb::object {
                 if (is_int(k)) return nb::cast(a == as_int(k));
                 if constexpr (!std::is_same_v<K, int64_t>) return nb::cast(a == ints_from(k));
                 throw nb::type_error("dalo: == on an integer array takes an int");
             })
        .def("__ge__",
             [](const A& a, nb::handle k) -> nb::object {
                 if (is_int(k)) return nb::cast(a >= as_int(k));
                 return nb::cast(a >= ints_from(k));
             })
        .def("__le__",
             [](const A& a, nb::handle k) -> nb::object {
                 if (is_int(k)) return nb::cast(a <= as_int(k));
                 return nb::cast(a <= ints_from(k));
             })
        .def("between", [](const A& a, nb::handle lo, nb::handle hi) -> nb::object {
            if (is_int(lo) && is_int(hi)) return nb::cast(dalo::between(a, as_int(lo), as_int(hi)));
            return nb::cast(dalo::between(a, ints_from(lo), ints_from(hi)));
        });
    c.attr("__hash__") = nb::none();
    return c;
}

// ---- solvers ----------------------------------------------------------------------------

struct Options {
    std::optional<double> time_limit;
    std::optional<uint64_t> seed;
    std::optional<int64_t> threads;
    std::optional<int64_t> topk;
    std::optional<int64_t> target;
    std::optional<int64_t> best_energy_sols;
    bool progress = false;
};

dalo::SearchOptions search_options(const Options& o) {
    dalo::SearchOptions so;
    if (o.time_limit) {
        if (!(*o.time_limit >= 0)) throw dalo::error("dalo: time_limit must be >= 0");
        so.time_limit = o.time_limit;
    }
    so.seed = o.seed;
    if (o.threads) {
        if (*o.threads < 1) throw dalo::error("dalo: threads must be >= 1");
        so.threads = static_cast<uint32_t>(*o.threads);
    }
    if (o.topk) {
        if (*o.topk < 1) throw dalo::error("dalo: topk must be >= 1");
        so.topk = static_cast<uint64_t>(*o.topk);
    }
    so.target_energy = o.target;
    if (o.best_energy_sols) {
        if (*o.best_energy_sols < 0) throw dalo::error("dalo: best_energy_sols must be >= 0");
        so.best_energy_sols = static_cast<uint64_t>(*o.best_energy_sols);
    }
    so.progress = o.progress;
    return so;
}

// A finished search, with its Sols taken out while the result is alive.
struct PyResult {
    int64_t energy;
    double tts;
    dalo::Sol sol;
    std::vector<std::pair<int64_t, dalo::Sol>> topk;
    nb::dict info;
};

PyResult finish(dalo::Result&& r) {
    PyResult out{r.energy(), r.tts(), r.sol(), {}, nb::dict()};
    for (uint64_t k = 0; k < r.topk_count(); ++k)
        out.topk.emplace_back(r.topk_energy(k), r.topk_sol(k));
    for (const auto& [key, value] : r.info()) out.info[key.c_str()] = value;
    return out;
}

template <class Solver>
PyResult run_search(Solver& solver, const Options& o, const dalo::Sol* hint) {
    const dalo::SearchOptions so = search_options(o);
    std::optional<dalo::Result> r;
    {
        nb::gil_scoped_release release;
        if constexpr (std::is_same_v<Solver, dalo::SweepSolver>) {
            r.emplace(solver.search(so));
        } else {
            r.emplace(hint != nullptr ? solver.search(so, *hint) : solver.search(so));
        }
    }
    return finish(std::move(*r));
}

#define DALO_PY_OPTIONS                                                                \
    "time_limit"_a = nb::none(), "seed"_a = nb::none(), "threads"_a = nb::none(),      \
    "topk"_a = nb::none(), "target"_a = nb::none(), "best_energy_sols"_a = nb::none(), \
    "progress"_a = false

// The KELPSolver with a Python callback: called with the GIL held; an exception it raises (or
// a return value that is not a number) is kept and raised again after the search, which goes
// on meanwhile.
struct PyKelp {
    dalo::KelpSolver solver;
    PyKelp(const dalo::Model& m, int32_t mode) : solver(m, mode) {}
};

}  // namespace

NB_MODULE(_core, m) {
    m.doc() = "dalo: modelling and solving polynomial optimisation problems over binary variables";

    // Misuse, the library's and this module's own checks, reaches Python as dalo.Error.
    nb::exception<dalo::error> error(m, "Error", PyExc_ValueError);
    error.attr("__doc__") =
        "Misuse found by dalo: the text is the library's message (\"dalo: ...\"); the objects "
        "involved are unchanged.";

    nb::class_<Var>(m, "Var")
        .def_prop_ro("id", &Var::id)
        .def_prop_ro("name", &Var::name)
        .def_prop_ro("is_int", &Var::is_int)
        .def_prop_ro("is_negated", &Var::is_negated)
        .def("bounds", &Var::bounds)
        .def("__invert__", &Var::operator~)
        .def("__eq__",
             [](Var a, nb::handle b) -> nb::object {
                 if (is_int(b))
                     return compare(Expr(a), b, [](const auto& x, int64_t v) { return x == v; });
                 return nb::bool_(nb::isinstance<Var>(b) && nb::cast<Var>(b) == a);
             })
        .def("__ge__",
             [](Var a, nb::handle k) {
                 return compare(Expr(a), k, [](const auto& x, int64_t v) { return x >= v; });
             })
        .def("__le__",
             [](Var a, nb::handle k) {
                 return compare(Expr(a), k, [](const auto& x, int64_t v) { return x <= v; });
             })
        .def("__hash__", [](Var a) { return a.id(); })
        .def("__str__", &Var::name)
        .def("__repr__", [](Var v) { return "Var(" + v.name() + ")"; })
        .def("__mul__", [](Var a, Var b) { return a * b; })
        .def("__mul__", [](Var a, int64_t k) { return a * k; })
        .def("__mul__", [](Var a, const Term& t) { return a * t; })
        .def("__mul__", [](Var a, nb::handle b) { return Expr(a) * to_expr(b); })
        .def("__rmul__", [](Var a, int64_t k) { return k * a; })
        .def("__neg__", [](Var a) { return -a; })
        .def("__add__", [](Var a, nb::handle b) { return Expr(a) + to_expr(b); })
        .def("__radd__", [](Var a, nb::handle b) { return to_expr(b) + Expr(a); })
        .def("__sub__", [](Var a, nb::handle b) { return Expr(a) - to_expr(b); })
        .def("__rsub__", [](Var a, nb::handle b) { return to_expr(b) - Expr(a); })
        .def("__pow__", [](Var a, int64_t k) { return power(Expr(a), k); });

    nb::class_<Term> term(m, "Term");
    bind_compare(term);
    term.def_prop_ro("coeff", &Term::coeff)
        .def_prop_ro("degree", &Term::degree)
        .def_prop_ro("vars", &Term::vars)
        .def("__str__", &Term::str)
        .def("__repr__", [](const Term& t) { return "Term(" + t.str() + ")"; })
        .def("__mul__", [](const Term& a, Var b) { return a * b; })
        .def("__mul__", [](const Term& a, int64_t k) { return a * k; })
        .def("__mul__", [](const Term& a, const Term& b) { return a * b; })
        .def("__mul__", [](const Term& a, nb::handle b) { return Expr(a) * to_expr(b); })
        .def("__rmul__", [](const Term& a, int64_t k) { return k * a; })
        .def("__neg__", [](const Term& a) { return -a; })
        .def("__add__", [](const Term& a, nb::handle b) { return Expr(a) + to_expr(b); })
        .def("__radd__", [](const Term& a, nb::handle b) { return to_expr(b) + Expr(a); })
        .def("__sub__", [](const Term& a, nb::handle b) { return Expr(a) - to_expr(b); })
        .def("__rsub__", [](const Term& a, nb::handle b) { return to_expr(b) - Expr(a); })
        .def("__pow__", [](const Term& a, int64_t k) { return power(Expr(a), k); });

    nb::class_<Expr> expr(m, "Expr");
    bind_compare(expr);
    expr.def(nb::init<>())
        .def("__init__", [](Expr* self, nb::handle h) { new (self) Expr(to_expr(h)); })
        .def_prop_ro("constant", &Expr::constant)
        .def_prop_ro("term_count", &Expr::term_count)
        .def_prop_ro("max_degree", &Expr::max_degree)
        .def("term", &Expr::term)
        .def("terms",
             [](const Expr& e) {
                 std::vector<Term> out;
                 for (uint64_t i = 0; i < e.term_count(); ++i) out.push_back(e.term(i));
                 return out;
             })
        .def("has", &Expr::has)
        .def("__str__", &Expr::str)
        .def("__repr__", [](const Expr& e) { return "Expr(" + e.str() + ")"; })
        .def("__add__",
             [](const Expr& a, nb::handle b) {
                 return with_expr(b, [&](const Expr& x) { return a + x; });
             })
        .def("__radd__", [](const Expr& a, nb::handle b) { return to_expr(b) + a; })
        .def(
            "__iadd__",
            [](Expr& a, nb::handle b) -> Expr& {
                return with_expr(b, [&](const Expr& x) -> Expr& { return a += x; });
            },
            nb::rv_policy::none)
        .def("__sub__",
             [](const Expr& a, nb::handle b) {
                 return with_expr(b, [&](const Expr& x) { return a - x; });
             })
        .def("__rsub__", [](const Expr& a, nb::handle b) { return to_expr(b) - a; })
        .def(
            "__isub__",
            [](Expr& a, nb::handle b) -> Expr& {
                return with_expr(b, [&](const Expr& x) -> Expr& { return a -= x; });
            },
            nb::rv_policy::none)
        .def("__mul__", [](const Expr& a, int64_t k) { return a * k; })
        .def("__mul__", [](const Expr& a, nb::handle b) { return a * to_expr(b); })
        .def("__rmul__", [](const Expr& a, int64_t k) { return k * a; })
        .def("__rmul__", [](const Expr& a, nb::handle b) { return to_expr(b) * a; })
        .def(
            "__imul__",
            [](Expr& a, nb::handle b) -> Expr& {
                if (is_int(b)) return a *= as_int(b);
                return a *= to_expr(b);
            },
            nb::rv_policy::none)
        .def("__floordiv__", [](const Expr& a, int64_t k) { return a / k; })
        .def("__truediv__", [](const Expr& a, int64_t k) { return a / k; })
        .def("__neg__", [](const Expr& a) { return -a; })
        .def("__pow__", &power)
        .def("sqr", &Expr::sqr)
        .def("simplify", &Expr::simplify)
        .def(
            "simplify_as_binary",
            [](nb::handle self, bool inplace) -> nb::object {
                Expr& e = nb::cast<Expr&>(self);
                if (!inplace) return nb::cast(e.simplify_as_binary());
                dalo::detail::call(dalo_expr_simplify_as_binary_inplace, e.get());
                return nb::borrow(self);
            },
            "inplace"_a = false,
            nb::sig("def simplify_as_binary(self, inplace: bool = False) -> Expr"),
            "The binary canonical form; with inplace=True this Expr becomes it (its own terms are\n"
            "rewritten, no copy) and is returned.")
        .def("simplify_as_spin", &Expr::simplify_as_spin)
        .def("to_spin", &Expr::to_spin)
        .def("to_binary", &Expr::to_binary)
        .def("reduce", &Expr::reduce)
        .def("binarize", &Expr::binarize)
        .def("expand_cons", &Expr::expand_cons)
        .def("pos_sum", &Expr::pos_sum)
        .def("neg_sum", &Expr::neg_sum)
        .def("is_declared", &Expr::is_declared)
        .def("body", &Expr::body)
        .def("violations", &Expr::violations)
        .def("replace",
             [](const Expr& e, nb::dict pairs) {
                 std::vector<std::pair<Var, Expr>> v;
                 for (auto [k, x] : pairs) v.emplace_back(nb::cast<Var>(k), to_expr(x));
                 return e.replace(v);
             })
        .def("eval", [](const Expr& e, nb::dict values) {
            std::vector<std::pair<Var, int64_t>> v;
            for (auto [k, x] : values) v.emplace_back(nb::cast<Var>(k), as_int(x));
            return e.eval(v);
        });

    nb::class_<dalo::VarInt, Expr>(m, "VarInt")
        .def(nb::init<const std::string&, int64_t, int64_t>(), "name"_a, "lo"_a, "hi"_a)
        .def_prop_ro("min", &dalo::VarInt::min)
        .def_prop_ro("max", &dalo::VarInt::max)
        .def_prop_ro("bits", &dalo::VarInt::bits)
        .def_prop_ro("coeffs", &dalo::VarInt::coeffs)
        .def("value", &dalo::VarInt::value);

    bind_array<Var>(m, "VarArray");
    bind_array<int64_t>(m, "IntArray")
        .def("to_numpy", &to_numpy, "The values as a numpy array of int64.")
        .def(
            "__array__",
            [](const dalo::IntArray& a, nb::handle dtype, nb::handle) {
                nb::object out = to_numpy(a);
                return dtype.is_none() ? out : out.attr("astype")(dtype);
            },
            "dtype"_a = nb::none(), "copy"_a = nb::none());
    bind_array<Term>(m, "TermArray");
    bind_array<Expr>(m, "ExprArray");

    m.def(
        "var",
        [](const std::string& name, nb::handle shape) -> nb::object {
            if (shape.is_none()) return nb::cast(dalo::var(name));
            return nb::cast(dalo::var(name, shape_of(shape)));
        },
        "name"_a = "", "shape"_a = nb::none(),
        nb::sig("def var(name: str = '', shape: int | tuple[int, ...] | None = None) -> Var | "
                "VarArray"));
    m.def(
        "int_var",
        [](const std::string& name, int64_t lo, int64_t hi, nb::handle shape) -> nb::object {
            if (shape.is_none()) return nb::cast(dalo::int_var(name, lo, hi));
            return nb::cast(dalo::int_var(name, shape_of(shape), lo, hi));
        },
        "name"_a, "lo"_a, "hi"_a, "shape"_a = nb::none(),
        nb::sig("def int_var(name: str, lo: int, hi: int, shape: int | tuple[int, ...] | None = "
                "None) -> Var | VarArray"));
    m.def("ints", &ints_from, "values"_a);
    m.def(
        "varint_array",
        [](const std::string& name, nb::handle shape, int64_t lo, int64_t hi) {
            return dalo::varint(name, shape_of(shape), lo, hi);
        },
        "name"_a, "shape"_a, "lo"_a, "hi"_a);

    m.def("_cons_range", [](nb::handle body, int64_t lo, int64_t hi) {
        return dalo::cons(to_expr(body), lo, hi);
    });
    m.def("_cons_equal", [](nb::handle body, std::vector<std::pair<int64_t, int64_t>> iv) {
        if (iv.empty()) throw dalo::error("dalo.cons: the allowed set is empty");
        return dalo::cons(to_expr(body), dalo::equal(std::move(iv)));
    });
    m.def("_cons_mark", [](nb::handle e) { return dalo::cons(to_expr(e)); });
    m.def(
        "abs", [](nb::handle body, int k) { return dalo::abs(to_expr(body), k); }, "body"_a,
        "k"_a = 1);
    m.def(
        "relu", [](nb::handle body, int k) { return dalo::relu(to_expr(body), k); }, "body"_a,
        "k"_a = 1);
    bind_quadratic(m);
    bind_bqm(m);
    bind_readers(m);
    m.def("between",
          [](nb::handle f, int64_t lo, int64_t hi) { return dalo::between(to_expr(f), lo, hi); });
    m.def("sum", [](nb::iterable items) {
        Expr out;
        for (nb::handle h : items) {
            if (nb::isinstance<Var>(h)) {
                out += nb::cast<Var>(h);
            } else if (nb::isinstance<Term>(h)) {
                out += nb::cast<const Term&>(h);
            } else {
                with_expr(h, [&](const Expr& x) { out += x; });
            }
        }
        return out;
    });
    m.def("_einsum",
          [](const std::string& subscript, nb::args arrays, nb::kwargs kw) -> nb::object {
              const uint64_t out_dim = nb::cast<uint64_t>(kw["out_dim"]);
              std::vector<uint32_t> tags;
              std::vector<const void*> handles;
              bool all_int = true;
              for (nb::handle a : arrays) {
                  if (nb::isinstance<dalo::VarArray>(a)) {
                      tags.push_back(DALO_EINSUM_VAR);
                      handles.push_back(nb::cast<const dalo::VarArray&>(a).get());
                      all_int = false;
                  } else if (nb::isinstance<dalo::IntArray>(a)) {
                      tags.push_back(DALO_EINSUM_INT);
                      handles.push_back(nb::cast<const dalo::IntArray&>(a).get());
                  } else if (nb::isinstance<dalo::TermArray>(a)) {
                      tags.push_back(DALO_EINSUM_TERM);
                      handles.push_back(nb::cast<const dalo::TermArray&>(a).get());
                      all_int = false;
                  } else if (nb::isinstance<dalo::ExprArray>(a)) {
                      tags.push_back(DALO_EINSUM_EXPR);
                      handles.push_back(nb::cast<const dalo::ExprArray&>(a).get());
                      all_int = false;
                  } else {
                      throw nb::type_error("dalo.einsum: operands must be dalo arrays");
                  }
              }
              void* r = dalo::detail::call(dalo_einsum, subscript.c_str(),
                                           static_cast<int32_t>(tags.size()), tags.data(),
                                           handles.data(), all_int ? 0u : 1u, out_dim);
              if (all_int) return nb::cast(dalo::IntArray::adopt(static_cast<dalo_array_int*>(r)));
              return nb::cast(dalo::ExprArray::adopt(static_cast<dalo_array_expr*>(r)));
          });

    auto model = nb::class_<dalo::Model>(m, "Model");
    model.def(nb::init<const Expr&>(), "expr"_a)
        .def_static(
            "simplified", [](const Expr& e) { return dalo::Model::simplified(e); }, "expr"_a,
            "Model.simplified(f): the Model of f.simplify_as_binary(), f left as it is; a\n"
            "quadratic form goes from the simplification straight to the Model's arrays.")
        .def_prop_ro("var_count", &dalo::Model::var_count)
        .def_prop_ro("int_var_count", &dalo::Model::int_var_count)
        .def_prop_ro("constant", &dalo::Model::constant)
        .def_prop_ro("max_degree", &dalo::Model::max_degree)
        .def_prop_ro("native_cons_count", &dalo::Model::native_cons_count)
        .def("has", &dalo::Model::has);

    auto sol = nb::class_<dalo::Sol>(m, "Sol");
    bind_transport(model, sol);
    sol.def(nb::init<const dalo::Model&>(), "model"_a)
        .def(
            "__getitem__",
            [](const dalo::Sol& s, Var v) {
                if (!s.has(v))
                    throw nb::key_error(("dalo.Sol: " + v.name() + " is not in the model").c_str());
                return s[v];
            })
        .def(
            "__setitem__",
            [](dalo::Sol& s, Var v, int64_t value) {
                if (!s.has(v))
                    throw nb::key_error(("dalo.Sol: " + v.name() + " is not in the model").c_str());
                s.set(v, value);
            })
        .def("has", &dalo::Sol::has)
        .def_prop_ro("energy", &dalo::Sol::energy)
        .def("comp_energy", &dalo::Sol::comp_energy)
        .def_prop_ro("tts", &dalo::Sol::tts)
        .def("eval", [](const dalo::Sol& s, nb::handle e) { return s.eval(to_expr(e)); })
        .def("values",
             [](const dalo::Sol& s, const dalo::VarArray& v) { return to_numpy(s.values(v)); })
        .def("__str__", [](const dalo::Sol& s) {
            if (!s.energy_valid()) return std::string("<Sol, energy not computed>");
            return s.str();
        });

    nb::class_<PyResult>(m, "Result")
        .def_ro("energy", &PyResult::energy)
        .def_ro("tts", &PyResult::tts)
        .def_ro("sol", &PyResult::sol)
        .def_ro("topk", &PyResult::topk)
        .def_prop_ro("info", [](const PyResult& r) { return r.info; })
        .def("__repr__", [](const PyResult& r) {
            return "Result(energy=" + std::to_string(r.energy) + ", tts=" + std::to_string(r.tts) +
                   ")";
        });

    nb::class_<dalo::BriskSolver>(m, "BriskSolver")
        .def(nb::init<const dalo::Model&>(), "model"_a)
        .def(
            "search",
            [](dalo::BriskSolver& s, std::optional<double> time_limit, std::optional<uint64_t> seed,
               std::optional<int64_t> threads, std::optional<int64_t> topk,
               std::optional<int64_t> target, std::optional<int64_t> best_energy_sols,
               bool progress, const dalo::Sol* hint) {
                return run_search(
                    s, Options{time_limit, seed, threads, topk, target, best_energy_sols, progress},
                    hint);
            },
            DALO_PY_OPTIONS, "hint"_a = nb::none());

    nb::class_<dalo::SweepSolver>(m, "SweepSolver")
        .def(nb::init<const dalo::Model&>(), "model"_a)
        .def(
            "search",
            [](dalo::SweepSolver& s, std::optional<double> time_limit, std::optional<int64_t> topk,
               std::optional<int64_t> target, std::optional<int64_t> best_energy_sols,
               std::optional<int64_t> threads) {
                Options o;
                o.time_limit = time_limit;
                o.topk = topk;
                o.target = target;
                o.best_energy_sols = best_energy_sols;
                o.threads = threads;
                return run_search(s, o, nullptr);
            },
            "time_limit"_a = nb::none(), "topk"_a = nb::none(), "target"_a = nb::none(),
            "best_energy_sols"_a = nb::none(), "threads"_a = nb::none());

    nb::class_<PyKelp>(m, "KelpSolver")
        .def(nb::init<const dalo::Model&, int32_t>(), "model"_a, "gpu_mode"_a = 0)
        .def(
            "search",
            [](PyKelp& k, std::optional<double> time_limit, std::optional<uint64_t> seed,
               std::optional<int64_t> threads, std::optional<int64_t> topk,
               std::optional<int64_t> target, std::optional<int64_t> best_energy_sols,
               bool progress, const dalo::Sol* hint, nb::object callback) {
                dalo::SearchOptions so = search_options(
                    Options{time_limit, seed, threads, topk, target, best_energy_sols, progress});
                // Nothing may leave the callback into the solver, which cannot unwind it.
                std::exception_ptr raised;
                if (!callback.is_none()) {
                    so.callback = [&callback, &raised](const dalo::Sol& s,
                                                       uint32_t event) -> double {
                        nb::gil_scoped_acquire acquire;
                        if (raised) return -1.0;
                        try {
                            nb::object r = callback(s, event);
                            if (r.is_none()) return -1.0;
                            double seconds = 0;
                            if (!nb::try_cast(r, seconds)) {
                                throw nb::type_error(
                                    ("dalo.KelpSolver: the callback returns a number of seconds "
                                     "or None, not a " +
                                     std::string(nb::type_name(r.type()).c_str()))
                                        .c_str());
                            }
                            return seconds;
                        } catch (...) {
                            raised = std::current_exception();
                            return 0.0;
                        }
                    };
                }
                std::optional<dalo::Result> r;
                {
                    nb::gil_scoped_release release;
                    r.emplace(hint != nullptr ? k.solver.search(so, *hint) : k.solver.search(so));
                }
                PyResult out = finish(std::move(*r));
                if (raised) std::rethrow_exception(raised);
                return out;
            },
            DALO_PY_OPTIONS, "hint"_a = nb::none(), "callback"_a = nb::none())
        .def("terminate", [](PyKelp& k) { k.solver.terminate(); });

    m.def("const_str", &dalo::const_str);
}

// The array side of the dimod conversions: biases as 64-bit floats scanned and rounded to
// 32-bit coefficients in one pass each, a Model written from them, and a Model's terms read
// back as numpy arrays.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/optional.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "dalo.hpp"
#include "quadratic.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

using Floats = nb::ndarray<const double, nb::ndim<1>, nb::c_contig, nb::device::cpu>;
using Indexes = nb::ndarray<const int32_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

// A dense matrix costs n^2 cells: it is the faster way while pairs fill a good part of it.
bool dense_pays(uint64_t n, uint64_t pairs) { return n <= 4096 && pairs * 16 >= n * n; }

// round(v * scale) as a coefficient, or nothing when it is not finite or does not fit.
std::optional<int32_t> coefficient(double v, double scale) {
    const double r = std::nearbyint(v * scale);
    if (!(std::fabs(r) <= double{INT32_MAX})) return std::nullopt;
    return static_cast<int32_t>(r);
}

// Index of the first value that is not finite, else -1; the largest magnitude; whether all
// values are integers.
nb::tuple scan(Floats a) {
    const double* p = a.data();
    const size_t n = a.shape(0);
    double top = 0;
    bool integral = true;
    int64_t bad = -1;
    {
        nb::gil_scoped_release release;
        for (size_t k = 0; k < n; ++k) {
            const double v = p[k];
            if (!std::isfinite(v)) {
                bad = static_cast<int64_t>(k);
                break;
            }
            top = std::fmax(top, std::fabs(v));
            integral = integral && v == std::nearbyint(v);
        }
    }
    return nb::make_tuple(bad, top, integral);
}

// The Model of sum_i lin[i] x[i] + sum_k quad[k] x[irow[k]] x[icol[k]], each bias times
// scale and rounded; pairs are distinct and off the diagonal, as a BQM holds them. A bias
// that does not fit gives (None, 0, i) for lin[i] or (None, 1, k) for quad[k].
nb::tuple build(const dalo::VarArray& x, Floats lin, Indexes irow, Indexes icol, Floats quad,
                double scale) {
    const uint64_t n = x.size(), m = quad.shape(0);
    if (lin.shape(0) != n || irow.shape(0) != m || icol.shape(0) != m)
        throw dalo::error("dalo.from_bqm: the bias arrays disagree in length");
    const int32_t* ip = irow.data();
    const int32_t* jp = icol.data();
    for (uint64_t k = 0; k < m; ++k) {
        if (ip[k] < 0 || static_cast<uint64_t>(ip[k]) >= n || jp[k] < 0 ||
            static_cast<uint64_t>(jp[k]) >= n || ip[k] == jp[k])
            throw nb::index_error("dalo.from_bqm: a pair index is out of range");
    }
    int64_t bad_kind = -1, bad_at = -1;
    std::optional<dalo::Model> model;
    {
        nb::gil_scoped_release release;
        std::vector<int32_t> diagonal(n);
        for (uint64_t i = 0; i < n && bad_kind < 0; ++i) {
            const auto c = coefficient(lin.data()[i], scale);
            if (!c)
                bad_kind = 0, bad_at = static_cast<int64_t>(i);
            else
                diagonal[i] = *c;
        }
        if (bad_kind < 0 && dense_pays(n, m)) {
            // Upper triangle only: the pair sums read Q[i][j] + Q[j][i].
            std::vector<int32_t> q(n * n, 0);
            for (uint64_t i = 0; i < n; ++i) q[i * n + i] = diagonal[i];
            for (uint64_t k = 0; k < m; ++k) {
                const auto c = coefficient(quad.data()[k], scale);
                if (!c) {
                    bad_kind = 1, bad_at = static_cast<int64_t>(k);
                    break;
                }
                const uint64_t a = static_cast<uint64_t>(ip[k]), b = static_cast<uint64_t>(jp[k]);
                q[a < b ? a * n + b : b * n + a] = *c;
            }
            if (bad_kind < 0) model.emplace(dalo::Model::quadratic(x, q.data(), n, 1));
        } else if (bad_kind < 0) {
            const dalo_var* ids = dalo::detail::call(dalo_array_var_data, x.get());
            std::vector<int32_t> coeffs(n + m);
            std::vector<uint32_t> degrees(n + m);
            std::vector<dalo_var> vars;
            vars.reserve(n + 2 * m);
            for (uint64_t i = 0; i < n; ++i) {
                coeffs[i] = diagonal[i];
                degrees[i] = 1;
                vars.push_back(ids[i]);
            }
            for (uint64_t k = 0; k < m && bad_kind < 0; ++k) {
                const auto c = coefficient(quad.data()[k], scale);
                if (!c)
                    bad_kind = 1, bad_at = static_cast<int64_t>(k);
                else
                    coeffs[n + k] = *c;
                degrees[n + k] = 2;
                vars.push_back(ids[ip[k]]);
                vars.push_back(ids[jp[k]]);
            }
            if (bad_kind < 0) {
                dalo_expr* e = dalo::detail::call(dalo_expr_create_from_bulk, 0, n + m,
                                                  coeffs.data(), degrees.data(), vars.data());
                dalo::detail::call(dalo_expr_simplify_as_binary_inplace, e);
                model.emplace(dalo::Expr::adopt(e));
            }
        }
    }
    if (!model) return nb::make_tuple(nb::none(), bad_kind, bad_at);
    return nb::make_tuple(std::move(*model), -1, -1);
}

template <class T>
nb::object numpy_copy(const T* data, size_t n, const char* dtype) {
    auto np = nb::module_::import_("numpy");
    nb::object out = np.attr("empty")(n, "dtype"_a = dtype);
    auto view = nb::cast<nb::ndarray<T, nb::ndim<1>, nb::c_contig, nb::device::cpu>>(out);
    for (size_t k = 0; k < n; ++k) view.data()[k] = data[k];
    return out;
}

// The variables by model index, then (words, coefficients) of each degree 1..max;
// a word is a model index with bit 31 for a negated literal and bit 30 for an integer atom.
nb::tuple terms(const dalo::Model& m) {
    nb::list vars;
    for (uint32_t i = 0; i < m.var_count(); ++i) vars.append(m.var(i));
    nb::list degrees;
    for (uint32_t d = 1; d <= m.max_degree(); ++d) {
        const uint64_t count = m.term_count(d);
        const uint32_t* words = dalo::detail::call(dalo_model_term_vars, m.get(), d);
        const int32_t* coeffs = dalo::detail::call(dalo_model_coeff_array, m.get(), d);
        degrees.append(nb::make_tuple(numpy_copy(words, count * d, "uint32"),
                                      numpy_copy(coeffs, count, "int32")));
    }
    return nb::make_tuple(vars, degrees);
}

}  // namespace

void bind_bqm(nb::module_& m) {
    m.def("_bqm_scan", &scan, "values"_a);
    m.def("_bqm_model", &build, "x"_a, "lin"_a, "irow"_a, "icol"_a, "quad"_a, "scale"_a);
    m.def("_model_terms", &terms, "model"_a);
}

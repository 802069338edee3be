// The array side of the dimod conversions: biases as 64-bit floats rounded to 32-bit
// coefficients in one pass, a Model written from them, and a Model's terms read back as numpy
// arrays.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/optional.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
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

// How one pass over the biases went: the first one that is not finite or does not fit
// (kind 0 linear, 1 quadratic), the largest magnitude and whether all are integers.
struct Pass {
    int64_t status = 0;  // 0 fine, 1 not finite, 2 does not fit
    int64_t kind = -1, at = -1;
    double top = 0;
    bool integral = true;
};

// out[k] = v[k] * scale rounded to the nearest integer (halves away from zero), with the
// largest magnitude and whether all were integers into p. The loop has no branches, so it
// vectorises; only when a value does not fit does a second look find the first one.
void convert(const double* v, uint64_t n, double scale, int32_t* out, int64_t kind, Pass& p) {
    double top = p.top;
    bool fit = true, integral = p.integral;
    for (uint64_t k = 0; k < n; ++k) {
        const double s = v[k] * scale;
        const bool ok = std::fabs(s) <= double{INT32_MAX};  // false for NaN and infinities
        const double c = ok ? s : 0.0;
        const int32_t t = static_cast<int32_t>(c);
        const double rest = c - t;
        out[k] = t + (rest >= 0.5) - (rest <= -0.5);
        fit = fit && ok;
        integral = integral && rest == 0;
        top = std::max(top, std::fabs(v[k]));
    }
    p.top = top;
    p.integral = integral;
    if (fit) return;
    // Not finite first, then too large.
    for (int status : {1, 2}) {
        for (uint64_t k = 0; k < n; ++k) {
            const double s = v[k] * scale;
            if (status == 1 ? !std::isfinite(s) : !(std::fabs(s) <= double{INT32_MAX})) {
                if (p.status == 0 || status < p.status)
                    p.status = status, p.kind = kind, p.at = static_cast<int64_t>(k);
                p.integral = false;
                return;
            }
        }
    }
}

// The largest power of two that keeps every coefficient within 2^30.
double auto_scale(double top) {
    return top > 0 ? std::exp2(std::floor(std::log2(0x1p30 / top))) : 1.0;
}

// The Model of sum_i lin[i] x[i] + sum_k quad[k] x[irow[k]] x[icol[k]], each bias times the
// scale and rounded; without a scale, 1 when every bias is an integer that fits, else
// auto_scale. Pairs are distinct and off the diagonal, as a BQM holds them. Gives (Model or
// None, scale, largest magnitude, exact, status, kind, index), with those of Pass.
nb::tuple build(const dalo::VarArray& x, Floats lin, Indexes irow, Indexes icol, Floats quad,
                std::optional<double> scale) {
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
    Pass pass;
    double used = scale.value_or(1.0);
    std::optional<dalo::Model> model;
    {
        nb::gil_scoped_release release;
        const bool dense = dense_pays(n, m);
        std::vector<int32_t> diagonal(n), coeffs(m);
        auto run = [&] {
            pass = Pass{};
            convert(lin.data(), n, used, diagonal.data(), 0, pass);
            if (pass.status != 1) convert(quad.data(), m, used, coeffs.data(), 1, pass);
        };
        run();
        if (!scale && (pass.status == 2 || (pass.status == 0 && !pass.integral))) {
            used = auto_scale(pass.top);
            run();
        }
        if (pass.status == 0 && dense) {
            // Either triangle will do, as the Model adds Q[i][j] and Q[j][i]; rows by irow keep
            // the writes in BQM order sequential.
            std::unique_ptr<int32_t, decltype(&std::free)> q(
                static_cast<int32_t*>(std::calloc(n * n, sizeof(int32_t))), &std::free);
            if (!q) throw std::bad_alloc();
            int32_t* cells = q.get();
            for (uint64_t i = 0; i < n; ++i) cells[i * n + i] = diagonal[i];
            for (uint64_t k = 0; k < m; ++k)
                cells[static_cast<uint64_t>(ip[k]) * n + static_cast<uint64_t>(jp[k])] = coeffs[k];
            model.emplace(dalo::Model::quadratic(x, cells, static_cast<int64_t>(n), 1));
        } else if (pass.status == 0) {
            // The diagonal as the linear vector, then the pairs: the Model straight from them.
            std::vector<int64_t> ls(diagonal.begin(), diagonal.end()), is(m), js(m), ws(m);
            for (uint64_t k = 0; k < m; ++k) is[k] = ip[k], js[k] = jp[k], ws[k] = coeffs[k];
            model.emplace(dalo::Model::quadratic(x, ls.data(), is.data(), js.data(), ws.data(), m));
        }
    }
    nb::object out = model ? nb::cast(std::move(*model)) : nb::none();
    return nb::make_tuple(out, used, pass.top, pass.integral, pass.status, pass.kind, pass.at);
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
    m.def("_bqm_model", &build, "x"_a, "lin"_a, "irow"_a, "icol"_a, "quad"_a,
          "scale"_a = nb::none());
    m.def("_model_terms", &terms, "model"_a);
}

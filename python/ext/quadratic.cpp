// dalo.quadratic and dalo.quadratic_model: quadratic forms from numpy matrices and index
// arrays, read in place.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "dalo.hpp"
#include "quadratic.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

using dalo::Expr;

// x^T Q x as an Expr, or straight as its Model (R = dalo::Model), from a numpy matrix read
// in place.
template <class T, class R>
R quadratic_view(const dalo::VarArray& x, nb::handle arr, const std::string& name) {
    auto view = nb::cast<nb::ndarray<const T, nb::ndim<2>, nb::device::cpu>>(arr);
    const uint64_t n = x.size();
    if (view.shape(0) != n || view.shape(1) != n) {
        throw dalo::error(name + ": a " + std::to_string(view.shape(0)) + "x" +
                          std::to_string(view.shape(1)) + " matrix for " + std::to_string(n) +
                          " variables");
    }
    uint64_t wrapped = 0;
    std::optional<R> r;
    {
        nb::gil_scoped_release release;
        if constexpr (std::is_same_v<R, dalo::Model>) {
            r.emplace(
                dalo::Model::quadratic(x, view.data(), view.stride(0), view.stride(1), &wrapped));
        } else {
            r.emplace(dalo::quadratic(x, view.data(), view.stride(0), view.stride(1), &wrapped));
        }
    }
    if (wrapped != 0)
        throw dalo::error(name + ": " + std::to_string(wrapped) +
                          " coefficients do not fit in 32 bits");
    return std::move(*r);
}

template <class R>
R quadratic_from_matrix(const dalo::VarArray& x, nb::handle q, const std::string& name) {
    auto np = nb::module_::import_("numpy");
    nb::object arr = np.attr("asarray")(q);
    if (nb::cast<int>(arr.attr("ndim")) != 2)
        throw dalo::error(name + ": the matrix must have two axes");
    nb::object dtype = arr.attr("dtype");
    const std::string kind = nb::cast<std::string>(dtype.attr("kind"));
    const int64_t itemsize = nb::cast<int64_t>(dtype.attr("itemsize"));
    if (kind != "i" && kind != "u" && kind != "b")
        throw nb::type_error((name + ": an integer matrix is expected").c_str());
    if (kind == "i" && itemsize == 8) return quadratic_view<int64_t, R>(x, arr, name);
    if (kind == "i" && itemsize == 4) return quadratic_view<int32_t, R>(x, arr, name);
    if (kind == "u" && itemsize == 8 && nb::cast<int64_t>(arr.attr("size")) > 0 &&
        nb::cast<uint64_t>(arr.attr("max")()) > uint64_t{INT64_MAX}) {
        throw dalo::error(name + ": coefficients do not fit in 32 bits");
    }
    return quadratic_view<int64_t, R>(x, arr.attr("astype")("int64"), name);
}

using Int64Vector = nb::ndarray<const int64_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

// h as a contiguous int64 vector, converted when it is not one; keep holds the array.
Int64Vector as_int64_vector(nb::handle h, nb::object& keep) {
    keep = nb::module_::import_("numpy").attr("ascontiguousarray")(h, "dtype"_a = "int64");
    return nb::cast<Int64Vector>(keep);
}

// The (i, j, w) vectors of a sparse form as contiguous int64 arrays, positions checked
// against x.
struct Entries {
    nb::object io, jo, wo;  // keep the converted arrays alive
    const int64_t *i, *j, *w;
    size_t n;

    Entries(const dalo::VarArray& x, nb::handle hi, nb::handle hj, nb::handle hw,
            const std::string& name) {
        const Int64Vector iv = as_int64_vector(hi, io), jv = as_int64_vector(hj, jo),
                          wv = as_int64_vector(hw, wo);
        n = iv.shape(0);
        if (jv.shape(0) != n || wv.shape(0) != n)
            throw dalo::error(name + ": i, j and w must have one length");
        i = iv.data(), j = jv.data(), w = wv.data();
        // One branch-free pass: a negative position wraps above the size.
        const uint64_t size = x.size();
        bool outside = false;
        for (size_t k = 0; k < n; ++k)
            outside |=
                (static_cast<uint64_t>(i[k]) >= size) | (static_cast<uint64_t>(j[k]) >= size);
        if (outside) throw nb::index_error((name + ": index out of range").c_str());
    }
};

}  // namespace

void bind_quadratic(nb::module_& m) {
    // sum_k w[k] * x[i[k]] * x[j[k]] (w[k] * x[i[k]] when i[k] == j[k]) from numpy arrays of
    // flat indexes into x, in one call.
    m.def(
        "quadratic",
        [](const dalo::VarArray& x, nb::handle i, nb::handle j, nb::handle w) {
            const Entries e(x, i, j, w, "dalo.quadratic");
            const size_t n = e.n;
            const dalo_var* ids = dalo::detail::call(dalo_array_var_data, x.get());
            std::vector<int32_t> coeffs(n);
            std::vector<uint32_t> degrees(n);
            std::vector<dalo_var> vars;
            vars.reserve(2 * n);
            for (size_t k = 0; k < n; ++k) {
                const int64_t a = e.i[k], b = e.j[k], c = e.w[k];
                if (c > INT32_MAX || c < INT32_MIN)
                    throw dalo::error("dalo.quadratic: coefficients must fit in 32 bits");
                coeffs[k] = static_cast<int32_t>(c);
                vars.push_back(ids[a]);
                if (a != b) vars.push_back(ids[b]);
                degrees[k] = a != b ? 2u : 1u;
            }
            return Expr::adopt(dalo::detail::call(dalo_expr_create_from_bulk, 0, n, coeffs.data(),
                                                  degrees.data(), vars.data()));
        },
        "x"_a, "i"_a, "j"_a, "w"_a);
    // x^T Q x from an integer matrix, read in place (any strides) when it holds int64 or
    // int32 values.
    m.def(
        "quadratic",
        [](const dalo::VarArray& x, nb::handle q) {
            return quadratic_from_matrix<Expr>(x, q, "dalo.quadratic");
        },
        "x"_a, "q"_a,
        "quadratic(x, Q): x^T Q x over the binary variables x (x_i * x_i = x_i) from a square\n"
        "integer matrix, read in place: Q[i, i] x_i and (Q[i, j] + Q[j, i]) x_i x_j for i < j.\n"
        "quadratic(x, i, j, w): sum_k w[k] x[i[k]] x[j[k]] (w[k] x[i[k]] where i[k] == j[k]).");
    m.def(
        "quadratic_model",
        [](const dalo::VarArray& x, nb::handle i, nb::handle j, nb::handle w, nb::handle linear) {
            const std::string name = "dalo.quadratic_model";
            const Entries e(x, i, j, w, name);
            nb::object lo;
            const int64_t* l = nullptr;
            if (!linear.is_none()) {
                const auto lv = as_int64_vector(linear, lo);
                if (lv.shape(0) != x.size())
                    throw dalo::error(name + ": linear must have one entry per variable");
                l = lv.data();
            }
            uint64_t wrapped = 0;
            std::optional<dalo::Model> model;
            {
                nb::gil_scoped_release release;
                model.emplace(dalo::Model::quadratic(x, l, e.i, e.j, e.w, e.n, &wrapped));
            }
            if (wrapped != 0) throw dalo::error(name + ": coefficients must fit in 32 bits");
            return std::move(*model);
        },
        "x"_a, "i"_a, "j"_a, "w"_a, "linear"_a = nb::none());
    m.def(
        "quadratic_model",
        [](const dalo::VarArray& x, nb::handle q) {
            return quadratic_from_matrix<dalo::Model>(x, q, "dalo.quadratic_model");
        },
        "x"_a, "q"_a,
        "quadratic_model(x, Q): the Model of quadratic(x, Q).simplify_as_binary(), written from\n"
        "the matrix without building the expression.\n"
        "quadratic_model(x, i, j, w, linear=None): the same for quadratic(x, i, j, w), from the\n"
        "entries, plus linear[u] x[u] for a vector linear of one coefficient per variable.");
}

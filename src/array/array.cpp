#include "array/array.hpp"

#include <string>

#include "constraints/varint.hpp"
#include "core/fatal.hpp"
#include "core/text.hpp"
#include "core/var_registry.hpp"
#include "model/sol.hpp"

namespace dalo {

std::vector<uint64_t> strides_of(const std::vector<uint64_t>& shape) {
    std::vector<uint64_t> s(shape.size(), 1);
    for (size_t d = shape.size(); d-- > 1;) s[d - 1] = s[d] * shape[d];
    return s;
}

uint64_t size_of(const std::vector<uint64_t>& shape) {
    uint64_t n = 1;
    for (uint64_t e : shape) {
        if (__builtin_mul_overflow(n, e, &n))
            fatal("Array: shape " + shape_text(shape) + " is too large");
    }
    return n;
}

std::string shape_text(const std::vector<uint64_t>& shape) {
    std::string out = "(";
    for (size_t d = 0; d < shape.size(); ++d) {
        if (d > 0) out.push_back(',');
        out.append(std::to_string(shape[d]));
    }
    out.push_back(')');
    return out;
}

void check_flat(const char* who, uint64_t i, uint64_t n) {
    if (i >= n)
        fatal(std::string(who) + ": index " + std::to_string(i) + " out of range (size " +
              std::to_string(n) + ")");
}

void check_axis(const char* who, uint64_t axis, uint64_t ndim) {
    if (axis >= ndim) {
        fatal(std::string(who) + ": axis " + std::to_string(axis) + " out of range (" +
              std::to_string(ndim) + " axes)");
    }
}

template <class T>
ArrayImpl<T>* subarray(const ArrayImpl<T>& a, uint64_t i) {
    if (a.ndim() == 0) return nullptr;
    check_flat("Array subarray", i, a.shape[0]);
    auto* r = new ArrayImpl<T>(std::vector<uint64_t>(a.shape.begin() + 1, a.shape.end()));
    const uint64_t base = i * a.strides[0];
    for_elements(r->size(), [&](uint64_t j) { r->data[j] = a.data[base + j]; });
    return r;
}

template <class T>
ArrayImpl<T> view(const ArrayImpl<T>& a, const uint64_t* start, const uint64_t* stop,
                  const uint8_t* drop, uint64_t naxes) {
    if (naxes != a.ndim()) {
        fatal("Array view: " + std::to_string(naxes) + " axes given for shape " +
              shape_text(a.shape));
    }
    uint64_t offset = 0;
    std::vector<uint64_t> shape, src_strides;
    for (uint64_t d = 0; d < naxes; ++d) {
        const bool dropped = drop[d] != 0;
        if (start[d] > stop[d] || stop[d] > a.shape[d] || (dropped && start[d] >= a.shape[d])) {
            fatal("Array view: range " + std::to_string(start[d]) + ".." + std::to_string(stop[d]) +
                  " outside axis " + std::to_string(d) + " of shape " + shape_text(a.shape));
        }
        offset += start[d] * a.strides[d];
        if (!dropped) {
            shape.push_back(stop[d] - start[d]);
            src_strides.push_back(a.strides[d]);
        }
    }
    ArrayImpl<T> r(shape);
    const std::vector<uint64_t>& rs = r.strides;
    for_elements(r.size(), [&](uint64_t j) {
        uint64_t src = offset, rest = j;
        for (size_t k = 0; k < rs.size(); ++k) {
            const uint64_t c = rest / rs[k];
            rest -= c * rs[k];
            src += c * src_strides[k];
        }
        r.data[j] = a.data[src];
    });
    return r;
}

template <class T>
ArrayImpl<T> clone_subview(const ArrayImpl<T>& a, uint64_t offset, uint64_t k) {
    if (k > a.ndim()) throw std::length_error("cannot create std::vector larger than max_size()");
    ArrayImpl<T> r(std::vector<uint64_t>(a.shape.end() - static_cast<long>(k), a.shape.end()));
    if (offset > a.size() || r.size() > a.size() - offset) {
        fatal("Array clone_subview: elements " + std::to_string(offset) + ".." +
              std::to_string(offset + r.size()) + " outside size " + std::to_string(a.size()));
    }
    for_elements(r.size(), [&](uint64_t j) { r.data[j] = a.data[offset + j]; });
    return r;
}

template <class T>
ArrayImpl<T> concat(const ArrayImpl<T>& a, const ArrayImpl<T>& b, uint64_t axis) {
    check_axis("Array concat", axis, a.ndim());
    bool same = a.ndim() == b.ndim();
    for (uint64_t d = 0; same && d < a.ndim(); ++d) same = d == axis || a.shape[d] == b.shape[d];
    if (!same) {
        fatal("Array concat: shapes " + shape_text(a.shape) + " and " + shape_text(b.shape) +
              " differ off axis " + std::to_string(axis));
    }
    std::vector<uint64_t> shape = a.shape;
    shape[axis] += b.shape[axis];
    ArrayImpl<T> r(shape);
    const uint64_t inner = axis + 1 < a.ndim() ? a.strides[axis] : 1;
    const uint64_t A = a.shape[axis] * inner, B = b.shape[axis] * inner;
    for_elements(r.size(), [&](uint64_t k) {
        const uint64_t row = k / (A + B), col = k - row * (A + B);
        r.data[k] = col < A ? a.data[col + A * row] : b.data[(col - A) + B * row];
    });
    return r;
}

template <class T>
ArrayImpl<T> clone_array(const ArrayImpl<T>& a) {
    ArrayImpl<T> r(a.shape);
    for_elements(a.size(), [&](uint64_t i) { r.data[i] = a.data[i]; });
    return r;
}

namespace {

void append_element(std::string& out, Var v) { append_var_name(out, v); }
void append_element(std::string& out, coeff_t c) { out.append(std::to_string(c)); }
void append_element(std::string& out, const TermElem& t) { append_term(out, t); }
void append_element(std::string& out, const ExprImpl& e) { append_expr(out, e); }

template <class T>
void append_level(std::string& out, const ArrayImpl<T>& a, size_t d, uint64_t base) {
    out.push_back('{');
    for (uint64_t i = 0; i < a.shape[d]; ++i) {
        if (i > 0) out.push_back(',');
        if (d + 1 == a.ndim()) {
            append_element(out, a.data[base + i]);
        } else {
            append_level(out, a, d + 1, base + i * a.strides[d]);
        }
    }
    out.push_back('}');
}

}  // namespace

template <class T>
std::string array_text(const ArrayImpl<T>& a) {
    if (a.ndim() == 0) return "{}";
    std::string out;
    append_level(out, a, 0, 0);
    return out;
}

#define DALO_ARRAY_INSTANTIATE(T)                                                     \
    template ArrayImpl<T>* subarray(const ArrayImpl<T>&, uint64_t);                   \
    template ArrayImpl<T> view(const ArrayImpl<T>&, const uint64_t*, const uint64_t*, \
                               const uint8_t*, uint64_t);                             \
    template ArrayImpl<T> clone_subview(const ArrayImpl<T>&, uint64_t, uint64_t);     \
    template ArrayImpl<T> concat(const ArrayImpl<T>&, const ArrayImpl<T>&, uint64_t); \
    template ArrayImpl<T> clone_array(const ArrayImpl<T>&);                           \
    template std::string array_text(const ArrayImpl<T>&);

DALO_ARRAY_INSTANTIATE(Var)
DALO_ARRAY_INSTANTIATE(coeff_t)
DALO_ARRAY_INSTANTIATE(TermElem)
DALO_ARRAY_INSTANTIATE(ExprImpl)

VarArray new_var_array_of(const char* name, const uint64_t* shape, uint64_t ndim) {
    VarArray a(ndim == 0 ? std::vector<uint64_t>{} : std::vector<uint64_t>(shape, shape + ndim));
    const Var first = var_registry().new_var_array(name, shape, ndim);
    // A store per element: below a few million waking the pool costs more than the stores.
    par_for_ranges(a.size(), a.size() < (uint64_t{1} << 22) ? 0 : a.size(),
                   [&](uint64_t b, uint64_t e) {
                       for (uint64_t i = b; i < e; ++i) a.data[i] = first + static_cast<Var>(i);
                   });
    return a;
}

IntArray values_in_sol(const SolImpl& s, const VarArray& vars) {
    IntArray r(vars.shape);
    for (uint64_t i = 0; i < vars.size(); ++i) {
        const Var v = vars.data[i];
        const uint32_t index = s.m().index_of(v);
        r.data[i] = index == kNotInModel
                        ? 0
                        : static_cast<coeff_t>(s.bit(index) ^ ((v & kNegBit) ? 1u : 0u));
    }
    return r;
}

VarArray inverted(const VarArray& a) {
    VarArray r(a.shape);
    for_elements(a.size(), [&](uint64_t i) { r.data[i] = a.data[i] ^ kNegBit; });
    return r;
}

ExprArray varint_array_uniform(const char* name, const uint64_t* shape, uint64_t ndim, int64_t lo,
                               int64_t hi) {
    const std::vector<coeff_t> coeffs = varint_coeffs(lo, hi);
    const std::string nm = varint_name(name);
    std::vector<uint64_t> dims =
        ndim == 0 ? std::vector<uint64_t>{} : std::vector<uint64_t>(shape, shape + ndim);
    uint64_t n = 1;
    bool zero = false;
    for (uint64_t d : dims) {
        if (d == 0) zero = true;
        if (__builtin_mul_overflow(n, d, &n)) n = UINT64_MAX;
    }
    if (zero) n = 0;
    const uint64_t b = coeffs.size();
    const uint64_t group = var_registry().register_group(nm, dims.data(), ndim);
    Var first = 0;
    if (n > 0 && b > 0) {
        std::vector<uint64_t> bit_shape = dims;
        bit_shape.push_back(b);
        first = var_registry().new_var_array(nm.c_str(), bit_shape.data(), bit_shape.size());
    }
    const uint32_t base = varint_set().add_uniform(group, lo, hi, coeffs, first, n);
    ExprArray a(std::move(dims));
    for_elements(a.size(), [&](uint64_t i) {
        ExprImpl& e = a.data[i];
        e.constant = lo;
        append_varint_bits(e, coeffs.data(), first + static_cast<Var>(i * b), b);
        e.attr = base + static_cast<uint32_t>(i);
    });
    return a;
}

}  // namespace dalo

// N-dimensional arrays of variables, integers, terms and expressions: one container for the
// four element kinds. Every array owns its elements; selecting part of one copies.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/expr.hpp"
#include "core/parallel.hpp"
#include "core/term.hpp"

namespace dalo {

// A term that owns its variable list (the array element of Array<Term>).
struct TermElem : TermImpl {
    TermElem() = default;
    explicit TermElem(const TermImpl& t) : TermImpl(copy_term(t)) {}
    TermElem(const TermElem& o) : TermImpl(copy_term(o)) {}
    TermElem(TermElem&& o) noexcept : TermImpl(o) { o.vars.tail = nullptr; }
    TermElem& operator=(const TermElem& o) {
        if (this != &o) {
            TermElem tmp(o);
            std::swap(static_cast<TermImpl&>(*this), static_cast<TermImpl&>(tmp));
        }
        return *this;
    }
    TermElem& operator=(TermElem&& o) noexcept {
        std::swap(static_cast<TermImpl&>(*this), static_cast<TermImpl&>(o));
        return *this;
    }
    ~TermElem() { free_tail(vars); }
};
static_assert(sizeof(TermElem) == sizeof(TermImpl));

// Row-major strides of a shape.
std::vector<uint64_t> strides_of(const std::vector<uint64_t>& shape);
// Product of the extents (1 for no axis); fatal when it does not fit in 64 bits.
uint64_t size_of(const std::vector<uint64_t>& shape);
// "(2,3)"; "()" for a scalar array.
std::string shape_text(const std::vector<uint64_t>& shape);

template <class T>
struct ArrayImpl {
    std::vector<uint64_t> shape;
    std::vector<uint64_t> strides;
    std::vector<T> data;

    ArrayImpl() : strides(), data(1) {}  // a scalar array
    explicit ArrayImpl(std::vector<uint64_t> s) : shape(std::move(s)) {
        strides = strides_of(shape);
        data.resize(size_of(shape));
    }
    // Same shape as another array, with default elements.
    template <class U>
    static ArrayImpl like(const ArrayImpl<U>& other) {
        return ArrayImpl(other.shape);
    }

    uint64_t size() const { return data.size(); }
    uint64_t ndim() const { return shape.size(); }
    uint64_t capacity() const { return data.capacity(); }
};

using VarArray = ArrayImpl<Var>;
using IntArray = ArrayImpl<coeff_t>;
using TermArray = ArrayImpl<TermElem>;
using ExprArray = ArrayImpl<ExprImpl>;

// Fatal unless i < n ("<who>: index <i> out of range (size <n>)").
void check_flat(const char* who, uint64_t i, uint64_t n);
// Fatal unless axis < ndim.
void check_axis(const char* who, uint64_t axis, uint64_t ndim);

// Calls f(i) for i in [0, n): serial up to the threshold, the parallel-for above it.
template <class F>
void for_elements(uint64_t n, F&& f) {
    par_for_impl(n, n, f);
}

// ---- selections (copies) ----

// The slice [i] along axis 0; null for a scalar source.
template <class T>
ArrayImpl<T>* subarray(const ArrayImpl<T>& a, uint64_t i);

// start[d] .. stop[d] - 1 on each axis; an axis with a non-zero drop flag is indexed at
// start[d] and removed.
template <class T>
ArrayImpl<T> view(const ArrayImpl<T>& a, const uint64_t* start, const uint64_t* stop,
                  const uint8_t* drop, uint64_t naxes);

// The last k axes, starting at a flat offset.
template <class T>
ArrayImpl<T> clone_subview(const ArrayImpl<T>& a, uint64_t offset, uint64_t k);

// a and b joined along axis.
template <class T>
ArrayImpl<T> concat(const ArrayImpl<T>& a, const ArrayImpl<T>& b, uint64_t axis);

// Deep copy with the element copies in parallel above the threshold.
template <class T>
ArrayImpl<T> clone_array(const ArrayImpl<T>& a);

// Nested text: "{{1,2},{3,4}}", "{}" for a scalar array or an axis of extent 0.
template <class T>
std::string array_text(const ArrayImpl<T>& a);

}  // namespace dalo

namespace dalo {

struct SolImpl;

// An array of the shape whose every element is a copy of value.
template <class T>
ArrayImpl<T> constant_array(std::vector<uint64_t> shape, const T& value) {
    ArrayImpl<T> a(std::move(shape));
    for_elements(a.size(), [&](uint64_t i) { a.data[i] = value; });
    return a;
}

// New binary variables (one array of the registry), element i = first + i.
VarArray new_var_array_of(const char* name, const uint64_t* shape, uint64_t ndim);
// The value of each variable in the Sol; 0 for one outside its Model.
IntArray values_in_sol(const SolImpl& s, const VarArray& vars);
// Each identifier with bit 31 toggled.
VarArray inverted(const VarArray& a);
// An array of VarInts sharing one range; element i owns bits base + i * B + j.
ExprArray varint_array_uniform(const char* name, const uint64_t* shape, uint64_t ndim, int64_t lo,
                               int64_t hi);

}  // namespace dalo

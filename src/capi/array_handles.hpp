// Array handles and the conversion of caller elements.
#pragma once

#include "array/array.hpp"
#include "capi/handles.hpp"

namespace dalo {

DALO_DEFINE_HANDLE(dalo_array_var, VarArray)
DALO_DEFINE_HANDLE(dalo_array_int, IntArray)
DALO_DEFINE_HANDLE(dalo_array_term, TermArray)
DALO_DEFINE_HANDLE(dalo_array_expr, ExprArray)

inline Var element_from(dalo_var v) { return v; }
inline coeff_t element_from(int32_t c) { return c; }
inline TermElem element_from(const dalo_term* t) { return TermElem(*unwrap(t)); }
inline ExprImpl element_from(const dalo_expr* e) { return ExprImpl(*unwrap(e)); }

inline std::vector<uint64_t> shape_from(const uint64_t* shape, uint64_t ndim) {
    return ndim == 0 ? std::vector<uint64_t>{} : std::vector<uint64_t>(shape, shape + ndim);
}

}  // namespace dalo

// Typed conversions between the opaque handles of the interface and the internal records.
#pragma once

#include "core/expr.hpp"
#include "core/fatal.hpp"
#include "core/term.hpp"
#include "dalo.h"
#include "model/model.hpp"

#define DALO_DEFINE_HANDLE(CType, Impl)                                                    \
    inline Impl* unwrap(CType* p) { return reinterpret_cast<Impl*>(p); }                   \
    inline const Impl* unwrap(const CType* p) { return reinterpret_cast<const Impl*>(p); } \
    inline CType* wrap(Impl* p) { return reinterpret_cast<CType*>(p); }                    \
    inline const CType* wrap(const Impl* p) { return reinterpret_cast<const CType*>(p); }

namespace dalo {

DALO_DEFINE_HANDLE(dalo_term, TermImpl)
DALO_DEFINE_HANDLE(dalo_expr, ExprImpl)
// A Model handle is a heap-held shared handle; a Sol starts with one.
DALO_DEFINE_HANDLE(dalo_model, ModelHandle)

// A new heap expression from a value.
inline dalo_expr* wrap_new(ExprImpl&& e) { return wrap(new ExprImpl(std::move(e))); }

// Stores v through out when the caller gave one; returns v.
inline int64_t store_out(int64_t* out, int64_t v) {
    if (out != nullptr) *out = v;
    return v;
}

}  // namespace dalo

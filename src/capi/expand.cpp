// Penalty expansion of declared constraints and bulk classic range penalties.
#include <string>

#include "capi/handles.hpp"
#include "constraints/constructors.hpp"
#include "constraints/expand.hpp"
#include "core/expr_ops.hpp"
#include "core/fatal.hpp"

using namespace dalo;

extern "C" {

dalo_expr* dalo_expr_expand_cons(const dalo_expr* e) try {
    return wrap_new(expand_cons(*unwrap(e)));
}
DALO_RECOVER

void dalo_array_between(const void* items, uint32_t kind, int64_t lo, int64_t hi, dalo_expr** out,
                        uint64_t n) try {
    if (n == 0) return;
    // An unknown kind would leave out[] unwritten for a caller that goes on to read it.
    if (kind > 2) fatal("dalo_array_between: unknown item kind " + std::to_string(kind));
    for (uint64_t i = 0; i < n; ++i) {
        if (kind == 0) {
            out[i] =
                wrap_new(between(*unwrap(static_cast<const dalo_expr* const*>(items)[i]), lo, hi));
            continue;
        }
        ExprImpl f;
        if (kind == 1) {
            f.append_owned(var_term(1, static_cast<const dalo_var*>(items)[i]));
        } else {
            f.append_copy(static_cast<const TermImpl*>(items)[i]);
        }
        out[i] = wrap_new(between(f, lo, hi));
    }
}
DALO_RECOVER_VOID

}  // extern "C"

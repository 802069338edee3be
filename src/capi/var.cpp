// Variables and integer variables.
#include "capi/handles.hpp"
#include "core/fatal.hpp"
#include "core/text.hpp"
#include "core/var_registry.hpp"

using namespace dalo;

extern "C" {

dalo_var dalo_new_var(const char* name) try { return var_registry().new_var(name); }
DALO_RECOVER

dalo_var dalo_new_var_array(const char* name, const uint64_t* shape, uint64_t ndim) try {
    return var_registry().new_var_array(name, shape, ndim);
}
DALO_RECOVER

uint64_t dalo_var_count(void) try { return var_registry().count(); }
DALO_RECOVER

uint64_t dalo_used_var_count(void) try {
    return var_registry().count() + int_var_registry().bit_total();
}
DALO_RECOVER

dalo_var dalo_new_int_var(const char* name, int64_t lo, int64_t hi) try {
    return int_var_registry().new_int_var(name, lo, hi);
}
DALO_RECOVER

dalo_var dalo_new_int_var_array(const char* name, const uint64_t* shape, uint64_t ndim, int64_t lo,
                                int64_t hi) try {
    return int_var_registry().new_int_var_array(name, shape, ndim, lo, hi);
}
DALO_RECOVER

uint32_t dalo_int_var_count(void) try { return int_var_registry().count(); }
DALO_RECOVER

void dalo_int_var_bounds(dalo_var id, int64_t* lo, int64_t* hi) try {
    const IntVarRecord* rec = (id & kIntBit) ? int_var_registry().find(id & kIndexMask) : nullptr;
    if (rec == nullptr) fatal("dalo_int_var_bounds: not an integer variable index");
    *lo = rec->lo;
    *hi = rec->hi;
}
DALO_RECOVER_VOID

const char* dalo_var_str(dalo_var id) try { return var_display(id, text_buffers().var); }
DALO_RECOVER

const char* dalo_auto_var_name(void) try {
    std::string& out = text_buffers().auto_name;
    out = auto_var_name();
    return out.c_str();
}
DALO_RECOVER

void dalo_var_reset(void) try { reset_variables(); }
DALO_RECOVER_VOID

}  // extern "C"

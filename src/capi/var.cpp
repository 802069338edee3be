// Variables and integer variables.
#include "capi/handles.hpp"
#include "core/fatal.hpp"
#include "core/text.hpp"
#include "core/var_registry.hpp"

using namespace dalo;

extern "C" {

dalo_var dalo_new_var(const char* name) { return var_registry().new_var(name); }

dalo_var dalo_new_var_array(const char* name, const uint64_t* shape, uint64_t ndim) {
    return var_registry().new_var_array(name, shape, ndim);
}

uint64_t dalo_var_count(void) { return var_registry().count(); }

uint64_t dalo_used_var_count(void) {
    return var_registry().count() + int_var_registry().bit_total();
}

dalo_var dalo_new_int_var(const char* name, int64_t lo, int64_t hi) {
    return int_var_registry().new_int_var(name, lo, hi);
}

dalo_var dalo_new_int_var_array(const char* name, const uint64_t* shape, uint64_t ndim, int64_t lo,
                                int64_t hi) {
    return int_var_registry().new_int_var_array(name, shape, ndim, lo, hi);
}

uint32_t dalo_int_var_count(void) { return int_var_registry().count(); }

void dalo_int_var_bounds(dalo_var id, int64_t* lo, int64_t* hi) {
    const IntVarRecord* rec = (id & kIntBit) ? int_var_registry().find(id & kIndexMask) : nullptr;
    if (rec == nullptr) fatal("dalo_int_var_bounds: not an integer variable index");
    *lo = rec->lo;
    *hi = rec->hi;
}

const char* dalo_var_str(dalo_var id) { return var_display(id, text_buffers().var); }

const char* dalo_auto_var_name(void) {
    std::string& out = text_buffers().auto_name;
    out = auto_var_name();
    return out.c_str();
}

void dalo_var_reset(void) { reset_variables(); }

}  // extern "C"

// Sol.
#include <cstdlib>

#include "capi/sol_handle.hpp"

using namespace dalo;

extern "C" {

dalo_sol* dalo_sol_create(const dalo_model* m) try { return wrap(new SolImpl(*unwrap(m))); }
DALO_RECOVER
dalo_sol* dalo_sol_create_from_expr(const dalo_expr* e) try {
    return wrap(sol_create_from_expr(*unwrap(e)));
}
DALO_RECOVER
dalo_sol* dalo_sol_clone(const dalo_sol* s) try { return wrap(new SolImpl(*unwrap(s))); }
DALO_RECOVER
void dalo_sol_destroy(dalo_sol* s) { delete unwrap(s); }

// The address of the Sol's own Model handle, which is also the Sol's address.
const dalo_model* dalo_sol_model(const dalo_sol* s) try { return wrap(&unwrap(s)->model); }
DALO_RECOVER
uint32_t dalo_sol_var_count(const dalo_sol* s) try {
    return dalo_model_var_count(dalo_sol_model(s));
}
DALO_RECOVER
int dalo_sol_has(const dalo_sol* s, dalo_var id) try {
    return dalo_model_has(dalo_sol_model(s), id);
}
DALO_RECOVER
dalo_var dalo_sol_model_var(const dalo_sol* s, uint32_t index) try {
    return dalo_model_var(dalo_sol_model(s), index);
}
DALO_RECOVER

uint32_t dalo_sol_get(const dalo_sol* s, dalo_var id) try { return unwrap(s)->get(id); }
DALO_RECOVER
void dalo_sol_set(dalo_sol* s, dalo_var id, uint32_t value) try { unwrap(s)->set(id, value); }
DALO_RECOVER_VOID
void dalo_sol_flip(dalo_sol* s, dalo_var id) try { unwrap(s)->flip(id); }
DALO_RECOVER_VOID
const uint64_t* dalo_sol_bits(const dalo_sol* s) try { return unwrap(s)->bits.data(); }
DALO_RECOVER
void dalo_sol_steal_bits(dalo_sol* s, dalo_u64_vector* out) try {
    PodArray<uint64_t> words = unwrap(s)->take_bits();
    const uint64_t n = words.size();
    std::free(out->begin);
    out->begin = words.release();
    out->end = out->begin + n;
    out->capacity = out->end;
}
DALO_RECOVER_VOID

int64_t dalo_sol_get_int(const dalo_sol* s, dalo_var id, int64_t* out) try {
    return store_out(out, unwrap(s)->get_int(id));
}
DALO_RECOVER
void dalo_sol_set_int(dalo_sol* s, dalo_var id, int64_t value) try {
    unwrap(s)->set_int(id, value);
}
DALO_RECOVER_VOID
const int64_t* dalo_sol_int_vals(const dalo_sol* s) try { return unwrap(s)->int_vals.data(); }
DALO_RECOVER
uint64_t dalo_sol_int_count(const dalo_sol* s) try { return unwrap(s)->int_vals.size(); }
DALO_RECOVER
void dalo_sol_set_from_sol(dalo_sol* dst, const dalo_sol* src) try {
    unwrap(dst)->set_from(*unwrap(src));
}
DALO_RECOVER_VOID

int64_t dalo_sol_compute_energy(dalo_sol* s, int64_t* out) try {
    return store_out(out, unwrap(s)->compute_energy());
}
DALO_RECOVER
int64_t dalo_sol_energy(const dalo_sol* s, int64_t* out) try {
    return store_out(out, unwrap(s)->cached_energy());
}
DALO_RECOVER
int64_t dalo_sol_energy_int(const dalo_sol* s, int64_t* out) try {
    return store_out(out, unwrap(s)->cached_energy_int());
}
DALO_RECOVER
int dalo_sol_energy_valid(const dalo_sol* s) try { return unwrap(s)->energy_valid; }
DALO_RECOVER
void dalo_sol_set_energy(dalo_sol* s, int64_t energy) try { unwrap(s)->set_energy(energy); }
DALO_RECOVER_VOID
double dalo_sol_tts(const dalo_sol* s) try { return unwrap(s)->tts; }
DALO_RECOVER
void dalo_sol_set_tts(dalo_sol* s, double tts) try { unwrap(s)->tts = tts; }
DALO_RECOVER_VOID
double dalo_sol_scale(const dalo_sol* s) try { return unwrap(s)->scale; }
DALO_RECOVER
int64_t dalo_sol_eval_expr(const dalo_sol* s, const dalo_expr* e, int64_t* out) try {
    return store_out(out, sol_eval_expr(*unwrap(s), *unwrap(e)));
}
DALO_RECOVER
const char* dalo_sol_str(const dalo_sol* s) try { return unwrap(s)->str(); }
DALO_RECOVER

}  // extern "C"

// Sol.
#include <cstdlib>

#include "capi/sol_handle.hpp"

using namespace dalo;

extern "C" {

dalo_sol* dalo_sol_create(const dalo_model* m) { return wrap(new SolImpl(*unwrap(m))); }
dalo_sol* dalo_sol_create_from_expr(const dalo_expr* e) {
    return wrap(sol_create_from_expr(*unwrap(e)));
}
dalo_sol* dalo_sol_clone(const dalo_sol* s) { return wrap(new SolImpl(*unwrap(s))); }
void dalo_sol_destroy(dalo_sol* s) { delete unwrap(s); }

// The address of the Sol's own Model handle, which is also the Sol's address.
const dalo_model* dalo_sol_model(const dalo_sol* s) { return wrap(&unwrap(s)->model); }
uint32_t dalo_sol_var_count(const dalo_sol* s) { return dalo_model_var_count(dalo_sol_model(s)); }
int dalo_sol_has(const dalo_sol* s, dalo_var id) { return dalo_model_has(dalo_sol_model(s), id); }
dalo_var dalo_sol_model_var(const dalo_sol* s, uint32_t index) {
    return dalo_model_var(dalo_sol_model(s), index);
}

uint32_t dalo_sol_get(const dalo_sol* s, dalo_var id) { return unwrap(s)->get(id); }
void dalo_sol_set(dalo_sol* s, dalo_var id, uint32_t value) { unwrap(s)->set(id, value); }
void dalo_sol_flip(dalo_sol* s, dalo_var id) { unwrap(s)->flip(id); }
const uint64_t* dalo_sol_bits(const dalo_sol* s) { return unwrap(s)->bits.data(); }
void dalo_sol_steal_bits(dalo_sol* s, dalo_u64_vector* out) {
    PodArray<uint64_t> words = unwrap(s)->take_bits();
    const uint64_t n = words.size();
    std::free(out->begin);
    out->begin = words.release();
    out->end = out->begin + n;
    out->capacity = out->end;
}

int64_t dalo_sol_get_int(const dalo_sol* s, dalo_var id, int64_t* out) {
    return store_out(out, unwrap(s)->get_int(id));
}
void dalo_sol_set_int(dalo_sol* s, dalo_var id, int64_t value) { unwrap(s)->set_int(id, value); }
const int64_t* dalo_sol_int_vals(const dalo_sol* s) { return unwrap(s)->int_vals.data(); }
uint64_t dalo_sol_int_count(const dalo_sol* s) { return unwrap(s)->int_vals.size(); }
void dalo_sol_set_from_sol(dalo_sol* dst, const dalo_sol* src) {
    unwrap(dst)->set_from(*unwrap(src));
}

int64_t dalo_sol_compute_energy(dalo_sol* s, int64_t* out) {
    return store_out(out, unwrap(s)->compute_energy());
}
int64_t dalo_sol_energy(const dalo_sol* s, int64_t* out) {
    return store_out(out, unwrap(s)->cached_energy());
}
int64_t dalo_sol_energy_int(const dalo_sol* s, int64_t* out) {
    return store_out(out, unwrap(s)->cached_energy_int());
}
int dalo_sol_energy_valid(const dalo_sol* s) { return unwrap(s)->energy_valid; }
void dalo_sol_set_energy(dalo_sol* s, int64_t energy) { unwrap(s)->set_energy(energy); }
double dalo_sol_tts(const dalo_sol* s) { return unwrap(s)->tts; }
void dalo_sol_set_tts(dalo_sol* s, double tts) { unwrap(s)->tts = tts; }
double dalo_sol_scale(const dalo_sol* s) { return unwrap(s)->scale; }
int64_t dalo_sol_eval_expr(const dalo_sol* s, const dalo_expr* e, int64_t* out) {
    return store_out(out, sol_eval_expr(*unwrap(s), *unwrap(e)));
}
const char* dalo_sol_str(const dalo_sol* s) { return unwrap(s)->str(); }

}  // extern "C"

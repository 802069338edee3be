// Terms.
#include <string>

#include "capi/handles.hpp"
#include "core/expr_ops.hpp"
#include "core/text.hpp"

using namespace dalo;

namespace {

dalo_term* new_term(TermImpl t) { return wrap(new TermImpl(t)); }

}  // namespace

extern "C" {

dalo_term* dalo_term_create(int64_t coeff) { return new_term(TermImpl{wrap_coeff(coeff), {}}); }

dalo_term* dalo_term_create_var(int64_t coeff, dalo_var v) { return new_term(var_term(coeff, v)); }

dalo_term* dalo_term_create_var_var(int64_t coeff, dalo_var a, dalo_var b) {
    return new_term(var_var_term(coeff, a, b));
}

dalo_term* dalo_term_create_vararray(int64_t coeff, uint64_t slots, const dalo_var* tail) {
    return new_term(copied_term(coeff, slots, tail));
}

dalo_term* dalo_term_clone(const dalo_term* t) { return new_term(copy_term(*unwrap(t))); }

void dalo_term_destroy(dalo_term* t) {
    if (t == nullptr) return;
    free_tail(unwrap(t)->vars);
    delete unwrap(t);
}

void dalo_term_mul_var(dalo_term* t, dalo_var v) { push_var(unwrap(t)->vars, v); }

void dalo_term_mul_coeff(dalo_term* t, int64_t k) {
    unwrap(t)->coeff = mul_coeff(unwrap(t)->coeff, k);
}

dalo_term* dalo_term_mul_term(const dalo_term* a, const dalo_term* b) {
    TermImpl t = copy_term(*unwrap(a));
    term_imul_term(t, *unwrap(b));
    return new_term(t);
}

void dalo_term_mul_term_move(dalo_term* a, const dalo_term* b) {
    term_imul_term(*unwrap(a), *unwrap(b));
}

void dalo_term_negate(dalo_term* t) { unwrap(t)->coeff = neg_coeff(unwrap(t)->coeff); }

void dalo_term_div_coeff(dalo_term* t, int64_t k) { term_div_coeff(*unwrap(t), k); }

int64_t dalo_term_coeff(const dalo_term* t, int64_t* out) {
    return store_out(out, unwrap(t)->coeff);
}

uint64_t dalo_term_degree(const dalo_term* t) { return degree(*unwrap(t)); }

dalo_var dalo_term_var_at(const dalo_term* t, uint64_t i) {
    return term_var_checked(*unwrap(t), i);
}

const char* dalo_term_str(const dalo_term* t) {
    std::string& out = text_buffers().term;
    out.clear();
    append_term(out, *unwrap(t));
    return out.c_str();
}

}  // extern "C"

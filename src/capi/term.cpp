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

dalo_term* dalo_term_create(int64_t coeff) try { return new_term(TermImpl{wrap_coeff(coeff), {}}); }
DALO_RECOVER

dalo_term* dalo_term_create_var(int64_t coeff, dalo_var v) try {
    return new_term(var_term(coeff, v));
}
DALO_RECOVER

dalo_term* dalo_term_create_var_var(int64_t coeff, dalo_var a, dalo_var b) try {
    return new_term(var_var_term(coeff, a, b));
}
DALO_RECOVER

dalo_term* dalo_term_create_vararray(int64_t coeff, uint64_t slots, const dalo_var* tail) try {
    return new_term(copied_term(coeff, slots, tail));
}
DALO_RECOVER

dalo_term* dalo_term_clone(const dalo_term* t) try { return new_term(copy_term(*unwrap(t))); }
DALO_RECOVER

void dalo_term_destroy(dalo_term* t) {
    if (t == nullptr) return;
    free_tail(unwrap(t)->vars);
    delete unwrap(t);
}

void dalo_term_mul_var(dalo_term* t, dalo_var v) try { push_var(unwrap(t)->vars, v); }
DALO_RECOVER_VOID

void dalo_term_mul_coeff(dalo_term* t, int64_t k) try {
    unwrap(t)->coeff = mul_coeff(unwrap(t)->coeff, k);
}
DALO_RECOVER_VOID

dalo_term* dalo_term_mul_term(const dalo_term* a, const dalo_term* b) try {
    TermImpl t = copy_term(*unwrap(a));
    term_imul_term(t, *unwrap(b));
    return new_term(t);
}
DALO_RECOVER

void dalo_term_mul_term_move(dalo_term* a, const dalo_term* b) try {
    term_imul_term(*unwrap(a), *unwrap(b));
}
DALO_RECOVER_VOID

void dalo_term_negate(dalo_term* t) try { unwrap(t)->coeff = neg_coeff(unwrap(t)->coeff); }
DALO_RECOVER_VOID

void dalo_term_div_coeff(dalo_term* t, int64_t k) try { term_div_coeff(*unwrap(t), k); }
DALO_RECOVER_VOID

int64_t dalo_term_coeff(const dalo_term* t, int64_t* out) try {
    return store_out(out, unwrap(t)->coeff);
}
DALO_RECOVER

uint64_t dalo_term_degree(const dalo_term* t) try { return degree(*unwrap(t)); }
DALO_RECOVER

dalo_var dalo_term_var_at(const dalo_term* t, uint64_t i) try {
    return term_var_checked(*unwrap(t), i);
}
DALO_RECOVER

const char* dalo_term_str(const dalo_term* t) try {
    std::string& out = text_buffers().term;
    out.clear();
    append_term(out, *unwrap(t));
    return out.c_str();
}
DALO_RECOVER

}  // extern "C"

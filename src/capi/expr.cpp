// Expressions: construction, arithmetic, queries and text.
#include <string>

#include "capi/handles.hpp"
#include "constraints/arith.hpp"
#include "core/text.hpp"

using namespace dalo;

namespace {

// Takes the record of a Term handle: its parts move on, the record is released.
TermImpl take(dalo_term* t) {
    TermImpl parts = *unwrap(t);
    delete unwrap(t);
    return parts;
}

const TermImpl& ref(const dalo_term* t) { return *unwrap(t); }

}  // namespace

extern "C" {

// ---- construction ----

dalo_expr* dalo_expr_create(void) try { return wrap(new ExprImpl()); }
DALO_RECOVER

dalo_expr* dalo_expr_create_int(int64_t c) try { return wrap(new ExprImpl(c)); }
DALO_RECOVER

dalo_expr* dalo_expr_create_var(dalo_var v) try { return wrap_new(expr_of(0, {var_term(1, v)})); }
DALO_RECOVER

dalo_expr* dalo_expr_create_term(dalo_term* t, int consume) try {
    return wrap_new(expr_of(0, {consume ? take(t) : copy_term(ref(t))}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_raw_term(int64_t coeff, const dalo_var* vars, uint64_t n,
                                     int64_t constant) try {
    return wrap_new(expr_of(constant, {raw_term(coeff, vars, n)}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_move_term(int64_t coeff, uint64_t slots, dalo_var* tail,
                                      int64_t constant) try {
    return wrap_new(expr_of(constant, {moved_term(coeff, slots, tail)}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_add_raw_terms(int64_t coeff_a, const dalo_var* vars_a, uint64_t n_a,
                                          int64_t coeff_b, const dalo_var* vars_b,
                                          uint64_t n_b) try {
    return wrap_new(expr_of(0, {raw_term(coeff_a, vars_a, n_a), raw_term(coeff_b, vars_b, n_b)}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_add_var_var(dalo_var a, dalo_var b) try {
    return wrap_new(expr_of(0, {var_term(1, a), var_term(1, b)}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_add_var_int(dalo_var v, int64_t c) try {
    return wrap_new(expr_of(c, {var_term(1, v)}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_sub_int_var(int64_t c, dalo_var v) try {
    return wrap_new(expr_of(c, {var_term(-1, v)}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_add_term_term(const dalo_term* t1, const dalo_term* t2) try {
    return wrap_new(expr_of(0, {copy_term(ref(t1)), copy_term(ref(t2))}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_add_term_term_ml(dalo_term* t1, const dalo_term* t2) try {
    return wrap_new(expr_of(0, {take(t1), copy_term(ref(t2))}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_add_term_term_mm(dalo_term* t1, dalo_term* t2) try {
    return wrap_new(expr_of(0, {take(t1), take(t2)}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_sub_term_term(const dalo_term* t1, const dalo_term* t2) try {
    return wrap_new(expr_of(0, {copy_term(ref(t1)), negated(copy_term(ref(t2)))}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_add_term_var(const dalo_term* t, dalo_var v) try {
    return wrap_new(expr_of(0, {copy_term(ref(t)), var_term(1, v)}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_add_term_int(const dalo_term* t, int64_t c) try {
    return wrap_new(expr_of(c, {copy_term(ref(t))}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_sub_int_term(int64_t c, const dalo_term* t) try {
    return wrap_new(expr_of(c, {negated(copy_term(ref(t)))}));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_from_bulk(int64_t constant, uint64_t n, const int32_t* coeffs,
                                      const uint32_t* degrees, const dalo_var* vars) try {
    ExprImpl e;
    expr_iadd_bulk(e, constant, n, coeffs, degrees, vars);
    return wrap_new(std::move(e));
}
DALO_RECOVER

dalo_expr* dalo_expr_clone(const dalo_expr* e) try { return wrap(new ExprImpl(*unwrap(e))); }
DALO_RECOVER

void dalo_expr_destroy(dalo_expr* e) { delete unwrap(e); }

// ---- in-place arithmetic ----

void dalo_expr_iadd_int(dalo_expr* e, int64_t c) try { expr_iadd_int(*unwrap(e), c); }
DALO_RECOVER_VOID
void dalo_expr_isub_int(dalo_expr* e, int64_t c) try { expr_isub_int(*unwrap(e), c); }
DALO_RECOVER_VOID
void dalo_expr_iadd_var(dalo_expr* e, dalo_var v) try {
    expr_iadd_term(*unwrap(e), var_term(1, v));
}
DALO_RECOVER_VOID
void dalo_expr_isub_var(dalo_expr* e, dalo_var v) try {
    expr_isub_term(*unwrap(e), var_term(1, v));
}
DALO_RECOVER_VOID
void dalo_expr_iadd_term(dalo_expr* e, const dalo_term* t) try {
    expr_iadd_term(*unwrap(e), copy_term(ref(t)));
}
DALO_RECOVER_VOID
void dalo_expr_iadd_term_move(dalo_expr* e, dalo_term* t) try {
    expr_iadd_term(*unwrap(e), take(t));
}
DALO_RECOVER_VOID
void dalo_expr_isub_term(dalo_expr* e, const dalo_term* t) try {
    expr_isub_term(*unwrap(e), copy_term(ref(t)));
}
DALO_RECOVER_VOID
void dalo_expr_iadd_raw_term(dalo_expr* e, int64_t coeff, const dalo_var* vars, uint64_t n) try {
    expr_iadd_raw(*unwrap(e), coeff, vars, n);
}
DALO_RECOVER_VOID
void dalo_expr_isub_raw_term(dalo_expr* e, int64_t coeff, const dalo_var* vars, uint64_t n) try {
    expr_isub_term(*unwrap(e), raw_term(coeff, vars, n));
}
DALO_RECOVER_VOID
void dalo_expr_iadd_move_term(dalo_expr* e, int64_t coeff, uint64_t slots, dalo_var* tail) try {
    expr_iadd_moved(*unwrap(e), moved_term(coeff, slots, tail));
}
DALO_RECOVER_VOID
void dalo_expr_isub_move_term(dalo_expr* e, int64_t coeff, uint64_t slots, dalo_var* tail) try {
    expr_isub_term(*unwrap(e), moved_term(coeff, slots, tail));
}
DALO_RECOVER_VOID
void dalo_expr_iadd_expr(dalo_expr* a, const dalo_expr* b) try {
    expr_iadd_expr(*unwrap(a), *unwrap(b));
}
DALO_RECOVER_VOID
void dalo_expr_isub_expr(dalo_expr* a, const dalo_expr* b) try {
    expr_isub_expr(*unwrap(a), *unwrap(b));
}
DALO_RECOVER_VOID
void dalo_expr_iadd_terms_bulk(dalo_expr* e, int64_t constant, uint64_t n, const int32_t* coeffs,
                               const uint32_t* degrees, const dalo_var* vars) try {
    expr_iadd_bulk(*unwrap(e), constant, n, coeffs, degrees, vars);
}
DALO_RECOVER_VOID
void dalo_expr_imul_int(dalo_expr* e, int64_t k) try { expr_imul_int(*unwrap(e), k); }
DALO_RECOVER_VOID
void dalo_expr_imul_var(dalo_expr* e, dalo_var v) try {
    expr_imul_term(*unwrap(e), var_term(1, v), AttrOp::MulVar);
}
DALO_RECOVER_VOID
void dalo_expr_imul_term_direct(dalo_expr* e, int64_t coeff, uint64_t slots,
                                const dalo_var* tail) try {
    TermImpl t = copied_term(coeff, slots, tail);
    expr_imul_term(*unwrap(e), t, AttrOp::MulTerm);
    free_tail(t.vars);
}
DALO_RECOVER_VOID
void dalo_expr_imul_expr(dalo_expr* a, const dalo_expr* b) try {
    expr_imul_expr(*unwrap(a), *unwrap(b));
}
DALO_RECOVER_VOID
void dalo_expr_idiv_int(dalo_expr* e, int64_t k) try { expr_idiv_int(*unwrap(e), k); }
DALO_RECOVER_VOID
void dalo_expr_negate(dalo_expr* e) try { expr_negate(*unwrap(e)); }
DALO_RECOVER_VOID

// ---- new values ----

dalo_expr* dalo_expr_clone_add_int(const dalo_expr* e, int64_t c) try {
    return wrap_new(expr_clone_add_int(*unwrap(e), c));
}
DALO_RECOVER
dalo_expr* dalo_expr_clone_add_var(const dalo_expr* e, dalo_var v) try {
    return wrap_new(expr_clone_add_var(*unwrap(e), v));
}
DALO_RECOVER
dalo_expr* dalo_expr_clone_add_term(const dalo_expr* e, const dalo_term* t) try {
    return wrap_new(expr_clone_add_term(*unwrap(e), ref(t)));
}
DALO_RECOVER
dalo_expr* dalo_expr_clone_add_expr(const dalo_expr* a, const dalo_expr* b) try {
    return wrap_new(expr_clone_add_expr(*unwrap(a), *unwrap(b)));
}
DALO_RECOVER
dalo_expr* dalo_expr_clone_sub_int(const dalo_expr* e, int64_t c) try {
    return wrap_new(expr_clone_sub_int(*unwrap(e), c));
}
DALO_RECOVER
dalo_expr* dalo_expr_clone_sub_var(const dalo_expr* e, dalo_var v) try {
    return wrap_new(expr_clone_sub_term(*unwrap(e), var_term(1, v)));
}
DALO_RECOVER
dalo_expr* dalo_expr_clone_sub_term(const dalo_expr* e, const dalo_term* t) try {
    return wrap_new(expr_clone_sub_term(*unwrap(e), copy_term(ref(t))));
}
DALO_RECOVER
dalo_expr* dalo_expr_clone_sub_expr(const dalo_expr* a, const dalo_expr* b) try {
    return wrap_new(expr_clone_sub_expr(*unwrap(a), *unwrap(b)));
}
DALO_RECOVER
dalo_expr* dalo_expr_clone_mul_int(const dalo_expr* e, int64_t k) try {
    return wrap_new(expr_clone_mul_int(*unwrap(e), k));
}
DALO_RECOVER
dalo_expr* dalo_expr_mul_expr(const dalo_expr* a, const dalo_expr* b) try {
    return wrap_new(expr_mul_expr(*unwrap(a), *unwrap(b)));
}
DALO_RECOVER
dalo_expr* dalo_expr_sqr(const dalo_expr* a) try { return wrap_new(expr_sqr(*unwrap(a))); }
DALO_RECOVER

// ---- queries ----

int64_t dalo_expr_constant(const dalo_expr* e, int64_t* out) try {
    return store_out(out, unwrap(e)->constant);
}
DALO_RECOVER
uint32_t dalo_expr_attr(const dalo_expr* e) try { return unwrap(e)->attr; }
DALO_RECOVER
uint64_t dalo_expr_term_count(const dalo_expr* e) try { return unwrap(e)->term_count(); }
DALO_RECOVER
const dalo_term* dalo_expr_term_at(const dalo_expr* e, uint64_t i) try {
    return wrap(&expr_term_checked(*unwrap(e), i));
}
DALO_RECOVER
void dalo_expr_term_at_data(const dalo_expr* e, uint64_t i, int64_t* coeff, uint64_t* slots,
                            const dalo_var** tail) try {
    const TermImpl& t = expr_term_checked(*unwrap(e), i);
    store_out(coeff, t.coeff);
    if (slots != nullptr) *slots = pack_slots(t.vars);
    if (tail != nullptr) *tail = t.vars.tail;
}
DALO_RECOVER_VOID
uint64_t dalo_expr_term_count_degree(const dalo_expr* e, uint64_t d) try {
    return expr_count_degree(*unwrap(e), d);
}
DALO_RECOVER
uint64_t dalo_expr_max_degree(const dalo_expr* e) try { return expr_max_degree(*unwrap(e)); }
DALO_RECOVER
int dalo_expr_has(const dalo_expr* e, dalo_var v) try { return expr_has(*unwrap(e), v) ? 1 : 0; }
DALO_RECOVER
int dalo_expr_has_int_atom(const dalo_expr* e) try { return expr_has_int_atom(*unwrap(e)) ? 1 : 0; }
DALO_RECOVER
int64_t dalo_expr_gcd(const dalo_expr* e, int64_t* out) try {
    return store_out(out, expr_gcd(*unwrap(e)));
}
DALO_RECOVER

uint64_t dalo_comp_coeffs_count(int64_t lo, int64_t hi) try {
    return range_coeffs(lo, hi, nullptr);
}
DALO_RECOVER
void dalo_comp_coeffs(int64_t lo, int64_t hi, int32_t* out) try { range_coeffs(lo, hi, out); }
DALO_RECOVER_VOID

const char* dalo_expr_str(const dalo_expr* e) try {
    std::string& out = text_buffers().expr;
    out.clear();
    append_expr(out, *unwrap(e));
    return out.c_str();
}
DALO_RECOVER

}  // extern "C"

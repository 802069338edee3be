#include "constraints/arith.hpp"

namespace dalo {

void expr_iadd_int(ExprImpl& e, int64_t c) {
    e.attr = attr_other(e, AttrOp::AddSubConst);
    poly_iadd_int(e, c);
}

void expr_isub_int(ExprImpl& e, int64_t c) {
    e.attr = attr_other(e, AttrOp::AddSubConst);
    poly_isub_int(e, c);
}

void expr_iadd_term(ExprImpl& e, TermImpl owned) {
    e.attr = attr_add_term(e, owned);
    poly_iadd_term(e, owned);
}

void expr_iadd_raw_general(ExprImpl& e, int64_t coeff, const Var* vars, uint64_t n) {
    expr_iadd_term(e, raw_term(coeff, vars, n));
}

void expr_iadd_moved(ExprImpl& e, TermImpl owned) {
    e.attr = attr_other(e, AttrOp::SubOrMoved);
    poly_iadd_term(e, owned);
}

void expr_isub_term(ExprImpl& e, TermImpl owned) {
    e.attr = attr_other(e, AttrOp::SubOrMoved);
    poly_isub_term(e, owned);
}

namespace {

// a += b or a -= b; in_place tells the attribute rules whether a is the caller's object.
void add_expr(ExprImpl& a, const ExprImpl& b, bool subtract, bool in_place) {
    if (&a == &b) {
        const ExprImpl copy(b, b.attr);  // a temporary: the record is not shared by it
        add_expr(a, copy, subtract, in_place);
        return;
    }
    a.attr = subtract ? attr_sub_expr(a, b, in_place) : attr_add_expr(a, b, in_place);
    if (subtract) {
        poly_isub_expr(a, b);
    } else {
        poly_iadd_expr(a, b);
    }
}

}  // namespace

void expr_iadd_expr(ExprImpl& a, const ExprImpl& b) { add_expr(a, b, false, true); }

void expr_isub_expr(ExprImpl& a, const ExprImpl& b) { add_expr(a, b, true, true); }

void expr_iadd_bulk(ExprImpl& e, int64_t constant, uint64_t n, const coeff_t* coeffs,
                    const uint32_t* degrees, const Var* vars) {
    e.attr = attr_other(e, AttrOp::SubOrMoved);
    poly_iadd_bulk(e, constant, n, coeffs, degrees, vars);
}

void expr_imul_int(ExprImpl& e, int64_t k) {
    e.attr = attr_scale(e, k);
    poly_imul_int(e, k);
}

void expr_negate(ExprImpl& e) {
    e.attr = attr_scale(e, -1);
    poly_negate(e);
}

void expr_idiv_int(ExprImpl& e, int64_t k) {
    const uint32_t word = attr_other(e, AttrOp::Div);
    poly_idiv_int(e, k);  // may refuse: the word is taken only once the division is done
    e.attr = word;
}

void expr_imul_term(ExprImpl& e, const TermImpl& t, AttrOp op) {
    const uint32_t word = attr_other(e, op);
    poly_imul_term(e, t);
    e.attr = word;
}

void expr_imul_expr(ExprImpl& a, const ExprImpl& b) {
    attr_other(a, AttrOp::MulExprLeft);
    attr_other(b, AttrOp::MulExprRight);
    ExprImpl r = expr_mul_expr(a, b);
    a.swap(r);
}

ExprImpl expr_mul_expr(const ExprImpl& a, const ExprImpl& b) {
    attr_other(a, AttrOp::MulExpr);
    attr_other(b, AttrOp::MulExpr);
    return poly_mul(a, b);
}

ExprImpl expr_sqr(const ExprImpl& a) {
    attr_other(a, AttrOp::Sqr);
    return poly_sqr(a);
}

// ---- copies ----

namespace {

// A copy of e that carries the word already decided for the result.
ExprImpl copy_as(const ExprImpl& e, uint32_t word) {
    mark_word_shared(word);
    return ExprImpl(e, word);
}

}  // namespace

ExprImpl expr_clone_add_int(const ExprImpl& e, int64_t c) {
    ExprImpl r = copy_as(e, attr_other(e, AttrOp::CloneAddConst, c));
    poly_iadd_int(r, c);
    return r;
}

ExprImpl expr_clone_sub_int(const ExprImpl& e, int64_t c) {
    ExprImpl r = copy_as(e, attr_other(e, AttrOp::AddSubConst));
    poly_isub_int(r, c);
    return r;
}

ExprImpl expr_clone_add_var(const ExprImpl& e, Var v) {
    ExprImpl r = copy_as(e, attr_other(e, AttrOp::SubOrMoved));
    poly_iadd_term(r, var_term(1, v));
    return r;
}

ExprImpl expr_clone_add_term(const ExprImpl& e, const TermImpl& t) {
    ExprImpl r(e);
    expr_iadd_term(r, copy_term(t));
    return r;
}

ExprImpl expr_clone_sub_term(const ExprImpl& e, TermImpl owned) {
    ExprImpl r = copy_as(e, attr_other(e, AttrOp::SubOrMoved));
    poly_isub_term(r, owned);
    return r;
}

ExprImpl expr_clone_add_expr(const ExprImpl& a, const ExprImpl& b) {
    ExprImpl r(a, a.attr);
    add_expr(r, b, false, false);
    return r;
}

ExprImpl expr_clone_sub_expr(const ExprImpl& a, const ExprImpl& b) {
    ExprImpl r(a, a.attr);
    add_expr(r, b, true, false);
    return r;
}

ExprImpl expr_clone_mul_int(const ExprImpl& e, int64_t k) {
    ExprImpl r(e, e.attr);
    expr_imul_int(r, k);
    return r;
}

}  // namespace dalo

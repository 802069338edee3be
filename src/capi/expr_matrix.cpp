// Quadratic forms from integer matrices.
#include "core/expr_matrix.hpp"
#include "capi/handles.hpp"
#include "model/model.hpp"

using namespace dalo;

extern "C" {

dalo_expr* dalo_expr_create_quadratic_i64(const dalo_var* x, uint64_t n, const int64_t* q,
                                          int64_t row_stride, int64_t col_stride,
                                          uint64_t* wrapped) try {
    return wrap_new(
        expr_from_matrix(x, n, MatrixView<int64_t>{q, row_stride, col_stride}, wrapped));
}
DALO_RECOVER

dalo_expr* dalo_expr_create_quadratic_i32(const dalo_var* x, uint64_t n, const int32_t* q,
                                          int64_t row_stride, int64_t col_stride,
                                          uint64_t* wrapped) try {
    return wrap_new(
        expr_from_matrix(x, n, MatrixView<int32_t>{q, row_stride, col_stride}, wrapped));
}
DALO_RECOVER

dalo_model* dalo_model_create_quadratic_i64(const dalo_var* x, uint64_t n, const int64_t* q,
                                            int64_t row_stride, int64_t col_stride,
                                            uint64_t* wrapped) try {
    return wrap(new ModelHandle(
        model_from_matrix(x, n, MatrixView<int64_t>{q, row_stride, col_stride}, wrapped)));
}
DALO_RECOVER

dalo_model* dalo_model_create_quadratic_i32(const dalo_var* x, uint64_t n, const int32_t* q,
                                            int64_t row_stride, int64_t col_stride,
                                            uint64_t* wrapped) try {
    return wrap(new ModelHandle(
        model_from_matrix(x, n, MatrixView<int32_t>{q, row_stride, col_stride}, wrapped)));
}
DALO_RECOVER

dalo_model* dalo_model_create_quadratic_coo(const dalo_var* x, uint64_t n, const int64_t* i,
                                            const int64_t* j, const int64_t* w, uint64_t count,
                                            uint64_t* wrapped) try {
    return wrap(new ModelHandle(model_from_pairs(x, n, nullptr, i, j, w, count, wrapped)));
}
DALO_RECOVER

dalo_model* dalo_model_create_quadratic_vectors(const dalo_var* x, uint64_t n,
                                                const int64_t* linear, const int64_t* i,
                                                const int64_t* j, const int64_t* w, uint64_t count,
                                                uint64_t* wrapped) try {
    return wrap(new ModelHandle(model_from_pairs(x, n, linear, i, j, w, count, wrapped)));
}
DALO_RECOVER

}  // extern "C"

// ILP export: the build, its per-thread last error, accessors and the file writers.
#include <memory>
#include <string>

#include "capi/handles.hpp"
#include "ilp/ilp.hpp"
#include "model/queries.hpp"

using namespace dalo;

namespace {

thread_local std::string t_last_error;

const IlpImpl& ilp_of(const dalo_ilp* p) { return *reinterpret_cast<const IlpImpl*>(p); }

const IlpCol& col_of(const dalo_ilp* p, uint32_t col, const char* who) {
    check_index(col, ilp_of(p).cols.size(), who);
    return ilp_of(p).cols[col];
}

const IlpRow& row_of(const dalo_ilp* p, uint64_t row, const char* who) {
    check_index(row, ilp_of(p).rows.size(), who);
    return ilp_of(p).rows[row];
}

template <class T>
void store(T* out, T v) {
    if (out != nullptr) *out = v;
}

int write_with(bool (*writer)(const IlpImpl&, const char*, std::string&), const dalo_ilp* p,
               const char* path) {
    t_last_error.clear();
    return writer(ilp_of(p), path, t_last_error) ? 0 : -1;
}

}  // namespace

extern "C" {

dalo_ilp* dalo_model_ilp_build(const dalo_model* m) try {
    std::unique_ptr<IlpImpl> ilp = ilp_build(**unwrap(m), ilp_registered_varints(), t_last_error);
    return reinterpret_cast<dalo_ilp*>(ilp.release());
}
DALO_RECOVER
const char* dalo_ilp_last_error(void) { return t_last_error.c_str(); }
void dalo_ilp_destroy(dalo_ilp* p) { delete reinterpret_cast<IlpImpl*>(p); }

uint32_t dalo_ilp_ncols(const dalo_ilp* p) try {
    return static_cast<uint32_t>(ilp_of(p).cols.size());
}
DALO_RECOVER
uint8_t dalo_ilp_col_kind(const dalo_ilp* p, uint32_t col) try {
    return col_of(p, col, "dalo_ilp_col_kind").kind;
}
DALO_RECOVER
uint32_t dalo_ilp_col_model_var(const dalo_ilp* p, uint32_t col) try {
    return col_of(p, col, "dalo_ilp_col_model_var").model_var;
}
DALO_RECOVER
void dalo_ilp_col_bounds(const dalo_ilp* p, uint32_t col, int64_t* lower, int64_t* upper) try {
    const IlpCol& c = col_of(p, col, "dalo_ilp_col_bounds");
    store(lower, c.lower);
    store(upper, c.upper);
}
DALO_RECOVER_VOID
uint32_t dalo_ilp_col_nbits(const dalo_ilp* p, uint32_t col) try {
    return static_cast<uint32_t>(col_of(p, col, "dalo_ilp_col_nbits").bit_vars.size());
}
DALO_RECOVER
uint32_t dalo_ilp_col_bit_var(const dalo_ilp* p, uint32_t col, uint32_t k) try {
    const IlpCol& c = col_of(p, col, "dalo_ilp_col_bit_var");
    check_index(k, c.bit_vars.size(), "dalo_ilp_col_bit_var");
    return c.bit_vars[k];
}
DALO_RECOVER
int64_t dalo_ilp_col_bit_coeff(const dalo_ilp* p, uint32_t col, uint32_t k, int64_t* out) try {
    const IlpCol& c = col_of(p, col, "dalo_ilp_col_bit_coeff");
    check_index(k, c.bit_coeffs.size(), "dalo_ilp_col_bit_coeff");
    return store_out(out, c.bit_coeffs[k]);
}
DALO_RECOVER
void dalo_ilp_col_decode(const dalo_ilp* p, uint32_t col, int64_t value, uint8_t* out) try {
    ilp_col_decode(col_of(p, col, "dalo_ilp_col_decode"), value, out);
}
DALO_RECOVER_VOID
const char* dalo_ilp_col_name(const dalo_ilp* p, uint32_t col) try {
    check_index(col, ilp_of(p).cols.size(), "dalo_ilp_col_name");
    return ilp_of(p).names[col].c_str();
}
DALO_RECOVER
int64_t dalo_ilp_obj(const dalo_ilp* p, uint32_t col, int64_t* out) try {
    check_index(col, ilp_of(p).cols.size(), "dalo_ilp_obj");
    return store_out(out, ilp_of(p).obj[col]);
}
DALO_RECOVER
int64_t dalo_ilp_obj_constant(const dalo_ilp* p, int64_t* out) try {
    return store_out(out, ilp_of(p).obj_constant);
}
DALO_RECOVER

uint64_t dalo_ilp_nrows(const dalo_ilp* p) try { return ilp_of(p).rows.size(); }
DALO_RECOVER
uint64_t dalo_ilp_row_nnz(const dalo_ilp* p, uint64_t row) try {
    return row_of(p, row, "dalo_ilp_row_nnz").cols.size();
}
DALO_RECOVER
uint32_t dalo_ilp_row_col(const dalo_ilp* p, uint64_t row, uint64_t k) try {
    const IlpRow& r = row_of(p, row, "dalo_ilp_row_col");
    check_index(k, r.cols.size(), "dalo_ilp_row_col");
    return r.cols[k];
}
DALO_RECOVER
int64_t dalo_ilp_row_coeff(const dalo_ilp* p, uint64_t row, uint64_t k, int64_t* out) try {
    const IlpRow& r = row_of(p, row, "dalo_ilp_row_coeff");
    check_index(k, r.coeffs.size(), "dalo_ilp_row_coeff");
    return store_out(out, r.coeffs[k]);
}
DALO_RECOVER
void dalo_ilp_row_bounds(const dalo_ilp* p, uint64_t row, int64_t* lower, int64_t* upper,
                         uint32_t* lower_implied, uint32_t* upper_implied) try {
    const IlpRow& r = row_of(p, row, "dalo_ilp_row_bounds");
    store(lower, r.lower);
    store(upper, r.upper);
    store(lower_implied, uint32_t{r.lower_implied});
    store(upper_implied, uint32_t{r.upper_implied});
}
DALO_RECOVER_VOID

int dalo_ilp_write_lp(const dalo_ilp* p, const char* path) try {
    return write_with(ilp_write_lp, p, path);
}
DALO_RECOVER
int dalo_ilp_write_mps(const dalo_ilp* p, const char* path) try {
    return write_with(ilp_write_mps, p, path);
}
DALO_RECOVER

}  // extern "C"

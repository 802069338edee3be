/*
 * dalo: modelling polynomial optimisation problems over binary variables (QUBO and its
 * higher-order form).
 *
 * This header is the whole public interface of dalo_c32e64m0.so. It compiles as C99 and C++.
 *
 * Conventions that hold for every family below:
 *   - Objects are opaque handles allocated by the library. Functions named _create or _clone,
 *     and operations that return a new value, return an owned handle: release it exactly once
 *     with the family's _destroy function. Every _destroy accepts NULL and then does nothing.
 *   - Functions named _iadd_, _isub_, _imul_, _idiv_, _negate or _set... change their first
 *     argument in place.
 *   - Variables are plain 32-bit identifiers (dalo_var). Coefficients are 32-bit in this build
 *     and constants and energies 64-bit; both cross the interface as int64_t, coefficients
 *     being truncated to 32 bits (two's complement) where they are stored.
 *   - Misuse is fatal by default: the library writes "dalo: " + message + end of line to
 *     standard error, flushes it and aborts ("Aborts if:" below). A thread can keep errors
 *     instead (dalo_set_error_mode, under Errors). Only the standard allocation and length
 *     errors may propagate out of a call (as C++ exceptions).
 *   - Returned text points into library storage: a registry string (valid until
 *     dalo_var_reset) or a per-thread buffer overwritten by the next call of the same kind on
 *     the same thread.
 *   - Independent objects may be used from different threads at once; one object must not be
 *     changed by two threads at once. Registries may be read while other threads create
 *     variables; dalo_var_reset must not run while other threads use variables.
 *
 * Environment: DALO_NUM_THREADS (a positive decimal integer) sets the number of threads the
 * library may use; it is read once, on first need. Without it the hardware concurrency is used.
 */
#ifndef DALO_H
#define DALO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__) || defined(__clang__)
#define DALO_API __attribute__((visibility("default")))
#else
#define DALO_API
#endif

/* Variable identifier: bits 0-29 index, bit 30 an integer atom, bit 31 a negated binary
 * literal (the complement 1 - x of binary variable x). */
typedef uint32_t dalo_var;

#define DALO_NO_VAR ((dalo_var)0xFFFFFFFFu)  /* empty slot; never a variable */
#define DALO_INT_BIT ((dalo_var)0x40000000u) /* set in integer-variable identifiers */
#define DALO_NEG_BIT ((dalo_var)0x80000000u) /* set in negated binary literals */
#define DALO_ATTR_PLAIN 0xFFFFFFFFu          /* attribute word of a plain expression */

/* A term: coefficient times a product of variables. */
typedef struct dalo_term dalo_term;
/* An expression: a constant plus a sequence of terms, with an attribute word. */
typedef struct dalo_expr dalo_expr;
/* A compiled, immutable Model, held through a shared handle. */
typedef struct dalo_model dalo_model;
/* One assignment of values to the variables of a Model, with a cached energy. */
typedef struct dalo_sol dalo_sol;

/* N-dimensional arrays of variables, integers (32-bit), terms and expressions. */
typedef struct dalo_array_var dalo_array_var;
typedef struct dalo_array_int dalo_array_int;
typedef struct dalo_array_term dalo_array_term;
typedef struct dalo_array_expr dalo_array_expr;

/* A solver wrapper of each family, and the result of a search (shared by the three). */
typedef struct dalo_brisk_solver_wrapper dalo_brisk_solver_wrapper;
typedef struct dalo_sweep_wrapper dalo_sweep_wrapper;
typedef struct dalo_kelp_wrapper dalo_kelp_wrapper;
typedef struct dalo_solver_result dalo_solver_result;

/* An integer linear program built from a Model, for MIP solvers. */
typedef struct dalo_ilp dalo_ilp;

/* Search parameters: (key, value) pairs of NUL-terminated strings, ended by a pair whose key
 * is NULL; a NULL array means no parameters. */
typedef struct dalo_param {
    const char* key;
    const char* value;
} dalo_param;

/* Host callback of the KELPSolver wrapper: (context, a new Sol that the host owns and must
 * destroy, event: 0 start, 1 new best, 2 timer). A positive return sets the timer interval in
 * seconds, 0 switches the timer off, a negative value changes nothing. */
typedef double (*dalo_solver_callback)(void* context, dalo_sol* sol, uint32_t event);

/* A growable array of 64-bit words handed between the library and its caller:
 * {begin, end, capacity}. The block it describes is allocated with malloc() and released
 * with free(); an empty record is three null pointers. */
typedef struct dalo_u64_vector {
    uint64_t* begin;
    uint64_t* end;
    uint64_t* capacity;
} dalo_u64_vector;

/* ======================================================================================
 * Errors
 *
 * Each thread has an error mode. In DALO_ERRORS_ABORT (the default) misuse ends the process
 * as described above. In DALO_ERRORS_KEEP a call that detects misuse changes nothing, writes
 * nothing and returns at once: NULL for a handle or text, 0 for a number or flag, nothing
 * for void (out-arguments are left alone). Its message, the line the default mode would
 * write without the end of line ("dalo: ..."), stays the thread's last error until the next
 * failure or dalo_clear_error; successful calls leave it. Misuse found by the library's
 * worker threads or inside a solver plug-in reaches the calling thread the same way. The
 * mode of one thread never changes another's; worker threads follow the caller.
 * ==================================================================================== */

#define DALO_ERRORS_ABORT 0
#define DALO_ERRORS_KEEP 1

/* Sets the calling thread's error mode; returns the previous one.
 * Aborts if: mode is neither DALO_ERRORS_ABORT nor DALO_ERRORS_KEEP. */
DALO_API int dalo_set_error_mode(int mode);

/* The calling thread's error mode. */
DALO_API int dalo_error_mode(void);

/* The calling thread's last error, or NULL when none is kept; valid until the next failure
 * or dalo_clear_error on this thread. */
DALO_API const char* dalo_last_error(void);

/* Forgets the calling thread's last error. */
DALO_API void dalo_clear_error(void);

/* Runs on the calling thread after each failure kept in DALO_ERRORS_KEEP, with the message
 * and the context; NULL removes it. A C++ host may throw from it: the exception leaves the
 * failing call, which has changed nothing. One handler per thread. */
typedef void (*dalo_error_handler)(const char* message, void* context);
DALO_API void dalo_set_error_handler(dalo_error_handler handler, void* context);

/* ======================================================================================
 * Variables and integer variables
 *
 * Binary variables are numbered densely from 0 in creation order; integer variables have
 * their own index space, and their identifiers carry DALO_INT_BIT. A null or empty name asks
 * for an automatic name "{n}" (n from a process-wide counter that is never reset). Names need
 * not be unique. Creation locks the registry; counts and names are read without a lock.
 * ==================================================================================== */

/* New binary variable; returns its identifier.
 * Aborts if: 2^30 - 1 binary variables exist already. */
DALO_API dalo_var dalo_new_var(const char* name);

/* product(shape[ndim]) consecutive binary variables (one when ndim = 0) named as array
 * elements ("x[1][2]"); returns the first identifier; element k (row-major) is first + k.
 * Aborts if: the binary index space (2^30 - 1 variables) would be exceeded. */
DALO_API dalo_var dalo_new_var_array(const char* name, const uint64_t* shape, uint64_t ndim);

/* Number of binary variables created. */
DALO_API uint64_t dalo_var_count(void);

/* Binary variables plus, over all integer variables, the bit width of hi - lo. */
DALO_API uint64_t dalo_used_var_count(void);

/* New integer variable with range [lo, hi]; the identifier has DALO_INT_BIT set.
 * Aborts if: lo >= hi; the integer index space (2^30 - 1) is full. */
DALO_API dalo_var dalo_new_int_var(const char* name, int64_t lo, int64_t hi);

/* product(shape[ndim]) integer variables sharing [lo, hi]; returns the first identifier.
 * Aborts if: lo >= hi; the integer index space would be exceeded. */
DALO_API dalo_var dalo_new_int_var_array(const char* name, const uint64_t* shape, uint64_t ndim,
                                         int64_t lo, int64_t hi);

/* Number of integer-variable indices created. */
DALO_API uint32_t dalo_int_var_count(void);

/* Writes the bounds of an integer variable.
 * Aborts if: id is not an existing integer-variable identifier. */
DALO_API void dalo_int_var_bounds(dalo_var id, int64_t* lo, int64_t* hi);

/* Display name: the name ("x"), "~x" for a negated literal, "x[i][j]" for array elements,
 * "?" for an unknown identifier. Plain names point into the registry (valid until
 * dalo_var_reset); array-element names live in a per-thread buffer. */
DALO_API const char* dalo_var_str(dalo_var id);

/* A fresh automatic name "{n}" without creating a variable (per-thread buffer). */
DALO_API const char* dalo_auto_var_name(void);

/* Forgets every binary and integer variable. Identifiers handed out earlier become
 * meaningless; automatic names continue their numbering. */
DALO_API void dalo_var_reset(void);

/* ======================================================================================
 * Terms
 *
 * The variables of a term sit in two inline slots and a heap tail: the third and later
 * identifiers followed by DALO_NO_VAR. A tail handed to a _move function must come from
 * malloc(); the library then owns it and releases it with free(). Slots cross the interface
 * packed into one 64-bit word: slot0 in the low 32 bits, slot1 in the high 32 bits, an
 * empty slot being DALO_NO_VAR. Terms are never sorted or merged here.
 * ==================================================================================== */

/* coeff (no variable). Owned: release with dalo_term_destroy. */
DALO_API dalo_term* dalo_term_create(int64_t coeff);
/* coeff * v. */
DALO_API dalo_term* dalo_term_create_var(int64_t coeff, dalo_var v);
/* coeff * a * b; when a is DALO_NO_VAR, coeff * b. */
DALO_API dalo_term* dalo_term_create_var_var(int64_t coeff, dalo_var a, dalo_var b);
/* coeff times the variables of the packed slots and, when both slots are filled, of the
 * tail (copied through its terminator; may be NULL). */
DALO_API dalo_term* dalo_term_create_vararray(int64_t coeff, uint64_t slots, const dalo_var* tail);
DALO_API dalo_term* dalo_term_clone(const dalo_term* t);
DALO_API void dalo_term_destroy(dalo_term* t);

/* Appends v to the variables of t. */
DALO_API void dalo_term_mul_var(dalo_term* t, dalo_var v);
/* coeff *= k (32-bit, wrapping). */
DALO_API void dalo_term_mul_coeff(dalo_term* t, int64_t k);
/* New term a * b: coefficient product, variables of a then those of b. */
DALO_API dalo_term* dalo_term_mul_term(const dalo_term* a, const dalo_term* b);
/* a = a * b; b is unchanged. */
DALO_API void dalo_term_mul_term_move(dalo_term* a, const dalo_term* b);
DALO_API void dalo_term_negate(dalo_term* t);
/* Divides the coefficient by k.
 * Aborts if: k = 0 ("Division by zero"); k does not divide it ("Indivisible division in Term"). */
DALO_API void dalo_term_div_coeff(dalo_term* t, int64_t k);

/* Coefficient, also stored through out when out is not NULL. */
DALO_API int64_t dalo_term_coeff(const dalo_term* t, int64_t* out);
DALO_API uint64_t dalo_term_degree(const dalo_term* t);
/* Identifier at position i (0 and 1 inline, then the tail).
 * Aborts if: i >= degree. */
DALO_API dalo_var dalo_term_var_at(const dalo_term* t, uint64_t i);

/* Term text: "3*x*y", "x*y", "-x", "5". Per-thread buffer. */
DALO_API const char* dalo_term_str(const dalo_term* t);

/* ======================================================================================
 * Expressions: construction
 *
 * Every constructor returns an owned plain expression (attribute DALO_ATTR_PLAIN): release
 * it with dalo_expr_destroy. Term 0 is stored inline; an appended term lands in the inline
 * slot while that slot's coefficient is 0, so a zero term appended there is invisible.
 * ==================================================================================== */

DALO_API dalo_expr* dalo_expr_create(void);
DALO_API dalo_expr* dalo_expr_create_int(int64_t c);
/* 1 * v */
DALO_API dalo_expr* dalo_expr_create_var(dalo_var v);
/* The term t. consume != 0: t is moved in and released (do not use it afterwards);
 * consume = 0: t is copied and stays the caller's. */
DALO_API dalo_expr* dalo_expr_create_term(dalo_term* t, int consume);
/* constant + coeff * vars[0] * ... * vars[n-1] (order kept). */
DALO_API dalo_expr* dalo_expr_create_raw_term(int64_t coeff, const dalo_var* vars, uint64_t n,
                                              int64_t constant);
/* constant + the term given as parts; the tail (malloc'd) is taken. */
DALO_API dalo_expr* dalo_expr_create_move_term(int64_t coeff, uint64_t slots, dalo_var* tail,
                                               int64_t constant);
/* coeff_a * vars_a[n_a] + coeff_b * vars_b[n_b]. */
DALO_API dalo_expr* dalo_expr_create_add_raw_terms(int64_t coeff_a, const dalo_var* vars_a,
                                                   uint64_t n_a, int64_t coeff_b,
                                                   const dalo_var* vars_b, uint64_t n_b);
/* a + b */
DALO_API dalo_expr* dalo_expr_create_add_var_var(dalo_var a, dalo_var b);
/* v + c */
DALO_API dalo_expr* dalo_expr_create_add_var_int(dalo_var v, int64_t c);
/* c - v */
DALO_API dalo_expr* dalo_expr_create_sub_int_var(int64_t c, dalo_var v);
/* t1 + t2 (both copied) */
DALO_API dalo_expr* dalo_expr_create_add_term_term(const dalo_term* t1, const dalo_term* t2);
/* t1 + t2: t1 moved in and released, t2 copied */
DALO_API dalo_expr* dalo_expr_create_add_term_term_ml(dalo_term* t1, const dalo_term* t2);
/* t1 + t2: both moved in and released */
DALO_API dalo_expr* dalo_expr_create_add_term_term_mm(dalo_term* t1, dalo_term* t2);
/* t1 - t2 */
DALO_API dalo_expr* dalo_expr_create_sub_term_term(const dalo_term* t1, const dalo_term* t2);
/* t + v */
DALO_API dalo_expr* dalo_expr_create_add_term_var(const dalo_term* t, dalo_var v);
/* t + c */
DALO_API dalo_expr* dalo_expr_create_add_term_int(const dalo_term* t, int64_t c);
/* c - t */
DALO_API dalo_expr* dalo_expr_create_sub_int_term(int64_t c, const dalo_term* t);
/* constant + n terms in compressed-row form, as dalo_expr_iadd_terms_bulk. */
DALO_API dalo_expr* dalo_expr_create_from_bulk(int64_t constant, uint64_t n, const int32_t* coeffs,
                                               const uint32_t* degrees, const dalo_var* vars);
/* Copy, attribute word included. */
DALO_API dalo_expr* dalo_expr_clone(const dalo_expr* e);
DALO_API void dalo_expr_destroy(dalo_expr* e);

/* ======================================================================================
 * Expressions: in-place arithmetic
 *
 * Addition appends terms and multiplication forms all products; nothing is sorted or merged
 * until a simplification runs. Coefficient arithmetic is 32-bit and wraps; constants are
 * 64-bit. Each operation decides the attribute word of its result first, and refuses the
 * operations that declared constraints forbid.
 * ==================================================================================== */

DALO_API void dalo_expr_iadd_int(dalo_expr* e, int64_t c);
DALO_API void dalo_expr_isub_int(dalo_expr* e, int64_t c);
/* e += 1 * v */
DALO_API void dalo_expr_iadd_var(dalo_expr* e, dalo_var v);
/* e += -1 * v */
DALO_API void dalo_expr_isub_var(dalo_expr* e, dalo_var v);
/* e += copy of t */
DALO_API void dalo_expr_iadd_term(dalo_expr* e, const dalo_term* t);
/* e += t; t is moved in and released */
DALO_API void dalo_expr_iadd_term_move(dalo_expr* e, dalo_term* t);
/* e += t with the coefficient negated */
DALO_API void dalo_expr_isub_term(dalo_expr* e, const dalo_term* t);
/* e += coeff * vars[0..n-1] */
DALO_API void dalo_expr_iadd_raw_term(dalo_expr* e, int64_t coeff, const dalo_var* vars,
                                      uint64_t n);
DALO_API void dalo_expr_isub_raw_term(dalo_expr* e, int64_t coeff, const dalo_var* vars,
                                      uint64_t n);
/* e += the term given as parts; the tail (malloc'd) is taken. */
DALO_API void dalo_expr_iadd_move_term(dalo_expr* e, int64_t coeff, uint64_t slots, dalo_var* tail);
DALO_API void dalo_expr_isub_move_term(dalo_expr* e, int64_t coeff, uint64_t slots, dalo_var* tail);
/* a += b (b's terms appended in its order; a and b may be the same object). */
DALO_API void dalo_expr_iadd_expr(dalo_expr* a, const dalo_expr* b);
DALO_API void dalo_expr_isub_expr(dalo_expr* a, const dalo_expr* b);
/* Adds constant and appends n terms to the tail (never into the inline slot): term k has
 * coefficient coeffs[k] and the degrees[k] identifiers that start in vars at offset
 * degrees[0] + ... + degrees[k-1]. Zero coefficients are stored as given. */
DALO_API void dalo_expr_iadd_terms_bulk(dalo_expr* e, int64_t constant, uint64_t n,
                                        const int32_t* coeffs, const uint32_t* degrees,
                                        const dalo_var* vars);
/* Constant and every coefficient times k; zero terms stay until simplification. */
DALO_API void dalo_expr_imul_int(dalo_expr* e, int64_t k);
/* e = e * v */
DALO_API void dalo_expr_imul_var(dalo_expr* e, dalo_var v);
/* e = e * t for the term given as parts (the tail is copied, not taken): constant * t first,
 * then every term of e times t. */
DALO_API void dalo_expr_imul_term_direct(dalo_expr* e, int64_t coeff, uint64_t slots,
                                         const dalo_var* tail);
/* a = a * b (as dalo_expr_mul_expr). */
DALO_API void dalo_expr_imul_expr(dalo_expr* a, const dalo_expr* b);
/* Divides constant and coefficients by k.
 * Aborts if: k = 0 ("Division by zero"); k does not divide the constant ("Indivisible
 * division in Expr constant") or a coefficient ("Indivisible division in Expr term"). */
DALO_API void dalo_expr_idiv_int(dalo_expr* e, int64_t k);
DALO_API void dalo_expr_negate(dalo_expr* e);

/* ======================================================================================
 * Expressions: operations returning a new expression (owned)
 * ==================================================================================== */

DALO_API dalo_expr* dalo_expr_clone_add_int(const dalo_expr* e, int64_t c);
DALO_API dalo_expr* dalo_expr_clone_add_var(const dalo_expr* e, dalo_var v);
DALO_API dalo_expr* dalo_expr_clone_add_term(const dalo_expr* e, const dalo_term* t);
DALO_API dalo_expr* dalo_expr_clone_add_expr(const dalo_expr* a, const dalo_expr* b);
DALO_API dalo_expr* dalo_expr_clone_sub_int(const dalo_expr* e, int64_t c);
DALO_API dalo_expr* dalo_expr_clone_sub_var(const dalo_expr* e, dalo_var v);
DALO_API dalo_expr* dalo_expr_clone_sub_term(const dalo_expr* e, const dalo_term* t);
DALO_API dalo_expr* dalo_expr_clone_sub_expr(const dalo_expr* a, const dalo_expr* b);
DALO_API dalo_expr* dalo_expr_clone_mul_int(const dalo_expr* e, int64_t k);
/* Product a * b, nothing merged. Constant a.c * b.c; terms: a.c * each term of b (when
 * a.c != 0), b.c * each term of a (when b.c != 0), then a_i * b_j at i * count(b) + j. */
DALO_API dalo_expr* dalo_expr_mul_expr(const dalo_expr* a, const dalo_expr* b);
/* Square of c + a_0 + ... + a_(n-1): constant c*c; row i holds a_i*a_i, then 2c*a_i (when
 * c != 0), then 2*a_i*a_j for every j > i. */
DALO_API dalo_expr* dalo_expr_sqr(const dalo_expr* a);

/* ======================================================================================
 * Expressions: queries
 * ==================================================================================== */

/* Constant, also stored through out when out is not NULL. */
DALO_API int64_t dalo_expr_constant(const dalo_expr* e, int64_t* out);
/* Attribute word: DALO_ATTR_PLAIN, or a link to constraint records. */
DALO_API uint32_t dalo_expr_attr(const dalo_expr* e);
/* Present terms: the tail count, plus one when the inline coefficient is non-zero. */
DALO_API uint64_t dalo_expr_term_count(const dalo_expr* e);
/* Term i in numbering order. Borrowed: valid until e changes.
 * Aborts if: i >= term count. */
DALO_API const dalo_term* dalo_expr_term_at(const dalo_expr* e, uint64_t i);
/* The parts of term i; *tail is borrowed (not copied). Any out pointer may be NULL.
 * Aborts if: i >= term count. */
DALO_API void dalo_expr_term_at_data(const dalo_expr* e, uint64_t i, int64_t* coeff,
                                     uint64_t* slots, const dalo_var** tail);
/* Number of present terms of degree d. */
DALO_API uint64_t dalo_expr_term_count_degree(const dalo_expr* e, uint64_t d);
/* Largest degree among present terms; 0 for a constant. */
DALO_API uint64_t dalo_expr_max_degree(const dalo_expr* e);
/* 1 when a present term contains v or its negated literal (bit 31 ignored), else 0. */
DALO_API int dalo_expr_has(const dalo_expr* e, dalo_var v);
/* 1 when a present term contains an integer-variable identifier, else 0. */
DALO_API int dalo_expr_has_int_atom(const dalo_expr* e);
/* gcd of |constant| and the non-zero |coefficients| (0 when all are 0), also stored through
 * out when out is not NULL. */
DALO_API int64_t dalo_expr_gcd(const dalo_expr* e, int64_t* out);

/* Number of binary coefficients for the range [lo, hi] (0 when hi - lo < 1).
 * Aborts if: a coefficient does not fit in 32 bits. */
DALO_API uint64_t dalo_comp_coeffs_count(int64_t lo, int64_t hi);
/* Writes them to out[dalo_comp_coeffs_count(lo, hi)]: 1, 2, 4, ... and a final remainder,
 * summing to hi - lo ([0, 10] gives 1, 2, 4, 3).
 * Aborts if: a coefficient does not fit in 32 bits. */
DALO_API void dalo_comp_coeffs(int64_t lo, int64_t hi, int32_t* out);

/* Expression text: "5 +3*x -2*y +x*y", "0" when empty. Per-thread buffer shared with
 * dalo_array_expr_str. */
DALO_API const char* dalo_expr_str(const dalo_expr* e);

/* ======================================================================================
 * Simplification
 *
 * Canonical form: variables sorted inside each term by the rotated identifier
 * (v << 1 | v >> 31: binary variables by index, each negated literal right after its
 * variable, integer atoms last), terms sorted by degree and then position by position, equal
 * products merged (32-bit wrapping sums), zero terms dropped, variable-free terms folded into
 * the constant; the first term is stored inline. Each function returns a new owned
 * expression and leaves its argument alone, except the one named in place. Constraint records
 * travel along: their bodies and free-form penalty are simplified the same way into new records.
 * Large inputs use several threads; the result does not depend on their number.
 * ==================================================================================== */

/* Plain rules: x*x stays x*x. */
DALO_API dalo_expr* dalo_expr_simplify(const dalo_expr* e);
/* Binary rules: x*x = x, ~x = 1 - x, x*~x = 0. Afterwards no term of degree 1 or 2 holds a
 * negated literal and no binary variable repeats within a term; integer atoms may repeat. */
DALO_API dalo_expr* dalo_expr_simplify_as_binary(const dalo_expr* e);
/* The same in place: e becomes dalo_expr_simplify_as_binary(e), records carried alike. Terms
 * of degree at most 2 over plain binary variables are rewritten in e's own term array, with
 * no second array; other forms cost what the copying function costs. */
DALO_API void dalo_expr_simplify_as_binary_inplace(dalo_expr* e);
/* Spin rules: s*s = 1, ~s = -s.
 * Aborts if: a term with a non-zero coefficient holds an integer variable. */
DALO_API dalo_expr* dalo_expr_simplify_as_spin(const dalo_expr* e);

/* ======================================================================================
 * Spin/binary conversion and reduction
 *
 * A variable keeps its identifier: read as x in {0, 1} on the binary side and as s in
 * {-1, +1} on the spin side, s = 2x - 1. Results are owned plain expressions.
 * Aborts if: the argument carries declared constraints; a term holds an integer variable.
 * ==================================================================================== */

/* 2^D times the input in spin form, D = its largest degree, spin-simplified. */
DALO_API dalo_expr* dalo_expr_binary_to_spin(const dalo_expr* e);
/* The same value in binary form, binary-simplified. */
DALO_API dalo_expr* dalo_expr_spin_to_binary(const dalo_expr* e);
/* Quadratic form: every term of degree 3 or more is replaced with new auxiliary binary
 * variables named "{rN}" (Freedman's rule for negative, Ishikawa's for positive
 * coefficients), so that the minimum over the auxiliary variables equals the input. */
DALO_API dalo_expr* dalo_expr_reduce(const dalo_expr* e);

/* ======================================================================================
 * Substitution, evaluation, binarization and reachable bounds
 * ==================================================================================== */

/* A new expression with every vars[i] replaced by repl[i] (the later pair wins for repeated
 * identifiers; ~x is not x). Not simplified; plain unless e carries declared constraints,
 * which are substituted too. */
DALO_API dalo_expr* dalo_expr_replace(const dalo_expr* e, const dalo_var* vars,
                                      const dalo_expr* const* repl, uint64_t n);
/* Value of e with vars[i] = values[i] (a negated literal reads 1 - value), also stored
 * through out when out is not NULL.
 * Aborts if: e carries declared constraints; a variable of e is missing from vars. */
DALO_API int64_t dalo_expr_eval_map(const dalo_expr* e, const dalo_var* vars, const int64_t* values,
                                    uint64_t n, int64_t* out);
/* A new expression in which every integer variable n is replaced by lo + n#0 + 2*n#1 + ...
 * over binary variables created on first use and cached until dalo_var_reset.
 * Aborts if: e carries constraint records. */
DALO_API dalo_expr* dalo_expr_binarize(const dalo_expr* e);
/* Highest value the binary-simplified expression can reach (integer variables within their
 * bounds), also stored through out when out is not NULL. */
DALO_API int64_t dalo_expr_pos_sum(const dalo_expr* e, int64_t* out);
/* Lowest reachable value, as dalo_expr_pos_sum. */
DALO_API int64_t dalo_expr_neg_sum(const dalo_expr* e, int64_t* out);

/* ======================================================================================
 * Constraint-carrying values
 *
 * The attribute word of an expression (dalo_expr_attr) links it to process-wide records:
 *   0xFFFFFFFF              plain
 *   0x00000000-0x7FFFFFFF   a VarInt (bit-encoded integer)
 *   0x80000000-0xBFFFFFFF   a classic ExprExpr: the polynomial is a penalty, the record
 *                           keeps the constrained body and its bounds
 *   0xC0000000-0xFFFFFFFE   a constraint sum: ExprExpr records with weights plus an
 *                           optional free-form penalty; declared (dalo_cons_*) or classic
 * Arithmetic combines, scales or drops the link; operations that would lose declared
 * constraints abort with a "dalo::cons: ..." message. Copies of a value share its records,
 * and a record shared by two values is never changed in place.
 * ==================================================================================== */

/* A copy of penalty linked to a new ExprExpr record holding a copy of body (no bounds yet).
 * Aborts if: either argument carries declared constraints. */
DALO_API dalo_expr* dalo_exprexprelem_create(const dalo_expr* penalty, const dalo_expr* body);
/* Records the bounds [lo, hi] of an ExprExpr.
 * Aborts if: e is not an ExprExpr. */
DALO_API void dalo_exprexpr_set_bounds(const dalo_expr* e, int64_t lo, int64_t hi);
/* 1 and the bounds when e is an ExprExpr with bounds, else 0 (lo and hi untouched). */
DALO_API int dalo_exprexpr_get_bounds(const dalo_expr* e, int64_t* lo, int64_t* hi);
/* Records the allowed intervals [lo[i], hi[i]], i < n, in the order given; the bounds
 * become their hull.
 * Aborts if: e is not an ExprExpr; n = 0. */
DALO_API void dalo_exprexpr_set_allowed(const dalo_expr* e, const int64_t* lo, const int64_t* hi,
                                        uint64_t n);
/* The constrained body: of an ExprExpr, or of a sum with exactly one constraint and no
 * free-form penalty. Borrowed: owned by the registry, valid for the life of the process.
 * Aborts if: e is plain, a VarInt, or a sum of another size. */
DALO_API const dalo_expr* dalo_exprexprelem_get_body(const dalo_expr* e);
/* Same as dalo_expr_clone / dalo_expr_destroy. */
DALO_API dalo_expr* dalo_exprexprelem_clone(const dalo_expr* e);
DALO_API void dalo_exprexprelem_destroy(dalo_expr* e);
/* Classic range penalty of f over [lo, hi], a plain expression: 0 when hi < lo, (f - lo)^2
 * when hi = lo, (f - lo)(f - hi) when hi = lo + 1, else (f - s)(f - s - 1) with a new slack
 * s = lo + 2*y0 + ... over binary variables named "{sN}". */
DALO_API dalo_expr* dalo_between(const dalo_expr* f, int64_t lo, int64_t hi);

/* Declared constraints: each returns an expression with a zero polynomial linked to a new
 * declared sum; add it to an objective to attach the constraint. */

/* lo <= body <= hi (lo > hi is stored as given).
 * Aborts if: body carries declared constraints. */
DALO_API dalo_expr* dalo_cons_between(const dalo_expr* body, int64_t lo, int64_t hi);
/* body in one of the intervals [lo[i], hi[i]], i < n.
 * Aborts if: body carries declared constraints; n = 0. */
DALO_API dalo_expr* dalo_cons_equal(const dalo_expr* body, const int64_t* lo, const int64_t* hi,
                                    uint64_t n);
/* The constraints of e declared: a declared e is adopted as is; classic constraints become
 * declared; a plain e becomes the free-form requirement e = 0. */
DALO_API dalo_expr* dalo_cons_mark(const dalo_expr* e);
/* Objective-only penalty |body|^k, k in {1, 2}.
 * Aborts if: body carries declared constraints; k is not 1 or 2. */
DALO_API dalo_expr* dalo_abs_term(const dalo_expr* body, int32_t k);
/* Objective-only penalty max(body, 0)^k, k in {1, 2}.
 * Aborts if: body carries declared constraints; k is not 1 or 2. */
DALO_API dalo_expr* dalo_relu_term(const dalo_expr* body, int32_t k);
/* 1 when e is a declared sum without free-form penalty whose constraints (at least one) are
 * all objective-only penalty shapes, else 0. */
DALO_API int dalo_expr_all_objective_only(const dalo_expr* e);

/* ======================================================================================
 * Constraint inspection and evaluation
 *
 * Items of a value, numbered from 0: a constraint sum's constraints in order, then its
 * free-form penalty when it has one; an ExprExpr's own record; for a plain or VarInt value
 * the expression itself, reported as a free-form penalty with weight 1 and bounds [0, 0].
 * Violation distance of a body value v: outside [lo, hi] the distance to it, or with allowed
 * intervals the smallest distance to one of them; 0 inside.
 * ==================================================================================== */

/* 1 when e is a declared constraint sum, else 0. */
DALO_API int dalo_expr_is_declared(const dalo_expr* e);
/* 1 for an ExprExpr, or a sum with exactly one constraint and no free-form penalty. */
DALO_API int dalo_expr_has_body(const dalo_expr* e);
/* Items of a sum (its penalty included); 1 for anything else. */
DALO_API uint64_t dalo_cons_item_count(const dalo_expr* e);
/* Item i: 1 for a bounded constraint (body copy, weight, lo, hi), 0 for a free-form item
 * (copy of the free-form expression, weight 1, bounds [0, 0]). *body is owned by the caller.
 * Aborts if: i is not an item of e. */
DALO_API int dalo_cons_item_info(const dalo_expr* e, uint64_t i, dalo_expr** body, int64_t* weight,
                                 int64_t* lo, int64_t* hi);
/* Writes the penalty exponent k and the objective-only flag of item i (first 2 and 0);
 * returns 1 when item i is a constraint record with bounds, else 0. */
DALO_API int dalo_cons_item_shape(const dalo_expr* e, uint64_t i, uint32_t* k,
                                  uint32_t* objective_only);
/* Number of allowed intervals of item i; copies the first min(capacity, n) into lo[], hi[]. */
DALO_API uint64_t dalo_cons_item_allowed(const dalo_expr* e, uint64_t i, int64_t* lo, int64_t* hi,
                                         uint64_t capacity);
/* Item i under sol: body value, bounds, violation distance and weight; a free-form item
 * reports its value as the (signed) violation. Returns 1.
 * Aborts if: i is not an item of e; the record has no bounds. */
DALO_API int dalo_cons_item_eval(const dalo_expr* e, uint64_t i, const dalo_sol* sol,
                                 int64_t* value, int64_t* lo, int64_t* hi, int64_t* violation,
                                 int64_t* weight);
/* Number of violated constraints of e under sol (objective-only shapes never count; a
 * non-zero free-form penalty counts once).
 * Aborts if: e carries no constraints. */
DALO_API uint64_t dalo_cons_violation_count(const dalo_expr* e, const dalo_sol* sol);

/* ======================================================================================
 * Model compilation and queries
 *
 * dalo_model_create compiles a binary-simplified expression: every variable that occurs gets
 * a dense model index (in ascending identifier order), terms are grouped by degree into flat
 * arrays, declared constraints become native constraint records and a free-form penalty the
 * remainder, integer variables become integer atoms. Inside a Model a variable word is a
 * model index (bit 31 set for a negated literal, only in terms of degree 3 and more) or an
 * atom position | 0x40000000. DALO_MODEL_PROFILE set prints one "  [Model] " timing line per
 * phase on standard error.
 * Handles are shared: owned, release with dalo_model_destroy; the Model lives while any
 * handle, Sol or solver wrapper holds it. Pointers returned point into the Model. Every
 * query also accepts dalo_sol_model(sol). Queries may run from any number of threads.
 * ==================================================================================== */

/* Aborts if: the expression is not in binary-simplified form, or a constraint record is
 * unusable (the message says which). */
DALO_API dalo_model* dalo_model_create(const dalo_expr* e);
/* The same, and e is destroyed: the caller hands it over. The memory of its terms goes back
 * to the system while the Model's arrays are written, so the two are never held at once.
 * e is destroyed whether or not the Model is made. */
DALO_API dalo_model* dalo_model_create_take(dalo_expr* e);
/* The Model of dalo_expr_simplify_as_binary(e), equal to dalo_model_create of that
 * expression; e is left as it is. A form of degree at most 2 over plain binary variables,
 * alone or with declared constraints (no free-form penalty), goes from the simplification
 * straight to the Model's arrays, with no simplified expression in between.
 * Aborts if: a constraint record is unusable (the message says which). */
DALO_API dalo_model* dalo_model_create_simplified(const dalo_expr* e);
/* As dalo_model_create; the scale is accepted and not applied (the Model's scale is 1.0). */
DALO_API dalo_model* dalo_model_create_scaled(const dalo_expr* e, double scale);
/* A new handle sharing the Model. */
DALO_API dalo_model* dalo_model_clone(const dalo_model* m);
DALO_API void dalo_model_destroy(dalo_model* m);

DALO_API double dalo_model_scale(const dalo_model* m);
DALO_API uint32_t dalo_model_var_count(const dalo_model* m);
/* Identifier of model index i. Aborts if: i >= dalo_model_var_count. */
DALO_API dalo_var dalo_model_var(const dalo_model* m, uint32_t index);
/* 1 when the variable (bit 31 ignored) is in the Model, else 0. */
DALO_API int dalo_model_has(const dalo_model* m, dalo_var id);
/* Model index of the variable, or 0xFFFFFFFF. */
DALO_API uint32_t dalo_model_var_index(const dalo_model* m, dalo_var id);
DALO_API int64_t dalo_model_constant(const dalo_model* m, int64_t* out);
DALO_API uint32_t dalo_model_max_degree(const dalo_model* m);
/* Terms of degree d (1-based; 0 for d = 0). Aborts if: d > max degree. */
DALO_API uint64_t dalo_model_term_count(const dalo_model* m, uint32_t d);
/* Variable words of the degree-d terms, d per term (NULL for d = 0).
 * Aborts if: d > max degree. */
DALO_API const uint32_t* dalo_model_term_vars(const dalo_model* m, uint32_t d);
/* Coefficients of the degree-d terms (NULL for d = 0). Aborts if: d > max degree. */
DALO_API const int32_t* dalo_model_coeff_array(const dalo_model* m, uint32_t d);
/* Coefficient i of degree d, also stored through out when out is not NULL.
 * Aborts if: d is 0 or above the max degree; i >= dalo_model_term_count(m, d). */
DALO_API int64_t dalo_model_coeff_at(const dalo_model* m, uint32_t d, uint64_t i, int32_t* out);
/* 1 when a term word has bit 31 set. */
DALO_API int dalo_model_has_negated_literals(const dalo_model* m);

DALO_API uint64_t dalo_model_int_var_count(const dalo_model* m);
/* Aborts if: atom >= dalo_model_int_var_count. */
DALO_API void dalo_model_int_var_bounds(const dalo_model* m, uint64_t atom, int64_t* lower,
                                        int64_t* upper);
/* Integer identifier of an atom. Aborts if: atom >= dalo_model_int_var_count. */
DALO_API dalo_var dalo_model_int_var_orig(const dalo_model* m, uint64_t atom);

DALO_API uint64_t dalo_model_native_cons_count(const dalo_model* m);
/* Linear body terms of record i, for linear MIP/ILP use.
 * Aborts if: i >= the record count; the body has a nonlinear part; the record has an
 * allowed-value set. */
DALO_API uint64_t dalo_model_native_cons_nterms(const dalo_model* m, uint64_t i);
/* Variable words and coefficients of the linear body terms of record i.
 * Aborts if: i >= the record count. */
DALO_API const uint32_t* dalo_model_native_cons_vars(const dalo_model* m, uint64_t i);
DALO_API const int32_t* dalo_model_native_cons_coeffs(const dalo_model* m, uint64_t i);
/* Bounds, body constant and weight of record i. Aborts if: i >= the record count. */
DALO_API void dalo_model_native_cons_bounds(const dalo_model* m, uint64_t i, int64_t* lower,
                                            int64_t* upper, int64_t* constant, int64_t* weight);
/* Penalty exponent (1 or 2) and objective-only flag of record i.
 * Aborts if: i >= the record count. */
DALO_API void dalo_model_native_cons_shape(const dalo_model* m, uint64_t i, uint32_t* exponent,
                                           uint32_t* objective_only);
/* 1 when a record has exponent 1 or is objective-only. */
DALO_API int dalo_model_has_penalty_shapes(const dalo_model* m);
DALO_API int dalo_model_has_remainder(const dalo_model* m);
/* Remainder constant and term count; returns the count. */
DALO_API uint64_t dalo_model_remainder_info(const dalo_model* m, int64_t* constant,
                                            uint64_t* count);
/* Term t of the remainder spans variable words [head[t], head[t + 1]) (count + 1 entries). */
DALO_API const uint64_t* dalo_model_remainder_head(const dalo_model* m);
DALO_API const uint32_t* dalo_model_remainder_vars(const dalo_model* m);
DALO_API const int32_t* dalo_model_remainder_coeffs(const dalo_model* m);

/* Objective value of a bit vector (model index i in word i / 64, bit i % 64); native
 * constraints are not included. Also stored through out when out is not NULL.
 * Aborts if: the Model has integer atoms. */
DALO_API int64_t dalo_model_eval(const dalo_model* m, const uint64_t* bits, int64_t* out);
/* Value of e under a bit vector indexed through the Model; variables outside the Model drop
 * their terms. Also stored through out when out is not NULL.
 * Aborts if: e carries declared constraints; e holds an integer variable. */
DALO_API int64_t dalo_expr_eval_with_model(const dalo_expr* e, const dalo_model* m,
                                           const uint64_t* bits, int64_t* out);

/* ======================================================================================
 * Models as bytes
 *
 * A Model travels between processes as bytes: a 32-byte header ("DALOMODL", the format
 * version, a byte-order mark, the payload length and a 64-bit checksum of the payload), then
 * the objective arrays, native constraints with their bounds, weights, shapes and allowed
 * sets, the remainder, and the names of the Model's variables and the names and bounds of
 * its integer atoms. Every number is little-endian on any host. The receiving process
 * registers the variables afresh, in model-index order, so model indices, Sols and results
 * map one to one; the same bytes read twice give two Models over distinct variables.
 * ==================================================================================== */

/* The bytes of m, malloc'd: the caller releases them with free(); *size receives their
 * number. Serialising the deserialised Model gives the same bytes. */
DALO_API uint8_t* dalo_model_serialize(const dalo_model* m, uint64_t* size);
/* NULL when dalo_model_deserialize accepts the bytes; otherwise why not ("checksum mismatch
 * (corrupted)", "format version 2 (this library reads version 1)", ...), in a per-thread
 * buffer valid until the next call on this thread. Never aborts; data may be NULL. */
DALO_API const char* dalo_model_bytes_problem(const uint8_t* data, uint64_t size);
/* The Model of the bytes over newly registered variables; the caller destroys it with
 * dalo_model_destroy.
 * Aborts if: the bytes are refused ("Model bytes: " and the reason above); nothing has been
 * registered then. */
DALO_API dalo_model* dalo_model_deserialize(const uint8_t* data, uint64_t size);

/* ======================================================================================
 * Sol
 *
 * Bits packed 64 per word (model index i in word i / 64, bit i % 64), one 64-bit value per
 * integer atom, a cached energy with a validity flag, and a time to solution. Every change
 * of a value invalidates the energy. Variables are identifiers; a negated literal reads and
 * writes the complement. Owned: release with dalo_sol_destroy. A Sol shares its Model.
 * ==================================================================================== */

/* All bits 0, integer atoms at their lower bounds, energy computed, tts -1. */
DALO_API dalo_sol* dalo_sol_create(const dalo_model* m);
/* A Sol over a private Model compiled from the binary simplification of e (declared
 * constraints are not attached). */
DALO_API dalo_sol* dalo_sol_create_from_expr(const dalo_expr* e);
DALO_API dalo_sol* dalo_sol_clone(const dalo_sol* s);
DALO_API void dalo_sol_destroy(dalo_sol* s);
/* The Sol's Model, for the Model queries. Borrowed: do not pass to dalo_model_destroy. */
DALO_API const dalo_model* dalo_sol_model(const dalo_sol* s);
DALO_API uint32_t dalo_sol_var_count(const dalo_sol* s);
DALO_API int dalo_sol_has(const dalo_sol* s, dalo_var id);
DALO_API dalo_var dalo_sol_model_var(const dalo_sol* s, uint32_t index);

/* Value 0/1 of a binary variable or literal. Aborts if: it is not in the Model. */
DALO_API uint32_t dalo_sol_get(const dalo_sol* s, dalo_var id);
/* Sets a binary variable (value != 0) or literal. Aborts if: it is not in the Model. */
DALO_API void dalo_sol_set(dalo_sol* s, dalo_var id, uint32_t value);
/* Toggles a binary variable. Aborts if: it is not in the Model. */
DALO_API void dalo_sol_flip(dalo_sol* s, dalo_var id);
/* The bit words (dalo_sol_var_count bits). */
DALO_API const uint64_t* dalo_sol_bits(const dalo_sol* s);
/* Moves the bit words into *out: the block out held before is released with free(), and
 * the one it receives must be released with free() by the caller. The Sol keeps no bits. */
DALO_API void dalo_sol_steal_bits(dalo_sol* s, dalo_u64_vector* out);
/* Value of an integer variable, also stored through out when out is not NULL.
 * Aborts if: id is not an integer identifier in the Model. */
DALO_API int64_t dalo_sol_get_int(const dalo_sol* s, dalo_var id, int64_t* out);
/* Aborts if: id is not an integer identifier in the Model; value is outside its bounds. */
DALO_API void dalo_sol_set_int(dalo_sol* s, dalo_var id, int64_t value);
DALO_API const int64_t* dalo_sol_int_vals(const dalo_sol* s);
DALO_API uint64_t dalo_sol_int_count(const dalo_sol* s);
/* Copies every value of src into dst by variable identity.
 * Aborts if: a variable of src is not in dst's Model; an integer value is out of bounds. */
DALO_API void dalo_sol_set_from_sol(dalo_sol* dst, const dalo_sol* src);
/* Computes the energy when it is not valid: the objective plus, for each native constraint,
 * weight x violation (exponent 1) or weight x violation^2 (exponent 2). */
DALO_API int64_t dalo_sol_compute_energy(dalo_sol* s, int64_t* out);
/* The cached energy. Aborts if: it is not valid. */
DALO_API int64_t dalo_sol_energy(const dalo_sol* s, int64_t* out);
DALO_API int64_t dalo_sol_energy_int(const dalo_sol* s, int64_t* out);
DALO_API int dalo_sol_energy_valid(const dalo_sol* s);
/* Stores an energy and marks it valid. */
DALO_API void dalo_sol_set_energy(dalo_sol* s, int64_t energy);
DALO_API double dalo_sol_tts(const dalo_sol* s);
DALO_API void dalo_sol_set_tts(dalo_sol* s, double tts);
DALO_API double dalo_sol_scale(const dalo_sol* s);
/* Value of e under the Sol, plus its declared-constraint terms when e is a declared sum;
 * variables outside the Model drop their terms. Also stored through out. */
DALO_API int64_t dalo_sol_eval_expr(const dalo_sol* s, const dalo_expr* e, int64_t* out);
/* "energy:{{name,value},...}" in a per-thread buffer. Aborts if: the energy is not valid. */
DALO_API const char* dalo_sol_str(const dalo_sol* s);

/* ======================================================================================
 * Solvers
 *
 * Three families of solver plug-ins, loaded at run time from beside the library (see
 * dalo_plugin.h): BriskSolver (fast heuristic), SweepSolver (exact enumeration), KELPSolver
 * (CPU or GPU). A wrapper binds one Model (sharing it) and runs searches with string
 * parameters. Models with integer variables are searched by the library's own engines:
 * annealing plus descent (BriskSolver, KELPSolver) or Gray-code enumeration (SweepSolver).
 *
 * Parameters understood by the library's integer engine: "time_limit" (seconds),
 * "target_energy", "seed", "threads", "topk_sols", "best_energy_sols",
 * "enable_default_callback" ("1", "true" or "True"). Integer values are parsed after blanks
 * and a sign; text without a digit there throws std::runtime_error
 * "dalo::_from_string: invalid integer '...'" (the one exception this interface raises).
 * Every result's information pairs end with "os", "cpu", "gpu" and "ram".
 * ==================================================================================== */

/* The solver type of this build, "c32e64" (per-thread string, valid for the thread's life). */
DALO_API const char* dalo_expr_solver_type(void);
/* "compilation_date", "version", "cpu_name", "cpu_threads", "total_ram", "hostname"; any other
 * key (or NULL) gives "Invalid string parameter". Per-thread buffer. */
DALO_API const char* dalo_const_str(const char* key);

/* Owned: release with dalo_brisk_solver_wrapper_destroy.
 * Aborts if: the plug-in cannot be loaded or cannot take the Model's constraints. */
DALO_API dalo_brisk_solver_wrapper* dalo_brisk_solver_wrapper_create(const dalo_model* m);
DALO_API void dalo_brisk_solver_wrapper_destroy(dalo_brisk_solver_wrapper* w);
/* Searches (a "time_limit" of 10 seconds is added when absent); hint is passed through to the
 * plug-in (NULL or a start assignment as bit words). Owned result.
 * Aborts if: the Model has integer variables and hint is not NULL. */
DALO_API dalo_solver_result* dalo_brisk_solver_wrapper_search(dalo_brisk_solver_wrapper* w,
                                                              const dalo_param* params,
                                                              const void* hint);
/* Search of a Model with integer variables, optionally from a start state (hint_bits[words],
 * hint_ints[hint_count], hint_count = the Model's integer variable count).
 * Aborts if: the Model has no integer variables; the hint does not fit the Model. */
DALO_API dalo_solver_result* dalo_brisk_solver_wrapper_search_int(dalo_brisk_solver_wrapper* w,
                                                                  const dalo_param* params,
                                                                  const uint64_t* hint_bits,
                                                                  const int64_t* hint_ints,
                                                                  uint64_t hint_count);

/* Results (all three families). Indexes must be below dalo_brisk_solver_result_topk_count or
 * dalo_brisk_solver_result_info_count (aborts otherwise). */
DALO_API int64_t dalo_brisk_solver_result_energy(const dalo_solver_result* r, int64_t* out);
DALO_API double dalo_brisk_solver_result_tts(const dalo_solver_result* r);
/* Best assignment: bit i of word i / 64 = Model variable index i. */
DALO_API const uint64_t* dalo_brisk_solver_result_bits(const dalo_solver_result* r);
DALO_API uint64_t dalo_brisk_solver_result_topk_count(const dalo_solver_result* r);
DALO_API int64_t dalo_brisk_solver_result_topk_energy(const dalo_solver_result* r, uint64_t i,
                                                      int64_t* out);
DALO_API double dalo_brisk_solver_result_topk_tts(const dalo_solver_result* r, uint64_t i);
DALO_API const uint64_t* dalo_brisk_solver_result_topk_bits(const dalo_solver_result* r,
                                                            uint64_t i);
/* Exchanges the result's bit words with *v (malloc'd blocks both ways; see dalo_u64_vector). */
DALO_API void dalo_brisk_solver_result_steal_bits(dalo_solver_result* r, dalo_u64_vector* v);
DALO_API void dalo_brisk_solver_result_steal_topk_bits(dalo_solver_result* r, uint64_t i,
                                                       dalo_u64_vector* v);
DALO_API uint64_t dalo_brisk_solver_result_info_count(const dalo_solver_result* r);
DALO_API const char* dalo_brisk_solver_result_info_key(const dalo_solver_result* r, uint64_t i);
DALO_API const char* dalo_brisk_solver_result_info_value(const dalo_solver_result* r, uint64_t i);
DALO_API void dalo_brisk_solver_result_destroy(dalo_solver_result* r);
/* A Sol over m with the result's energy (valid), tts and integer values; the bit words move
 * into the Sol (a second call gets none). Owned. */
DALO_API dalo_sol* dalo_brisk_solver_result_to_sol(dalo_solver_result* r, const dalo_model* m);
DALO_API dalo_sol* dalo_brisk_solver_result_topk_to_sol(dalo_solver_result* r, uint64_t i,
                                                        const dalo_model* m);

/* Owned: release with dalo_sweep_wrapper_destroy.
 * Aborts if: the plug-in cannot be loaded; an integer Model has more than 2^32 states. */
DALO_API dalo_sweep_wrapper* dalo_sweep_wrapper_create(const dalo_model* m);
DALO_API void dalo_sweep_wrapper_destroy(dalo_sweep_wrapper* w);
/* Exact search. On integer Models only "best_energy_sols" is accepted. */
DALO_API dalo_solver_result* dalo_sweep_wrapper_search(dalo_sweep_wrapper* w,
                                                       const dalo_param* params);

/* gpu_mode: > 0 requires a GPU (that device mode), 0 takes the GPU when the plug-in has one,
 * < 0 any device. Owned: release with dalo_kelp_wrapper_destroy. */
DALO_API dalo_kelp_wrapper* dalo_kelp_wrapper_create(const dalo_model* m, int32_t gpu_mode);
DALO_API void dalo_kelp_wrapper_destroy(dalo_kelp_wrapper* w);
DALO_API dalo_solver_result* dalo_kelp_wrapper_search(dalo_kelp_wrapper* w,
                                                      const dalo_param* params, const void* hint);
DALO_API dalo_solver_result* dalo_kelp_wrapper_search_int(dalo_kelp_wrapper* w,
                                                          const dalo_param* params,
                                                          const uint64_t* hint_bits,
                                                          const int64_t* hint_ints,
                                                          uint64_t hint_count);
/* A start assignment for the next or running search (ignored when it does not fit). */
DALO_API void dalo_kelp_wrapper_hint(dalo_kelp_wrapper* w, const dalo_sol* sol);
DALO_API void dalo_kelp_wrapper_set_callback(dalo_kelp_wrapper* w, dalo_solver_callback callback,
                                             void* context);
/* Asks the running search to stop soon; may be called from another thread. */
DALO_API void dalo_kelp_wrapper_terminate(dalo_kelp_wrapper* w);

/* ======================================================================================
 * Arrays: containers and views
 *
 * Four kinds with one layout: a shape (ndim extents, row-major; ndim 0 is a scalar array of
 * one element), its strides and the elements. Every array owns its elements: selections copy.
 * Functions below marked K exist for each kind K in var, int, term, expr (for example
 * dalo_array_var_create, dalo_array_int_create, ...). Flat indexes are row-major and checked:
 * an index, axis or range outside the array aborts ("<operation>: index ... out of range").
 * Copies of more than 9,999 elements run on several threads. Owned results: release with
 * dalo_array_K_destroy (NULL is ignored).
 * ==================================================================================== */

/* For each kind K: create (elements zero: identifier 0, 0, the term 0, the expression 0),
 * create_data (from data[size]; terms and expressions copied, attribute word included),
 * destroy, size, ndim, shape (borrowed ndim extents), shape_at, clone, subarray (the slice [i]
 * along axis 0; a scalar array from a one-dimensional one; NULL for a scalar array), view
 * (start[d] .. stop[d] - 1 on each of the naxes = ndim axes; an axis with drop[d] != 0 is
 * indexed at start[d] and removed), concat (along axis; the other extents must agree) and str
 * (nested text "{{...},{...}}", "{}" for a scalar array; per-thread buffer, the expression kind
 * sharing dalo_expr_str's). */
DALO_API dalo_array_var* dalo_array_var_create(const uint64_t* shape, uint64_t ndim);
DALO_API dalo_array_var* dalo_array_var_create_data(const dalo_var* data, const uint64_t* shape,
                                                    uint64_t ndim);
DALO_API void dalo_array_var_destroy(dalo_array_var* a);
DALO_API uint64_t dalo_array_var_size(const dalo_array_var* a);
DALO_API uint64_t dalo_array_var_ndim(const dalo_array_var* a);
DALO_API const uint64_t* dalo_array_var_shape(const dalo_array_var* a);
DALO_API uint64_t dalo_array_var_shape_at(const dalo_array_var* a, uint64_t axis);
DALO_API dalo_array_var* dalo_array_var_clone(const dalo_array_var* a);
DALO_API dalo_array_var* dalo_array_var_subarray(const dalo_array_var* a, uint64_t i);
DALO_API dalo_array_var* dalo_array_var_view(const dalo_array_var* a, const uint64_t* start,
                                             const uint64_t* stop, const uint8_t* drop,
                                             uint64_t naxes);
DALO_API dalo_array_var* dalo_array_var_concat(const dalo_array_var* a, const dalo_array_var* b,
                                               uint64_t axis);
DALO_API const char* dalo_array_var_str(const dalo_array_var* a);

DALO_API dalo_array_int* dalo_array_int_create(const uint64_t* shape, uint64_t ndim);
DALO_API dalo_array_int* dalo_array_int_create_data(const int32_t* data, const uint64_t* shape,
                                                    uint64_t ndim);
DALO_API void dalo_array_int_destroy(dalo_array_int* a);
DALO_API uint64_t dalo_array_int_size(const dalo_array_int* a);
DALO_API uint64_t dalo_array_int_ndim(const dalo_array_int* a);
DALO_API const uint64_t* dalo_array_int_shape(const dalo_array_int* a);
DALO_API uint64_t dalo_array_int_shape_at(const dalo_array_int* a, uint64_t axis);
DALO_API dalo_array_int* dalo_array_int_clone(const dalo_array_int* a);
DALO_API dalo_array_int* dalo_array_int_subarray(const dalo_array_int* a, uint64_t i);
DALO_API dalo_array_int* dalo_array_int_view(const dalo_array_int* a, const uint64_t* start,
                                             const uint64_t* stop, const uint8_t* drop,
                                             uint64_t naxes);
DALO_API dalo_array_int* dalo_array_int_concat(const dalo_array_int* a, const dalo_array_int* b,
                                               uint64_t axis);
DALO_API const char* dalo_array_int_str(const dalo_array_int* a);

DALO_API dalo_array_term* dalo_array_term_create(const uint64_t* shape, uint64_t ndim);
DALO_API dalo_array_term* dalo_array_term_create_data(const dalo_term* const* data,
                                                      const uint64_t* shape, uint64_t ndim);
DALO_API void dalo_array_term_destroy(dalo_array_term* a);
DALO_API uint64_t dalo_array_term_size(const dalo_array_term* a);
DALO_API uint64_t dalo_array_term_ndim(const dalo_array_term* a);
DALO_API const uint64_t* dalo_array_term_shape(const dalo_array_term* a);
DALO_API uint64_t dalo_array_term_shape_at(const dalo_array_term* a, uint64_t axis);
DALO_API dalo_array_term* dalo_array_term_clone(const dalo_array_term* a);
DALO_API dalo_array_term* dalo_array_term_subarray(const dalo_array_term* a, uint64_t i);
DALO_API dalo_array_term* dalo_array_term_view(const dalo_array_term* a, const uint64_t* start,
                                               const uint64_t* stop, const uint8_t* drop,
                                               uint64_t naxes);
DALO_API dalo_array_term* dalo_array_term_concat(const dalo_array_term* a, const dalo_array_term* b,
                                                 uint64_t axis);
DALO_API const char* dalo_array_term_str(const dalo_array_term* a);

DALO_API dalo_array_expr* dalo_array_expr_create(const uint64_t* shape, uint64_t ndim);
DALO_API dalo_array_expr* dalo_array_expr_create_data(const dalo_expr* const* data,
                                                      const uint64_t* shape, uint64_t ndim);
DALO_API void dalo_array_expr_destroy(dalo_array_expr* a);
DALO_API uint64_t dalo_array_expr_size(const dalo_array_expr* a);
DALO_API uint64_t dalo_array_expr_ndim(const dalo_array_expr* a);
DALO_API const uint64_t* dalo_array_expr_shape(const dalo_array_expr* a);
DALO_API uint64_t dalo_array_expr_shape_at(const dalo_array_expr* a, uint64_t axis);
DALO_API dalo_array_expr* dalo_array_expr_clone(const dalo_array_expr* a);
DALO_API dalo_array_expr* dalo_array_expr_subarray(const dalo_array_expr* a, uint64_t i);
DALO_API dalo_array_expr* dalo_array_expr_view(const dalo_array_expr* a, const uint64_t* start,
                                               const uint64_t* stop, const uint8_t* drop,
                                               uint64_t naxes);
DALO_API dalo_array_expr* dalo_array_expr_concat(const dalo_array_expr* a, const dalo_array_expr* b,
                                                 uint64_t axis);
DALO_API const char* dalo_array_expr_str(const dalo_array_expr* a);

/* Element access. get of a term or expression returns an owned copy. */
DALO_API dalo_var dalo_array_var_get(const dalo_array_var* a, uint64_t i);
DALO_API int64_t dalo_array_int_get(const dalo_array_int* a, uint64_t i, int64_t* out);
DALO_API dalo_term* dalo_array_term_get(const dalo_array_term* a, uint64_t i);
DALO_API dalo_expr* dalo_array_expr_get(const dalo_array_expr* a, uint64_t i);
DALO_API void dalo_array_var_set(dalo_array_var* a, uint64_t i, dalo_var v);
/* Stores the value truncated to 32 bits. */
DALO_API void dalo_array_int_set(dalo_array_int* a, uint64_t i, int64_t v);
DALO_API void dalo_array_term_set(dalo_array_term* a, uint64_t i, const dalo_term* t);
/* Copy-assigns the expression, attribute word included. */
DALO_API void dalo_array_expr_set(dalo_array_expr* a, uint64_t i, const dalo_expr* e);
/* The element inside the array. Borrowed: valid until the array changes or is destroyed. */
DALO_API const dalo_expr* dalo_array_expr_ref(const dalo_array_expr* a, uint64_t i);
/* The identifier buffer (size entries). Borrowed. */
DALO_API const dalo_var* dalo_array_var_data(const dalo_array_var* a);

DALO_API dalo_array_int* dalo_array_int_create_zero(const uint64_t* shape, uint64_t ndim);
DALO_API dalo_array_expr* dalo_array_expr_create_zero(const uint64_t* shape, uint64_t ndim);
/* Every element the constant value / the expression 1 * v. */
DALO_API dalo_array_expr* dalo_array_expr_create_constant_int(const uint64_t* shape, uint64_t ndim,
                                                              int64_t value);
DALO_API dalo_array_expr* dalo_array_expr_create_constant_var(const uint64_t* shape, uint64_t ndim,
                                                              dalo_var v);
/* New variables (dalo_new_var_array), element i = first identifier + i. */
DALO_API dalo_array_var* dalo_array_var_create_named(const char* name, const uint64_t* shape,
                                                     uint64_t ndim);
DALO_API dalo_array_var* dalo_array_var_create_unnamed(const uint64_t* shape, uint64_t ndim);
/* Deep copy (parallel above 9,999 elements). */
DALO_API dalo_array_expr* dalo_array_expr_from_expr(const dalo_array_expr* a);
/* New array of the last k axes' shape holding the elements from the flat offset on.
 * Aborts if: the range leaves the array. k > ndim throws std::length_error. */
DALO_API dalo_array_int* dalo_array_int_clone_subview(const dalo_array_int* a, uint64_t offset,
                                                      uint64_t k);
DALO_API dalo_array_expr* dalo_array_expr_clone_subview(const dalo_array_expr* a, uint64_t offset,
                                                        uint64_t k);
/* Copies the size integers into out[size] (parallel above 9,999). */
DALO_API void dalo_array_int_to_ints(const dalo_array_int* a, int32_t* out);
/* The value of each variable in the Sol (0 for one outside its Model). */
DALO_API dalo_array_int* dalo_array_int_from_sol(const dalo_sol* s, const dalo_array_var* vars);
/* Each identifier with bit 31 toggled (each literal replaced by its negation). */
DALO_API dalo_array_var* dalo_array_var_invert(const dalo_array_var* a);

/* ======================================================================================
 * VarInt encoding and penalty expansion
 * ==================================================================================== */

/* A VarInt is a bounded integer lo + c0*x0 + c1*x1 + ... over binary variables; its attribute
 * word (0x00000000-0x7FFFFFFF) indexes a process-wide record of the range, the coefficients
 * and the bits, which dalo_var_reset leaves alone. Arithmetic on a VarInt gives a plain
 * expression. The encoding's coefficients are 1, 2, 4, ... with the last one capped so that
 * they sum to hi - lo ([0, 10] gives 1, 2, 4, 3); hi - lo < 1 gives no bits and the constant lo.
 * A null or empty name asks dalo_varintelem_create and dalo_array_varint_create_uniform for
 * one automatic name "{n}", used for the bits and the group. */

/* New VarInt over [lo, hi]: one new bit named name, or a new array name[0], name[1], ...
 * when there are several; the name is registered as a group without shape.
 * Aborts if: a coefficient does not fit in 32 bits ("VarInt range [lo, hi] too large: ..."). */
DALO_API dalo_expr* dalo_varintelem_create(const char* name, int64_t lo, int64_t hi);
/* New VarInt lo + coeffs[0]*vars[0] + ... + coeffs[n-1]*vars[n-1] over the given bits, taken
 * without any check; the name (empty when NULL) is registered as a group without shape. */
DALO_API dalo_expr* dalo_varintelem_create_with_vars(const char* name, int64_t lo, int64_t hi,
                                                     const int32_t* coeffs, const dalo_var* vars,
                                                     uint64_t n);
/* New array of shape[ndim] VarInts over one range, registered as one group of that shape:
 * the B bits of all elements form one new variable array name of shape (shape..., B), so
 * element i owns the identifiers first + i*B + j. The array is owned by the caller.
 * Aborts if: a coefficient does not fit in 32 bits. */
DALO_API dalo_array_expr* dalo_array_varint_create_uniform(const char* name, const uint64_t* shape,
                                                           uint64_t ndim, int64_t lo, int64_t hi);
/* Copy of element i as a plain expression (its bits, no VarInt link).
 * Aborts if: i >= size. */
DALO_API dalo_expr* dalo_array_varint_get_expr(const dalo_array_expr* a, uint64_t i);
/* The record's lo, also stored through out when out is not NULL.
 * Aborts if: e is not a VarInt. (So do all the dalo_varintelem_ readers below.) */
DALO_API int64_t dalo_varintelem_min(const dalo_expr* e, int64_t* out);
/* The record's hi, as dalo_varintelem_min. */
DALO_API int64_t dalo_varintelem_max(const dalo_expr* e, int64_t* out);
/* Number of bits. */
DALO_API uint64_t dalo_varintelem_var_count(const dalo_expr* e);
/* Bit i. Aborts if: i >= number of bits. */
DALO_API dalo_var dalo_varintelem_var(const dalo_expr* e, uint64_t i);
/* Coefficient of bit i, also stored through out when out is not NULL.
 * Aborts if: i >= number of bits. */
DALO_API int64_t dalo_varintelem_coeff(const dalo_expr* e, uint64_t i, int32_t* out);
/* Bits of value: r = value - lo; from the last bit down, bit i is 1 when coeffs[i] <= r (then
 * r -= coeffs[i]). Writes the bit identifiers and their 0/1 values into out_vars[] and
 * out_bits[] (each may be NULL) and returns the number of bits. value is not range-checked. */
DALO_API uint64_t dalo_varintelem_decompose(const dalo_expr* e, int64_t value, dalo_var* out_vars,
                                            uint64_t* out_bits);
/* target takes source's polynomial and keeps its own attribute word (stays the same VarInt). */
DALO_API void dalo_varintelem_replace_expr(dalo_expr* target, const dalo_expr* source);
/* Same as dalo_expr_clone / dalo_expr_destroy. */
DALO_API dalo_expr* dalo_varintelem_clone(const dalo_expr* e);
DALO_API void dalo_varintelem_destroy(dalo_expr* e);
/* Decodes one-hot rows: values is a row-major array of shape[ndim] whose last axis is the
 * one-hot axis; for each row, out = the index of the last entry equal to 1 when the row sums
 * (32-bit, wrapping) to exactly 1 and such an entry exists, else -1. Nothing is written when
 * ndim = 0 or a leading extent is 0. */
DALO_API void dalo_onehot_to_int(const int32_t* values, const uint64_t* shape, uint64_t ndim,
                                 int32_t* out);

/* Classic penalty form of e (owned): a declared sum becomes its polynomial plus, per
 * constraint in order, weight * (f - lo)^2 for an equality and weight * dalo_between(f, lo, hi)
 * otherwise (hull bounds for allowed sets; the exponent is not used), plus its free-form
 * penalty. Other values are copied: plain, except that a VarInt keeps its word.
 * Aborts if: a constraint has no bounds; is an abs/relu shape; is a range with a negative
 * weight. Slack variables of the constraints before the failing one stay created. */
DALO_API dalo_expr* dalo_expr_expand_cons(const dalo_expr* e);
/* out[i] = dalo_between(item i, lo, hi) (owned, plain) for i < n, in order. kind 0: items is
 * an array of const dalo_expr* (each copied); kind 1: of dalo_var (the expression 1*x); kind
 * 2: of 24-byte term records {int32_t coeff; 4 unused bytes; dalo_var slot0, slot1; const
 * dalo_var* tail}, the layout of the terms of an expression (the expression of that term).
 * Aborts if: n > 0 and kind > 2. */
DALO_API void dalo_array_between(const void* items, uint32_t kind, int64_t lo, int64_t hi,
                                 dalo_expr** out, uint64_t n);

/* ======================================================================================
 * Arrays: element-wise operations, sums, comparisons
 * ==================================================================================== */

/* Every member below applies one scalar operation to each element. Members returning an
 * array return a new owned one (release with dalo_array_K_destroy); the _eq_ members change
 * their first array in place. Common rules:
 *   - Names: dalo_array_L_OP_R takes a scalar right operand (int as int64_t, var, term or expr
 *     handle), dalo_array_L_OP_array_R an array; dalo_array_L_OP_eq_R and
 *     dalo_array_L_OP_eq_array_R are the in-place forms.
 *   - Two arrays must have the same shape, axis for axis (no broadcasting); the result has the
 *     left operand's shape.
 *     Aborts if: the shapes differ: "Array " op ": shape mismatch " left " vs " right, with op
 *     one of + - * += -= *= and shapes written "(2,3)" ("()" for a scalar array).
 *   - Result kind: int with int gives int; add and sub of any other pair give expr; mul gives
 *     term when neither side is an expression, else expr; division keeps the kind.
 *   - Each element equals the scalar operation (dalo_expr_*, dalo_term_*) on the same operands:
 *     terms are appended in order and never merged; products of variables and terms
 *     concatenate their variables, left first; integers enter as constants or coefficients;
 *     coefficients wrap to 32 bits.
 *   - Attribute words are copied, never combined: an add starts from its expression operand
 *     (the left one when the left array holds expressions) and keeps its word; a sub keeps the
 *     left expression's word and is plain otherwise; multiplying by an integer and negation
 *     scale the word as dalo_expr_imul_int does; every other product, squares, divisions and
 *     the transforms give plain elements. Operations that the scalar forms refuse on declared
 *     constraints are carried out.
 *     Aborts if: a declared element is multiplied by 0 and not all its items are abs/relu
 *     terms ("dalo::cons: multiplying declared constraints by 0 would silently drop them").
 *   - More than 9,999 elements are spread over the library's threads; the results do not
 *     depend on the thread count.
 */

/* Scalar right operand: a new array. */
DALO_API dalo_array_expr* dalo_array_var_add_int(const dalo_array_var* a, int64_t b);
DALO_API dalo_array_expr* dalo_array_var_add_var(const dalo_array_var* a, dalo_var b);
DALO_API dalo_array_expr* dalo_array_var_add_term(const dalo_array_var* a, const dalo_term* b);
DALO_API dalo_array_expr* dalo_array_var_add_expr(const dalo_array_var* a, const dalo_expr* b);
DALO_API dalo_array_expr* dalo_array_var_sub_int(const dalo_array_var* a, int64_t b);
DALO_API dalo_array_expr* dalo_array_var_sub_var(const dalo_array_var* a, dalo_var b);
DALO_API dalo_array_expr* dalo_array_var_sub_term(const dalo_array_var* a, const dalo_term* b);
DALO_API dalo_array_expr* dalo_array_var_sub_expr(const dalo_array_var* a, const dalo_expr* b);
DALO_API dalo_array_term* dalo_array_var_mul_int(const dalo_array_var* a, int64_t b);
DALO_API dalo_array_term* dalo_array_var_mul_var(const dalo_array_var* a, dalo_var b);
DALO_API dalo_array_term* dalo_array_var_mul_term(const dalo_array_var* a, const dalo_term* b);
DALO_API dalo_array_expr* dalo_array_var_mul_expr(const dalo_array_var* a, const dalo_expr* b);
DALO_API dalo_array_int* dalo_array_int_add_int(const dalo_array_int* a, int64_t b);
DALO_API dalo_array_expr* dalo_array_int_add_var(const dalo_array_int* a, dalo_var b);
DALO_API dalo_array_expr* dalo_array_int_add_term(const dalo_array_int* a, const dalo_term* b);
DALO_API dalo_array_expr* dalo_array_int_add_expr(const dalo_array_int* a, const dalo_expr* b);
DALO_API dalo_array_int* dalo_array_int_sub_int(const dalo_array_int* a, int64_t b);
DALO_API dalo_array_expr* dalo_array_int_sub_var(const dalo_array_int* a, dalo_var b);
DALO_API dalo_array_expr* dalo_array_int_sub_term(const dalo_array_int* a, const dalo_term* b);
DALO_API dalo_array_expr* dalo_array_int_sub_expr(const dalo_array_int* a, const dalo_expr* b);
DALO_API dalo_array_int* dalo_array_int_mul_int(const dalo_array_int* a, int64_t b);
DALO_API dalo_array_term* dalo_array_int_mul_var(const dalo_array_int* a, dalo_var b);
DALO_API dalo_array_term* dalo_array_int_mul_term(const dalo_array_int* a, const dalo_term* b);
DALO_API dalo_array_expr* dalo_array_int_mul_expr(const dalo_array_int* a, const dalo_expr* b);
DALO_API dalo_array_expr* dalo_array_term_add_int(const dalo_array_term* a, int64_t b);
DALO_API dalo_array_expr* dalo_array_term_add_var(const dalo_array_term* a, dalo_var b);
DALO_API dalo_array_expr* dalo_array_term_add_term(const dalo_array_term* a, const dalo_term* b);
DALO_API dalo_array_expr* dalo_array_term_add_expr(const dalo_array_term* a, const dalo_expr* b);
DALO_API dalo_array_expr* dalo_array_term_sub_int(const dalo_array_term* a, int64_t b);
DALO_API dalo_array_expr* dalo_array_term_sub_var(const dalo_array_term* a, dalo_var b);
DALO_API dalo_array_expr* dalo_array_term_sub_term(const dalo_array_term* a, const dalo_term* b);
DALO_API dalo_array_expr* dalo_array_term_sub_expr(const dalo_array_term* a, const dalo_expr* b);
DALO_API dalo_array_term* dalo_array_term_mul_int(const dalo_array_term* a, int64_t b);
DALO_API dalo_array_term* dalo_array_term_mul_var(const dalo_array_term* a, dalo_var b);
DALO_API dalo_array_term* dalo_array_term_mul_term(const dalo_array_term* a, const dalo_term* b);
DALO_API dalo_array_expr* dalo_array_term_mul_expr(const dalo_array_term* a, const dalo_expr* b);
DALO_API dalo_array_expr* dalo_array_expr_add_int(const dalo_array_expr* a, int64_t b);
DALO_API dalo_array_expr* dalo_array_expr_add_var(const dalo_array_expr* a, dalo_var b);
DALO_API dalo_array_expr* dalo_array_expr_add_term(const dalo_array_expr* a, const dalo_term* b);
DALO_API dalo_array_expr* dalo_array_expr_add_expr(const dalo_array_expr* a, const dalo_expr* b);
DALO_API dalo_array_expr* dalo_array_expr_sub_int(const dalo_array_expr* a, int64_t b);
DALO_API dalo_array_expr* dalo_array_expr_sub_var(const dalo_array_expr* a, dalo_var b);
DALO_API dalo_array_expr* dalo_array_expr_sub_term(const dalo_array_expr* a, const dalo_term* b);
DALO_API dalo_array_expr* dalo_array_expr_sub_expr(const dalo_array_expr* a, const dalo_expr* b);
DALO_API dalo_array_expr* dalo_array_expr_mul_int(const dalo_array_expr* a, int64_t b);
DALO_API dalo_array_expr* dalo_array_expr_mul_var(const dalo_array_expr* a, dalo_var b);
DALO_API dalo_array_expr* dalo_array_expr_mul_term(const dalo_array_expr* a, const dalo_term* b);
DALO_API dalo_array_expr* dalo_array_expr_mul_expr(const dalo_array_expr* a, const dalo_expr* b);

/* Array right operand: a new array. */
DALO_API dalo_array_expr* dalo_array_var_add_array_var(const dalo_array_var* a,
                                                       const dalo_array_var* b);
DALO_API dalo_array_expr* dalo_array_var_add_array_int(const dalo_array_var* a,
                                                       const dalo_array_int* b);
DALO_API dalo_array_expr* dalo_array_var_add_array_term(const dalo_array_var* a,
                                                        const dalo_array_term* b);
DALO_API dalo_array_expr* dalo_array_var_add_array_expr(const dalo_array_var* a,
                                                        const dalo_array_expr* b);
DALO_API dalo_array_expr* dalo_array_var_sub_array_var(const dalo_array_var* a,
                                                       const dalo_array_var* b);
DALO_API dalo_array_expr* dalo_array_var_sub_array_int(const dalo_array_var* a,
                                                       const dalo_array_int* b);
DALO_API dalo_array_expr* dalo_array_var_sub_array_term(const dalo_array_var* a,
                                                        const dalo_array_term* b);
DALO_API dalo_array_expr* dalo_array_var_sub_array_expr(const dalo_array_var* a,
                                                        const dalo_array_expr* b);
DALO_API dalo_array_term* dalo_array_var_mul_array_var(const dalo_array_var* a,
                                                       const dalo_array_var* b);
DALO_API dalo_array_term* dalo_array_var_mul_array_int(const dalo_array_var* a,
                                                       const dalo_array_int* b);
DALO_API dalo_array_term* dalo_array_var_mul_array_term(const dalo_array_var* a,
                                                        const dalo_array_term* b);
DALO_API dalo_array_expr* dalo_array_var_mul_array_expr(const dalo_array_var* a,
                                                        const dalo_array_expr* b);
DALO_API dalo_array_expr* dalo_array_int_add_array_var(const dalo_array_int* a,
                                                       const dalo_array_var* b);
DALO_API dalo_array_int* dalo_array_int_add_array_int(const dalo_array_int* a,
                                                      const dalo_array_int* b);
DALO_API dalo_array_expr* dalo_array_int_add_array_term(const dalo_array_int* a,
                                                        const dalo_array_term* b);
DALO_API dalo_array_expr* dalo_array_int_add_array_expr(const dalo_array_int* a,
                                                        const dalo_array_expr* b);
DALO_API dalo_array_expr* dalo_array_int_sub_array_var(const dalo_array_int* a,
                                                       const dalo_array_var* b);
DALO_API dalo_array_int* dalo_array_int_sub_array_int(const dalo_array_int* a,
                                                      const dalo_array_int* b);
DALO_API dalo_array_expr* dalo_array_int_sub_array_term(const dalo_array_int* a,
                                                        const dalo_array_term* b);
DALO_API dalo_array_expr* dalo_array_int_sub_array_expr(const dalo_array_int* a,
                                                        const dalo_array_expr* b);
DALO_API dalo_array_term* dalo_array_int_mul_array_var(const dalo_array_int* a,
                                                       const dalo_array_var* b);
DALO_API dalo_array_int* dalo_array_int_mul_array_int(const dalo_array_int* a,
                                                      const dalo_array_int* b);
DALO_API dalo_array_term* dalo_array_int_mul_array_term(const dalo_array_int* a,
                                                        const dalo_array_term* b);
DALO_API dalo_array_expr* dalo_array_int_mul_array_expr(const dalo_array_int* a,
                                                        const dalo_array_expr* b);
DALO_API dalo_array_expr* dalo_array_term_add_array_var(const dalo_array_term* a,
                                                        const dalo_array_var* b);
DALO_API dalo_array_expr* dalo_array_term_add_array_int(const dalo_array_term* a,
                                                        const dalo_array_int* b);
DALO_API dalo_array_expr* dalo_array_term_add_array_term(const dalo_array_term* a,
                                                         const dalo_array_term* b);
DALO_API dalo_array_expr* dalo_array_term_add_array_expr(const dalo_array_term* a,
                                                         const dalo_array_expr* b);
DALO_API dalo_array_expr* dalo_array_term_sub_array_var(const dalo_array_term* a,
                                                        const dalo_array_var* b);
DALO_API dalo_array_expr* dalo_array_term_sub_array_int(const dalo_array_term* a,
                                                        const dalo_array_int* b);
DALO_API dalo_array_expr* dalo_array_term_sub_array_term(const dalo_array_term* a,
                                                         const dalo_array_term* b);
DALO_API dalo_array_expr* dalo_array_term_sub_array_expr(const dalo_array_term* a,
                                                         const dalo_array_expr* b);
DALO_API dalo_array_term* dalo_array_term_mul_array_var(const dalo_array_term* a,
                                                        const dalo_array_var* b);
DALO_API dalo_array_term* dalo_array_term_mul_array_int(const dalo_array_term* a,
                                                        const dalo_array_int* b);
DALO_API dalo_array_term* dalo_array_term_mul_array_term(const dalo_array_term* a,
                                                         const dalo_array_term* b);
DALO_API dalo_array_expr* dalo_array_term_mul_array_expr(const dalo_array_term* a,
                                                         const dalo_array_expr* b);
DALO_API dalo_array_expr* dalo_array_expr_add_array_var(const dalo_array_expr* a,
                                                        const dalo_array_var* b);
DALO_API dalo_array_expr* dalo_array_expr_add_array_int(const dalo_array_expr* a,
                                                        const dalo_array_int* b);
DALO_API dalo_array_expr* dalo_array_expr_add_array_term(const dalo_array_expr* a,
                                                         const dalo_array_term* b);
DALO_API dalo_array_expr* dalo_array_expr_add_array_expr(const dalo_array_expr* a,
                                                         const dalo_array_expr* b);
DALO_API dalo_array_expr* dalo_array_expr_sub_array_var(const dalo_array_expr* a,
                                                        const dalo_array_var* b);
DALO_API dalo_array_expr* dalo_array_expr_sub_array_int(const dalo_array_expr* a,
                                                        const dalo_array_int* b);
DALO_API dalo_array_expr* dalo_array_expr_sub_array_term(const dalo_array_expr* a,
                                                         const dalo_array_term* b);
DALO_API dalo_array_expr* dalo_array_expr_sub_array_expr(const dalo_array_expr* a,
                                                         const dalo_array_expr* b);
DALO_API dalo_array_expr* dalo_array_expr_mul_array_var(const dalo_array_expr* a,
                                                        const dalo_array_var* b);
DALO_API dalo_array_expr* dalo_array_expr_mul_array_int(const dalo_array_expr* a,
                                                        const dalo_array_int* b);
DALO_API dalo_array_expr* dalo_array_expr_mul_array_term(const dalo_array_expr* a,
                                                         const dalo_array_term* b);
DALO_API dalo_array_expr* dalo_array_expr_mul_array_expr(const dalo_array_expr* a,
                                                         const dalo_array_expr* b);

/* In place: the left array changes. */
DALO_API void dalo_array_expr_add_eq_int(dalo_array_expr* a, int64_t b);
DALO_API void dalo_array_expr_sub_eq_int(dalo_array_expr* a, int64_t b);
DALO_API void dalo_array_expr_mul_eq_int(dalo_array_expr* a, int64_t b);
DALO_API void dalo_array_expr_add_eq_var(dalo_array_expr* a, dalo_var b);
DALO_API void dalo_array_expr_sub_eq_var(dalo_array_expr* a, dalo_var b);
DALO_API void dalo_array_expr_mul_eq_var(dalo_array_expr* a, dalo_var b);
DALO_API void dalo_array_expr_add_eq_term(dalo_array_expr* a, const dalo_term* b);
DALO_API void dalo_array_expr_sub_eq_term(dalo_array_expr* a, const dalo_term* b);
DALO_API void dalo_array_expr_mul_eq_term(dalo_array_expr* a, const dalo_term* b);
DALO_API void dalo_array_expr_add_eq_expr(dalo_array_expr* a, const dalo_expr* b);
DALO_API void dalo_array_expr_sub_eq_expr(dalo_array_expr* a, const dalo_expr* b);
DALO_API void dalo_array_expr_mul_eq_expr(dalo_array_expr* a, const dalo_expr* b);
DALO_API void dalo_array_int_add_eq_int(dalo_array_int* a, int64_t b);
DALO_API void dalo_array_int_sub_eq_int(dalo_array_int* a, int64_t b);
DALO_API void dalo_array_int_mul_eq_int(dalo_array_int* a, int64_t b);
DALO_API void dalo_array_term_mul_eq_int(dalo_array_term* a, int64_t b);
DALO_API void dalo_array_expr_add_eq_array_var(dalo_array_expr* a, const dalo_array_var* b);
DALO_API void dalo_array_expr_add_eq_array_int(dalo_array_expr* a, const dalo_array_int* b);
DALO_API void dalo_array_expr_add_eq_array_term(dalo_array_expr* a, const dalo_array_term* b);
DALO_API void dalo_array_expr_add_eq_array_expr(dalo_array_expr* a, const dalo_array_expr* b);
DALO_API void dalo_array_expr_sub_eq_array_var(dalo_array_expr* a, const dalo_array_var* b);
DALO_API void dalo_array_expr_sub_eq_array_int(dalo_array_expr* a, const dalo_array_int* b);
DALO_API void dalo_array_expr_sub_eq_array_term(dalo_array_expr* a, const dalo_array_term* b);
DALO_API void dalo_array_expr_sub_eq_array_expr(dalo_array_expr* a, const dalo_array_expr* b);
DALO_API void dalo_array_expr_mul_eq_array_var(dalo_array_expr* a, const dalo_array_var* b);
DALO_API void dalo_array_expr_mul_eq_array_int(dalo_array_expr* a, const dalo_array_int* b);
DALO_API void dalo_array_expr_mul_eq_array_term(dalo_array_expr* a, const dalo_array_term* b);
DALO_API void dalo_array_expr_mul_eq_array_expr(dalo_array_expr* a, const dalo_array_expr* b);
DALO_API void dalo_array_int_add_eq_array_int(dalo_array_int* a, const dalo_array_int* b);
DALO_API void dalo_array_int_sub_eq_array_int(dalo_array_int* a, const dalo_array_int* b);
DALO_API void dalo_array_int_mul_eq_array_int(dalo_array_int* a, const dalo_array_int* b);

/* Division by k: int elements truncate toward zero and become 0 for k = 0; term and
 * expression elements must divide exactly (k = -1 negates). The copying forms copy the array,
 * then divide it in place.
 * Aborts if: k = 0 for terms or expressions ("Array<Term> /=: division by zero",
 * "Array<Expr> /=: division by zero"); a term coefficient is not a multiple of k
 * ("Array<Term> /=: indivisible coefficient"); an expression constant or coefficient is not
 * ("Indivisible division in Expr constant", "Indivisible division in Expr term"). */
DALO_API dalo_array_term* dalo_array_term_div_int(const dalo_array_term* a, int64_t b);
DALO_API dalo_array_expr* dalo_array_expr_div_int(const dalo_array_expr* a, int64_t b);
DALO_API void dalo_array_expr_div_eq_int(dalo_array_expr* a, int64_t b);
DALO_API void dalo_array_int_div_eq_int(dalo_array_int* a, int64_t b);
DALO_API void dalo_array_term_div_eq_int(dalo_array_term* a, int64_t b);

/* -element as an expression (int elements give the constant -c). */
DALO_API dalo_array_expr* dalo_array_var_negate(const dalo_array_var* a);
DALO_API dalo_array_expr* dalo_array_int_negate(const dalo_array_int* a);
DALO_API dalo_array_expr* dalo_array_term_negate(const dalo_array_term* a);
DALO_API dalo_array_expr* dalo_array_expr_negate(const dalo_array_expr* a);
/* element^2, laid out as dalo_expr_sqr. */
DALO_API dalo_array_expr* dalo_array_expr_sqr(const dalo_array_expr* a);
/* The core simplifications of each element, as dalo_expr_simplify and its variants; the
 * elements are plain and no constraint record is rebuilt. */
DALO_API dalo_array_expr* dalo_array_expr_simplify(const dalo_array_expr* a);
DALO_API dalo_array_expr* dalo_array_expr_simplify_as_binary(const dalo_array_expr* a);
DALO_API dalo_array_expr* dalo_array_expr_simplify_as_spin(const dalo_array_expr* a);
/* Quadratic form of each element, as dalo_expr_reduce but plain and without its checks:
 * integer atoms are treated as ordinary factors. Elements are reduced in order, so the
 * auxiliary variables are numbered by element. */
DALO_API dalo_array_expr* dalo_array_expr_reduce(const dalo_array_expr* a);
/* Each element substituted as dalo_expr_replace (same map arguments, the map built once);
 * the elements are plain and no constraint record is rebuilt. */
DALO_API dalo_array_expr* dalo_array_expr_replace(const dalo_array_expr* a, const dalo_var* vars,
                                                  const dalo_expr* const* repl, uint64_t n);
/* The terms c[i] * x (the same as dalo_array_int_mul_var). */
DALO_API dalo_array_term* dalo_array_int_coeffvec_mul_var(const dalo_array_int* c, dalo_var x);

/* The sum of all elements in element order, as one new expression (int: the 64-bit constant
 * sum). An expression array's sum gets one new constraint sum of every element's constraints
 * (declared when any element is declared); its free-form penalty adds the elements' penalties
 * and, for classic constraints, every plain element.
 * Aborts if: declared and classic elements meet ("dalo::cons: cannot sum declared and
 * classic penalty-style constraints in one array"). */
DALO_API dalo_expr* dalo_array_var_sum(const dalo_array_var* a);
DALO_API dalo_expr* dalo_array_int_sum(const dalo_array_int* a);
DALO_API dalo_expr* dalo_array_term_sum(const dalo_array_term* a);
DALO_API dalo_expr* dalo_array_expr_sum(const dalo_array_expr* a);
/* The plain sum of items[n]. */
DALO_API dalo_expr* dalo_array_sum(const dalo_expr* const* items, uint64_t n);

/* Sums along one axis: the result's shape is the shape without that axis; elements plain.
 * Aborts if: axis >= ndim. */
DALO_API dalo_array_expr* dalo_array_var_vector_sum(const dalo_array_var* a, uint32_t axis);
DALO_API dalo_array_expr* dalo_array_int_vector_sum(const dalo_array_int* a, uint32_t axis);
DALO_API dalo_array_expr* dalo_array_term_vector_sum(const dalo_array_term* a, uint32_t axis);
DALO_API dalo_array_expr* dalo_array_expr_vector_sum(const dalo_array_expr* a, uint32_t axis);
/* The same over a caller buffer of the given shape: kind 0 = expression handles, 1 = variable
 * identifiers, 2 = 24-byte term records (coefficient, two identifiers, tail pointer); any
 * other kind gives zeros. Writes one new owned expression per result element to out.
 * Aborts if: axis >= ndim. */
DALO_API void dalo_array_vector_sum(const void* data, uint32_t kind, const uint64_t* shape,
                                    uint64_t ndim, uint32_t axis, dalo_expr** out);

/* One-hot decoding along axis (negative counts from the end): the position of the single 1
 * where the values are all 0 or 1 with exactly one 1, else -1. The shape loses the axis, or is
 * (1) when none would remain. NULL for an axis outside the array or a scalar array. */
DALO_API dalo_array_int* dalo_array_int_onehot_to_int(const dalo_array_int* a, int64_t axis);

/* Classic constraints: each element e becomes an ExprExpr (see dalo_exprexprelem_create) whose
 * body is e, whose penalty is dalo_between(e, lo, hi) and whose recorded bounds are [lo, hi]:
 * eq: lo = hi = k (penalty (e - k)^2); ge: [k, highest reachable value of e]; le: [lowest
 * reachable value, k]; between: [lo, hi]; the _array_int forms take k, lo or hi per element.
 * ge, le and between run in element order (their slack variables are numbered by element).
 * Aborts if: a bound array's shape differs ("Array == Array<int>: shape mismatch",
 * "Array range constraint: lower-bound array shape mismatch", "Array range constraint:
 * upper-bound array shape mismatch"); an element carries declared constraints. */
DALO_API dalo_array_expr* dalo_array_var_eq_int(const dalo_array_var* a, int64_t k);
DALO_API dalo_array_expr* dalo_array_int_eq_int(const dalo_array_int* a, int64_t k);
DALO_API dalo_array_expr* dalo_array_term_eq_int(const dalo_array_term* a, int64_t k);
DALO_API dalo_array_expr* dalo_array_expr_eq_int(const dalo_array_expr* a, int64_t k);
DALO_API dalo_array_expr* dalo_array_var_eq_array_int(const dalo_array_var* a,
                                                      const dalo_array_int* k);
DALO_API dalo_array_expr* dalo_array_term_eq_array_int(const dalo_array_term* a,
                                                       const dalo_array_int* k);
DALO_API dalo_array_expr* dalo_array_expr_eq_array_int(const dalo_array_expr* a,
                                                       const dalo_array_int* k);
DALO_API dalo_array_expr* dalo_array_var_ge_int(const dalo_array_var* a, int64_t k);
DALO_API dalo_array_expr* dalo_array_int_ge_int(const dalo_array_int* a, int64_t k);
DALO_API dalo_array_expr* dalo_array_term_ge_int(const dalo_array_term* a, int64_t k);
DALO_API dalo_array_expr* dalo_array_expr_ge_int(const dalo_array_expr* a, int64_t k);
DALO_API dalo_array_expr* dalo_array_var_le_int(const dalo_array_var* a, int64_t k);
DALO_API dalo_array_expr* dalo_array_int_le_int(const dalo_array_int* a, int64_t k);
DALO_API dalo_array_expr* dalo_array_term_le_int(const dalo_array_term* a, int64_t k);
DALO_API dalo_array_expr* dalo_array_expr_le_int(const dalo_array_expr* a, int64_t k);
DALO_API dalo_array_expr* dalo_array_var_between(const dalo_array_var* a, int64_t lo, int64_t hi);
DALO_API dalo_array_expr* dalo_array_int_between(const dalo_array_int* a, int64_t lo, int64_t hi);
DALO_API dalo_array_expr* dalo_array_term_between(const dalo_array_term* a, int64_t lo, int64_t hi);
DALO_API dalo_array_expr* dalo_array_expr_between(const dalo_array_expr* a, int64_t lo, int64_t hi);
DALO_API dalo_array_expr* dalo_array_var_ge_array_int(const dalo_array_var* a,
                                                      const dalo_array_int* lo);
DALO_API dalo_array_expr* dalo_array_int_ge_array_int(const dalo_array_int* a,
                                                      const dalo_array_int* lo);
DALO_API dalo_array_expr* dalo_array_term_ge_array_int(const dalo_array_term* a,
                                                       const dalo_array_int* lo);
DALO_API dalo_array_expr* dalo_array_expr_ge_array_int(const dalo_array_expr* a,
                                                       const dalo_array_int* lo);
DALO_API dalo_array_expr* dalo_array_var_le_array_int(const dalo_array_var* a,
                                                      const dalo_array_int* hi);
DALO_API dalo_array_expr* dalo_array_int_le_array_int(const dalo_array_int* a,
                                                      const dalo_array_int* hi);
DALO_API dalo_array_expr* dalo_array_term_le_array_int(const dalo_array_term* a,
                                                       const dalo_array_int* hi);
DALO_API dalo_array_expr* dalo_array_expr_le_array_int(const dalo_array_expr* a,
                                                       const dalo_array_int* hi);
DALO_API dalo_array_expr* dalo_array_var_between_array_int(const dalo_array_var* a,
                                                           const dalo_array_int* lo,
                                                           const dalo_array_int* hi);
DALO_API dalo_array_expr* dalo_array_int_between_array_int(const dalo_array_int* a,
                                                           const dalo_array_int* lo,
                                                           const dalo_array_int* hi);
DALO_API dalo_array_expr* dalo_array_term_between_array_int(const dalo_array_term* a,
                                                            const dalo_array_int* lo,
                                                            const dalo_array_int* hi);
DALO_API dalo_array_expr* dalo_array_expr_between_array_int(const dalo_array_expr* a,
                                                            const dalo_array_int* lo,
                                                            const dalo_array_int* hi);

/* A copy of element i with attribute word 0xFFFFFFFF: the bare penalty of a classic
 * constraint.
 * Aborts if: i >= size. */
DALO_API dalo_expr* dalo_array_exprexpr_get_penalty(const dalo_array_expr* a, uint64_t i);

/* ======================================================================================
 * einsum
 * ==================================================================================== */

/* Input type tags of dalo_einsum. */
#define DALO_EINSUM_VAR 0u  /* dalo_array_var: one variable per element */
#define DALO_EINSUM_INT 1u  /* dalo_array_int: an integer factor */
#define DALO_EINSUM_TERM 2u /* dalo_array_term: coefficient and variable list */
#define DALO_EINSUM_EXPR 3u /* dalo_array_expr: a polynomial */

/*
 * Einstein summation over n arrays: subscript such as "ij,jk->ik" (space, tab and line feed
 * are skipped; without "->" the output labels are those that occur exactly once, in
 * ascending character order). inputs[i] is an array handle of the kind tags[i] names.
 * Labels repeated within an input walk its diagonal; every label that is not an output
 * label is summed over.
 *
 * expr_output = 0 asks for a dalo_array_int (every input must be an integer array; each
 * element is the 64-bit sum of 64-bit products, stored truncated to 32 bits); any other
 * value returns a dalo_array_expr whose elements keep one term per contraction tuple
 * (unsimplified; tuples whose coefficient is 0 are left out). out_dim is the number of
 * output axes the caller expects. The result has the extents of the output labels in
 * output order (ndim 0 without output labels); the caller destroys it with the destroy
 * function of its kind.
 *
 * An output label given twice ("i->ii") yields a result whose elements off the diagonal of
 * those axes are empty.
 *
 * Fatal: n < 1, an unknown tag, a null input, a malformed subscript, a label count that
 * differs from an input's ndim, one label with two extents, an explicit output label that
 * no input has, out_dim different from the number of output labels, or an integer result
 * with a non-integer input.
 */
DALO_API void* dalo_einsum(const char* subscript, int32_t n, const uint32_t* tags,
                           const void* const* inputs, uint32_t expr_output, uint64_t out_dim);

/* ======================================================================================
 * Quadratic forms from integer matrices
 *
 * x^T Q x over n binary identifiers x and an n-by-n matrix, written straight into terms:
 * sum_i Q[i][i] x[i] + sum_{i<j} (Q[i][j] + Q[j][i]) x[i] x[j] (an integer atom on the
 * diagonal keeps its square). Entry (i, j) is q[i * row_stride + j * col_stride], strides in
 * elements and of either sign. The linear terms come first in index order, then the pairs
 * row by row, zero coefficients left out: over ascending identifiers the simplifications
 * find the terms already in order. Coefficients wrap to 32 bits; *wrapped, when not NULL,
 * receives how many did not fit. The result is an owned plain expression.
 * ==================================================================================== */

DALO_API dalo_expr* dalo_expr_create_quadratic_i64(const dalo_var* x, uint64_t n, const int64_t* q,
                                                   int64_t row_stride, int64_t col_stride,
                                                   uint64_t* wrapped);
DALO_API dalo_expr* dalo_expr_create_quadratic_i32(const dalo_var* x, uint64_t n, const int32_t* q,
                                                   int64_t row_stride, int64_t col_stride,
                                                   uint64_t* wrapped);
/* The Model of the same form simplified as binary, equal to dalo_model_create of
 * dalo_expr_simplify_as_binary of the expression above. Over ascending binary identifiers it
 * is written from the matrix without term records: one read of the matrix, one write of the
 * Model's arrays. The caller destroys it with dalo_model_destroy.
 * Aborts if: x holds an identifier that no variable has. */
DALO_API dalo_model* dalo_model_create_quadratic_i64(const dalo_var* x, uint64_t n,
                                                     const int64_t* q, int64_t row_stride,
                                                     int64_t col_stride, uint64_t* wrapped);
DALO_API dalo_model* dalo_model_create_quadratic_i32(const dalo_var* x, uint64_t n,
                                                     const int32_t* q, int64_t row_stride,
                                                     int64_t col_stride, uint64_t* wrapped);
/* The Model of sum_k w[k] x[i[k]] x[j[k]] over count entries (w[k] x[i[k]] where
 * i[k] == j[k]), i and j positions in x, entries that share a pair in either order adding
 * up: equal to dalo_model_create of dalo_expr_simplify_as_binary of that sum. Coefficients
 * wrap to 32 bits; *wrapped, when not NULL, receives how many did not fit. Over ascending
 * binary identifiers it is written from the entries without term records.
 * Aborts if: a position is negative or n or more; x holds an identifier that no variable
 * has. */
DALO_API dalo_model* dalo_model_create_quadratic_coo(const dalo_var* x, uint64_t n,
                                                     const int64_t* i, const int64_t* j,
                                                     const int64_t* w, uint64_t count,
                                                     uint64_t* wrapped);
/* The same with a linear part: the Model of sum_u linear[u] x[u] plus the entries above,
 * linear holding n coefficients (NULL for none). A form kept as a linear vector and pair
 * vectors needs no diagonal entries appended to its pairs. Coefficients wrap to 32 bits;
 * *wrapped counts those of linear too.
 * Aborts if: as dalo_model_create_quadratic_coo. */
DALO_API dalo_model* dalo_model_create_quadratic_vectors(const dalo_var* x, uint64_t n,
                                                         const int64_t* linear, const int64_t* i,
                                                         const int64_t* j, const int64_t* w,
                                                         uint64_t count, uint64_t* wrapped);

/* ======================================================================================
 * ILP export
 *
 * A Model becomes an integer linear program: columns (binary, or integer with bounds), a
 * linear objective with a constant, and rows lower <= sum coeff * column <= upper. Declared
 * constraints become hard rows (weights ignored); each free-form penalty term becomes a row
 * saying that not all of its literals are true; a VarInt whose bits the Model uses only in
 * their encoded form becomes one integer column. Columns come in this order: the binary
 * columns of the other model variables (model-index order), the folded VarInts (registry
 * order), then one column per integer atom. The Ilp copies what it needs from the Model and
 * is read-only; several threads may read it.
 * ==================================================================================== */

/* The program of m, or NULL when m is not an ILP; the reason is then in
 * dalo_ilp_last_error(), which every build on the calling thread first empties.
 * Aborts if: a declared constraint has a nonlinear body or an allowed-value set. */
DALO_API dalo_ilp* dalo_model_ilp_build(const dalo_model* m);
/* The calling thread's last build or write failure ("" after a success); a per-thread
 * buffer. */
DALO_API const char* dalo_ilp_last_error(void);
/* Releases ilp; NULL is allowed. */
DALO_API void dalo_ilp_destroy(dalo_ilp* ilp);

/* Columns. Every accessor taking a column or bit index aborts when it is out of range
 * ("<function>: index out of range"). */
DALO_API uint32_t dalo_ilp_ncols(const dalo_ilp* ilp);
/* 0 binary, 1 integer. */
DALO_API uint8_t dalo_ilp_col_kind(const dalo_ilp* ilp, uint32_t col);
/* The model index of a binary column, the integer-atom position of an atom column, or
 * 0xFFFFFFFF for a folded VarInt. */
DALO_API uint32_t dalo_ilp_col_model_var(const dalo_ilp* ilp, uint32_t col);
/* Column bounds, each stored when its pointer is not NULL. */
DALO_API void dalo_ilp_col_bounds(const dalo_ilp* ilp, uint32_t col, int64_t* lower,
                                  int64_t* upper);
/* Number of encoding bits of a folded column (0 for the others); bit k is the model
 * variable dalo_ilp_col_bit_var and weighs dalo_ilp_col_bit_coeff: the column's value is
 * its lower bound plus the sum of the weights of the bits that are 1. */
DALO_API uint32_t dalo_ilp_col_nbits(const dalo_ilp* ilp, uint32_t col);
DALO_API uint32_t dalo_ilp_col_bit_var(const dalo_ilp* ilp, uint32_t col, uint32_t k);
DALO_API int64_t dalo_ilp_col_bit_coeff(const dalo_ilp* ilp, uint32_t col, uint32_t k,
                                        int64_t* out);
/* Writes the bit values (one byte per bit, 0 or 1) that encode value in a folded column:
 * bits are taken greedily in descending weight.
 * Aborts if: value is not encodable ("dalo_ilp_col_decode: integer value out of the encoded
 * range"). */
DALO_API void dalo_ilp_col_decode(const dalo_ilp* ilp, uint32_t col, int64_t value, uint8_t* out);
/* The column's name in written files: the variable's name with characters that the file
 * formats do not take replaced by '_', made distinct by a suffix "_2", "_3", ... */
DALO_API const char* dalo_ilp_col_name(const dalo_ilp* ilp, uint32_t col);
/* Objective coefficient of a column and the objective constant (also stored through out
 * when it is not NULL). */
DALO_API int64_t dalo_ilp_obj(const dalo_ilp* ilp, uint32_t col, int64_t* out);
DALO_API int64_t dalo_ilp_obj_constant(const dalo_ilp* ilp, int64_t* out);

/* Rows: the declared constraints in Model order, then one row per free-form penalty term.
 * Entries are in ascending column order. A side flagged implied need not be posted: the
 * column bounds already guarantee it. Accessors abort on a row or entry index out of range. */
DALO_API uint64_t dalo_ilp_nrows(const dalo_ilp* ilp);
DALO_API uint64_t dalo_ilp_row_nnz(const dalo_ilp* ilp, uint64_t row);
DALO_API uint32_t dalo_ilp_row_col(const dalo_ilp* ilp, uint64_t row, uint64_t k);
DALO_API int64_t dalo_ilp_row_coeff(const dalo_ilp* ilp, uint64_t row, uint64_t k, int64_t* out);
DALO_API void dalo_ilp_row_bounds(const dalo_ilp* ilp, uint64_t row, int64_t* lower, int64_t* upper,
                                  uint32_t* lower_implied, uint32_t* upper_implied);

/* Write the program to path as a CPLEX-LP file or a free-format MPS file, to be minimised:
 * columns under their dalo_ilp_col_name, in column order (every column is listed in the
 * objective, so solvers number them alike); binary and general-integer sections with the
 * bounds; row i named "c<i>" (an LP file writes a row with two posted sides as "c<i>_lo"
 * and "c<i>_hi", an MPS file as a range); rows whose sides are both implied are left out.
 * A non-zero objective constant is the objective coefficient of one more column, fixed at 1
 * and named "dalo_constant" (made distinct like the others), since readers disagree on
 * constants in objectives; that column is also written when the program has no other. An LP
 * file without a posted row gets the row "no_rows: 0 COLUMN >= 0" over its first column; an
 * MPS file's NAME line says FREE, so that no reader takes its lines for fixed columns.
 * Return 0, or -1 with the reason in dalo_ilp_last_error() when the file cannot be written. */
DALO_API int dalo_ilp_write_lp(const dalo_ilp* ilp, const char* path);
DALO_API int dalo_ilp_write_mps(const dalo_ilp* ilp, const char* path);

#ifdef __cplusplus
}
#endif

#endif /* DALO_H */

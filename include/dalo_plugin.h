/*
 * The solver plug-in interface of dalo_c32e64m0.so.
 *
 * The library loads three families of solver plug-ins at run time and drives them only
 * through the entry points below:
 *
 *   family        file (next to the library)  entry-point prefix
 *   BriskSolver   brisksolver_c32e64.so        dalo_brisk_solver_
 *   SweepSolver   sweep_c32e64.so              dalo_sweep_
 *   KELPSolver    kelp_c32e64.so               dalo_kelp_
 *
 * Where the library looks: for BriskSolver and KELPSolver the directory named by the
 * environment variable DALO_LIB_DIR when it is set and not empty, otherwise the directory of
 * the library's own file (or "./", or "lib/" when the loader cannot tell); SweepSolver always
 * uses the library's own directory. Files are opened with RTLD_NOW | RTLD_LOCAL and never
 * closed. A missing required entry point ends the process with
 * "<family>: symbol not found: <name>"; a missing optional one only removes a capability.
 *
 * This build: coefficients are 32-bit (dalo_plugin_coeff), constants and energies 64-bit
 * (dalo_plugin_energy); solver type "c32e64".
 *
 * The Model arrays handed to create (and the constraint and remainder arrays) belong to the
 * library and stay valid until the plug-in's destroy is called; a plug-in copies what it needs
 * to keep. Variable words inside them: a binary variable is its model index 0..n-1, with bit 31
 * set for a negated literal (1 - x; only in terms of degree 3 or more); in the integer entry
 * points an integer variable k is word (binary count + k) (see each entry point).
 *
 * Every array of term variables holds d words per term of degree d, term after term.
 */
#ifndef DALO_PLUGIN_H
#define DALO_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Plug-ins built with hidden visibility mark their entry-point definitions with this. */
#if defined(__GNUC__) || defined(__clang__)
#define DALO_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define DALO_PLUGIN_EXPORT
#endif

typedef int32_t dalo_plugin_coeff;
typedef int64_t dalo_plugin_energy;

/* A (key, value) pair of NUL-terminated strings. Parameter arrays (library -> plug-in) and
 * information arrays (plug-in -> library) are sequences of pairs ended by a pair whose key is
 * NULL. Parameter arrays belong to the library and live for the duration of the call. */
typedef struct dalo_plugin_pair {
    const char* key;
    const char* value;
} dalo_plugin_pair;

/* Solution record of BriskSolver and SweepSolver: five cells allocated by the library.
 * var_count and word_count ((var_count + 63) / 64) are set by the library; the plug-in
 * writes energy, the bit words (variable i = bit i % 64 of word i / 64, all 0 on entry) and
 * the time to solution in seconds. */
typedef struct dalo_solution_record {
    uint32_t* var_count;
    uint32_t* word_count;
    dalo_plugin_energy* energy;
    uint64_t* bits;
    double* tts;
} dalo_solution_record;

/* Solution record of KELPSolver: bits (word_count zeroed words) is allocated by the library;
 * the plug-in writes energy, bits and tts, and may point info at an information array of its
 * own that stays valid until the plug-in's handle or list is destroyed. */
typedef struct dalo_kelp_solution_record {
    dalo_plugin_energy energy;
    uint64_t* bits;
    double tts;
    const dalo_plugin_pair* info;
    uint32_t word_count;
} dalo_kelp_solution_record;

/* Progress callback a plug-in may call during a search: context (see each family), pointer to
 * the energy, the bit words or NULL, an event number (the plug-in's own: the library
 * forwards 0 = start, 1 = new best, 2 = timer to hosts), seconds since the search started.
 * The returned number is the host's answer (-1.0: nothing to say). */
typedef double (*dalo_plugin_callback)(void* context, const dalo_plugin_energy* energy,
                                       const uint64_t* bits, uint32_t event, double time);
/* The same with the values of the integer variables (unified integer engines). */
typedef double (*dalo_plugin_callback_iv)(void* context, const dalo_plugin_energy* energy,
                                          const uint64_t* bits, const int64_t* int_values,
                                          uint32_t event, double time);
/* SweepSolver's callback returns nothing. */
typedef void (*dalo_plugin_sweep_callback)(void* context, const dalo_plugin_energy* energy,
                                           const uint64_t* bits, uint32_t event, double time);

/* How a plug-in reports misuse: the library's handler takes the whole line ("dalo: " +
 * message) and does not return. It ends the process, or unwinds the call back into the
 * library when the calling thread keeps errors (so plug-ins need unwind tables, the C++
 * default). A plug-in receives it right after loading through its optional set_fail entry
 * point and calls it only on the thread that entered the plug-in; without set_fail a plug-in
 * writes the line and aborts itself. */
typedef void (*dalo_plugin_fail)(const char* line);

/* ======================================================================================
 * BriskSolver (brisksolver_c32e64.so). Required: create, destroy, search, sol_list_count,
 * sol_list_get, sol_list_destroy, register_callback. Everything else is optional and adds a
 * capability.
 * ==================================================================================== */

/* The Model: reserved (NULL), variable count, maximum degree D, the constant, D term counts
 * (degree 1 first), D pointers to the term variable arrays, D pointers to the coefficients.
 * Returns a solver handle (not NULL). */
void* dalo_brisk_solver_create(void* reserved, uint32_t var_count, uint32_t max_degree,
                               const dalo_plugin_energy* constant, const uint64_t* term_counts,
                               const uint32_t* const* term_vars,
                               const dalo_plugin_coeff* const* coeffs);
void dalo_brisk_solver_destroy(void* solver);
/* Writes the best solution into best and returns a list of further solutions or NULL. params
 * always holds "time_limit"; hint is the host's value, passed through unchanged (NULL, or the
 * host's start assignment as var_count bits in words). */
void* dalo_brisk_solver_search(void* solver, dalo_solution_record* best,
                               const dalo_plugin_pair* params, const void* hint);
uint64_t dalo_brisk_solver_sol_list_count(void* list);
void dalo_brisk_solver_sol_list_get(void* list, uint64_t index, dalo_solution_record* out);
void dalo_brisk_solver_sol_list_destroy(void* list);
/* Called once per process with a function that returns -1.0. */
void dalo_brisk_solver_register_callback(dalo_plugin_callback callback);
void dalo_brisk_solver_set_fail(dalo_plugin_fail fail);
/* Optional: information pairs about the last search (released through free_info). */
dalo_plugin_pair* dalo_brisk_solver_get_info(void* solver);
void dalo_brisk_solver_free_info(dalo_plugin_pair* info);
/* Optional: native constraints, handed over right after create in Model order. The penalty
 * of a constraint with body value v = constant + sum coeffs[i] * x(vars[i]) (+ nonlinear
 * terms) is weight * viol^2, viol = lower - v below lower, v - upper above upper, else 0;
 * with allowed intervals, viol is the distance to the nearest interval. */
void dalo_brisk_solver_add_constraint(void* solver, const int64_t* weight, const int64_t* lower,
                                      const int64_t* upper, const int64_t* constant,
                                      uint64_t nterms, const uint32_t* vars,
                                      const dalo_plugin_coeff* coeffs);
/* As add_constraint, plus nonlinear terms: term t holds nl_vars[nl_head[t] .. nl_head[t+1])
 * with coefficient nl_coeffs[t] (nl_head has nl_terms + 1 entries, starting at 0). */
void dalo_brisk_solver_add_constraint_nl(void* solver, const int64_t* weight, const int64_t* lower,
                                         const int64_t* upper, const int64_t* constant,
                                         uint64_t nterms, const uint32_t* vars,
                                         const dalo_plugin_coeff* coeffs, uint64_t nl_terms,
                                         const uint64_t* nl_head, const uint32_t* nl_vars,
                                         const dalo_plugin_coeff* nl_coeffs);
/* As add_constraint, with nsets allowed intervals [set_lo[i], set_hi[i]]. */
void dalo_brisk_solver_add_constraint_set(void* solver, const int64_t* weight, const int64_t* lower,
                                          const int64_t* upper, const int64_t* constant,
                                          uint64_t nterms, const uint32_t* vars,
                                          const dalo_plugin_coeff* coeffs, uint64_t nsets,
                                          const int64_t* set_lo, const int64_t* set_hi);
/* Optional: the penalty shape of the constraint added last: exponent 1 (weight * viol) or 2;
 * param is the objective-only flag (0/1) when exponent is 1, and 1 when exponent is 2. */
void dalo_brisk_solver_set_cons_shape(void* solver, uint32_t exponent, uint32_t param);
/* Optional: the free-form penalty remainder (already part of the objective terms; for the
 * plug-in's information): term t holds vars[head[t] .. head[t+1]) with coeffs[t]. */
void dalo_brisk_solver_set_remainder(void* solver, const int64_t* constant, uint64_t nterms,
                                     const uint64_t* head, const uint32_t* vars,
                                     const dalo_plugin_coeff* coeffs);
/* Optional unified integer engine: binary variables 0..nbin-1, integer variables
 * nbin..nbin+nint-1 with bounds lower[k]..upper[k]; term words name them in that one space. */
void* dalo_brisk_solver_create_int(void* reserved, uint32_t nbin, uint64_t nint,
                                   const int64_t* lower, const int64_t* upper, uint32_t max_degree,
                                   const dalo_plugin_energy* constant, const uint64_t* term_counts,
                                   const uint32_t* const* term_vars,
                                   const dalo_plugin_coeff* const* coeffs);
/* Writes the best binary part into best and the nint integer values into int_values;
 * params may hold "thread_count". Returns a list (released unread) or NULL. */
void* dalo_brisk_solver_search_int(void* solver, dalo_solution_record* best,
                                   const dalo_plugin_pair* params, int64_t* int_values);

/* ======================================================================================
 * SweepSolver (sweep_c32e64.so): exact enumeration. Required: create, destroy, search,
 * sol_list_count, sol_list_get, sol_list_destroy, register_callback.
 * ==================================================================================== */

/* As BriskSolver's create; mode is 0xFFFFFFFF. */
void* dalo_sweep_create(void* reserved, uint32_t var_count, uint32_t max_degree,
                        const dalo_plugin_energy* constant, const uint64_t* term_counts,
                        const uint32_t* const* term_vars, const dalo_plugin_coeff* const* coeffs,
                        uint32_t mode);
void dalo_sweep_destroy(void* solver);
/* No default parameters are added by the library. */
void* dalo_sweep_search(void* solver, dalo_solution_record* best, const dalo_plugin_pair* params);
uint64_t dalo_sweep_sol_list_count(void* list);
void dalo_sweep_sol_list_get(void* list, uint64_t index, dalo_solution_record* out);
void dalo_sweep_sol_list_destroy(void* list);
/* Called once per process with a function that does nothing. */
void dalo_sweep_register_callback(dalo_plugin_sweep_callback callback);
void dalo_sweep_set_fail(dalo_plugin_fail fail);
dalo_plugin_pair* dalo_sweep_get_info(void* solver);
void dalo_sweep_free_info(dalo_plugin_pair* info);
void dalo_sweep_add_constraint(void* solver, const int64_t* weight, const int64_t* lower,
                               const int64_t* upper, const int64_t* constant, uint64_t nterms,
                               const uint32_t* vars, const dalo_plugin_coeff* coeffs);
void dalo_sweep_add_constraint_nl(void* solver, const int64_t* weight, const int64_t* lower,
                                  const int64_t* upper, const int64_t* constant, uint64_t nterms,
                                  const uint32_t* vars, const dalo_plugin_coeff* coeffs,
                                  uint64_t nl_terms, const uint64_t* nl_head,
                                  const uint32_t* nl_vars, const dalo_plugin_coeff* nl_coeffs);
void dalo_sweep_add_constraint_set(void* solver, const int64_t* weight, const int64_t* lower,
                                   const int64_t* upper, const int64_t* constant, uint64_t nterms,
                                   const uint32_t* vars, const dalo_plugin_coeff* coeffs,
                                   uint64_t nsets, const int64_t* set_lo, const int64_t* set_hi);
void dalo_sweep_set_cons_shape(void* solver, uint32_t exponent, uint32_t param);
void dalo_sweep_set_remainder(void* solver, const int64_t* constant, uint64_t nterms,
                              const uint64_t* head, const uint32_t* vars,
                              const dalo_plugin_coeff* coeffs);

/* ======================================================================================
 * KELPSolver (kelp_c32e64.so): a CPU solver, an optional GPU solver, optional unified and
 * GPU integer engines. Required: gpu_device_count, cpu_solver_create, cpu_solver_destroy,
 * cpu_solver_search, cpu_register_callback, cpu_sol_list_count, cpu_sol_list_get,
 * cpu_sol_list_destroy. The GPU solver exists when solver_create does (then all of init,
 * solver_destroy, solver_search, register_callback, sol_list_count, sol_list_get,
 * sol_list_destroy, hint_solution and solver_set_external_stop must exist too). The integer
 * GPU engine exists when int_create, int_add_cons, int_round2, int_hint and int_destroy all do.
 * The context passed to create is the library's wrapper; hand it back to the callback.
 * ==================================================================================== */

/* Usable GPU devices (0 without a driver; never fails). */
int32_t dalo_kelp_gpu_device_count(void);
void dalo_kelp_set_fail(dalo_plugin_fail fail);

void* dalo_kelp_cpu_solver_create(void* context, uint32_t var_count, uint32_t max_degree,
                                  const dalo_plugin_energy* constant, const uint64_t* term_counts,
                                  const uint32_t* const* term_vars,
                                  const dalo_plugin_coeff* const* coeffs);
void dalo_kelp_cpu_solver_destroy(void* solver);
/* Writes the best solution into best; returns a list or NULL. hint as for BriskSolver. */
void* dalo_kelp_cpu_solver_search(void* solver, dalo_kelp_solution_record* best, uint32_t var_count,
                                  const dalo_plugin_pair* params, const void* hint);
/* Called once per process with the library's forwarding function. */
void dalo_kelp_cpu_register_callback(dalo_plugin_callback callback);
uint64_t dalo_kelp_cpu_sol_list_count(void* list);
void dalo_kelp_cpu_sol_list_get(void* list, uint64_t index, dalo_kelp_solution_record* out,
                                uint32_t var_count);
void dalo_kelp_cpu_sol_list_destroy(void* list);
/* Optional: a start assignment (var_count bits) for the next or running search. */
void dalo_kelp_cpu_hint_solution(void* solver, const uint64_t* bits);
/* Optional: a one-byte flag the search polls (read it atomically); 1 asks the search to end
 * as soon as it can, returning its best so far. */
void dalo_kelp_cpu_solver_set_external_stop(void* solver, const uint8_t* stop_flag);
/* Optional native constraints, shapes and remainder on the CPU solver (as BriskSolver's). */
void dalo_kelp_cpu_add_constraint(void* solver, const int64_t* weight, const int64_t* lower,
                                  const int64_t* upper, const int64_t* constant, uint64_t nterms,
                                  const uint32_t* vars, const dalo_plugin_coeff* coeffs);
void dalo_kelp_cpu_add_constraint_nl(void* solver, const int64_t* weight, const int64_t* lower,
                                     const int64_t* upper, const int64_t* constant, uint64_t nterms,
                                     const uint32_t* vars, const dalo_plugin_coeff* coeffs,
                                     uint64_t nl_terms, const uint64_t* nl_head,
                                     const uint32_t* nl_vars, const dalo_plugin_coeff* nl_coeffs);
void dalo_kelp_cpu_add_constraint_set(void* solver, const int64_t* weight, const int64_t* lower,
                                      const int64_t* upper, const int64_t* constant,
                                      uint64_t nterms, const uint32_t* vars,
                                      const dalo_plugin_coeff* coeffs, uint64_t nsets,
                                      const int64_t* set_lo, const int64_t* set_hi);
void dalo_kelp_cpu_set_cons_shape(void* solver, uint32_t exponent, uint32_t param);
void dalo_kelp_cpu_set_remainder(void* solver, const int64_t* constant, uint64_t nterms,
                                 const uint64_t* head, const uint32_t* vars,
                                 const dalo_plugin_coeff* coeffs);
/* Optional unified integer engine on the CPU path (index space as BriskSolver's); device:
 * the GPU mode when positive, 0xFFFFFFFF when negative, 0 when 0. */
void* dalo_kelp_cpu_solver_create_int(void* context, uint32_t nbin, uint64_t nint,
                                      const int64_t* lower, const int64_t* upper,
                                      uint32_t max_degree, const dalo_plugin_energy* constant,
                                      const uint64_t* term_counts, const uint32_t* const* term_vars,
                                      const dalo_plugin_coeff* const* coeffs, uint32_t device);
void* dalo_kelp_cpu_solver_search_int(void* solver, dalo_kelp_solution_record* best, uint32_t nbin,
                                      const dalo_plugin_pair* params, int64_t* int_values);
void dalo_kelp_cpu_register_callback_iv(dalo_plugin_callback_iv callback);
/* A start state for the running unified integer search. */
void dalo_kelp_cpu_hint_iv(void* solver, const uint64_t* bits, const int64_t* int_values,
                           uint64_t nint);

/* GPU solver (present when dalo_kelp_solver_create exists). device: the GPU mode when
 * positive, 0xFFFFFFFF for "any device" when negative, 0 otherwise. */
void dalo_kelp_init(void);
void* dalo_kelp_solver_create(void* context, uint32_t var_count, uint32_t max_degree,
                              const dalo_plugin_energy* constant, const uint64_t* term_counts,
                              const uint32_t* const* term_vars,
                              const dalo_plugin_coeff* const* coeffs, uint32_t device);
void dalo_kelp_solver_destroy(void* solver);
void* dalo_kelp_solver_search(void* solver, dalo_kelp_solution_record* best, uint32_t var_count,
                              const dalo_plugin_pair* params, const void* hint);
void dalo_kelp_register_callback(dalo_plugin_callback callback);
uint64_t dalo_kelp_sol_list_count(void* list);
void dalo_kelp_sol_list_get(void* list, uint64_t index, dalo_kelp_solution_record* out,
                            uint32_t var_count);
void dalo_kelp_sol_list_destroy(void* list);
void dalo_kelp_hint_solution(void* solver, const uint64_t* bits);
void dalo_kelp_solver_set_external_stop(void* solver, const uint8_t* stop_flag);
void dalo_kelp_add_constraint(void* solver, const int64_t* weight, const int64_t* lower,
                              const int64_t* upper, const int64_t* constant, uint64_t nterms,
                              const uint32_t* vars, const dalo_plugin_coeff* coeffs);
void dalo_kelp_add_constraint_nl(void* solver, const int64_t* weight, const int64_t* lower,
                                 const int64_t* upper, const int64_t* constant, uint64_t nterms,
                                 const uint32_t* vars, const dalo_plugin_coeff* coeffs,
                                 uint64_t nl_terms, const uint64_t* nl_head,
                                 const uint32_t* nl_vars, const dalo_plugin_coeff* nl_coeffs);
void dalo_kelp_add_constraint_set(void* solver, const int64_t* weight, const int64_t* lower,
                                  const int64_t* upper, const int64_t* constant, uint64_t nterms,
                                  const uint32_t* vars, const dalo_plugin_coeff* coeffs,
                                  uint64_t nsets, const int64_t* set_lo, const int64_t* set_hi);
void dalo_kelp_set_cons_shape(void* solver, uint32_t exponent, uint32_t param);
void dalo_kelp_set_remainder(void* solver, const int64_t* constant, uint64_t nterms,
                             const uint64_t* head, const uint32_t* vars,
                             const dalo_plugin_coeff* coeffs);

/* Integer GPU engine: many replicas improving batches of start states. Variable words name
 * binary variables 0..nbin-1 and integer variables nbin..nbin+nint-1. */
void* dalo_kelp_int_create(uint32_t nbin, uint64_t nint, const int64_t* lower, const int64_t* upper,
                           uint32_t max_degree, const dalo_plugin_energy* constant,
                           const uint64_t* term_counts, const uint32_t* const* term_vars,
                           const dalo_plugin_coeff* const* coeffs, uint32_t reserved,
                           uint32_t replicas, uint32_t seed);
/* One native constraint (nsets = 0 and NULL set arrays without an allowed set). */
void dalo_kelp_int_add_cons(void* engine, const int64_t* weight, const int64_t* lower,
                            const int64_t* upper, const int64_t* constant, uint64_t nterms,
                            const uint32_t* vars, const dalo_plugin_coeff* coeffs,
                            uint64_t nl_terms, const uint64_t* nl_head, const uint32_t* nl_vars,
                            const dalo_plugin_coeff* nl_coeffs, uint64_t nsets,
                            const int64_t* set_lo, const int64_t* set_hi);
/* Shape of the constraint added last (exponent, objective-only flag). */
void dalo_kelp_int_set_cons_shape(void* engine, uint32_t exponent, uint32_t objective_only);
/* Improves batch start states (each (nbin + 63) / 64 bit words and nint integer values, state
 * after state) and writes the results, their energies and whether each improved on its
 * start. Returns 0, or non-zero to end the submissions. */
int32_t dalo_kelp_int_round2(void* engine, const uint64_t* start_bits, const int64_t* start_ints,
                             uint32_t batch, uint64_t* out_bits, int64_t* out_ints,
                             dalo_plugin_energy* out_energies, uint8_t* out_improved);
/* A start state to use. */
void dalo_kelp_int_hint(void* engine, const uint64_t* bits, const int64_t* int_values);
void dalo_kelp_int_destroy(void* engine);

#ifdef __cplusplus
}
#endif

#endif /* DALO_PLUGIN_H */

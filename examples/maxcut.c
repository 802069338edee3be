/* Max-Cut on a G-set graph with BriskSolver.
 *
 *   maxcut FILE [BEST_KNOWN [SECONDS]]
 *
 * FILE holds "n m" and then m lines "i j w" (1-based vertices). The cut of a side assignment x
 * is the sum of w over edges whose ends differ: w (x_i + x_j - 2 x_i x_j). BriskSolver
 * minimises, so the objective is the negated cut. With BEST_KNOWN the search stops once it
 * reaches that value. */
#include <stdio.h>
#include <stdlib.h>

#include "dalo.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE [BEST_KNOWN [SECONDS]]\n", argv[0]);
        return 2;
    }
    long long best_known = argc > 2 ? atoll(argv[2]) : 0;
    const char* seconds = argc > 3 ? argv[3] : "2";
    FILE* in = fopen(argv[1], "r");
    if (in == NULL) {
        perror(argv[1]);
        return 1;
    }
    unsigned long long n = 0, m = 0;
    if (fscanf(in, "%llu %llu", &n, &m) != 2) {
        fprintf(stderr, "%s: bad header\n", argv[1]);
        fclose(in);
        return 1;
    }
    uint64_t shape = n;
    dalo_var x = dalo_new_var_array("x", &shape, 1);
    dalo_expr* cut = dalo_expr_create();
    for (unsigned long long e = 0; e < m; ++e) {
        long long i = 0, j = 0, w = 0;
        if (fscanf(in, "%lld %lld %lld", &i, &j, &w) != 3) {
            fprintf(stderr, "%s: bad edge line %llu\n", argv[1], e + 2);
            fclose(in);
            return 1;
        }
        dalo_var ends[2] = {x + (dalo_var)(i - 1), x + (dalo_var)(j - 1)};
        dalo_expr_iadd_raw_term(cut, w, &ends[0], 1);
        dalo_expr_iadd_raw_term(cut, w, &ends[1], 1);
        dalo_expr_iadd_raw_term(cut, -2 * w, ends, 2);
    }
    fclose(in);

    /* Minimise -cut. */
    dalo_expr_imul_int(cut, -1);
    dalo_expr* objective = dalo_expr_simplify_as_binary(cut);
    dalo_model* model = dalo_model_create(objective);

    char target[32];
    snprintf(target, sizeof target, "%lld", -best_known);
    dalo_param params[3] = {{"time_limit", seconds}, {"target_energy", target}, {NULL, NULL}};
    if (best_known == 0) params[1].key = NULL;
    dalo_brisk_solver_wrapper* solver = dalo_brisk_solver_wrapper_create(model);
    dalo_solver_result* result = dalo_brisk_solver_wrapper_search(solver, params, NULL);
    long long value = -(long long)dalo_brisk_solver_result_energy(result, NULL);
    printf("Max-Cut %s: %llu vertices, %llu edges\n", argv[1], n, m);
    printf("cut %lld found after %.3f s", value, dalo_brisk_solver_result_tts(result));
    if (best_known != 0) printf(" (best known %lld)", best_known);
    printf("\n");

    dalo_brisk_solver_result_destroy(result);
    dalo_brisk_solver_wrapper_destroy(solver);
    dalo_model_destroy(model);
    dalo_expr_destroy(objective);
    dalo_expr_destroy(cut);
    return 0;
}

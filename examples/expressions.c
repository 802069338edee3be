/* Builds a few expressions through the C interface and prints them. */
#include <stdio.h>

#include "dalo.h"

int main(void) {
    uint64_t shape[2] = {2, 3};
    dalo_var x = dalo_new_var("x");
    dalo_var y = dalo_new_var("y");
    dalo_var q = dalo_new_var_array("q", shape, 2);
    dalo_var k = dalo_new_int_var("k", 0, 10);

    /* f = 5 + 3x - 2y + xy */
    dalo_expr* f = dalo_expr_create_int(5);
    dalo_expr_iadd_raw_term(f, 3, &x, 1);
    dalo_expr_iadd_raw_term(f, -2, &y, 1);
    dalo_var xy[2] = {x, y};
    dalo_expr_iadd_raw_term(f, 1, xy, 2);
    printf("f            = %s\n", dalo_expr_str(f));

    /* g = (x + 1) * (y + 2): nothing is merged until simplification */
    dalo_expr* a = dalo_expr_create_add_var_int(x, 1);
    dalo_expr* b = dalo_expr_create_add_var_int(y, 2);
    dalo_expr* g = dalo_expr_mul_expr(a, b);
    printf("(x+1)*(y+2)  = %s\n", dalo_expr_str(g));

    /* h = (x + y + 1)^2 */
    dalo_expr* s = dalo_expr_create_add_var_var(x, y);
    dalo_expr_iadd_int(s, 1);
    dalo_expr* h = dalo_expr_sqr(s);
    printf("(x+y+1)^2    = %s\n", dalo_expr_str(h));

    /* Array elements, negated literals and an integer variable. */
    dalo_expr* r = dalo_expr_create_var(q + 4);
    dalo_expr_isub_var(r, (q + 5) | DALO_NEG_BIT);
    dalo_expr_iadd_var(r, k);
    dalo_expr_imul_int(r, 3);
    printf("3*(q11-~q12+k)= %s\n", dalo_expr_str(r));
    printf("terms %llu, max degree %llu, used variables %llu\n",
           (unsigned long long)dalo_expr_term_count(h), (unsigned long long)dalo_expr_max_degree(h),
           (unsigned long long)dalo_used_var_count());

    dalo_expr_destroy(f);
    dalo_expr_destroy(a);
    dalo_expr_destroy(b);
    dalo_expr_destroy(g);
    dalo_expr_destroy(s);
    dalo_expr_destroy(h);
    dalo_expr_destroy(r);
    return 0;
}

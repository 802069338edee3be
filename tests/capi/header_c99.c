/* The public header as a strict C99 program sees it. */
#include "dalo.h"

#include <stdio.h>
#include <string.h>

int main(void) {
    dalo_var x = dalo_new_var("x");
    dalo_expr* e = dalo_expr_create_add_var_int(x, -1);
    int ok = strcmp(dalo_expr_str(e), "-1 +x") == 0;
    dalo_expr_destroy(e);
    if (!ok) fprintf(stderr, "unexpected text\n");
    return ok ? 0 : 1;
}

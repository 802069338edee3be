// Substitution, evaluation under a map and binarization.
#include "capi/handles.hpp"
#include "core/fatal.hpp"

using namespace dalo;

extern "C" {

dalo_expr* dalo_expr_replace(const dalo_expr*, const dalo_var*, const dalo_expr* const*, uint64_t) {
    fatal("replace: not available yet");
}
int64_t dalo_expr_eval_map(const dalo_expr*, const dalo_var*, const int64_t*, uint64_t, int64_t*) {
    fatal("eval: not available yet");
}
dalo_expr* dalo_expr_binarize(const dalo_expr*) { fatal("binarize: not available yet"); }

}  // extern "C"

// Error reporting: the per-thread mode, the last error and its handler.
#include <string>

#include "core/fatal.hpp"
#include "dalo.h"

using namespace dalo;

static_assert(DALO_ERRORS_ABORT == kErrorsAbort && DALO_ERRORS_KEEP == kErrorsKeep);

extern "C" {

int dalo_set_error_mode(int mode) try {
    if (mode != DALO_ERRORS_ABORT && mode != DALO_ERRORS_KEEP) {
        fatal("dalo_set_error_mode: unknown mode " + std::to_string(mode) +
              " (DALO_ERRORS_ABORT or DALO_ERRORS_KEEP expected)");
    }
    return set_error_mode(mode);
}
DALO_RECOVER

int dalo_error_mode(void) { return error_mode(); }

const char* dalo_last_error(void) {
    const ThreadErrors& t = thread_errors();
    return t.failed ? t.last.c_str() : nullptr;
}

void dalo_clear_error(void) {
    ThreadErrors& t = thread_errors();
    t.failed = false;
    t.last.clear();
}

void dalo_set_error_handler(dalo_error_handler handler, void* context) {
    ThreadErrors& t = thread_errors();
    t.handler = handler;
    t.context = context;
}

}  // extern "C"

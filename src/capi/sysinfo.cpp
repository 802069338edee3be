// Solver type and system information strings.
#include <string>

#include "core/fatal.hpp"
#include "dalo.h"
#include "solvers/sysinfo.hpp"

extern "C" {

const char* dalo_expr_solver_type(void) try {
    thread_local const std::string type = "c32e64";
    return type.c_str();
}
DALO_RECOVER

const char* dalo_const_str(const char* key) try {
    // Room reserved up front keeps the buffer in place, so an earlier pointer shows the
    // latest answer rather than freed memory.
    thread_local std::string buffer = [] {
        std::string s;
        s.reserve(512);
        return s;
    }();
    std::string answer = dalo::const_string(key);
    buffer.assign(answer.data(), answer.size());
    return buffer.c_str();
}
DALO_RECOVER

}  // extern "C"

#include "core/fatal.hpp"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace dalo {

void fatal_raw(std::string_view line) {
#ifdef DALO_FATAL_THROWS
    // Fuzzing builds: misuse throws instead of aborting, so a target can catch it and go on.
    throw std::logic_error(std::string(line));
#endif
    // One write for the whole line, so concurrent failures do not interleave.
    std::string out(line);
    out.push_back('\n');
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
    std::abort();
}

void fatal(std::string_view msg) {
    std::string line = "dalo: ";
    line.append(msg);
    fatal_raw(line);
}

}  // namespace dalo

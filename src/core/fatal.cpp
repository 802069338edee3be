#include "core/fatal.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace dalo {

void fatal_raw(std::string_view line) {
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

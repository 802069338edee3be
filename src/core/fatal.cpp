#include "core/fatal.hpp"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace dalo {

ThreadErrors& thread_errors() {
    thread_local ThreadErrors t;
    return t;
}

void fatal_raw(std::string_view line) {
#ifdef DALO_FATAL_THROWS
    // Fuzzing builds: misuse throws instead of aborting, so a target can catch it and go on.
    throw std::logic_error(std::string(line));
#endif
    if (thread_errors().mode == kErrorsKeep) throw Failure{std::string(line)};
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

int error_mode() { return thread_errors().mode; }

int set_error_mode(int mode) {
    ThreadErrors& t = thread_errors();
    const int previous = t.mode;
    t.mode = mode;
    return previous;
}

void keep_failure(const Failure& f) {
    ThreadErrors& t = thread_errors();
    t.failed = true;
    t.last = f.line;
    if (t.handler != nullptr) t.handler(t.last.c_str(), t.context);
}

}  // namespace dalo

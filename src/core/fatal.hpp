// Misuse reporting: one line on standard error, then abort.
#pragma once

#include <string>
#include <string_view>

namespace dalo {

// Writes "dalo: " + msg + "\n" to standard error, flushes it and aborts.
[[noreturn]] void fatal(std::string_view msg);

// For messages that already carry the "dalo: " prefix inside their own text.
[[noreturn]] void fatal_raw(std::string_view line);

}  // namespace dalo

// The misuse table: each row makes its objects and one call that the library refuses. In the
// keep mode the call returns its neutral value, keeps exactly the message the default mode
// writes, and leaves every object and registry as it was; in the default mode the same call
// ends the process with that message.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "dalo.h"
#include "support/fatal.hpp"

namespace dalo_test {

struct Misuse {
    std::function<bool()> call;          // true when the call returned its neutral value
    std::function<std::string()> state;  // what the call could change, as text (may be empty)
};

struct MisuseRow {
    const char* label;
    const char* message;  // without the "dalo: " prefix
    std::function<Misuse()> make;
};

inline void PrintTo(const MisuseRow& row, std::ostream* os) { *os << row.label; }

inline std::string registries() {
    return std::to_string(dalo_var_count()) + " binary, " + std::to_string(dalo_int_var_count()) +
           " integer";
}

// Keep-mode checks; returns the Misuse so the caller can go on using its objects.
inline Misuse expect_kept(const MisuseRow& row) {
    Misuse m = row.make();
    const std::string before = registries() + "; " + (m.state ? m.state() : "");
    dalo_clear_error();
    const int previous = dalo_set_error_mode(DALO_ERRORS_KEEP);
    const bool neutral = m.call();
    dalo_set_error_mode(previous);
    EXPECT_TRUE(neutral) << row.label << ": not the neutral result";
    const char* kept = dalo_last_error();
    EXPECT_EQ(kept != nullptr ? std::string(kept) : "(none)", std::string("dalo: ") + row.message)
        << row.label;
    dalo_clear_error();
    EXPECT_EQ(registries() + "; " + (m.state ? m.state() : ""), before)
        << row.label << ": the failed call changed something";
    return m;
}

// Both modes: kept as above, and fatal with the same message by default.
inline void expect_misuse(const MisuseRow& row) {
    Misuse m = expect_kept(row);
    EXPECT_FATAL(m.call(), row.message) << row.label;
}

}  // namespace dalo_test

// Death-test helpers: a fatal error is exactly one "dalo: " line on standard error, then abort.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace dalo_test {

// A POSIX extended regex matching exactly `text`.
inline std::string regex_escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// The whole standard-error output of a fatal error with message `msg`.
inline std::string fatal_line(const std::string& msg) {
    return "^dalo: " + regex_escape(msg) + "\n$";
}

}  // namespace dalo_test

// The statement ends the process by abort with exactly "dalo: <msg>" on standard error.
#define EXPECT_FATAL(statement, msg) \
    EXPECT_EXIT(statement, testing::KilledBySignal(SIGABRT), dalo_test::fatal_line(msg))

// What every suite starts from: GoogleTest, the C interface, the shared handles, readers and
// death-test helpers, and the standard headers the suites use most.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dalo.h"
#include "support/expr_util.hpp"
#include "support/fatal.hpp"
#include "support/handles.hpp"

namespace dalo_test {

// What f throws as an E, as its text member or its what(); "(nothing thrown)" when f returns.
template <class E = std::exception, class F>
std::string thrown(F f) {
    try {
        f();
    } catch (const E& e) {
        if constexpr (requires { e.text; })
            return e.text;
        else
            return e.what();
    }
    return "(nothing thrown)";
}

// What f prints on standard output.
template <class F>
std::string stdout_of(F f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

// Runs body(0), ..., body(n - 1) on n threads at once and waits for all of them.
inline void on_threads(int n, const std::function<void(int)>& body) {
    std::vector<std::thread> threads;
    for (int k = 0; k < n; ++k) threads.emplace_back(body, k);
    for (std::thread& t : threads) t.join();
}

}  // namespace dalo_test

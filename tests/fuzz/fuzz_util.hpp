// Shared pieces of the fuzz targets: a reader over the input bytes and parameter lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dalo_plugin.h"

namespace dalo_fuzz {

// Takes values from the front of the input; past its end every read gives 0.
class Bytes {
  public:
    Bytes(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ == end_; }
    uint8_t u8() { return p_ < end_ ? *p_++ : 0; }
    // A value in [0, n), n > 0.
    uint32_t below(uint32_t n) { return u8() % n; }
    int64_t small(int64_t span) { return static_cast<int64_t>(u8() % (2 * span + 1)) - span; }

  private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// Key/value pairs from lines: key, value, key, value, ...; a missing last value is "".
struct Params {
    std::vector<std::string> text;
    std::vector<dalo_plugin_pair> pairs;

    Params(const uint8_t* data, size_t size) {
        std::string line;
        for (size_t i = 0; i <= size; ++i) {
            if (i == size || data[i] == '\n') {
                text.push_back(line);
                line.clear();
            } else {
                line.push_back(static_cast<char>(data[i]));
            }
        }
        if (text.size() % 2 == 1) text.emplace_back();
        for (size_t i = 0; i + 1 < text.size(); i += 2)
            pairs.push_back({text[i].c_str(), text[i + 1].c_str()});
        pairs.push_back({nullptr, nullptr});
    }
};

// A fault: print it and abort, so libFuzzer keeps the input.
[[noreturn]] inline void fault(const std::string& what) {
    std::fprintf(stderr, "fuzz fault: %s\n", what.c_str());
    std::abort();
}

}  // namespace dalo_fuzz

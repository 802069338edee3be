// The result of every solver search, and its top-k entries.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/pod_array.hpp"
#include "core/var.hpp"

namespace dalo {

struct TopkEntry {
    energy_t energy = 0;
    double tts = 0.0;
    PodArray<uint64_t> bits;  // malloc'd: handed to callers by the steal exports
    std::vector<int64_t> int_values;
};

struct SolverResult {
    energy_t energy = 0;
    double tts = 0.0;
    double scale = 1.0;
    PodArray<uint64_t> bits;
    std::vector<int64_t> int_values;  // empty for binary Models
    std::vector<TopkEntry> topk;
    std::vector<std::pair<std::string, std::string>> info;

    void add_info(std::string key, std::string value) {
        info.emplace_back(std::move(key), std::move(value));
    }
};

// Bit words for n variables.
inline uint64_t word_count(uint64_t n) { return (n + 63) / 64; }

}  // namespace dalo

// The result of every solver search, its top-k entries, and what the wrappers do with it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/pod_array.hpp"
#include "core/var.hpp"
#include "dalo.h"
#include "model/model.hpp"

namespace dalo {

struct SolImpl;

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

// New Sols of the best solution or a top-k entry; their bit words move into the Sol.
SolImpl* result_to_sol(SolverResult& r, const ModelHandle& m);
SolImpl* topk_to_sol(SolverResult& r, uint64_t i, const ModelHandle& m);
// Exchanges bit words with a caller's malloc'd vector record.
void exchange_bits(PodArray<uint64_t>& bits, dalo_u64_vector* v);
// Entries by index; an index out of range is fatal.
const TopkEntry& topk_entry(const SolverResult& r, uint64_t i);
TopkEntry& topk_entry(SolverResult& r, uint64_t i);
const std::pair<std::string, std::string>& info_entry(const SolverResult& r, uint64_t i);

}  // namespace dalo

// Readers of the common QUBO exchange formats: G-set Max-Cut graphs, OR-Library BQP files and
// plain "i j value" triplets. Each turns a file into a minimisation problem over binary
// variables in index order, or a one-line error with the file, line and reason.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace dalo_cli {

enum class Format { Gset, Bqp, Qubo };

// One quadratic (i != j) or linear (i == j) coefficient, indices into the variables.
struct Entry {
    uint32_t i, j;
    int64_t value;
};

struct Problem {
    Format format = Format::Qubo;
    uint32_t n = 0;                     // variables 0 .. n-1
    std::vector<Entry> entries;         // energy = offset + sum value * x_i * x_j
    std::vector<uint64_t> labels;       // file index of each variable
    int64_t sign = 1;                   // reported value = sign * energy (cut, x'Qx)
    const char* value_name = "energy";  // "cut" or "value" for maximisation formats
};

struct ReadError {
    std::string text;  // "FILE:LINE: reason" or "FILE: reason"
};

// Reads the file; format_name is "gset", "bqp", "qubo" or "" (guessed from the first data
// line: one number for BQP, two for G-set, three for triplets). instance picks the BQP
// instance (1-based). Throws ReadError.
Problem read_problem(const std::string& path, const std::string& format_name, uint32_t instance);
// The same from an open stream; path only names it in messages.
Problem read_problem(const std::string& path, std::istream& in, const std::string& format_name,
                     uint32_t instance);

const char* format_name(Format f);

}  // namespace dalo_cli

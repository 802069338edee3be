// The readers and writers behind the format table, and what the writers share.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "readers.hpp"
#include "tokens.hpp"

namespace dalo_cli {

Problem read_qbsolv(const Tokens& t, uint32_t instance);
void write_qbsolv(std::ostream& out, const Problem& p, const std::string& path);
Problem read_bqm(const Tokens& t, uint32_t instance);
void write_bqm(std::ostream& out, const Problem& p, const std::string& path);

// A problem's coefficients with repeated pairs summed: linear[i] multiplies x_i, quadratic
// holds i < j in ascending order and no zeros. Sums past 64 bits saturate (and do not fit).
struct Coefficients {
    std::vector<int64_t> linear;
    std::vector<Entry> quadratic;
};
Coefficients merged(const Problem& p);

// Variable i as messages name it: "x" and its label.
std::string var_name(const Problem& p, uint32_t i);

// Throws "path: ..." unless v * scale fits a 32-bit coefficient, which the reader requires.
void check_writable(const std::string& path, const Problem& p, uint32_t i, uint32_t j, int64_t v,
                    int64_t scale);

}  // namespace dalo_cli

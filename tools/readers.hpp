// Readers of the common QUBO exchange formats: G-set Max-Cut graphs, OR-Library BQP files and
// plain "i j value" triplets. Each turns a file into a minimisation problem over binary
// variables in index order, or a one-line error with the file, line and reason. The formats
// are rows of one table; a new format joins by adding a row.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace dalo_cli {

class Tokens;
struct FileFormat;

// One quadratic (i != j) or linear (i == j) coefficient, indices into the variables.
struct Entry {
    uint32_t i, j;
    int64_t value;
};

struct Problem {
    const FileFormat* format = nullptr;  // the row that read it
    uint32_t n = 0;                      // variables 0 .. n-1
    std::vector<Entry> entries;          // energy = offset + sum value * x_i * x_j
    std::vector<uint64_t> labels;        // file index of each variable
    int64_t sign = 1;                    // reported value = sign * energy (cut, x'Qx)
    const char* value_name = "energy";   // "cut" or "value" for maximisation formats
};

struct ReadError {
    std::string text;  // "FILE:LINE: reason" or "FILE: reason"
};

// One file format. Without --format the first row, in table order, whose sniff accepts the
// file reads it; the extensions are listed for writers and for formats that sniffing cannot
// tell apart, and do not pick a reader.
struct FileFormat {
    const char* name;        // the --format value
    const char* extensions;  // space-separated, with the dot
    const char* help;        // its lines in the usage text, '\n' between them
    bool (*sniff)(const Tokens& t);
    // instance picks one of several problems in a file (1-based) where the format has them.
    Problem (*read)(const Tokens& t, uint32_t instance);
    void (*write)(std::ostream& out, const Problem& p);  // null where the format is only read
};

// The table, in the order of the usage text and of sniffing.
std::span<const FileFormat> formats();

// The format names joined by sep, the last two by last ("gset, bqp or qubo").
std::string format_names(const std::string& sep, const std::string& last);

// Reads the file; format_name names a row of the table, or is "" to let the rows sniff the
// first data line. Throws ReadError.
Problem read_problem(const std::string& path, const std::string& format_name, uint32_t instance);
// The same from an open stream; path only names it in messages.
Problem read_problem(const std::string& path, std::istream& in, const std::string& format_name,
                     uint32_t instance);

}  // namespace dalo_cli

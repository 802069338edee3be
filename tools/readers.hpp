// Readers and writers of the common QUBO exchange formats: G-set Max-Cut graphs, OR-Library
// BQP files, plain "i j value" triplets, qbsolv .qubo files and binary quadratic models
// serialised as JSON. Each reader turns a file into a minimisation problem over binary
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
    int64_t offset = 0;                  // the constant term (only JSON models have one)
    std::vector<uint64_t> labels;        // file index of each variable
    // Where the file names variables by other than non-negative integers (JSON models): each
    // name as JSON text, and labels are the positions 0 .. n-1. Empty otherwise.
    std::vector<std::string> names;
    int64_t sign = 1;                   // reported value = sign * energy (cut, x'Qx)
    const char* value_name = "energy";  // "cut" or "value" for maximisation formats
};

// A file that cannot be read, or a problem that a format cannot hold.
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
    // Writes p whole or throws a ReadError naming path where the format cannot hold it.
    void (*write)(std::ostream& out, const Problem& p, const std::string& path);
};

// The table, in the order of the usage text and of sniffing.
std::span<const FileFormat> formats();

// The format names joined by sep, the last two by last ("gset, bqp or qubo").
std::string format_names(const std::string& sep, const std::string& last);

// The row named name, or the first whose extensions hold ext (".json"); null if none.
const FileFormat* format_named(const std::string& name);
const FileFormat* format_for_extension(const std::string& ext);

// The bytes a reader may plan for: the given limit where one is set (0 clears it), else what
// the machine has available (memory, cgroup and address-space limits).
uint64_t memory_at_hand();
void set_memory_limit(uint64_t bytes);

// Reads the file; format_name names a row of the table, or is "" to let the rows sniff the
// first data line (an error then names the guess). Throws ReadError.
Problem read_problem(const std::string& path, const std::string& format_name, uint32_t instance);
// The same from an open stream; path only names it in messages.
Problem read_problem(const std::string& path, std::istream& in, const std::string& format_name,
                     uint32_t instance);

}  // namespace dalo_cli

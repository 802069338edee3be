// A Problem as an integer linear program for MIP solvers: a CPLEX-LP or free-format MPS file
// to be minimised, whose optimum is the problem's minimum energy.
#pragma once

#include <string>

#include "dalo.hpp"
#include "readers.hpp"

namespace dalo_cli {

struct MipError {
    std::string text;  // one line: "FILE: not an ILP: ..." or why the file cannot be written
};

// Writes p as an integer linear program, format "lp" (CPLEX-LP) or "mps". Variables are named
// "x" and their file label, or by their own names in JSON models. A term of degree 2 or more is
// refused with a MipError naming --linearize unless linearize is set; then each term
// c * x_1 ... x_k of degree k >= 2 becomes c * y over a new binary y, named after its factors,
// with the rows y <= x_i and x_1 + ... + x_k - y <= k - 1, which make y the product at every
// feasible point. source names p in messages (the output path when empty).
void write_mip(const Problem& p, const std::string& path, const std::string& format, bool linearize,
               const std::string& source = "");
// The same for a binary-simplified expression over binary variables.
void write_mip(const dalo::Expr& e, const std::string& path, const std::string& format,
               bool linearize, const std::string& source = "");

}  // namespace dalo_cli

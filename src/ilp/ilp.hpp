// Integer linear programs from compiled Models: binary and integer columns, a linear
// objective, declared constraints as rows and free-form penalty terms as rows that force
// each term to 0. Immutable after the build and independent of the Model.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/expr.hpp"
#include "model/model.hpp"

namespace dalo {

struct IlpCol {
    uint8_t kind = 0;  // 0 binary, 1 integer
    uint32_t model_var = 0;
    int64_t lower = 0;
    int64_t upper = 1;
    std::vector<uint32_t> bit_vars;  // model indices of the encoding bits (folded columns)
    std::vector<coeff_t> bit_coeffs;
    int64_t offset = 0;  // value when every bit is 0
};

struct IlpRow {
    std::vector<uint32_t> cols;
    std::vector<int64_t> coeffs;
    int64_t lower = 0;
    int64_t upper = 0;
    uint8_t lower_implied = 0;
    uint8_t upper_implied = 0;
};

struct IlpImpl {
    std::vector<IlpCol> cols;
    std::vector<int64_t> obj;
    int64_t obj_constant = 0;
    std::vector<IlpRow> rows;
    // Column names legal in both file formats and distinct, and the name of the fixed
    // column that carries the objective constant in files.
    std::vector<std::string> names;
    std::string constant_name;
};

// A bit-encoded integer as the fold step reads it: min + sum coeffs[k] * bit k.
struct IlpVarInt {
    int64_t min = 0;
    int64_t max = 0;
    std::span<const coeff_t> coeffs;
    std::span<const Var> vars;  // variable identifiers, parallel to coeffs
    std::string name;
};

// The build: null with the reason in `error` when the Model is not an ILP. Nonlinear and
// allowed-set constraint bodies are fatal.
std::unique_ptr<IlpImpl> ilp_build(const ModelImpl& m, const std::vector<IlpVarInt>& varints,
                                   std::string& error);

// The bit-encoded integers of the process, in registry order.
std::vector<IlpVarInt> ilp_registered_varints();

// Bits (one byte each) that encode value in a column; fatal outside the encoded range.
void ilp_col_decode(const IlpCol& c, int64_t value, uint8_t* out);

// Makes the raw column names legal for the file formats and distinct; picks the name of
// the constant column.
void assign_file_names(IlpImpl& ilp);

// Text forms for MIP solvers; false with the reason in `error` when the file fails.
bool ilp_write_lp(const IlpImpl& ilp, const char* path, std::string& error);
bool ilp_write_mps(const IlpImpl& ilp, const char* path, std::string& error);

}  // namespace dalo

// Bit-encoded integers (VarInt): an expression lo + sum c_j * x_j over binary variables whose
// attribute word indexes a process-wide record of the range, the coefficients and the bits,
// so that solution bits decode back into the integer and integers encode into bits.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/expr.hpp"
#include "core/stable_vector.hpp"

namespace dalo {

inline constexpr uint32_t kLargestVarInt = 0x7FFFFFFFu;

// 0 - 0x7FFFFFFF: the whole word indexes VarIntSet.
inline constexpr bool is_varint_word(uint32_t w) { return w <= kLargestVarInt; }

struct VarIntRecord {
    uint64_t group = 0;     // variable-registry group of the name (and shape)
    uint64_t position = 0;  // flat position inside the group
    int64_t lo = 0;
    int64_t hi = 0;
    std::vector<coeff_t> coeffs;
    std::vector<Var> vars;  // same order as coeffs
};

class VarIntSet {
  public:
    // Copies both arrays.
    uint32_t add(uint64_t group, uint64_t position, int64_t lo, int64_t hi, const coeff_t* coeffs,
                 const Var* vars, uint64_t count);
    // n records at positions 0 .. n - 1 sharing the coefficients; record i owns the bits
    // first + i * count + j. Returns the index of record 0; the others follow it.
    uint32_t add_uniform(uint64_t group, int64_t lo, int64_t hi, const std::vector<coeff_t>& coeffs,
                         Var first, uint64_t n);

    // Unlocked reader of the record an attribute word points at; every index below size()
    // is a complete record, so consumers may also walk them in order.
    const VarIntRecord& get(uint32_t word) const;
    uint64_t size() const { return records_.size(); }

  private:
    StableVector<VarIntRecord> records_;
    std::mutex mutex_;
};

VarIntSet& varint_set();

// Bit coefficients of [lo, hi]: 1, 2, 4, ... with the last one capped so that they sum to
// hi - lo; none when hi - lo < 1. Fatal when one does not fit in coeff_t.
std::vector<coeff_t> varint_coeffs(int64_t lo, int64_t hi);

// A new VarInt over new bits named `name` (an automatic name when null or empty).
ExprImpl varint_create(const char* name, int64_t lo, int64_t hi);
// A new VarInt over the given bits, taken as they are.
ExprImpl varint_create_with_vars(const char* name, int64_t lo, int64_t hi, const coeff_t* coeffs,
                                 const Var* vars, uint64_t n);
// The name given, or an automatic one when it is null or empty.
std::string varint_name(const char* name);
// lo + sum coeffs[j] * (first + j) in bit order, into an expression holding lo.
void append_varint_bits(ExprImpl& e, const coeff_t* coeffs, Var first, uint64_t count);

// Range-checked bit access ("<who>: index i out of range (n bits)").
Var varint_var(const ExprImpl& e, uint64_t i);
coeff_t varint_coeff(const ExprImpl& e, uint64_t i);

// Greedy bits of value v, from the last coefficient down; returns the bit count.
uint64_t varint_decompose(const ExprImpl& e, int64_t v, Var* out_vars, uint64_t* out_bits);

// Index of the last 1 of each one-hot row (the last axis), -1 for a row that is not one-hot.
void onehot_to_int(const int32_t* values, const uint64_t* shape, uint64_t ndim, int32_t* out);

}  // namespace dalo

// Process-wide registries of binary and integer variables.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/stable_vector.hpp"
#include "core/var.hpp"

namespace dalo {

// A named block of consecutive binary variables (arrays) or a named group (VarInt names).
struct VarArrayBlock {
    uint32_t first = 0;
    uint64_t count = 0;
    std::string name;  // "~" + name
    std::vector<uint64_t> shape;
};

// The binary variables created by one call: one named variable, or the elements of one array.
struct NameRun {
    uint32_t first = 0;
    uint64_t count = 0;
    std::string name;    // "~" + name of a single variable; empty for array elements
    int64_t block = -1;  // index into the arrays list for array elements
};

class VarRegistry {
  public:
    Var new_var(const char* name);
    Var new_var_array(const char* name, const uint64_t* shape, uint64_t ndim);

    // Number of binary variables; readable without the lock.
    uint64_t count() const { return count_.load(std::memory_order_acquire); }

    // Registers the name (and shape) of a bit-encoded integer group; returns its index.
    uint64_t register_group(std::string_view name, const uint64_t* shape, uint64_t ndim);
    uint64_t group_count() const { return groups_.size(); }
    const VarArrayBlock& group(uint64_t i) const { return groups_[i]; }

    uint64_t array_count() const { return arrays_.size(); }
    const VarArrayBlock& array(uint64_t i) const { return arrays_[i]; }

    // Display name of a binary identifier (bit 31 may be set). Plain names point into
    // the registry; array elements are built in `buffer`. Unknown indices give "?".
    const char* display_name(Var id, std::string& buffer) const;

    // Empties the lists; identifiers handed out before become meaningless.
    void reset();

    std::mutex& mutex() { return mutex_; }

  private:
    const NameRun* find_run(uint32_t index) const;

    StableVector<NameRun> runs_;
    StableVector<VarArrayBlock> arrays_;
    StableVector<VarArrayBlock> groups_;
    std::atomic<uint64_t> count_{0};
    std::mutex mutex_;
};

struct IntVarRecord {
    uint32_t first = 0;
    uint64_t count = 0;
    std::string name;  // as given, no "~"
    std::vector<uint64_t> shape;
    int64_t lo = 0;
    int64_t hi = 0;
};

// Binary encoding of one integer variable: bit variables with their coefficients.
using IntEncoding = std::vector<std::pair<Var, coeff_t>>;

class IntVarRegistry {
  public:
    Var new_int_var(const char* name, int64_t lo, int64_t hi);
    Var new_int_var_array(const char* name, const uint64_t* shape, uint64_t ndim, int64_t lo,
                          int64_t hi);

    uint32_t count() const {
        return static_cast<uint32_t>(index_count_.load(std::memory_order_acquire));
    }
    uint64_t bit_total() const { return bit_total_.load(std::memory_order_acquire); }

    // The record holding an integer-variable index, or null.
    const IntVarRecord* find(uint32_t index) const;

    // Display name of an integer identifier; "?" when unknown.
    const char* display_name(Var id, std::string& buffer) const;

    // Binarization cache; guarded by mutex().
    std::map<uint32_t, IntEncoding>& binarization_cache() { return cache_; }

    void reset();

    std::mutex& mutex() { return mutex_; }

  private:
    Var add(const char* name, bool single, const uint64_t* shape, uint64_t ndim, uint64_t count,
            int64_t lo, int64_t hi);

    StableVector<IntVarRecord> records_;
    std::atomic<uint64_t> index_count_{0};
    std::atomic<uint64_t> bit_total_{0};
    std::map<uint32_t, IntEncoding> cache_;
    std::mutex mutex_;
};

VarRegistry& var_registry();
IntVarRegistry& int_var_registry();

// "{n}" with n taken from the process-wide counter (never reset).
std::string auto_var_name();

// Number of binary digits of d = hi - lo (at least 1).
unsigned range_bit_width(int64_t lo, int64_t hi);

// Forgets the variables of both registries.
void reset_variables();

// Appends "[i][j]..." for the row-major position `pos` inside `shape`.
void append_indices(std::string& out, const std::vector<uint64_t>& shape, uint64_t pos);

}  // namespace dalo

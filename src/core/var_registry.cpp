#include "core/var_registry.hpp"

#include <algorithm>
#include <bit>
#include <string>

#include "core/fatal.hpp"

namespace dalo {

namespace {

constexpr const char* kBinaryExhausted =
    "Binary variable index space exhausted (2^30 - 1 variables).";
constexpr const char* kIntExhausted = "int_var: integer variable index space exhausted";

std::atomic<uint32_t> g_auto_name_counter{0};

// Product of the extents (1 for no dimension); false when it does not fit in 64 bits.
bool shape_product(const uint64_t* shape, uint64_t ndim, uint64_t& out) {
    uint64_t n = 1;
    for (uint64_t k = 0; k < ndim; ++k) {
        if (__builtin_mul_overflow(n, shape[k], &n)) return false;
    }
    out = n;
    return true;
}

// The record holding an index among records appended in increasing order of their first
// index: the last one whose first index is not above it, if its count reaches that far.
template <class Record>
const Record* find_holder(const StableVector<Record>& records, uint32_t index) {
    uint64_t lo = 0, hi = records.size();
    while (lo < hi) {
        uint64_t mid = lo + (hi - lo) / 2;
        if (records[mid].first <= index) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    if (lo == 0) return nullptr;
    const Record& r = records[lo - 1];
    return index - r.first < r.count ? &r : nullptr;
}

// Whether n more identifiers after the first `used` stay below 2^30 (without wrapping).
bool fits(uint64_t used, uint64_t n) { return n < kIndexSpace && used + n < kIndexSpace; }

std::vector<uint64_t> to_shape(const uint64_t* shape, uint64_t ndim) {
    return ndim == 0 ? std::vector<uint64_t>{} : std::vector<uint64_t>(shape, shape + ndim);
}

std::string name_or_auto(const char* name) {
    if (name == nullptr || name[0] == '\0') return auto_var_name();
    return std::string(name);
}

// "~" + name: the bare name is the string from its second character.
std::string tilde_name(const char* name) {
    std::string out(1, '~');
    out.append(name_or_auto(name));
    return out;
}

}  // namespace

std::string auto_var_name() {
    uint32_t n = g_auto_name_counter.fetch_add(1, std::memory_order_relaxed);
    std::string out(1, '{');
    out.append(std::to_string(n));
    out.push_back('}');
    return out;
}

unsigned range_bit_width(int64_t lo, int64_t hi) {
    uint64_t d = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo);
    unsigned w = static_cast<unsigned>(std::bit_width(d));
    return w == 0 ? 1 : w;
}

void append_indices(std::string& out, const std::vector<uint64_t>& shape, uint64_t pos) {
    // Row-major decomposition, printed from the first dimension.
    size_t n = shape.size();
    std::vector<uint64_t> idx(n);
    for (size_t k = n; k-- > 0;) {
        uint64_t extent = shape[k];
        if (extent == 0) {
            idx[k] = 0;
            continue;
        }
        idx[k] = pos % extent;
        pos /= extent;
    }
    for (size_t k = 0; k < n; ++k) {
        out.push_back('[');
        out.append(std::to_string(idx[k]));
        out.push_back(']');
    }
}

// ---- binary variables ----

Var VarRegistry::new_var(const char* name) {
    if (count() >= kIndexSpace - 1) fatal(kBinaryExhausted);
    std::string stored = tilde_name(name);
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t first = count_.load(std::memory_order_relaxed);
    if (first >= kIndexSpace - 1) fatal(kBinaryExhausted);
    runs_.append([&](NameRun& run) {
        run.first = static_cast<uint32_t>(first);
        run.count = 1;
        run.name = std::move(stored);
    });
    count_.store(first + 1, std::memory_order_release);
    return static_cast<Var>(first);
}

Var VarRegistry::new_var_array(const char* name, const uint64_t* shape, uint64_t ndim) {
    uint64_t n = 0;
    if (!shape_product(shape, ndim, n) || !fits(count(), n)) fatal(kBinaryExhausted);
    std::string stored = tilde_name(name);
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t first = count_.load(std::memory_order_relaxed);
    if (!fits(first, n)) fatal(kBinaryExhausted);
    uint64_t block = arrays_.size();
    arrays_.emplace_back(
        VarArrayBlock{static_cast<uint32_t>(first), n, std::move(stored), to_shape(shape, ndim)});
    if (n > 0) {
        runs_.append([&](NameRun& run) {
            run.first = static_cast<uint32_t>(first);
            run.count = n;
            run.block = static_cast<int64_t>(block);
        });
    }
    count_.store(first + n, std::memory_order_release);
    return static_cast<Var>(first);
}

uint64_t VarRegistry::register_group(std::string_view name, const uint64_t* shape, uint64_t ndim) {
    uint64_t n = 0;
    if (!shape_product(shape, ndim, n)) n = UINT64_MAX;
    std::string stored(1, '~');
    stored.append(name);
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t index = groups_.size();
    groups_.emplace_back(VarArrayBlock{0, n, std::move(stored), to_shape(shape, ndim)});
    return index;
}

const NameRun* VarRegistry::find_run(uint32_t index) const { return find_holder(runs_, index); }

const char* VarRegistry::display_name(Var id, std::string& buffer) const {
    uint32_t index = id & ~kNegBit;
    bool negated = (id & kNegBit) != 0;
    if (index >= count()) return "?";
    const NameRun* run = find_run(index);
    if (run == nullptr) return "?";
    if (run->block >= 0) {
        const VarArrayBlock& block = arrays_[static_cast<uint64_t>(run->block)];
        buffer.assign(block.name, negated ? 0 : 1, std::string::npos);
        append_indices(buffer, block.shape, index - block.first);
        return buffer.c_str();
    }
    if (run->name.empty()) return "?";
    return negated ? run->name.c_str() : run->name.c_str() + 1;
}

void VarRegistry::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    count_.store(0, std::memory_order_release);
    runs_.clear();
    arrays_.clear();
    groups_.clear();
}

// ---- integer variables ----

Var IntVarRegistry::add(const char* name, bool single, const uint64_t* shape, uint64_t ndim,
                        uint64_t count, int64_t lo, int64_t hi) {
    if (!(lo < hi)) {
        fatal("int_var: bounds must satisfy lo < hi (got lo = " + std::to_string(lo) +
              ", hi = " + std::to_string(hi) + ")");
    }
    // Checked before an automatic name is drawn, and again under the lock.
    const uint64_t used = index_count_.load(std::memory_order_acquire);
    if (single ? used >= kIndexSpace - 1 : !fits(used, count)) fatal(kIntExhausted);
    std::string stored = name_or_auto(name);
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t first = index_count_.load(std::memory_order_relaxed);
    if (single ? first >= kIndexSpace - 1 : !fits(first, count)) fatal(kIntExhausted);
    records_.emplace_back(IntVarRecord{static_cast<uint32_t>(first), count, std::move(stored),
                                       to_shape(shape, ndim), lo, hi});
    bit_total_.fetch_add(uint64_t{range_bit_width(lo, hi)} * count, std::memory_order_release);
    index_count_.store(first + count, std::memory_order_release);
    return static_cast<Var>(first) | kIntBit;
}

Var IntVarRegistry::new_int_var(const char* name, int64_t lo, int64_t hi) {
    return add(name, true, nullptr, 0, 1, lo, hi);
}

Var IntVarRegistry::new_int_var_array(const char* name, const uint64_t* shape, uint64_t ndim,
                                      int64_t lo, int64_t hi) {
    uint64_t n = 0;
    if (!shape_product(shape, ndim, n)) n = kIndexSpace;  // reported as exhaustion
    return add(name, false, shape, ndim, n, lo, hi);
}

const IntVarRecord* IntVarRegistry::find(uint32_t index) const {
    if (index >= index_count_.load(std::memory_order_acquire)) return nullptr;
    return find_holder(records_, index);
}

const char* IntVarRegistry::display_name(Var id, std::string& buffer) const {
    const IntVarRecord* rec = find(id & kIndexMask);
    if (rec == nullptr) return "?";
    if (rec->shape.empty() && rec->count == 1) return rec->name.c_str();
    buffer.assign(rec->name);
    append_indices(buffer, rec->shape, (id & kIndexMask) - rec->first);
    return buffer.c_str();
}

void IntVarRegistry::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    index_count_.store(0, std::memory_order_release);
    bit_total_.store(0, std::memory_order_release);
    records_.clear();
    cache_.clear();
}

VarRegistry& var_registry() {
    static VarRegistry registry;
    return registry;
}

IntVarRegistry& int_var_registry() {
    static IntVarRegistry registry;
    return registry;
}

void reset_variables() {
    var_registry().reset();
    int_var_registry().reset();
}

}  // namespace dalo

#include "constraints/varint.hpp"

#include <string>

#include "core/expr_ops.hpp"
#include "core/fatal.hpp"
#include "core/parallel.hpp"
#include "core/var_registry.hpp"

namespace dalo {

std::string varint_name(const char* name) {
    if (name == nullptr || name[0] == '\0') return auto_var_name();
    return std::string(name);
}

namespace {

// One bit is a plain variable of that name; several form a one-dimensional array.
Var new_bits(const std::string& name, uint64_t count) {
    if (count == 1) return var_registry().new_var(name.c_str());
    return var_registry().new_var_array(name.c_str(), &count, 1);
}

[[noreturn]] void index_fault(const char* who, uint64_t i, uint64_t n) {
    fatal(std::string(who) + ": index " + std::to_string(i) + " out of range (" +
          std::to_string(n) + " bits)");
}

}  // namespace

void append_varint_bits(ExprImpl& e, const coeff_t* coeffs, Var first, uint64_t count) {
    if (count > 1) e.reserve_more(count - 1);
    for (uint64_t j = 0; j < count; ++j)
        e.append_owned(var_term(coeffs[j], first + static_cast<Var>(j)));
}

// ---- VarIntSet ----

uint32_t VarIntSet::add(uint64_t group, uint64_t position, int64_t lo, int64_t hi,
                        const coeff_t* coeffs, const Var* vars, uint64_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t index = records_.size();
    if (index > kLargestVarInt) fatal("VarIntSet: index overflow");
    records_.append([&](VarIntRecord& r) {
        r.group = group;
        r.position = position;
        r.lo = lo;
        r.hi = hi;
        r.coeffs.assign(coeffs, coeffs + count);
        r.vars.assign(vars, vars + count);
    });
    return static_cast<uint32_t>(index);
}

uint32_t VarIntSet::add_uniform(uint64_t group, int64_t lo, int64_t hi,
                                const std::vector<coeff_t>& coeffs, Var first, uint64_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t base = records_.size();
    // All or nothing: the last record's index must fit as well.
    const uint64_t room = base > kLargestVarInt ? 0 : uint64_t{kLargestVarInt} + 1 - base;
    if (n > room) fatal("VarIntSet: index overflow");
    const uint64_t b = coeffs.size();
    for (uint64_t i = 0; i < n; ++i) {
        records_.append([&](VarIntRecord& r) {
            r.group = group;
            r.position = i;
            r.lo = lo;
            r.hi = hi;
            r.coeffs = coeffs;
            r.vars.resize(b);
            for (uint64_t j = 0; j < b; ++j) r.vars[j] = first + static_cast<Var>(i * b + j);
        });
    }
    return static_cast<uint32_t>(base);
}

const VarIntRecord& VarIntSet::get(uint32_t word) const {
    if (!is_varint_word(word)) {
        fatal("VarInt accessor called on a value that is not a VarInt (plain Expr or ExprExpr).");
    }
    if (word >= records_.size()) {
        fatal(
            "VarInt accessor called on a value that is no longer a VarInt (e.g. after vi += 1, "
            "vi.sqr()).");
    }
    return records_[word];
}

VarIntSet& varint_set() {
    static VarIntSet set;
    return set;
}

// ---- encoding ----

std::vector<coeff_t> varint_coeffs(int64_t lo, int64_t hi) {
    static constexpr const char* kAdvice = "; use a wider INTEGER_TYPE variant";
    std::vector<coeff_t> out(range_coeffs(lo, hi, nullptr, kAdvice));
    range_coeffs(lo, hi, out.data(), kAdvice);
    return out;
}

ExprImpl varint_create(const char* name, int64_t lo, int64_t hi) {
    const std::vector<coeff_t> coeffs = varint_coeffs(lo, hi);
    const std::string nm = varint_name(name);
    const uint64_t count = coeffs.size();
    std::vector<Var> vars(count);
    if (count > 0) {
        const Var first = new_bits(nm, count);
        for (uint64_t j = 0; j < count; ++j) vars[j] = first + static_cast<Var>(j);
    }
    // The variable-registry lock is released before the VarIntSet lock is taken.
    const uint64_t group = var_registry().register_group(nm, nullptr, 0);
    ExprImpl e(lo);
    if (count > 0) append_varint_bits(e, coeffs.data(), vars[0], count);
    e.attr = varint_set().add(group, 0, lo, hi, coeffs.data(), vars.data(), count);
    return e;
}

ExprImpl varint_create_with_vars(const char* name, int64_t lo, int64_t hi, const coeff_t* coeffs,
                                 const Var* vars, uint64_t n) {
    // No variable is created, so no automatic name is drawn either.
    const uint64_t group = var_registry().register_group(name == nullptr ? "" : name, nullptr, 0);
    ExprImpl e(lo);
    if (n > 1) e.reserve_more(n - 1);
    for (uint64_t i = 0; i < n; ++i) e.append_owned(var_term(coeffs[i], vars[i]));
    e.attr = varint_set().add(group, 0, lo, hi, coeffs, vars, n);
    return e;
}

// ---- accessors ----

Var varint_var(const ExprImpl& e, uint64_t i) {
    const VarIntRecord& r = varint_set().get(e.attr);
    if (i >= r.vars.size()) index_fault("dalo_varintelem_var", i, r.vars.size());
    return r.vars[i];
}

coeff_t varint_coeff(const ExprImpl& e, uint64_t i) {
    const VarIntRecord& r = varint_set().get(e.attr);
    if (i >= r.coeffs.size()) index_fault("dalo_varintelem_coeff", i, r.coeffs.size());
    return r.coeffs[i];
}

uint64_t varint_decompose(const ExprImpl& e, int64_t v, Var* out_vars, uint64_t* out_bits) {
    const VarIntRecord& r = varint_set().get(e.attr);
    const uint64_t n = r.coeffs.size();
    int64_t rest = wrap_sub(v, r.lo);
    for (uint64_t i = n; i-- > 0;) {
        const bool bit = r.coeffs[i] <= rest;
        if (bit) rest = wrap_sub(rest, r.coeffs[i]);
        if (out_vars != nullptr) out_vars[i] = r.vars[i];
        if (out_bits != nullptr) out_bits[i] = bit ? 1 : 0;
    }
    return n;
}

void onehot_to_int(const int32_t* values, const uint64_t* shape, uint64_t ndim, int32_t* out) {
    if (ndim == 0) return;
    uint64_t rows = 1;
    for (uint64_t k = 0; k + 1 < ndim; ++k) {
        if (shape[k] == 0) return;
    }
    for (uint64_t k = 0; k + 1 < ndim; ++k) {
        if (__builtin_mul_overflow(rows, shape[k], &rows))
            fatal("dalo_onehot_to_int: shape too large");
    }
    const uint64_t len = shape[ndim - 1];
    par_for_impl(rows, rows, [&](uint64_t r) {
        const int32_t* row = values + r * len;
        uint32_t sum = 0;  // 32-bit, wrapping
        int32_t last = -1;
        for (uint64_t j = 0; j < len; ++j) {
            sum += static_cast<uint32_t>(row[j]);
            if (row[j] == 1) last = static_cast<int32_t>(j);
        }
        out[r] = sum == 1 ? last : -1;
    });
}

}  // namespace dalo

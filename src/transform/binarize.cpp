#include "transform/binarize.hpp"

#include <limits>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "constraints/attr_rules.hpp"
#include "core/expr_ops.hpp"
#include "core/fatal.hpp"
#include "transform/substitute.hpp"

namespace dalo {

namespace {

// Powers of two while they fit below d, then the remainder; they sum to d.
std::vector<uint64_t> encoding_coeffs(uint64_t d) {
    std::vector<uint64_t> out;
    uint64_t sum = 0;
    for (uint64_t p = 1; p <= d - sum; p <<= 1) {
        out.push_back(p);
        sum += p;
        if (p == uint64_t{1} << 63) break;
    }
    if (sum < d) out.push_back(d - sum);
    return out;
}

bool has_int_atom(const TermImpl& t) {
    const uint32_t d = degree(t);
    for (uint32_t i = 0; i < d; ++i) {
        if (is_int_atom(var_at(t.vars, i))) return true;
    }
    return false;
}

// The bit coefficients of integer variable `index` (none for a single value); fatal for an
// unknown variable or a coefficient that overflows. Creates nothing.
std::vector<uint64_t> checked_coeffs(uint32_t index) {
    const IntVarRecord* rec = int_var_registry().find(index);
    if (rec == nullptr) fatal("binarize: unknown integer variable");
    if (rec->hi <= rec->lo) return {};
    const uint64_t d = static_cast<uint64_t>(rec->hi) - static_cast<uint64_t>(rec->lo);
    std::vector<uint64_t> coeffs = encoding_coeffs(d);
    for (uint64_t c : coeffs) {
        if (c > static_cast<uint64_t>(std::numeric_limits<coeff_t>::max())) {
            fatal("binarize: encoding coefficient " + std::to_string(c) +
                  " overflows coeff_t — use a wider coefficient variant.");
        }
    }
    return coeffs;
}

}  // namespace

IntEncoding int_var_encoding(uint32_t index) {
    IntVarRegistry& reg = int_var_registry();
    std::lock_guard<std::mutex> lock(reg.mutex());
    auto& cache = reg.binarization_cache();
    if (auto it = cache.find(index); it != cache.end()) return it->second;

    const std::vector<uint64_t> coeffs = checked_coeffs(index);
    IntEncoding enc;
    if (!coeffs.empty()) {
        std::string buffer;
        const std::string base = reg.display_name(index | kIntBit, buffer);
        enc.reserve(coeffs.size());
        for (uint64_t j = 0; j < coeffs.size(); ++j) {
            const std::string name = base + "#" + std::to_string(j);
            enc.emplace_back(var_registry().new_var(name.c_str()), static_cast<coeff_t>(coeffs[j]));
        }
    }
    cache.emplace(index, enc);
    return enc;
}

ExprImpl expr_binarize(const ExprImpl& e) {
    if (attr_carries(e.attr)) {
        fatal(
            "binarize: constraint expressions are not supported — call expand_cons() first, "
            "then binarize the plain penalty form.");
    }
    if (!expr_has_int_atom(e)) return ExprImpl(e, kAttrPlain);
    // Every atom is checked before the first bits are made, so a refusal creates none.
    std::unordered_set<Var> checked;
    e.for_each_term([&](const TermImpl& t) {
        const uint32_t d = degree(t);
        for (uint32_t i = 0; i < d; ++i) {
            const Var v = var_at(t.vars, i);
            if (is_int_atom(v) && checked.insert(v).second) checked_coeffs(v & kIndexMask);
        }
    });

    ExprImpl r(e.constant);
    FactorTable table;
    std::unordered_map<Var, uint32_t> factor_of;
    TermExpander x;
    e.for_each_term([&](const TermImpl& t) {
        if (!has_int_atom(t)) {
            r.append_copy(t);
            return;
        }
        const uint32_t d = degree(t);
        x.start(t.coeff);
        for (uint32_t i = 0; i < d; ++i) {
            const Var v = var_at(t.vars, i);
            if (!is_int_atom(v)) {
                x.mul_var(v);
                continue;
            }
            auto it = factor_of.find(v);
            if (it == factor_of.end()) {
                // Bits are created as the atoms are met.
                const IntEncoding enc = int_var_encoding(v & kIndexMask);
                const int64_t lo = int_var_registry().find(v & kIndexMask)->lo;
                it = factor_of.emplace(v, table.add_encoding(lo, enc)).first;
            }
            x.mul_factor(table, table.factor(it->second));
        }
        x.add_to(r);
    });
    return r;
}

}  // namespace dalo

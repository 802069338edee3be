#include "model/sol.hpp"

#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

#include "constraints/items.hpp"
#include "constraints/registry.hpp"
#include "core/fatal.hpp"
#include "core/term.hpp"
#include "core/text.hpp"
#include "transform/simplify.hpp"

namespace dalo {

static_assert(std::is_standard_layout_v<SolImpl> && offsetof(SolImpl, model) == 0,
              "a Sol pointer must also be a Model handle");

namespace {

uint64_t word_count(const ModelImpl& m) { return (uint64_t{m.var_count()} + 63) / 64; }

PodArray<uint64_t> zero_words(const ModelImpl& m) { return PodArray<uint64_t>(word_count(m), 0); }

[[noreturn]] void not_in_model(const char* op, Var id) {
    fatal(std::string(op) + ": variable not in model (index=" + std::to_string(id & ~kNegBit) +
          ")");
}

// Model index of a binary identifier, fatal with the operation's message when absent.
uint32_t binary_index(const ModelImpl& m, Var id, const char* op) {
    const uint32_t index = m.index_of(id);
    if (index == kNotInModel) not_in_model(op, id);
    return index;
}

// Atom position of an integer identifier, fatal with the operation's message otherwise.
uint32_t atom_index(const ModelImpl& m, Var id, const char* op) {
    if (!is_int_atom(id)) fatal(std::string(op) + ": not an integer variable index");
    const uint32_t atom = m.atom_of(id);
    if (atom == kNotInModel) fatal(std::string(op) + ": integer variable not in model");
    return atom;
}

// Value of a remapped Model word: an integer atom's value, or a bit (complemented for a
// negated literal).
inline int64_t word_value(const uint64_t* words, const int64_t* ints, uint32_t w) {
    if (w & kAtomBit) return ints[w & kIndexMask];
    const uint32_t i = w & ~kNegBit;
    const uint64_t b = (words[i >> 6] >> (i & 63)) & 1u;
    return static_cast<int64_t>(b ^ (w >> 31));
}

// Coefficient times the word values, 0 at the first zero factor.
inline int64_t product(int64_t coeff, const uint32_t* w, uint64_t n, const uint64_t* words,
                       const int64_t* ints) {
    int64_t p = coeff;
    for (uint64_t k = 0; k < n; ++k) {
        const int64_t x = word_value(words, ints, w[k]);
        if (x == 0) return 0;
        p = wrap_mul(p, x);
    }
    return p;
}

int64_t native_body_value(const NativeCons& c, const uint64_t* words, const int64_t* ints) {
    int64_t v = c.constant;
    for (size_t k = 0; k < c.vars.size(); ++k)
        v = wrap_add(v, wrap_mul(c.coeffs[k], word_value(words, ints, c.vars[k])));
    if (c.nl_head.size() >= 2) {
        for (size_t t = 0; t + 1 < c.nl_head.size(); ++t) {
            const uint64_t begin = c.nl_head[t], end = c.nl_head[t + 1];
            const int64_t coeff = c.nl_coeffs[t];
            if (begin == end) {
                v = wrap_add(v, coeff);
            } else if (coeff != 0) {
                v = wrap_add(v, product(coeff, &c.nl_vars[begin], end - begin, words, ints));
            }
        }
    }
    return v;
}

// Value of one identifier under the Sol; false when it is not in the Model.
inline bool literal_value(const SolImpl& s, Var id, int64_t& x) {
    const ModelImpl& m = s.m();
    if (id & kIntBit) {
        const uint32_t atom = m.atom_of(id);
        if (atom == kNotInModel) return false;
        x = s.int_vals[atom];
        return true;
    }
    const uint32_t index = m.index_of(id);
    if (index == kNotInModel) return false;
    x = static_cast<int64_t>(s.bit(index) ^ (id >> 31));
    return true;
}

}  // namespace

SolImpl::SolImpl(ModelHandle m)
    : model(std::move(m)),
      scale(model->scale),
      bits(zero_words(*model)),
      int_vals(model->int_lower) {
    set_energy(energy_of_values());
}

SolImpl::SolImpl(ModelHandle m, int64_t result_energy, PodArray<uint64_t>&& result_bits,
                 double result_tts)
    : model(std::move(m)), scale(model->scale), int_vals(model->int_lower), tts(result_tts) {
    // A result whose words were already moved out gives a Sol without words (like one
    // whose words were stolen); a partial set of words is a caller's fault, refused while
    // the result still holds them.
    if (result_bits.empty() && word_count(*model) > 0) {
        bits_taken = true;
    } else if (result_bits.size() < word_count(*model)) {
        fatal("Sol: solver result holds too few bit words");
    }
    bits = std::move(result_bits);
    set_energy(result_energy);
}

SolImpl::SolImpl(const SolImpl& other)
    : model(other.model),
      scale(other.scale),
      bits(other.bits.size()),
      int_vals(other.int_vals),
      energy(other.energy),
      energy_valid(other.energy_valid),
      tts(other.tts),
      bits_taken(other.bits_taken) {
    if (!bits.empty()) std::memcpy(bits.data(), other.bits.data(), bits.size() * sizeof(uint64_t));
}

const uint64_t* SolImpl::words() const {
    // Reads after steal_bits are outside the contract; stop instead of reading nothing.
    if (bits_taken && m().var_count() > 0) fatal("Sol: bit words were handed over by steal_bits");
    return bits.data();
}

uint32_t SolImpl::get(Var id) const { return bit(binary_index(m(), id, "Sol::get")) ^ (id >> 31); }

void SolImpl::set(Var id, uint32_t value) {
    const uint32_t index = binary_index(m(), id, "Sol::set");
    // A negated literal stores the complement: 1 - value, in unsigned arithmetic.
    const bool on = (id & kNegBit) ? (1u - value) != 0 : value != 0;
    uint64_t& w = word_at(index);
    const uint64_t mask = uint64_t{1} << (index & 63);
    w = on ? (w | mask) : (w & ~mask);
    energy_valid = 0;
}

void SolImpl::flip(Var id) {
    const uint32_t index = binary_index(m(), id, "Sol::flip");
    word_at(index) ^= uint64_t{1} << (index & 63);
    energy_valid = 0;
}

int64_t SolImpl::get_int(Var id) const { return int_vals[atom_index(m(), id, "Sol::get")]; }

void SolImpl::check_int_value(uint32_t atom, int64_t value) const {
    const int64_t lo = m().int_lower[atom], hi = m().int_upper[atom];
    if (value < lo || value > hi) {
        fatal("Sol::set: value " + std::to_string(value) +
              " outside the integer variable's bounds [" + std::to_string(lo) + "," +
              std::to_string(hi) + "]");
    }
}

void SolImpl::set_int(Var id, int64_t value) {
    const uint32_t atom = atom_index(m(), id, "Sol::set");
    check_int_value(atom, value);
    int_vals[atom] = value;
    energy_valid = 0;
}

void SolImpl::set_from(const SolImpl& src) {
    // Every value is checked, in the order of the copy, before the first one is written.
    const ModelImpl& sm = src.m();
    std::vector<uint32_t> index(sm.var_count());
    for (uint32_t i = 0; i < sm.var_count(); ++i) {
        if (i == 0) src.words();
        index[i] = binary_index(m(), sm.vars[i], "Sol::set");
        if (i == 0) words();
    }
    std::vector<uint32_t> atom(sm.int_count());
    for (uint64_t k = 0; k < sm.int_count(); ++k) {
        atom[k] = atom_index(m(), sm.int_var_orig[k] | kIntBit, "Sol::set");
        check_int_value(atom[k], src.int_vals[k]);
    }
    for (uint32_t i = 0; i < sm.var_count(); ++i) {
        uint64_t& w = bits[index[i] >> 6];
        const uint64_t mask = uint64_t{1} << (index[i] & 63);
        w = src.bit(i) ? (w | mask) : (w & ~mask);
    }
    for (uint64_t k = 0; k < sm.int_count(); ++k) int_vals[atom[k]] = src.int_vals[k];
    if (sm.var_count() > 0 || sm.int_count() > 0) energy_valid = 0;
}

int64_t SolImpl::energy_of_values() const {
    const ModelImpl& md = m();
    const uint64_t* w = md.var_count() > 0 ? words() : nullptr;
    const int64_t* ints = int_vals.data();
    int64_t e = md.constant;
    for (uint32_t d = 1; d <= md.max_degree; ++d) {
        const uint64_t n = md.term_count[d - 1];
        const uint32_t* tv = md.term_vars[d - 1].data();
        const coeff_t* cf = md.coeff_array[d - 1].data();
        for (uint64_t t = 0; t < n; ++t) e = wrap_add(e, product(cf[t], tv + t * d, d, w, ints));
    }
    for (const NativeCons& c : md.native_cons) {
        const int64_t viol = native_violation(c, native_body_value(c, w, ints));
        e = wrap_add(e, weighted_violation(c.weight, viol, c.exponent));
    }
    return e;
}

int64_t SolImpl::compute_energy() {
    if (!energy_valid) set_energy(energy_of_values());
    return energy;
}

int64_t SolImpl::cached_energy() const {
    if (!energy_valid) {
        fatal(
            "Sol::energy(): energy is invalid (variable changed after last computation). Call "
            "comp_energy() first.");
    }
    return energy;
}

int64_t SolImpl::cached_energy_int() const {
    if (!energy_valid) fatal("Sol::energy_int(): energy is invalid. Call comp_energy() first.");
    return energy;
}

PodArray<uint64_t> SolImpl::take_bits() {
    bits_taken = true;
    return std::move(bits);
}

const char* SolImpl::str() const {
    if (!energy_valid) {
        fatal(
            "Sol::str(): energy is invalid (variable changed after last computation). Call "
            "comp_energy() first.");
    }
    thread_local std::string out;
    thread_local std::string scratch;
    out.clear();
    char num[24];
    std::snprintf(num, sizeof num, "%" PRId64, energy);
    out.append(num).append(":{");
    const ModelImpl& md = m();
    for (uint32_t i = 0; i < md.var_count(); ++i) {
        if (i > 0) out.push_back(',');
        out.push_back('{');
        out.append(var_display(md.vars[i], scratch));
        out.push_back(',');
        out.push_back(bit(i) ? '1' : '0');
        out.push_back('}');
    }
    out.push_back('}');
    return out.c_str();
}

SolImpl* sol_create_from_expr(const ExprImpl& e) {
    return new SolImpl(compile_model(expr_simplify_as_binary(e), 1.0, nullptr));
}

int64_t sol_eval_poly(const SolImpl& s, const ExprImpl& e) {
    int64_t acc = e.constant;
    e.for_each_term([&](const TermImpl& t) {
        if (t.coeff == 0) return;
        int64_t p = t.coeff;
        const uint32_t d = degree(t);
        for (uint32_t k = 0; k < d; ++k) {
            int64_t x = 0;
            if (!literal_value(s, var_at(t.vars, k), x) || x == 0) return;
            p = wrap_mul(p, x);
        }
        acc = wrap_add(acc, p);
    });
    return acc;
}

int64_t sol_eval_expr(const SolImpl& s, const ExprImpl& e) {
    int64_t acc = sol_eval_poly(s, e);
    if (!carries_declared(e.attr)) return acc;
    const ConstraintSumRecord& sum = constraint_sum_set().record(e.attr & kRecordMask);
    for (const SumItem& item : sum.items) {
        const ExprExprRecord& r = exprexpr_set().meta(item.first);
        const int64_t d = violation_distance(r, sol_eval_poly(s, *r.body));
        acc = wrap_add(acc, weighted_violation(item.second, d, r.exponent));
    }
    if (sum.penalty != nullptr) acc = wrap_add(acc, sol_eval_poly(s, *sum.penalty));
    return acc;
}

// ---- judging constraints ----

int64_t native_violation(const NativeCons& c, int64_t v) {
    if (!c.allowed.empty()) return allowed_distance(c.allowed, v);
    return wrap_add(distance_below(c.lower, v), distance_above(c.upper, v));
}

int64_t weighted_violation(int64_t weight, int64_t d, uint8_t exponent) {
    return exponent == 1 ? wrap_mul(weight, d) : wrap_mul(wrap_mul(weight, d), d);
}

ItemEval cons_item_eval(const ExprImpl& e, uint64_t i, const SolImpl& sol) {
    const ConsItem it = cons_item_at(e, i, "dalo_cons_item_eval: bad item index");
    ItemEval out;
    if (it.record != nullptr) {
        if (!it.record->has_bounds) fatal("violations: constraint has no recorded bounds");
        out.value = sol_eval_poly(sol, *it.record->body);
        out.lo = it.record->lo;
        out.hi = it.record->hi;
        out.violation = violation_distance(*it.record, out.value);
        out.weight = it.weight;
        return out;
    }
    // A free-form expression must be 0: its signed value is the violation.
    out.value = sol_eval_poly(sol, *it.free_form);
    out.violation = out.value;
    return out;
}

uint64_t cons_violation_count(const ExprImpl& e, const SolImpl& sol) {
    if (!attr_carries(e.attr)) fatal("cons(sol): expression carries no constraints");
    auto violated = [&](const ExprExprRecord& r) {
        if (!r.has_bounds || r.objective_only) return false;
        return violation_distance(r, sol_eval_poly(sol, *r.body)) != 0;
    };
    if (is_exprexpr_word(e.attr)) return violated(exprexpr_set().meta(e.attr & kRecordMask));
    const ConstraintSumRecord& s = constraint_sum_set().record(e.attr & kRecordMask);
    uint64_t count = 0;
    for (const SumItem& item : s.items) count += violated(exprexpr_set().meta(item.first));
    if (s.penalty != nullptr && sol_eval_poly(sol, *s.penalty) != 0) ++count;
    return count;
}

}  // namespace dalo

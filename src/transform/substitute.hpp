// Substitution of expressions for variables and evaluation under a variable map. Substitution
// expands each term as the product of its factors, in the order the general expression product
// lays out its terms, so results match that product term for term.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/expr.hpp"

namespace dalo {

// Open-addressing map from identifier (compared as is) to a value, sized for a known number of
// keys; inserting a key again overwrites its value. kNoVar is never stored: no term holds it.
template <class T>
class VarHashMap {
  public:
    explicit VarHashMap(uint64_t n) {
        uint64_t size = 16;
        unsigned bits = 4;
        while (size < 2 * n) {
            size *= 2;
            ++bits;
        }
        slots_.assign(size, Slot{kNoVar, T{}});
        shift_ = 64 - bits;
        mask_ = size - 1;
    }

    void insert(Var key, T value) {
        if (key == kNoVar) return;
        for (uint64_t i = home(key);; i = (i + 1) & mask_) {
            Slot& s = slots_[i];
            if (s.key == kNoVar || s.key == key) {
                s = Slot{key, value};
                return;
            }
        }
    }

    // The value stored for key, or null.
    const T* find(Var key) const {
        for (uint64_t i = home(key);; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.key == kNoVar) return nullptr;
            if (s.key == key) return &s.value;
        }
    }

  private:
    struct Slot {
        Var key;
        T value;
    };
    uint64_t home(Var key) const { return (uint64_t{key} * 0x9E3779B97F4A7C15ull) >> shift_; }

    std::vector<Slot> slots_;
    unsigned shift_ = 60;
    uint64_t mask_ = 15;
};

// Identifier map for lookups in the inner loops: keys below a bound proportional to the key
// count (the usual dense binary identifiers) sit in a direct table, the rest in a hash map.
// Lookups above the table clamp to a last, empty entry without a branch, since identifiers
// above and below the largest key come in unpredictable order.
template <class T>
class VarTable {
  public:
    // keys: every identifier that will be inserted; get() answers `absent` for the others.
    VarTable(const Var* keys, uint64_t n, T absent = T{}) : hash_(0), absent_(absent) {
        const uint64_t cap = std::max<uint64_t>(8 * n, 4096);
        uint64_t direct = 0, hashed = 0;
        for (uint64_t i = 0; i < n; ++i) {
            if (keys[i] < cap) {
                direct = std::max<uint64_t>(direct, uint64_t{keys[i]} + 1);
            } else {
                ++hashed;
            }
        }
        direct_.assign(direct + 1, Slot{absent, false});
        limit_ = direct;
        hash_ = VarHashMap<T>(hashed);
        hashed_ = hashed > 0;
    }

    void insert(Var key, T value) {
        if (key < limit_) {
            direct_[key] = Slot{value, true};
        } else {
            hash_.insert(key, value);
        }
    }

    const T* find(Var key) const {
        if (hashed_ && key >= limit_) return hash_.find(key);
        const Slot& s = direct_[std::min<uint64_t>(key, limit_)];
        return s.present ? &s.value : nullptr;
    }

    T get(Var key) const {
        if (hashed_ && key >= limit_) {
            const T* v = hash_.find(key);
            return v != nullptr ? *v : absent_;
        }
        return direct_[std::min<uint64_t>(key, limit_)].value;
    }

  private:
    struct Slot {
        T value;
        bool present;
    };
    std::vector<Slot> direct_;  // limit_ entries, then the empty one
    uint64_t limit_ = 0;
    VarHashMap<T> hash_;
    T absent_;
    bool hashed_ = false;
};

// Factors in flat form: a constant and terms (coefficient, identifiers) in numbering order.
class FactorTable {
  public:
    struct Term {
        coeff_t coeff;
        uint32_t degree;
        uint64_t offset;  // first identifier in vars()
    };
    struct Factor {
        energy_t constant;
        uint64_t first;  // first term in terms()
        uint64_t count;
        uint64_t var_total;  // identifiers over all its terms
        bool declared;       // multiplying by it is refused
    };

    // Adds the present terms of x; returns the factor's index.
    uint32_t add(const ExprImpl& x);
    // Adds constant + sum of coeff * bit.
    uint32_t add_encoding(energy_t constant, const std::vector<std::pair<Var, coeff_t>>& bits);

    const Factor& factor(uint32_t i) const { return factors_[i]; }
    const Term* terms() const { return terms_.data(); }
    const Var* vars() const { return vars_.data(); }

  private:
    std::vector<Factor> factors_;
    std::vector<Term> terms_;
    std::vector<Var> vars_;
};

// One term expanded as the product of its factors, with scratch space reused between terms.
// The product p * f lays out its terms as the expression product does: p.constant * each
// term of f, then f.constant * each term of p, then every p_i * f_j row by row.
class TermExpander {
  public:
    void start(coeff_t c) {
        constant_ = c;
        items_ = 0;
        var_total_ = 0;
    }
    // p = p * (1 * v)
    void mul_var(Var v);
    // p = p * f
    void mul_factor(const FactorTable& table, const FactorTable::Factor& f);

    // Calls out(term) for every term of p in order; the term's tail is the callee's.
    template <class Out>
    void emit(Out&& out) const {
        const Item* it = cur_.data();
        const Var* vars = cur_vars_.data();
        for (uint64_t i = 0; i < items_; ++i) out(to_term(it[i], vars + it[i].offset));
    }
    // r += p: the constant is added, the terms appended in order.
    void add_to(ExprImpl& r) const;

  private:
    struct Item {
        coeff_t coeff;
        uint32_t degree;
        uint64_t offset;
    };
    static TermImpl to_term(const Item& t, const Var* v);
    // Makes room in the next buffers.
    void prepare(uint64_t items, uint64_t vars);
    void flip(uint64_t items, uint64_t vars);

    energy_t constant_ = 0;
    uint64_t items_ = 0, var_total_ = 0;
    std::vector<Item> cur_, next_;
    std::vector<Var> cur_vars_, next_vars_;
};

// The identifiers and replacements of one substitution, built once. Identifiers map to a
// slot: 0 for a variable that stays, k + 1 for factor k of the table, with kGeneral set when
// the factor has a term of degree other than 1 (known without reading the factor).
class SubstMap {
  public:
    static constexpr uint64_t kNotLinear = ~uint64_t{0};
    static constexpr uint32_t kGeneral = 0x80000000u;

    // What the inner loops read of a factor; slot 0 is a variable itself (1 * v).
    struct Shape {
        energy_t constant;
        uint64_t count;
        uint64_t linear;  // first of its terms in linear() when all have degree 1
        bool declared;
    };
    struct LinearTerm {
        coeff_t coeff;
        Var var;
    };

    // Later pairs win for repeated identifiers.
    SubstMap(const Var* vars, const ExprImpl* const* repl, uint64_t n);

    uint32_t slot(Var v) const { return index_.get(v); }
    const Shape& shape(uint32_t slot) const { return shapes_[slot & ~kGeneral]; }
    const LinearTerm* linear() const { return linear_.data(); }
    const FactorTable::Factor& factor(uint32_t slot) const {
        return table_.factor((slot & ~kGeneral) - 1);
    }
    const FactorTable& table() const { return table_; }

  private:
    VarTable<uint32_t> index_;
    FactorTable table_;
    std::vector<Shape> shapes_{Shape{0, 1, kNotLinear, false}};
    std::vector<LinearTerm> linear_;
};

// The plain substitution: not simplified, attr plain, e's own attr ignored.
ExprImpl expr_replace_plain(const ExprImpl& e, const SubstMap& m);

// Substitution that also rewrites the bodies and penalty of declared constraints into a
// new declared sum; any other attr of e is dropped.
ExprImpl expr_replace(const ExprImpl& e, const SubstMap& m);

// Value of e with vars[i] = values[i]; a negated literal reads 1 - value. Fatal when e
// carries declared constraints or when a variable of e is missing.
int64_t expr_eval_map(const ExprImpl& e, const Var* vars, const int64_t* values, uint64_t n);

}  // namespace dalo

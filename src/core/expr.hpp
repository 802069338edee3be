// An expression: a 64-bit constant, an inline first term, a tail array of further terms,
// and the attribute word that links it to declared constraints.
#pragma once

#include <cstdint>
#include <utility>

#include "core/term.hpp"

namespace dalo {

inline constexpr uint32_t kAttrPlain = 0xFFFFFFFFu;

// 0x80000000 - 0xFFFFFFFE: an ExprExpr or a constraint sum.
inline constexpr bool attr_carries(uint32_t w) { return w >= 0x80000000u && w != kAttrPlain; }

// Called with the word of every copy of a carrying value. The constraint-sum registry installs
// it when it is created: two values that hold one sum must not append to it in place.
void set_copy_hook(void (*hook)(uint32_t word));

class ExprImpl {
  public:
    energy_t constant = 0;
    TermImpl first{};       // term 0, present exactly when its coefficient is non-zero
    uint64_t capacity = 0;  // of the tail array
    uint64_t count = 0;     // terms in the tail array
    TermImpl* terms = nullptr;
    uint32_t attr = kAttrPlain;

    ExprImpl() = default;
    explicit ExprImpl(energy_t c) : constant(c) {}
    ExprImpl(const ExprImpl& other);
    // A copy that carries `word` instead of the source's attribute word.
    ExprImpl(const ExprImpl& other, uint32_t word);
    ExprImpl(ExprImpl&& other) noexcept { swap(other); }
    ExprImpl& operator=(const ExprImpl& other);
    ExprImpl& operator=(ExprImpl&& other) noexcept {
        ExprImpl tmp(std::move(other));
        swap(tmp);
        return *this;
    }
    ~ExprImpl() { release(); }

    void swap(ExprImpl& other) noexcept;

    bool has_inline() const { return first.coeff != 0; }
    uint64_t term_count() const { return count + (has_inline() ? 1 : 0); }

    // Term i in numbering order (inline first when present); no range check.
    const TermImpl& term(uint64_t i) const {
        if (has_inline()) return i == 0 ? first : terms[i - 1];
        return terms[i];
    }
    TermImpl& term(uint64_t i) { return const_cast<TermImpl&>(std::as_const(*this).term(i)); }

    // Calls f(term) for every present term in numbering order.
    template <class F>
    void for_each_term(F&& f) const {
        if (has_inline()) f(first);
        for (uint64_t i = 0; i < count; ++i) f(terms[i]);
    }

    // Appends a term whose tail this expression now owns: into the inline slot when it is
    // empty (the old inline list is released), else at the end of the tail array.
    void append_owned(const TermImpl& t) {
        if (first.coeff != 0 && count < capacity) {
            terms[count++] = t;
        } else {
            append_slow(t);
        }
    }
    // The same for a term of degree at most 2, written field by field (no temporary record).
    void append_small(coeff_t c, Var a, Var b) {
        if (first.coeff != 0 && count < capacity) {
            TermImpl& t = terms[count++];
            t.coeff = c;
            t.vars.slot0 = a;
            t.vars.slot1 = b;
            t.vars.tail = nullptr;
        } else {
            append_slow(TermImpl{c, {a, b, nullptr}});
        }
    }
    void append_copy(const TermImpl& t) { append_owned(copy_term(t)); }

    // Makes room for n more tail terms (exact reservation).
    void reserve_more(uint64_t n);
    // Grows the tail by n uninitialised entries and returns the first of them; the caller
    // fills every one before anything else reads the expression.
    TermImpl* extend(uint64_t n);

    // Releases every term and the tail array; the constant and attr stay.
    void clear_terms();

  private:
    void append_slow(const TermImpl& t);
    void release();
};

// (Re)allocates a term array of n entries, keeping its first `used`; throws std::bad_alloc.
TermImpl* realloc_terms(TermImpl* p, uint64_t n, uint64_t used);

// Frees the tails of n terms, in parallel above the serial limit; nothing to walk until the
// process has made a tail.
void free_term_tails(const TermImpl* t, uint64_t n);

// Deep copies n terms into uninitialised storage, negating coefficients when asked; runs in
// parallel above the serial limit.
void copy_terms(TermImpl* dst, const TermImpl* src, uint64_t n, bool negate);

}  // namespace dalo

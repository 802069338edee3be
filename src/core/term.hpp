// A term: a 32-bit coefficient times a product of variables, with two inline variable
// slots and a heap tail (third and later identifiers, then a kNoVar terminator).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "core/var.hpp"

namespace dalo {

struct VarList {
    Var slot0 = kNoVar;
    Var slot1 = kNoVar;
    Var* tail = nullptr;  // malloc'd; owned by the term; unused while slot1 is empty
};

struct TermImpl {
    coeff_t coeff = 0;
    VarList vars;
};

// Terms are moved around with memcpy/realloc; ownership of tails is explicit.
static_assert(std::is_trivially_copyable_v<TermImpl>);

// 32-bit two's complement arithmetic, wrapping on overflow.
inline coeff_t wrap_coeff(int64_t v) { return static_cast<coeff_t>(static_cast<uint32_t>(v)); }
inline coeff_t mul_coeff(int64_t a, int64_t b) {
    return static_cast<coeff_t>(
        static_cast<uint32_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b)));
}
inline coeff_t neg_coeff(coeff_t c) { return static_cast<coeff_t>(0u - static_cast<uint32_t>(c)); }
inline energy_t wrap_add(energy_t a, energy_t b) {
    return static_cast<energy_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
inline energy_t wrap_sub(energy_t a, energy_t b) {
    return static_cast<energy_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
inline energy_t wrap_mul(energy_t a, energy_t b) {
    return static_cast<energy_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

// Packed inline slots: slot0 in the low word, slot1 in the high word.
inline uint64_t pack_slots(const VarList& v) {
    return uint64_t{v.slot0} | (uint64_t{v.slot1} << 32);
}
inline void unpack_slots(uint64_t packed, VarList& v) {
    v.slot0 = static_cast<Var>(packed);
    v.slot1 = static_cast<Var>(packed >> 32);
}

inline uint32_t degree(const VarList& v) {
    if (v.slot0 == kNoVar) return 0;
    if (v.slot1 == kNoVar) return 1;
    uint32_t d = 2;
    if (v.tail != nullptr) {
        while (v.tail[d - 2] != kNoVar) ++d;
    }
    return d;
}
inline uint32_t degree(const TermImpl& t) { return degree(t.vars); }

// Identifier at position i (no range check).
inline Var var_at(const VarList& v, uint64_t i) {
    return i == 0 ? v.slot0 : i == 1 ? v.slot1 : v.tail[i - 2];
}

// Entries of a tail for degree d: d rounded down to even (room for d - 2 identifiers and
// the terminator).
inline uint64_t tail_entries(uint32_t d) { return d & ~1u; }

// Allocates a tail of `entries` identifiers; throws std::bad_alloc.
Var* alloc_tail(uint64_t entries);
// Whether this process has allocated a tail. Until it has, no term holds one, and the walks
// that free or copy tails (over every term of an array) have nothing to do: a program that
// builds quadratic forms only never makes one.
bool tails_made();
// Records that a tail exists that did not come from alloc_tail (one a caller handed over).
void note_tail();
inline void free_tail(VarList& v) {
    std::free(v.tail);
    v.tail = nullptr;
}

// Deep copy of a variable list (the tail only when the degree is at least 3).
VarList copy_vars(const VarList& src);
inline TermImpl copy_term(const TermImpl& t) { return TermImpl{t.coeff, copy_vars(t.vars)}; }

// Builds a list from identifiers in order.
VarList make_vars(const Var* vars, uint64_t n);

// Appends one identifier (slot0, slot1, then the tail).
void push_var(VarList& v, Var id);

// The variables of a followed by those of b.
VarList concat_vars(const VarList& a, const VarList& b);

// Drops a tail that a caller handed over with an unfilled second slot.
inline void normalize_moved(VarList& v) {
    if (v.slot1 == kNoVar && v.tail != nullptr) free_tail(v);
}

}  // namespace dalo

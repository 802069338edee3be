// A Sol: one assignment of values to the variables of a Model (a bit per model index, a
// value per integer atom) with a cached energy. It shares its Model and never changes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/expr.hpp"
#include "core/pod_array.hpp"
#include "model/model.hpp"

namespace dalo {

struct SolImpl {
    // First member: a Sol pointer doubles as a Model handle for the read-only queries.
    ModelHandle model;
    double scale = 1.0;
    PodArray<uint64_t> bits;  // model index i in word i / 64, bit i % 64
    std::vector<int64_t> int_vals;
    int64_t energy = 0;
    uint8_t energy_valid = 0;
    double tts = -1.0;
    bool bits_taken = false;  // steal_bits handed the words over

    // All bits 0, integer atoms at their lower bounds, energy computed.
    explicit SolImpl(ModelHandle m);
    // A solver result: the bit words are taken over as they are and the energy is trusted,
    // not computed. Integer atoms start at their lower bounds.
    SolImpl(ModelHandle m, int64_t result_energy, PodArray<uint64_t>&& result_bits,
            double result_tts);
    SolImpl(const SolImpl& other);
    SolImpl& operator=(const SolImpl&) = delete;

    const ModelImpl& m() const { return *model; }

    uint32_t get(Var id) const;
    void set(Var id, uint32_t value);
    void flip(Var id);
    int64_t get_int(Var id) const;
    void set_int(Var id, int64_t value);
    void set_from(const SolImpl& src);

    // The energy of the current values, by the Model's flat arrays and native records.
    int64_t energy_of_values() const;
    int64_t compute_energy();
    int64_t cached_energy() const;      // fatal when not valid
    int64_t cached_energy_int() const;  // the same, with its own message
    void set_energy(int64_t e) {
        energy = e;
        energy_valid = 1;
    }

    // Moves the bit words out (malloc'd); the Sol keeps none.
    PodArray<uint64_t> take_bits();

    // Value of a binary model index; the words must still be here.
    uint32_t bit(uint32_t index) const { return (words()[index >> 6] >> (index & 63)) & 1u; }
    // The bit words, fatal once they were handed over.
    const uint64_t* words() const;

    // "energy:{{name,value},...}" in a per-thread buffer.
    const char* str() const;

  private:
    // Fatal unless value lies within the bounds of integer atom `atom`.
    void check_int_value(uint32_t atom, int64_t value) const;
    uint64_t& word_at(uint32_t index) {
        words();
        return bits[index >> 6];
    }
};

// A Sol over a private Model compiled from the binary simplification of e.
SolImpl* sol_create_from_expr(const ExprImpl& e);

// Value of e's polynomial under the Sol: literals outside the Model and zero factors drop
// their terms.
int64_t sol_eval_poly(const SolImpl& s, const ExprImpl& e);

// The polynomial plus, for a declared sum, each item's weight x d^k and the free-form penalty.
int64_t sol_eval_expr(const SolImpl& s, const ExprImpl& e);

// ---- judging constraints ----

// Violation distance of a body value against a compiled record. Inverted bounds (lower >
// upper, stored as given) are the one case where its range form, the sum of the shortfall
// below lower and the excess above upper, differs from the constraint record's.
int64_t native_violation(const NativeCons& c, int64_t v);

// weight x d (exponent 1) or weight x d^2, wrapping.
int64_t weighted_violation(int64_t weight, int64_t d, uint8_t exponent);

// Item i of a constraint-carrying value under the Sol.
struct ItemEval {
    int64_t value = 0;
    int64_t lo = 0;
    int64_t hi = 0;
    int64_t violation = 0;
    int64_t weight = 1;
};
ItemEval cons_item_eval(const ExprImpl& e, uint64_t i, const SolImpl& sol);

uint64_t cons_violation_count(const ExprImpl& e, const SolImpl& sol);

}  // namespace dalo

// Pieces of the integer search engine that stand on their own: move sets, the from-scratch
// energy of a state, and the list of kept solutions with the best state.
//
// A state is one 64-bit value per position: positions 0 .. nbin - 1 are the Model's binary
// variables (0 or 1), positions nbin .. nbin + nint - 1 its integer atoms.
#pragma once

#include <cstdint>
#include <vector>

#include "core/var.hpp"
#include "model/model.hpp"

namespace dalo::int_detail {

// Ring arithmetic is done on the unsigned forms.
inline uint64_t u(int64_t v) { return static_cast<uint64_t>(v); }
inline int64_t s(uint64_t v) { return static_cast<int64_t>(v); }

enum class MoveKind : uint8_t { Binary, Small, Stepped };

// Ranges below this try every value; wider ones move by powers of two.
inline constexpr uint64_t kSmallRange = 16;

struct VarMoves {
    MoveKind kind = MoveKind::Binary;
    uint32_t steps = 0;  // stepped: 1, 2, 4, ..., 2^(steps - 1)
    bool has_weight = false;
    double weight = 0.0;  // ln of the ratio of the geometric prior-jump distances
    uint64_t moves = 1;   // what the variable adds to a round's length
};

VarMoves binary_moves();
VarMoves int_var_moves(int64_t lo, int64_t hi);

struct StateEval {
    energy_t energy = 0;
    energy_t penalty = 0;   // sum of the constraint penalties
    uint64_t violated = 0;  // violated constraints that are not objective-only
    uint64_t counted = 0;   // constraints that are not objective-only
};

// Energy of a state from the Model's flat arrays and native records, with a Sol's arithmetic.
StateEval evaluate_state(const ModelImpl& m, const int64_t* vals);

// Bits of positions 0 .. nbin - 1 into word_count(nbin) words.
void pack_bits(const int64_t* vals, uint32_t nbin, uint64_t* words);
// A state from bit words and integer values (either may be null when empty).
void unpack_state(uint32_t nbin, uint64_t nint, const uint64_t* bits, const int64_t* ints,
                  int64_t* vals);

struct KeptState {
    energy_t energy = 0;
    double tts = 0.0;
    std::vector<int64_t> vals;
};

// The kept solutions (top-k list or best-energy collection) and the best state. Not locked.
class Keeper {
  public:
    Keeper(uint64_t topk, bool collect, uint64_t collect_limit)
        : topk_(topk), collect_(collect), limit_(collect_limit) {}

    // Offers a state found tts seconds after the start; true when it became the best.
    bool offer(const int64_t* vals, uint64_t n, energy_t energy, double tts);

    bool has_best() const { return has_best_; }
    const KeptState& best() const { return best_; }
    const std::vector<KeptState>& kept() const { return kept_; }

  private:
    bool listed(const int64_t* vals, uint64_t n) const;

    uint64_t topk_;
    bool collect_;
    uint64_t limit_;
    bool has_best_ = false;
    KeptState best_;
    std::vector<KeptState> kept_;
};

}  // namespace dalo::int_detail

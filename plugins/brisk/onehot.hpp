// One-hot groups among the native constraints (sum of x = 1 over distinct variables with unit
// coefficients) and moves that keep every group at exactly one: a swap moves the 1 of a group
// to another member, and where the groups form an assignment (rows and columns, each row
// meeting each column in one variable) an exchange swaps the columns of two rows, four flips.
// On such states every penalty is zero, so a move changes the energy by its objective change:
// the sum of the flipped variables' own changes plus their pairwise couplings.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "model.hpp"
#include "rng.hpp"
#include "tabu.hpp"

namespace brisk {

// The groups, when every native constraint is one and the objective is at most quadratic.
struct Groups {
    uint32_t side = 0;           // > 0: an assignment of side rows and side columns
    std::vector<uint32_t> cell;  // its variable of row r and column c at r * side + c
    // Otherwise disjoint groups: members of group g in members[off[g], off[g + 1]).
    std::vector<uint64_t> off;
    std::vector<uint32_t> members;
    std::vector<uint32_t> free;  // variables in no group
    uint64_t count = 0;          // constraints that are groups
    // The least weight that, given to every group, makes each feasible state beat all of its
    // one-flip neighbours (which empty a group or fill a second member), from bounds on the
    // objective's change; and the smallest weight a variable's groups give it in the Model.
    // Saturated at INT64_MAX.
    int64_t weight_floor = 0;
    int64_t weight_declared = 0;
    bool weights_hold = true;  // every variable's groups together outweigh its own bound
    // A move reads six couplings, and a search of the neighbour lists would cost more than
    // the rest of it: every coupling at a * n + b where that table is small and the couplings
    // fit in 32 bits, else a hash table of the pairs a < b (open addressing, key ~0 empty).
    std::vector<int32_t> dense;
    std::vector<uint64_t> keys;
    std::vector<int64_t> values;
    uint32_t shift = 64;

    // Fills dense or the hash table from the Problem's couplings.
    void index_couplings(const Problem& p, uint64_t dense_vars);
    int64_t coupling(uint32_t a, uint32_t b, uint32_t n) const {
        if (!dense.empty()) return dense[uint64_t{a} * n + b];
        const uint64_t key = a < b ? (uint64_t{a} << 32) | b : (uint64_t{b} << 32) | a;
        for (uint64_t h = slot(key);; h = (h + 1) & (keys.size() - 1)) {
            if (keys[h] == key) return values[h];
            if (keys[h] == ~uint64_t{0}) return 0;
        }
    }
    uint64_t slot(uint64_t key) const { return (key * 0x9E3779B97F4A7C15ull) >> shift; }
};

// Null when some constraint is not a one-hot group, the objective has products of degree
// three or more, or the groups overlap other than as an assignment.
std::unique_ptr<Groups> find_groups(const Problem& p);

// A state that satisfies every group, with each variable's objective field
// (lin + sum of couplings to the variables at 1) kept current.
class GroupState {
  public:
    GroupState(const Problem& p, const Groups& g);

    // A random state that satisfies the groups (free variables at random).
    void randomise(Rng& rng);
    // Takes x when it satisfies the groups; false (and nothing changes) otherwise.
    bool assign(const uint8_t* x);

    const uint8_t* x() const { return x_.data(); }
    int64_t energy() const { return energy_; }
    // Moves a random move draws from: exchanges (row pairs), swaps and free flips.
    uint64_t neighbourhood() const;

    // Energy change of exchanging the columns of rows r and t.
    int64_t exchange_delta(uint32_t r, uint32_t t) const;
    void exchange(uint32_t r, uint32_t t, int64_t delta);
    // Energy change of moving the 1 of group g to its member variable v.
    int64_t swap_delta(uint32_t g, uint32_t v) const;
    void swap(uint32_t g, uint32_t v, int64_t delta);
    int64_t flip_delta(uint32_t v) const;
    void flip(uint32_t v, int64_t delta);

    // The member at 1 of group g (disjoint groups), the column of row r (assignment).
    uint32_t on(uint32_t g) const { return on_[g]; }
    // The group of entry s of the members list (disjoint groups).
    uint32_t group_of(uint64_t s) const { return slot_group_[s]; }

  private:
    int64_t coupling(uint32_t a, uint32_t b) const;
    int64_t sigma_field(uint32_t v) const { return x_[v] ? wrap_sub(0, field_[v]) : field_[v]; }
    void raw_flip(uint32_t v);

    const Problem& p_;
    const Groups& g_;
    std::vector<uint8_t> x_;
    std::vector<int64_t> field_;
    std::vector<uint32_t> on_;
    std::vector<uint32_t> slot_group_;
    int64_t energy_ = 0;
};

// Annealing over the moves that keep the groups, from random feasible states and from the
// best state met, reheated; until the sink says stop. Starts from `start` when it satisfies
// the groups. When one flip improves on the first run's best state, the penalty weights are
// too weak for the groups to hold at the minimum: the search ends with `weak` set, and the
// caller goes on over all states.
struct GroupSearchCounts {
    uint64_t proposed = 0, applied = 0, runs = 0;
    bool weak = false;
};
GroupSearchCounts group_search(const Problem& p, const Groups& g, Rng& rng, Sink& sink,
                               const uint8_t* start);

}  // namespace brisk

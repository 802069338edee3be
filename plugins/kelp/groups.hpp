// One-hot groups among the native constraints (sum of x = 1 over distinct binaries with unit
// coefficients) and the moves that keep every group at exactly one: a swap moves the 1 of a
// group to another member; where the groups form an assignment (rows and columns, each row
// meeting each column in one variable) an exchange swaps the columns of two rows, four flips.
// On such states every penalty is zero, so a move changes the energy by its objective change.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "model.hpp"
#include "rng.hpp"

namespace kelp {

struct Replica {
    std::vector<int64_t> v, body;
    std::vector<int64_t> field;  // energy change per unit change of each x (quadratic forms)
    std::vector<uint32_t> on;    // group moves: the member at 1 of each group, column of each row
    int64_t e = 0;
};

struct Groups {
    uint32_t side = 0;           // > 0: an assignment of side rows and side columns
    std::vector<uint32_t> cell;  // its variable of row r and column c at r * side + c
    // Otherwise disjoint groups: members of group k in members[off[k], off[k + 1]).
    std::vector<uint64_t> off;
    std::vector<uint32_t> members, group_of;  // group_of: the group of each members entry
    std::vector<uint32_t> free;               // variables in no group
    uint64_t count = 0;
    // The objective as lin + pairs, each pair listed from both ends in ascending neighbours;
    // every coupling at a * n + b as well where that table is small.
    std::vector<int64_t> lin;
    std::vector<uint64_t> adj_off;
    std::vector<std::pair<uint32_t, int64_t>> adj;
    std::vector<int32_t> dense;

    int64_t coupling(uint32_t a, uint32_t b) const;
    // Moves a random move draws from: exchanges (row pairs), swaps and free flips.
    uint64_t neighbourhood() const;
};

// Null when some constraint is not a one-hot group, the Model has integers, the objective has
// negated literals or products of three or more, or the groups overlap other than as an
// assignment.
std::unique_ptr<Groups> find_groups(const Model& m);

struct GroupMove {
    uint8_t kind = 0;  // 0 none, 1 exchange, 2 swap, 3 flip
    uint32_t a = 0, b = 0;
    int64_t delta = 0;
};

// Takes r.v when it satisfies the groups (fields, bodies and energy from scratch).
bool place(const Model& m, const Groups& g, Replica& r);
// A random state that satisfies the groups.
void place_random(const Model& m, const Groups& g, Rng& rng, Replica& r);
GroupMove draw(const Groups& g, const Replica& r, Rng& rng);
void apply(const Groups& g, Replica& r, const GroupMove& mv);
// Whether one flip lowers the energy of r (the weights then do not hold the groups).
bool improvable(const Model& m, const Replica& r);

}  // namespace kelp

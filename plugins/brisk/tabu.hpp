// Breakout local search over one-flip moves: steepest descent to a local optimum, then a
// perturbation whose strength grows while the search keeps falling back into the same local
// optimum and whose moves are mostly the best non-tabu ones, else those of the variables
// left unmoved longest or random ones, more often the longer no new best is found. Also the
// path relinking that starts it between two elite states.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "model.hpp"
#include "rng.hpp"
#include "state.hpp"

namespace brisk {

// Where a search reports: the shared best and lists, and when to stop.
class Sink {
  public:
    virtual ~Sink() = default;
    virtual bool stop() = 0;
    // States at or below this energy are worth offering.
    virtual int64_t bar() = 0;
    virtual void offer(const uint8_t* x, int64_t energy) = 0;
    // Whether solution lists are kept: then every state visited is worth a look.
    virtual bool lists() = 0;
};

class Breakout {
  public:
    virtual ~Breakout() = default;
    // Forgets the search history: the next run starts afresh from the state as it is.
    virtual void restart() = 0;
    // Searches for about `flips` flips from the state as it is (or as the last run left it);
    // false when the search must stop.
    virtual bool run(uint64_t flips) = 0;
    // The best state of the runs since the last restart.
    virtual const std::vector<uint8_t>& best() const = 0;
    virtual int64_t best_energy() const = 0;
    // Whether the last run improved on that best.
    virtual bool improved() const = 0;
    virtual uint64_t flips() const = 0;
};

// Gain buckets where every flip change of every state is a small integer, block minima
// otherwise.
std::unique_ptr<Breakout> make_breakout(const Problem& p, State& st, Rng& rng, Sink& sink);

// The largest flip change any state can have when it is small enough for buckets, else 0.
int64_t bucket_range(const Problem& p);

// Walks the state toward `guide`, each step the best flip among the variables where the two
// still differ, and stops at the best state met at least a third of the way from both ends
// (the state is left alone when they differ in fewer than three variables). On long walks each
// step compares a random sample of the remaining variables.
void relink(State& st, const uint8_t* guide, Rng& rng);

}  // namespace brisk

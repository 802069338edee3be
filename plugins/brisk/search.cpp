// The search on every thread: episodes of annealing runs, each polished by a tabu phase, and
// of breakout local search (tabu.hpp), drawn by a portfolio that follows which kind improves
// the shared elite pool.
//
// A run anneals from a start state with temperatures falling geometrically from one where a
// tenth of the uphill flips pass to one where almost none do. Its best state is then polished
// by tabu search (the best allowed flip each move, not tabu or leading to a new phase best,
// ties at random, tenure about n/100 plus a few random moves) and enters the shared elite pool,
// which stays spread out: a newcomer close to an entry may only replace that entry.
// The next run starts from a random state, a crossover of two elite states or an elite state,
// reheated to a lower start temperature. A breakout episode goes on from where the last one
// stopped while it keeps improving, else starts from the best point on the path between two
// elite states or from an elite state.
// Models whose constraints are all one-hot groups are searched by annealing over moves that
// keep every group satisfied instead (onehot.hpp).
#include "search.hpp"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "gains.hpp"
#include "index.hpp"
#include "keeper.hpp"
#include "onehot.hpp"
#include "portfolio.hpp"
#include "rng.hpp"
#include "scan.hpp"
#include "state.hpp"
#include "tabu.hpp"

namespace brisk {

namespace {

// Models with at most this many variables get exact solution lists by enumeration.
constexpr uint32_t kEnumerateBits = 16;

// Search constants, chosen on the Max-Cut and bqp benchmark instances.
struct Tuning {
    double tenure_div = 100;  // tabu tenure: n / tenure_div plus 1..tenure_rand
    double tenure_rand = 10;
    double p_cross = 0.3;       // next run from a crossover of two elite states
    double p_random = 0.4;      // or from a random state (else from one elite state)
    double pool_size = 16;      // elite states kept
    double hot = 0.1;           // mean acceptance of an uphill flip at the start temperature
    double cold = 0.0003;       // and at the final one
    double sweeps = 6000;       // sweeps of a run from a random state (Max-Cut Models)
    double reheat = 0.5;        // start temperature of a run from elite states, as a share
    double resweeps = 0.2;      // and its sweeps, as a share
    double polish = 10;         // tabu moves after each run without improvement, times n
    double close_share = 0.01;  // pool entries nearer than this share of n count as alike
    double breakout = 50;       // flips of a breakout episode, times n
};

// Whether E(x) = E(not x) for every x: a quadratic Model without constraints where each linear
// coefficient is minus half the sum of its variable's quadratic coefficients.
bool symmetric_under_complement(const Problem& p) {
    if (!p.quadratic_only || p.n() == 0) return false;
    for (uint32_t i = 0; i < p.n(); ++i) {
        int64_t sum = 0;
        for (uint64_t k = p.adj_off[i]; k < p.adj_off[i + 1]; ++k)
            sum = wrap_add(sum, p.adj[k].coeff);
        if (wrap_sub(0, sum) != wrap_add(p.lin[i], p.lin[i])) return false;
    }
    return true;
}

struct Elite {
    int64_t energy;
    uint64_t hash;
    std::vector<uint8_t> x;
};

struct Shared {
    const Problem& p;
    const Options& o;
    ProgressCallback cb;
    Tuning tuning;
    Clock::time_point start;
    Clock::time_point deadline;
    bool has_deadline = true;
    bool complement_symmetric = false;
    // One-hot groups whose moves replace the one-flip searches, or null.
    std::unique_ptr<Groups> groups;
    std::atomic<bool> weak_groups{false};  // a thread found the weights too weak for them

    std::atomic<bool> stop{false};
    std::atomic<int64_t> best_energy{INT64_MAX};
    std::atomic<int64_t> list_threshold{INT64_MIN};

    std::mutex lock;
    bool has_best = false;
    Found best;
    std::vector<Elite> pool;
    Keeper keeper;
    Portfolio portfolio;
    Kind best_kind = Kind::kAnnealing;

    std::atomic<uint64_t> flips{0}, moves{0}, restarts{0};

    Shared(const Problem& prob, const Options& opts, ProgressCallback callback)
        : p(prob),
          o(opts),
          cb(callback),
          start(opts.start),
          keeper(opts.topk, opts.best_energy_sols, opts.best_energy_limit),
          portfolio(opts.annealing, opts.breakout) {
        if (!(o.time_limit > 0.0)) {
            deadline = start;
        } else if (o.time_limit > 1e9) {
            has_deadline = false;
        } else {
            deadline = start + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(o.time_limit));
        }
        if (keeper.active()) list_threshold = INT64_MAX;
        complement_symmetric = symmetric_under_complement(prob);
        // Max-Cut Models need the longer anneal and polish (sparse planar and random graphs
        // gain the most from the slow cooling), and their runs from elite states do best as
        // short warm reruns; on the others (bqp) shorter runs with a short polish, and so
        // more of them, reach the best states sooner.
        if (!complement_symmetric) {
            tuning.sweeps = 500;
            tuning.polish = 3;
            tuning.reheat = 0.3;
            tuning.resweeps = 0.5;
        }
    }

    bool should_stop() {
        if (stop.load(std::memory_order_relaxed)) return true;
        if (has_deadline && Clock::now() >= deadline) {
            stop.store(true, std::memory_order_relaxed);
            return true;
        }
        return false;
    }

    // A state better than every one seen so far (or equal, for the lists).
    void offer_best(const uint8_t* x, int64_t energy, Kind kind = Kind::kAnnealing) {
        std::lock_guard<std::mutex> g(lock);
        const double tts = seconds_since(start);
        if (keeper.active()) {
            keeper.offer(x, p.n(), energy, tts);
            list_threshold.store(keeper.threshold(), std::memory_order_relaxed);
        }
        if (has_best && energy >= best.energy) return;
        has_best = true;
        best_kind = kind;
        best.energy = energy;
        best.tts = tts;
        best.x.assign(x, x + p.n());
        best_energy.store(energy, std::memory_order_relaxed);
        if (o.default_callback) {
            std::printf("TTS = %.3fs Energy = %" PRId64 "\n", tts, energy);
            std::fflush(stdout);
        }
        if (cb != nullptr) {
            std::vector<uint64_t> bits((p.n() + 63) / 64, 0);
            for (uint32_t i = 0; i < p.n(); ++i) bits[i >> 6] |= uint64_t{x[i]} << (i & 63);
            cb(nullptr, &energy, bits.data(), 1, tts);
        }
        if (o.has_target && energy <= o.target) stop.store(true);
    }

    void offer_list(const uint8_t* x, int64_t energy) {
        std::lock_guard<std::mutex> g(lock);
        keeper.offer(x, p.n(), energy, seconds_since(start));
        list_threshold.store(keeper.threshold(), std::memory_order_relaxed);
    }

    uint64_t distance_raw(const uint8_t* a, const uint8_t* b) const {
        uint64_t d = 0;
        for (uint32_t i = 0; i < p.n(); ++i) d += a[i] != b[i];
        return d;
    }

    // Hamming distance between two states; on a Model unchanged by flipping every variable
    // (Max-Cut) a state and its complement are the same solution, so the smaller of the two.
    uint64_t distance(const uint8_t* a, const uint8_t* b) const {
        const uint64_t d = distance_raw(a, b), n = p.n();
        return complement_symmetric ? std::min<uint64_t>(d, n - d) : d;
    }

    // Keeps the pool good and spread out: a state close to a pool entry can only replace that
    // entry (when better), a distant one replaces the worst entry (when better than it).
    // Returns how good a newcomer it was: 1 at the top of the pool, 0.3 second, less lower
    // down, 0 when it did not enter.
    // A full pool takes a state that only improves on others (near_only) in place of its
    // nearest entry, so that refinements do not crowd out the spread of the pool.
    double offer_elite(const uint8_t* x, int64_t energy, bool near_only = false) {
        const uint64_t h = hash_bytes(x, p.n());
        std::lock_guard<std::mutex> g(lock);
        double beaten = 0;
        uint64_t better = 0;
        for (const Elite& e : pool) {
            if (e.energy == energy && e.hash == h) return 0.0;
            beaten += e.energy > energy;
            better += e.energy < energy;
        }
        const size_t cap = static_cast<size_t>(tuning.pool_size);
        beaten = better == 0 ? 1.0 : better == 1 ? 0.3 : 0.1 * beaten / static_cast<double>(cap);
        if (pool.size() < cap) {
            pool.push_back(Elite{energy, h, std::vector<uint8_t>(x, x + p.n())});
            return beaten;
        }
        size_t near = 0;
        uint64_t dmin = UINT64_MAX;
        for (size_t k = 0; k < pool.size(); ++k) {
            const uint64_t d = distance(pool[k].x.data(), x);
            if (d < dmin) {
                dmin = d;
                near = k;
            }
        }
        const uint64_t close =
            static_cast<uint64_t>(tuning.close_share * static_cast<double>(p.n()));
        Elite* slot = &pool[near];
        if (dmin > close && !near_only) {
            slot = &*std::max_element(pool.begin(), pool.end(), [](const Elite& a, const Elite& b) {
                return a.energy < b.energy;
            });
        }
        if (slot->energy <= energy) return 0.0;
        *slot = Elite{energy, h, std::vector<uint8_t>(x, x + p.n())};
        return beaten;
    }

    // Two distinct pool entries, the second as near to the first as it or its complement is
    // on a complement-symmetric Model; false when the pool has fewer than two.
    bool pair(Rng& rng, std::vector<uint8_t>& from, std::vector<uint8_t>& to) {
        std::lock_guard<std::mutex> g(lock);
        if (pool.size() < 2) return false;
        const size_t a = rng.below(pool.size());
        size_t b = rng.below(pool.size() - 1);
        if (b >= a) ++b;
        from = pool[a].x;
        to = pool[b].x;
        if (complement_symmetric && distance_raw(from.data(), to.data()) * 2 > to.size()) {
            for (uint8_t& v : to) v ^= 1;
        }
        return true;
    }

    // Copies a pool entry (the better of two random ones) into x; false when the pool is empty.
    bool pick_elite(Rng& rng, std::vector<uint8_t>& x, int64_t* energy = nullptr) {
        std::lock_guard<std::mutex> g(lock);
        if (pool.empty()) return false;
        const size_t a = rng.below(pool.size()), b = rng.below(pool.size());
        const Elite& e = pool[pool[a].energy <= pool[b].energy ? a : b];
        x = e.x;
        if (energy != nullptr) *energy = e.energy;
        return true;
    }

    // Uniform crossover of two distinct pool entries: shared values kept, the others drawn.
    bool cross(Rng& rng, std::vector<uint8_t>& x) {
        std::lock_guard<std::mutex> g(lock);
        if (pool.size() < 2) return false;
        const size_t a = rng.below(pool.size());
        size_t b = rng.below(pool.size() - 1);
        if (b >= a) ++b;
        const std::vector<uint8_t>& xa = pool[a].x;
        const std::vector<uint8_t>& xb = pool[b].x;
        x.resize(xa.size());
        // Complement-symmetric Models: cross with whichever of b and its complement is nearer.
        const uint8_t inv =
            complement_symmetric && distance_raw(xa.data(), xb.data()) * 2 > xa.size() ? 1 : 0;
        for (size_t i = 0; i < xa.size(); ++i) {
            const uint8_t vb = xb[i] ^ inv;
            x[i] = xa[i] == vb ? xa[i] : (rng() & 1);
        }
        return true;
    }
};

class Worker final : public Sink {
  public:
    Worker(Shared& sh, uint32_t index)
        : sh_(sh),
          p_(sh.p),
          n_(sh.p.n()),
          index_(index),
          rng_(sh.o.seed * 0x2545F4914F6CDD1Dull + index),
          st_(sh.p),
          tabu_(sh.p.n(), INT64_MIN),
          moves_index_(sh.p.n()),
          x_(sh.p.n(), 0),
          phase_best_(sh.p.n(), 0) {}

    void run(const uint64_t* hint) {
        if (n_ == 0) {
            sh_.offer_best(x_.data(), p_.base);
            return;
        }
        const bool hinted = hint != nullptr && index_ == 0;
        if (hinted) {
            for (uint32_t i = 0; i < n_; ++i) x_[i] = (hint[i >> 6] >> (i & 63)) & 1;
        }
        if (sh_.groups) {
            const GroupSearchCounts c =
                group_search(p_, *sh_.groups, rng_, *this, hinted ? x_.data() : nullptr);
            sh_.flips += c.applied;
            sh_.moves += c.proposed;
            sh_.restarts += c.runs;
            if (!c.weak) return;
            sh_.weak_groups = true;
        }
        if (!hinted) {
            for (uint32_t i = 0; i < n_; ++i) x_[i] = rng_() & 1;
        }
        st_.assign(x_.data());
        descend();
        publish(st_.energy());
        const Tuning& t = sh_.tuning;
        tenure_base_ = static_cast<uint64_t>(static_cast<double>(n_) / t.tenure_div);
        tenure_rand_ = std::max<uint64_t>(1, static_cast<uint64_t>(t.tenure_rand));
        // Small Models: never more than about a quarter of the variables tabu.
        if (tenure_base_ + tenure_rand_ > n_ / 4 + 1) {
            tenure_base_ = 0;
            tenure_rand_ = n_ / 4 + 1;
        }
        expiry_.resize(tenure_base_ + tenure_rand_ + 2);
        episodes();
        sh_.flips += flips_;
        sh_.moves += moves_;
        sh_.restarts += restarts_;
    }

  private:
    // First-improvement sweeps until no single flip improves.
    void descend() {
        const int64_t* d = st_.delta();
        for (bool improved = true; improved;) {
            improved = false;
            for (uint32_t i = 0; i < n_; ++i) {
                if (d[i] < 0) {
                    st_.flip(i);
                    ++flips_;
                    improved = true;
                }
            }
            moves_ += n_;
        }
    }

    // The temperature at which a move from the current state (a local minimum) is accepted
    // with the given mean probability.
    double temperature_for(double acceptance) const {
        std::vector<double> pos;
        const int64_t* d = st_.delta();
        for (uint32_t i = 0; i < n_; ++i) {
            if (d[i] > 0) pos.push_back(static_cast<double>(d[i]));
        }
        return acceptance_temperature(pos, static_cast<double>(n_), acceptance);
    }

    // One Metropolis sweep over the variables in order at temperature temp. False when the
    // target was reached (the state is then saved). The generator and the counters live in
    // locals so that they stay in registers across the flips.
    template <class S>
    bool sweep(S& st, double temp) {
        const bool target = sh_.o.has_target;
        const int64_t goal = sh_.o.target;
        constexpr int kTable = 64;
        uint32_t accept[kTable + 1];
        // Changes above `cut` pass with probability below 2^-32: never.
        const double cutf = temp * 22.18;
        const int64_t cut = cutf > 9e18 ? INT64_MAX : static_cast<int64_t>(cutf);
        const int top = static_cast<int>(std::min<int64_t>(cut, kTable));
        for (int k = 1; k <= top; ++k)
            accept[k] =
                static_cast<uint32_t>(std::min(4294967295.0, std::exp(-k / temp) * 4294967296.0));
        FastRng rng(rng_());
        uint64_t flips = 0;
        bool reached = false;
        for (uint32_t j = 0; j < n_; ++j) {
            const int64_t dj = st.delta_at(j);
            if (dj > 0) {
                if (dj > cut) continue;
                const uint32_t r = static_cast<uint32_t>(rng());
                if (dj <= kTable) {
                    if (r >= accept[dj]) continue;
                } else if (static_cast<double>(dj) >= temp * nlog_[r >> 20]) {
                    continue;
                }
            }
            st.flip(j);
            ++flips;
            if (target && st.energy() <= goal) {
                reached = true;
                break;
            }
        }
        flips_ += flips;
        if (reached) {
            std::copy(st.x(), st.x() + n_, phase_best_.begin());
            sh_.offer_best(st.x(), st.energy());
            return false;
        }
        moves_ += n_;
        visits_ += n_;
        return true;
    }

    // One annealing run from the current state, temperatures geometric from hot to cold; the
    // run's best state ends in phase_best_. False when the search must stop.
    bool anneal(double hot, double cold, uint64_t sweeps) {
        phase_best_energy_ = st_.energy();
        std::copy(st_.x(), st_.x() + n_, phase_best_.begin());
        for (uint64_t sw = 0; sw < sweeps; ++sw) {
            if (sh_.should_stop()) return false;
            const double temp =
                sweeps < 2 ? cold
                           : hot * std::pow(cold / hot, static_cast<double>(sw) /
                                                            static_cast<double>(sweeps - 1));
            if (!sweep(st_, temp)) return false;
            const int64_t e = st_.energy();
            if (e < phase_best_energy_) {
                phase_best_energy_ = e;
                std::copy(st_.x(), st_.x() + n_, phase_best_.begin());
                if (e < sh_.best_energy.load(std::memory_order_relaxed)) publish(e);
            }
        }
        return true;
    }

    // Episodes until the search stops, each an annealing run or a stretch of breakout local
    // search as the portfolio draws them; the first from the start state.
    void episodes() {
        for (int k = 0; k < 4096; ++k) nlog_[k] = -std::log((k + 0.5) / 4096.0);
        t_cold_ = temperature_for(sh_.tuning.cold);
        t_hot_ = temperature_for(sh_.tuning.hot);
        double per_flip =
            static_cast<double>(p_.adj.size() + p_.var_prod.size() + p_.var_mem.size());
        per_flip = 1.0 + per_flip / static_cast<double>(n_);
        const bool both = sh_.o.annealing && sh_.o.breakout;
        // With both kinds, threads start alternately with one and the other.
        kind_ = both ? (index_ % 2 == 0 ? Kind::kAnnealing : Kind::kBreakout)
                     : (sh_.o.annealing ? Kind::kAnnealing : Kind::kBreakout);
        if (sh_.o.breakout) breakout_ = make_breakout(p_, st_, rng_, *this);
        if (const int64_t range = bucket_range(p_))
            buckets_ = std::make_unique<BucketIndex>(n_, range);
        for (bool first = true;; first = false) {
            if (!first) {
                ++restarts_;
                std::lock_guard<std::mutex> g(sh_.lock);
                kind_ = sh_.portfolio.choose(rng_.unit());
            }
            const Clock::time_point t0 = Clock::now();
            const uint64_t flips0 = flips_, visits0 = visits_;
            const int64_t best0 = sh_.best_energy.load(std::memory_order_relaxed);
            const bool go =
                kind_ == Kind::kAnnealing ? anneal_episode(first) : breakout_episode(first);
            if (!go) return;
            const std::vector<uint8_t>& x =
                kind_ == Kind::kAnnealing ? phase_best_ : breakout_->best();
            const int64_t e =
                kind_ == Kind::kAnnealing ? phase_best_energy_ : breakout_->best_energy();
            // A new best counts most, then a newcomer near the top of the pool.
            double reward = sh_.offer_elite(x.data(), e, kind_ == Kind::kBreakout);
            if (e < best0) reward += 1.0;
            const double work = static_cast<double>(flips_ - flips0) * per_flip *
                                    (kind_ == Kind::kAnnealing ? 1.5 : 3.0) +
                                static_cast<double>(visits_ - visits0);
            std::lock_guard<std::mutex> g(sh_.lock);
            sh_.portfolio.report(kind_, reward, work, seconds_since(t0));
            last_ = kind_;
        }
    }

    // One annealing run: the first from the start state, later ones from a random state or
    // from elite states, each but the first polished by tabu search. False when the search
    // must stop.
    bool anneal_episode(bool first) {
        const Tuning& t = sh_.tuning;
        const double hot = t_hot_, cold = t_cold_;
        const uint64_t sweeps = static_cast<uint64_t>(t.sweeps);
        if (first) return anneal(hot, cold, sweeps);
        const double r = rng_.unit();
        if (r < t.p_random) {
            for (uint32_t i = 0; i < n_; ++i) x_[i] = rng_() & 1;
            move_to(x_);
            if (!anneal(hot, cold, sweeps)) return false;
        } else {
            if (r < t.p_random + t.p_cross) {
                if (!sh_.cross(rng_, x_)) sh_.pick_elite(rng_, x_);
            } else if (!sh_.pick_elite(rng_, x_)) {
                x_ = phase_best_;
            }
            move_to(x_);
            if (!anneal(hot * t.reheat, cold,
                        std::max<uint64_t>(
                            2, static_cast<uint64_t>(t.resweeps * static_cast<double>(sweeps)))))
                return false;
        }
        if (t.polish > 0) {
            move_to(phase_best_);
            if (!phase(static_cast<uint64_t>(t.polish * n_))) return false;
        }
        return true;
    }

    // A stretch of breakout local search: on from where the last one stopped while it keeps
    // improving, else from the path between two elite states or from an elite state (random
    // starts are left to annealing, which makes more of them). False when the search must stop.
    bool breakout_episode(bool first) {
        Breakout& b = *breakout_;
        const bool resume = !first && last_ == Kind::kBreakout && b.improved();
        if (!first && !resume) {
            const double r = rng_.unit();
            if (r < 0.6 && sh_.pair(rng_, x_, guide_)) {
                move_to(x_);
                relink(st_, guide_.data(), rng_);
            } else if (sh_.pick_elite(rng_, x_)) {
                move_to(x_);
            } else {
                for (uint32_t i = 0; i < n_; ++i) x_[i] = rng_() & 1;
                move_to(x_);
            }
        }
        if (!resume) b.restart();
        const uint64_t before = b.flips();
        const bool go = b.run(static_cast<uint64_t>(sh_.tuning.breakout * n_));
        flips_ += b.flips() - before;
        moves_ += b.flips() - before;
        return go;
    }

    bool stop() override { return sh_.should_stop(); }
    bool lists() override { return sh_.keeper.active(); }

    int64_t bar() override {
        const int64_t best = sh_.best_energy.load(std::memory_order_relaxed);
        int64_t b = best == INT64_MIN ? best : best - 1;
        if (sh_.keeper.active())
            b = std::max(b, sh_.list_threshold.load(std::memory_order_relaxed));
        return b;
    }

    void offer(const uint8_t* x, int64_t e) override {
        if (e < sh_.best_energy.load(std::memory_order_relaxed)) sh_.offer_best(x, e, kind_);
        if (sh_.keeper.active() && e <= sh_.list_threshold.load(std::memory_order_relaxed))
            sh_.offer_list(x, e);
    }

    // Offers the current state as a new best when it is one; true when it reached the target.
    void publish(int64_t e) {
        if (e < sh_.best_energy.load(std::memory_order_relaxed)) sh_.offer_best(st_.x(), e, kind_);
        if (sh_.keeper.active() && e <= sh_.list_threshold.load(std::memory_order_relaxed))
            sh_.offer_list(st_.x(), e);
    }

    // Offers the 1-flip neighbours that can enter the solution list.
    void offer_neighbours() {
        const int64_t limit = sh_.list_threshold.load(std::memory_order_relaxed);
        const int64_t* d = st_.delta();
        const int64_t e = st_.energy();
        for (uint32_t j = 0; j < n_; ++j) {
            if (wrap_add(e, d[j]) > limit) continue;
            std::vector<uint8_t> y(st_.x(), st_.x() + n_);
            y[j] ^= 1;
            sh_.offer_list(y.data(), wrap_add(e, d[j]));
        }
    }

    // One tabu phase from the current state, on gain buckets where they apply; false when the
    // search must stop.
    bool phase(uint64_t limit) {
        return buckets_ ? phase_on(limit, *buckets_) : phase_on(limit, moves_index_);
    }

    template <class Index>
    bool phase_on(uint64_t limit, Index& moves_index) {
        phase_best_energy_ = st_.energy();
        std::copy(st_.x(), st_.x() + n_, phase_best_.begin());
        bool dirty = false;
        uint64_t stall = 0;
        const int64_t* d = st_.delta();
        const bool lists = sh_.keeper.active();
        moves_index.reset(d);
        for (auto& b : expiry_) b.clear();
        const uint64_t slots = expiry_.size();
        auto changed = [&moves_index](uint32_t j, int64_t before, int64_t after) {
            moves_index.changed(j, before, after);
        };
        while (stall < limit) {
            if ((iter_ & 255) == 0 && sh_.should_stop()) {
                if (dirty) save();
                return false;
            }
            std::vector<uint32_t>& due = expiry_[static_cast<uint64_t>(iter_) % slots];
            for (uint32_t v : due) {
                if (tabu_[v] == iter_) moves_index.release(v);
            }
            due.clear();
            const int64_t asp = wrap_sub(phase_best_energy_, st_.energy());
            int64_t dmin = 0;
            uint32_t j = moves_index.select(asp, rng_, dmin);
            moves_ += n_;
            if (j == n_) j = static_cast<uint32_t>(rng_.below(n_));
            if (lists) offer_neighbours();
            if (dirty && d[j] >= 0) {
                save();
                dirty = false;
            }
            const int64_t dj = d[j];
            st_.flip(j, changed);
            moves_index.flipped_tabu(j, dj, d[j]);
            ++flips_;
            const uint64_t tenure = tenure_base_ + 1 + rng_.below(tenure_rand_);
            tabu_[j] = iter_ + static_cast<int64_t>(tenure);
            expiry_[(static_cast<uint64_t>(iter_) + tenure) % slots].push_back(j);
            ++iter_;
            const int64_t e = st_.energy();
            if (lists && e <= sh_.list_threshold.load(std::memory_order_relaxed))
                sh_.offer_list(st_.x(), e);
            if (e < phase_best_energy_) {
                phase_best_energy_ = e;
                dirty = true;
                stall = 0;
                if (sh_.o.has_target && e <= sh_.o.target) {
                    save();
                    return false;
                }
            } else {
                ++stall;
            }
        }
        if (dirty) save();
        return true;
    }

    // Keeps the current state as the phase best and offers it.
    void save() {
        std::copy(st_.x(), st_.x() + n_, phase_best_.begin());
        publish(st_.energy());
    }

    // Flips the differing variables, or rebuilds when most differ.
    void move_to(const std::vector<uint8_t>& x) {
        const uint8_t* cur = st_.x();
        uint64_t diff = 0;
        for (uint32_t i = 0; i < n_; ++i) diff += cur[i] != x[i];
        if (diff * 4 > n_) {
            st_.assign(x.data());
            return;
        }
        for (uint32_t i = 0; i < n_; ++i) {
            if (cur[i] != x[i]) st_.flip(i);
        }
    }

    Shared& sh_;
    const Problem& p_;
    uint32_t n_;
    uint32_t index_;
    Rng rng_;
    State st_;
    std::vector<int64_t> tabu_;
    MoveIndex moves_index_;
    std::unique_ptr<BucketIndex> buckets_;
    std::vector<std::vector<uint32_t>> expiry_;  // variables leaving the tabu list, by move
    std::vector<uint8_t> x_;
    std::vector<uint8_t> phase_best_;
    int64_t phase_best_energy_ = 0;
    double t_cold_ = 1.0, t_hot_ = 1.0;
    double nlog_[4096];
    int64_t iter_ = 0;
    uint64_t tenure_base_ = 0;
    uint64_t tenure_rand_ = 1;
    uint64_t flips_ = 0, moves_ = 0, restarts_ = 0;
    uint64_t visits_ = 0;  // variables looked at by annealing sweeps
    std::unique_ptr<Breakout> breakout_;
    std::vector<uint8_t> guide_;
    Kind kind_ = Kind::kAnnealing;  // of the episode running
    Kind last_ = Kind::kAnnealing;  // of the last one finished
};

}  // namespace

Outcome search(const Problem& p, const Options& o, const uint64_t* hint, ProgressCallback cb) {
    Shared sh(p, o, cb);
    const uint32_t threads = std::max(1u, o.threads);
    if (sh.keeper.active() && p.n() > 0 && p.n() <= kEnumerateBits) {
        // Solution lists of a small Model are exact: every state, in Gray-code order.
        State st(p);
        std::vector<uint8_t> x(p.n(), 0);
        st.assign(x.data());
        for (uint64_t k = 0;; ++k) {
            const int64_t e = st.energy();
            if (e < sh.best_energy.load(std::memory_order_relaxed)) {
                sh.offer_best(st.x(), e);
            } else if (e <= sh.list_threshold.load(std::memory_order_relaxed)) {
                sh.offer_list(st.x(), e);
            }
            if (k + 1 == (uint64_t{1} << p.n())) break;
            st.flip(static_cast<uint32_t>(__builtin_ctzll(k + 1)));
        }
        sh.flips += (uint64_t{1} << p.n()) - 1;
        sh.moves += uint64_t{1} << p.n();
    } else if (threads == 1) {
        if (o.annealing && o.breakout) sh.groups = find_groups(p);
        Worker(sh, 0).run(hint);
    } else {
        if (o.annealing && o.breakout) sh.groups = find_groups(p);
        std::vector<std::thread> pool;
        pool.reserve(threads);
        for (uint32_t w = 0; w < threads; ++w)
            pool.emplace_back([&sh, w, hint] { Worker(sh, w).run(hint); });
        for (std::thread& t : pool) t.join();
    }
    Outcome out;
    out.best = std::move(sh.best);
    out.best.energy = p.energy(out.best.x.data());
    if (sh.keeper.active()) {
        out.has_list = true;
        out.list = sh.keeper.take();
        for (Found& f : out.list) f.energy = p.energy(f.x.data());
        std::stable_sort(out.list.begin(), out.list.end(),
                         [](const Found& a, const Found& b) { return a.energy < b.energy; });
    }
    out.info.emplace_back("threads", std::to_string(threads));
    out.info.emplace_back("flips", std::to_string(sh.flips.load()));
    out.info.emplace_back("restarts", std::to_string(sh.restarts.load()));
    out.info.emplace_back("seed", std::to_string(o.seed));
    out.info.emplace_back("moves_evaluated", std::to_string(sh.moves.load()));
    const bool grouped = sh.groups && !sh.weak_groups;
    out.info.emplace_back(
        "algorithm", grouped ? "annealing over moves that keep the one-hot groups"
                             : "portfolio of annealing and breakout local search + elite pool");
    if (sh.groups) {
        out.info.emplace_back("one_hot_groups", std::to_string(sh.groups->count));
        out.info.emplace_back("group_moves", !grouped              ? "none (weights too weak)"
                                             : sh.groups->side > 0 ? "exchange"
                                                                   : "swap");
        out.info.emplace_back("one_hot_weight_declared",
                              std::to_string(sh.groups->weight_declared));
        out.info.emplace_back("one_hot_weight_floor", std::to_string(sh.groups->weight_floor));
        out.info.emplace_back("one_hot_weights", sh.groups->weights_hold ? "hold" : "too weak");
    }
    out.info.emplace_back("best_found_by",
                          sh.keeper.active() && p.n() > 0 && p.n() <= kEnumerateBits
                              ? "enumeration"
                              : kind_name(sh.best_kind));
    for (Kind k : {Kind::kAnnealing, Kind::kBreakout}) {
        char share[32];
        std::snprintf(share, sizeof share, "%.3f", sh.portfolio.time_share(k));
        out.info.emplace_back(std::string("cpu_share_") + kind_name(k), share);
    }
    return out;
}

}  // namespace brisk

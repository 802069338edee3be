#include "search.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "common/stop.hpp"
#include "groups.hpp"
#include "rng.hpp"

namespace kelp {

namespace {

using plugin_common::Ended;

double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

struct Shared {
    const Model& m;
    const Options& o;
    Hint& hint;
    const Groups* groups;  // null: the search runs over every state
    std::atomic<bool> weak{false};
    std::mutex mutex;
    int64_t best_energy = 0;
    std::vector<int64_t> best;
    double best_time = 0.0;
    bool has_best = false;
    std::atomic<int64_t> bar{INT64_MAX};  // energies at or above it are no news
    std::atomic<uint64_t> version{0};
    std::atomic<bool> done{false};
    std::atomic<uint64_t> sweeps{0}, moves{0};
    std::atomic<uint32_t> running{0};

    Shared(const Model& model, const Options& opts, Hint& h, const Groups* g)
        : m(model), o(opts), hint(h), groups(g) {}

    void offer(const Replica& r) {
        keep(r);
        if (r.e >= bar.load(std::memory_order_relaxed) && has_best_relaxed()) return;
        std::lock_guard<std::mutex> lock(mutex);
        if (has_best && r.e >= best_energy) return;
        best_energy = r.e;
        best = r.v;
        best_time = since(o.start);
        has_best = true;
        bar.store(r.e, std::memory_order_relaxed);
        version.fetch_add(1, std::memory_order_release);
        if (o.has_target && r.e <= o.target) done.store(true, std::memory_order_relaxed);
    }
    bool has_best_relaxed() const { return version.load(std::memory_order_relaxed) > 0; }

    // The list of the search's best states: distinct states ordered by energy, cut to k (top-k)
    // or to those at the lowest energy (best-energy lists).
    std::mutex list_mutex;
    std::set<std::pair<int64_t, std::vector<int64_t>>> list;
    std::atomic<int64_t> list_bar{INT64_MAX};  // states above it cannot enter

    void keep(const Replica& r) {
        if (o.topk == 0 && !o.best_energy_sols) return;
        if (r.e > list_bar.load(std::memory_order_relaxed)) return;
        std::lock_guard<std::mutex> lock(list_mutex);
        if (o.best_energy_sols) {
            if (!list.empty() && r.e > list.begin()->first) return;
            if (!list.empty() && r.e < list.begin()->first) list.clear();
            if (o.best_energy_limit > 0 && list.size() >= o.best_energy_limit) return;
            list.emplace(r.e, r.v);
            list_bar.store(r.e, std::memory_order_relaxed);
            return;
        }
        list.emplace(r.e, r.v);
        if (list.size() > o.topk) list.erase(std::prev(list.end()));
        if (list.size() == o.topk) list_bar.store(std::prev(list.end())->first);
    }
};

class Worker {
  public:
    Worker(Shared& sh, uint32_t index)
        : sh_(sh),
          m_(sh.m),
          rng_(sh.o.seed ^ (0xD1B54A32D192ED03ull * (index + 1))),
          index_(index),
          reps_(std::max<uint32_t>(2, sh.o.replicas)),
          beta_(reps_.size(), 1.0) {}

    void run(const std::vector<int64_t>* start) {
        if (sh_.groups != nullptr && !sh_.weak.load() && run_groups(start)) return;
        const uint64_t n = m_.size();
        for (Replica& r : reps_) {
            r.v.resize(n);
            for (uint64_t p = 0; p < n; ++p) r.v[p] = random_value(p);
            rebuild(r);
        }
        if (start != nullptr) set_state(reps_.back(), *start);
        for (const Replica& r : reps_) sh_.offer(r);
        if (n == 0) return;
        calibrate();
        uint64_t stall = 0;
        int64_t my_best = reps_.back().e;
        std::vector<int64_t> taken;
        while (!sh_.done.load(std::memory_order_relaxed)) {
            if (sh_.hint.pending() && sh_.hint.take(taken)) set_state(reps_.back(), taken);
            for (size_t r = 0; r < reps_.size(); ++r) {
                if (sweep(reps_[r], beta_[r]) == Ended::cut_short) return;
            }
            sh_.sweeps.fetch_add(reps_.size(), std::memory_order_relaxed);
            bool improved = false;
            for (const Replica& r : reps_) {
                if (r.e < my_best) {
                    my_best = r.e;
                    improved = true;
                }
                sh_.offer(r);
            }
            exchange();
            stall = improved ? 0 : stall + 1;
            if (stall > 64) {
                reseed();
                stall = 0;
            }
        }
    }

  private:
    // Replica exchange over states that keep the one-hot groups. False when the ladder's first
    // stall finds its best state improvable by one flip: the weights do not hold the groups at
    // the minimum, and the search goes on over every state.
    bool run_groups(const std::vector<int64_t>* start) {
        const Groups& g = *sh_.groups;
        for (Replica& r : reps_) place_random(m_, g, rng_, r);
        if (start != nullptr) take_start(reps_.back(), *start);
        for (const Replica& r : reps_) sh_.offer(r);
        const uint64_t hood = g.neighbourhood();
        Replica mine =
            *std::min_element(reps_.begin(), reps_.end(),
                              [](const Replica& a, const Replica& b) { return a.e < b.e; });
        if (hood == 0) return !weaken(mine);
        calibrate_groups(g);
        uint64_t stall = 0;
        bool checked = false;
        std::vector<int64_t> taken;
        while (!sh_.done.load(std::memory_order_relaxed)) {
            if (sh_.hint.pending() && sh_.hint.take(taken)) take_start(reps_.back(), taken);
            for (size_t k = 0; k < reps_.size(); ++k) {
                if (sweep_groups(g, reps_[k], beta_[k], hood) == Ended::cut_short) return true;
            }
            sh_.sweeps.fetch_add(reps_.size(), std::memory_order_relaxed);
            bool improved = false;
            for (const Replica& r : reps_) {
                if (r.e < mine.e) {
                    mine = r;
                    improved = true;
                }
                sh_.offer(r);
            }
            exchange();
            stall = improved ? 0 : stall + 1;
            if (stall > 64) {
                if (!checked && weaken(mine)) return false;
                checked = true;
                place_random(m_, g, rng_, reps_.front());
                stall = 0;
            }
        }
        return true;
    }

    bool weaken(const Replica& r) {
        if (!improvable(m_, r)) return false;
        sh_.weak.store(true);
        return true;
    }

    // A start or hint that breaks a group is left to the search over every state.
    void take_start(Replica& r, const std::vector<int64_t>& values) {
        Replica t = r;
        for (uint64_t p = 0; p < t.v.size() && p < values.size(); ++p) t.v[p] = values[p];
        if (place(m_, *sh_.groups, t)) r = std::move(t);
    }

    Ended sweep_groups(const Groups& g, Replica& r, double beta, uint64_t hood) {
        const double cut = 40.0 / beta;
        for (uint64_t k = 0; k < hood; ++k) {
            if ((k & 1023) == 1023 && sh_.done.load(std::memory_order_relaxed))
                return Ended::cut_short;
            const GroupMove mv = draw(g, r, rng_);
            if (mv.delta > 0 && (static_cast<double>(mv.delta) > cut ||
                                 rng_.unit() >= std::exp(-beta * static_cast<double>(mv.delta))))
                continue;
            kelp::apply(g, r, mv);
            note(r);
        }
        sh_.moves.fetch_add(hood, std::memory_order_relaxed);
        return Ended::in_full;
    }

    void calibrate_groups(const Groups& g) {
        std::vector<double> ups;
        for (int s = 0; s < 4096; ++s) {
            const GroupMove mv = draw(g, reps_.front(), rng_);
            if (mv.kind != 0 && mv.delta != 0)
                ups.push_back(std::fabs(static_cast<double>(mv.delta)));
        }
        set_ladder(ups);
    }

    int64_t random_value(uint64_t p) {
        const int64_t lo = m_.lo(p), hi = m_.hi(p);
        const uint64_t span = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo);
        const uint64_t r = span == UINT64_MAX ? rng_() : rng_.below(span + 1);
        return static_cast<int64_t>(static_cast<uint64_t>(lo) + r);
    }

    // A new value for p: the other bit, or mostly a step of one for integers.
    int64_t propose(uint64_t p, int64_t now) {
        const int64_t lo = m_.lo(p), hi = m_.hi(p);
        if (lo == hi) return now;
        if (p < m_.nbin()) return 1 - now;
        if (rng_.below(8) == 0) return random_value(p);
        if (now <= lo) return lo + 1;
        if (now >= hi) return hi - 1;
        return (rng_() & 1) ? now + 1 : now - 1;
    }

    void rebuild(Replica& r) {
        r.body.assign(m_.constraint_count(), 0);
        r.e = m_.energy(r.v.data(), r.body.data());
        if (!m_.quadratic()) return;
        r.field.assign(m_.size(), 0);
        for (uint64_t p = 0; p < m_.size(); ++p) {
            int64_t f = m_.lin(p);
            for (auto* a = m_.adj_begin(p); a != m_.adj_end(p); ++a)
                f = wrap_add(f, wrap_mul(a->second, r.v[a->first]));
            r.field[p] = f;
        }
    }

    // The quadratic form keeps every variable's field, so a proposal costs one lookup and
    // only an accepted flip touches the neighbours.
    Ended sweep_quadratic(Replica& r, double beta) {
        const uint64_t n = m_.size();
        const double cut = 40.0 / beta;  // changes above it are never accepted in practice
        for (uint64_t k = 0; k < n; ++k) {
            if ((k & 1023) == 1023 && sh_.done.load(std::memory_order_relaxed))
                return Ended::cut_short;
            const uint64_t p = k;
            const int64_t step = 1 - 2 * r.v[p];
            const int64_t d = wrap_mul(step, r.field[p]);
            if (d > 0 && (static_cast<double>(d) > cut ||
                          rng_.unit() >= std::exp(-beta * static_cast<double>(d))))
                continue;
            r.v[p] += step;
            r.e = wrap_add(r.e, d);
            for (auto* a = m_.adj_begin(p); a != m_.adj_end(p); ++a)
                r.field[a->first] = wrap_add(r.field[a->first], wrap_mul(a->second, step));
            note(r);
        }
        sh_.moves.fetch_add(n, std::memory_order_relaxed);
        return Ended::in_full;
    }

    // Lists see every state a move reaches, not only the replicas at the end of a sweep: on a
    // loaded machine a short run may finish few sweeps.
    void note(const Replica& r) {
        if (listing_ && r.e <= sh_.list_bar.load(std::memory_order_relaxed)) sh_.keep(r);
    }

    void set_state(Replica& r, const std::vector<int64_t>& values) {
        for (uint64_t p = 0; p < r.v.size() && p < values.size(); ++p)
            r.v[p] = std::clamp(values[p], m_.lo(p), m_.hi(p));
        rebuild(r);
    }

    void apply(Replica& r, uint64_t p, int64_t to, int64_t d) {
        for (const auto& [c, bc] : changes_) r.body[c] = wrap_add(r.body[c], bc);
        r.v[p] = to;
        r.e = wrap_add(r.e, d);
    }

    // n Metropolis moves at beta, cut short when the search must end.
    Ended sweep(Replica& r, double beta) {
        if (m_.quadratic()) return sweep_quadratic(r, beta);
        const uint64_t n = m_.size();
        for (uint64_t k = 0; k < n; ++k) {
            if ((k & 255) == 255 && sh_.done.load(std::memory_order_relaxed))
                return Ended::cut_short;
            const uint64_t p = rng_.below(n);
            const int64_t to = propose(p, r.v[p]);
            if (to == r.v[p]) continue;
            changes_.clear();
            const int64_t d = m_.change(r.v.data(), r.body.data(), p, to, &changes_);
            if (d <= 0 || rng_.unit() < std::exp(-beta * static_cast<double>(d))) {
                apply(r, p, to, d);
                note(r);
            }
        }
        sh_.moves.fetch_add(n, std::memory_order_relaxed);
        return Ended::in_full;
    }

    // Temperatures from the energy changes of random moves: the hottest replica accepts a
    // typical uphill move half the time, the coldest the smallest one about once in a hundred.
    void calibrate() {
        Replica& r = reps_.front();
        std::vector<double> ups;
        const uint64_t samples = std::min<uint64_t>(4096, 16 * m_.size());
        for (uint64_t s = 0; s < samples; ++s) {
            const uint64_t p = rng_.below(m_.size());
            const int64_t to = propose(p, r.v[p]);
            if (to == r.v[p]) continue;
            const int64_t d = m_.change(r.v.data(), r.body.data(), p, to, nullptr);
            if (d != 0) ups.push_back(std::fabs(static_cast<double>(d)));
        }
        set_ladder(ups);
    }

    void set_ladder(std::vector<double>& ups) {
        if (ups.empty()) return;
        std::sort(ups.begin(), ups.end());
        const double hot = std::log(16.0) / ups[ups.size() / 2];
        const double cold = std::max(std::log(1000.0) / ups.front(), hot * 4.0);
        const size_t k = beta_.size();
        for (size_t i = 0; i < k; ++i)
            beta_[i] =
                hot * std::pow(cold / hot, static_cast<double>(i) / static_cast<double>(k - 1));
    }

    // Neighbouring temperatures swap states with the replica-exchange probability.
    void exchange() {
        for (size_t i = 0; i + 1 < reps_.size(); ++i) {
            const double x = (beta_[i] - beta_[i + 1]) * (static_cast<double>(reps_[i].e) -
                                                          static_cast<double>(reps_[i + 1].e));
            if (x >= 0 || rng_.unit() < std::exp(x)) std::swap(reps_[i], reps_[i + 1]);
        }
    }

    // The hottest replica restarts from a uniform crossover of the best state and a random
    // replica, so a stalled ladder gets new material near good regions.
    void reseed() {
        std::vector<int64_t> best;
        {
            std::lock_guard<std::mutex> lock(sh_.mutex);
            best = sh_.best;
        }
        const Replica& other = reps_[rng_.below(reps_.size())];
        Replica& hot = reps_.front();
        for (uint64_t p = 0; p < hot.v.size(); ++p) {
            const uint64_t pick = rng_.below(4);
            hot.v[p] = pick == 0 ? random_value(p) : pick == 1 ? other.v[p] : best[p];
        }
        rebuild(hot);
        (void)index_;
    }

    Shared& sh_;
    const Model& m_;
    Rng rng_;
    uint32_t index_;
    std::vector<Replica> reps_;
    std::vector<double> beta_;
    std::vector<std::pair<uint32_t, int64_t>> changes_;
    const bool listing_ = sh_.o.topk > 0 || sh_.o.best_energy_sols;
};

}  // namespace

Outcome search(const Model& m, const Options& o, Hint& hint, const uint8_t* stop, Progress progress,
               void* progress_context) {
    const std::unique_ptr<Groups> groups = find_groups(m);
    Shared sh(m, o, hint, groups.get());
    std::vector<int64_t> start;
    const bool hinted = hint.take(start);
    std::vector<std::thread> pool;
    sh.running.store(o.threads);
    for (uint32_t t = 0; t < o.threads; ++t) {
        pool.emplace_back([&sh, &start, hinted, t] {
            {
                Worker w(sh, t);
                w.run(hinted && t == 0 ? &start : nullptr);
            }
            sh.running.fetch_sub(1);
        });
    }
    Outcome out;
    uint64_t seen = 0;
    double next_timer = o.timer_interval;
    std::vector<int64_t> snapshot;
    int64_t snapshot_energy = 0;
    // The snapshot and the version it belongs to, read together: a best found between reading
    // the version and taking the snapshot is then not reported twice.
    auto take_best = [&] {
        std::lock_guard<std::mutex> lock(sh.mutex);
        snapshot = sh.best;
        snapshot_energy = sh.best_energy;
        return sh.version.load(std::memory_order_relaxed);
    };
    // The calling thread watches the clock, the stop flag and the news, and reports.
    for (;;) {
        const bool ended = sh.done.load(std::memory_order_relaxed) || sh.running.load() == 0;
        if (stop != nullptr && __atomic_load_n(stop, __ATOMIC_ACQUIRE) != 0) out.stopped = true;
        const double now = since(o.start);
        const uint64_t v = sh.version.load(std::memory_order_acquire);
        if (v != seen && progress != nullptr) {
            seen = take_best();
            progress(progress_context, snapshot_energy, snapshot, 1, now);
        }
        if (now >= next_timer) {
            next_timer = now + o.timer_interval;
            if (progress != nullptr && sh.version.load() > 0) {
                // A best newer than the last one reported is announced before the timer repeats it.
                const uint64_t current = take_best();
                if (current != seen) {
                    seen = current;
                    progress(progress_context, snapshot_energy, snapshot, 1, now);
                }
                progress(progress_context, snapshot_energy, snapshot, 2, now);
            }
        }
        if (ended || out.stopped || now >= o.time_limit) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    sh.done.store(true);
    for (std::thread& t : pool) t.join();
    if (progress != nullptr && sh.version.load() != seen) {
        take_best();
        progress(progress_context, snapshot_energy, snapshot, 1, since(o.start));
    }
    out.energy = sh.best_energy;
    out.values = sh.best;
    out.tts = sh.best_time;
    out.sweeps = sh.sweeps.load();
    out.moves = sh.moves.load();
    out.list.assign(sh.list.begin(), sh.list.end());
    if (groups != nullptr) {
        out.groups = groups->count;
        out.group_moves = sh.weak.load()     ? "none (weights too weak)"
                          : groups->side > 0 ? "exchange"
                                             : "swap";
    }
    return out;
}

}  // namespace kelp

#include "search.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <mutex>
#include <thread>
#include <type_traits>

namespace sweep {

namespace {

using Clock = std::chrono::steady_clock;

// Steps between looks at the clock and the stop flag.
constexpr u64 kBlock = u64{1} << 12;
// A task enumerates at least 2^kMinInner states, so that its start-up cost is negligible.
constexpr uint32_t kMinInner = 12;

// What the workers share: the task counter, the stop flag and the best announced so far.
struct Shared {
    const Compiled& c;
    const SearchOptions& o;
    Clock::time_point start = Clock::now();
    uint32_t inner = 0;
    uint64_t tasks = 1;
    std::atomic<uint64_t> next{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> target_hit{false};
    std::atomic<int64_t> announced{INT64_MAX};
    std::mutex mu;

    Shared(const Compiled& compiled, const SearchOptions& opts) : c(compiled), o(opts) {}

    double seconds() const { return std::chrono::duration<double>(Clock::now() - start).count(); }

    bool time_up() {
        if (stop.load(std::memory_order_relaxed)) return true;
        if (o.time_limit > 0.0 && seconds() >= o.time_limit) {
            stop.store(true, std::memory_order_relaxed);
            return true;
        }
        return false;
    }

    // A worker's new best energy: reported when it beats every earlier report.
    void announce(int64_t e, u64 bits, double t) {
        if (o.has_target && e <= o.target) {
            target_hit.store(true, std::memory_order_relaxed);
            stop.store(true, std::memory_order_relaxed);
        }
        if (!o.print_progress && o.callback == nullptr) return;
        if (e >= announced.load(std::memory_order_relaxed)) return;
        std::lock_guard<std::mutex> lock(mu);
        if (e >= announced.load(std::memory_order_relaxed)) return;
        announced.store(e, std::memory_order_relaxed);
        if (o.print_progress) {
            std::printf("TTS = %.3fs Energy = %" PRId64 "\n", t, e);
            std::fflush(stdout);
        }
        if (o.callback != nullptr) o.callback(nullptr, &e, &bits, 1, t);
    }
};

// The best assignment a worker has seen, and when its energy was first reached.
struct Best {
    int64_t energy = INT64_MAX;
    u64 bits = ~u64{0};
    double tts = 0.0;

    void offer(Shared& sh, int64_t e, u64 bits_in, double now) {
        if (!before(e, bits_in, energy, bits)) return;
        if (e < energy) {
            tts = now;
            sh.announce(e, bits_in, now);
        }
        energy = e;
        bits = bits_in;
    }
};

// Sinks see every state whose energy is at most their threshold; take returns the new one.
struct BestSink {
    Best best;
    int64_t take(Shared& sh, int64_t e, u64 bits) {
        best.offer(sh, e, bits, e < best.energy ? sh.seconds() : 0.0);
        return best.energy;
    }
    int64_t threshold() const { return best.energy; }
};

inline bool heap_less(const Found& a, const Found& b) { return before(a, b); }

// The k best assignments in a max-heap.
struct TopkSink {
    Best best;
    uint64_t k;
    std::vector<Found> heap;
    explicit TopkSink(uint64_t keep) : k(keep) {}

    int64_t threshold() const { return heap.size() < k ? INT64_MAX : heap.front().energy; }
    int64_t take(Shared& sh, int64_t e, u64 bits) {
        if (heap.size() >= k && !before(e, bits, heap.front().energy, heap.front().bits))
            return threshold();
        const double now = sh.seconds();
        best.offer(sh, e, bits, now);
        if (heap.size() >= k) {
            std::pop_heap(heap.begin(), heap.end(), heap_less);
            heap.pop_back();
        }
        heap.push_back({e, bits, now});
        std::push_heap(heap.begin(), heap.end(), heap_less);
        return threshold();
    }
};

// Every assignment of the best energy, or the `limit` smallest of them (a max-heap by bits).
struct CollectSink {
    Best best;
    uint64_t limit;
    std::vector<Found> kept;
    explicit CollectSink(uint64_t cap) : limit(cap) {}

    static bool by_bits(const Found& a, const Found& b) { return a.bits < b.bits; }
    int64_t threshold() const { return best.energy; }
    int64_t take(Shared& sh, int64_t e, u64 bits) {
        if (e < best.energy) kept.clear();
        if (limit != 0 && kept.size() >= limit && bits > kept.front().bits) {
            best.offer(sh, e, bits, 0.0);
            return best.energy;
        }
        const double now = sh.seconds();
        best.offer(sh, e, bits, now);
        if (limit == 0) {
            kept.push_back({e, bits, now});
            return best.energy;
        }
        if (kept.size() >= limit) {
            std::pop_heap(kept.begin(), kept.end(), by_bits);
            kept.pop_back();
        }
        kept.push_back({e, bits, now});
        std::push_heap(kept.begin(), kept.end(), by_bits);
        return best.energy;
    }
};

// One worker's position in the enumeration: the assignment x over positions, its energy, the
// local fields of the quadratic part and the body values and penalties of the constraints.
// A flip of position i changes the energy by (1 - 2 x_i) * field_i plus the changes of the
// higher-order terms and constraints that hold i.
//
// Positions 0 and 1 make three flips in four: their couplings are left out of the fields of
// the other positions (a table adds them when such a field is read), so that their flips
// update no field but each other's.
template <bool kHigher, bool kCons>
class Walker {
  public:
    explicit Walker(const Compiled& c) : c_(c), body_(c.cons.size()), pen_(c.cons.size()) {}

    // Starts at assignment x, every cache from scratch.
    void reset(u64 x) {
        const Compiled& c = c_;
        x_ = x;
        u64 e = c.constant;
        for (uint32_t i = 0; i < c.n; ++i) {
            const u64 xi = (x >> i) & 1;
            u64 f = c.linear[i];
            for (uint32_t k = c.quad_head[i]; k < c.quad_head[i + 1]; ++k) {
                const Coupling& q = c.quad[k];
                const u64 xj = (x >> q.other) & 1;
                if (q.other >= kLow || i < kLow) f += q.coeff & (0 - xj);
                // Each coupling is listed from both ends: count it once.
                if (q.other > i) e += q.coeff & (0 - (xi & xj));
            }
            field_[i] = f;
            e += c.linear[i] & (0 - xi);
        }
        for (const MaskTerm& t : c.higher) e += term_value(t, x);
        for (size_t k = 0; k < c.cons.size(); ++k) {
            const CompiledCons& cc = c.cons[k];
            u64 b = static_cast<u64>(cc.constant);
            for (uint32_t j = cc.lin_begin; j < cc.lin_end; ++j)
                b += c.cons_lin_coeff[j] & (0 - ((x >> c.cons_lin_pos[j]) & 1));
            for (uint32_t j = cc.nl_begin; j < cc.nl_end; ++j) b += term_value(c.cons_nl[j], x);
            body_[k] = b;
            pen_[k] = static_cast<u64>(c.cons_penalty(cc, b));
            e += pen_[k];
        }
        e_ = e;
    }

    u64 x() const { return x_; }
    int64_t energy() const { return static_cast<int64_t>(e_); }

    // Gray-code steps a .. b - 1 (step s flips position countr_zero(s)), each state offered to
    // the sink when its energy reaches the sink's threshold.
    template <class Sink>
    void run(Shared& sh, Sink& sink, u64 a, u64 b) {
        const Compiled& c = c_;
        u64 x = x_, e = e_;
        u64* const field = field_;
        const uint32_t* const qh = c.quad_head.data();
        const Coupling* const quad = c.quad.data();
        const u64* const low = c.low_coupling.data();
        const u64 j01 = c.n >= 2 ? low[1 * kLowStates + 1] : 0;
        int64_t thr = sink.threshold();

        // kPos: the position when it is 0 or 1, else kLow (any other position, in i).
        auto flip = [&]<uint32_t kPos>(uint32_t i, std::integral_constant<uint32_t, kPos>)
            __attribute__((always_inline)) {
            if constexpr (kPos < kLow) i = kPos;
            const u64 bit = u64{1} << i;
            // All ones when x_i falls from 1 to 0: the changes below change sign.
            const u64 down = 0 - ((x >> i) & 1);
            u64 d;
            if constexpr (kPos < kLow) {
                d = (field[i] ^ down) - down;
                field[i ^ 1] += (j01 ^ down) - down;
            } else {
                d = ((field[i] + low[i * kLowStates + (x & (kLowStates - 1))]) ^ down) - down;
                const uint32_t end = qh[i + 1];
                for (uint32_t k = qh[i]; k < end; ++k)
                    field[quad[k].other] += (quad[k].coeff ^ down) - down;
            }
            if constexpr (kHigher) {
                const u64 y = x ^ bit;
                for (uint32_t k = c.higher_head[i]; k < c.higher_head[i + 1]; ++k)
                    d += term_value(c.higher_at[k], y) - term_value(c.higher_at[k], x);
            }
            if constexpr (kCons) {
                const u64 y = x ^ bit;
                for (uint32_t k = c.ref_head[i]; k < c.ref_head[i + 1]; ++k) {
                    const ConsRef& r = c.refs[k];
                    u64 db = (r.linear ^ down) - down;
                    for (uint32_t t = r.term_begin; t < r.term_end; ++t)
                        db += term_value(c.ref_terms[t], y) - term_value(c.ref_terms[t], x);
                    if (db == 0) continue;
                    const u64 nb = body_[r.cons] + db;
                    body_[r.cons] = nb;
                    const u64 p = c.cons_penalty_fast(c.cons[r.cons], nb);
                    d += p - pen_[r.cons];
                    pen_[r.cons] = p;
                }
            }
            x ^= bit;
            e += d;
            if (static_cast<int64_t>(e) <= thr) [[unlikely]]
                thr = sink.take(sh, static_cast<int64_t>(e), c.model_mask(x));
        };
        const std::integral_constant<uint32_t, 0> zero;
        const std::integral_constant<uint32_t, 1> one;
        const std::integral_constant<uint32_t, kLow> other;
        auto any = [&](u64 step) {
            const auto i = static_cast<uint32_t>(std::countr_zero(step));
            if (i == 0) {
                flip(i, zero);
            } else if (i == 1) {
                flip(i, one);
            } else {
                flip(i, other);
            }
        };

        // In four steps from a multiple of four the flips are: a bit scan's, 0, 1, 0.
        u64 s = a;
        for (; s < b && (s & 3) != 0; ++s) any(s);
        for (; s + 3 < b; s += 4) {
            flip(static_cast<uint32_t>(std::countr_zero(s)), other);
            flip(0, zero);
            flip(1, one);
            flip(0, zero);
        }
        for (; s < b; ++s) any(s);
        x_ = x;
        e_ = e;
    }

  private:
    const Compiled& c_;
    u64 x_ = 0, e_ = 0;
    u64 field_[kMaxVars] = {};
    std::vector<u64> body_, pen_;
};

// Takes tasks until none is left or time is up; returns the states it evaluated.
template <bool kHigher, bool kCons, class Sink>
uint64_t work(Shared& sh, Sink& sink) {
    Walker<kHigher, kCons> w(sh.c);
    const u64 steps = u64{1} << sh.inner;
    uint64_t states = 0;
    while (!sh.stop.load(std::memory_order_relaxed)) {
        const uint64_t t = sh.next.fetch_add(1, std::memory_order_relaxed);
        if (t >= sh.tasks) break;
        w.reset(t << sh.inner);
        ++states;
        if (w.energy() <= sink.threshold()) sink.take(sh, w.energy(), sh.c.model_mask(w.x()));
        for (u64 s = 1; s < steps;) {
            const u64 end = std::min(steps, (s | (kBlock - 1)) + 1);
            w.run(sh, sink, s, end);
            states += end - s;
            s = end;
            if (sh.time_up()) break;
        }
    }
    return states;
}

template <class Sink>
uint64_t dispatch(Shared& sh, Sink& sink) {
    const bool higher = !sh.c.higher.empty(), cons = !sh.c.refs.empty();
    if (higher && cons) return work<true, true>(sh, sink);
    if (higher) return work<true, false>(sh, sink);
    if (cons) return work<false, true>(sh, sink);
    return work<false, false>(sh, sink);
}

// Runs one sink per worker and merges them in the fixed order of assignments.
template <class Sink, class Make>
SearchResult run_workers(Shared& sh, uint32_t workers, Make make) {
    std::vector<Sink> sinks;
    for (uint32_t t = 0; t < workers; ++t) sinks.push_back(make());
    std::vector<uint64_t> states(workers, 0);
    if (workers == 1) {
        states[0] = dispatch(sh, sinks[0]);
    } else {
        std::vector<std::thread> pool;
        for (uint32_t t = 0; t < workers; ++t)
            pool.emplace_back([&, t] { states[t] = dispatch(sh, sinks[t]); });
        for (std::thread& th : pool) th.join();
    }

    SearchResult r;
    r.threads = workers;
    r.best = {INT64_MAX, ~u64{0}, 0.0};
    for (const Sink& s : sinks) {
        const Found f{s.best.energy, s.best.bits, s.best.tts};
        if (before(f, r.best)) r.best = f;
    }
    // The time to solution is when any worker first reached the best energy.
    for (const Sink& s : sinks) {
        if (s.best.energy == r.best.energy) r.best.tts = std::min(r.best.tts, s.best.tts);
    }
    for (uint64_t n : states) r.states += n;
    r.complete = r.states == (u64{1} << sh.c.n);
    if (!r.complete) r.cut_short = sh.target_hit.load() ? "target_energy" : "time_limit";
    if constexpr (std::is_same_v<Sink, TopkSink>) {
        for (const Sink& s : sinks) r.list.insert(r.list.end(), s.heap.begin(), s.heap.end());
        std::sort(r.list.begin(), r.list.end(), heap_less);
        if (r.list.size() > sinks[0].k) r.list.resize(sinks[0].k);
    } else if constexpr (std::is_same_v<Sink, CollectSink>) {
        for (const Sink& s : sinks) {
            if (s.best.energy == r.best.energy)
                r.list.insert(r.list.end(), s.kept.begin(), s.kept.end());
        }
        std::sort(r.list.begin(), r.list.end(), CollectSink::by_bits);
        if (sinks[0].limit != 0 && r.list.size() > sinks[0].limit) r.list.resize(sinks[0].limit);
    }
    return r;
}

}  // namespace

SearchResult search(const Compiled& c, const SearchOptions& opts) {
    Shared sh(c, opts);
    uint32_t prefix = 0;
    const uint32_t threads = std::max(1u, opts.threads);
    if (threads > 1 && c.n > kMinInner) {
        // About sixteen tasks per thread keep the threads busy to the end.
        const auto want = static_cast<uint32_t>(std::bit_width(threads - 1u)) + 4;
        prefix = std::min(want, c.n - kMinInner);
    }
    sh.inner = c.n - prefix;
    sh.tasks = u64{1} << prefix;
    const auto workers = static_cast<uint32_t>(std::min<uint64_t>(threads, sh.tasks));
    if (opts.collect) {
        return run_workers<CollectSink>(sh, workers,
                                        [&] { return CollectSink(opts.collect_limit); });
    }
    if (opts.topk > 0)
        return run_workers<TopkSink>(sh, workers, [&] { return TopkSink(opts.topk); });
    return run_workers<BestSink>(sh, workers, [] { return BestSink(); });
}

}  // namespace sweep

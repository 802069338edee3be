// The unified integer engine: rounds of annealing over single-position moves (a binary flip;
// for an integer every value of a small range, else steps of +-2^k), then a descent that also
// tries the vertex of the parabola through each integer's +-1 neighbours, on every thread,
// sharing the best state.
#include "int_search.hpp"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>

#include "common/stop.hpp"
#include "rng.hpp"

namespace brisk {

namespace {

using plugin_common::Ended;

constexpr uint64_t kSmallRange = 16;

}  // namespace

IntProblem::IntProblem(uint32_t nbin, uint64_t nint, const int64_t* lower, const int64_t* upper,
                       plugin_common::Objective obj)
    : lo(lower, lower + nint), hi(upper, upper + nint), nbin_(nbin), obj_(std::move(obj)) {}

uint32_t IntProblem::position(uint32_t w) const {
    if ((w & 0xC0000000u) == kAtomBit) return nbin_ + (w & kIndexMask);
    const uint32_t i = w & ~kNegBit;
    return i < nbin_ ? w : i;
}

namespace {

inline int64_t word_value(uint32_t pw, const int64_t* v) {
    const int64_t x = v[pw & ~kNegBit];
    return (pw & kNegBit) ? 1 - x : x;
}

}  // namespace

int64_t IntProblem::energy(const int64_t* v) const {
    int64_t e = obj_.constant;
    for (uint32_t d = 1; d <= obj_.max_degree; ++d) {
        for (uint64_t t = 0; t < obj_.counts[d - 1]; ++t) {
            int64_t p = obj_.coeffs[d - 1][t];
            for (uint32_t k = 0; k < d && p != 0; ++k)
                p = wrap_mul(p, word_value(position(obj_.vars[d - 1][t * d + k]), v));
            e = wrap_add(e, p);
        }
    }
    for (const RawCons& c : cons_raw_) {
        int64_t body = c.constant;
        for (size_t k = 0; k < c.vars.size(); ++k)
            body = wrap_add(body, wrap_mul(c.coeffs[k], word_value(position(c.vars[k]), v)));
        for (size_t t = 0; t < c.nl_coeffs.size(); ++t) {
            int64_t p = c.nl_coeffs[t];
            for (uint64_t k = c.nl_head[t]; k < c.nl_head[t + 1] && p != 0; ++k)
                p = wrap_mul(p, word_value(position(c.nl_vars[k]), v));
            body = wrap_add(body, p);
        }
        e = wrap_add(e, penalty(c, body));
    }
    return e;
}

void IntProblem::compile() {
    if (compiled_) return;
    compiled_ = true;
    const uint64_t np = positions();
    base = obj_.constant;
    lin.assign(np, 0);
    sq.assign(np, 0);
    products.clear();
    words.clear();
    std::vector<std::pair<uint64_t, int64_t>> pairs;
    for (uint32_t d = 1; d <= obj_.max_degree; ++d) {
        for (uint64_t t = 0; t < obj_.counts[d - 1]; ++t) {
            const int64_t c = obj_.coeffs[d - 1][t];
            if (c == 0) continue;
            const uint32_t* w = obj_.vars[d - 1] + t * d;
            if (d == 1) {
                const uint32_t a = position(w[0]);
                if (a & kNegBit) {
                    base = wrap_add(base, c);
                    lin[a & ~kNegBit] = wrap_sub(lin[a & ~kNegBit], c);
                } else {
                    lin[a] = wrap_add(lin[a], c);
                }
                continue;
            }
            if (d == 2) {
                uint32_t a = position(w[0]), b = position(w[1]);
                if (!((a | b) & kNegBit)) {
                    if (a == b) {
                        if (a < nbin_) {
                            lin[a] = wrap_add(lin[a], c);
                        } else {
                            sq[a] = wrap_add(sq[a], c);
                        }
                    } else {
                        if (a > b) std::swap(a, b);
                        pairs.emplace_back((uint64_t{a} << 32) | b, c);
                    }
                    continue;
                }
            }
            products.push_back({c, words.size(), words.size() + d});
            for (uint32_t k = 0; k < d; ++k) words.push_back(position(w[k]));
        }
    }
    std::sort(pairs.begin(), pairs.end());
    adj_off.assign(np + 1, 0);
    std::vector<std::pair<uint64_t, int64_t>> merged;
    for (const auto& q : pairs) {
        if (!merged.empty() && merged.back().first == q.first) {
            merged.back().second = wrap_add(merged.back().second, q.second);
        } else {
            merged.push_back(q);
        }
    }
    for (const auto& [key, c] : merged) {
        ++adj_off[(key >> 32) + 1];
        ++adj_off[(key & 0xFFFFFFFFu) + 1];
    }
    for (uint64_t i = 0; i < np; ++i) adj_off[i + 1] += adj_off[i];
    adj.assign(adj_off[np], {0, 0});
    {
        std::vector<uint64_t> fill(adj_off.begin(), adj_off.end() - 1);
        for (const auto& [key, c] : merged) {
            const uint32_t a = static_cast<uint32_t>(key >> 32);
            const uint32_t b = static_cast<uint32_t>(key);
            adj[fill[a]++] = {b, c};
            adj[fill[b]++] = {a, c};
        }
    }
    // Products per position, each product once per position.
    std::vector<std::vector<uint32_t>> lists(np);
    for (size_t t = 0; t < products.size(); ++t) {
        for (uint64_t k = products[t].begin; k < products[t].end; ++k) {
            auto& l = lists[words[k] & ~kNegBit];
            if (l.empty() || l.back() != t) l.push_back(static_cast<uint32_t>(t));
        }
    }
    prod_off.assign(np + 1, 0);
    prod_of.clear();
    for (uint64_t i = 0; i < np; ++i) {
        prod_of.insert(prod_of.end(), lists[i].begin(), lists[i].end());
        prod_off[i + 1] = prod_of.size();
    }
    // Constraints: linear parts folded per position; products kept.
    cons.clear();
    std::vector<std::vector<IntMember>> per(np);
    std::vector<int64_t> slot(np, -1);
    for (size_t ci = 0; ci < cons_raw_.size(); ++ci) {
        const RawCons& rc = cons_raw_[ci];
        IntCons ic;
        ic.raw = &rc;
        ic.constant = rc.constant;
        std::vector<uint32_t> touched;
        auto entry = [&](uint32_t pos) -> IntMember& {
            if (slot[pos] < 0) {
                slot[pos] = static_cast<int64_t>(per[pos].size());
                per[pos].push_back({static_cast<uint32_t>(ci), 0, false});
                touched.push_back(pos);
            }
            return per[pos][static_cast<size_t>(slot[pos])];
        };
        for (size_t k = 0; k < rc.vars.size(); ++k) {
            const uint32_t pw = position(rc.vars[k]);
            const uint32_t pos = pw & ~kNegBit;
            IntMember& m = entry(pos);
            if (pw & kNegBit) {
                ic.constant = wrap_add(ic.constant, rc.coeffs[k]);
                m.coeff = wrap_sub(m.coeff, rc.coeffs[k]);
            } else {
                m.coeff = wrap_add(m.coeff, rc.coeffs[k]);
            }
        }
        for (size_t t = 0; t < rc.nl_coeffs.size(); ++t) {
            ic.products.push_back({rc.nl_coeffs[t], words.size(),
                                   words.size() + (rc.nl_head[t + 1] - rc.nl_head[t])});
            for (uint64_t k = rc.nl_head[t]; k < rc.nl_head[t + 1]; ++k) {
                const uint32_t pw = position(rc.nl_vars[k]);
                words.push_back(pw);
                entry(pw & ~kNegBit).nonlinear = true;
            }
        }
        for (uint32_t pos : touched) {
            const IntMember& m = per[pos][static_cast<size_t>(slot[pos])];
            if (!m.nonlinear) ic.linear.emplace_back(pos, m.coeff);
            slot[pos] = -1;
        }
        cons.push_back(std::move(ic));
    }
    mem_off.assign(np + 1, 0);
    mem.clear();
    max_members = 0;
    for (uint64_t i = 0; i < np; ++i) {
        mem.insert(mem.end(), per[i].begin(), per[i].end());
        mem_off[i + 1] = mem.size();
        max_members = std::max<uint64_t>(max_members, per[i].size());
    }
}

namespace {

// The running state of one thread: values, fields of the quadratic part, constraint bodies and
// penalties, and the energy.
class IntState {
  public:
    explicit IntState(const IntProblem& p)
        : p_(p),
          v_(p.positions(), 0),
          field_(p.positions(), 0),
          body_(p.cons.size(), 0),
          pen_(p.cons.size(), 0),
          pending_(p.max_members) {}

    std::vector<int64_t>& values() { return v_; }
    const std::vector<int64_t>& values() const { return v_; }
    int64_t energy() const { return energy_; }

    void rebuild() {
        const IntProblem& p = p_;
        const uint64_t np = p.positions();
        int64_t e = p.base;
        for (uint64_t i = 0; i < np; ++i) {
            int64_t f = p.lin[i];
            for (uint64_t k = p.adj_off[i]; k < p.adj_off[i + 1]; ++k) {
                const auto& [j, c] = p.adj[k];
                f = wrap_add(f, wrap_mul(c, v_[j]));
                if (j > i) e = wrap_add(e, wrap_mul(wrap_mul(c, v_[i]), v_[j]));
            }
            field_[i] = f;
            e = wrap_add(
                e, wrap_add(wrap_mul(p.lin[i], v_[i]), wrap_mul(p.sq[i], wrap_mul(v_[i], v_[i]))));
        }
        for (const IntProduct& t : p.products) {
            int64_t prod = t.coeff;
            for (uint64_t k = t.begin; k < t.end; ++k)
                prod = wrap_mul(prod, word_value(p.words[k], v_.data()));
            e = wrap_add(e, prod);
        }
        for (size_t c = 0; c < p.cons.size(); ++c) {
            body_[c] = body_with(c, UINT64_MAX, 0);
            pen_[c] = penalty(*p.cons[c].raw, body_[c]);
            e = wrap_add(e, pen_[c]);
        }
        energy_ = e;
    }

    // Energy change of setting position q to nv; the constraint changes wait for apply().
    int64_t delta(uint64_t q, int64_t nv) {
        const IntProblem& p = p_;
        const int64_t o = v_[q];
        const int64_t diff = wrap_sub(nv, o);
        int64_t de = wrap_add(wrap_mul(field_[q], diff),
                              wrap_mul(p.sq[q], wrap_sub(wrap_mul(nv, nv), wrap_mul(o, o))));
        for (uint64_t k = p.prod_off[q]; k < p.prod_off[q + 1]; ++k) {
            const IntProduct& t = p.products[p.prod_of[k]];
            int64_t before = t.coeff, after = t.coeff;
            for (uint64_t w = t.begin; w < t.end; ++w) {
                const uint32_t pw = p.words[w];
                before = wrap_mul(before, word_value(pw, v_.data()));
                const int64_t x = (pw & ~kNegBit) == q ? nv : v_[pw & ~kNegBit];
                after = wrap_mul(after, (pw & kNegBit) ? 1 - x : x);
            }
            de = wrap_add(de, wrap_sub(after, before));
        }
        npending_ = 0;
        for (uint64_t k = p.mem_off[q]; k < p.mem_off[q + 1]; ++k) {
            const IntMember& m = p.mem[k];
            const int64_t nb = m.nonlinear ? body_with(m.cons, q, nv)
                                           : wrap_add(body_[m.cons], wrap_mul(m.coeff, diff));
            const int64_t np = penalty(*p.cons[m.cons].raw, nb);
            de = wrap_add(de, wrap_sub(np, pen_[m.cons]));
            pending_[npending_++] = {m.cons, nb, np};
        }
        last_ = de;
        return de;
    }

    // Applies the move whose delta() was computed last.
    void apply(uint64_t q, int64_t nv) {
        const IntProblem& p = p_;
        const int64_t diff = wrap_sub(nv, v_[q]);
        for (uint64_t k = p.adj_off[q]; k < p.adj_off[q + 1]; ++k) {
            const auto& [j, c] = p.adj[k];
            field_[j] = wrap_add(field_[j], wrap_mul(c, diff));
        }
        v_[q] = nv;
        for (uint32_t k = 0; k < npending_; ++k) {
            body_[pending_[k].cons] = pending_[k].body;
            pen_[pending_[k].cons] = pending_[k].pen;
        }
        energy_ = wrap_add(energy_, last_);
    }

  private:
    struct Pending {
        uint32_t cons;
        int64_t body;
        int64_t pen;
    };

    int64_t body_with(uint64_t c, uint64_t q, int64_t nv) const {
        const IntCons& ic = p_.cons[c];
        const RawCons& rc = *ic.raw;
        int64_t b = rc.constant;
        for (size_t k = 0; k < rc.vars.size(); ++k) {
            const uint32_t w = rc.vars[k];
            const uint32_t pos =
                (w & 0xC0000000u) == kAtomBit ? p_.nbin() + (w & kIndexMask) : (w & ~kNegBit);
            const int64_t x = pos == q ? nv : v_[pos];
            b = wrap_add(b, wrap_mul(rc.coeffs[k], ((w & kNegBit) && pos < p_.nbin()) ? 1 - x : x));
        }
        for (const IntProduct& t : ic.products) {
            int64_t prod = t.coeff;
            for (uint64_t w = t.begin; w < t.end; ++w) {
                const uint32_t pw = p_.words[w];
                const int64_t x = (pw & ~kNegBit) == q ? nv : v_[pw & ~kNegBit];
                prod = wrap_mul(prod, (pw & kNegBit) ? 1 - x : x);
            }
            b = wrap_add(b, prod);
        }
        return b;
    }

    const IntProblem& p_;
    std::vector<int64_t> v_;
    std::vector<int64_t> field_;
    std::vector<int64_t> body_;
    std::vector<int64_t> pen_;
    std::vector<Pending> pending_;
    uint32_t npending_ = 0;
    int64_t last_ = 0;
    int64_t energy_ = 0;
};

struct IntShared {
    const IntProblem& p;
    const Options& o;
    dalo_plugin_callback cb;
    Clock::time_point start, deadline;
    bool has_deadline = true;
    std::atomic<bool> stop{false};
    std::atomic<int64_t> best_energy{INT64_MAX};
    std::mutex lock;
    bool has_best = false;
    int64_t best = 0;
    double tts = 0.0;
    std::vector<int64_t> best_values;
    std::atomic<uint64_t> moves{0}, rounds{0};

    IntShared(const IntProblem& prob, const Options& opts, dalo_plugin_callback callback)
        : p(prob), o(opts), cb(callback), start(opts.start) {
        if (!(o.time_limit > 0.0)) {
            deadline = start;
        } else if (o.time_limit > 1e9) {
            has_deadline = false;
        } else {
            deadline = start + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(o.time_limit));
        }
    }

    bool should_stop() {
        if (stop.load(std::memory_order_relaxed)) return true;
        if (has_deadline && Clock::now() >= deadline) {
            stop.store(true);
            return true;
        }
        return false;
    }

    void offer(const std::vector<int64_t>& v, int64_t e) {
        std::lock_guard<std::mutex> g(lock);
        if (has_best && e >= best) return;
        has_best = true;
        best = e;
        tts = seconds_since(start);
        best_values = v;
        best_energy.store(e, std::memory_order_relaxed);
        if (o.default_callback) {
            std::printf("TTS = %.3fs Energy = %" PRId64 "\n", tts, e);
            std::fflush(stdout);
        }
        if (cb != nullptr) {
            std::vector<uint64_t> bits((p.nbin() + 63) / 64, 0);
            for (uint32_t i = 0; i < p.nbin(); ++i) bits[i >> 6] |= uint64_t(v[i] & 1) << (i & 63);
            cb(nullptr, &e, bits.data(), 1, tts);
        }
        if (o.has_target && e <= o.target) stop.store(true);
    }

    bool copy_best(std::vector<int64_t>& v) {
        std::lock_guard<std::mutex> g(lock);
        if (!has_best) return false;
        v = best_values;
        return true;
    }
};

class IntWorker {
  public:
    IntWorker(IntShared& sh, uint32_t index)
        : sh_(sh),
          p_(sh.p),
          np_(sh.p.positions()),
          rng_(sh.o.seed * 0x9E3779B97F4A7C15ull + index + 1),
          st_(sh.p) {
        for (uint64_t i = 0; i < np_; ++i) move_count_ += i < p_.nbin() ? 1 : moves_of(i);
    }

    void run() {
        std::vector<int64_t>& v = st_.values();
        uint64_t stale = 0;
        int64_t seen = INT64_MAX;
        for (bool first = true;; first = false) {
            if (!first && sh_.should_stop()) break;
            if (first) {
                for (uint64_t i = 0; i < np_; ++i) v[i] = random_value(i);
            } else {
                if (rng_() & 1) sh_.copy_best(v);
                kick(static_cast<double>(stale + 10) / static_cast<double>(np_ == 0 ? 1 : np_));
            }
            st_.rebuild();
            ++rounds_;
            bool stopped = np_ > 0 && anneal() == Ended::cut_short;
            if (!stopped && np_ > 0) stopped = descend() == Ended::cut_short;
            sh_.offer(v, st_.energy());
            if (stopped || np_ == 0) break;
            const int64_t b = sh_.best_energy.load(std::memory_order_relaxed);
            if (b < seen) {
                seen = b;
                stale = 0;
            } else {
                ++stale;
            }
        }
        sh_.moves += moves_;
        sh_.rounds += rounds_;
    }

  private:
    uint64_t range(uint64_t i) const { return u(p_.hi[i - p_.nbin()]) - u(p_.lo[i - p_.nbin()]); }
    uint32_t steps(uint64_t i) const {
        const uint64_t r = range(i);
        uint32_t s = 1;
        while ((uint64_t{1} << (s - 1)) <= r / 2 && s < 63) ++s;
        return s;
    }
    uint64_t moves_of(uint64_t i) const {
        const uint64_t r = range(i);
        return r < kSmallRange ? r : 2 * uint64_t{steps(i)};
    }

    int64_t random_value(uint64_t i) {
        if (i < p_.nbin()) return static_cast<int64_t>(rng_() & 1);
        const uint64_t r = range(i);
        return s(u(p_.lo[i - p_.nbin()]) + (r == UINT64_MAX ? rng_() : rng_.below(r + 1)));
    }

    // A random move at position i; false when the draw is no move.
    bool propose(uint64_t i, int64_t& nv) {
        const int64_t o = st_.values()[i];
        if (i < p_.nbin()) {
            nv = 1 - o;
            return true;
        }
        const uint64_t r = range(i);
        if (r < kSmallRange) {
            nv = s(u(p_.lo[i - p_.nbin()]) + rng_.below(r + 1));
            return nv != o;
        }
        const uint64_t draw = rng_();
        return shift(i, o, uint64_t{1} << ((draw >> 1) % steps(i)), draw & 1, nv);
    }

    bool shift(uint64_t i, int64_t o, uint64_t dist, bool up, int64_t& nv) const {
        const int64_t lo = p_.lo[i - p_.nbin()], hi = p_.hi[i - p_.nbin()];
        if (up) {
            if (u(hi) - u(o) < dist) return false;
            nv = s(u(o) + dist);
        } else {
            if (u(o) - u(lo) < dist) return false;
            nv = s(u(o) - dist);
        }
        return true;
    }

    void kick(double prob) {
        std::vector<int64_t>& v = st_.values();
        for (uint64_t i = 0; i < np_; ++i) {
            if (prob < 1.0 && rng_.unit() >= prob) continue;
            int64_t nv;
            if (i >= p_.nbin() && range(i) >= kSmallRange) {
                // Geometric jumps, mostly short.
                const uint64_t dist = uint64_t{1} << rng_.below(steps(i));
                if (shift(i, v[i], dist, rng_() & 1, nv)) v[i] = nv;
            } else if (propose(i, nv)) {
                v[i] = nv;
            }
        }
    }

    static bool accept(double x, double r) { return x < 37.0 && std::exp(-x) > r; }

    // One annealing schedule, which a stop condition may cut short.
    Ended anneal() {
        double largest = 0.0;
        for (int k = 0; k < 64; ++k) {
            const uint64_t i = rng_.below(np_);
            int64_t nv;
            if (propose(i, nv))
                largest = std::max(largest, std::fabs(static_cast<double>(st_.delta(i, nv))));
        }
        const double t0 = std::max(2.0, 2.0 * largest);
        const uint64_t length = std::max<uint64_t>(400 * move_count_, 4000);
        const double cool = std::pow(0.02 / t0, 1.0 / static_cast<double>(length));
        double temp = t0;
        for (uint64_t k = 0; k < length; ++k, temp *= cool) {
            if ((k & 255) == 0 && sh_.should_stop()) {
                moves_ += k;
                return Ended::cut_short;
            }
            const uint64_t i = rng_.below(np_);
            int64_t nv;
            if (!propose(i, nv)) continue;
            const int64_t d = st_.delta(i, nv);
            if (d <= 0 || accept(static_cast<double>(d) / temp, rng_.unit())) {
                st_.apply(i, nv);
                if (sh_.o.has_target && st_.energy() <= sh_.o.target) {
                    sh_.offer(st_.values(), st_.energy());
                    moves_ += k;
                    return Ended::cut_short;
                }
            }
        }
        moves_ += length;
        return Ended::in_full;
    }

    bool trial(uint64_t i, int64_t nv) {
        ++moves_;
        if (st_.delta(i, nv) >= 0) return false;
        st_.apply(i, nv);
        return true;
    }

    // Sweeps of improving moves until none is left, or until cut short.
    Ended descend() {
        const std::vector<int64_t>& v = st_.values();
        uint64_t next = moves_ + 256;
        for (bool improved = true; improved;) {
            improved = false;
            for (uint64_t i = 0; i < np_; ++i) {
                if (moves_ >= next) {
                    if (sh_.should_stop()) return Ended::cut_short;
                    next = moves_ + 256;
                }
                if (i < p_.nbin()) {
                    improved |= trial(i, 1 - v[i]);
                    continue;
                }
                const uint64_t r = range(i);
                const int64_t lo = p_.lo[i - p_.nbin()];
                if (r < kSmallRange) {
                    for (uint64_t k = 0; k <= r; ++k) {
                        const int64_t nv = s(u(lo) + k);
                        if (nv != v[i]) improved |= trial(i, nv);
                    }
                    continue;
                }
                improved |= vertex(i);
                for (uint32_t k = 0; k < steps(i); ++k) {
                    int64_t nv;
                    if (shift(i, v[i], uint64_t{1} << k, true, nv)) improved |= trial(i, nv);
                    if (shift(i, v[i], uint64_t{1} << k, false, nv)) improved |= trial(i, nv);
                }
            }
        }
        return Ended::in_full;
    }

    // The vertex of the parabola through the changes of one step down and up, when the curve
    // opens upwards: a long jump to where a quadratic energy along i is smallest.
    bool vertex(uint64_t i) {
        const int64_t o = st_.values()[i];
        int64_t up, down;
        if (!shift(i, o, 1, true, up) || !shift(i, o, 1, false, down)) return false;
        const double dp = static_cast<double>(st_.delta(i, up));
        const double dm = static_cast<double>(st_.delta(i, down));
        moves_ += 2;
        const double curve = dp + dm;
        if (!(curve > 0.0)) return false;
        const double step = std::round((dm - dp) / (2.0 * curve));
        if (!(std::fabs(step) >= 2.0) || std::fabs(step) > 9e18) return false;
        int64_t nv;
        if (!shift(i, o, static_cast<uint64_t>(std::fabs(step)), step > 0, nv)) {
            nv = step > 0 ? p_.hi[i - p_.nbin()] : p_.lo[i - p_.nbin()];
            if (nv == o) return false;
        }
        return trial(i, nv);
    }

    IntShared& sh_;
    const IntProblem& p_;
    uint64_t np_;
    Rng rng_;
    IntState st_;
    uint64_t move_count_ = 0;
    uint64_t moves_ = 0, rounds_ = 0;
};

}  // namespace

IntOutcome search_int(IntProblem& p, const Options& o, dalo_plugin_callback cb) {
    p.compile();
    IntShared sh(p, o, cb);
    const uint32_t threads = std::max(1u, o.threads);
    if (threads == 1) {
        IntWorker(sh, 0).run();
    } else {
        std::vector<std::thread> pool;
        for (uint32_t w = 0; w < threads; ++w)
            pool.emplace_back([&sh, w] { IntWorker(sh, w).run(); });
        for (std::thread& t : pool) t.join();
    }
    IntOutcome out;
    out.values = sh.best_values;
    out.values.resize(p.positions(), 0);
    out.energy = p.energy(out.values.data());
    out.tts = sh.tts;
    out.info.emplace_back("threads", std::to_string(threads));
    out.info.emplace_back("flips", std::to_string(sh.moves.load()));
    out.info.emplace_back("restarts", std::to_string(sh.rounds.load()));
    out.info.emplace_back("seed", std::to_string(o.seed));
    out.info.emplace_back("moves_evaluated", std::to_string(sh.moves.load()));
    return out;
}

}  // namespace brisk

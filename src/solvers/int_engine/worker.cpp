// A search worker: rounds of simulated annealing followed by greedy descent from a start state
// (the hint, a pending hint, a random state or a kicked copy of the best), each round's end
// offered to the shared best.
//
// Energies are kept in 64-bit wrapping arithmetic, like a Sol's: every incremental change is
// an exact rearrangement of the same ring sum, so a state's running energy equals the energy a
// Sol computes for it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "model/sol.hpp"
#include "solvers/int_engine/mover.hpp"
#include "solvers/int_engine/state.hpp"

namespace dalo::int_detail {

namespace {

// The running state of one search thread: values, local fields of the quadratic part, cached
// constraint bodies and penalties, and the energy; moves are tried against them.
class State {
  public:
    explicit State(const Problem& p)
        : pr_(p),
          pos_(p.pos.data()),
          val_(p.positions, 0),
          field_(p.positions, 0),
          body_(p.cons.size(), 0),
          pen_(p.cons.size(), 0),
          changes_(p.max_cons_per_pos) {}

    std::vector<int64_t>& values() { return val_; }
    const std::vector<int64_t>& values() const { return val_; }
    energy_t energy() const { return s(energy_); }

    // Fields, constraint caches and energy from the values.
    void rebuild() {
        const Problem& p = pr_;
        uint64_t e = u(p.m.constant);
        for (uint64_t i = 0; i < p.positions; ++i) {
            const PosData& d = pos_[i];
            const uint64_t x = u(val_[i]);
            uint64_t f = u(d.lin);
            for (uint64_t k = d.quad_begin; k < d.quad_end; ++k) {
                const QuadEntry& q = p.quad[k];
                const uint64_t y = u(val_[q.pos]);
                f += u(q.coeff) * y;
                if (q.pos > i) e += u(q.coeff) * x * y;
            }
            field_[i] = s(f);
            e += u(d.lin) * x + u(d.sq) * x * x;
        }
        for (uint64_t t = 0; t + 1 < p.term_off.size(); ++t) {
            uint64_t prod = u(p.term_coeff[t]);
            for (uint64_t k = p.term_off[t]; k < p.term_off[t + 1]; ++k)
                prod *= u(value(p.term_pos[k]));
            e += prod;
        }
        for (uint64_t c = 0; c < p.cons.size(); ++c) {
            body_[c] = body_with(c, UINT64_MAX, 0);
            pen_[c] = penalty(c, body_[c]);
            e += u(pen_[c]);
        }
        energy_ = e;
    }

    // Energy change of setting position p to n; the new constraint values wait in the change
    // list for apply().
    int64_t delta(uint64_t p, int64_t n) {
        const PosData& d = pos_[p];
        const uint64_t o = u(val_[p]), nn = u(n);
        const uint64_t diff = nn - o;
        uint64_t de = u(field_[p]) * diff + u(d.sq) * (nn * nn - o * o);
        for (uint64_t k = d.high_begin; k < d.high_end; ++k)
            de += term_change(pr_.high_ids[k], p, n);
        nchanges_ = 0;
        const ConsEntry* ce = pr_.cons_entries.data();
        for (uint64_t k = d.cons_begin; k < d.cons_end; ++k) {
            const ConsEntry& e = ce[k];
            const int64_t nb =
                e.nonlinear ? body_with(e.cons, p, n) : s(u(body_[e.cons]) + u(e.coeff) * diff);
            const int64_t np = penalty(e.cons, nb);
            de += u(np) - u(pen_[e.cons]);
            changes_[nchanges_++] = {e.cons, nb, np};
        }
        last_delta_ = de;
        return s(de);
    }

    // Applies the move whose delta() was computed last.
    void apply(uint64_t p, int64_t n) {
        const PosData& d = pos_[p];
        const uint64_t diff = u(n) - u(val_[p]);
        const QuadEntry* q = pr_.quad.data();
        for (uint64_t k = d.quad_begin; k < d.quad_end; ++k)
            field_[q[k].pos] = s(u(field_[q[k].pos]) + u(q[k].coeff) * diff);
        val_[p] = n;
        for (uint32_t k = 0; k < nchanges_; ++k) {
            body_[changes_[k].cons] = changes_[k].body;
            pen_[changes_[k].cons] = changes_[k].pen;
        }
        energy_ += last_delta_;
    }

  private:
    struct Change {
        uint32_t cons;
        int64_t body;
        int64_t pen;
    };

    int64_t value(uint32_t pw) const {
        const int64_t x = val_[pw & ~kNeg];
        return (pw & kNeg) ? 1 - x : x;
    }
    int64_t value_with(uint32_t pw, uint64_t p, int64_t n) const {
        const uint64_t q = pw & ~kNeg;
        const int64_t x = q == p ? n : val_[q];
        return (pw & kNeg) ? 1 - x : x;
    }

    uint64_t term_change(uint64_t t, uint64_t p, int64_t n) const {
        uint64_t before = 1, after = 1;
        for (uint64_t k = pr_.term_off[t]; k < pr_.term_off[t + 1]; ++k) {
            const uint32_t pw = pr_.term_pos[k];
            before *= u(value(pw));
            after *= u(value_with(pw, p, n));
        }
        return u(pr_.term_coeff[t]) * (after - before);
    }

    int64_t body_with(uint64_t c, uint64_t p, int64_t n) const {
        const ConsData& cd = pr_.cons[c];
        const NativeCons& rec = *cd.rec;
        uint64_t v = u(rec.constant);
        for (size_t k = 0; k < cd.vars.size(); ++k)
            v += u(rec.coeffs[k]) * u(value_with(cd.vars[k], p, n));
        for (size_t t = 0; t + 1 < rec.nl_head.size(); ++t) {
            uint64_t prod = u(rec.nl_coeffs[t]);
            for (uint64_t k = rec.nl_head[t]; k < rec.nl_head[t + 1]; ++k)
                prod *= u(value_with(cd.nl_vars[k], p, n));
            v += prod;
        }
        return s(v);
    }

    int64_t penalty(uint64_t c, int64_t body) const {
        const NativeCons& rec = *pr_.cons[c].rec;
        return weighted_violation(rec.weight, native_violation(rec, body), rec.exponent);
    }

    const Problem& pr_;
    const PosData* pos_;
    std::vector<int64_t> val_;
    std::vector<int64_t> field_;
    std::vector<int64_t> body_;
    std::vector<int64_t> pen_;
    std::vector<Change> changes_;
    uint32_t nchanges_ = 0;
    uint64_t last_delta_ = 0;
    uint64_t energy_ = 0;
};

class Worker {
  public:
    Worker(Shared& sh, uint32_t index)
        : sh_(sh),
          pr_(sh.pr),
          index_(index),
          mover_(sh.pr, ((uint64_t{index} + 1) * 0x9E3779B97F4A7C15ull) ^ sh.opts.seed),
          state_(sh.pr),
          hint_bits_(sh.pr.words),
          hint_ints_(sh.pr.nint) {}

    void run() {
        uint64_t stale = 0;
        bool seen = false;
        energy_t seen_energy = 0;
        for (bool first = true;; first = false) {
            if (!first && sh_.should_stop()) break;
            start_state(first, stale);
            state_.rebuild();
            ++rounds_;
            bool stopped = pr_.positions > 0 && anneal();
            if (!stopped && pr_.positions > 0) stopped = descend();
            offer();
            if (stopped || pr_.positions == 0) break;
            if (sh_.has_best.load(std::memory_order_acquire)) {
                const energy_t b = sh_.best_energy.load(std::memory_order_relaxed);
                if (!seen || b < seen_energy) {
                    seen = true;
                    seen_energy = b;
                    stale = 0;
                    continue;
                }
            }
            ++stale;
        }
        sh_.rounds += rounds_;
        sh_.proposals += proposals_;
    }

  private:
    void start_state(bool first, uint64_t stale) {
        std::vector<int64_t>& v = state_.values();
        const IntSearchOpts& o = sh_.opts;
        if (first && index_ == 0 && o.hint_bits != nullptr) {
            unpack_state(pr_.nbin, pr_.nint, o.hint_bits, o.hint_ints, v.data());
        } else if (o.hint_fetch != nullptr &&
                   o.hint_fetch(o.hint_context, 0, hint_bits_.data(), hint_ints_.data())) {
            unpack_state(pr_.nbin, pr_.nint, hint_bits_.data(), hint_ints_.data(), v.data());
        } else if (first) {
            mover_.random_state(v);
        } else {
            if (mover_.draw() & 1) sh_.copy_best(v);
            mover_.kick(v, static_cast<double>(stale + 10) / static_cast<double>(pr_.positions));
        }
    }

    // One annealing schedule; true when a stop condition cut it short.
    bool anneal() {
        const std::vector<int64_t>& v = state_.values();
        double largest = 0.0;
        for (int k = 0; k < 64; ++k) {
            uint64_t p;
            int64_t n;
            if (mover_.propose(v, p, n))
                largest = std::max(largest, std::fabs(static_cast<double>(state_.delta(p, n))));
        }
        const double t0 = std::max(2.0, 2.0 * largest);
        const uint64_t length = std::max<uint64_t>(400 * pr_.move_count, 4000);
        const double cool = std::pow(0.02 / t0, 1.0 / static_cast<double>(length));
        double temp = t0;
        for (uint64_t i = 0; i < length; ++i, temp *= cool) {
            if ((i & 127) == 0 && sh_.should_stop()) {
                proposals_ += i;
                return true;
            }
            uint64_t p;
            int64_t n;
            if (!mover_.propose(v, p, n)) continue;
            const int64_t d = state_.delta(p, n);
            if (d <= 0 || accept(static_cast<double>(d) / temp, unit(mover_.draw())))
                state_.apply(p, n);
        }
        proposals_ += length;
        return false;
    }

    // exp(-x) > r for a uniform r in multiples of 2^-53. From x = 37 on, exp(-x) lies below
    // 2^-53, so only r = 0 can pass and exp need not run (its underflow path is slow).
    static bool accept(double x, double r) {
        if (x < 37.0) return std::exp(-x) > r;
        return r == 0.0 && std::exp(-x) > 0.0;
    }

    // Tries a descent move; true when it improved and was applied.
    bool trial(uint64_t p, int64_t n) {
        ++proposals_;
        if (state_.delta(p, n) >= 0) return false;
        state_.apply(p, n);
        return true;
    }

    // Sweeps until nothing improves; true when a stop condition cut it short.
    bool descend() {
        const std::vector<int64_t>& v = state_.values();
        uint64_t next_check = proposals_ + 128;
        for (bool improved = true; improved;) {
            improved = false;
            for (uint64_t p = 0; p < pr_.positions; ++p) {
                if (proposals_ >= next_check) {
                    if (sh_.should_stop()) return true;
                    next_check = proposals_ + 128;
                }
                const PosData& d = pr_.pos[p];
                switch (d.kind) {
                    case MoveKind::Binary:
                        improved |= trial(p, 1 - v[p]);
                        break;
                    case MoveKind::Small:
                        for (uint64_t k = 0; k <= d.range; ++k) {
                            const int64_t n = s(u(d.lo) + k);
                            if (n != v[p]) improved |= trial(p, n);
                        }
                        break;
                    case MoveKind::Stepped:
                        for (uint32_t k = 0; k < d.steps; ++k) {
                            int64_t n;
                            if (Mover::shift(d, v[p], uint64_t{1} << k, true, n))
                                improved |= trial(p, n);
                            if (Mover::shift(d, v[p], uint64_t{1} << k, false, n))
                                improved |= trial(p, n);
                        }
                        break;
                }
            }
        }
        return false;
    }

    void offer() {
        const energy_t e = state_.energy();
        if (has_best_ && !(e < best_ || (sh_.opts.best_energy_sols && e == best_))) return;
        has_best_ = true;
        best_ = e;
        sh_.offer(state_.values().data(), e);
    }

    Shared& sh_;
    const Problem& pr_;
    uint32_t index_;
    Mover mover_;
    State state_;
    std::vector<uint64_t> hint_bits_;
    std::vector<int64_t> hint_ints_;
    bool has_best_ = false;
    energy_t best_ = 0;
    uint64_t rounds_ = 0;
    uint64_t proposals_ = 0;
};

}  // namespace

void run_worker(Shared& sh, uint32_t index) { Worker(sh, index).run(); }

}  // namespace dalo::int_detail

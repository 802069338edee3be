// The integer search engine: rounds of simulated annealing followed by greedy descent on
// worker threads, sharing one best state; optionally a thread that feeds an integer GPU engine
// with start states and offers what it returns.
//
// Energies are kept in 64-bit wrapping arithmetic, like a Sol's: every incremental change is
// an exact rearrangement of the same ring sum, so a state's running energy equals the energy a
// Sol computes for it.
#include "solvers/int_engine.hpp"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "capi/sol_handle.hpp"
#include "core/fatal.hpp"
#include "core/term.hpp"
#include "model/sol.hpp"
#include "solvers/int_engine_detail.hpp"
#include "solvers/sysinfo.hpp"

namespace dalo {

namespace {

// Ring arithmetic is done on the unsigned forms.
inline uint64_t u(int64_t v) { return static_cast<uint64_t>(v); }
inline int64_t s(uint64_t v) { return static_cast<int64_t>(v); }

}  // namespace

namespace int_detail {

namespace {

// Value of a remapped Model word under a state.
inline int64_t word_value(const int64_t* vals, uint32_t nbin, uint32_t w) {
    if (w & kAtomBit) return vals[uint64_t{nbin} + (w & kIndexMask)];
    const int64_t x = vals[w & ~kNegBit];
    return (w & kNegBit) ? 1 - x : x;
}

int64_t body_value(const NativeCons& c, const int64_t* vals, uint32_t nbin) {
    uint64_t v = u(c.constant);
    for (size_t k = 0; k < c.vars.size(); ++k)
        v += u(c.coeffs[k]) * u(word_value(vals, nbin, c.vars[k]));
    for (size_t t = 0; t + 1 < c.nl_head.size(); ++t) {
        uint64_t p = u(c.nl_coeffs[t]);
        for (uint64_t k = c.nl_head[t]; k < c.nl_head[t + 1]; ++k)
            p *= u(word_value(vals, nbin, c.nl_vars[k]));
        v += p;
    }
    return static_cast<int64_t>(v);
}

}  // namespace

VarMoves binary_moves() { return VarMoves{}; }

VarMoves int_var_moves(int64_t lo, int64_t hi) {
    VarMoves mv;
    const uint64_t r = u(hi) - u(lo);
    if (r < kSmallRange) {
        mv.kind = MoveKind::Small;
        mv.moves = r;
        return mv;
    }
    mv.kind = MoveKind::Stepped;
    // Steps double up to and including the first power of two above r / 2.
    uint32_t steps = 1;
    while ((uint64_t{1} << (steps - 1)) <= r / 2) ++steps;
    mv.steps = steps;
    mv.moves = 2 * uint64_t{steps};
    if (static_cast<double>(r) < 1.8e19) {
        double x = static_cast<double>(r) / 32.0;
        x = x > 1.0 ? x / (x + 1.0) : 0.5;
        mv.has_weight = true;
        mv.weight = std::log(x);
    }
    return mv;
}

StateEval evaluate_state(const ModelImpl& m, const int64_t* vals) {
    const uint32_t nbin = m.var_count();
    StateEval ev;
    uint64_t e = u(m.constant);
    for (uint32_t d = 1; d <= m.max_degree; ++d) {
        const uint64_t n = m.term_count[d - 1];
        const uint32_t* tv = m.term_vars[d - 1].data();
        const coeff_t* cf = m.coeff_array[d - 1].data();
        for (uint64_t t = 0; t < n; ++t) {
            uint64_t p = u(cf[t]);
            for (uint32_t k = 0; k < d; ++k) p *= u(word_value(vals, nbin, tv[t * d + k]));
            e += p;
        }
    }
    uint64_t pen = 0;
    for (const NativeCons& c : m.native_cons) {
        const int64_t viol = native_violation(c, body_value(c, vals, nbin));
        pen += u(weighted_violation(c.weight, viol, c.exponent));
        if (c.objective_only == 0) {
            ++ev.counted;
            if (viol != 0) ++ev.violated;
        }
    }
    ev.energy = static_cast<int64_t>(e + pen);
    ev.penalty = static_cast<int64_t>(pen);
    return ev;
}

void pack_bits(const int64_t* vals, uint32_t nbin, uint64_t* words) {
    for (uint64_t w = 0; w < word_count(nbin); ++w) words[w] = 0;
    for (uint32_t i = 0; i < nbin; ++i) words[i >> 6] |= u(vals[i] & 1) << (i & 63);
}

void unpack_state(uint32_t nbin, uint64_t nint, const uint64_t* bits, const int64_t* ints,
                  int64_t* vals) {
    for (uint32_t i = 0; i < nbin; ++i)
        vals[i] = static_cast<int64_t>((bits[i >> 6] >> (i & 63)) & 1);
    for (uint64_t a = 0; a < nint; ++a) vals[nbin + a] = ints[a];
}

bool Keeper::listed(const int64_t* vals, uint64_t n) const {
    for (const KeptState& k : kept_) {
        if (std::equal(vals, vals + n, k.vals.begin())) return true;
    }
    return false;
}

bool Keeper::offer(const int64_t* vals, uint64_t n, energy_t energy, double tts) {
    auto entry = [&] { return KeptState{energy, tts, std::vector<int64_t>(vals, vals + n)}; };
    if (collect_) {
        if (!has_best_ || energy < best_.energy) {
            kept_.clear();
            kept_.push_back(entry());
        } else if (energy == best_.energy && (limit_ == 0 || kept_.size() < limit_) &&
                   !listed(vals, n)) {
            kept_.push_back(entry());
        }
    } else if (topk_ > 0 && !listed(vals, n) &&
               (kept_.size() < topk_ || energy < kept_.back().energy)) {
        auto at = std::upper_bound(kept_.begin(), kept_.end(), energy,
                                   [](energy_t e, const KeptState& k) { return e < k.energy; });
        kept_.insert(at, entry());
        if (kept_.size() > topk_) kept_.pop_back();
    }
    if (has_best_ && energy >= best_.energy) return false;
    has_best_ = true;
    best_.energy = energy;
    best_.tts = tts;
    best_.vals.assign(vals, vals + n);
    return true;
}

}  // namespace int_detail

namespace {

using namespace int_detail;
using Clock = std::chrono::steady_clock;

__extension__ typedef unsigned __int128 u128;

// Uniform index below n from one draw (multiply-high).
inline uint64_t below(uint64_t draw, uint64_t n) {
    return static_cast<uint64_t>((static_cast<u128>(draw) * n) >> 64);
}
// Uniform in [0, 1).
inline double unit(uint64_t draw) { return static_cast<double>(draw >> 11) * 0x1p-53; }

inline double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

uint32_t default_threads() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<uint32_t>(n);
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

// Position words: a position index, bit 31 for a negated binary literal.
constexpr uint32_t kNeg = 0x80000000u;

struct PosData {
    int64_t lo = 0;
    int64_t hi = 1;
    uint64_t range = 1;
    MoveKind kind = MoveKind::Binary;
    uint32_t steps = 0;
    bool has_weight = false;
    double weight = 0.0;
    int64_t lin = 0;  // degree-1 coefficients
    int64_t sq = 0;   // coefficients of x * x
    uint64_t quad_begin = 0, quad_end = 0;
    uint64_t high_begin = 0, high_end = 0;
    uint64_t cons_begin = 0, cons_end = 0;
};

struct QuadEntry {
    uint32_t pos;
    coeff_t coeff;
};

struct ConsEntry {
    uint32_t cons;
    coeff_t coeff;       // linear coefficient of the position (0 when only nonlinear)
    uint32_t nonlinear;  // the position also occurs in a nonlinear body term
};

struct ConsData {
    const NativeCons* rec = nullptr;
    std::vector<uint32_t> vars;     // positions of the linear part
    std::vector<uint32_t> nl_vars;  // position words of the nonlinear terms
};

// The Model in the shape the moves need: per position its move set and the terms and
// constraints that contain it. Quadratic terms between two positions are kept as neighbour
// lists, so their part of a change comes from a maintained local field.
struct Problem {
    const ModelImpl& m;
    uint32_t nbin;
    uint64_t nint;
    uint64_t positions;
    uint64_t words;
    uint64_t move_count = 0;
    std::vector<PosData> pos;
    std::vector<QuadEntry> quad;
    std::vector<uint64_t> high_ids;
    std::vector<int64_t> term_coeff;
    std::vector<uint64_t> term_off{0};
    std::vector<uint32_t> term_pos;
    std::vector<ConsEntry> cons_entries;
    std::vector<ConsData> cons;
    uint64_t max_cons_per_pos = 0;

    explicit Problem(const ModelImpl& model)
        : m(model),
          nbin(model.var_count()),
          nint(model.int_count()),
          positions(uint64_t{model.var_count()} + model.int_count()),
          words(word_count(model.var_count())),
          pos(positions) {
        for (uint64_t a = 0; a < nint; ++a) {
            PosData& p = pos[nbin + a];
            p.lo = m.int_lower[a];
            p.hi = m.int_upper[a];
            p.range = u(p.hi) - u(p.lo);
            const VarMoves mv = int_var_moves(p.lo, p.hi);
            p.kind = mv.kind;
            p.steps = mv.steps;
            p.has_weight = mv.has_weight;
            p.weight = mv.weight;
            move_count += mv.moves;
        }
        move_count += nbin;
        build_terms();
        build_constraints();
    }

    uint32_t position_word(uint32_t w) const {
        if (w & kAtomBit) return static_cast<uint32_t>(nbin + (w & kIndexMask));
        return w;  // model index, bit 31 kept
    }

    void build_terms() {
        std::vector<uint64_t> quad_count(positions, 0), high_count(positions, 0);
        std::vector<std::pair<uint32_t, uint32_t>> pairs;
        std::vector<coeff_t> pair_coeff;
        for (uint32_t d = 1; d <= m.max_degree; ++d) {
            const uint32_t* tv = m.term_vars[d - 1].data();
            const coeff_t* cf = m.coeff_array[d - 1].data();
            for (uint64_t t = 0; t < m.term_count[d - 1]; ++t) {
                if (cf[t] == 0) continue;
                const uint32_t* w = tv + t * d;
                if (d == 1 && !(w[0] & kNegBit)) {
                    PosData& p = pos[position_word(w[0])];
                    p.lin = s(u(p.lin) + u(cf[t]));
                    continue;
                }
                if (d == 2 && !((w[0] | w[1]) & kNegBit)) {
                    const uint32_t a = position_word(w[0]), b = position_word(w[1]);
                    if (a == b) {
                        pos[a].sq = s(u(pos[a].sq) + u(cf[t]));
                    } else {
                        pairs.emplace_back(a, b);
                        pair_coeff.push_back(cf[t]);
                        ++quad_count[a];
                        ++quad_count[b];
                    }
                    continue;
                }
                term_coeff.push_back(cf[t]);
                const uint64_t first = term_pos.size();
                for (uint32_t k = 0; k < d; ++k) {
                    const uint32_t pw = position_word(w[k]);
                    term_pos.push_back(pw);
                    bool seen = false;
                    for (uint64_t j = first; j + 1 < term_pos.size(); ++j)
                        seen = seen || ((term_pos[j] & ~kNeg) == (pw & ~kNeg));
                    if (!seen) ++high_count[pw & ~kNeg];
                }
                term_off.push_back(term_pos.size());
            }
        }
        uint64_t q = 0, h = 0;
        for (uint64_t i = 0; i < positions; ++i) {
            pos[i].quad_begin = pos[i].quad_end = q;
            pos[i].high_begin = pos[i].high_end = h;
            q += quad_count[i];
            h += high_count[i];
        }
        quad.resize(q);
        high_ids.resize(h);
        for (size_t k = 0; k < pairs.size(); ++k) {
            const auto [a, b] = pairs[k];
            quad[pos[a].quad_end++] = {b, pair_coeff[k]};
            quad[pos[b].quad_end++] = {a, pair_coeff[k]};
        }
        for (uint64_t t = 0; t + 1 < term_off.size(); ++t) {
            for (uint64_t k = term_off[t]; k < term_off[t + 1]; ++k) {
                const uint32_t p = term_pos[k] & ~kNeg;
                bool seen = false;
                for (uint64_t j = term_off[t]; j < k; ++j)
                    seen = seen || ((term_pos[j] & ~kNeg) == p);
                if (!seen) high_ids[pos[p].high_end++] = t;
            }
        }
    }

    void build_constraints() {
        const uint64_t nc = m.native_cons.size();
        cons.resize(nc);
        // Per constraint, one entry per position it contains: the summed linear coefficient
        // and whether the position also occurs nonlinearly (or negated).
        std::vector<std::vector<std::pair<uint32_t, ConsEntry>>> lists(nc);
        std::vector<uint64_t> slot(positions, UINT64_MAX), count(positions, 0);
        for (uint64_t c = 0; c < nc; ++c) {
            const NativeCons& rec = m.native_cons[c];
            ConsData& cd = cons[c];
            cd.rec = &rec;
            auto& list = lists[c];
            auto entry = [&](uint32_t p) -> ConsEntry& {
                if (slot[p] == UINT64_MAX) {
                    slot[p] = list.size();
                    list.push_back({p, ConsEntry{static_cast<uint32_t>(c), 0, 0}});
                }
                return list[slot[p]].second;
            };
            for (size_t k = 0; k < rec.vars.size(); ++k) {
                const uint32_t pw = position_word(rec.vars[k]);
                cd.vars.push_back(pw);
                ConsEntry& e = entry(pw & ~kNeg);
                e.coeff = static_cast<coeff_t>(static_cast<uint32_t>(e.coeff) +
                                               static_cast<uint32_t>(rec.coeffs[k]));
                if (pw & kNeg) e.nonlinear = 1;
            }
            for (uint32_t w : rec.nl_vars) {
                const uint32_t pw = position_word(w);
                cd.nl_vars.push_back(pw);
                entry(pw & ~kNeg).nonlinear = 1;
            }
            for (const auto& [p, e] : list) {
                slot[p] = UINT64_MAX;
                ++count[p];
            }
        }
        uint64_t off = 0;
        for (uint64_t i = 0; i < positions; ++i) {
            pos[i].cons_begin = pos[i].cons_end = off;
            off += count[i];
            max_cons_per_pos = std::max(max_cons_per_pos, count[i]);
        }
        cons_entries.resize(off);
        for (const auto& list : lists) {
            for (const auto& [p, e] : list) cons_entries[pos[p].cons_end++] = e;
        }
    }
};

// What the workers and the submitter share: options, the kept list and best state under one
// lock, the stop conditions and the counters.
struct Shared {
    const ModelImpl& m;
    IntSearchOpts& opts;
    const Problem& pr;
    ModelHandle handle;  // for the Sols handed to the host callback
    Clock::time_point start;
    Clock::time_point deadline;
    bool has_deadline = true;

    std::mutex lock;
    Keeper keeper;
    double timer_interval = 0.0;  // seconds; 0: off
    Clock::time_point last_timer;

    std::atomic<bool> done{false};
    std::atomic<bool> has_best{false};
    std::atomic<int64_t> best_energy{0};
    std::atomic<uint64_t> rounds{0};
    std::atomic<uint64_t> proposals{0};
    std::atomic<uint64_t> submissions{0};

    Shared(const ModelImpl& model, IntSearchOpts& o, const Problem& p, Clock::time_point t0)
        : m(model),
          opts(o),
          pr(p),
          handle(o.model ? o.model : ModelHandle(ModelHandle(), &model)),
          start(t0),
          keeper(o.topk, o.best_energy_sols, o.best_energy_limit),
          last_timer(t0) {
        const double limit = o.time_limit;
        if (!(limit > 0.0)) {
            deadline = t0;
        } else if (limit > 1e9) {
            has_deadline = false;
        } else {
            deadline = t0 + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(limit));
        }
    }

    bool should_stop() const {
        if (done.load(std::memory_order_relaxed)) return true;
        if (opts.stop != nullptr && opts.stop->load(std::memory_order_relaxed) != 0) return true;
        return has_deadline && Clock::now() >= deadline;
    }

    dalo_sol* make_sol(const int64_t* vals, energy_t energy, double tts) const {
        PodArray<uint64_t> bits(pr.words, 0);
        pack_bits(vals, pr.nbin, bits.data());
        auto* sol = new SolImpl(handle, energy, std::move(bits), tts);
        sol->int_vals.assign(vals + pr.nbin, vals + pr.positions);
        return wrap(sol);
    }

    dalo_sol* start_sol() const {
        auto* sol = new SolImpl(handle);
        sol->tts = 0.0;
        return wrap(sol);
    }

    // Calls the host callback (under the lock) and applies its answer to the timer.
    void call_host(dalo_sol* sol, uint32_t event) {
        const double answer = opts.callback(opts.callback_context, sol, event);
        if (answer > 0.0) {
            // Switching the timer on starts its interval now.
            if (timer_interval <= 0.0) last_timer = Clock::now();
            timer_interval = answer;
        } else if (answer == 0.0) {
            timer_interval = 0.0;
        }
    }

    void print_progress(const StateEval& ev, double tts) const {
        char line[160];
        int n = std::snprintf(line, sizeof line, "TTS = %.3fs Energy = %" PRId64, tts, ev.energy);
        if (!m.native_cons.empty()) {
            n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), " Obj = %" PRId64,
                               s(u(ev.energy) - u(ev.penalty)));
            if (ev.counted > 0) {
                std::snprintf(line + n, sizeof line - static_cast<size_t>(n),
                              " Viol = %" PRIu64 "/%" PRIu64, ev.violated, ev.counted);
            }
        }
        std::printf("%s\n", line);
        std::fflush(stdout);
    }

    void offer(const int64_t* vals, energy_t energy) {
        std::lock_guard<std::mutex> g(lock);
        const double tts = seconds_since(start);
        if (!keeper.offer(vals, pr.positions, energy, tts)) return;
        best_energy.store(energy, std::memory_order_relaxed);
        has_best.store(true, std::memory_order_release);
        if (opts.default_callback || (opts.has_target && energy <= opts.target)) {
            const StateEval ev = evaluate_state(m, vals);
            if (opts.default_callback) print_progress(ev, tts);
            if (opts.has_target && energy <= opts.target && ev.violated == 0) done.store(true);
        }
        if (opts.callback != nullptr) call_host(make_sol(vals, energy, tts), 1);
    }

    // Copies the best state into vals; false when there is none yet.
    bool copy_best(std::vector<int64_t>& vals) {
        std::lock_guard<std::mutex> g(lock);
        if (!keeper.has_best()) return false;
        vals = keeper.best().vals;
        return true;
    }

    void timer_tick() {
        std::lock_guard<std::mutex> g(lock);
        if (timer_interval <= 0.0) return;
        const Clock::time_point now = Clock::now();
        if (std::chrono::duration<double>(now - last_timer).count() < timer_interval) return;
        last_timer = now;
        const KeptState& b = keeper.best();
        call_host(keeper.has_best() ? make_sol(b.vals.data(), b.energy, b.tts) : start_sol(), 2);
    }
};

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

// Random choices shared by the workers and the submitter.
class Mover {
  public:
    Mover(const Problem& p, uint64_t seed) : pr_(p), rng_(seed) {}

    uint64_t draw() { return rng_(); }

    void random_state(std::vector<int64_t>& vals) {
        for (uint64_t i = 0; i < pr_.positions; ++i) {
            const PosData& d = pr_.pos[i];
            const uint64_t r = rng_();
            vals[i] = i < pr_.nbin ? s(r & 1)
                                   : s(u(d.lo) + (d.range == UINT64_MAX ? r : r % (d.range + 1)));
        }
    }

    // A move at a random position; false when the draw is no move.
    bool propose(const std::vector<int64_t>& vals, uint64_t& p, int64_t& n) {
        p = below(rng_(), pr_.positions);
        return move_at(vals, p, n);
    }

    bool move_at(const std::vector<int64_t>& vals, uint64_t p, int64_t& n) {
        const PosData& d = pr_.pos[p];
        const int64_t o = vals[p];
        switch (d.kind) {
            case MoveKind::Binary:
                n = 1 - o;
                return true;
            case MoveKind::Small:
                n = s(u(d.lo) + rng_() % (d.range + 1));
                return n != o;
            case MoveKind::Stepped: {
                const uint64_t r = rng_();
                return shift(d, o, uint64_t{1} << ((r >> 1) % d.steps), r & 1, n);
            }
        }
        return false;
    }

    // Changes each position with probability p (every position when p >= 1).
    void kick(std::vector<int64_t>& vals, double p) {
        for (uint64_t i = 0; i < pr_.positions; ++i) {
            if (p < 1.0 && unit(rng_()) >= p) continue;
            kick_one(vals, i);
        }
    }

    void kick_one(std::vector<int64_t>& vals, uint64_t i) {
        const PosData& d = pr_.pos[i];
        switch (d.kind) {
            case MoveKind::Binary:
                vals[i] = 1 - vals[i];
                return;
            case MoveKind::Small:
                vals[i] = s(u(d.lo) + rng_() % (d.range + 1));
                return;
            case MoveKind::Stepped: {
                const bool up = rng_() & 1;
                uint64_t dist;
                if (d.has_weight && rng_() % 10 != 0) {
                    const double x = (static_cast<double>(rng_() >> 11) + 0.5) * 0x1p-53;
                    const double jump = std::floor(std::log(x) / d.weight) + 1.0;
                    if (!(jump <= 9e18)) return;
                    dist = static_cast<uint64_t>(jump);
                } else {
                    dist = uint64_t{1} << (rng_() % d.steps);
                }
                int64_t n;
                if (shift(d, vals[i], dist, up, n)) vals[i] = n;
                return;
            }
        }
    }

    static bool shift(const PosData& d, int64_t o, uint64_t dist, bool up, int64_t& n) {
        if (up) {
            if (u(d.hi) - u(o) < dist) return false;
            n = s(u(o) + dist);
        } else {
            if (u(o) - u(d.lo) < dist) return false;
            n = s(u(o) - dist);
        }
        return true;
    }

  private:
    const Problem& pr_;
    std::mt19937_64 rng_;
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

// Feeds the integer GPU engine batches of start states and offers the verified results.
//
// The pool keeps up to kPoolSize distinct verified states in ascending energy, each tagged
// with the construction kind of the slot it came from (fresh random slots count as kind 0).
// Slots 2 to 7 are built by one of four kinds:
//   0  perturbed copy: the better of two random pool states, each position changed with
//      probability (stale + 2) / positions, where stale counts the batches since the pool's
//      best last improved;
//   1  uniform crossover: each position from one of two distinct pool states;
//   2  segment crossover: a cyclic run of positions from one distinct pool state, the rest
//      from another;
//   3  elite nudge: the pool's best state with 1 + stale mod 4 single moves.
// The kind comes with probability 19/20 from the tag of a random pool entry, so kinds that
// produce improvements are used more; otherwise it is drawn uniformly.
class Submitter {
  public:
    static constexpr uint32_t kBatch = 8;
    static constexpr size_t kPoolSize = 32;

    explicit Submitter(Shared& sh)
        : sh_(sh),
          pr_(sh.pr),
          mover_(sh.pr, sh.opts.seed ^ 0xA24BAED4963EE407ull),
          start_bits_(kBatch * pr_.words),
          start_ints_(kBatch * pr_.nint),
          out_bits_(kBatch * pr_.words),
          out_ints_(kBatch * pr_.nint),
          vals_(pr_.positions) {}

    void run() {
        const IntSearchOpts& o = sh_.opts;
        if (o.hint_bits != nullptr && o.gpu_hint != nullptr)
            o.gpu_hint(o.gpu_engine, o.hint_bits, o.hint_ints);
        std::vector<uint64_t> hbits(pr_.words);
        std::vector<int64_t> hints(pr_.nint);
        while (!sh_.should_stop()) {
            if (o.hint_fetch != nullptr &&
                o.hint_fetch(o.hint_context, 1, hbits.data(), hints.data()) &&
                o.gpu_hint != nullptr)
                o.gpu_hint(o.gpu_engine, hbits.data(), hints.data());
            uint32_t kinds[kBatch];
            for (uint32_t slot = 0; slot < kBatch; ++slot) {
                kinds[slot] = slot < 2 ? 0 : build(vals_);
                if (slot < 2) mover_.random_state(vals_);
                pack_bits(vals_.data(), pr_.nbin, start_bits_.data() + slot * pr_.words);
                std::copy(vals_.begin() + pr_.nbin, vals_.end(),
                          start_ints_.begin() + static_cast<ptrdiff_t>(slot * pr_.nint));
            }
            energy_t energies[kBatch] = {};
            uint8_t improved[kBatch] = {};
            if (o.gpu_round(o.gpu_engine, start_bits_.data(), start_ints_.data(), kBatch,
                            out_bits_.data(), out_ints_.data(), energies, improved) != 0)
                break;
            ++sh_.submissions;
            const bool had_pool = !pool_.empty();
            const energy_t pool_best = had_pool ? pool_.front().energy : 0;
            for (uint32_t slot = 0; slot < kBatch; ++slot) {
                if (improved[slot] != 0) take(slot, energies[slot], kinds[slot]);
            }
            if (!pool_.empty() && (!had_pool || pool_.front().energy < pool_best))
                stale_ = 0;
            else
                ++stale_;
        }
    }

  private:
    struct Entry {
        energy_t energy;
        uint32_t kind;
        std::vector<int64_t> vals;
    };

    // Verifies a returned state, keeps it in the pool and offers it.
    void take(uint32_t slot, energy_t energy, uint32_t kind) {
        unpack_state(pr_.nbin, pr_.nint, out_bits_.data() + slot * pr_.words,
                     out_ints_.data() + slot * pr_.nint, vals_.data());
        bool in_bounds = true;
        for (uint64_t i = pr_.nbin; i < pr_.positions; ++i)
            in_bounds = in_bounds && vals_[i] >= pr_.pos[i].lo && vals_[i] <= pr_.pos[i].hi;
        if (!in_bounds || evaluate_state(pr_.m, vals_.data()).energy != energy)
            fatal(sh_.opts.name + ": internal error — GPU integer engine energy mismatch.");
        remember(energy, kind);
        if (!has_best_ || energy < best_ || (sh_.opts.best_energy_sols && energy == best_)) {
            has_best_ = true;
            best_ = energy;
            sh_.offer(vals_.data(), energy);
        }
    }

    void remember(energy_t energy, uint32_t kind) {
        for (const Entry& e : pool_) {
            if (e.energy == energy && e.vals == vals_) return;
        }
        if (pool_.size() >= kPoolSize && energy >= pool_.back().energy) return;
        auto at = std::upper_bound(pool_.begin(), pool_.end(), energy,
                                   [](energy_t x, const Entry& e) { return x < e.energy; });
        pool_.insert(at, Entry{energy, kind, vals_});
        if (pool_.size() > kPoolSize) pool_.pop_back();
    }

    // Builds a slot's start state into v; returns its construction kind.
    uint32_t build(std::vector<int64_t>& v) {
        const uint64_t n = pool_.size();
        uint32_t kind = static_cast<uint32_t>(mover_.draw() % 4);
        if (n > 0 && mover_.draw() % 20 != 0) kind = pool_[below(mover_.draw(), n)].kind;
        const uint64_t positions = pr_.positions;
        if (n == 0 || (n < 2 && (kind == 1 || kind == 2)) || positions == 0) {
            mover_.random_state(v);
            return kind;
        }
        switch (kind) {
            case 0: {
                const uint64_t a = below(mover_.draw(), n), b = below(mover_.draw(), n);
                v = pool_[std::min(a, b)].vals;
                const double p = static_cast<double>(stale_ + 2) / static_cast<double>(positions);
                mover_.kick(v, p);
                break;
            }
            case 1:
            case 2: {
                const uint64_t a = below(mover_.draw(), n);
                uint64_t b = below(mover_.draw(), n - 1);
                if (b >= a) ++b;
                const std::vector<int64_t>& x = pool_[a].vals;
                const std::vector<int64_t>& y = pool_[b].vals;
                v = x;
                if (kind == 1) {
                    for (uint64_t i = 0; i < positions; ++i) {
                        if (mover_.draw() & 1) v[i] = y[i];
                    }
                } else {
                    const uint64_t first = below(mover_.draw(), positions);
                    const uint64_t len = 1 + below(mover_.draw(), positions);
                    for (uint64_t k = 0; k < len; ++k) {
                        const uint64_t i = (first + k) % positions;
                        v[i] = y[i];
                    }
                }
                break;
            }
            default: {
                v = pool_.front().vals;
                for (uint64_t k = 0; k < 1 + stale_ % 4; ++k) {
                    uint64_t p;
                    int64_t nv;
                    if (mover_.propose(v, p, nv)) v[p] = nv;
                }
                break;
            }
        }
        return kind;
    }

    Shared& sh_;
    const Problem& pr_;
    Mover mover_;
    std::vector<uint64_t> start_bits_;
    std::vector<int64_t> start_ints_;
    std::vector<uint64_t> out_bits_;
    std::vector<int64_t> out_ints_;
    std::vector<int64_t> vals_;
    std::vector<Entry> pool_;
    uint64_t stale_ = 0;
    bool has_best_ = false;
    energy_t best_ = 0;
};

std::string fixed6(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", v);
    return buf;
}

}  // namespace

IntSearchOpts int_search_options(const ParamList& params, const std::string& name) {
    IntSearchOpts o;
    o.name = name;
    o.seed = std::random_device{}();
    o.threads = default_threads();
    for (const auto& [key, value] : params.items()) {
        if (key == "time_limit") {
            o.time_limit = std::strtod(value.c_str(), nullptr);
        } else if (key == "target_energy") {
            o.target = parse_param_int(value);
            o.has_target = true;
        } else if (key == "seed") {
            o.seed = parse_param_uint(value);
        } else if (key == "threads") {
            const uint64_t n = parse_param_uint(value);
            if (n == 0) fatal(name + ": threads must be >= 1.");
            o.threads = static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX));
        } else if (key == "topk_sols") {
            o.topk = parse_param_uint(value);
            if (o.topk == 0) fatal(name + ": topk_sols must be >= 1.");
        } else if (key == "best_energy_sols") {
            o.best_energy_sols = true;
            o.best_energy_limit =
                !value.empty() && value[0] >= '0' && value[0] <= '9' ? parse_param_uint(value) : 0;
        } else if (key == "enable_default_callback") {
            o.default_callback = value == "1" || value == "true" || value == "True";
        } else {
            fatal(name + ": parameter '" + key +
                  "' is not supported for native integer models yet.");
        }
    }
    return o;
}

void set_int_hint(IntSearchOpts& opts, const ModelImpl& m, const uint64_t* bits,
                  const int64_t* ints, uint64_t count) {
    if (bits == nullptr) return;
    if (count != m.int_count()) fatal(opts.name + ": hint integer-variable count mismatch.");
    for (uint64_t a = 0; a < count; ++a) {
        if (ints[a] < m.int_lower[a] || ints[a] > m.int_upper[a])
            fatal(opts.name + ": hint value outside the integer variable's bounds.");
    }
    opts.hint_bits = bits;
    opts.hint_ints = ints;
}

SolverResult brisk_int_search(const ModelImpl& m, IntSearchOpts& opts) {
    const Clock::time_point start = Clock::now();
    const Problem pr(m);
    Shared sh(m, opts, pr, start);
    const bool gpu = opts.gpu_engine != nullptr && opts.gpu_round != nullptr;
    const uint32_t threads = std::max(1u, opts.threads);

    if (opts.callback != nullptr) {
        std::lock_guard<std::mutex> g(sh.lock);
        sh.call_host(sh.start_sol(), 0);
    }

    std::thread submitter;
    if (threads < 2 && opts.callback == nullptr) {
        if (gpu) submitter = std::thread([&sh] { Submitter(sh).run(); });
        Worker(sh, 0).run();
        if (gpu) submitter.join();
    } else {
        std::mutex finish_lock;
        std::condition_variable finished_cv;
        uint32_t finished = 0;
        const uint32_t total = threads + (gpu ? 1 : 0);
        auto finish = [&] {
            std::lock_guard<std::mutex> g(finish_lock);
            ++finished;
            finished_cv.notify_all();
        };
        std::vector<std::thread> pool;
        pool.reserve(threads);
        for (uint32_t w = 0; w < threads; ++w) {
            pool.emplace_back([&sh, &finish, w] {
                Worker(sh, w).run();
                finish();
            });
        }
        if (gpu) {
            submitter = std::thread([&sh, &finish] {
                Submitter(sh).run();
                finish();
            });
        }
        for (;;) {
            std::unique_lock<std::mutex> lk(finish_lock);
            if (finished_cv.wait_for(lk, std::chrono::milliseconds(20),
                                     [&] { return finished == total; }))
                break;
            lk.unlock();
            if (opts.callback != nullptr) sh.timer_tick();
        }
        for (std::thread& t : pool) t.join();
        if (gpu) submitter.join();
    }
    const double run_time = seconds_since(start);

    if (!sh.keeper.has_best())
        fatal(opts.name + ": internal error — integer engine produced no solution.");
    const KeptState& best = sh.keeper.best();
    if (evaluate_state(m, best.vals.data()).energy != best.energy)
        fatal(opts.name + ": internal error — best-state energy mismatch in integer engine.");

    SolverResult r;
    r.energy = best.energy;
    r.tts = best.tts;
    r.scale = 1.0;
    r.bits = PodArray<uint64_t>(pr.words, 0);
    pack_bits(best.vals.data(), pr.nbin, r.bits.data());
    r.int_values.assign(best.vals.begin() + pr.nbin, best.vals.end());
    for (const KeptState& k : sh.keeper.kept()) {
        TopkEntry e;
        e.energy = k.energy;
        e.tts = k.tts;
        e.bits = PodArray<uint64_t>(pr.words, 0);
        pack_bits(k.vals.data(), pr.nbin, e.bits.data());
        e.int_values.assign(k.vals.begin() + pr.nbin, k.vals.end());
        r.topk.push_back(std::move(e));
    }
    r.add_info("run_time", fixed6(run_time));
    r.add_info("threads", std::to_string(opts.threads));
    r.add_info("rounds", std::to_string(sh.rounds.load()));
    r.add_info("proposals", std::to_string(sh.proposals.load()));
    r.add_info("engine", gpu ? "integer-cpu+gpu" : "integer-cpu");
    append_system_info(r.info);

    if (gpu && std::getenv("DALO_KELP_INT_DEBUG") != nullptr) {
        std::fprintf(stderr, "[kelp-int-gpu] rounds=%" PRIu64 " submissions=%" PRIu64 "\n",
                     sh.rounds.load(), sh.submissions.load());
        std::fflush(stderr);
    }
    return r;
}

}  // namespace dalo

// Move sets, the from-scratch energy of a state, bit packing and the kept list.
#include "solvers/int_engine/detail.hpp"

#include <algorithm>
#include <cmath>

#include "model/sol.hpp"
#include "solvers/result.hpp"

namespace dalo {

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

}  // namespace dalo

// Building the search's view of a Model: move sets, neighbour lists of the quadratic terms,
// the higher-degree terms and the constraints of each position.
#include "solvers/int_engine/setup.hpp"

#include <algorithm>

#include "solvers/result.hpp"

namespace dalo::int_detail {

Problem::Problem(const ModelImpl& model)
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

void Problem::build_terms() {
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
            for (uint64_t j = term_off[t]; j < k; ++j) {
                seen = seen || ((term_pos[j] & ~kNeg) == p);
            }
            if (!seen) high_ids[pos[p].high_end++] = t;
        }
    }
}

void Problem::build_constraints() {
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

}  // namespace dalo::int_detail

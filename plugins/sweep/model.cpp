#include "model.hpp"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numeric>

namespace sweep {

__extension__ using i128 = __int128;

namespace {

inline int64_t literal(uint32_t w, u64 bits) {
    return static_cast<int64_t>(((bits >> (w & 0x7FFFFFFFu)) & 1) ^ (w >> 31));
}

inline int64_t product(int64_t coeff, const uint32_t* w, size_t n, u64 bits) {
    for (size_t k = 0; k < n; ++k) {
        if (literal(w[k], bits) == 0) return 0;
    }
    return coeff;
}

}  // namespace

int64_t raw_energy(const RawModel& m, u64 bits) {
    const plugin_common::Objective& o = m.objective;
    int64_t e = o.constant;
    for (uint32_t d = 1; d <= o.max_degree; ++d) {
        const int32_t* cf = o.coeffs[d - 1];
        const uint32_t* tv = o.vars[d - 1];
        for (uint64_t t = 0; t < o.counts[d - 1]; ++t)
            e = wrap_add(e, product(cf[t], tv + t * d, d, bits));
    }
    for (const RawCons& c : m.cons) {
        int64_t v = c.constant;
        for (size_t k = 0; k < c.vars.size(); ++k)
            v = wrap_add(v, wrap_mul(c.coeffs[k], literal(c.vars[k], bits)));
        for (size_t t = 0; t < c.nl_coeffs.size(); ++t) {
            const uint64_t begin = c.nl_head[t], end = c.nl_head[t + 1];
            v = wrap_add(v, product(c.nl_coeffs[t], c.nl_vars.data() + begin, end - begin, bits));
        }
        e = wrap_add(e, penalty(c.weight, c.exponent, c.lower, c.upper, c.set_lo.data(),
                                c.set_hi.data(), c.set_lo.size(), v));
    }
    return e;
}

namespace {

// A product of literals as masks over model indices.
struct Literals {
    u64 pos = 0, neg = 0;
};

Literals literals(const uint32_t* w, size_t n, uint32_t nvars) {
    Literals l;
    for (size_t k = 0; k < n; ++k) {
        const uint32_t index = w[k] & 0x7FFFFFFFu;
        if (index >= nvars) {
            fatal("SweepSolver: variable word " + std::to_string(w[k]) + " outside the " +
                  std::to_string(nvars) + " variables of the Model");
        }
        (w[k] >> 31 ? l.neg : l.pos) |= u64{1} << index;
    }
    return l;
}

// Calls f(coeff, monomial) for the expansion of coeff * product(literals) into products of
// plain variables: 1 - x is multiplied out.
template <class F>
void expand(u64 coeff, Literals l, F f) {
    // Each subset of the negated literals contributes (-1)^|subset| times its product.
    for (u64 sub = l.neg;; sub = (sub - 1) & l.neg) {
        const u64 c = (std::popcount(sub) & 1) ? 0 - coeff : coeff;
        f(c, l.pos | sub);
        if (sub == 0) break;
    }
}

// An objective or a constraint body split by degree, over model indices.
struct Split {
    u64 constant = 0;
    std::vector<u64> linear;
    std::vector<u64> pair;  // [a * n + b], a < b (objective only)
    std::vector<MaskTerm> rest;
    uint32_t n = 0;
    uint32_t keep_plain;  // up to this many variables become constant/linear/pair parts

    Split(uint32_t nvars, uint32_t plain) : linear(nvars, 0), n(nvars), keep_plain(plain) {
        if (plain >= 2) pair.assign(size_t{nvars} * nvars, 0);
    }

    void add(int64_t coeff, Literals l) {
        const u64 c = static_cast<u64>(coeff);
        if (c == 0 || (l.pos & l.neg) != 0) return;  // x * ~x is 0
        if (static_cast<uint32_t>(std::popcount(l.pos | l.neg)) > keep_plain) {
            rest.push_back({c, l.pos, l.neg});
            return;
        }
        expand(c, l, [&](u64 k, u64 mono) {
            const int deg = std::popcount(mono);
            if (deg == 0) {
                constant += k;
            } else if (deg == 1) {
                linear[std::countr_zero(mono)] += k;
            } else {
                const int a = std::countr_zero(mono), b = 63 - std::countl_zero(mono);
                pair[size_t(a) * n + size_t(b)] += k;
            }
        });
    }
};

}  // namespace

Compiled compile(const RawModel& m) {
    const uint32_t n = m.n;
    Split obj(n, 2);
    const plugin_common::Objective& o = m.objective;
    obj.constant = static_cast<u64>(o.constant);
    for (uint32_t d = 1; d <= o.max_degree; ++d) {
        const int32_t* cf = o.coeffs[d - 1];
        const uint32_t* tv = o.vars[d - 1];
        for (uint64_t t = 0; t < o.counts[d - 1]; ++t) obj.add(cf[t], literals(tv + t * d, d, n));
    }
    std::vector<Split> bodies;
    for (const RawCons& c : m.cons) {
        Split& b = bodies.emplace_back(n, 1);
        b.constant = static_cast<u64>(c.constant);
        for (size_t k = 0; k < c.vars.size(); ++k) b.add(c.coeffs[k], literals(&c.vars[k], 1, n));
        for (size_t t = 0; t < c.nl_coeffs.size(); ++t) {
            const uint64_t begin = c.nl_head[t], end = c.nl_head[t + 1];
            b.add(c.nl_coeffs[t], literals(c.nl_vars.data() + begin, end - begin, n));
        }
    }

    // The work a flip of each variable costs, roughly; cheap variables get low positions.
    std::vector<uint64_t> cost(n, 0);
    auto charge = [&](u64 mask, uint64_t amount) {
        for (; mask != 0; mask &= mask - 1) cost[std::countr_zero(mask)] += amount;
    };
    for (uint32_t a = 0; a < n; ++a) {
        for (uint32_t b = a + 1; b < n; ++b) {
            if (obj.pair[size_t(a) * n + b] != 0) charge((u64{1} << a) | (u64{1} << b), 1);
        }
    }
    for (const MaskTerm& t : obj.rest) charge(t.pos | t.neg, 2);
    for (const Split& b : bodies) {
        u64 support = 0;
        for (uint32_t i = 0; i < n; ++i) support |= u64{b.linear[i] != 0} << i;
        for (const MaskTerm& t : b.rest) {
            support |= t.pos | t.neg;
            charge(t.pos | t.neg, 2);
        }
        charge(support, 3);
    }

    Compiled c;
    c.n = n;
    c.model_of.resize(n);
    std::iota(c.model_of.begin(), c.model_of.end(), 0u);
    std::stable_sort(c.model_of.begin(), c.model_of.end(),
                     [&](uint32_t a, uint32_t b) { return cost[a] < cost[b]; });
    std::vector<uint32_t> pos_of(n);
    for (uint32_t p = 0; p < n; ++p) pos_of[c.model_of[p]] = p;
    for (uint32_t p = 0; p < n; ++p)
        c.to_model[p / 8][size_t{1} << (p % 8)] = u64{1} << c.model_of[p];
    for (int b = 0; b < 6; ++b) {
        for (unsigned v = 1; v < 256; ++v) {
            const unsigned low = v & (0u - v);
            c.to_model[b][v] = c.to_model[b][low] | c.to_model[b][v ^ low];
        }
    }
    auto to_pos = [&](u64 mask) {
        u64 out = 0;
        for (; mask != 0; mask &= mask - 1) out |= u64{1} << pos_of[std::countr_zero(mask)];
        return out;
    };
    auto remap = [&](MaskTerm t) { return MaskTerm{t.coeff, to_pos(t.pos), to_pos(t.neg)}; };

    c.constant = obj.constant;
    c.linear.resize(n);
    for (uint32_t p = 0; p < n; ++p) c.linear[p] = obj.linear[c.model_of[p]];
    c.quad_head.assign(n + 1, 0);
    c.low_coupling.assign(size_t{n} * kLowStates, 0);
    for (uint32_t p = 0; p < n; ++p) {
        for (uint32_t q = 0; q < n; ++q) {
            const uint32_t a = std::min(c.model_of[p], c.model_of[q]);
            const uint32_t b = std::max(c.model_of[p], c.model_of[q]);
            if (a == b || obj.pair[size_t(a) * n + b] == 0) continue;
            c.quad.push_back({obj.pair[size_t(a) * n + b], q});
            if (q < kLow) {
                for (uint32_t v = 0; v < kLowStates; ++v) {
                    if ((v >> q) & 1) c.low_coupling[p * kLowStates + v] += c.quad.back().coeff;
                }
            }
        }
        c.quad_head[p + 1] = static_cast<uint32_t>(c.quad.size());
    }
    for (const MaskTerm& t : obj.rest) c.higher.push_back(remap(t));
    c.higher_head.assign(n + 1, 0);
    for (uint32_t p = 0; p < n; ++p) {
        for (const MaskTerm& t : c.higher) {
            if (((t.pos | t.neg) >> p) & 1) c.higher_at.push_back(t);
        }
        c.higher_head[p + 1] = static_cast<uint32_t>(c.higher_at.size());
    }

    for (size_t k = 0; k < m.cons.size(); ++k) {
        const RawCons& rc = m.cons[k];
        const Split& b = bodies[k];
        CompiledCons cc{};
        cc.weight = rc.weight;
        cc.lower = rc.lower;
        cc.upper = rc.upper;
        cc.constant = static_cast<int64_t>(b.constant);
        cc.exponent = rc.exponent;
        cc.set_begin = static_cast<uint32_t>(c.set_lo.size());
        c.set_lo.insert(c.set_lo.end(), rc.set_lo.begin(), rc.set_lo.end());
        c.set_hi.insert(c.set_hi.end(), rc.set_hi.begin(), rc.set_hi.end());
        cc.set_end = static_cast<uint32_t>(c.set_lo.size());
        cc.lin_begin = static_cast<uint32_t>(c.cons_lin_pos.size());
        for (uint32_t p = 0; p < n; ++p) {
            if (b.linear[c.model_of[p]] == 0) continue;
            c.cons_lin_pos.push_back(p);
            c.cons_lin_coeff.push_back(b.linear[c.model_of[p]]);
        }
        cc.lin_end = static_cast<uint32_t>(c.cons_lin_pos.size());
        cc.nl_begin = static_cast<uint32_t>(c.cons_nl.size());
        for (const MaskTerm& t : b.rest) c.cons_nl.push_back(remap(t));
        cc.nl_end = static_cast<uint32_t>(c.cons_nl.size());
        // The body lies between its constant plus the negative and plus the positive
        // coefficients (each part is worth 0 or its coefficient).
        i128 lo = static_cast<int64_t>(b.constant), hi = lo;
        auto widen = [&](u64 coeff) {
            const auto v = static_cast<int64_t>(coeff);
            (v < 0 ? lo : hi) += v;
        };
        for (uint32_t j = cc.lin_begin; j < cc.lin_end; ++j) widen(c.cons_lin_coeff[j]);
        for (uint32_t j = cc.nl_begin; j < cc.nl_end; ++j) widen(c.cons_nl[j].coeff);
        cc.table_size = 0;
        if (hi - lo < static_cast<i128>(kMaxTable) && lo >= INT64_MIN && hi <= INT64_MAX) {
            cc.table_size = static_cast<uint64_t>(hi - lo) + 1;
            cc.table_begin = c.pen_table.size();
            cc.table_min = static_cast<u64>(static_cast<int64_t>(lo));
            for (uint64_t v = 0; v < cc.table_size; ++v)
                c.pen_table.push_back(static_cast<u64>(c.cons_penalty(cc, cc.table_min + v)));
        }
        c.cons.push_back(cc);
    }
    c.ref_head.assign(n + 1, 0);
    for (uint32_t p = 0; p < n; ++p) {
        const u64 bit = u64{1} << p;
        for (uint32_t k = 0; k < c.cons.size(); ++k) {
            const CompiledCons& cc = c.cons[k];
            ConsRef r{k, static_cast<uint32_t>(c.ref_terms.size()), 0,
                      bodies[k].linear[c.model_of[p]]};
            for (uint32_t t = cc.nl_begin; t < cc.nl_end; ++t) {
                if ((c.cons_nl[t].pos | c.cons_nl[t].neg) & bit)
                    c.ref_terms.push_back(c.cons_nl[t]);
            }
            r.term_end = static_cast<uint32_t>(c.ref_terms.size());
            if (r.linear != 0 || r.term_end != r.term_begin) c.refs.push_back(r);
        }
        c.ref_head[p + 1] = static_cast<uint32_t>(c.refs.size());
    }
    return c;
}

}  // namespace sweep

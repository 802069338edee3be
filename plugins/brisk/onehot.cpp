#include "onehot.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "common/assignment.hpp"

#include "state.hpp"

namespace brisk {

namespace {

// Whether c reads sum of x_v = 1 over distinct plain variables with unit coefficients.
bool is_group(const RawCons& c, std::vector<uint8_t>& seen) {
    if (!c.nl_coeffs.empty() || !c.set_lo.empty() || c.weight <= 0 || c.vars.empty()) return false;
    if (c.lower != c.upper || wrap_sub(c.lower, c.constant) != 1) return false;
    bool ok = true;
    for (size_t k = 0; k < c.vars.size() && ok; ++k) {
        const uint32_t v = c.vars[k];
        ok = (v & ~kIndexMask) == 0 && v < seen.size() && c.coeffs[k] == 1 && !seen[v];
        if (ok) seen[v] = 1;
    }
    for (size_t k = 0; k < c.vars.size(); ++k) {
        if ((c.vars[k] & ~kIndexMask) == 0 && c.vars[k] < seen.size()) seen[c.vars[k]] = 0;
    }
    return ok;
}

__extension__ typedef __int128 Wide;

int64_t saturate(Wide v) { return v > INT64_MAX ? INT64_MAX : v < 0 ? 0 : static_cast<int64_t>(v); }

// Each grouped variable's bound on what one flip away from a feasible state can gain, against
// the weight of its groups (count[v] of them: in[0][v], in[1][v]). The variables of one
// class (a group; in an assignment, a row, and in the second split a column) hold one 1
// between them, so only the largest (smallest) coupling to v per class can be on; free
// variables count each on their own. Each split gives a bound; the smaller holds.
void weigh(const Problem& p, const std::vector<uint32_t> (&in)[2],
           const std::vector<uint8_t>& count, Groups& g) {
    const uint32_t n = p.n();
    const std::vector<RawCons>& cons = p.constraints();
    std::vector<Wide> q(n, 0), hi(cons.size(), 0), lo(cons.size(), 0);
    std::vector<uint32_t> touched;
    std::vector<uint32_t> cls[2] = {in[0], {}};
    const int splits = g.side > 0 ? 2 : 1;
    if (g.side > 0) {
        cls[1].assign(n, 0);
        for (uint64_t k = 0; k < g.cell.size(); ++k) {
            if (g.cell[k] == UINT32_MAX) continue;
            cls[0][g.cell[k]] = static_cast<uint32_t>(k / g.side);
            cls[1][g.cell[k]] = static_cast<uint32_t>(k % g.side);
        }
    }
    Wide floor = 0, declared = -1;
    for (uint32_t v = 0; v < n; ++v) {
        if (count[v] == 0) continue;
        touched.clear();
        for (uint64_t k = p.adj_off[v]; k < p.adj_off[v + 1]; ++k) {
            const uint32_t u = p.adj[k].var;
            if (q[u] == 0) touched.push_back(u);
            q[u] += p.adj[k].coeff;
        }
        Wide need = -1;
        for (int side = 0; side < splits; ++side) {
            // Emptying v's groups saves lin + the couplings on; filling a second member costs
            // them.
            Wide gain_off = p.lin[v], gain_on = -Wide{p.lin[v]};
            for (uint32_t u : touched) {
                if (count[u] == 0) {
                    gain_off += std::max<Wide>(q[u], 0);
                    gain_on -= std::min<Wide>(q[u], 0);
                } else {
                    hi[cls[side][u]] = std::max(hi[cls[side][u]], q[u]);
                    lo[cls[side][u]] = std::min(lo[cls[side][u]], q[u]);
                }
            }
            for (uint32_t u : touched) {
                if (count[u] == 0) continue;
                gain_off += hi[cls[side][u]];
                gain_on -= lo[cls[side][u]];
                hi[cls[side][u]] = lo[cls[side][u]] = 0;
            }
            const Wide bound = std::max(gain_off, gain_on);
            need = need < 0 ? bound : std::min(need, bound);
        }
        for (uint32_t u : touched) q[u] = 0;
        Wide weight = cons[in[0][v]].weight;
        if (count[v] == 2) weight += cons[in[1][v]].weight;
        floor = std::max(floor, need < 0 ? Wide{0} : need / count[v] + 1);
        declared = declared < 0 ? weight / count[v] : std::min(declared, weight / count[v]);
        g.weights_hold = g.weights_hold && weight > need;
    }
    g.weight_floor = saturate(floor);
    g.weight_declared = saturate(declared);
}

// Largest variable count with a dense coupling table (32 MiB).
constexpr uint64_t kDenseVars = 2896;

}  // namespace

std::unique_ptr<Groups> find_groups(const Problem& p) {
    const std::vector<RawCons>& cons = p.constraints();
    if (cons.empty() || !p.products.empty()) return nullptr;
    const uint32_t n = p.n();
    std::vector<uint8_t> seen(n, 0), count(n, 0);
    std::vector<uint32_t> in[2] = {std::vector<uint32_t>(n, 0), std::vector<uint32_t>(n, 0)};
    for (size_t s = 0; s < cons.size(); ++s) {
        if (!is_group(cons[s], seen)) return nullptr;
        for (uint32_t v : cons[s].vars) {
            if (count[v] == 2) return nullptr;
            in[count[v]++][v] = static_cast<uint32_t>(s);
        }
    }
    auto g = std::make_unique<Groups>();
    g->count = cons.size();
    const uint8_t most = *std::max_element(count.begin(), count.end());
    for (uint32_t v = 0; v < n; ++v) {
        if (count[v] == 0) g->free.push_back(v);
        if (count[v] != 0 && count[v] != most) return nullptr;
    }
    if (most == 2) {
        const auto members = [&](size_t s) -> const std::vector<uint32_t>& { return cons[s].vars; };
        if (!plugin_common::as_assignment(cons.size(), members, in, count, g->side, g->cell))
            return nullptr;
    } else {
        g->off.push_back(0);
        for (const RawCons& c : cons) {
            g->members.insert(g->members.end(), c.vars.begin(), c.vars.end());
            g->off.push_back(g->members.size());
        }
    }
    g->index_couplings(p, kDenseVars);
    weigh(p, in, count, *g);
    return g;
}

GroupState::GroupState(const Problem& p, const Groups& g)
    : p_(p), g_(g), x_(p.n(), 0), field_(p.n(), 0), on_(g.side > 0 ? g.side : g.off.size() - 1, 0) {
    for (uint64_t k = 0; k + 1 < g.off.size(); ++k) {
        for (uint64_t m = g.off[k]; m < g.off[k + 1]; ++m)
            slot_group_.push_back(static_cast<uint32_t>(k));
    }
}

void GroupState::randomise(Rng& rng) {
    std::vector<uint8_t> x(p_.n(), 0);
    for (uint32_t v : g_.free) x[v] = rng() & 1;
    if (g_.side > 0) {
        std::vector<uint32_t> perm(g_.side);
        std::iota(perm.begin(), perm.end(), 0u);
        for (uint32_t k = g_.side; k > 1; --k) std::swap(perm[k - 1], perm[rng.below(k)]);
        for (uint32_t r = 0; r < g_.side; ++r) x[g_.cell[uint64_t{r} * g_.side + perm[r]]] = 1;
    } else {
        for (uint64_t k = 0; k + 1 < g_.off.size(); ++k)
            x[g_.members[g_.off[k] + rng.below(g_.off[k + 1] - g_.off[k])]] = 1;
    }
    assign(x.data());
}

bool GroupState::assign(const uint8_t* x) {
    const uint32_t side = g_.side;
    std::vector<uint32_t> on(on_.size(), UINT32_MAX);
    if (side > 0) {
        std::vector<uint8_t> col(side, 0);
        for (uint32_t r = 0; r < side; ++r) {
            for (uint32_t c = 0; c < side; ++c) {
                if (!(x[g_.cell[uint64_t{r} * side + c]] & 1)) continue;
                if (on[r] != UINT32_MAX || col[c]) return false;
                on[r] = c;
                col[c] = 1;
            }
            if (on[r] == UINT32_MAX) return false;
        }
    } else {
        for (uint64_t k = 0; k < on.size(); ++k) {
            for (uint64_t m = g_.off[k]; m < g_.off[k + 1]; ++m) {
                if (!(x[g_.members[m]] & 1)) continue;
                if (on[k] != UINT32_MAX) return false;
                on[k] = g_.members[m];
            }
            if (on[k] == UINT32_MAX) return false;
        }
    }
    on_ = on;
    const uint32_t n = p_.n();
    for (uint32_t v = 0; v < n; ++v) x_[v] = x[v] & 1;
    for (uint32_t v = 0; v < n; ++v) {
        int64_t f = p_.lin[v];
        for (uint64_t k = p_.adj_off[v]; k < p_.adj_off[v + 1]; ++k) {
            if (x_[p_.adj[k].var]) f = wrap_add(f, p_.adj[k].coeff);
        }
        field_[v] = f;
    }
    energy_ = p_.energy(x_.data());
    return true;
}

uint64_t GroupState::neighbourhood() const {
    const uint64_t side = g_.side;
    const uint64_t moves = side > 0 ? side * (side - 1) / 2 : g_.members.size() - on_.size();
    return moves + g_.free.size();
}

void Groups::index_couplings(const Problem& p, uint64_t dense_vars) {
    const uint64_t n = p.n();
    dense.clear();
    keys.clear();
    values.clear();
    bool fits = n <= dense_vars;
    if (fits) {
        dense.assign(n * n, 0);
        for (uint64_t a = 0; a < n && fits; ++a) {
            for (uint64_t k = p.adj_off[a]; k < p.adj_off[a + 1] && fits; ++k) {
                int32_t& c = dense[a * n + p.adj[k].var];
                const int64_t sum = int64_t{c} + p.adj[k].coeff;
                fits = sum >= INT32_MIN && sum <= INT32_MAX;
                c = static_cast<int32_t>(sum);
            }
        }
        if (fits) return;
        dense.clear();
    }
    uint64_t size = 2;
    shift = 63;
    while (size < p.adj.size() + 2) {
        size *= 2;
        --shift;
    }
    keys.assign(size, ~uint64_t{0});
    values.assign(size, 0);
    for (uint32_t a = 0; a < n; ++a) {
        for (uint64_t k = p.adj_off[a]; k < p.adj_off[a + 1]; ++k) {
            const uint32_t b = p.adj[k].var;
            if (b < a) continue;
            const uint64_t key = (uint64_t{a} << 32) | b;
            uint64_t h = slot(key);
            while (keys[h] != key && keys[h] != ~uint64_t{0}) h = (h + 1) & (size - 1);
            keys[h] = key;
            values[h] = wrap_add(values[h], p.adj[k].coeff);
        }
    }
}

int64_t GroupState::coupling(uint32_t a, uint32_t b) const { return g_.coupling(a, b, p_.n()); }

int64_t GroupState::exchange_delta(uint32_t r, uint32_t t) const {
    const uint64_t side = g_.side;
    const uint32_t a = g_.cell[r * side + on_[r]], b = g_.cell[t * side + on_[t]];
    const uint32_t c = g_.cell[r * side + on_[t]], d = g_.cell[t * side + on_[r]];
    // a and b go to 0, c and d to 1.
    int64_t e = wrap_sub(wrap_add(field_[c], field_[d]), wrap_add(field_[a], field_[b]));
    e = wrap_add(e, wrap_add(coupling(a, b), coupling(c, d)));
    e = wrap_sub(e, wrap_add(wrap_add(coupling(a, c), coupling(a, d)),
                             wrap_add(coupling(b, c), coupling(b, d))));
    return e;
}

void GroupState::exchange(uint32_t r, uint32_t t, int64_t delta) {
    const uint64_t side = g_.side;
    raw_flip(g_.cell[r * side + on_[r]]);
    raw_flip(g_.cell[t * side + on_[t]]);
    raw_flip(g_.cell[r * side + on_[t]]);
    raw_flip(g_.cell[t * side + on_[r]]);
    std::swap(on_[r], on_[t]);
    energy_ = wrap_add(energy_, delta);
}

int64_t GroupState::swap_delta(uint32_t g, uint32_t v) const {
    const uint32_t u = on_[g];
    if (u == v) return 0;
    return wrap_sub(wrap_sub(field_[v], field_[u]), coupling(u, v));
}

void GroupState::swap(uint32_t g, uint32_t v, int64_t delta) {
    if (on_[g] == v) return;
    raw_flip(on_[g]);
    raw_flip(v);
    on_[g] = v;
    energy_ = wrap_add(energy_, delta);
}

int64_t GroupState::flip_delta(uint32_t v) const { return sigma_field(v); }

void GroupState::flip(uint32_t v, int64_t delta) {
    raw_flip(v);
    energy_ = wrap_add(energy_, delta);
}

void GroupState::raw_flip(uint32_t v) {
    const bool up = x_[v] == 0;
    for (uint64_t k = p_.adj_off[v]; k < p_.adj_off[v + 1]; ++k) {
        const Neighbour& nb = p_.adj[k];
        field_[nb.var] =
            up ? wrap_add(field_[nb.var], nb.coeff) : wrap_sub(field_[nb.var], nb.coeff);
    }
    x_[v] ^= 1;
}

namespace {

// Annealing constants, chosen on QAPLIB and TSPLIB instances.
constexpr double kHot = 0.3;           // mean acceptance of an uphill move at the start temperature
constexpr double kCold = 0.002;        // and at the final one, measured at the end of the first run
constexpr double kReheat = 0.3;        // start temperature of a run from the best state, as a share
constexpr uint64_t kSweeps = 100;      // moves proposed in a run, times the neighbourhood,
constexpr uint64_t kSweepsPerRow = 4;  // or this many times the rows where that is more
constexpr int kSamples = 1000;         // moves that measure a temperature

struct Move {
    uint8_t kind = 0;  // 0 none, 1 exchange, 2 swap, 3 flip
    uint32_t a = 0, b = 0;
    int64_t delta = 0;
};

Move draw(const GroupState& st, const Groups& g, Rng& rng, uint64_t structured, uint64_t hood) {
    Move m;
    const uint64_t k = rng.below(hood);
    if (k >= structured) {
        m.kind = 3;
        m.a = g.free[k - structured];
        m.delta = st.flip_delta(m.a);
    } else if (g.side > 0) {
        m.kind = 1;
        m.a = static_cast<uint32_t>(rng.below(g.side));
        m.b = static_cast<uint32_t>(rng.below(g.side - 1));
        m.b += m.b >= m.a ? 1 : 0;
        m.delta = st.exchange_delta(m.a, m.b);
    } else {
        const uint64_t s = rng.below(g.members.size());
        m.a = st.group_of(s);
        m.b = g.members[s];
        if (st.on(m.a) == m.b) return m;
        m.kind = 2;
        m.delta = st.swap_delta(m.a, m.b);
    }
    return m;
}

void apply(GroupState& st, const Move& m) {
    if (m.kind == 1) st.exchange(m.a, m.b, m.delta);
    if (m.kind == 2) st.swap(m.a, m.b, m.delta);
    if (m.kind == 3) st.flip(m.a, m.delta);
}

// Whether one flip lowers the energy of x.
bool improvable(const Problem& p, const std::vector<uint8_t>& x) {
    State one(p);
    one.assign(x.data());
    const int64_t* d = one.delta();
    return std::any_of(d, d + p.n(), [](int64_t v) { return v < 0; });
}

}  // namespace

GroupSearchCounts group_search(const Problem& p, const Groups& g, Rng& rng, Sink& sink,
                               const uint8_t* start) {
    GroupSearchCounts out;
    GroupState st(p, g);
    if (start == nullptr || !st.assign(start)) st.randomise(rng);
    const uint32_t n = p.n();
    std::vector<uint8_t> best(st.x(), st.x() + n);
    int64_t best_e = st.energy();
    if (best_e <= sink.bar()) sink.offer(st.x(), best_e);
    const uint64_t hood = st.neighbourhood();
    const uint64_t structured = hood - g.free.size();
    if (hood == 0) {
        out.weak = improvable(p, best);
        return out;
    }
    const bool lists = sink.lists();
    // The temperature at which a random uphill move from the current state passes with the
    // given mean probability.
    auto temperature = [&](double acceptance) {
        std::vector<double> pos;
        for (int k = 0; k < kSamples; ++k) {
            const Move m = draw(st, g, rng, structured, hood);
            if (m.kind != 0 && m.delta > 0) pos.push_back(static_cast<double>(m.delta));
        }
        return acceptance_temperature(pos, static_cast<double>(pos.size()), acceptance);
    };
    const double hot = temperature(kHot);
    double cold = hot * 1e-3;
    // Larger assignments need slower cooling than their neighbourhood alone asks for (eil51
    // does best near 200 times it, kroA100 near 400).
    const uint64_t length = std::max<uint64_t>(kSweeps, kSweepsPerRow * g.side) * hood;
    for (;; ++out.runs) {
        double t0 = hot;
        if (out.runs > 0) {
            if (out.runs % 2 == 1) {
                st.assign(best.data());
                t0 = hot * kReheat;
            } else {
                st.randomise(rng);
            }
        }
        const double fall = std::log(cold / t0) / static_cast<double>(length);
        double temp = t0;
        for (uint64_t i = 0; i < length; ++i) {
            if ((i & 1023) == 0) {
                if (sink.stop()) return out;
                temp = t0 * std::exp(fall * static_cast<double>(i));
            }
            const Move m = draw(st, g, rng, structured, hood);
            ++out.proposed;
            if (m.kind == 0) continue;
            if (m.delta > 0 && static_cast<double>(m.delta) >= temp * -std::log1p(-rng.unit()))
                continue;
            apply(st, m);
            ++out.applied;
            const int64_t e = st.energy();
            if (e < best_e) {
                best_e = e;
                std::copy(st.x(), st.x() + n, best.begin());
                if (e <= sink.bar()) sink.offer(st.x(), e);
            } else if (lists && e <= sink.bar()) {
                sink.offer(st.x(), e);
            }
        }
        if (out.runs == 0) {
            out.weak = improvable(p, best);
            if (out.weak) return out;
            cold = std::min(temperature(kCold), hot);
        }
    }
}

}  // namespace brisk

#include "groups.hpp"

#include <algorithm>
#include <numeric>

#include "common/assignment.hpp"

namespace kelp {

namespace {

// Largest variable count with a dense coupling table (32 MiB).
constexpr uint64_t kDenseVars = 2896;

// The members of constraint c when it reads sum of x = 1 over distinct binaries; else empty.
std::vector<uint32_t> group_members(const Model& m, size_t c, const std::vector<uint64_t>& terms,
                                    std::vector<uint8_t>& seen) {
    const Constraint& k = m.constraint(c);
    std::vector<uint32_t> out;
    if (!k.set_lo.empty() || k.weight <= 0 || k.lower != k.upper ||
        wrap_sub(k.lower, k.constant) != 1)
        return out;
    bool ok = !terms.empty();
    for (uint64_t t : terms) {
        const uint32_t* l = m.lits_begin(t);
        ok = ok && m.lits_end(t) - l == 1 && m.term_coeff(t) == 1 && *l < m.nbin() && !seen[*l];
        if (!ok) break;
        seen[*l] = 1;
        out.push_back(*l);
    }
    for (uint32_t v : out) seen[v] = 0;
    if (!ok) out.clear();
    return out;
}

// The objective's linear part and pairs; false for negated literals or higher products.
bool objective_form(const Model& m, Groups& g) {
    const uint64_t n = m.nbin();
    g.lin.assign(n, 0);
    std::vector<std::pair<uint64_t, int64_t>> pairs;
    for (uint64_t t = 0; t < m.term_count(); ++t) {
        if (m.term_owner(t) >= 0) continue;
        std::vector<uint32_t> w(m.lits_begin(t), m.lits_end(t));
        std::sort(w.begin(), w.end());
        w.erase(std::unique(w.begin(), w.end()), w.end());
        if (w.size() > 2 || (!w.empty() && (w.back() & kNegated))) return false;
        if (w.size() == 1) g.lin[w[0]] = wrap_add(g.lin[w[0]], m.term_coeff(t));
        if (w.size() == 2) pairs.emplace_back((uint64_t{w[0]} << 32) | w[1], m.term_coeff(t));
    }
    std::sort(pairs.begin(), pairs.end());
    size_t kept = 0;
    for (size_t k = 0; k < pairs.size(); ++k) {
        if (kept > 0 && pairs[kept - 1].first == pairs[k].first)
            pairs[kept - 1].second = wrap_add(pairs[kept - 1].second, pairs[k].second);
        else
            pairs[kept++] = pairs[k];
    }
    pairs.resize(kept);
    g.adj_off.assign(n + 1, 0);
    for (const auto& [key, c] : pairs) {
        ++g.adj_off[(key >> 32) + 1];
        ++g.adj_off[(key & 0xFFFFFFFFu) + 1];
    }
    for (uint64_t p = 0; p < n; ++p) g.adj_off[p + 1] += g.adj_off[p];
    g.adj.assign(g.adj_off[n], {0, 0});
    // In key order every list fills in ascending neighbours.
    std::vector<uint64_t> fill(g.adj_off.begin(), g.adj_off.end() - 1);
    for (const auto& [key, c] : pairs) {
        const auto a = static_cast<uint32_t>(key >> 32), b = static_cast<uint32_t>(key);
        g.adj[fill[a]++] = {b, c};
        g.adj[fill[b]++] = {a, c};
    }
    if (n > kDenseVars) return true;
    g.dense.assign(n * n, 0);
    for (const auto& [key, c] : pairs) {
        if (c < INT32_MIN || c > INT32_MAX) {
            g.dense.clear();
            return true;
        }
        const uint64_t a = key >> 32, b = key & 0xFFFFFFFFu;
        g.dense[a * n + b] = g.dense[b * n + a] = static_cast<int32_t>(c);
    }
    return true;
}

void raw_flip(const Groups& g, Replica& r, uint32_t v) {
    const int64_t step = 1 - 2 * r.v[v];
    for (uint64_t k = g.adj_off[v]; k < g.adj_off[v + 1]; ++k)
        r.field[g.adj[k].first] =
            wrap_add(r.field[g.adj[k].first], wrap_mul(g.adj[k].second, step));
    r.v[v] += step;
}

}  // namespace

int64_t Groups::coupling(uint32_t a, uint32_t b) const {
    const uint64_t n = lin.size();
    if (!dense.empty()) return dense[a * n + b];
    const auto* lo = adj.data() + adj_off[a];
    const auto* hi = adj.data() + adj_off[a + 1];
    const auto* it =
        std::lower_bound(lo, hi, b, [](const auto& e, uint32_t x) { return e.first < x; });
    return it != hi && it->first == b ? it->second : 0;
}

uint64_t Groups::neighbourhood() const {
    const uint64_t moves = side > 0 ? uint64_t{side} * (side - 1) / 2 : members.size() - count;
    return moves + free.size();
}

std::unique_ptr<Groups> find_groups(const Model& m) {
    const size_t nc = m.constraint_count();
    if (nc == 0 || m.nint() > 0) return nullptr;
    const uint32_t n = m.nbin();
    std::vector<std::vector<uint64_t>> terms(nc);
    for (uint64_t t = 0; t < m.term_count(); ++t) {
        if (m.term_owner(t) >= 0) terms[static_cast<size_t>(m.term_owner(t))].push_back(t);
    }
    std::vector<uint8_t> seen(n, 0), count(n, 0);
    std::vector<uint32_t> in[2] = {std::vector<uint32_t>(n, 0), std::vector<uint32_t>(n, 0)};
    std::vector<std::vector<uint32_t>> cons(nc);
    for (size_t c = 0; c < nc; ++c) {
        cons[c] = group_members(m, c, terms[c], seen);
        if (cons[c].empty()) return nullptr;
        for (uint32_t v : cons[c]) {
            if (count[v] == 2) return nullptr;
            in[count[v]++][v] = static_cast<uint32_t>(c);
        }
    }
    auto g = std::make_unique<Groups>();
    g->count = nc;
    const uint8_t most = *std::max_element(count.begin(), count.end());
    for (uint32_t v = 0; v < n; ++v) {
        if (count[v] == 0) g->free.push_back(v);
        if (count[v] != 0 && count[v] != most) return nullptr;
    }
    if (most == 2) {
        const auto members = [&](size_t s) -> const std::vector<uint32_t>& { return cons[s]; };
        if (!plugin_common::as_assignment(nc, members, in, count, g->side, g->cell)) return nullptr;
    } else {
        g->off.push_back(0);
        for (size_t c = 0; c < nc; ++c) {
            g->members.insert(g->members.end(), cons[c].begin(), cons[c].end());
            g->group_of.insert(g->group_of.end(), cons[c].size(), static_cast<uint32_t>(c));
            g->off.push_back(g->members.size());
        }
    }
    if (!objective_form(m, *g)) return nullptr;
    return g;
}

bool place(const Model& m, const Groups& g, Replica& r) {
    const uint32_t side = g.side;
    std::vector<uint32_t> on(side > 0 ? side : g.count, UINT32_MAX);
    for (int64_t& x : r.v) x = std::clamp<int64_t>(x, 0, 1);
    if (side > 0) {
        std::vector<uint8_t> col(side, 0);
        for (uint32_t row = 0; row < side; ++row) {
            for (uint32_t c = 0; c < side; ++c) {
                if (r.v[g.cell[uint64_t{row} * side + c]] == 0) continue;
                if (on[row] != UINT32_MAX || col[c]) return false;
                on[row] = c;
                col[c] = 1;
            }
            if (on[row] == UINT32_MAX) return false;
        }
    } else {
        for (uint64_t s = 0; s < g.members.size(); ++s) {
            if (r.v[g.members[s]] == 0) continue;
            if (on[g.group_of[s]] != UINT32_MAX) return false;
            on[g.group_of[s]] = g.members[s];
        }
        if (std::count(on.begin(), on.end(), UINT32_MAX) > 0) return false;
    }
    r.on = std::move(on);
    r.field.assign(r.v.size(), 0);
    for (uint64_t p = 0; p < r.v.size(); ++p) {
        int64_t f = g.lin[p];
        for (uint64_t k = g.adj_off[p]; k < g.adj_off[p + 1]; ++k)
            f = wrap_add(f, wrap_mul(g.adj[k].second, r.v[g.adj[k].first]));
        r.field[p] = f;
    }
    r.body.assign(m.constraint_count(), 0);
    r.e = m.energy(r.v.data(), r.body.data());
    return true;
}

void place_random(const Model& m, const Groups& g, Rng& rng, Replica& r) {
    r.v.assign(m.size(), 0);
    for (uint32_t v : g.free) r.v[v] = static_cast<int64_t>(rng() & 1);
    if (g.side > 0) {
        std::vector<uint32_t> perm(g.side);
        std::iota(perm.begin(), perm.end(), 0u);
        for (uint32_t k = g.side; k > 1; --k) std::swap(perm[k - 1], perm[rng.below(k)]);
        for (uint32_t row = 0; row < g.side; ++row)
            r.v[g.cell[uint64_t{row} * g.side + perm[row]]] = 1;
    } else {
        for (uint64_t k = 0; k < g.count; ++k)
            r.v[g.members[g.off[k] + rng.below(g.off[k + 1] - g.off[k])]] = 1;
    }
    place(m, g, r);
}

GroupMove draw(const Groups& g, const Replica& r, Rng& rng) {
    GroupMove mv;
    const uint64_t hood = g.neighbourhood(), structured = hood - g.free.size();
    const uint64_t k = rng.below(hood);
    const int64_t* f = r.field.data();
    if (k >= structured) {
        mv.kind = 3;
        mv.a = g.free[k - structured];
        mv.delta = wrap_mul(1 - 2 * r.v[mv.a], f[mv.a]);
    } else if (g.side > 0) {
        mv.kind = 1;
        const uint64_t side = g.side;
        const auto row = static_cast<uint32_t>(rng.below(side));
        auto t = static_cast<uint32_t>(rng.below(side - 1));
        t += t >= row ? 1 : 0;
        mv.a = row;
        mv.b = t;
        // a and b go to 0, c and d to 1.
        const uint32_t a = g.cell[row * side + r.on[row]], b = g.cell[t * side + r.on[t]];
        const uint32_t c = g.cell[row * side + r.on[t]], d = g.cell[t * side + r.on[row]];
        int64_t e = wrap_sub(wrap_add(f[c], f[d]), wrap_add(f[a], f[b]));
        e = wrap_add(e, wrap_add(g.coupling(a, b), g.coupling(c, d)));
        mv.delta = wrap_sub(e, wrap_add(wrap_add(g.coupling(a, c), g.coupling(a, d)),
                                        wrap_add(g.coupling(b, c), g.coupling(b, d))));
    } else {
        const uint64_t s = rng.below(g.members.size());
        mv.a = g.group_of[s];
        mv.b = g.members[s];
        const uint32_t u = r.on[mv.a];
        if (u == mv.b) return mv;
        mv.kind = 2;
        mv.delta = wrap_sub(wrap_sub(f[mv.b], f[u]), g.coupling(u, mv.b));
    }
    return mv;
}

void apply(const Groups& g, Replica& r, const GroupMove& mv) {
    if (mv.kind == 1) {
        const uint64_t side = g.side;
        raw_flip(g, r, g.cell[mv.a * side + r.on[mv.a]]);
        raw_flip(g, r, g.cell[mv.b * side + r.on[mv.b]]);
        raw_flip(g, r, g.cell[mv.a * side + r.on[mv.b]]);
        raw_flip(g, r, g.cell[mv.b * side + r.on[mv.a]]);
        std::swap(r.on[mv.a], r.on[mv.b]);
    } else if (mv.kind == 2) {
        raw_flip(g, r, r.on[mv.a]);
        raw_flip(g, r, mv.b);
        r.on[mv.a] = mv.b;
    } else if (mv.kind == 3) {
        raw_flip(g, r, mv.a);
    } else {
        return;
    }
    r.e = wrap_add(r.e, mv.delta);
}

bool improvable(const Model& m, const Replica& r) {
    for (uint64_t p = 0; p < m.nbin(); ++p) {
        if (m.change(r.v.data(), r.body.data(), p, 1 - r.v[p], nullptr) < 0) return true;
    }
    return false;
}

}  // namespace kelp

#include "model.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include "common/params.hpp"

namespace brisk {

namespace {

// Sorts the literals of a product by variable and removes repeats: x x = x, and x (1 - x) = 0
// (false: the product is always zero).
bool normalise(std::vector<uint32_t>& w) {
    std::sort(w.begin(), w.end(),
              [](uint32_t a, uint32_t b) { return (a & ~kNegBit) < (b & ~kNegBit); });
    size_t out = 0;
    for (size_t k = 0; k < w.size(); ++k) {
        if (out > 0 && (w[out - 1] & ~kNegBit) == (w[k] & ~kNegBit)) {
            if (w[out - 1] != w[k]) return false;
            continue;
        }
        w[out++] = w[k];
    }
    w.resize(out);
    return true;
}

[[noreturn]] void too_large(const char* what) {
    plugin_common::fatal(std::string("BriskSolver: too many ") + what + " for this solver");
}

}  // namespace

int64_t Problem::objective(const uint8_t* x) const {
    int64_t e = obj_.constant;
    for (uint32_t d = 1; d <= obj_.max_degree; ++d) {
        const uint32_t* tv = obj_.vars[d - 1];
        const int32_t* cf = obj_.coeffs[d - 1];
        for (uint64_t t = 0; t < obj_.counts[d - 1]; ++t) {
            int64_t p = cf[t];
            for (uint32_t k = 0; k < d && p != 0; ++k) p = wrap_mul(p, literal(tv[t * d + k], x));
            e = wrap_add(e, p);
        }
    }
    return e;
}

int64_t Problem::energy(const uint8_t* x) const {
    int64_t e = objective(x);
    for (const RawCons& c : cons_) {
        int64_t body = c.constant;
        for (size_t k = 0; k < c.vars.size(); ++k)
            body = wrap_add(body, wrap_mul(c.coeffs[k], literal(c.vars[k], x)));
        for (size_t t = 0; t < c.nl_coeffs.size(); ++t) {
            int64_t p = c.nl_coeffs[t];
            for (uint64_t k = c.nl_head[t]; k < c.nl_head[t + 1] && p != 0; ++k)
                p = wrap_mul(p, literal(c.nl_vars[k], x));
            body = wrap_add(body, p);
        }
        e = wrap_add(e, penalty(c, body));
    }
    return e;
}

void Problem::compile() {
    if (compiled_) return;
    compiled_ = true;
    const uint32_t n = n_;
    base = obj_.constant;
    lin.assign(n, 0);
    products.clear();
    lits.clear();
    std::vector<std::pair<uint64_t, int64_t>> pairs;
    auto add_linear = [&](uint32_t w, int64_t c) {
        if (w & kNegBit) {
            base = wrap_add(base, c);
            lin[w & ~kNegBit] = wrap_sub(lin[w & ~kNegBit], c);
        } else {
            lin[w] = wrap_add(lin[w], c);
        }
    };
    auto add_pair = [&](uint32_t a, uint32_t b, int64_t c) {
        if (a > b) std::swap(a, b);
        pairs.emplace_back((uint64_t{a} << 32) | b, c);
    };
    std::vector<uint32_t> w;
    for (uint32_t d = 1; d <= obj_.max_degree; ++d) {
        const uint32_t* tv = obj_.vars[d - 1];
        const int32_t* cf = obj_.coeffs[d - 1];
        for (uint64_t t = 0; t < obj_.counts[d - 1]; ++t) {
            const int64_t c = cf[t];
            if (c == 0) continue;
            w.assign(tv + t * d, tv + (t + 1) * d);
            if (!normalise(w)) continue;
            if (w.empty()) {
                base = wrap_add(base, c);
            } else if (w.size() == 1) {
                add_linear(w[0], c);
            } else if (w.size() == 2) {
                // (a0 + a1 x)(b0 + b1 y) with a literal x or 1 - x.
                const uint32_t a = w[0] & ~kNegBit, b = w[1] & ~kNegBit;
                const int64_t a0 = (w[0] & kNegBit) ? 1 : 0, a1 = (w[0] & kNegBit) ? -1 : 1;
                const int64_t b0 = (w[1] & kNegBit) ? 1 : 0, b1 = (w[1] & kNegBit) ? -1 : 1;
                base = wrap_add(base, wrap_mul(c, a0 * b0));
                lin[a] = wrap_add(lin[a], wrap_mul(c, a1 * b0));
                lin[b] = wrap_add(lin[b], wrap_mul(c, a0 * b1));
                add_pair(a, b, wrap_mul(c, a1 * b1));
            } else {
                products.push_back({c, lits.size(), lits.size() + w.size()});
                lits.insert(lits.end(), w.begin(), w.end());
            }
        }
    }

    // Quadratic pairs merged, then both directions; a merged coefficient outside 32 bits is
    // split into several entries of the same neighbour.
    std::sort(pairs.begin(), pairs.end(),
              [](const auto& p, const auto& q) { return p.first < q.first; });
    std::vector<std::pair<uint64_t, int64_t>> merged;
    for (const auto& p : pairs) {
        if (!merged.empty() && merged.back().first == p.first) {
            merged.back().second = wrap_add(merged.back().second, p.second);
        } else {
            merged.push_back(p);
        }
    }
    pairs.clear();
    pairs.shrink_to_fit();
    auto pieces = [](int64_t c, auto&& emit) {
        while (c != 0) {
            const int64_t piece = std::clamp<int64_t>(c, INT32_MIN, INT32_MAX);
            emit(static_cast<int32_t>(piece));
            c = wrap_sub(c, piece);
        }
    };
    adj_off.assign(uint64_t{n} + 1, 0);
    for (const auto& [key, c] : merged) {
        const uint32_t a = static_cast<uint32_t>(key >> 32), b = static_cast<uint32_t>(key);
        pieces(c, [&](int32_t) {
            ++adj_off[a + 1];
            ++adj_off[b + 1];
        });
    }
    for (uint32_t i = 0; i < n; ++i) adj_off[i + 1] += adj_off[i];
    adj.assign(adj_off[n], Neighbour{0, 0});
    {
        std::vector<uint64_t> fill(adj_off.begin(), adj_off.end() - 1);
        for (const auto& [key, c] : merged) {
            const uint32_t a = static_cast<uint32_t>(key >> 32), b = static_cast<uint32_t>(key);
            pieces(c, [&](int32_t piece) {
                adj[fill[a]++] = {b, piece};
                adj[fill[b]++] = {a, piece};
            });
        }
    }

    // Constraints: linear parts folded per variable, products kept with their literals.
    ccons.clear();
    members.clear();
    member_products.clear();
    cons_products.clear();
    std::vector<int64_t> slot(n, -1);
    std::vector<std::vector<uint32_t>> mem_prods;
    for (size_t ci = 0; ci < cons_.size(); ++ci) {
        const RawCons& rc = cons_[ci];
        CompiledCons cc;
        cc.constant = rc.constant;
        cc.pen = &rc;
        cc.mem_begin = members.size();
        cc.prod_begin = cons_products.size();
        mem_prods.clear();
        auto member = [&](uint32_t v) -> uint64_t {
            if (slot[v] < 0) {
                slot[v] = static_cast<int64_t>(members.size());
                members.push_back({v, static_cast<uint32_t>(ci), 0, 0, 0});
                mem_prods.emplace_back();
            }
            return static_cast<uint64_t>(slot[v]);
        };
        auto linear = [&](uint32_t wd, int64_t c) {
            Member& m = members[member(wd & ~kNegBit)];
            if (wd & kNegBit) {
                cc.constant = wrap_add(cc.constant, c);
                m.coeff = wrap_sub(m.coeff, c);
            } else {
                m.coeff = wrap_add(m.coeff, c);
            }
        };
        for (size_t k = 0; k < rc.vars.size(); ++k) linear(rc.vars[k], rc.coeffs[k]);
        for (size_t t = 0; t < rc.nl_coeffs.size(); ++t) {
            const int64_t c = rc.nl_coeffs[t];
            if (c == 0) continue;
            w.assign(rc.nl_vars.begin() + static_cast<ptrdiff_t>(rc.nl_head[t]),
                     rc.nl_vars.begin() + static_cast<ptrdiff_t>(rc.nl_head[t + 1]));
            if (!normalise(w)) continue;
            if (w.empty()) {
                cc.constant = wrap_add(cc.constant, c);
            } else if (w.size() == 1) {
                linear(w[0], c);
            } else {
                const uint64_t pi = cons_products.size();
                if (pi >= kNegBit) too_large("constraint products");
                cons_products.push_back({c, lits.size(), lits.size() + w.size()});
                lits.insert(lits.end(), w.begin(), w.end());
                for (uint32_t l : w) {
                    mem_prods[member(l & ~kNegBit) - cc.mem_begin].push_back(
                        static_cast<uint32_t>(pi) | (l & kNegBit));
                }
                cc.linear = false;
            }
        }
        cc.mem_end = members.size();
        cc.prod_end = cons_products.size();
        for (uint64_t m = cc.mem_begin; m < cc.mem_end; ++m) {
            Member& mb = members[m];
            slot[mb.var] = -1;
            mb.prod_begin = member_products.size();
            const auto& list = mem_prods[m - cc.mem_begin];
            member_products.insert(member_products.end(), list.begin(), list.end());
            mb.prod_end = member_products.size();
        }
        ccons.push_back(cc);
    }

    // Per-variable lists: objective products and constraint memberships.
    if (products.size() >= kNegBit) too_large("terms");
    var_prod_off.assign(uint64_t{n} + 1, 0);
    for (const Product& p : products) {
        for (uint64_t k = p.begin; k < p.end; ++k) ++var_prod_off[(lits[k] & ~kNegBit) + 1];
    }
    for (uint32_t i = 0; i < n; ++i) var_prod_off[i + 1] += var_prod_off[i];
    var_prod.assign(var_prod_off[n], 0);
    {
        std::vector<uint64_t> fill(var_prod_off.begin(), var_prod_off.end() - 1);
        for (size_t t = 0; t < products.size(); ++t) {
            const Product& p = products[t];
            for (uint64_t k = p.begin; k < p.end; ++k)
                var_prod[fill[lits[k] & ~kNegBit]++] =
                    static_cast<uint32_t>(t) | (lits[k] & kNegBit);
            max_degree_terms = std::max<uint64_t>(max_degree_terms, p.end - p.begin);
        }
    }
    var_mem_off.assign(uint64_t{n} + 1, 0);
    for (const Member& m : members) ++var_mem_off[m.var + 1];
    for (uint32_t i = 0; i < n; ++i) var_mem_off[i + 1] += var_mem_off[i];
    var_mem.assign(var_mem_off[n], 0);
    {
        std::vector<uint64_t> fill(var_mem_off.begin(), var_mem_off.end() - 1);
        for (uint64_t m = 0; m < members.size(); ++m) var_mem[fill[members[m].var]++] = m;
    }
    quadratic_only = products.empty() && ccons.empty();
}

}  // namespace brisk

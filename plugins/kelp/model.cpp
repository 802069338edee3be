#include "model.hpp"

#include <algorithm>

namespace kelp {

int64_t Constraint::distance(int64_t body) const {
    if (set_lo.empty()) {
        if (body < lower) return wrap_sub(lower, body);
        if (body > upper) return wrap_sub(body, upper);
        return 0;
    }
    int64_t nearest = 0;
    for (size_t i = 0; i < set_lo.size(); ++i) {
        if (body >= set_lo[i] && body <= set_hi[i]) return 0;
        const int64_t d = body < set_lo[i] ? wrap_sub(set_lo[i], body) : wrap_sub(body, set_hi[i]);
        if (i == 0 || d < nearest) nearest = d;
    }
    return nearest;
}

Model::Model(uint32_t nbin, uint64_t nint, const int64_t* lower, const int64_t* upper,
             const plugin_common::Objective& obj)
    : nbin_(nbin), lo_(nbin, 0), hi_(nbin, 1), constant_(obj.constant) {
    for (uint64_t k = 0; k < nint; ++k) {
        lo_.push_back(lower[k]);
        hi_.push_back(upper[k]);
    }
    begin_.push_back(0);
    for (uint32_t d = 1; d <= obj.max_degree; ++d) {
        for (uint64_t t = 0; t < obj.counts[d - 1]; ++t)
            add_term(obj.coeffs[d - 1][t], obj.vars[d - 1] + t * d, d, -1);
    }
}

uint32_t Model::position(uint32_t word) const { return plugin_common::position(word, nbin_); }

void Model::add_term(int64_t coeff, const uint32_t* words, uint64_t n, int32_t owner) {
    coeff_.push_back(coeff);
    owner_.push_back(owner);
    for (uint64_t k = 0; k < n; ++k) lits_.push_back(position(words[k]));
    begin_.push_back(lits_.size());
}

void Model::add_constraint(const plugin_common::ConstraintArgs& a) {
    const auto owner = static_cast<int32_t>(cons_.size());
    Constraint& c = cons_.emplace_back();
    c.weight = a.weight;
    c.lower = a.lower;
    c.upper = a.upper;
    c.constant = a.constant;
    c.set_lo.assign(a.set_lo, a.set_lo + a.nsets);
    c.set_hi.assign(a.set_hi, a.set_hi + a.nsets);
    for (uint64_t k = 0; k < a.nterms; ++k) add_term(a.coeffs[k], a.vars + k, 1, owner);
    for (uint64_t t = 0; t < a.nl_terms; ++t)
        add_term(a.nl_coeffs[t], a.nl_vars + a.nl_head[t], a.nl_head[t + 1] - a.nl_head[t], owner);
}

void Model::finish() {
    const uint64_t n = size();
    occ_off_.assign(n + 1, 0);
    std::vector<uint64_t> last(n, UINT64_MAX);
    auto each = [&](auto&& visit) {
        std::fill(last.begin(), last.end(), UINT64_MAX);
        for (uint64_t t = 0; t + 1 < begin_.size(); ++t) {
            for (uint64_t k = begin_[t]; k < begin_[t + 1]; ++k) {
                const uint64_t p = lits_[k] & ~kNegated;
                if (last[p] == t) continue;  // a position repeated in one term counts once
                last[p] = t;
                visit(p, t);
            }
        }
    };
    each([&](uint64_t p, uint64_t) { ++occ_off_[p + 1]; });
    for (uint64_t p = 0; p < n; ++p) occ_off_[p + 1] += occ_off_[p];
    occ_.assign(occ_off_[n], 0);
    std::vector<uint64_t> fill(occ_off_.begin(), occ_off_.end() - 1);
    each([&](uint64_t p, uint64_t t) { occ_[fill[p]++] = t; });
    build_quadratic();
}

Flat Model::flatten() const {
    Flat f;
    f.nbin = nbin_;
    f.constant = constant_;
    f.lo = lo_;
    f.hi = hi_;
    f.coeff = coeff_;
    f.begin = begin_;
    f.owner = owner_;
    f.lits = lits_;
    f.occ_off = occ_off_;
    f.occ = occ_;
    f.set_off.push_back(0);
    for (const Constraint& c : cons_) {
        f.weight.push_back(c.weight);
        f.lower.push_back(c.lower);
        f.upper.push_back(c.upper);
        f.body_constant.push_back(c.constant);
        f.exponent.push_back(c.exponent);
        f.set_lo.insert(f.set_lo.end(), c.set_lo.begin(), c.set_lo.end());
        f.set_hi.insert(f.set_hi.end(), c.set_hi.begin(), c.set_hi.end());
        f.set_off.push_back(f.set_lo.size());
    }
    return f;
}

void Model::build_quadratic() {
    quadratic_ = false;
    if (!cons_.empty() || nint() > 0) return;
    const uint64_t n = size();
    lin_.assign(n, 0);
    std::vector<std::pair<uint64_t, int64_t>> pairs;
    int64_t extra = 0;
    for (uint64_t t = 0; t + 1 < begin_.size(); ++t) {
        std::vector<uint32_t> w(lits_.begin() + static_cast<ptrdiff_t>(begin_[t]),
                                lits_.begin() + static_cast<ptrdiff_t>(begin_[t + 1]));
        std::sort(w.begin(), w.end());
        w.erase(std::unique(w.begin(), w.end()), w.end());
        for (uint32_t l : w) {
            if (l & kNegated) return;  // negated literals come with higher degrees
        }
        if (w.empty()) {
            extra = wrap_add(extra, coeff_[t]);
        } else if (w.size() == 1) {
            lin_[w[0]] = wrap_add(lin_[w[0]], coeff_[t]);
        } else if (w.size() == 2) {
            pairs.emplace_back((uint64_t{w[0]} << 32) | w[1], coeff_[t]);
        } else {
            return;
        }
    }
    (void)extra;  // the constant part stays in the energy computed from scratch
    adj_off_.assign(n + 1, 0);
    for (const auto& [key, c] : pairs) {
        ++adj_off_[(key >> 32) + 1];
        ++adj_off_[(key & 0xFFFFFFFFu) + 1];
    }
    for (uint64_t p = 0; p < n; ++p) adj_off_[p + 1] += adj_off_[p];
    adj_.assign(adj_off_[n], {0, 0});
    std::vector<uint64_t> fill(adj_off_.begin(), adj_off_.end() - 1);
    for (const auto& [key, c] : pairs) {
        const auto a = static_cast<uint32_t>(key >> 32), b = static_cast<uint32_t>(key);
        adj_[fill[a]++] = {b, c};
        adj_[fill[b]++] = {a, c};
    }
    quadratic_ = true;
}

int64_t Model::term_value(uint64_t t, const int64_t* v, uint64_t p, int64_t at) const {
    int64_t prod = coeff_[t];
    for (uint64_t k = begin_[t]; k < begin_[t + 1] && prod != 0; ++k) {
        const uint32_t w = lits_[k];
        const uint64_t q = w & ~kNegated;
        const int64_t x = q == p ? at : v[q];
        prod = wrap_mul(prod, (w & kNegated) ? 1 - x : x);
    }
    return prod;
}

int64_t Model::energy(const int64_t* v, int64_t* bodies) const {
    int64_t e = constant_;
    std::vector<int64_t> body(cons_.size());
    for (size_t c = 0; c < cons_.size(); ++c) body[c] = cons_[c].constant;
    for (uint64_t t = 0; t + 1 < begin_.size(); ++t) {
        const int64_t val = term_value(t, v, UINT64_MAX, 0);
        if (owner_[t] < 0) {
            e = wrap_add(e, val);
        } else {
            body[static_cast<size_t>(owner_[t])] =
                wrap_add(body[static_cast<size_t>(owner_[t])], val);
        }
    }
    for (size_t c = 0; c < cons_.size(); ++c) {
        e = wrap_add(e, cons_[c].penalty(body[c]));
        if (bodies != nullptr) bodies[c] = body[c];
    }
    return e;
}

int64_t Model::change(const int64_t* v, const int64_t* bodies, uint64_t p, int64_t to,
                      std::vector<std::pair<uint32_t, int64_t>>* body_change) const {
    const int64_t from = v[p];
    int64_t d = 0;
    int32_t cur = -1;
    int64_t cur_change = 0;
    auto flush = [&] {
        if (cur < 0) return;
        const Constraint& c = cons_[static_cast<size_t>(cur)];
        const int64_t b = bodies[cur];
        d = wrap_add(d, wrap_sub(c.penalty(wrap_add(b, cur_change)), c.penalty(b)));
        if (body_change != nullptr)
            body_change->emplace_back(static_cast<uint32_t>(cur), cur_change);
    };
    // Occurrences ascend by term, and a constraint's terms are contiguous.
    for (uint64_t k = occ_off_[p]; k < occ_off_[p + 1]; ++k) {
        const uint64_t t = occ_[k];
        const int64_t diff = wrap_sub(term_value(t, v, p, to), term_value(t, v, p, from));
        if (owner_[t] < 0) {
            d = wrap_add(d, diff);
            continue;
        }
        if (owner_[t] != cur) {
            flush();
            cur = owner_[t];
            cur_change = 0;
        }
        cur_change = wrap_add(cur_change, diff);
    }
    flush();
    return d;
}

}  // namespace kelp

// One search state: the assignment, the exact energy change of flipping each variable, and
// what keeps those changes current under a flip: false-literal counts of the products, cached
// constraint bodies and each constraint member's share of its variable's change.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "model.hpp"

namespace brisk {

class State {
  public:
    explicit State(const Problem& p)
        : p_(p),
          x_(p.n(), 0),
          delta_(p.n(), 0),
          nfalse_(p.products.size(), 0),
          cfalse_(p.cons_products.size(), 0),
          body_(p.ccons.size(), 0),
          pen_(p.ccons.size(), 0),
          share_(p.members.size(), 0) {}

    uint32_t n() const { return p_.n(); }
    const uint8_t* x() const { return x_.data(); }
    const int64_t* delta() const { return delta_.data(); }
    int64_t delta_at(uint32_t j) const { return delta_[j]; }
    int64_t energy() const { return energy_; }
    // Energy after flipping i.
    int64_t energy_after(uint32_t i) const { return wrap_add(energy_, delta_[i]); }

    // Sets the assignment and rebuilds every cache from scratch.
    void assign(const uint8_t* x) {
        const Problem& p = p_;
        const uint32_t n = p.n();
        for (uint32_t i = 0; i < n; ++i) x_[i] = x[i] & 1;
        for (size_t t = 0; t < p.products.size(); ++t) nfalse_[t] = count_false(p.products[t]);
        for (size_t t = 0; t < p.cons_products.size(); ++t)
            cfalse_[t] = count_false(p.cons_products[t]);
        int64_t e = p.base;
        for (uint32_t i = 0; i < n; ++i) {
            int64_t field = p.lin[i];
            for (uint64_t k = p.adj_off[i]; k < p.adj_off[i + 1]; ++k) {
                const Neighbour& nb = p.adj[k];
                if (x_[nb.var]) field = wrap_add(field, nb.coeff);
                if (x_[i] && x_[nb.var] && nb.var > i) e = wrap_add(e, nb.coeff);
            }
            if (x_[i]) e = wrap_add(e, p.lin[i]);
            delta_[i] = x_[i] ? wrap_sub(0, field) : field;
        }
        for (size_t t = 0; t < p.products.size(); ++t) {
            const Product& pr = p.products[t];
            if (nfalse_[t] == 0) e = wrap_add(e, pr.coeff);
            for (uint64_t k = pr.begin; k < pr.end; ++k) {
                const uint32_t l = p.lits[k];
                delta_[l & ~kNegBit] = wrap_add(delta_[l & ~kNegBit],
                                                product_share(pr.coeff, lit_true(l), nfalse_[t]));
            }
        }
        for (size_t c = 0; c < p.ccons.size(); ++c) {
            const CompiledCons& cc = p.ccons[c];
            int64_t body = cc.constant;
            for (uint64_t m = cc.mem_begin; m < cc.mem_end; ++m) {
                if (x_[p.members[m].var]) body = wrap_add(body, p.members[m].coeff);
            }
            for (uint64_t t = cc.prod_begin; t < cc.prod_end; ++t) {
                if (cfalse_[t] == 0) body = wrap_add(body, p.cons_products[t].coeff);
            }
            body_[c] = body;
            pen_[c] = penalty(*cc.pen, body);
            e = wrap_add(e, pen_[c]);
            for (uint64_t m = cc.mem_begin; m < cc.mem_end; ++m) {
                share_[m] = wrap_sub(penalty(*cc.pen, wrap_add(body, body_change(m))), pen_[c]);
                delta_[p.members[m].var] = wrap_add(delta_[p.members[m].var], share_[m]);
            }
        }
        energy_ = e;
    }

    // Flips variable i and brings every change up to date; changed(j, old, new) hears of each
    // other variable whose change moved.
    void flip(uint32_t i) {
        flip(i, [](uint32_t, int64_t, int64_t) {});
    }
    template <class Changed>
    void flip(uint32_t i, Changed&& changed) {
        const Problem& p = p_;
        const int64_t di = delta_[i];
        const uint8_t old = x_[i];
        x_[i] = old ^ 1;
        // The change of x_i, +1 or -1, applied to each neighbour's field with the sign of that
        // neighbour's own flip direction.
        const uint64_t up = old ? ~uint64_t{0} : 1;
        const Neighbour* nb = p.adj.data() + p.adj_off[i];
        const Neighbour* end = p.adj.data() + p.adj_off[i + 1];
        int64_t* d = delta_.data();
        const uint8_t* x = x_.data();
        for (; nb != end; ++nb) {
            const uint64_t t = u(nb->coeff) * up;
            const uint64_t xj = x[nb->var];
            const int64_t before = d[nb->var];
            const int64_t after = s(u(before) + ((t ^ (0 - xj)) + xj));
            d[nb->var] = after;
            changed(nb->var, before, after);
        }
        if (!p.quadratic_only) flip_rest(i, old, changed);
        energy_ = wrap_add(energy_, di);
        d[i] = wrap_sub(0, di);
    }

  private:
    bool lit_true(uint32_t l) const { return (x_[l & ~kNegBit] ^ (l >> 31)) != 0; }

    uint32_t count_false(const Product& pr) const {
        uint32_t f = 0;
        for (uint64_t k = pr.begin; k < pr.end; ++k) f += lit_true(p_.lits[k]) ? 0 : 1;
        return f;
    }

    // What flipping one literal of a product adds, given whether that literal is true now and
    // the product's false-literal count.
    static int64_t product_share(int64_t c, bool is_true, uint32_t f) {
        if (is_true) return f == 0 ? wrap_sub(0, c) : 0;
        return f == 1 ? c : 0;
    }

    // Body change of constraint member m when its variable flips.
    int64_t body_change(uint64_t m) const {
        const Member& mb = p_.members[m];
        const bool xv = x_[mb.var] != 0;
        int64_t db = xv ? wrap_sub(0, mb.coeff) : mb.coeff;
        for (uint64_t k = mb.prod_begin; k < mb.prod_end; ++k) {
            const uint32_t e = p_.member_products[k];
            const uint32_t t = e & ~kNegBit;
            db = wrap_add(
                db, product_share(p_.cons_products[t].coeff, xv != ((e >> 31) != 0), cfalse_[t]));
        }
        return db;
    }

    template <class Changed>
    void flip_rest(uint32_t i, uint8_t old, Changed& changed) {
        const Problem& p = p_;
        int64_t* d = delta_.data();
        for (uint64_t k = p.var_prod_off[i]; k < p.var_prod_off[i + 1]; ++k) {
            const uint32_t e = p.var_prod[k];
            const uint32_t t = e & ~kNegBit;
            const bool was_true = (old ^ (e >> 31)) != 0;
            const uint32_t f = nfalse_[t];
            const uint32_t f2 = was_true ? f + 1 : f - 1;
            nfalse_[t] = f2;
            if (f > 1 && f2 > 1) continue;
            const Product& pr = p.products[t];
            for (uint64_t q = pr.begin; q < pr.end; ++q) {
                const uint32_t l = p.lits[q];
                const uint32_t j = l & ~kNegBit;
                if (j == i) continue;
                const bool lt = lit_true(l);
                const int64_t before = d[j];
                d[j] = wrap_add(before, wrap_sub(product_share(pr.coeff, lt, f2),
                                                 product_share(pr.coeff, lt, f)));
                changed(j, before, d[j]);
            }
        }
        for (uint64_t k = p.var_mem_off[i]; k < p.var_mem_off[i + 1]; ++k) {
            const uint64_t mi = p.var_mem[k];
            const Member& mb = p.members[mi];
            const uint32_t c = mb.cons;
            const CompiledCons& cc = p.ccons[c];
            // The body change of this flip, from the state before it.
            int64_t db = old ? wrap_sub(0, mb.coeff) : mb.coeff;
            for (uint64_t q = mb.prod_begin; q < mb.prod_end; ++q) {
                const uint32_t e = p.member_products[q];
                const uint32_t t = e & ~kNegBit;
                const bool was_true = (old ^ (e >> 31)) != 0;
                db = wrap_add(db, product_share(p.cons_products[t].coeff, was_true, cfalse_[t]));
                cfalse_[t] = was_true ? cfalse_[t] + 1 : cfalse_[t] - 1;
            }
            const int64_t body = wrap_add(body_[c], db);
            body_[c] = body;
            const RawCons& pen = *cc.pen;
            const int64_t pc = penalty(pen, body);
            pen_[c] = pc;
            if (cc.linear) {
                const Member* ms = p.members.data();
                for (uint64_t m = cc.mem_begin; m < cc.mem_end; ++m) {
                    const uint32_t j = ms[m].var;
                    const int64_t a = ms[m].coeff;
                    const int64_t sh =
                        wrap_sub(penalty(pen, wrap_add(body, x_[j] ? wrap_sub(0, a) : a)), pc);
                    if (j != i && sh != share_[m]) {
                        const int64_t before = d[j];
                        d[j] = wrap_add(before, wrap_sub(sh, share_[m]));
                        changed(j, before, d[j]);
                    }
                    share_[m] = sh;
                }
            } else {
                for (uint64_t m = cc.mem_begin; m < cc.mem_end; ++m) {
                    const uint32_t j = p.members[m].var;
                    const int64_t sh = wrap_sub(penalty(pen, wrap_add(body, body_change(m))), pc);
                    if (j != i && sh != share_[m]) {
                        const int64_t before = d[j];
                        d[j] = wrap_add(before, wrap_sub(sh, share_[m]));
                        changed(j, before, d[j]);
                    }
                    share_[m] = sh;
                }
            }
        }
    }

    const Problem& p_;
    std::vector<uint8_t> x_;
    std::vector<int64_t> delta_;
    std::vector<uint32_t> nfalse_;
    std::vector<uint32_t> cfalse_;
    std::vector<int64_t> body_;
    std::vector<int64_t> pen_;
    std::vector<int64_t> share_;
    int64_t energy_ = 0;
};

// The temperature at which moves with these uphill changes, among `moves` moves in all (the
// others free), pass with the given mean probability; 1 when none is uphill. Bisection on a
// log scale.
inline double acceptance_temperature(const std::vector<double>& uphill, double moves,
                                     double acceptance) {
    if (uphill.empty()) return 1.0;
    auto rate = [&](double t) {
        double sum = 0.0;
        for (double v : uphill) sum += std::exp(-v / t);
        return sum / moves;
    };
    double lo = 1e-9, hi = 1.0;
    while (rate(hi) < acceptance && hi < 1e30) hi *= 2.0;
    for (int it = 0; it < 100; ++it) {
        const double mid = std::sqrt(lo * hi);
        (rate(mid) < acceptance ? lo : hi) = mid;
    }
    return hi;
}

}  // namespace brisk

// The search state of a purely quadratic Model: local fields instead of flip changes, so a
// flip adds one coefficient per neighbour without reading the neighbour's value, in 32-bit
// fields when every field provably fits.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <type_traits>
#include <vector>

#include "problem.hpp"

namespace brisk {

// True when |linear| + sum |couplings| of every variable fits a 32-bit field.
inline bool fields_fit_32(const Problem& p) {
    for (uint32_t i = 0; i < p.n(); ++i) {
        if (p.lin[i] == INT64_MIN) return false;
        uint64_t sum = static_cast<uint64_t>(p.lin[i] < 0 ? -p.lin[i] : p.lin[i]);
        for (uint64_t k = p.adj_off[i]; k < p.adj_off[i + 1]; ++k)
            sum += static_cast<uint64_t>(std::llabs(p.adj[k].coeff));
        if (sum >= (uint64_t{1} << 31)) return false;
    }
    return true;
}

template <class Field>
class QuboState {
  public:
    explicit QuboState(const Problem& p) : p_(p), x_(p.n(), 0), f_(p.n(), 0) {}

    uint32_t n() const { return p_.n(); }
    const uint8_t* x() const { return x_.data(); }
    int64_t energy() const { return energy_; }
    int64_t delta_at(uint32_t j) const {
        const int64_t f = f_[j];
        return x_[j] ? -f : f;
    }

    void assign(const uint8_t* x) {
        const Problem& p = p_;
        int64_t e = p.base;
        for (uint32_t i = 0; i < p.n(); ++i) x_[i] = x[i] & 1;
        for (uint32_t i = 0; i < p.n(); ++i) {
            int64_t field = p.lin[i];
            for (uint64_t k = p.adj_off[i]; k < p.adj_off[i + 1]; ++k) {
                const Neighbour& nb = p.adj[k];
                if (x_[nb.var]) field = radd(field, nb.coeff);
                if (x_[i] && x_[nb.var] && nb.var > i) e = radd(e, nb.coeff);
            }
            if (x_[i]) e = radd(e, p.lin[i]);
            f_[i] = static_cast<Field>(field);
        }
        energy_ = e;
    }

    void flip(uint32_t i) {
        energy_ = radd(energy_, delta_at(i));
        const Field up = x_[i] ? Field(-1) : Field(1);
        x_[i] ^= 1;
        const Neighbour* nb = p_.adj.data() + p_.adj_off[i];
        const Neighbour* end = p_.adj.data() + p_.adj_off[i + 1];
        Field* f = f_.data();
        for (; nb != end; ++nb) f[nb->var] = wrap(f[nb->var], static_cast<Field>(nb->coeff) * up);
    }

  private:
    static Field wrap(Field a, Field b) {
        using U = std::make_unsigned_t<Field>;
        return static_cast<Field>(static_cast<U>(a) + static_cast<U>(b));
    }

    const Problem& p_;
    std::vector<uint8_t> x_;
    std::vector<Field> f_;
    int64_t energy_ = 0;
};

}  // namespace brisk

#include "solvers/enumerate.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/fatal.hpp"
#include "core/term.hpp"
#include "model/sol.hpp"
#include "solvers/sysinfo.hpp"

namespace dalo {

void check_enumeration_size(const ModelImpl& m) {
    if (m.has_remainder) {
        fatal(
            "SweepSolver: internal error — a free-form remainder with integer variables should "
            "have been rejected at Model.");
    }
    double bits = static_cast<double>(m.var_count());
    for (uint64_t k = 0; k < m.int_count(); ++k) {
        const double lo = static_cast<double>(m.int_lower[k]);
        const double hi = static_cast<double>(m.int_upper[k]);
        bits += std::log2(hi - lo + 1.0);
    }
    if (bits > 32.0) {
        fatal("SweepSolver: integer search space (~2^" + std::to_string(static_cast<int>(bits)) +
              " states) exceeds the 2^32 enumeration limit.");
    }
}

namespace {

using Clock = std::chrono::steady_clock;

// All arithmetic below is on uint64_t: the energies wrap like the library's int64 sums, so an
// incremental update (after - before) is exact whatever the magnitudes.

// A literal inside a precomputed product: position << 1, plus 1 when it reads 1 - x (a
// negated binary literal; for x in {0, 1} that is x ^ 1).
inline uint32_t literal_code(uint32_t word, uint32_t binaries) {
    if (word & kAtomBit) return (binaries + (word & kIndexMask)) << 1;
    return ((word & ~kNegBit) << 1) | (word >> 31);
}

inline uint64_t literal_value(const uint64_t* val, uint32_t code) {
    return val[code >> 1] ^ (code & 1u);
}

// Product of literals, 0 at the first zero factor.
inline uint64_t rest_product(const uint64_t* val, const uint32_t* codes, uint32_t n) {
    uint64_t r = 1;
    for (uint32_t k = 0; k < n; ++k) {
        const uint64_t x = literal_value(val, codes[k]);
        if (x == 0) return 0;
        r *= x;
    }
    return r;
}

// The from-scratch evaluation, on the Model's own arrays (the start state and the final
// drift check).
inline uint64_t word_value(const uint64_t* val, uint32_t binaries, uint32_t w) {
    if (w & kAtomBit) return val[binaries + (w & kIndexMask)];
    return val[w & ~kNegBit] ^ (w >> 31);
}

uint64_t word_product(uint64_t coeff, const uint32_t* w, uint64_t n, const uint64_t* val,
                      uint32_t binaries) {
    uint64_t p = coeff;
    for (uint64_t k = 0; k < n; ++k) {
        const uint64_t x = word_value(val, binaries, w[k]);
        if (x == 0) return 0;
        p *= x;
    }
    return p;
}

inline uint64_t widen(coeff_t c) { return static_cast<uint64_t>(static_cast<int64_t>(c)); }

uint64_t body_value(const NativeCons& c, const uint64_t* val, uint32_t binaries) {
    uint64_t v = static_cast<uint64_t>(c.constant);
    for (size_t k = 0; k < c.vars.size(); ++k)
        v += widen(c.coeffs[k]) * word_value(val, binaries, c.vars[k]);
    for (size_t t = 0; t + 1 < c.nl_head.size(); ++t) {
        const uint64_t begin = c.nl_head[t], end = c.nl_head[t + 1];
        v += word_product(widen(c.nl_coeffs[t]), c.nl_vars.data() + begin, end - begin, val,
                          binaries);
    }
    return v;
}

inline uint64_t penalty(const NativeCons& c, uint64_t body) {
    const int64_t d = native_violation(c, static_cast<int64_t>(body));
    return static_cast<uint64_t>(weighted_violation(c.weight, d, c.exponent));
}

uint64_t objective_value(const ModelImpl& m, const uint64_t* val) {
    const uint32_t binaries = m.var_count();
    uint64_t e = static_cast<uint64_t>(m.constant);
    for (uint32_t d = 1; d <= m.max_degree; ++d) {
        const uint32_t* tv = m.term_vars[d - 1].data();
        const coeff_t* cf = m.coeff_array[d - 1].data();
        for (uint64_t t = 0; t < m.term_count[d - 1]; ++t)
            e += word_product(widen(cf[t]), tv + t * d, d, val, binaries);
    }
    return e;
}

// A product in which one position occurs more than once (x*x of an integer atom): its own
// factor is evaluated before and after the move. Words: the rest, then the position's codes.
struct PowFactor {
    uint64_t coeff;
    uint64_t words;
    uint32_t rest_len;
    uint32_t own_len;
};

// What one position contributes to one sum (the objective, or a constraint's body), split by
// shape so that the common shapes take the shortest path. Except for the powers, the change
// of the sum is the step times: plain + sum of pair coefficient x other literal + sum of
// chain coefficient x product of other literals. Pairs with a binary partner come first: a
// 0/1 literal selects its coefficient by a mask instead of a multiplication. Coefficients
// already carry the sign of a negated literal (1 - x moves against the step).
struct Group {
    uint64_t plain = 0;
    uint64_t pair_begin = 0, pair_mid = 0, pair_end = 0;
    uint64_t chain_begin = 0, chain_end = 0, chain_words = 0;
    uint64_t pow_begin = 0, pow_end = 0;
};

struct ConsRef {
    Group g;
    uint32_t cons;
};

// A group under construction.
struct GroupBuilder {
    uint32_t binaries = 0;
    uint64_t plain = 0;
    std::vector<uint64_t> pair_coeff[2];  // [0]: binary partner, [1]: integer partner
    std::vector<uint32_t> pair_code[2];
    std::vector<uint64_t> chain_coeff;
    std::vector<uint32_t> chain_words;  // per chain: its length, then its literal codes
    std::vector<PowFactor> pows;
    std::vector<uint32_t> pow_words;

    // The factor of position pos in the product coeff x codes, where pos occurs own_len times
    // (own: those occurrences).
    void add(uint64_t coeff, const std::vector<uint32_t>& codes, uint32_t pos, const uint32_t* own,
             uint32_t own_len) {
        const auto rest_len = static_cast<uint32_t>(codes.size() - own_len);
        if (own_len > 1) {
            pows.push_back({coeff, pow_words.size(), rest_len, own_len});
            for (uint32_t c : codes)
                if ((c >> 1) != pos) pow_words.push_back(c);
            pow_words.insert(pow_words.end(), own, own + own_len);
            return;
        }
        const uint64_t signed_coeff = (own[0] & 1u) ? 0 - coeff : coeff;
        if (rest_len == 0) {
            plain += signed_coeff;
        } else if (rest_len == 1) {
            for (uint32_t c : codes) {
                if ((c >> 1) == pos) continue;
                const bool integer = (c >> 1) >= binaries;
                pair_coeff[integer].push_back(signed_coeff);
                pair_code[integer].push_back(c);
            }
        } else {
            chain_coeff.push_back(signed_coeff);
            chain_words.push_back(rest_len);
            for (uint32_t c : codes)
                if ((c >> 1) != pos) chain_words.push_back(c);
        }
    }
};

// Calls f(pos, own codes, own count) for each distinct position of a product.
template <class F>
void for_each_position(const std::vector<uint32_t>& codes, std::vector<uint32_t>& sorted, F f) {
    sorted = codes;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size();) {
        size_t j = i;
        while (j < sorted.size() && (sorted[j] >> 1) == (sorted[i] >> 1)) ++j;
        f(sorted[i] >> 1, sorted.data() + i, static_cast<uint32_t>(j - i));
        i = j;
    }
}

class Enumeration {
  public:
    Enumeration(const ModelImpl& m, bool collect, uint64_t limit)
        : m_(m), binaries_(m.var_count()), collect_(collect), limit_(limit) {
        positions_ = binaries_ + m.int_count();
        val_.assign(positions_, 0);
        for (uint64_t k = 0; k < m.int_count(); ++k)
            val_[binaries_ + k] = static_cast<uint64_t>(m.int_lower[k]);
        for (uint64_t p = 0; p < positions_; ++p) {
            uint64_t radix = 2;
            if (p >= binaries_) {
                const uint64_t k = p - binaries_;
                radix = static_cast<uint64_t>(m.int_upper[k]) -
                        static_cast<uint64_t>(m.int_lower[k]) + 1;
            }
            // A single-valued position never moves: leaving it out of the scan keeps the
            // scan short without changing the order of the states.
            if (static_cast<int64_t>(radix) < 2) continue;
            movable_.push_back(static_cast<uint32_t>(p));
            radix_.push_back(static_cast<int64_t>(radix));
        }
        digit_.assign(movable_.size(), 0);
        dir_.assign(movable_.size(), 1);
        build_lists();
    }

    SolverResult run(Clock::time_point start);

  private:
    void build_lists();
    Group flush(const GroupBuilder& b);
    uint64_t group_delta(const Group& g, uint64_t dir, uint64_t before, uint64_t after) const;
    uint64_t step(uint32_t p, uint64_t dir);
    void decode(const std::vector<int64_t>& digits, PodArray<uint64_t>& bits,
                std::vector<int64_t>& ints) const;
    uint64_t scratch_energy() const;

    const ModelImpl& m_;
    uint32_t binaries_;
    uint64_t positions_ = 0;
    bool collect_;
    uint64_t limit_;

    std::vector<uint64_t> val_;
    std::vector<uint32_t> movable_;
    std::vector<int64_t> radix_, digit_, dir_;

    // Flat factor arrays; every group is one contiguous run of each.
    std::vector<uint64_t> pair_coeff_;
    std::vector<uint32_t> pair_code_;
    std::vector<uint64_t> chain_coeff_;
    std::vector<uint32_t> chain_words_;
    std::vector<PowFactor> pows_;
    std::vector<uint32_t> pow_words_;

    std::vector<Group> objective_;     // per position
    std::vector<uint64_t> cons_head_;  // position p: cons_refs_[cons_head_[p], cons_head_[p + 1])
    std::vector<ConsRef> cons_refs_;
    std::vector<uint64_t> body_, pen_;
};

Group Enumeration::flush(const GroupBuilder& b) {
    Group g;
    g.plain = b.plain;
    g.pair_begin = pair_coeff_.size();
    for (int integer = 0; integer < 2; ++integer) {
        if (integer) g.pair_mid = pair_coeff_.size();
        pair_coeff_.insert(pair_coeff_.end(), b.pair_coeff[integer].begin(),
                           b.pair_coeff[integer].end());
        pair_code_.insert(pair_code_.end(), b.pair_code[integer].begin(),
                          b.pair_code[integer].end());
    }
    g.pair_end = pair_coeff_.size();
    g.chain_begin = chain_coeff_.size();
    g.chain_words = chain_words_.size();
    chain_coeff_.insert(chain_coeff_.end(), b.chain_coeff.begin(), b.chain_coeff.end());
    chain_words_.insert(chain_words_.end(), b.chain_words.begin(), b.chain_words.end());
    g.chain_end = chain_coeff_.size();
    g.pow_begin = pows_.size();
    for (PowFactor f : b.pows) {
        const auto first = b.pow_words.begin() + static_cast<int64_t>(f.words);
        f.words = pow_words_.size();
        pow_words_.insert(pow_words_.end(), first,
                          first + static_cast<int64_t>(uint64_t{f.rest_len} + f.own_len));
        pows_.push_back(f);
    }
    g.pow_end = pows_.size();
    return g;
}

void Enumeration::build_lists() {
    const ModelImpl& m = m_;
    std::vector<uint32_t> codes, sorted;

    GroupBuilder blank;
    blank.binaries = binaries_;
    std::vector<GroupBuilder> obj(positions_, blank);
    for (uint32_t d = 1; d <= m.max_degree; ++d) {
        const uint32_t* tv = m.term_vars[d - 1].data();
        for (uint64_t t = 0; t < m.term_count[d - 1]; ++t) {
            codes.clear();
            for (uint32_t k = 0; k < d; ++k)
                codes.push_back(literal_code(tv[t * d + k], binaries_));
            const uint64_t cf = widen(m.coeff_array[d - 1][t]);
            for_each_position(codes, sorted, [&](uint32_t pos, const uint32_t* own, uint32_t n) {
                obj[pos].add(cf, codes, pos, own, n);
            });
        }
    }
    objective_.resize(positions_);
    for (uint64_t p = 0; p < positions_; ++p) {
        objective_[p] = flush(obj[p]);
        obj[p] = blank;
    }

    // Constraints: one reference per (position, constraint), however often it names it.
    std::vector<std::vector<ConsRef>> refs(positions_);
    std::vector<uint64_t> slot(positions_, UINT64_MAX);
    std::vector<std::pair<uint32_t, GroupBuilder>> local;
    for (uint32_t c = 0; c < m.native_cons.size(); ++c) {
        const NativeCons& nc = m.native_cons[c];
        local.clear();
        auto at = [&](uint32_t pos) -> GroupBuilder& {
            if (slot[pos] == UINT64_MAX) {
                slot[pos] = local.size();
                local.emplace_back(pos, blank);
            }
            return local[slot[pos]].second;
        };
        for (size_t k = 0; k < nc.vars.size(); ++k) {
            codes.assign(1, literal_code(nc.vars[k], binaries_));
            at(codes[0] >> 1).add(widen(nc.coeffs[k]), codes, codes[0] >> 1, codes.data(), 1);
        }
        for (size_t t = 0; t + 1 < nc.nl_head.size(); ++t) {
            codes.clear();
            for (uint64_t k = nc.nl_head[t]; k < nc.nl_head[t + 1]; ++k)
                codes.push_back(literal_code(nc.nl_vars[k], binaries_));
            const uint64_t cf = widen(nc.nl_coeffs[t]);
            for_each_position(codes, sorted, [&](uint32_t pos, const uint32_t* own, uint32_t n) {
                at(pos).add(cf, codes, pos, own, n);
            });
        }
        for (const auto& [pos, builder] : local) {
            refs[pos].push_back({flush(builder), c});
            slot[pos] = UINT64_MAX;
        }
    }
    cons_head_.assign(positions_ + 1, 0);
    for (uint64_t p = 0; p < positions_; ++p) {
        cons_refs_.insert(cons_refs_.end(), refs[p].begin(), refs[p].end());
        cons_head_[p + 1] = cons_refs_.size();
    }
}

// Change of a group's sum when its position moves by dir from before to after.
uint64_t Enumeration::group_delta(const Group& g, uint64_t dir, uint64_t before,
                                  uint64_t after) const {
    const uint64_t* val = val_.data();
    uint64_t unit = g.plain;
    const uint64_t* pc = pair_coeff_.data();
    const uint32_t* pl = pair_code_.data();
    for (uint64_t i = g.pair_begin; i < g.pair_mid; ++i)
        unit += pc[i] & (0 - literal_value(val, pl[i]));
    for (uint64_t i = g.pair_mid; i < g.pair_end; ++i) unit += pc[i] * val[pl[i] >> 1];
    const uint32_t* w = chain_words_.data() + g.chain_words;
    for (uint64_t i = g.chain_begin; i < g.chain_end; ++i) {
        const uint32_t len = *w++;
        const uint64_t r = rest_product(val, w, len);
        if (r != 0) unit += chain_coeff_[i] * r;
        w += len;
    }
    uint64_t delta = dir * unit;
    for (uint64_t i = g.pow_begin; i < g.pow_end; ++i) {
        const PowFactor& f = pows_[i];
        const uint32_t* fw = pow_words_.data() + f.words;
        const uint64_t r = rest_product(val, fw, f.rest_len);
        if (r == 0) continue;
        uint64_t a = 1, b = 1;
        for (uint32_t k = 0; k < f.own_len; ++k) {
            const uint64_t flip = fw[f.rest_len + k] & 1u;
            a *= before ^ flip;
            b *= after ^ flip;
        }
        delta += f.coeff * r * (b - a);
    }
    return delta;
}

// Moves position p by dir (+1 or -1 as a wrapped word); returns the energy change.
uint64_t Enumeration::step(uint32_t p, uint64_t dir) {
    const uint64_t before = val_[p], after = before + dir;
    uint64_t delta = group_delta(objective_[p], dir, before, after);
    for (uint64_t i = cons_head_[p]; i < cons_head_[p + 1]; ++i) {
        const ConsRef& r = cons_refs_[i];
        const uint64_t db = group_delta(r.g, dir, before, after);
        if (db == 0) continue;
        body_[r.cons] += db;
        const uint64_t pen = penalty(m_.native_cons[r.cons], body_[r.cons]);
        delta += pen - pen_[r.cons];
        pen_[r.cons] = pen;
    }
    val_[p] = after;
    return delta;
}

// Bit words and integer values of the state whose movable positions hold these digits.
void Enumeration::decode(const std::vector<int64_t>& digits, PodArray<uint64_t>& bits,
                         std::vector<int64_t>& ints) const {
    bits = PodArray<uint64_t>(word_count(binaries_), 0);
    ints = m_.int_lower;
    for (size_t j = 0; j < movable_.size(); ++j) {
        const uint32_t p = movable_[j];
        if (p < binaries_) {
            if (digits[j] != 0) bits[p >> 6] |= uint64_t{1} << (p & 63);
        } else {
            ints[p - binaries_] = m_.int_lower[p - binaries_] + digits[j];
        }
    }
}

// The current state's energy from the Model's own arrays, ignoring every cache.
uint64_t Enumeration::scratch_energy() const {
    uint64_t e = objective_value(m_, val_.data());
    for (const NativeCons& c : m_.native_cons)
        e += penalty(c, body_value(c, val_.data(), binaries_));
    return e;
}

SolverResult Enumeration::run(Clock::time_point start) {
    auto seconds = [start] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    const uint64_t cons_count = m_.native_cons.size();
    body_.resize(cons_count);
    pen_.resize(cons_count);
    uint64_t energy = objective_value(m_, val_.data());
    for (uint64_t c = 0; c < cons_count; ++c) {
        body_[c] = body_value(m_.native_cons[c], val_.data(), binaries_);
        pen_[c] = penalty(m_.native_cons[c], body_[c]);
        energy += pen_[c];
    }

    uint64_t best = energy, states = 1;
    double best_time = 0.0;
    std::vector<int64_t> best_digits = digit_;
    std::vector<std::pair<std::vector<int64_t>, double>> collected;
    if (collect_) collected.emplace_back(digit_, 0.0);

    const uint64_t m = movable_.size();
    int64_t* digit = digit_.data();
    int64_t* dir = dir_.data();
    const int64_t* radix = radix_.data();
    for (;;) {
        uint64_t j = 0;
        while (j < m) {
            const int64_t next = digit[j] + dir[j];
            if (next >= 0 && next < radix[j]) break;
            dir[j] = -dir[j];
            ++j;
        }
        if (j == m) break;
        energy += step(movable_[j], static_cast<uint64_t>(dir[j]));
        digit[j] += dir[j];
        ++states;
        if (static_cast<int64_t>(energy) < static_cast<int64_t>(best)) {
            best = energy;
            best_time = seconds();
            std::copy(digit_.begin(), digit_.end(), best_digits.begin());
            if (collect_) {
                collected.clear();
                collected.emplace_back(digit_, best_time);
            }
        } else if (collect_ && energy == best && (limit_ == 0 || collected.size() < limit_)) {
            collected.emplace_back(digit_, seconds());
        }
    }

    if (scratch_energy() != energy)
        fatal("SweepSolver: internal error — incremental energy drift in integer enumeration.");

    SolverResult r;
    r.energy = static_cast<energy_t>(best);
    r.tts = best_time;
    r.scale = 1.0;
    decode(best_digits, r.bits, r.int_values);
    for (const auto& [digits, t] : collected) {
        TopkEntry& e = r.topk.emplace_back();
        e.energy = r.energy;
        e.tts = t;
        decode(digits, e.bits, e.int_values);
    }

    char num[64];
    std::snprintf(num, sizeof num, "%f", seconds());
    r.add_info("run_time", num);
    std::snprintf(num, sizeof num, "%lu", static_cast<unsigned long>(states));
    r.add_info("states", num);
    r.add_info("engine", "integer-cpu");
    append_system_info(r.info);
    return r;
}

}  // namespace

SolverResult sweep_int_enumerate(const ModelImpl& m, const ParamList& params) {
    const Clock::time_point start = Clock::now();
    bool collect = false;
    uint64_t limit = 0;
    for (const auto& [key, value] : params.items()) {
        if (key != "best_energy_sols") {
            fatal("SweepSolver: search parameter '" + key +
                  "' is not supported for native integer models yet.");
        }
        collect = true;
        limit = parse_param_uint(value);
    }
    Enumeration e(m, collect, limit);
    return e.run(start);
}

}  // namespace dalo

// Random sequences of operations through the C interface: two expression slots over six
// binary variables, arithmetic, simplification, classic range penalties and declared
// constraints; then the objective is compiled into a Model and every assignment's Sol energy
// is compared with a shadow computation kept here (a polynomial over the six variables, with
// x*x = x, plus the declared constraints' penalties). Operations whose values could leave the
// 32-bit coefficient range are skipped, so every call is valid and any fatal error is a fault.
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "dalo.h"
#include "fuzz_util.hpp"

namespace {

constexpr uint32_t kVars = 6;
constexpr int64_t kNormLimit = int64_t{1} << 26;  // keeps every coefficient inside 32 bits
constexpr uint64_t kTermLimit = 2048;             // unsimplified terms per slot

dalo_var g_first = 0;

// A polynomial over the six variables: variable set (bit mask) -> coefficient.
struct Poly {
    std::map<uint32_t, int64_t> c;
    int64_t norm = 0;  // bound on the absolute coefficient sum of the library's unsimplified form

    int64_t value(uint32_t x) const {
        int64_t v = 0;
        for (const auto& [mask, k] : c)
            if ((mask & x) == mask) v += k;
        return v;
    }
    void add(uint32_t mask, int64_t k) {
        if ((c[mask] += k) == 0) c.erase(mask);
    }
};

Poly constant(int64_t k) {
    Poly p;
    p.add(0, k);
    p.norm = std::llabs(k);
    return p;
}
Poly sum(const Poly& a, const Poly& b, int64_t sign) {
    Poly r = a;
    for (const auto& [m, k] : b.c) r.add(m, sign * k);
    r.norm = a.norm + b.norm;
    return r;
}
Poly product(const Poly& a, const Poly& b) {
    Poly r;
    for (const auto& [ma, ka] : a.c)
        for (const auto& [mb, kb] : b.c) r.add(ma | mb, ka * kb);
    r.norm = a.norm * b.norm;
    return r;
}
Poly variable(uint32_t i) {
    Poly p;
    p.add(1u << i, 1);
    p.norm = 1;
    return p;
}

// A declared constraint as the shadow knows it.
struct Cons {
    Poly body;
    bool known_bounds = true;  // false for relu, whose lower bound the library derives
    int64_t lo = 0, hi = 0;
    std::vector<std::pair<int64_t, int64_t>> allowed;
};

bool nonlinear(const Poly& p) {
    for (const auto& [m, k] : p.c)
        if (std::popcount(m) >= 2) return true;
    return false;
}

// Two rules that differ only for inverted bounds (lo > hi) with hi < v < lo: the Model's
// energy adds both distances, expression evaluation takes the first that applies. The Model
// also keeps no allowed intervals for a nonlinear body, only their hull.
int64_t violation(const Cons& c, int64_t lo, int64_t hi, int64_t v, bool model_rule) {
    if (c.allowed.empty() || (model_rule && nonlinear(c.body))) {
        if (model_rule) return (v < lo ? lo - v : 0) + (v > hi ? v - hi : 0);
        return v < lo ? lo - v : v > hi ? v - hi : 0;
    }
    int64_t best = INT64_MAX;
    for (const auto& [a, b] : c.allowed) {
        const int64_t d = v < a ? a - v : v > b ? v - b : 0;
        if (d < best) best = d;
    }
    return best;
}

struct Slot {
    dalo_expr* e = nullptr;
    Poly p;
    void set(dalo_expr* ne, Poly np) {
        dalo_expr_destroy(e);
        e = ne;
        p = std::move(np);
    }
};

class Run {
  public:
    explicit Run(dalo_fuzz::Bytes& b) : b_(b) {
        for (Slot& s : slot_) s.set(dalo_expr_create(), Poly{});
    }
    ~Run() {
        for (Slot& s : slot_) dalo_expr_destroy(s.e);
        if (cons_ != nullptr) dalo_expr_destroy(cons_);
    }
    void step();
    void check();

  private:
    bool fits(const Poly& p) const { return p.norm <= kNormLimit; }
    dalo_var var(uint32_t i) const { return g_first + i; }
    void add_cons(dalo_expr* c, Cons rec);

    dalo_fuzz::Bytes& b_;
    Slot slot_[2];
    dalo_expr* cons_ = nullptr;  // sum of the declared constraints, in order
    std::vector<Cons> recs_;
};

void Run::add_cons(dalo_expr* c, Cons rec) {
    if (cons_ == nullptr) {
        cons_ = c;
    } else {
        dalo_expr_iadd_expr(cons_, c);
        dalo_expr_destroy(c);
    }
    recs_.push_back(std::move(rec));
}

void Run::step() {
    const uint32_t op = b_.below(18);
    const uint32_t s = b_.below(2);
    Slot& a = slot_[s];
    Slot& other = slot_[1 - s];
    switch (op) {
        case 0: {
            const int64_t k = b_.small(100);
            a.set(dalo_expr_create_int(k), constant(k));
            break;
        }
        case 1: {
            const int64_t k = b_.small(100);
            Poly r = sum(a.p, constant(k), 1);
            if (!fits(r)) break;
            dalo_expr_iadd_int(a.e, k);
            a.p = std::move(r);
            break;
        }
        case 2:
        case 3: {
            const uint32_t v = b_.below(kVars);
            const int64_t sign = op == 2 ? 1 : -1;
            Poly r = sum(a.p, variable(v), sign);
            if (!fits(r)) break;
            if (op == 2) {
                dalo_expr_iadd_var(a.e, var(v));
            } else {
                dalo_expr_isub_var(a.e, var(v));
            }
            a.p = std::move(r);
            break;
        }
        case 4: {
            const int64_t k = b_.small(3);
            Poly r = product(a.p, constant(k));
            if (!fits(r)) break;
            dalo_expr_imul_int(a.e, k);
            a.p = std::move(r);
            break;
        }
        case 5: {
            const uint32_t v = b_.below(kVars);
            Poly r = product(a.p, variable(v));
            r.norm = a.p.norm;
            dalo_expr_imul_var(a.e, var(v));
            a.p = std::move(r);
            break;
        }
        case 6:
        case 7: {
            const int64_t sign = op == 6 ? 1 : -1;
            Poly r = sum(a.p, other.p, sign);
            if (!fits(r) || dalo_expr_term_count(a.e) + dalo_expr_term_count(other.e) > kTermLimit)
                break;
            if (op == 6) {
                dalo_expr_iadd_expr(a.e, other.e);
            } else {
                dalo_expr_isub_expr(a.e, other.e);
            }
            a.p = std::move(r);
            break;
        }
        case 8:
        case 9: {
            const Slot& rhs = op == 8 ? other : a;
            Poly r = product(a.p, rhs.p);
            if (!fits(r) ||
                (dalo_expr_term_count(a.e) + 1) * (dalo_expr_term_count(rhs.e) + 1) > kTermLimit)
                break;
            if (op == 8) {
                dalo_expr_imul_expr(a.e, rhs.e);
            } else {
                a.set(dalo_expr_sqr(a.e), std::move(r));
                break;
            }
            a.p = std::move(r);
            break;
        }
        case 10: {
            dalo_expr_negate(a.e);
            a.p = product(a.p, constant(-1));
            break;
        }
        case 11: {
            Poly r = a.p;
            r.norm = 0;
            for (const auto& [m, k] : r.c) r.norm += std::llabs(k);
            a.set(dalo_expr_simplify_as_binary(a.e), std::move(r));
            break;
        }
        case 12: {
            Poly r = a.p;
            a.set(dalo_expr_simplify(a.e), std::move(r));
            break;
        }
        case 13: {
            Poly r = a.p;
            other.set(dalo_expr_clone(a.e), std::move(r));
            break;
        }
        case 14: {
            const int64_t lo = b_.small(6);
            const int64_t hi = lo + b_.small(3);
            const int64_t k = b_.below(4);
            if (k == 3) {
                // Classic range penalty without slack: 0, (f - lo)^2 or (f - lo)(f - hi).
                const int64_t h = hi < lo ? hi : std::min(hi, lo + 1);
                Poly r;
                if (h >= lo) r = product(sum(a.p, constant(lo), -1), sum(a.p, constant(h), -1));
                if (!fits(r) ||
                    2 * (dalo_expr_term_count(a.e) + 1) * (dalo_expr_term_count(a.e) + 1) >
                        kTermLimit)
                    break;
                a.set(dalo_between(a.e, lo, h), std::move(r));
                break;
            }
            if (recs_.size() >= 3) break;
            Cons rec{a.p, true, lo, hi, {}};
            add_cons(dalo_cons_between(a.e, lo, hi), std::move(rec));
            break;
        }
        case 15: {
            if (recs_.size() >= 3) break;
            const uint32_t n = 1 + b_.below(3);
            std::vector<int64_t> lo(n), hi(n);
            Cons rec{a.p, true, INT64_MAX, INT64_MIN, {}};
            for (uint32_t i = 0; i < n; ++i) {
                lo[i] = b_.small(6);
                hi[i] = lo[i] + b_.below(3);
                rec.allowed.emplace_back(lo[i], hi[i]);
                rec.lo = std::min(rec.lo, lo[i]);
                rec.hi = std::max(rec.hi, hi[i]);
            }
            add_cons(dalo_cons_equal(a.e, lo.data(), hi.data(), n), std::move(rec));
            break;
        }
        case 16:
        case 17: {
            // The Model takes abs/relu shapes of linear bodies only (after binary simplification).
            bool linear = true;
            for (const auto& [m, k] : a.p.c) linear = linear && std::popcount(m) <= 1;
            if (recs_.size() >= 3 || !linear) break;
            const int32_t k = 1 + static_cast<int32_t>(b_.below(2));
            if (op == 16) {
                add_cons(dalo_abs_term(a.e, k), Cons{a.p, true, 0, 0, {}});
            } else {
                add_cons(dalo_relu_term(a.e, k), Cons{a.p, false, 0, 0, {}});
            }
            break;
        }
    }
}

void Run::check() {
    // The objective: slot 0 plus the declared constraints.
    // Adding 0 in place leaves a plain polynomial whatever slot 0 carries, so the declared
    // constraints join it without mixing record kinds.
    dalo_expr* f = dalo_expr_clone(slot_[0].e);
    dalo_expr_iadd_int(f, 0);
    if (cons_ != nullptr) dalo_expr_iadd_expr(f, cons_);
    dalo_expr* bin = dalo_expr_simplify_as_binary(f);
    dalo_model* m = dalo_model_create(bin);
    // The Model written straight from the simplification is the same Model.
    dalo_model* fused = dalo_model_create_simplified(f);
    bool same = dalo_model_var_count(fused) == dalo_model_var_count(m) &&
                dalo_model_max_degree(fused) == dalo_model_max_degree(m) &&
                dalo_model_constant(fused, nullptr) == dalo_model_constant(m, nullptr) &&
                dalo_model_native_cons_count(fused) == dalo_model_native_cons_count(m);
    for (uint32_t i = 0; same && i < dalo_model_var_count(m); ++i)
        same = dalo_model_var(fused, i) == dalo_model_var(m, i);
    for (uint32_t d = 1; same && d <= dalo_model_max_degree(m); ++d) {
        const uint64_t count = dalo_model_term_count(m, d);
        same = dalo_model_term_count(fused, d) == count &&
               std::equal(dalo_model_term_vars(m, d), dalo_model_term_vars(m, d) + d * count,
                          dalo_model_term_vars(fused, d)) &&
               std::equal(dalo_model_coeff_array(m, d), dalo_model_coeff_array(m, d) + count,
                          dalo_model_coeff_array(fused, d));
    }
    dalo_model_destroy(fused);
    if (!same) dalo_fuzz::fault("dalo_model_create_simplified gives another Model");
    const uint64_t items = cons_ == nullptr ? 0 : dalo_cons_item_count(f);
    if (items != recs_.size()) dalo_fuzz::fault("item count " + std::to_string(items));
    struct Item {
        int64_t weight, lo, hi;
        uint32_t k;
    };
    std::vector<Item> info(items);
    for (uint64_t i = 0; i < items; ++i) {
        dalo_expr* body = nullptr;
        uint32_t objective_only = 0;
        if (dalo_cons_item_info(f, i, &body, &info[i].weight, &info[i].lo, &info[i].hi) != 1)
            dalo_fuzz::fault("declared item reported as free-form");
        dalo_expr_destroy(body);
        dalo_cons_item_shape(f, i, &info[i].k, &objective_only);
        if (recs_[i].known_bounds && (info[i].lo != recs_[i].lo || info[i].hi != recs_[i].hi))
            dalo_fuzz::fault("bounds of item " + std::to_string(i));
        if (info[i].weight != 1) dalo_fuzz::fault("weight of item " + std::to_string(i));
    }
    dalo_sol* sol = dalo_sol_create(m);
    const uint32_t n = dalo_model_var_count(m);
    for (uint32_t x = 0; x < (1u << kVars); ++x) {
        std::vector<uint64_t> bits((n + 63) / 64 + 1, 0);
        for (uint32_t i = 0; i < kVars; ++i) {
            if (!dalo_model_has(m, g_first + i)) continue;
            const uint32_t value = (x >> i) & 1;
            dalo_sol_set(sol, g_first + i, value);
            const uint32_t idx = dalo_model_var_index(m, g_first + i);
            if (value) bits[idx / 64] |= uint64_t{1} << (idx % 64);
        }
        int64_t want = slot_[0].p.value(x);
        const int64_t objective = dalo_model_eval(m, bits.data(), nullptr);
        if (objective != want) {
            dalo_fuzz::fault("Model value " + std::to_string(objective) +
                             " != " + std::to_string(want) + " at " + std::to_string(x));
        }
        int64_t want_direct = want;
        for (uint64_t i = 0; i < items; ++i) {
            const int64_t v = recs_[i].body.value(x);
            const int64_t d = violation(recs_[i], info[i].lo, info[i].hi, v, true);
            const int64_t d1 = violation(recs_[i], info[i].lo, info[i].hi, v, false);
            want += info[i].weight * (info[i].k == 1 ? d : d * d);
            want_direct += info[i].weight * (info[i].k == 1 ? d1 : d1 * d1);
        }
        const int64_t energy = dalo_sol_compute_energy(sol, nullptr);
        if (energy != want) {
            dalo_fuzz::fault("Sol energy " + std::to_string(energy) +
                             " != " + std::to_string(want) + " at " + std::to_string(x) + " for " +
                             dalo_expr_str(f));
        }
        const int64_t direct = dalo_sol_eval_expr(sol, f, nullptr);
        if (direct != want_direct) {
            dalo_fuzz::fault("dalo_sol_eval_expr " + std::to_string(direct) +
                             " != " + std::to_string(want_direct) + " at " + std::to_string(x) +
                             " for " + dalo_expr_str(f));
        }
    }
    dalo_sol_destroy(sol);
    dalo_model_destroy(m);
    dalo_expr_destroy(bin);
    dalo_expr_destroy(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("DALO_NUM_THREADS", "1", 1);
    const uint64_t shape[1] = {kVars};
    g_first = dalo_new_var_array("x", shape, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dalo_fuzz::Bytes b(data, size);
    try {
        Run run(b);
        for (int i = 0; i < 24 && !b.empty(); ++i) run.step();
        run.check();
    } catch (const std::logic_error& e) {
        dalo_fuzz::fault(std::string("fatal error on valid use: ") + e.what());
    }
    return 0;
}

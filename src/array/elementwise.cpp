#include "array/elementwise.hpp"

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "constraints/attr_rules.hpp"
#include "constraints/constructors.hpp"
#include "constraints/registry.hpp"
#include "core/expr_ops.hpp"
#include "core/fatal.hpp"
#include "transform/bounds.hpp"

namespace dalo {

const char* ew_symbol(EwOp op, bool in_place) {
    switch (op) {
        case EwOp::Add:
            return in_place ? "+=" : "+";
        case EwOp::Sub:
            return in_place ? "-=" : "-";
        case EwOp::Mul:
            return in_place ? "*=" : "*";
        case EwOp::Div:
            break;
    }
    return in_place ? "/=" : "/";
}

void ew_check_shapes(const char* symbol, const std::vector<uint64_t>& a,
                     const std::vector<uint64_t>& b) {
    if (a != b) {
        fatal(std::string("Array ") + symbol + ": shape mismatch " + shape_text(a) + " vs " +
              shape_text(b));
    }
}

// The terms go as one block, not one by one: a sum of large expressions is a copy.
void ew_add_expr(ExprImpl& e, const ExprImpl& x, bool negate) {
    if (negate) {
        poly_isub_expr(e, x);
    } else {
        poly_iadd_expr(e, x);
    }
}

namespace {

// f(x), or f of a plain copy when x carries declared constraints: the scalar products refuse
// those, the array forms do not.
template <class F>
ExprImpl unrefused(const ExprImpl& x, F f) {
    if (!carries_declared(x.attr)) return f(x);
    return f(ExprImpl(x, kAttrPlain));
}

}  // namespace

ExprImpl ew_product(const ExprImpl& a, const ExprImpl& b) {
    return unrefused(a, [&](const ExprImpl& pa) {
        return unrefused(b, [&](const ExprImpl& pb) { return expr_mul_expr(pa, pb); });
    });
}

ExprImpl ew_square(const ExprImpl& a) { return unrefused(a, expr_sqr); }

void ew_check_divisor(EwCat kind, int64_t k) {
    if (k != 0) return;
    if (kind == EwCat::Term) fatal("Array<Term> /=: division by zero");
    if (kind == EwCat::Expr) fatal("Array<Expr> /=: division by zero");
}

void ew_divide(coeff_t& c, int64_t k) {
    if (k == 0) {
        c = 0;
    } else if (k == -1) {
        c = neg_coeff(c);
    } else {
        c = static_cast<coeff_t>(c / k);
    }
}

void ew_check_division(const TermElem& t, int64_t k) {
    if (t.coeff % k != 0) fatal("Array<Term> /=: indivisible coefficient");
}

void ew_check_division(const ExprImpl& e, int64_t k) {
    bool divides = e.constant % k == 0;
    e.for_each_term([&](const TermImpl& t) { divides = divides && t.coeff % k == 0; });
    if (divides) return;
    // The scalar division of a copy refuses it with its own message.
    ExprImpl copy(e, kAttrPlain);
    poly_idiv_int(copy, k);
}

void ew_divide(TermElem& t, int64_t k) {
    // ew_check_division has accepted every element.
    t.coeff = static_cast<coeff_t>(k == -1 ? neg_coeff(t.coeff) : t.coeff / k);
}

void ew_divide(ExprImpl& e, int64_t k) {
    // The scalar division refuses declared constraints; here every result is plain.
    e.attr = kAttrPlain;
    expr_idiv_int(e, k);
}

// ---- sums ----

namespace {

template <class T>
energy_t constant_of(const T& x) {
    if constexpr (ew_cat<T> == EwCat::Int) return x;
    if constexpr (ew_cat<T> == EwCat::Expr) return x.constant;
    return 0;
}

template <class T>
uint64_t terms_in(const T& x) {
    if constexpr (ew_cat<T> == EwCat::Int) return 0;
    if constexpr (ew_cat<T> == EwCat::Expr) return x.term_count();
    return 1;
}

// Term k of an element (a variable is the term 1 * v).
template <class T>
TermImpl term_in(const T& x, uint64_t k) {
    if constexpr (ew_cat<T> == EwCat::Expr) {
        return x.term(k);
    } else {
        return ew_as_term(x);
    }
}

// The sum of get(0) .. get(n - 1), appended in order to an expression reserved once.
template <class Get>
ExprImpl sum_serial(uint64_t n, Get&& get) {
    ExprImpl r;
    uint64_t total = 0;
    for (uint64_t i = 0; i < n; ++i) total += terms_in(get(i));
    r.reserve_more(total);
    for (uint64_t i = 0; i < n; ++i) ew_add(r, get(i), false);
    return r;
}

// The same sum with T threads, each copying the terms of one contiguous chunk of elements
// [c * n / T, (c + 1) * n / T) into place. Appending in order puts the first term with a
// non-zero coefficient inline and every later term into the tail (earlier zero terms pass
// through the empty inline slot and vanish), so each chunk's place in the tail is known
// before any term is copied and the result equals the serial sum for every T.
template <class Get>
ExprImpl sum_chunks(uint64_t n, uint32_t threads, Get&& get) {
    std::vector<uint64_t> offset(threads + 1, 0);
    energy_t constant = 0;
    uint64_t lead = n, lead_term = 0;  // the first non-zero term: element, term
    for (uint32_t c = 0; c < threads; ++c) {
        for (uint64_t i = c * n / threads; i < (c + 1) * n / threads; ++i) {
            const auto& x = get(i);
            constant = wrap_add(constant, constant_of(x));
            const uint64_t m = terms_in(x);
            uint64_t k = 0;
            if (lead == n) {
                while (k < m && term_in(x, k).coeff == 0) ++k;
                if (k == m) continue;
                lead = i;
                lead_term = k++;
            }
            offset[c + 1] += m - k;
        }
        offset[c + 1] += offset[c];
    }
    ExprImpl r(constant);
    if (lead == n) return r;
    r.first = copy_term(term_in(get(lead), lead_term));
    r.reserve_more(offset[threads]);
    TermImpl* out = r.terms;
    std::atomic<uint32_t> next{0};
    detail::run_own_threads(threads, [&] {
        for (uint32_t c; (c = next.fetch_add(1, std::memory_order_relaxed)) < threads;) {
            TermImpl* o = out + offset[c];
            for (uint64_t i = std::max(c * n / threads, lead); i < (c + 1) * n / threads; ++i) {
                const auto& x = get(i);
                for (uint64_t k = i == lead ? lead_term + 1 : 0; k < terms_in(x); ++k)
                    *o++ = copy_term(term_in(x, k));
            }
        }
    });
    r.count = offset[threads];  // every entry is written now
    return r;
}

template <class Get>
ExprImpl sum_of(uint64_t n, Get&& get) {
    const uint32_t threads = thread_budget();
    if (threads < 2 || n <= kSerialLimit || in_parallel_region()) return sum_serial(n, get);
    return sum_chunks(n, threads, get);
}

// The array sum attribute rule: one new sum of every carrying element's items; its free-form
// penalty adds the carrying sums' penalties and, for classic sums, every plain element.
uint32_t array_sum_word(const ExprArray& a) {
    bool declared = false, classic = false;
    for (const ExprImpl& x : a.data) {
        if (attr_carries(x.attr)) (carries_declared(x.attr) ? declared : classic) = true;
    }
    if (declared && classic) {
        fatal("dalo::cons: cannot sum declared and classic penalty-style constraints in one array");
    }
    if (!declared && !classic) return kAttrPlain;
    std::vector<SumItem> items;
    std::unique_ptr<ExprImpl> penalty;
    auto add_penalty = [&penalty](const ExprImpl& p) {
        if (penalty == nullptr) {
            penalty = std::make_unique<ExprImpl>(p, kAttrPlain);
        } else {
            ew_add_expr(*penalty, p, false);
        }
    };
    for (const ExprImpl& x : a.data) {
        if (!attr_carries(x.attr)) {
            if (!declared) add_penalty(x);
            continue;
        }
        std::vector<SumItem> more = collect_items(x.attr, 1);
        items.insert(items.end(), more.begin(), more.end());
        if (is_sum_word(x.attr)) {
            if (const ExprImpl* p = constraint_sum_set().penalty(x.attr & kRecordMask))
                add_penalty(*p);
        }
    }
    return kTagSum | constraint_sum_set().add(std::move(items), std::move(penalty), declared);
}

// Walks one axis of a row-major shape: result element r sums the elements
// base(r) + t * inner, t < extent.
struct AxisWalk {
    uint64_t extent = 0, inner = 1;
    std::vector<uint64_t> rest;  // the shape without the axis

    AxisWalk(const std::vector<uint64_t>& shape, uint64_t axis) : extent(shape[axis]) {
        for (uint64_t d = axis + 1; d < shape.size(); ++d) inner *= shape[d];
        rest = shape;
        rest.erase(rest.begin() + static_cast<long>(axis));
    }
    uint64_t base(uint64_t r) const { return (r / inner) * extent * inner + r % inner; }
};

template <class Get>
ExprArray vector_sum_of(const std::vector<uint64_t>& shape, uint64_t axis, Get&& get) {
    const AxisWalk walk(shape, axis);
    return ew_generate<ExprImpl>(walk.rest, [&](uint64_t r) {
        const uint64_t base = walk.base(r);
        return sum_serial(walk.extent,
                          [&](uint64_t t) -> decltype(auto) { return get(base + t * walk.inner); });
    });
}

}  // namespace

template <class T>
ExprImpl ew_sum(const ArrayImpl<T>& a) {
    uint32_t word = kAttrPlain;
    if constexpr (ew_cat<T> == EwCat::Expr) word = array_sum_word(a);
    ExprImpl r = sum_of(a.size(), [&a](uint64_t i) -> const T& { return a.data[i]; });
    r.attr = word;
    return r;
}

ExprImpl ew_sum_of(const ExprImpl* const* items, uint64_t n) {
    return sum_of(n, [items](uint64_t i) -> const ExprImpl& { return *items[i]; });
}

template <class T>
ExprArray ew_vector_sum(const ArrayImpl<T>& a, uint64_t axis) {
    check_axis("Array vector_sum", axis, a.ndim());
    return vector_sum_of(a.shape, axis, [&a](uint64_t i) -> const T& { return a.data[i]; });
}

ExprArray ew_vector_sum_buffer(const void* data, uint32_t kind, std::vector<uint64_t> shape,
                               uint64_t axis) {
    check_axis("dalo_array_vector_sum", axis, shape.size());
    switch (kind) {
        case 0: {
            const auto* items = static_cast<const ExprImpl* const*>(data);
            return vector_sum_of(shape, axis,
                                 [items](uint64_t i) -> const ExprImpl& { return *items[i]; });
        }
        case 1: {
            const auto* vars = static_cast<const Var*>(data);
            return vector_sum_of(shape, axis, [vars](uint64_t i) -> const Var& { return vars[i]; });
        }
        case 2: {
            const auto* terms = static_cast<const TermImpl*>(data);
            return vector_sum_of(shape, axis,
                                 [terms](uint64_t i) -> const TermImpl& { return terms[i]; });
        }
        default:
            return ExprArray(AxisWalk(shape, axis).rest);
    }
}

IntArray* ew_onehot_to_int(const IntArray& a, int64_t axis) {
    const auto ndim = static_cast<int64_t>(a.ndim());
    if (axis < 0) axis += ndim;
    if (ndim == 0 || axis < 0 || axis >= ndim) return nullptr;
    const AxisWalk walk(a.shape, static_cast<uint64_t>(axis));
    const std::vector<uint64_t> shape = walk.rest.empty() ? std::vector<uint64_t>{1} : walk.rest;
    return new IntArray(ew_generate<coeff_t>(shape, [&](uint64_t r) {
        const uint64_t base = walk.base(r);
        coeff_t at = -1;
        for (uint64_t t = 0; t < walk.extent; ++t) {
            const coeff_t c = a.data[base + t * walk.inner];
            if (c == 0) continue;
            if (c != 1 || at != -1) return coeff_t{-1};
            at = static_cast<coeff_t>(t);
        }
        return at;
    }));
}

// ---- classic constraints ----

namespace {

void check_bound_shape(const std::vector<uint64_t>& left, const IntArray* b, const char* message) {
    if (b != nullptr && b->shape != left) fatal(message);
}

int64_t bound_at(const EwBound& b, uint64_t i, int64_t reachable) {
    if (b.reachable) return reachable;
    return b.array != nullptr ? b.array->data[i] : b.value;
}

constexpr const char* kCompareDeclared = "== / <= (comparing declared constraints)";

}  // namespace

template <class T>
ExprArray ew_compare(const ArrayImpl<T>& a, EwBound lo, EwBound hi, bool parallel) {
    if (lo.array != nullptr && lo.array == hi.array) {
        check_bound_shape(a.shape, lo.array, "Array == Array<int>: shape mismatch");
    } else {
        check_bound_shape(a.shape, lo.array,
                          "Array range constraint: lower-bound array shape mismatch");
        check_bound_shape(a.shape, hi.array,
                          "Array range constraint: upper-bound array shape mismatch");
    }
    const bool reach = lo.reachable || hi.reachable;
    // Every refusal, in element order, before the first record or slack variable exists.
    std::vector<std::pair<int64_t, int64_t>> reached(reach ? a.size() : 0);
    for (uint64_t i = 0; i < a.size(); ++i) {
        if constexpr (ew_cat<T> == EwCat::Expr) refuse_if_declared(a.data[i], kCompareDeclared);
        if (reach) reached[i] = reachable_bounds(ew_as_expr(a.data[i]));
        const int64_t l = bound_at(lo, i, reach ? reached[i].first : 0);
        const int64_t h = bound_at(hi, i, reach ? reached[i].second : 0);
        between_slack_coeffs(l, h);
    }
    auto make = [&](uint64_t i) {
        decltype(auto) e = ew_as_expr(a.data[i]);
        const std::pair<int64_t, int64_t> r =
            reach ? reached[i] : std::pair<int64_t, int64_t>{0, 0};
        const int64_t l = bound_at(lo, i, r.first), h = bound_at(hi, i, r.second);
        ExprImpl c = exprexpr_create(between(e, l, h), e);
        exprexpr_set().set_bounds(c.attr & kRecordMask, l, h);
        return c;
    };
    return ew_generate<ExprImpl>(a.shape, make, parallel);
}

#define DALO_EW_INSTANTIATE(T)                                       \
    template ExprImpl ew_sum(const ArrayImpl<T>&);                   \
    template ExprArray ew_vector_sum(const ArrayImpl<T>&, uint64_t); \
    template ExprArray ew_compare(const ArrayImpl<T>&, EwBound, EwBound, bool);

DALO_EW_INSTANTIATE(Var)
DALO_EW_INSTANTIATE(coeff_t)
DALO_EW_INSTANTIATE(TermElem)
DALO_EW_INSTANTIATE(ExprImpl)

}  // namespace dalo

// Einstein summation: subscript parsing, checks, and the contraction in either parallel mode.
#include "array/einsum.hpp"

#include <array>
#include <atomic>
#include <cstring>
#include <string>

#include "constraints/arith.hpp"
#include "core/fatal.hpp"

namespace dalo {

namespace {

constexpr uint64_t kSplitMaxOut = 10'000;  // split-sum mode needs fewer output elements
constexpr uint64_t kSplitMinSum = 99'999;  // and more contraction tuples than this

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n'; }

std::string quoted(const char* s) { return std::string("\"") + s + "\""; }

struct Parsed {
    std::vector<std::vector<unsigned char>> labels;  // per input, one per axis
    bool explicit_output = false;
    std::vector<unsigned char> output;
};

Parsed parse(const char* subscript, uint64_t n) {
    Parsed p;
    p.labels.resize(n);
    const char* s = subscript;
    auto at_arrow = [&] { return s[0] == '-' && s[1] == '>'; };
    for (uint64_t i = 0; i < n; ++i) {
        for (; *s != '\0' && *s != ',' && !at_arrow(); ++s) {
            if (!is_space(*s)) p.labels[i].push_back(static_cast<unsigned char>(*s));
        }
        if (i + 1 < n) {
            if (*s != ',') {
                fatal("einsum: expected ',' separating " + std::to_string(n) +
                      " inputs in subscript " + quoted(subscript));
            }
            ++s;
        }
    }
    while (is_space(*s)) ++s;
    if (*s == '\0' || *s == ',') return p;
    if (!at_arrow()) {
        fatal(std::string("einsum: unexpected trailing character '") + *s + "' in subscript " +
              quoted(subscript));
    }
    p.explicit_output = true;
    for (s += 2; *s != '\0'; ++s) {
        if (!is_space(*s)) p.output.push_back(static_cast<unsigned char>(*s));
    }
    return p;
}

const std::vector<uint64_t>& shape_of(const EinsumInput& in) {
    switch (in.kind) {
        case EinsumKind::Vars:
            return static_cast<const VarArray*>(in.array)->shape;
        case EinsumKind::Ints:
            return static_cast<const IntArray*>(in.array)->shape;
        case EinsumKind::Terms:
            return static_cast<const TermArray*>(in.array)->shape;
        case EinsumKind::Exprs:
            break;
    }
    return static_cast<const ExprArray*>(in.array)->shape;
}

uint64_t product(const std::vector<uint64_t>& extents) {
    uint64_t n = 1;
    for (uint64_t e : extents) {
        if (e != 0 && n > UINT64_MAX / e) fatal("einsum: the contraction has too many tuples");
        n *= e;
    }
    return n;
}

// The contraction plan: extents of the output and contracted labels and, per input, the
// summed stride of each (a label repeated on several axes walks their diagonal).
struct Plan {
    uint64_t n = 0;
    std::vector<EinsumInput> inputs;
    std::vector<uint64_t> out_ext, sum_ext;
    std::vector<uint64_t> out_stride, sum_stride;  // [input * labels + position]
    std::vector<uint64_t> same_as;                 // output axis -> first axis with its label
    uint64_t n_out = 1, n_sum = 1;
    bool has_expr = false;

    uint64_t out_at(uint64_t k, uint64_t p) const { return out_stride[k * out_ext.size() + p]; }
    uint64_t sum_at(uint64_t k, uint64_t q) const { return sum_stride[k * sum_ext.size() + q]; }
};

Plan make_plan(const char* subscript, uint64_t n, const EinsumInput* inputs, bool expr_output,
               uint64_t out_dim) {
    Parsed parsed = parse(subscript, n);
    std::array<uint64_t, 256> extent{};
    std::array<uint64_t, 256> seen{};
    for (uint64_t i = 0; i < n; ++i) {
        const auto& shape = shape_of(inputs[i]);
        const auto& labels = parsed.labels[i];
        if (labels.size() != shape.size()) {
            fatal("einsum: input " + std::to_string(i) + " has " + std::to_string(shape.size()) +
                  " dims but subscript has " + std::to_string(labels.size()) +
                  " labels (subscript=" + quoted(subscript) + ")");
        }
        for (uint64_t d = 0; d < labels.size(); ++d) {
            unsigned char c = labels[d];
            if (seen[c] != 0 && extent[c] != shape[d]) {
                fatal(std::string("einsum: inconsistent size for label '") + static_cast<char>(c) +
                      "': " + std::to_string(extent[c]) + " vs " + std::to_string(shape[d]));
            }
            extent[c] = shape[d];
            ++seen[c];
        }
    }
    std::array<bool, 256> is_out{};
    if (parsed.explicit_output) {
        for (unsigned char c : parsed.output) {
            if (seen[c] == 0) {
                fatal(std::string("einsum: output label '") + static_cast<char>(c) +
                      "' not in any input");
            }
            is_out[c] = true;
        }
    } else {
        for (int c = 0; c < 256; ++c) {
            if (seen[c] == 1) {
                parsed.output.push_back(static_cast<unsigned char>(c));
                is_out[c] = true;
            }
        }
    }
    if (parsed.output.size() != out_dim) {
        fatal("einsum: OutDim mismatch \xE2\x80\x94 subscript " + quoted(subscript) + " produces " +
              std::to_string(parsed.output.size()) + " output axis(es), but the call was einsum<" +
              std::to_string(out_dim) + ">()");
    }
    if (!expr_output) {
        for (uint64_t i = 0; i < n; ++i) {
            if (inputs[i].kind != EinsumKind::Ints) {
                fatal("einsum: int output requires all inputs to be coeff_t (input " +
                      std::to_string(i) + " has type tag " +
                      std::to_string(static_cast<uint32_t>(inputs[i].kind)) + ")");
            }
        }
    }

    Plan plan;
    plan.n = n;
    plan.inputs.assign(inputs, inputs + n);
    std::array<int, 256> out_pos{};
    std::array<int, 256> sum_pos{};
    out_pos.fill(-1);
    sum_pos.fill(-1);
    for (uint64_t p = 0; p < parsed.output.size(); ++p) {
        unsigned char c = parsed.output[p];
        if (out_pos[c] < 0) out_pos[c] = static_cast<int>(p);
        plan.same_as.push_back(static_cast<uint64_t>(out_pos[c]));
        plan.out_ext.push_back(extent[c]);
    }
    for (int c = 0; c < 256; ++c) {
        if (seen[c] != 0 && !is_out[c]) {
            sum_pos[c] = static_cast<int>(plan.sum_ext.size());
            plan.sum_ext.push_back(extent[c]);
        }
    }
    plan.n_out = product(plan.out_ext);
    plan.n_sum = product(plan.sum_ext);
    plan.out_stride.assign(n * plan.out_ext.size(), 0);
    plan.sum_stride.assign(n * plan.sum_ext.size(), 0);
    for (uint64_t k = 0; k < n; ++k) {
        std::vector<uint64_t> strides = strides_of(shape_of(inputs[k]));
        const auto& labels = parsed.labels[k];
        for (uint64_t d = 0; d < labels.size(); ++d) {
            unsigned char c = labels[d];
            if (out_pos[c] >= 0) {
                plan.out_stride[k * plan.out_ext.size() + out_pos[c]] += strides[d];
            } else {
                plan.sum_stride[k * plan.sum_ext.size() + sum_pos[c]] += strides[d];
            }
        }
        plan.has_expr = plan.has_expr || inputs[k].kind == EinsumKind::Exprs;
    }
    return plan;
}

// Element offsets of every input at the base of one output element; false when the element
// lies off the diagonal that a repeated output label asks for.
bool bases_of(const Plan& plan, uint64_t o, std::vector<uint64_t>& base) {
    uint64_t m = plan.out_ext.size();
    std::vector<uint64_t> coord(m);
    for (uint64_t p = m; p-- > 0;) {
        coord[p] = o % plan.out_ext[p];
        o /= plan.out_ext[p];
    }
    for (uint64_t p = 0; p < m; ++p) {
        if (coord[p] != coord[plan.same_as[p]]) return false;
    }
    base.assign(plan.n, 0);
    for (uint64_t k = 0; k < plan.n; ++k) {
        for (uint64_t p = 0; p < m; ++p) {
            if (plan.same_as[p] == p) base[k] += coord[p] * plan.out_at(k, p);
        }
    }
    return true;
}

// One tuple of the summed labels: its coordinates and each operand's offset.
struct Cursor {
    const Plan& plan;
    std::vector<uint64_t> coord, off;

    Cursor(const Plan& p, const std::vector<uint64_t>& base, uint64_t t)
        : plan(p), coord(p.sum_ext.size()), off(base) {
        const uint64_t m = coord.size();
        for (uint64_t q = m; q-- > 0;) {
            coord[q] = t % plan.sum_ext[q];
            t /= plan.sum_ext[q];
        }
        for (uint64_t k = 0; k < plan.n; ++k) {
            for (uint64_t q = 0; q < m; ++q) off[k] += coord[q] * plan.sum_at(k, q);
        }
    }
    // The next tuple in row-major order, the last label fastest.
    void next() {
        uint64_t q = coord.size() - 1;
        for (;;) {
            ++coord[q];
            for (uint64_t k = 0; k < plan.n; ++k) off[k] += plan.sum_at(k, q);
            if (coord[q] < plan.sum_ext[q] || q == 0) break;
            for (uint64_t k = 0; k < plan.n; ++k) off[k] -= coord[q] * plan.sum_at(k, q);
            coord[q] = 0;
            --q;
        }
    }
    // The tuple len steps on along the last label, at most to the end of its run.
    void skip(uint64_t len) {
        const uint64_t q = coord.size() - 1;
        coord[q] += len - 1;
        for (uint64_t k = 0; k < plan.n; ++k) off[k] += (len - 1) * plan.sum_at(k, q);
        next();
    }
};

// Calls f(offsets) for the tuples [t0, t1) in row-major order, the last label fastest.
template <class F>
void walk_tuples(const Plan& plan, const std::vector<uint64_t>& base, uint64_t t0, uint64_t t1,
                 F&& f) {
    if (t0 >= t1) return;
    Cursor c(plan, base, t0);
    for (uint64_t t = t0;;) {
        f(c.off.data());
        if (++t == t1) return;
        c.next();
    }
}

// Calls g(offsets, len, steps) for runs of the tuples [t0, t1) along the last label: the run
// holds len tuples, the r-th at offsets[k] + r * steps[k].
template <class G>
void walk_runs(const Plan& plan, const std::vector<uint64_t>& base, uint64_t t0, uint64_t t1,
               G&& g) {
    if (t0 >= t1) return;
    const uint64_t m = plan.sum_ext.size();
    std::vector<uint64_t> step(plan.n, 0);
    if (m == 0) {
        g(base.data(), t1 - t0, step.data());
        return;
    }
    for (uint64_t k = 0; k < plan.n; ++k) step[k] = plan.sum_at(k, m - 1);
    Cursor c(plan, base, t0);
    for (uint64_t t = t0;;) {
        const uint64_t len = std::min(plan.sum_ext[m - 1] - c.coord[m - 1], t1 - t);
        g(c.off.data(), len, step.data());
        t += len;
        if (t >= t1) return;
        c.skip(len);
    }
}

template <class A>
const A& array_of(const EinsumInput& in) {
    return *static_cast<const A*>(in.array);
}

// Integer result: 64-bit products summed in 64 bits.
int64_t int_partial(const Plan& plan, const std::vector<uint64_t>& base, uint64_t t0, uint64_t t1) {
    uint64_t sum = 0;
    walk_tuples(plan, base, t0, t1, [&](const uint64_t* off) {
        uint64_t prod = 1;
        for (uint64_t k = 0; k < plan.n; ++k) {
            prod *= static_cast<uint64_t>(int64_t{array_of<IntArray>(plan.inputs[k]).data[off[k]]});
        }
        sum += prod;
    });
    return static_cast<int64_t>(sum);
}

// Integers times at most two variables, the common contraction: each tuple writes its term
// field by field, with no variable list to build.
bool small_partial(const Plan& plan, const std::vector<uint64_t>& base, uint64_t t0, uint64_t t1,
                   ExprImpl& out) {
    uint64_t var_at[2] = {0, 0}, int_at[8];
    uint64_t nv = 0, ni = 0;
    for (uint64_t k = 0; k < plan.n; ++k) {
        const EinsumKind kind = plan.inputs[k].kind;
        if (kind == EinsumKind::Vars && nv < 2) {
            var_at[nv++] = k;
        } else if (kind == EinsumKind::Ints && ni < 8) {
            int_at[ni++] = k;
        } else {
            return false;
        }
    }
    const Var* va = nv > 0 ? array_of<VarArray>(plan.inputs[var_at[0]]).data.data() : nullptr;
    const Var* vb = nv > 1 ? array_of<VarArray>(plan.inputs[var_at[1]]).data.data() : nullptr;
    const coeff_t* ints[8];
    for (uint64_t i = 0; i < ni; ++i)
        ints[i] = array_of<IntArray>(plan.inputs[int_at[i]]).data.data();
    // Along a run each operand moves by a fixed step: pointers that advance, no offsets.
    walk_runs(plan, base, t0, t1, [&](const uint64_t* off, uint64_t len, const uint64_t* step) {
        const coeff_t* in[8];
        uint64_t in_step[8];
        for (uint64_t i = 0; i < ni; ++i) {
            in[i] = ints[i] + off[int_at[i]];
            in_step[i] = step[int_at[i]];
        }
        const Var* a = nv > 0 ? va + off[var_at[0]] : nullptr;
        const Var* b = nv > 1 ? vb + off[var_at[1]] : nullptr;
        const uint64_t sa = nv > 0 ? step[var_at[0]] : 0, sb = nv > 1 ? step[var_at[1]] : 0;
        for (uint64_t r = 0; r < len; ++r) {
            coeff_t c = 1;
            for (uint64_t i = 0; i < ni; ++i) c = mul_coeff(c, in[i][r * in_step[i]]);
            if (c == 0) continue;
            if (nv == 0) {
                out.constant = wrap_add(out.constant, c);
            } else {
                out.append_small(c, a[r * sa], nv > 1 ? b[r * sb] : kNoVar);
            }
        }
    });
    return true;
}

// Expression result without expression inputs: at most one term per tuple.
void term_partial(const Plan& plan, const std::vector<uint64_t>& base, uint64_t t0, uint64_t t1,
                  ExprImpl& out) {
    if (small_partial(plan, base, t0, t1, out)) return;
    std::vector<Var> vars;
    walk_tuples(plan, base, t0, t1, [&](const uint64_t* off) {
        coeff_t c = 1;
        vars.clear();
        for (uint64_t k = 0; k < plan.n; ++k) {
            const EinsumInput& in = plan.inputs[k];
            switch (in.kind) {
                case EinsumKind::Vars:
                    vars.push_back(array_of<VarArray>(in).data[off[k]]);
                    break;
                case EinsumKind::Ints:
                    c = mul_coeff(c, array_of<IntArray>(in).data[off[k]]);
                    break;
                case EinsumKind::Terms: {
                    const TermElem& t = array_of<TermArray>(in).data[off[k]];
                    c = mul_coeff(c, t.coeff);
                    uint32_t d = degree(t.vars);
                    for (uint32_t j = 0; j < d; ++j) vars.push_back(var_at(t.vars, j));
                    break;
                }
                case EinsumKind::Exprs:
                    break;
            }
        }
        if (c == 0) return;
        if (vars.empty()) {
            out.constant = wrap_add(out.constant, c);
        } else {
            out.append_owned(TermImpl{c, make_vars(vars.data(), vars.size())});
        }
    });
}

// Expression result with expression inputs: the product of the tuple's elements, added.
void expr_partial(const Plan& plan, const std::vector<uint64_t>& base, uint64_t t0, uint64_t t1,
                  ExprImpl& out) {
    walk_tuples(plan, base, t0, t1, [&](const uint64_t* off) {
        ExprImpl prod(1);
        for (uint64_t k = 0; k < plan.n; ++k) {
            const EinsumInput& in = plan.inputs[k];
            switch (in.kind) {
                case EinsumKind::Vars:
                    expr_imul_term(prod, var_term(1, array_of<VarArray>(in).data[off[k]]),
                                   AttrOp::MulVar);
                    break;
                case EinsumKind::Ints:
                    expr_imul_int(prod, array_of<IntArray>(in).data[off[k]]);
                    break;
                case EinsumKind::Terms:
                    expr_imul_term(prod, array_of<TermArray>(in).data[off[k]], AttrOp::MulTerm);
                    break;
                case EinsumKind::Exprs:
                    expr_imul_expr(prod, array_of<ExprArray>(in).data[off[k]]);
                    break;
            }
        }
        expr_iadd_expr(out, prod);
    });
}

void expr_range(const Plan& plan, const std::vector<uint64_t>& base, uint64_t t0, uint64_t t1,
                ExprImpl& out) {
    if (plan.has_expr) {
        expr_partial(plan, base, t0, t1, out);
    } else {
        term_partial(plan, base, t0, t1, out);
    }
}

// Moves the partials' terms into out in chunk order; the partials keep no terms.
void concat_partials(std::vector<ExprImpl>& parts, ExprImpl& out) {
    uint64_t total = 0;
    for (ExprImpl& p : parts) {
        out.constant = wrap_add(out.constant, p.constant);
        total += p.term_count();
    }
    if (total == 0) return;
    if (out.term_count() == 0 && parts[0].has_inline()) {
        // The first partial's array becomes the result; the others are appended to it.
        std::swap(out.first, parts[0].first);
        std::swap(out.terms, parts[0].terms);
        std::swap(out.count, parts[0].count);
        std::swap(out.capacity, parts[0].capacity);
        TermImpl* tail = out.extend(total - out.term_count());
        for (uint64_t k = 1; k < parts.size(); ++k) {
            ExprImpl& p = parts[k];
            if (p.has_inline()) *tail++ = p.first;
            if (p.count > 0) std::memcpy(tail, p.terms, p.count * sizeof(TermImpl));
            tail += p.count;
            p.first = TermImpl{};
            p.count = 0;
        }
        return;
    }
    std::vector<std::pair<const TermImpl*, uint64_t>> segments;
    std::vector<uint64_t> at;  // first destination index of each segment
    uint64_t next = 0;
    for (ExprImpl& p : parts) {
        if (p.has_inline()) {
            segments.emplace_back(&p.first, 1);
            at.push_back(next++);
        }
        if (p.count > 0) {
            segments.emplace_back(p.terms, p.count);
            at.push_back(next);
            next += p.count;
        }
    }
    // Term 0 goes inline, the rest into one exact tail.
    out.clear_terms();
    TermImpl* tail = total > 1 ? out.extend(total - 1) : nullptr;
    auto place = [&](uint64_t i, const TermImpl& t) {
        if (i == 0) {
            out.first = t;
        } else {
            tail[i - 1] = t;
        }
    };
    auto copy_segment = [&](uint64_t s) {
        for (uint64_t j = 0; j < segments[s].second; ++j) place(at[s] + j, segments[s].first[j]);
    };
    if (segments.size() >= 2 && total > kSerialLimit) {
        uint32_t threads =
            std::min<uint32_t>(thread_budget(), static_cast<uint32_t>(segments.size()));
        std::atomic<uint64_t> counter{0};
        detail::run_own_threads(threads, [&] {
            for (uint64_t s; (s = counter.fetch_add(1)) < segments.size();) copy_segment(s);
        });
    } else {
        for (uint64_t s = 0; s < segments.size(); ++s) copy_segment(s);
    }
    for (ExprImpl& p : parts) {
        p.first = TermImpl{};
        p.count = 0;
    }
}

template <class Out, class Compute, class Combine>
void split_sum(const Plan& plan, uint32_t threads, std::vector<Out>& result, Compute&& compute,
               Combine&& combine) {
    std::vector<uint64_t> base;
    for (uint64_t o = 0; o < plan.n_out; ++o) {
        if (!bases_of(plan, o, base)) continue;
        // One part per thread, in tuple order: the pool may run any of them on any thread.
        std::vector<Out> parts(threads);
        par_for_ranges(threads, plan.n_sum, [&](uint64_t begin, uint64_t end) {
            for (uint64_t t = begin; t < end; ++t) {
                compute(base, plan.n_sum * t / threads, plan.n_sum * (t + 1) / threads, parts[t]);
            }
        });
        combine(parts, result[o]);
    }
}

template <class Out, class Compute>
void output_parallel(const Plan& plan, std::vector<Out>& result, Compute&& compute) {
    par_for_ranges(plan.n_out, plan.n_out, [&](uint64_t begin, uint64_t end) {
        std::vector<uint64_t> base;
        for (uint64_t o = begin; o < end; ++o) {
            if (bases_of(plan, o, base)) compute(base, 0, plan.n_sum, result[o]);
        }
    });
}

}  // namespace

std::variant<IntArray, ExprArray> einsum(const char* subscript, uint64_t n,
                                         const EinsumInput* inputs, bool expr_output,
                                         uint64_t out_dim) {
    if (n < 1) fatal("einsum: requires at least one input");
    Plan plan = make_plan(subscript, n, inputs, expr_output, out_dim);
    uint32_t threads = thread_budget();
    bool split =
        plan.n_out < kSplitMaxOut && threads >= 2 && plan.n_out > 0 && plan.n_sum > kSplitMinSum;

    if (!expr_output) {
        IntArray out(plan.out_ext);
        // Sums stay 64-bit until the final store.
        std::vector<int64_t> sums(plan.n_out, 0);
        auto compute = [&](const std::vector<uint64_t>& base, uint64_t t0, uint64_t t1,
                           int64_t& sum) { sum = int_partial(plan, base, t0, t1); };
        if (split) {
            split_sum(plan, threads, sums, compute, [](std::vector<int64_t>& parts, int64_t& r) {
                uint64_t s = 0;
                for (int64_t p : parts) s += static_cast<uint64_t>(p);
                r = static_cast<int64_t>(s);
            });
        } else {
            output_parallel(plan, sums, compute);
        }
        for_elements(plan.n_out, [&](uint64_t o) { out.data[o] = wrap_coeff(sums[o]); });
        return out;
    }

    ExprArray out(plan.out_ext);
    if (split) {
        auto compute = [&](const std::vector<uint64_t>& base, uint64_t t0, uint64_t t1,
                           ExprImpl& part) {
            // The first part has room for every tuple, so that the others append to it in place.
            const uint64_t room = t0 == 0 ? plan.n_sum : t1 - t0;
            if (!plan.has_expr && room > 1) part.reserve_more(room - 1);
            expr_range(plan, base, t0, t1, part);
        };
        split_sum(plan, threads, out.data, compute, concat_partials);
    } else {
        auto compute = [&](const std::vector<uint64_t>& base, uint64_t t0, uint64_t t1,
                           ExprImpl& e) {
            if (plan.n_sum > 1) e.reserve_more(plan.n_sum - 1);
            expr_range(plan, base, t0, t1, e);
        };
        output_parallel(plan, out.data, compute);
    }
    return out;
}

}  // namespace dalo

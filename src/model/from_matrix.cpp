// A Model straight from an integer matrix: no term records, the flat arrays written from the
// pair sums. Over ascending binary identifiers the general path finds the form's terms
// already in canonical order, so both give the same Model.
#include <algorithm>
#include <atomic>
#include <string>
#include <type_traits>
#include <vector>

#include "core/fatal.hpp"

#include "constraints/carry.hpp"
#include "core/expr_matrix.hpp"
#include "core/parallel.hpp"
#include "core/var_registry.hpp"
#include "model/model.hpp"
#include "transform/simplify.hpp"

namespace dalo {

namespace {

bool ascending_binary(const Var* x, uint64_t n, uint64_t nvars) {
    for (uint64_t i = 0; i < n; ++i) {
        if ((x[i] & (kNegBit | kIntBit)) != 0 || x[i] >= nvars) return false;
        if (i > 0 && x[i] <= x[i - 1]) return false;
    }
    return true;
}

// The Model's variables (the positions that occur, in order) and term arrays sized for the
// linear terms and pairs; returns the model index of each position.
// Position i is identifier x[i], or first + i without x.
std::vector<uint32_t> shape_model(ModelImpl& m, const Var* x, uint64_t n,
                                  const std::vector<uint8_t>& occurs, uint64_t linear,
                                  uint64_t pairs, Var first = 0) {
    std::vector<uint32_t> index(n, kNotInModel);
    uint64_t count = 0;
    for (uint64_t i = 0; i < n; ++i) {
        if (occurs[i]) index[i] = static_cast<uint32_t>(count++);
    }
    m.vars.resize_uninitialized(count);
    for (uint64_t i = 0; i < n; ++i) {
        if (occurs[i]) m.vars[index[i]] = x != nullptr ? x[i] : first + static_cast<Var>(i);
    }
    m.map_vars();
    m.max_degree = pairs > 0 ? 2 : 1;
    m.term_count.assign(m.max_degree, 0);
    m.term_count[0] = linear;
    m.term_vars.resize(m.max_degree);
    m.coeff_array.resize(m.max_degree);
    m.term_vars[0].resize_uninitialized(linear);
    m.coeff_array[0].resize_uninitialized(linear);
    if (pairs > 0) {
        m.term_count[1] = pairs;
        m.term_vars[1].resize_uninitialized(2 * pairs);
        m.coeff_array[1].resize_uninitialized(pairs);
    }
    const uint64_t nints = int_var_registry().count();
    if (nints > 0) m.int_index_map.assign(nints, kNotInModel);
    return index;
}

// Merged rows whose pairs are pairs[start[u] .. start[u] + kept[u]), each v the partner's
// position plus v_offset, ascending.
struct RowPairs {
    const RowPair* pairs;
    const uint32_t* start;
    const uint32_t* kept;
    Var v_offset;

    // f(pair number, u, v, c) over the pairs of rows [b, e) in row order, u and v positions;
    // the first pair is number `at`.
    template <class F>
    void each_of_rows(uint64_t b, uint64_t e, uint64_t at, F&& f) const {
        const RowPair* const ps = pairs;  // locals: f's stores would reload the members
        const uint32_t *const st = start, *const kp = kept;
        const Var off = v_offset;
        for (uint64_t u = b; u < e; ++u) {
            const RowPair* row = ps + st[u];
            for (uint32_t p = 0, m = kp[u]; p < m; ++p, ++at) f(at, u, row[p].v - off, row[p].c);
        }
    }
    template <class F>
    void each(uint64_t n, F&& f) const {
        each_of_rows(0, n, 0, f);
    }
};

// Rows whose pairs are the nonzero upper cells of a dense array (see QuadraticRows).
struct CellPairs {
    const uint32_t* cells;
    uint64_t k;

    template <class F>
    void each_of_rows(uint64_t b, uint64_t e, uint64_t at, F&& f) const {
        const uint32_t* const all = cells;
        const uint64_t width = k;
        for (uint64_t u = b; u < e; ++u) {
            const uint32_t* row = all + u * width;
            for (uint64_t v = u + 1; v < width; ++v) {
                if (row[v] != 0) f(at++, u, v, row[v]);
            }
        }
    }
    template <class F>
    void each(uint64_t, F&& f) const {
        each_of_rows(0, k, 0, f);
    }
};

// Rows whose pairs are still the pair terms of an ordered source (see QuadraticRows).
struct SourcePairs {
    const QuadraticRows& rows;

    template <class F>
    void each(uint64_t, F&& f) const {
        rows.for_source_pairs(
            [&](uint64_t at, Var u, Var v, uint32_t c) { f(at, u - rows.lo, v - rows.lo, c); });
    }
};

// The Model of merged rows over positions 0 .. n - 1 (identifier x[u], or first + u without
// x): lin[u] (none without lin), kept[u] pairs in row u, and the pairs themselves. Native
// records (in identifiers, without x) join it; null when one names an integer atom or a
// variable outside the rows, or when the rows are empty. A caller that marked second[v] for
// every position that comes second in a kept pair saves a pass over the pairs.
template <class Pairs>
ModelHandle model_from_rows(const Var* x, Var first, uint64_t n, const uint32_t* lin,
                            const uint32_t* kept, const Pairs& pairs, int64_t constant,
                            std::vector<NativeCons>* records = nullptr,
                            const uint8_t* second = nullptr) {
    std::vector<uint8_t> occurs(n, 0);
    uint64_t linear = 0, npairs = 0;
    bool all = true;  // every position has a linear term or a row
    for (uint64_t u = 0; u < n; ++u) {
        const bool l = lin != nullptr && lin[u] != 0;
        linear += l;
        npairs += kept[u];
        occurs[u] = l || kept[u] > 0;
        all = all && occurs[u];
    }
    // A position that only ever comes second in its pairs shows in no row.
    if (!all && second != nullptr) {
        for (uint64_t v = 0; v < n; ++v) occurs[v] |= second[v];
    } else if (!all) {
        pairs.each(n, [&](uint64_t, uint64_t, uint64_t v, uint32_t) { occurs[v] = 1; });
    }
    for (uint64_t r = 0; records != nullptr && r < records->size(); ++r) {
        const NativeCons& c = (*records)[r];
        for (const std::vector<uint32_t>* words : {&c.vars, &c.nl_vars}) {
            for (const Var w : *words) {
                const Var v = w & 0x7FFFFFFFu;
                if (is_int_atom(w) || v < first || v - first >= n) return nullptr;
                occurs[v - first] = 1;
            }
        }
    }
    if (linear + npairs == 0) {
        if (records != nullptr) return nullptr;
        return compile_model(ExprImpl(constant), 1.0, nullptr);
    }
    auto model = std::make_shared<ModelImpl>();
    ModelImpl& m = *model;
    m.constant = constant;
    const std::vector<uint32_t> index = shape_model(m, x, n, occurs, linear, npairs, first);
    for (uint64_t u = 0, k = 0; lin != nullptr && u < n; ++u) {
        if (lin[u] == 0) continue;
        m.term_vars[0][k] = index[u];
        m.coeff_array[0][k++] = static_cast<coeff_t>(lin[u]);
    }
    uint32_t* words = npairs > 0 ? m.term_vars[1].data() : nullptr;
    coeff_t* coeffs = npairs > 0 ? m.coeff_array[1].data() : nullptr;
    constexpr uint64_t kParallelWritePairs = uint64_t{4} << 20;  // 32 MiB of pair words
    auto put = [words, coeffs, ix = index.data()](uint64_t at, uint64_t u, uint64_t v, uint32_t c) {
        coeffs[at] = static_cast<coeff_t>(c);
        words[2 * at] = ix[u];
        words[2 * at + 1] = ix[v];
    };
    if constexpr (!std::is_same_v<Pairs, SourcePairs>) {
        // Rows in parallel ranges, from the prefix of their kept counts, while the Model's
        // arrays are of a size that the block cache serves: the threads then write pages the
        // process already has. Larger arrays are fresh pages, which one thread faults in
        // faster than two side by side.
        if (npairs > kSerialLimit && npairs <= kParallelWritePairs && !in_parallel_region()) {
            std::vector<uint64_t> at(n + 1, 0);
            for (uint64_t u = 0; u < n; ++u) at[u + 1] = at[u] + kept[u];
            par_for_ranges(n, npairs,
                           [&](uint64_t b, uint64_t e) { pairs.each_of_rows(b, e, at[b], put); });
        } else {
            pairs.each(n, put);
        }
    } else {
        pairs.each(n, put);
    }
    if (records != nullptr) attach_native_records(m, std::move(*records));
    return model;
}

template <class T>
ModelHandle build(const Var* x, uint64_t n, MatrixView<T> q, uint64_t* wrapped) {
    const uint64_t nvars = var_registry().count();
    if (!ascending_binary(x, n, nvars)) {
        const ExprImpl e = expr_from_matrix(x, n, q, wrapped);
        return compile_model(expr_simplify_as_binary(e), 1.0, nullptr);
    }
    const PairSums p = pair_sums(n, q);
    if (wrapped != nullptr) *wrapped = p.wrapped;
    const coeff_t* sums = p.sums.data();

    // Which positions occur: a non-zero diagonal, row or column. Columns are read only for
    // positions that nothing else shows.
    std::vector<uint8_t> occurs(n, 0);
    uint64_t linear = 0, pairs = 0;
    std::vector<uint64_t> unseen;
    for (uint64_t i = 0; i < n; ++i) {
        const bool diagonal = static_cast<uint32_t>(q.at(i, i)) != 0;
        linear += diagonal;
        pairs += p.nonzero[i];
        occurs[i] = diagonal || p.nonzero[i] > 0;
        if (!occurs[i]) unseen.push_back(i);
    }
    if (linear + pairs == 0) return compile_model(ExprImpl(), 1.0, nullptr);
    if (unseen.size() > 64) {
        for (uint64_t i = 0; i < n; ++i) {
            const coeff_t* row = sums + pair_row_offset(n, i);
            for (uint64_t j = i + 1; j < n; ++j) occurs[j] |= row[j - i - 1] != 0;
        }
    } else {
        for (uint64_t j : unseen) {
            for (uint64_t i = 0; i < j && !occurs[j]; ++i)
                occurs[j] = sums[pair_row_offset(n, i) + (j - i - 1)] != 0;
        }
    }

    auto model = std::make_shared<ModelImpl>();
    ModelImpl& m = *model;
    const std::vector<uint32_t> index = shape_model(m, x, n, occurs, linear, pairs);
    for (uint64_t i = 0, k = 0; i < n; ++i) {
        const coeff_t c = static_cast<coeff_t>(static_cast<uint32_t>(q.at(i, i)));
        if (c == 0) continue;
        m.term_vars[0][k] = index[i];
        m.coeff_array[0][k++] = c;
    }
    if (pairs > 0) {
        std::vector<uint64_t> start(n + 1, 0);
        for (uint64_t i = 0; i < n; ++i) start[i + 1] = start[i] + p.nonzero[i];
        uint32_t* words = m.term_vars[1].data();
        coeff_t* coeffs = m.coeff_array[1].data();
        par_for_ranges(n, n * (n - 1) / 2, [&](uint64_t b, uint64_t end) {
            for (uint64_t i = b; i < end; ++i) {
                const coeff_t* row = sums + pair_row_offset(n, i);
                uint64_t at = start[i];
                for (uint64_t j = i + 1; j < n; ++j) {
                    const coeff_t c = row[j - i - 1];
                    if (c == 0) continue;
                    coeffs[at] = c;
                    words[2 * at] = index[i];
                    words[2 * at + 1] = index[j];
                    ++at;
                }
            }
        });
    }
    return model;
}

// sum_k w[k] x[i[k]] x[j[k]] as pairs bucketed by their smaller position: each bucket is
// sorted and merged, then the Model's arrays are written row by row. Large inputs are counted
// and bucketed in slices, each slice's pairs after the previous slice's in every bucket, so the
// buckets hold the entries in input order for any thread count.
ModelHandle build_pairs(const Var* x, uint64_t n, const int64_t* L, const int64_t* I,
                        const int64_t* J, const int64_t* W, uint64_t count, uint64_t* wrapped) {
    const uint32_t slices = count >= 16384 && count >= n / 2 && !in_parallel_region()
                                ? std::min<uint32_t>(thread_cap(count), 4)
                                : 1;
    const uint64_t work = slices > 1 ? count : 0;  // one slice stays on the calling thread
    auto range = [&](uint64_t s) {
        return std::pair<uint64_t, uint64_t>{count * s / slices, count * (s + 1) / slices};
    };
    auto outside = [&](int64_t p) { return p < 0 || static_cast<uint64_t>(p) >= n; };
    const uint64_t nvars = var_registry().count();
    const bool direct = ascending_binary(x, n, nvars);
    // One pass per slice checks the positions, counts the wrapped coefficients and, for the
    // direct path, sums the linear terms and counts each row's pairs. Each slice stops at its
    // first position out of range; the lowest is reported.
    std::vector<uint64_t> bad(slices, count), wraps(slices, 0);
    std::vector<PodArray<uint32_t>> fills(slices), lins(slices);
    for (uint32_t s = 0; direct && s < slices; ++s) {
        fills[s] = PodArray<uint32_t>::zeroed(n);
        lins[s] = PodArray<uint32_t>::zeroed(n);
    }
    // The loops read the inputs through locals: stores into the row arrays would otherwise
    // reload every captured pointer per entry.
    par_for_impl(slices, work, [&](uint64_t s) {
        uint32_t* rows = fills[s].data();
        uint32_t* lin = lins[s].data();
        const int64_t *is = I, *js = J, *ws = W;
        const auto [b, e] = range(s);
        uint64_t w = 0;
        for (uint64_t k = b; k < e; ++k) {
            if (outside(is[k]) || outside(js[k])) {
                bad[s] = k;
                break;
            }
            w += ws[k] != static_cast<int64_t>(wrap_coeff(ws[k]));
            const uint32_t c = static_cast<uint32_t>(ws[k]);
            if (!direct || c == 0) continue;
            if (is[k] == js[k]) {
                lin[is[k]] += c;
            } else {
                ++rows[std::min(is[k], js[k])];
            }
        }
        wraps[s] = w;
    });
    const uint64_t first_bad = *std::min_element(bad.begin(), bad.end());
    if (first_bad < count) {
        const int64_t p = outside(I[first_bad]) ? I[first_bad] : J[first_bad];
        fatal("Model: position " + std::to_string(p) + " of a quadratic form is outside its " +
              std::to_string(n) + " variables");
    }
    if (wrapped != nullptr) {
        *wrapped = 0;
        for (const uint64_t w : wraps) *wrapped += w;
        for (uint64_t u = 0; L != nullptr && u < n; ++u)
            *wrapped += L[u] != static_cast<int64_t>(wrap_coeff(L[u]));
    }
    if (!direct) {
        ExprImpl e;
        for (uint64_t u = 0; L != nullptr && u < n; ++u) {
            const coeff_t c = wrap_coeff(L[u]);
            if (c != 0) e.append_small(c, x[u], kNoVar);
        }
        for (uint64_t k = 0; k < count; ++k) {
            const coeff_t c = wrap_coeff(W[k]);
            if (c != 0) e.append_small(c, x[I[k]], I[k] == J[k] ? kNoVar : x[J[k]]);
        }
        return compile_model(expr_simplify_as_binary(e), 1.0, nullptr);
    }
    // Bucket u holds slice 0's pairs of u, then slice 1's, and so on.
    std::vector<uint32_t*> rows(slices);
    for (uint32_t s = 0; s < slices; ++s) rows[s] = fills[s].data();
    const PodArray<uint32_t> start = slice_row_starts(rows.data(), slices, n);
    PodArray<RowPair> pairs(start[n]);
    par_for_impl(slices, work, [&](uint64_t s) {
        uint32_t* fill = fills[s].data();
        RowPair* out = pairs.data();
        const int64_t *is = I, *js = J, *ws = W;
        const auto [b, e] = range(s);
        for (uint64_t k = b; k < e; ++k) {
            const uint32_t c = static_cast<uint32_t>(ws[k]);
            if (c == 0 || is[k] == js[k]) continue;
            const auto [u, v] = std::minmax(is[k], js[k]);
            out[fill[u]++] = RowPair{static_cast<Var>(v), c};
        }
    });
    uint32_t* lin = lins[0].data();
    for (uint32_t s = 1; s < slices; ++s) {
        for (uint64_t u = 0; u < n; ++u) lin[u] += lins[s][u];
    }
    for (uint64_t u = 0; L != nullptr && u < n; ++u) lin[u] += static_cast<uint32_t>(L[u]);
    // Each row is merged, and its partners are marked while it is at hand.
    std::vector<uint32_t> kept(n);
    std::vector<uint8_t> second(n, 0);
    par_for_ranges(n, slices > 1 ? start[n] : 0, [&](uint64_t b, uint64_t e) {
        for (uint64_t u = b; u < e; ++u) {
            RowPair* row = pairs.data() + start[u];
            kept[u] = merge_row(row, pairs.data() + start[u + 1]);
            for (uint32_t p = 0; p < kept[u]; ++p)
                std::atomic_ref<uint8_t>(second[row[p].v]).store(1, std::memory_order_relaxed);
        }
    });

    return model_from_rows(x, 0, n, lin, kept.data(),
                           RowPairs{pairs.data(), start.data(), kept.data(), 0}, 0, nullptr,
                           second.data());
}

}  // namespace

ModelHandle model_from_matrix(const Var* x, uint64_t n, MatrixView<int64_t> q, uint64_t* wrapped) {
    return build(x, n, q, wrapped);
}

ModelHandle model_from_matrix(const Var* x, uint64_t n, MatrixView<int32_t> q, uint64_t* wrapped) {
    return build(x, n, q, wrapped);
}

ModelHandle model_from_pairs(const Var* x, uint64_t n, const int64_t* linear, const int64_t* i,
                             const int64_t* j, const int64_t* w, uint64_t count,
                             uint64_t* wrapped) {
    return build_pairs(x, n, linear, i, j, w, count, wrapped);
}

ModelHandle model_of_simplified(const ExprImpl& e) {
    // A plain quadratic objective, alone or with declared constraints, goes by its rows. The
    // objective is simplified before the records are carried, as on the general path, so
    // that a fault in either is reported in the same order.
    const bool declared = declared_without_penalty(e.attr);
    QuadraticRows rows;
    ExprImpl r;
    const bool fused =
        (e.attr == kAttrPlain || declared) && simplify_plain_quadratic_rows(e, &rows, &r);
    const uint32_t word = carry_records(e.attr, expr_simplify_as_binary);
    if (fused && rows.filled) {
        std::vector<NativeCons> records;
        if (declared) records = declared_native_records(word);
        const uint32_t* lin = rows.lin.size() > 0 ? rows.lin.data() : nullptr;
        std::vector<NativeCons>* with = declared ? &records : nullptr;
        const uint32_t* kept = rows.kept.data();
        ModelHandle m =
            rows.source != nullptr ? model_from_rows(nullptr, rows.lo, rows.k, lin, kept,
                                                     SourcePairs{rows}, rows.constant, with)
            : rows.cells.size() > 0
                ? model_from_rows(nullptr, rows.lo, rows.k, lin, kept,
                                  CellPairs{rows.cells.data(), rows.k}, rows.constant, with)
                : model_from_rows(nullptr, rows.lo, rows.k, lin, kept,
                                  RowPairs{rows.pairs.data(), rows.start.data(), kept, rows.lo},
                                  rows.constant, with);
        if (m != nullptr) return m;
    }
    ExprImpl s = fused && !rows.filled ? std::move(r) : expr_simplify_as_binary(e);
    s.attr = word;
    return model_create(s);
}

}  // namespace dalo

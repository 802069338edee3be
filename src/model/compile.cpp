// Compilation of an expression (and its declared constraints) into a Model.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "constraints/arith.hpp"
#include "constraints/registry.hpp"
#include "core/fatal.hpp"
#include "core/parallel.hpp"
#include "core/var_registry.hpp"
#include "model/model.hpp"
#include "transform/simplify.hpp"

namespace dalo {

namespace {

constexpr const char* kUnsortedExpr =
    "Model: expression not simplified as binary (unsorted/duplicate vars). Call "
    "simplify_as_binary() first.";
constexpr const char* kNegatedExpr =
    "Model: expression not simplified as binary (negated literal in degree 1-2 term). Call "
    "simplify_as_binary() first.";
constexpr const char* kUnknownInt = "Model: unknown integer variable index.";
constexpr const char* kUnknownBinary = "Model: unknown binary variable index.";
constexpr const char* kNegatedBody = "Model: unexpected negated literal in constraint body";

// One "  [Model] <label>: <seconds>s" line per phase end while DALO_MODEL_PROFILE is set.
class PhaseClock {
  public:
    PhaseClock() : last_(std::chrono::steady_clock::now()) {}
    void end(const char* label) {
        const auto now = std::chrono::steady_clock::now();
        const double s = std::chrono::duration<double>(now - last_).count();
        last_ = now;
        if (std::getenv("DALO_MODEL_PROFILE") != nullptr)
            std::fprintf(stderr, "  [Model] %s: %gs\n", label, s);
    }

  private:
    std::chrono::steady_clock::time_point last_;
};

// The first error of a parallel phase; later ones are dropped.
class FirstError {
  public:
    void record(const char* msg) {
        bool expected = false;
        if (!claimed_.compare_exchange_strong(expected, true)) return;
        std::lock_guard<std::mutex> lock(mutex_);
        message_ = msg;
    }
    void raise_if_any() {
        if (claimed_.load()) fatal(message_);
    }

  private:
    std::atomic<bool> claimed_{false};
    std::mutex mutex_;
    std::string message_;
};

// One byte per registered variable. With several threads a byte is tested before it is
// set, so the shared lines are mostly only read and do not bounce between cores; a single
// thread just stores.
class Flags {
  public:
    explicit Flags(uint64_t n) : bytes_(n, 0) {}
    void set_shared(uint64_t i) {
        std::atomic_ref<uint8_t> b(bytes_[i]);
        if (!b.load(std::memory_order_relaxed)) b.store(1, std::memory_order_relaxed);
    }
    void set_owned(uint64_t i) { bytes_[i] = 1; }
    bool test(uint64_t i) const { return bytes_[i] != 0; }
    const uint8_t* data() const { return bytes_.data(); }

  private:
    PodArray<uint8_t> bytes_;
};

// A constraint body: validated, then kept with its item data.
struct BodyItem {
    ExprImpl body;
    int64_t weight;
    const ExprExprRecord* record;
};

// Binary-simplified form of a body or objective: sorted variables, no repeated binary
// variable, no negated literal below degree 3. Returns the first violation's suffix.
const char* check_simplified_term(const TermImpl& t) {
    const uint32_t d = degree(t);
    for (uint32_t k = 0; k < d; ++k) {
        const Var w = var_at(t.vars, k);
        if ((w & kNegBit) && d <= 2) {
            return " not simplified as binary (negated literal in degree 1-2 term). Call "
                   "simplify_as_binary() on "
                   "the model expression first.";
        }
        if (k > 0) {
            const Var prev = var_at(t.vars, k - 1) & 0x7FFFFFFFu, cur = w & 0x7FFFFFFFu;
            if (cur < prev || (cur == prev && !is_int_atom(w))) {
                return " not simplified as binary (unsorted/duplicate vars). Call "
                       "simplify_as_binary() on the model "
                       "expression first.";
            }
        }
    }
    return nullptr;
}

void validate_body(const ExprImpl& body) {
    body.for_each_term([](const TermImpl& t) {
        if (const char* suffix = check_simplified_term(t))
            fatal(std::string("Model: constraint body") + suffix);
    });
}

bool is_nonlinear(const ExprImpl& body) {
    bool nl = false;
    body.for_each_term([&](const TermImpl& t) { nl = nl || degree(t) >= 2; });
    return nl;
}

NativeCons linear_record(const BodyItem& it) {
    NativeCons c;
    c.weight = it.weight;
    c.lower = it.record->lo;
    c.upper = it.record->hi;
    c.constant = it.body.constant;
    c.allowed = it.record->allowed;
    c.exponent = it.record->exponent;
    c.objective_only = it.record->objective_only;
    it.body.for_each_term([&](const TermImpl& t) {
        if (degree(t) != 1)
            fatal("Model: native constraints require a linear body (degree >= 2 term found)");
        if (t.vars.slot0 & kNegBit) fatal(kNegatedBody);
        c.vars.push_back(t.vars.slot0);
        c.coeffs.push_back(t.coeff);
    });
    std::vector<uint32_t> sorted = c.vars;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
        fatal(
            "Model: constraint body not simplified as binary (duplicate variable across terms). "
            "Call "
            "simplify_as_binary() on the model expression first.");
    }
    return c;
}

NativeCons nonlinear_record(const BodyItem& it) {
    NativeCons c;
    c.weight = it.weight;
    c.lower = it.record->lo;
    c.upper = it.record->hi;
    c.constant = it.body.constant;
    c.nl_head.push_back(0);
    it.body.for_each_term([&](const TermImpl& t) {
        const uint32_t d = degree(t);
        for (uint32_t k = 0; k < d; ++k) {
            if (var_at(t.vars, k) & kNegBit) fatal(kNegatedBody);
        }
        if (d == 1) {
            c.vars.push_back(t.vars.slot0);
            c.coeffs.push_back(t.coeff);
            return;
        }
        for (uint32_t k = 0; k < d; ++k) c.nl_vars.push_back(var_at(t.vars, k));
        c.nl_coeffs.push_back(t.coeff);
        c.nl_head.push_back(c.nl_vars.size());
    });
    return c;
}

// Counting, validation and flags of one range of terms (Phase 1a).
struct CountRow {
    std::vector<uint64_t> counts;  // [d - 1]

    void count(const TermImpl& t, uint32_t d, Flags& var_flags, uint64_t nvars, Flags& int_flags,
               uint64_t nints, FirstError& error) {
        if (counts.size() < d) counts.resize(d, 0);
        ++counts[d - 1];
        Var prev = 0;
        for (uint32_t k = 0; k < d; ++k) {
            const Var w = var_at(t.vars, k);
            if (is_int_atom(w) && (w & kIndexMask) >= nints) return error.record(kUnknownInt);
            if ((w & kNegBit) && d <= 2) return error.record(kNegatedExpr);
            if (k > 0) {
                const Var a = w & 0x7FFFFFFFu, b = prev & 0x7FFFFFFFu;
                if (a < b || (a == b && !is_int_atom(w))) return error.record(kUnsortedExpr);
            }
            if (is_int_atom(w)) {
                int_flags.set_shared(w & kIndexMask);
            } else {
                if ((w & 0x7FFFFFFFu) >= nvars) return error.record(kUnknownBinary);
                var_flags.set_shared(w & 0x7FFFFFFFu);
            }
            prev = w;
        }
    }
};

uint32_t remap_word(const ModelImpl& m, Var w) {
    if (is_int_atom(w)) return m.int_index_map[w & kIndexMask] | kAtomBit;
    return m.index_map[(w & 0x7FFFFFFFu) - m.index_base] | (w & kNegBit);
}

// Constraint items: linear bodies first, nonlinear after, each in item order.
void split_bodies(const ConstraintListImpl& cons, std::vector<BodyItem>& linear,
                  std::vector<BodyItem>& nonlinear) {
    for (const auto& [index, weight] : cons.items) {
        const ExprExprRecord& rec = exprexpr_set().bounds(index);
        if (!rec.has_bounds) fatal("Model: constraint carries no bounds");
        validate_body(*rec.body);
        BodyItem it{ExprImpl(*rec.body, kAttrPlain), weight, &rec};
        const bool nl = is_nonlinear(it.body);
        if (nl && rec.objective_only) {
            fatal(
                "dalo::abs/relu: nonlinear bodies are not supported yet (the body must be "
                "linear)");
        }
        (nl ? nonlinear : linear).push_back(std::move(it));
    }
}

// The native records of the bodies, in the same order, still in variable identifiers.
std::vector<NativeCons> native_records(const std::vector<BodyItem>& linear,
                                       const std::vector<BodyItem>& nonlinear) {
    std::vector<NativeCons> records;
    for (const BodyItem& it : linear) {
        validate_body(it.body);
        records.push_back(linear_record(it));
    }
    for (const BodyItem& it : nonlinear) {
        validate_body(it.body);
        records.push_back(nonlinear_record(it));
    }
    return records;
}

// The objective's terms in rows that Phase 1a and Phase 1c walk alike: row 0 is the inline
// term, row c + 1 chunk c of the tail.
struct TermRows {
    const ExprImpl& e;
    const uint64_t n;
    const TermImpl* heap;
    const uint32_t cap;
    const uint64_t chunks;
    const uint64_t chunk_size;
    const bool parallel;

    explicit TermRows(const ExprImpl& x)
        : e(x),
          n(x.count),
          heap(x.terms),
          cap(n == 0 ? 1 : thread_cap(n)),
          chunks(n == 0 ? 0 : std::min<uint64_t>(n, 4ull * cap)),
          chunk_size(chunks == 0 ? 0 : (n + chunks - 1) / chunks),
          parallel(n > kSerialLimit && cap >= 2 && !in_parallel_region()) {}

    template <class Body>
    void for_rows(Body&& body) const {
        body(uint64_t{0});
        if (parallel) {
            par_for_impl(chunks, n, [&](uint64_t c) { body(c + 1); });
        } else {
            for (uint64_t c = 0; c < chunks; ++c) body(c + 1);
        }
    }

    // Gives the pages of a tail row back (its terms are no longer read).
    void release_row(uint64_t row) const {
        const uint64_t b = std::min(n, (row - 1) * chunk_size), end = std::min(n, b + chunk_size);
        release_pages(heap + b, heap + end);
    }

    template <class F>
    void for_terms_of_row(uint64_t row, F&& f) const {
        if (row == 0) {
            if (e.has_inline()) f(e.first);
            return;
        }
        const uint64_t b = std::min(n, (row - 1) * chunk_size), end = std::min(n, b + chunk_size);
        for (uint64_t i = b; i < end; ++i) f(heap[i]);
    }
};

// Phase 1a: count terms per degree, validate, flag the variables that occur. Returns whether
// any term word is an integer atom or a negated literal (Phase 3 takes a shorter loop when
// none is).
bool count_terms(const TermRows& terms, std::vector<CountRow>& rows, Flags& var_flags,
                 uint64_t nvars, Flags& int_flags, uint64_t nints) {
    FirstError error;
    std::atomic<bool> special_words{false};
    const bool parallel_1a = terms.parallel;
    terms.for_rows([&](uint64_t row) {
        CountRow& r = rows[row];
        uint64_t quadratic = 0;
        bool special = false;
        terms.for_terms_of_row(row, [&](const TermImpl& t) {
            // Plain quadratic terms, by far the most common, take a short path.
            const Var a = t.vars.slot0, b = t.vars.slot1;
            if (t.vars.tail == nullptr && b != kNoVar && ((a | b) & 0xC0000000u) == 0 && a < b &&
                b < nvars) {
                ++quadratic;
                if (parallel_1a) {
                    var_flags.set_shared(a);
                    var_flags.set_shared(b);
                } else {
                    var_flags.set_owned(a);
                    var_flags.set_owned(b);
                }
                return;
            }
            const uint32_t d = degree(t);
            if (d == 0) return;
            for (uint32_t k = 0; k < d; ++k)
                special = special || (var_at(t.vars, k) & 0xC0000000u) != 0;
            r.count(t, d, var_flags, nvars, int_flags, nints, error);
        });
        if (quadratic > 0) {
            if (r.counts.size() < 2) r.counts.resize(2, 0);
            r.counts[1] += quadratic;
        }
        if (special) special_words.store(true, std::memory_order_relaxed);
    });
    error.raise_if_any();
    return special_words.load(std::memory_order_relaxed);
}

// The variables of the native records and of the remainder (null when there is none) join
// the flags of Phase 1a.
void flag_side_vars(const std::vector<NativeCons>& records, const ExprImpl* remainder,
                    Flags& var_flags, uint64_t nvars, Flags& int_flags, uint64_t nints) {
    auto flag = [&](Var w) {
        if (is_int_atom(w)) {
            if ((w & kIndexMask) >= nints) fatal(kUnknownInt);
            int_flags.set_owned(w & kIndexMask);
        } else {
            if ((w & 0x7FFFFFFFu) >= nvars) fatal(kUnknownBinary);
            var_flags.set_owned(w & 0x7FFFFFFFu);
        }
    };
    for (const NativeCons& c : records) {
        for (Var w : c.vars) flag(w);
        for (Var w : c.nl_vars) flag(w);
    }
    if (remainder != nullptr) {
        remainder->for_each_term([&](const TermImpl& t) {
            const uint32_t d = degree(t);
            for (uint32_t k = 0; k < d; ++k) {
                const Var w = var_at(t.vars, k);
                if (is_int_atom(w)) {
                    fatal(
                        "Model: native integer variables (int_var) in a free-form penalty "
                        "remainder are not "
                        "supported yet.");
                }
                flag(w);
            }
        });
    }
}

// Phase 1b: totals per degree, exclusive prefix sums down each degree column, the flat
// arrays allocated. Returns each row's first slot per degree.
std::vector<std::vector<uint64_t>> size_arrays(ModelImpl& m, const std::vector<CountRow>& rows) {
    uint32_t max_degree = 0;
    for (const CountRow& r : rows)
        max_degree = std::max<uint32_t>(max_degree, static_cast<uint32_t>(r.counts.size()));
    m.max_degree = max_degree;
    m.term_count.assign(max_degree, 0);
    std::vector<std::vector<uint64_t>> offset(rows.size(), std::vector<uint64_t>(max_degree, 0));
    for (uint32_t d = 0; d < max_degree; ++d) {
        uint64_t running = 0;
        for (size_t r = 0; r < rows.size(); ++r) {
            offset[r][d] = running;
            running += d < rows[r].counts.size() ? rows[r].counts[d] : 0;
        }
        m.term_count[d] = running;
    }
    m.term_vars.resize(max_degree);
    m.coeff_array.resize(max_degree);
    for (uint32_t d = 0; d < max_degree; ++d) {
        m.term_vars[d].resize_uninitialized((d + 1) * m.term_count[d]);
        m.coeff_array[d].resize_uninitialized(m.term_count[d]);
    }
    return offset;
}

// Phase 1c: each term to its slot; within a degree the input order is kept. With give_back
// the caller is done with the expression: the pages of each chunk without tails go back to
// the system once the chunk is placed, so the input and the Model never add up.
void place_terms(ModelImpl& m, const TermRows& terms, std::vector<std::vector<uint64_t>>& offset,
                 bool give_back) {
    const uint32_t max_degree = m.max_degree;
    terms.for_rows([&](uint64_t row) {
        bool tails = false;
        std::vector<uint64_t>& at = offset[row];
        uint32_t* quad_words = max_degree >= 2 ? m.term_vars[1].data() : nullptr;
        coeff_t* quad_coeffs = max_degree >= 2 ? m.coeff_array[1].data() : nullptr;
        uint64_t q = max_degree >= 2 ? at[1] : 0;
        terms.for_terms_of_row(row, [&](const TermImpl& t) {
            if (t.vars.tail == nullptr && t.vars.slot1 != kNoVar) {
                quad_coeffs[q] = t.coeff;
                quad_words[2 * q] = t.vars.slot0;
                quad_words[2 * q + 1] = t.vars.slot1;
                ++q;
                return;
            }
            tails = tails || t.vars.tail != nullptr;
            const uint32_t d = degree(t);
            if (d == 0) return;
            const uint64_t p = at[d - 1]++;
            m.coeff_array[d - 1][p] = t.coeff;
            uint32_t* out = m.term_vars[d - 1].data() + p * d;
            for (uint32_t k = 0; k < d; ++k) out[k] = var_at(t.vars, k);
        });
        if (max_degree >= 2) at[1] = q;
        if (give_back && !tails && row > 0) terms.release_row(row);
    });
}

// Phase 2: model indices in ascending variable order, block by block.
void number_vars(ModelImpl& m, const Flags& var_flags, uint64_t nvars, uint32_t cap) {
    const uint64_t blocks = nvars == 0 ? 1 : std::min<uint64_t>(4ull * cap, nvars);
    const uint64_t block_size = nvars == 0 ? 0 : (nvars + blocks - 1) / blocks;
    std::vector<uint64_t> base(blocks + 1, 0);
    const bool par_vars = nvars > kSerialLimit && thread_cap(nvars) >= 2;
    auto over_blocks = [&](auto&& body) {
        if (par_vars) {
            par_for_impl(blocks, nvars, body);
        } else {
            for (uint64_t b = 0; b < blocks; ++b) body(b);
        }
    };
    const uint8_t* flagged = var_flags.data();
    over_blocks([&](uint64_t b) {
        const uint64_t lo = std::min(nvars, b * block_size), hi = std::min(nvars, lo + block_size);
        uint64_t k = 0;
        for (uint64_t v = lo; v < hi; ++v) k += flagged[v];
        base[b + 1] = k;
    });
    for (uint64_t b = 0; b < blocks; ++b) base[b + 1] += base[b];
    const uint64_t total = base[blocks];
    m.vars.resize_uninitialized(total);
    // The map spans [first, last): the first to the last flagged identifier.
    uint64_t first = 0, last = 0;
    if (total > 0) {
        uint64_t b = 0;
        while (base[b + 1] == 0) ++b;
        for (first = b * block_size; !flagged[first];) ++first;
        uint64_t e = blocks - 1;
        while (base[e + 1] == base[e]) --e;
        for (last = std::min(nvars, (e + 1) * block_size); !flagged[last - 1];) --last;
    }
    m.index_base = static_cast<uint32_t>(first);
    m.index_map.resize_uninitialized(last - first);
    uint32_t* map = m.index_map.data();
    over_blocks([&](uint64_t b) {
        const uint64_t lo = std::max(first, std::min(nvars, b * block_size));
        const uint64_t hi = std::min(last, std::min(nvars, b * block_size + block_size));
        uint64_t k = base[b];
        for (uint64_t v = lo; v < hi; ++v) {
            if (flagged[v]) {
                m.vars[k] = static_cast<uint32_t>(v);
                map[v - first] = static_cast<uint32_t>(k++);
            } else {
                map[v - first] = kNotInModel;
            }
        }
    });
}

// Phase 2i: integer atoms in ascending integer-variable order, with their bounds.
void map_int_atoms(ModelImpl& m, const Flags& int_flags, uint64_t nints) {
    m.int_index_map.assign(nints, kNotInModel);
    for (uint64_t i = 0; i < nints; ++i) {
        if (!int_flags.test(i)) continue;
        m.int_index_map[i] = static_cast<uint32_t>(m.int_var_orig.size());
        m.int_var_orig.push_back(static_cast<uint32_t>(i));
    }
    for (uint32_t i : m.int_var_orig) {
        const IntVarRecord* rec = int_var_registry().find(i);
        if (rec == nullptr) fatal("Model: integer variable bounds lookup failed.");
        m.int_lower.push_back(rec->lo);
        m.int_upper.push_back(rec->hi);
    }
}

// The native records in model words.
void remap_records(const ModelImpl& m, std::vector<NativeCons>& records) {
    for (NativeCons& c : records) {
        for (uint32_t& w : c.vars) w = remap_word(m, w);
        for (uint32_t& w : c.nl_vars) w = remap_word(m, w);
    }
}

// The free-form penalty as the Model's remainder, in model words.
void attach_remainder(ModelImpl& m, const ExprImpl& remainder) {
    m.has_remainder = 1;
    m.remainder_constant = remainder.constant;
    m.remainder_head.push_back(0);
    remainder.for_each_term([&](const TermImpl& t) {
        if (t.coeff == 0) return;
        const uint32_t d = degree(t);
        for (uint32_t k = 0; k < d; ++k)
            m.remainder_vars.push_back(remap_word(m, var_at(t.vars, k)));
        m.remainder_coeffs.push_back(t.coeff);
        m.remainder_head.push_back(m.remainder_vars.size());
    });
}

// Phase 3: raw identifiers to model words, in place.
void remap_terms(ModelImpl& m, bool plain_words) {
    const uint32_t max_degree = m.max_degree;
    const uint32_t* index = m.index_map.data();
    const uint32_t base = m.index_base;
    for (uint32_t d = 0; d < max_degree; ++d) {
        uint32_t* words = m.term_vars[d].data();
        const uint64_t count = m.term_vars[d].size();
        auto remap = [&](uint64_t b, uint64_t end) {
            if (plain_words) {
                for (uint64_t i = b; i < end; ++i) words[i] = index[words[i] - base];
            } else {
                for (uint64_t i = b; i < end; ++i) words[i] = remap_word(m, words[i]);
            }
        };
        if (count > kSerialLimit && thread_cap(count) >= 2) {
            par_for_ranges(count, count, remap);
        } else {
            remap(0, count);
        }
    }
}

}  // namespace

ModelHandle compile_model(const ExprImpl& input, double /*scale*/, const ConstraintListImpl* cons,
                          bool give_back) {
    auto model = std::make_shared<ModelImpl>();
    ModelImpl& m = *model;
    m.scale = 1.0;

    std::vector<BodyItem> linear, nonlinear;
    if (cons != nullptr) split_bodies(*cons, linear, nonlinear);

    // With a free-form penalty the objective absorbs it, and it stays listed as the remainder.
    const bool with_penalty = cons != nullptr && cons->penalty != nullptr;
    ExprImpl prepared;
    if (with_penalty) {
        ExprImpl sum(input, kAttrPlain);
        expr_iadd_expr(sum, *cons->penalty);
        prepared = expr_simplify_as_binary(sum);
    }
    const ExprImpl& e = with_penalty ? prepared : input;
    m.constant = e.constant;
    PhaseClock clock;
    ExprImpl remainder;
    if (with_penalty) remainder = expr_simplify_as_binary(*cons->penalty);
    std::vector<NativeCons> records = native_records(linear, nonlinear);

    const uint64_t nvars = var_registry().count();
    const uint64_t nints = int_var_registry().count();
    Flags var_flags(nvars), int_flags(nints);
    const TermRows terms(e);
    std::vector<CountRow> rows(terms.chunks + 1);
    const bool special_words = count_terms(terms, rows, var_flags, nvars, int_flags, nints);
    flag_side_vars(records, with_penalty ? &remainder : nullptr, var_flags, nvars, int_flags,
                   nints);
    clock.end("Phase 1a (parallel count + validate + var_flags)");

    std::vector<std::vector<uint64_t>> offset = size_arrays(m, rows);
    clock.end("Phase 1b (merge counts + allocate flat arrays)");
    // Nothing else to build: no terms, no native records and no free-form penalty.
    if (m.max_degree == 0 && records.empty() && !with_penalty) return model;

    place_terms(m, terms, offset, give_back && !with_penalty);
    clock.end("Phase 1c (parallel fill flat arrays)");

    number_vars(m, var_flags, nvars, terms.cap);
    clock.end("Phase 2 (parallel prefix-sum var_flags scan + dense index_map)");

    if (nints > 0) {
        map_int_atoms(m, int_flags, nints);
        if (!m.int_var_orig.empty()) clock.end("Phase 2i (integer-atom mapping)");
    }

    if (!records.empty()) {
        remap_records(m, records);
        m.native_cons = std::move(records);
        clock.end("Native constraints (remap)");
    }

    if (with_penalty) {
        attach_remainder(m, remainder);
        clock.end("Remainder (remap)");
    }

    remap_terms(m, !special_words);
    clock.end("Phase 3 (parallel remap)");
    return model;
}

bool declared_without_penalty(uint32_t word) {
    if (!is_sum_word(word) || !constraint_sum_set().declared(word & kRecordMask)) return false;
    return constraint_sum_set().record(word & kRecordMask).penalty == nullptr;
}

std::vector<NativeCons> declared_native_records(uint32_t word) {
    ConstraintListImpl list;
    list.items = constraint_sum_set().record(word & kRecordMask).items;
    std::vector<BodyItem> linear, nonlinear;
    split_bodies(list, linear, nonlinear);
    return native_records(linear, nonlinear);
}

void attach_native_records(ModelImpl& m, std::vector<NativeCons> records) {
    remap_records(m, records);
    m.native_cons = std::move(records);
}

ModelHandle model_create(const ExprImpl& e, double scale, bool give_back) {
    if (!is_sum_word(e.attr) || !constraint_sum_set().declared(e.attr & kRecordMask)) {
        return compile_model(e, scale, nullptr, give_back);
    }
    const ConstraintSumRecord& rec = constraint_sum_set().record(e.attr & kRecordMask);
    ConstraintListImpl list;
    list.items = rec.items;
    if (rec.penalty != nullptr) list.penalty = std::make_unique<ExprImpl>(*rec.penalty, kAttrPlain);
    list.has_penalty = rec.penalty != nullptr;
    return compile_model(e, scale, &list, give_back);
}

}  // namespace dalo

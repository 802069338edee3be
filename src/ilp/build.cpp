#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <unordered_set>

#include "core/fatal.hpp"
#include "core/var_registry.hpp"
#include "ilp/ilp.hpp"
#include "model/queries.hpp"

namespace dalo {

namespace {

constexpr uint32_t kFolded = 0xFFFFFFFFu;
constexpr uint32_t kNoColumn = 0xFFFFFFFFu;

constexpr const char* kShapeMessage =
    "dalo::abs/relu terms are not supported in ILP mode yet; use the QUBO mode (drop the ilp "
    "option) or a bundled heuristic solver.";
constexpr const char* kNegativeWeight =
    "a cons() constraint carries a NEGATIVE weight; ILP mode enforces constraints as hard rows "
    "and ignores weights, so a negative weight (rewarding violation) cannot be expressed. Use a "
    "bundled heuristic solver (BriskSolver/SweepSolver/KELPSolver).";
constexpr const char* kAtomInPenalty =
    "not an ILP: a free-form penalty term contains a native integer variable; it cannot be "
    "enforced as a hard linear row. Use a bundled solver, or dalo::binarize() first.";
constexpr const char* kPenaltyConstant =
    "not an ILP: the free-form penalty carries a constant term, so 'penalty == 0' cannot be "
    "enforced; remove the constant.";
constexpr const char* kPenaltySign =
    "not an ILP: free-form penalty terms must have positive coefficients to be enforced as hard "
    "constraints.";

std::string degree_message(uint32_t d) {
    return "not an ILP: the objective has a degree-" + std::to_string(d) +
           " term (only free-form penalty terms enforced to 0 by their hard rows are allowed). "
           "Keep the objective linear, or solve without the ILP option.";
}

bool is_atom(uint32_t w) { return (w & kNegBit) == 0 && (w & kAtomBit) != 0; }

// Hash of a word tuple, for the set of remainder tuples.
struct TupleHash {
    size_t operator()(const std::vector<uint32_t>& t) const {
        uint64_t h = 1469598103934665603ull;
        for (uint32_t w : t) h = (h ^ w) * 1099511628211ull;
        return static_cast<size_t>(h);
    }
};

__extension__ typedef __int128 Int128;

// Product of a coefficient and a 64-bit sum, compared exactly.
bool scaled_equal(coeff_t c, int64_t base, int64_t value) {
    return Int128{c} * base == Int128{value};
}

// x - a * b in two's complement, as the 64-bit sums of the library wrap.
int64_t sub_mul(int64_t x, int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(x) -
                                static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

std::string binary_name(const ModelImpl& m, uint32_t v) {
    std::string buffer;
    return var_registry().display_name(m.vars[v], buffer);
}

std::string atom_name(const ModelImpl& m, uint64_t k) {
    std::string buffer;
    return int_var_registry().display_name(m.int_var_orig[k] | kIntBit, buffer);
}

}  // namespace

std::unique_ptr<IlpImpl> ilp_build(const ModelImpl& m, const std::vector<IlpVarInt>& varints,
                                   std::string& error) {
    const uint32_t nvars = m.var_count();
    const uint64_t natoms = m.int_count();

    // 1. Native constraints, each record in order. The last error changes only once no fatal
    // test is left.
    const char* refused = nullptr;
    for (uint64_t i = 0; i < m.native_cons.size() && refused == nullptr; ++i) {
        native_linear_terms(m, i);  // the two fatal tests
        const NativeCons& c = m.native_cons[i];
        if (c.objective_only != 0) {
            refused = kShapeMessage;
        } else if (c.weight < 0) {
            refused = kNegativeWeight;
        } else if (c.exponent != 2) {
            refused = kShapeMessage;
        }
    }
    error.clear();
    if (refused != nullptr) {
        error = refused;
        return nullptr;
    }

    // 2. No integer atom in the remainder.
    for (uint32_t w : m.remainder_vars) {
        if (is_atom(w)) {
            error = kAtomInPenalty;
            return nullptr;
        }
    }

    // 3. Penalty set: the word tuples of the remainder terms.
    const uint64_t nrem = m.remainder_coeffs.size();
    std::unordered_set<std::vector<uint32_t>, TupleHash> penalty_set;
    for (uint64_t t = 0; t < nrem; ++t) {
        penalty_set.emplace(
            m.remainder_vars.begin() + static_cast<ptrdiff_t>(m.remainder_head[t]),
            m.remainder_vars.begin() + static_cast<ptrdiff_t>(m.remainder_head[t + 1]));
    }

    // 4. Every objective term of degree 2 or more is a remainder term.
    std::vector<uint32_t> tuple;
    for (uint32_t d = 2; d <= m.max_degree; ++d) {
        const PodArray<uint32_t>& words = m.term_vars[d - 1];
        for (uint64_t t = 0; t < m.term_count[d - 1]; ++t) {
            tuple.assign(words.data() + t * d, words.data() + (t + 1) * d);
            if (penalty_set.find(tuple) == penalty_set.end()) {
                error = degree_message(d);
                return nullptr;
            }
        }
    }

    // 5. The remainder must not carry a constant.
    if (m.has_remainder != 0 && m.remainder_constant != 0) {
        error = kPenaltyConstant;
        return nullptr;
    }

    // 6. Linear objective and penalty marks.
    std::vector<int64_t> lin_obj(nvars, 0);
    std::vector<int64_t> int_obj(natoms, 0);
    std::vector<uint8_t> marked(nvars, 0);
    if (m.max_degree >= 1) {
        const PodArray<uint32_t>& words = m.term_vars[0];
        const PodArray<coeff_t>& coeffs = m.coeff_array[0];
        for (uint64_t t = 0; t < m.term_count[0]; ++t) {
            const uint32_t w = words[t];
            if (is_atom(w)) {
                int_obj[w & ~kAtomBit] += coeffs[t];
            } else {
                lin_obj[w & ~kNegBit] += coeffs[t];
            }
        }
    }
    for (uint32_t w : m.remainder_vars) marked[w & ~kNegBit] = 1;
    for (uint32_t d = 2; d <= m.max_degree; ++d) {
        for (uint32_t w : m.term_vars[d - 1]) {
            if (!is_atom(w)) marked[w & ~kNegBit] = 1;
        }
    }

    // 7. Row maps: word -> summed linear coefficient, per native record.
    std::vector<std::map<uint32_t, int64_t>> row_maps(m.native_cons.size());
    for (uint64_t i = 0; i < m.native_cons.size(); ++i) {
        const NativeCons& c = m.native_cons[i];
        for (uint64_t k = 0; k < c.vars.size(); ++k) row_maps[i][c.vars[k]] += c.coeffs[k];
    }
    auto row_coeff = [](const std::map<uint32_t, int64_t>& map, uint32_t w) -> int64_t {
        auto it = map.find(w);
        return it == map.end() ? 0 : it->second;
    };

    // 8. Fold bit-encoded integers whose bits appear only in their encoded form.
    std::vector<uint32_t> col_of_var(nvars, kNoColumn);
    struct Fold {
        const IlpVarInt* source;
        std::vector<uint32_t> bits;  // model indices
    };
    std::vector<Fold> folds;
    for (const IlpVarInt& vi : varints) {
        const size_t nbits = vi.vars.size();
        if (nbits == 0) continue;
        std::vector<uint32_t> bits(nbits);
        bool ok = true;
        for (size_t k = 0; k < nbits && ok; ++k) {
            const uint32_t v = m.index_of(vi.vars[k]);
            if (v == kNotInModel || (vi.vars[k] & (kNegBit | kIntBit)) != 0 || marked[v] != 0 ||
                col_of_var[v] != kNoColumn) {
                ok = false;
            } else {
                bits[k] = v;
            }
        }
        // A bit listed twice would give one variable two roles.
        if (ok) {
            std::vector<uint32_t> sorted = bits;
            std::sort(sorted.begin(), sorted.end());
            ok = std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
        }
        for (size_t k = 0; k < nbits && ok; ++k) {
            ok = scaled_equal(vi.coeffs[k], lin_obj[bits[0]], lin_obj[bits[k]]);
        }
        for (size_t i = 0; i < row_maps.size() && ok; ++i) {
            const int64_t base = row_coeff(row_maps[i], bits[0]);
            for (size_t k = 0; k < nbits && ok; ++k) {
                ok = scaled_equal(vi.coeffs[k], base, row_coeff(row_maps[i], bits[k]));
            }
        }
        if (!ok) continue;
        const uint32_t fold_index = static_cast<uint32_t>(folds.size());
        for (uint32_t v : bits) col_of_var[v] = kFolded - 1 - fold_index;
        folds.push_back(Fold{&vi, std::move(bits)});
    }

    // 9. Columns: unfolded binaries, folded integers, integer atoms.
    auto ilp = std::make_unique<IlpImpl>();
    std::vector<uint32_t> binary_col(nvars, kNoColumn);
    for (uint32_t v = 0; v < nvars; ++v) {
        if (col_of_var[v] != kNoColumn) continue;
        binary_col[v] = static_cast<uint32_t>(ilp->cols.size());
        IlpCol& c = ilp->cols.emplace_back();
        c.kind = 0;
        c.model_var = v;
        c.lower = 0;
        c.upper = 1;
        ilp->names.push_back(binary_name(m, v));
    }
    const uint32_t first_fold = static_cast<uint32_t>(ilp->cols.size());
    for (const Fold& f : folds) {
        IlpCol& c = ilp->cols.emplace_back();
        c.kind = 1;
        c.model_var = kFolded;
        c.lower = f.source->min;
        c.upper = f.source->max;
        c.offset = f.source->min;
        c.bit_vars = f.bits;
        c.bit_coeffs.assign(f.source->coeffs.begin(), f.source->coeffs.end());
        ilp->names.push_back(f.source->name);
    }
    const uint32_t first_atom = static_cast<uint32_t>(ilp->cols.size());
    for (uint64_t k = 0; k < natoms; ++k) {
        IlpCol& c = ilp->cols.emplace_back();
        c.kind = 1;
        c.model_var = static_cast<uint32_t>(k);
        c.lower = m.int_lower[k];
        c.upper = m.int_upper[k];
        ilp->names.push_back(atom_name(m, k));
    }

    // 10. Objective.
    ilp->obj.assign(ilp->cols.size(), 0);
    ilp->obj_constant = m.constant;
    for (uint32_t v = 0; v < nvars; ++v) {
        if (binary_col[v] != kNoColumn) ilp->obj[binary_col[v]] = lin_obj[v];
    }
    for (size_t f = 0; f < folds.size(); ++f) {
        const IlpCol& c = ilp->cols[first_fold + f];
        const int64_t a = lin_obj[c.bit_vars[0]];
        ilp->obj[first_fold + f] = a;
        ilp->obj_constant = sub_mul(ilp->obj_constant, a, c.offset);
    }
    for (uint64_t k = 0; k < natoms; ++k) ilp->obj[first_atom + k] = int_obj[k];

    // 11. Native rows.
    for (uint64_t i = 0; i < m.native_cons.size(); ++i) {
        const NativeCons& rec = m.native_cons[i];
        int64_t D = rec.constant;
        std::map<uint32_t, int64_t> entries;
        for (const auto& [w, a] : row_maps[i]) {
            if (is_atom(w)) {
                entries[first_atom + (w & ~kAtomBit)] += a;
            } else if (binary_col[w] != kNoColumn) {
                entries[binary_col[w]] += a;
            }
        }
        for (size_t f = 0; f < folds.size(); ++f) {
            const IlpCol& c = ilp->cols[first_fold + f];
            const int64_t a = row_coeff(row_maps[i], c.bit_vars[0]);
            if (a == 0) continue;
            entries[first_fold + static_cast<uint32_t>(f)] += a;
            D = sub_mul(D, a, c.offset);
        }
        IlpRow& row = ilp->rows.emplace_back();
        Int128 min_act = 0, max_act = 0;
        for (const auto& [col, a] : entries) {
            if (a == 0) continue;
            row.cols.push_back(col);
            row.coeffs.push_back(a);
            const Int128 lo = Int128{a} * ilp->cols[col].lower;
            const Int128 hi = Int128{a} * ilp->cols[col].upper;
            min_act += std::min(lo, hi);
            max_act += std::max(lo, hi);
        }
        row.lower = sub_mul(rec.lower, D, 1);
        row.upper = sub_mul(rec.upper, D, 1);
        row.lower_implied = Int128{row.lower} <= min_act ? 1 : 0;
        row.upper_implied = Int128{row.upper} >= max_act ? 1 : 0;
    }

    // 12. Penalty rows: not all literals of a term are true.
    for (uint64_t t = 0; t < nrem; ++t) {
        if (m.remainder_coeffs[t] < 1) {
            error = kPenaltySign;
            return nullptr;
        }
        IlpRow& row = ilp->rows.emplace_back();
        int64_t positive = 0;
        for (uint64_t k = m.remainder_head[t]; k < m.remainder_head[t + 1]; ++k) {
            const uint32_t w = m.remainder_vars[k];
            row.cols.push_back(binary_col[w & ~kNegBit]);
            const bool negated = (w & kNegBit) != 0;
            row.coeffs.push_back(negated ? -1 : 1);
            if (!negated) ++positive;
        }
        row.lower = 0;
        row.lower_implied = 1;
        row.upper = positive - 1;
        row.upper_implied = 0;
    }

    assign_file_names(*ilp);
    return ilp;
}

void ilp_col_decode(const IlpCol& c, int64_t value, uint8_t* out) {
    Int128 r = Int128{value} - c.offset;
    const size_t n = c.bit_coeffs.size();
    std::vector<size_t> order(n);
    std::vector<uint8_t> bits(n, 0);  // the caller's bytes stay as they are on a refusal
    for (size_t k = 0; k < n; ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return c.bit_coeffs[a] > c.bit_coeffs[b]; });
    for (size_t k : order) {
        if (Int128{c.bit_coeffs[k]} <= r) {
            bits[k] = 1;
            r -= c.bit_coeffs[k];
        }
    }
    if (r != 0) fatal("dalo_ilp_col_decode: integer value out of the encoded range");
    std::copy(bits.begin(), bits.end(), out);
}

}  // namespace dalo

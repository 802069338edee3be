// The BriskSolver entry points of dalo_plugin.h.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/params.hpp"
#include "dalo_plugin.h"
#include "int_search.hpp"
#include "model.hpp"
#include "search.hpp"

namespace {

using brisk::Outcome;
using brisk::Problem;
using brisk::RawCons;

dalo_plugin_callback g_callback = nullptr;

// A handle: a binary Problem or an integer one, and the information of its last search.
struct Handle {
    std::unique_ptr<Problem> binary;
    std::unique_ptr<brisk::IntProblem> integer;
    std::vector<std::pair<std::string, std::string>> info;

    // The constraint list of whichever Problem the handle holds.
    void add(RawCons c) {
        if (binary) {
            binary->add_constraint(std::move(c));
        } else {
            integer->add_constraint(std::move(c));
        }
    }
    RawCons* last() { return binary ? binary->last_constraint() : integer->last_constraint(); }
};

struct List {
    std::vector<brisk::Found> sols;
};

void write(const brisk::Found& f, dalo_solution_record* r) {
    *r->energy = f.energy;
    *r->tts = f.tts;
    const uint32_t n = *r->var_count;
    for (uint32_t w = 0; w < *r->word_count; ++w) r->bits[w] = 0;
    for (uint32_t i = 0; i < n && i < f.x.size(); ++i)
        r->bits[i >> 6] |= uint64_t{f.x[i] & 1u} << (i & 63);
}

}  // namespace

extern "C" {

DALO_PLUGIN_EXPORT void* dalo_brisk_solver_create(void*, uint32_t var_count, uint32_t max_degree,
                                                  const dalo_plugin_energy* constant,
                                                  const uint64_t* term_counts,
                                                  const uint32_t* const* term_vars,
                                                  const dalo_plugin_coeff* const* coeffs) {
    auto* h = new Handle();
    h->binary = std::make_unique<Problem>(
        var_count, plugin_common::Objective(max_degree, constant, term_counts, term_vars, coeffs));
    return h;
}

DALO_PLUGIN_EXPORT void dalo_brisk_solver_destroy(void* solver) {
    delete static_cast<Handle*>(solver);
}

DALO_PLUGIN_EXPORT void* dalo_brisk_solver_search(void* solver, dalo_solution_record* best,
                                                  const dalo_plugin_pair* params,
                                                  const void* hint) {
    Handle* h = static_cast<Handle*>(solver);
    const brisk::Options o = brisk::parse_options(params);
    Problem& p = *h->binary;
    p.compile();
    Outcome out = brisk::search(p, o, static_cast<const uint64_t*>(hint), g_callback);
    write(out.best, best);
    h->info = std::move(out.info);
    if (!out.has_list) return nullptr;
    return new List{std::move(out.list)};
}

DALO_PLUGIN_EXPORT uint64_t dalo_brisk_solver_sol_list_count(void* list) {
    return static_cast<List*>(list)->sols.size();
}

DALO_PLUGIN_EXPORT void dalo_brisk_solver_sol_list_get(void* list, uint64_t index,
                                                       dalo_solution_record* out) {
    write(static_cast<List*>(list)->sols.at(index), out);
}

DALO_PLUGIN_EXPORT void dalo_brisk_solver_sol_list_destroy(void* list) {
    delete static_cast<List*>(list);
}

DALO_PLUGIN_EXPORT void dalo_brisk_solver_register_callback(dalo_plugin_callback callback) {
    g_callback = callback;
}

DALO_PLUGIN_EXPORT dalo_plugin_pair* dalo_brisk_solver_get_info(void* solver) {
    const Handle* h = static_cast<Handle*>(solver);
    // One block: the pairs, then the strings they point into.
    size_t bytes = (h->info.size() + 1) * sizeof(dalo_plugin_pair);
    for (const auto& [k, v] : h->info) bytes += k.size() + v.size() + 2;
    auto* pairs = static_cast<dalo_plugin_pair*>(::operator new(bytes));
    char* text = reinterpret_cast<char*>(pairs + h->info.size() + 1);
    for (size_t i = 0; i < h->info.size(); ++i) {
        const auto& [k, v] = h->info[i];
        std::memcpy(text, k.c_str(), k.size() + 1);
        pairs[i].key = text;
        text += k.size() + 1;
        std::memcpy(text, v.c_str(), v.size() + 1);
        pairs[i].value = text;
        text += v.size() + 1;
    }
    pairs[h->info.size()] = {nullptr, nullptr};
    return pairs;
}

DALO_PLUGIN_EXPORT void dalo_brisk_solver_free_info(dalo_plugin_pair* info) {
    ::operator delete(info);
}

DALO_PLUGIN_EXPORT void dalo_brisk_solver_add_constraint(void* solver, const int64_t* weight,
                                                         const int64_t* lower, const int64_t* upper,
                                                         const int64_t* constant, uint64_t nterms,
                                                         const uint32_t* vars,
                                                         const dalo_plugin_coeff* coeffs) {
    static_cast<Handle*>(solver)->add(
        RawCons({weight, lower, upper, constant, nterms, vars, coeffs}));
}

DALO_PLUGIN_EXPORT void dalo_brisk_solver_add_constraint_nl(
    void* solver, const int64_t* weight, const int64_t* lower, const int64_t* upper,
    const int64_t* constant, uint64_t nterms, const uint32_t* vars, const dalo_plugin_coeff* coeffs,
    uint64_t nl_terms, const uint64_t* nl_head, const uint32_t* nl_vars,
    const dalo_plugin_coeff* nl_coeffs) {
    static_cast<Handle*>(solver)->add(
        RawCons(plugin_common::ConstraintArgs(weight, lower, upper, constant, nterms, vars, coeffs)
                    .products(nl_terms, nl_head, nl_vars, nl_coeffs)));
}

DALO_PLUGIN_EXPORT void dalo_brisk_solver_add_constraint_set(
    void* solver, const int64_t* weight, const int64_t* lower, const int64_t* upper,
    const int64_t* constant, uint64_t nterms, const uint32_t* vars, const dalo_plugin_coeff* coeffs,
    uint64_t nsets, const int64_t* set_lo, const int64_t* set_hi) {
    static_cast<Handle*>(solver)->add(
        RawCons(plugin_common::ConstraintArgs(weight, lower, upper, constant, nterms, vars, coeffs)
                    .sets(nsets, set_lo, set_hi)));
}

DALO_PLUGIN_EXPORT void dalo_brisk_solver_set_cons_shape(void* solver, uint32_t exponent,
                                                         uint32_t param) {
    plugin_common::set_shape(static_cast<Handle*>(solver)->last(), exponent, param);
}

DALO_PLUGIN_EXPORT void dalo_brisk_solver_set_remainder(void* solver, const int64_t*,
                                                        uint64_t nterms, const uint64_t*,
                                                        const uint32_t*, const dalo_plugin_coeff*) {
    // The remainder is already part of the objective terms; only its size is kept.
    Handle* h = static_cast<Handle*>(solver);
    if (h->binary) h->binary->set_remainder(nterms);
}

DALO_PLUGIN_EXPORT void* dalo_brisk_solver_create_int(
    void*, uint32_t nbin, uint64_t nint, const int64_t* lower, const int64_t* upper,
    uint32_t max_degree, const dalo_plugin_energy* constant, const uint64_t* term_counts,
    const uint32_t* const* term_vars, const dalo_plugin_coeff* const* coeffs) {
    auto* h = new Handle();
    h->integer = std::make_unique<brisk::IntProblem>(
        nbin, nint, lower, upper,
        plugin_common::Objective(max_degree, constant, term_counts, term_vars, coeffs));
    return h;
}

DALO_PLUGIN_EXPORT void* dalo_brisk_solver_search_int(void* solver, dalo_solution_record* best,
                                                      const dalo_plugin_pair* params,
                                                      int64_t* int_values) {
    Handle* h = static_cast<Handle*>(solver);
    const brisk::Options o = brisk::parse_options(params);
    brisk::IntOutcome out = brisk::search_int(*h->integer, o, g_callback);
    *best->energy = out.energy;
    *best->tts = out.tts;
    for (uint32_t w = 0; w < *best->word_count; ++w) best->bits[w] = 0;
    for (uint32_t i = 0; i < *best->var_count; ++i)
        best->bits[i >> 6] |= uint64_t(out.values[i] & 1) << (i & 63);
    const uint64_t nint = h->integer->nint();
    for (uint64_t k = 0; k < nint; ++k) int_values[k] = out.values[*best->var_count + k];
    h->info = std::move(out.info);
    return nullptr;
}

DALO_PLUGIN_EXPORT void dalo_brisk_solver_set_fail(dalo_plugin_fail fail) {
    plugin_common::g_fail.store(fail, std::memory_order_release);
}

}  // extern "C"

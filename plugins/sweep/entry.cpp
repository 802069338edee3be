// The SweepSolver entry points: exact minimisation of a binary Model by enumerating every
// assignment (at most kMaxVars variables).
//
// Parameters: "threads" (default: the cores this process may use), "time_limit" (seconds;
// none by default), "target_energy" (stop at the first energy at or below it), "topk_sols"
// (the k best assignments), "best_energy_sols" (every assignment of the best energy, or the
// first n of them in model-bit order; 0 or a non-number: all), "enable_default_callback"
// (a line per new best on standard output). Ties go to the smaller assignment read as a
// number over the model bits, so answers do not depend on the thread count.
// Information pairs: "threads", "states", "complete" (1 when every assignment was seen),
// "cut_short" ("time_limit" or "target_energy", only when not complete), "remainder_terms".
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/params.hpp"
#include "dalo_plugin.h"
#include "model.hpp"
#include "search.hpp"

namespace {

using sweep::Found;

struct Solver {
    sweep::RawModel raw;
    std::unique_ptr<sweep::Compiled> compiled;  // built at the first search after a change
    std::vector<std::pair<std::string, std::string>> info;
};

struct SolList {
    uint32_t n = 0;
    std::vector<Found> items;
};

std::atomic<dalo_plugin_sweep_callback> g_callback{nullptr};

Solver& solver_of(void* s) { return *static_cast<Solver*>(s); }

void fill(const Found& f, dalo_solution_record* r) {
    *r->energy = f.energy;
    for (uint32_t w = 0; w < *r->word_count; ++w) r->bits[w] = w == 0 ? f.bits : 0;
    *r->tts = f.tts;
}

// A constraint joins the records; the compiled form is rebuilt at the next search.
void add_cons(void* s, const plugin_common::ConstraintArgs& args) {
    Solver& solver = solver_of(s);
    solver.compiled.reset();
    solver.raw.cons.emplace_back(args);
}

}  // namespace

extern "C" DALO_PLUGIN_EXPORT void* dalo_sweep_create(
    void*, uint32_t var_count, uint32_t max_degree, const dalo_plugin_energy* constant,
    const uint64_t* term_counts, const uint32_t* const* term_vars,
    const dalo_plugin_coeff* const* coeffs, uint32_t mode) {
    if (var_count > sweep::kMaxVars) {
        sweep::fatal("SweepSolver: " + std::to_string(var_count) +
                     " variables exceed the enumeration limit of " +
                     std::to_string(sweep::kMaxVars) + " (2^" + std::to_string(sweep::kMaxVars) +
                     " states)");
    }
    auto* s = new Solver();
    sweep::RawModel& m = s->raw;
    m.n = var_count;
    m.mode = mode;
    m.objective = plugin_common::Objective(max_degree, constant, term_counts, term_vars, coeffs);
    return s;
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_destroy(void* solver) {
    delete static_cast<Solver*>(solver);
}

extern "C" DALO_PLUGIN_EXPORT void* dalo_sweep_search(void* solver, dalo_solution_record* best,
                                                      const dalo_plugin_pair* params) {
    Solver& s = solver_of(solver);
    sweep::SearchOptions opts = sweep::parse_options(params);
    opts.callback = g_callback.load();
    if (!s.compiled) s.compiled = std::make_unique<sweep::Compiled>(sweep::compile(s.raw));
    sweep::SearchResult r = sweep::search(*s.compiled, opts);
    // The incremental sums must land on the energy the Model's own arrays give.
    bool drift = sweep::raw_energy(s.raw, r.best.bits) != r.best.energy;
    for (const Found& f : r.list) drift = drift || sweep::raw_energy(s.raw, f.bits) != f.energy;
    if (drift)
        sweep::fatal("SweepSolver: internal error — incremental energy drift in enumeration.");
    fill(r.best, best);

    s.info.clear();
    s.info.emplace_back("threads", std::to_string(r.threads));
    s.info.emplace_back("states", std::to_string(r.states));
    s.info.emplace_back("complete", r.complete ? "1" : "0");
    if (r.cut_short != nullptr) s.info.emplace_back("cut_short", r.cut_short);
    if (s.raw.has_remainder)
        s.info.emplace_back("remainder_terms", std::to_string(s.raw.remainder_terms));
    if (!opts.collect && opts.topk == 0) return nullptr;
    auto* list = new SolList();
    list->n = s.raw.n;
    list->items = std::move(r.list);
    return list;
}

extern "C" DALO_PLUGIN_EXPORT uint64_t dalo_sweep_sol_list_count(void* list) {
    return static_cast<SolList*>(list)->items.size();
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_sol_list_get(void* list, uint64_t index,
                                                           dalo_solution_record* out) {
    const SolList& l = *static_cast<SolList*>(list);
    if (index >= l.items.size()) {
        sweep::fatal("SweepSolver: solution index " + std::to_string(index) +
                     " out of range (list of " + std::to_string(l.items.size()) + ")");
    }
    fill(l.items[index], out);
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_sol_list_destroy(void* list) {
    delete static_cast<SolList*>(list);
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_register_callback(
    dalo_plugin_sweep_callback callback) {
    g_callback.store(callback);
}

// One allocation: the pairs, their terminator, then the text they point to.
extern "C" DALO_PLUGIN_EXPORT dalo_plugin_pair* dalo_sweep_get_info(void* solver) {
    const Solver& s = solver_of(solver);
    if (s.info.empty()) return nullptr;
    const size_t head = (s.info.size() + 1) * sizeof(dalo_plugin_pair);
    size_t size = head;
    for (const auto& [k, v] : s.info) size += k.size() + v.size() + 2;
    auto* block = static_cast<char*>(std::malloc(size));
    if (block == nullptr) return nullptr;
    auto* pairs = reinterpret_cast<dalo_plugin_pair*>(block);
    char* text = block + head;
    auto put = [&text](const std::string& str) {
        std::memcpy(text, str.c_str(), str.size() + 1);
        const char* at = text;
        text += str.size() + 1;
        return at;
    };
    for (size_t i = 0; i < s.info.size(); ++i) {
        pairs[i].key = put(s.info[i].first);
        pairs[i].value = put(s.info[i].second);
    }
    pairs[s.info.size()] = {nullptr, nullptr};
    return pairs;
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_free_info(dalo_plugin_pair* info) { std::free(info); }

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_add_constraint(void* solver, const int64_t* weight,
                                                             const int64_t* lower,
                                                             const int64_t* upper,
                                                             const int64_t* constant,
                                                             uint64_t nterms, const uint32_t* vars,
                                                             const dalo_plugin_coeff* coeffs) {
    add_cons(solver, {weight, lower, upper, constant, nterms, vars, coeffs});
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_add_constraint_nl(
    void* solver, const int64_t* weight, const int64_t* lower, const int64_t* upper,
    const int64_t* constant, uint64_t nterms, const uint32_t* vars, const dalo_plugin_coeff* coeffs,
    uint64_t nl_terms, const uint64_t* nl_head, const uint32_t* nl_vars,
    const dalo_plugin_coeff* nl_coeffs) {
    add_cons(solver,
             plugin_common::ConstraintArgs(weight, lower, upper, constant, nterms, vars, coeffs)
                 .products(nl_terms, nl_head, nl_vars, nl_coeffs));
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_add_constraint_set(
    void* solver, const int64_t* weight, const int64_t* lower, const int64_t* upper,
    const int64_t* constant, uint64_t nterms, const uint32_t* vars, const dalo_plugin_coeff* coeffs,
    uint64_t nsets, const int64_t* set_lo, const int64_t* set_hi) {
    add_cons(solver,
             plugin_common::ConstraintArgs(weight, lower, upper, constant, nterms, vars, coeffs)
                 .sets(nsets, set_lo, set_hi));
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_set_cons_shape(void* solver, uint32_t exponent,
                                                             uint32_t param) {
    Solver& s = solver_of(solver);
    if (s.raw.cons.empty()) return;
    s.compiled.reset();
    // Only the exponent changes the energy; the objective-only flag is for reporting.
    plugin_common::set_shape(&s.raw.cons.back(), exponent, param);
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_set_remainder(void* solver, const int64_t* constant,
                                                            uint64_t nterms, const uint64_t*,
                                                            const uint32_t*,
                                                            const dalo_plugin_coeff*) {
    // The objective terms already hold the remainder; it is kept for information only.
    Solver& s = solver_of(solver);
    s.raw.has_remainder = true;
    s.raw.remainder_constant = *constant;
    s.raw.remainder_terms = nterms;
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_set_fail(dalo_plugin_fail fail) {
    plugin_common::g_fail.store(fail, std::memory_order_release);
}

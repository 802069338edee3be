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
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dalo_plugin.h"
#include "sweep_model.hpp"
#include "sweep_search.hpp"

namespace {

using sweep::Found;
using sweep::RawCons;

// More threads than this only add start-up cost.
constexpr int kMaxThreads = 1024;

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

// The cores this process may run on.
uint32_t online_processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<uint32_t>(std::min<int>(CPU_COUNT(&set), kMaxThreads));
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    if (n > 0) return static_cast<uint32_t>(std::min<long>(n, kMaxThreads));
    return std::max(1u, std::thread::hardware_concurrency());
}

// Leading decimal digits; 0 when there are none (the library reads "best_energy_sols" so).
uint64_t leading_uint(const char* text) {
    uint64_t v = 0;
    for (; *text >= '0' && *text <= '9'; ++text) v = v * 10 + static_cast<uint64_t>(*text - '0');
    return v;
}

[[noreturn]] void bad_value(const std::string& key, const char* value, const char* what) {
    sweep::fatal("SweepSolver: parameter '" + key + "' must be " + what + " (got '" + value + "')");
}

// The whole text as a decimal integer, or false.
bool whole_int(const char* text, int64_t& out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0) return false;
    out = v;
    return true;
}

sweep::SearchOptions parse(const dalo_plugin_pair* params) {
    sweep::SearchOptions o;
    o.threads = online_processors();
    for (const dalo_plugin_pair* p = params; p != nullptr && p->key != nullptr; ++p) {
        const std::string key = p->key;
        const char* value = p->value != nullptr ? p->value : "";
        int64_t n = 0;
        if (key == "threads") {
            if (!whole_int(value, n) || n < 1) bad_value(key, value, "a positive integer");
            o.threads = static_cast<uint32_t>(std::min<int64_t>(n, kMaxThreads));
        } else if (key == "topk_sols") {
            if (!whole_int(value, n) || n < 1) bad_value(key, value, "a positive integer");
            o.topk = static_cast<uint64_t>(n);
        } else if (key == "best_energy_sols") {
            o.collect = true;
            o.collect_limit = leading_uint(value);
        } else if (key == "time_limit") {
            char* end = nullptr;
            const double t = std::strtod(value, &end);
            if (end == value || *end != '\0' || !(t > 0.0) || !std::isfinite(t))
                bad_value(key, value, "a positive number of seconds");
            o.time_limit = t;
        } else if (key == "target_energy") {
            if (!whole_int(value, n)) bad_value(key, value, "an integer");
            o.has_target = true;
            o.target = n;
        } else if (key == "enable_default_callback") {
            o.print_progress = std::strcmp(value, "1") == 0 || std::strcmp(value, "true") == 0 ||
                               std::strcmp(value, "True") == 0;
        } else {
            sweep::fatal("SweepSolver: unknown parameter '" + key +
                         "' (known: time_limit, target_energy, threads, topk_sols, "
                         "best_energy_sols, enable_default_callback)");
        }
    }
    o.callback = g_callback.load();
    return o;
}

void fill(const Found& f, dalo_solution_record* r) {
    *r->energy = f.energy;
    for (uint32_t w = 0; w < *r->word_count; ++w) r->bits[w] = w == 0 ? f.bits : 0;
    *r->tts = f.tts;
}

RawCons& add_cons(void* s, const int64_t* weight, const int64_t* lower, const int64_t* upper,
                  const int64_t* constant, uint64_t nterms, const uint32_t* vars,
                  const dalo_plugin_coeff* coeffs) {
    Solver& solver = solver_of(s);
    solver.compiled.reset();
    RawCons& c = solver.raw.cons.emplace_back();
    c.weight = *weight;
    c.lower = *lower;
    c.upper = *upper;
    c.constant = *constant;
    if (nterms > 0) {
        c.vars.assign(vars, vars + nterms);
        c.coeffs.assign(coeffs, coeffs + nterms);
    }
    return c;
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
    m.max_degree = max_degree;
    m.mode = mode;
    m.constant = *constant;
    for (uint32_t d = 1; d <= max_degree; ++d) {
        const uint64_t count = term_counts[d - 1];
        std::vector<uint32_t>& tv = m.term_vars.emplace_back();
        std::vector<int32_t>& cf = m.coeffs.emplace_back();
        if (count == 0) continue;
        tv.assign(term_vars[d - 1], term_vars[d - 1] + count * d);
        cf.assign(coeffs[d - 1], coeffs[d - 1] + count);
    }
    return s;
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_destroy(void* solver) {
    delete static_cast<Solver*>(solver);
}

extern "C" DALO_PLUGIN_EXPORT void* dalo_sweep_search(void* solver, dalo_solution_record* best,
                                                      const dalo_plugin_pair* params) {
    Solver& s = solver_of(solver);
    const sweep::SearchOptions opts = parse(params);
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
    add_cons(solver, weight, lower, upper, constant, nterms, vars, coeffs);
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_add_constraint_nl(
    void* solver, const int64_t* weight, const int64_t* lower, const int64_t* upper,
    const int64_t* constant, uint64_t nterms, const uint32_t* vars, const dalo_plugin_coeff* coeffs,
    uint64_t nl_terms, const uint64_t* nl_head, const uint32_t* nl_vars,
    const dalo_plugin_coeff* nl_coeffs) {
    RawCons& c = add_cons(solver, weight, lower, upper, constant, nterms, vars, coeffs);
    if (nl_terms == 0) return;
    c.nl_head.assign(nl_head, nl_head + nl_terms + 1);
    c.nl_vars.assign(nl_vars, nl_vars + nl_head[nl_terms]);
    c.nl_coeffs.assign(nl_coeffs, nl_coeffs + nl_terms);
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_add_constraint_set(
    void* solver, const int64_t* weight, const int64_t* lower, const int64_t* upper,
    const int64_t* constant, uint64_t nterms, const uint32_t* vars, const dalo_plugin_coeff* coeffs,
    uint64_t nsets, const int64_t* set_lo, const int64_t* set_hi) {
    RawCons& c = add_cons(solver, weight, lower, upper, constant, nterms, vars, coeffs);
    if (nsets == 0) return;
    c.set_lo.assign(set_lo, set_lo + nsets);
    c.set_hi.assign(set_hi, set_hi + nsets);
}

extern "C" DALO_PLUGIN_EXPORT void dalo_sweep_set_cons_shape(void* solver, uint32_t exponent,
                                                             uint32_t param) {
    Solver& s = solver_of(solver);
    if (s.raw.cons.empty()) return;
    s.compiled.reset();
    // Only the exponent changes the energy; the objective-only flag is for reporting.
    s.raw.cons.back().exponent = exponent;
    s.raw.cons.back().objective_only = param;
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

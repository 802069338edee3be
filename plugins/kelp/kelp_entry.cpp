// The KELPSolver entry points of dalo_plugin.h: the CPU solver for binary Models and the
// unified integer engine, both driven by the replica-exchange search.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dalo_plugin.h"
#include "kelp_model.hpp"
#include "kelp_search.hpp"

namespace {

using kelp::Model;

dalo_plugin_callback g_callback = nullptr;
dalo_plugin_callback_iv g_callback_iv = nullptr;

struct Handle {
    void* context = nullptr;
    std::unique_ptr<Model> model;
    const uint8_t* stop = nullptr;
    kelp::Hint hint;
    std::vector<std::string> text;  // keys and values of the information array
    std::vector<dalo_plugin_pair> info;
    std::vector<uint64_t> bits;  // scratch for progress reports
};

struct List {
    std::vector<std::pair<int64_t, std::vector<uint64_t>>> sols;
};

Handle* handle(void* h) { return static_cast<Handle*>(h); }

void pack(const std::vector<int64_t>& values, uint32_t nbin, uint64_t* words, uint32_t count) {
    for (uint32_t w = 0; w < count; ++w) words[w] = 0;
    for (uint32_t i = 0; i < nbin && i < values.size(); ++i)
        words[i >> 6] |= uint64_t(values[i] & 1) << (i & 63);
}

std::vector<int64_t> unpack(const uint64_t* words, uint32_t nbin) {
    std::vector<int64_t> v(nbin);
    for (uint32_t i = 0; i < nbin; ++i) v[i] = static_cast<int64_t>((words[i >> 6] >> (i & 63)) & 1);
    return v;
}

void report(void* context, int64_t energy, const std::vector<int64_t>& values, uint32_t event,
            double seconds) {
    Handle* h = handle(context);
    const uint32_t nbin = h->model->nbin();
    h->bits.assign((nbin + 63) / 64, 0);
    pack(values, nbin, h->bits.data(), static_cast<uint32_t>(h->bits.size()));
    if (h->model->nint() == 0) {
        if (g_callback != nullptr) g_callback(h->context, &energy, h->bits.data(), event, seconds);
    } else if (g_callback_iv != nullptr) {
        g_callback_iv(h->context, &energy, h->bits.data(), values.data() + nbin, event, seconds);
    }
}

kelp::Outcome run(Handle* h, dalo_kelp_solution_record* best, const dalo_plugin_pair* params) {
    const kelp::Options o = kelp::parse_options(params);
    h->model->finish();
    kelp::Outcome out = kelp::search(*h->model, o, h->hint, h->stop, report, h);
    best->energy = out.energy;
    best->tts = out.tts;
    pack(out.values, h->model->nbin(), best->bits, best->word_count);
    h->text = {"algorithm", "replica exchange",
               "threads",   std::to_string(o.threads),
               "replicas",  std::to_string(o.replicas),
               "sweeps",    std::to_string(out.sweeps),
               "moves",     std::to_string(out.moves),
               "stopped",   out.stopped ? "1" : "0"};
    h->info.clear();
    for (size_t k = 0; k + 1 < h->text.size(); k += 2)
        h->info.push_back({h->text[k].c_str(), h->text[k + 1].c_str()});
    h->info.push_back({nullptr, nullptr});
    best->info = h->info.data();
    return out;
}

kelp::Constraint make(const int64_t* weight, const int64_t* lower, const int64_t* upper,
                      const int64_t* constant) {
    kelp::Constraint c;
    c.weight = *weight;
    c.lower = *lower;
    c.upper = *upper;
    c.constant = *constant;
    return c;
}

}  // namespace

extern "C" {

DALO_PLUGIN_EXPORT int32_t dalo_kelp_gpu_device_count(void) { return 0; }

DALO_PLUGIN_EXPORT void* dalo_kelp_cpu_solver_create(void* context, uint32_t var_count,
                                                     uint32_t max_degree,
                                                     const dalo_plugin_energy* constant,
                                                     const uint64_t* term_counts,
                                                     const uint32_t* const* term_vars,
                                                     const dalo_plugin_coeff* const* coeffs) {
    auto* h = new Handle();
    h->context = context;
    h->model = std::make_unique<Model>(var_count, 0, nullptr, nullptr, max_degree, *constant,
                                       term_counts, term_vars, coeffs);
    return h;
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_solver_destroy(void* solver) { delete handle(solver); }

DALO_PLUGIN_EXPORT void* dalo_kelp_cpu_solver_search(void* solver, dalo_kelp_solution_record* best,
                                                     uint32_t, const dalo_plugin_pair* params,
                                                     const void* hint) {
    Handle* h = handle(solver);
    if (hint != nullptr)
        h->hint.offer(unpack(static_cast<const uint64_t*>(hint), h->model->nbin()));
    run(h, best, params);
    return nullptr;
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_register_callback(dalo_plugin_callback callback) {
    g_callback = callback;
}

DALO_PLUGIN_EXPORT uint64_t dalo_kelp_cpu_sol_list_count(void* list) {
    return static_cast<List*>(list)->sols.size();
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_sol_list_get(void* list, uint64_t index,
                                                   dalo_kelp_solution_record* out, uint32_t) {
    const auto& [energy, words] = static_cast<List*>(list)->sols.at(index);
    out->energy = energy;
    for (uint32_t w = 0; w < out->word_count; ++w) out->bits[w] = w < words.size() ? words[w] : 0;
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_sol_list_destroy(void* list) {
    delete static_cast<List*>(list);
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_hint_solution(void* solver, const uint64_t* bits) {
    Handle* h = handle(solver);
    std::vector<int64_t> v = unpack(bits, h->model->nbin());
    for (uint64_t p = h->model->nbin(); p < h->model->size(); ++p) v.push_back(h->model->lo(p));
    h->hint.offer(std::move(v));
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_solver_set_external_stop(void* solver,
                                                               const uint8_t* stop_flag) {
    handle(solver)->stop = stop_flag;
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_add_constraint(void* solver, const int64_t* weight,
                                                     const int64_t* lower, const int64_t* upper,
                                                     const int64_t* constant, uint64_t nterms,
                                                     const uint32_t* vars,
                                                     const dalo_plugin_coeff* coeffs) {
    handle(solver)->model->add_constraint(make(weight, lower, upper, constant), nterms, vars,
                                          coeffs, 0, nullptr, nullptr, nullptr);
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_add_constraint_nl(
    void* solver, const int64_t* weight, const int64_t* lower, const int64_t* upper,
    const int64_t* constant, uint64_t nterms, const uint32_t* vars, const dalo_plugin_coeff* coeffs,
    uint64_t nl_terms, const uint64_t* nl_head, const uint32_t* nl_vars,
    const dalo_plugin_coeff* nl_coeffs) {
    handle(solver)->model->add_constraint(make(weight, lower, upper, constant), nterms, vars,
                                          coeffs, nl_terms, nl_head, nl_vars, nl_coeffs);
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_add_constraint_set(
    void* solver, const int64_t* weight, const int64_t* lower, const int64_t* upper,
    const int64_t* constant, uint64_t nterms, const uint32_t* vars, const dalo_plugin_coeff* coeffs,
    uint64_t nsets, const int64_t* set_lo, const int64_t* set_hi) {
    kelp::Constraint c = make(weight, lower, upper, constant);
    c.set_lo.assign(set_lo, set_lo + nsets);
    c.set_hi.assign(set_hi, set_hi + nsets);
    handle(solver)->model->add_constraint(std::move(c), nterms, vars, coeffs, 0, nullptr, nullptr,
                                          nullptr);
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_set_cons_shape(void* solver, uint32_t exponent,
                                                     uint32_t param) {
    kelp::Constraint* c = handle(solver)->model->last_constraint();
    if (c == nullptr) return;
    c->exponent = exponent == 1 ? 1 : 2;
    c->objective_only = param;
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_set_remainder(void* solver, const int64_t*, uint64_t nterms,
                                                    const uint64_t*, const uint32_t*,
                                                    const dalo_plugin_coeff*) {
    // The remainder's terms are already among the objective terms.
    handle(solver)->model->set_remainder_terms(nterms);
}

DALO_PLUGIN_EXPORT void* dalo_kelp_cpu_solver_create_int(
    void* context, uint32_t nbin, uint64_t nint, const int64_t* lower, const int64_t* upper,
    uint32_t max_degree, const dalo_plugin_energy* constant, const uint64_t* term_counts,
    const uint32_t* const* term_vars, const dalo_plugin_coeff* const* coeffs, uint32_t) {
    auto* h = new Handle();
    h->context = context;
    h->model = std::make_unique<Model>(nbin, nint, lower, upper, max_degree, *constant,
                                       term_counts, term_vars, coeffs);
    return h;
}

DALO_PLUGIN_EXPORT void* dalo_kelp_cpu_solver_search_int(void* solver,
                                                         dalo_kelp_solution_record* best, uint32_t,
                                                         const dalo_plugin_pair* params,
                                                         int64_t* int_values) {
    Handle* h = handle(solver);
    const kelp::Outcome out = run(h, best, params);
    for (uint64_t k = 0; k < h->model->nint(); ++k) int_values[k] = out.values[h->model->nbin() + k];
    return nullptr;
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_register_callback_iv(dalo_plugin_callback_iv callback) {
    g_callback_iv = callback;
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_hint_iv(void* solver, const uint64_t* bits,
                                              const int64_t* int_values, uint64_t nint) {
    Handle* h = handle(solver);
    std::vector<int64_t> v = unpack(bits, h->model->nbin());
    for (uint64_t k = 0; k < h->model->nint(); ++k) v.push_back(k < nint ? int_values[k] : h->model->lo(h->model->nbin() + k));
    h->hint.offer(std::move(v));
}

}  // extern "C"

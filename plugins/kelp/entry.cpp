// The KELPSolver entry points of dalo_plugin.h: the CPU solver for binary Models and the
// unified integer engine, both driven by the replica-exchange search.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/params.hpp"
#include "dalo_plugin.h"
#include "gpu.hpp"
#include "model.hpp"
#include "search.hpp"

namespace {

using kelp::Model;

dalo_plugin_callback g_callback = nullptr;
dalo_plugin_callback_iv g_callback_iv = nullptr;
#ifdef KELP_WITH_CUDA
dalo_plugin_callback g_gpu_callback = nullptr;
#endif

struct Handle {
    void* context = nullptr;
    std::unique_ptr<Model> model;
    const uint8_t* stop = nullptr;
    kelp::Hint hint;
    std::vector<std::string> text;  // keys and values of the information array
    std::vector<dalo_plugin_pair> info;
    std::vector<uint64_t> bits;  // scratch for progress reports
    bool gpu = false;            // created as the GPU solver
    int device = 0;
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
    for (uint32_t i = 0; i < nbin; ++i)
        v[i] = static_cast<int64_t>((words[i >> 6] >> (i & 63)) & 1);
    return v;
}

void report(void* context, int64_t energy, const std::vector<int64_t>& values, uint32_t event,
            double seconds) {
    Handle* h = handle(context);
    const uint32_t nbin = h->model->nbin();
    h->bits.assign((nbin + 63) / 64, 0);
    pack(values, nbin, h->bits.data(), static_cast<uint32_t>(h->bits.size()));
    if (h->model->nint() == 0) {
        dalo_plugin_callback cb = g_callback;
#ifdef KELP_WITH_CUDA
        if (h->gpu) cb = g_gpu_callback;
#endif
        if (cb != nullptr) cb(h->context, &energy, h->bits.data(), event, seconds);
    } else if (g_callback_iv != nullptr) {
        g_callback_iv(h->context, &energy, h->bits.data(), values.data() + nbin, event, seconds);
    }
}

// Keys and values in turn become the record's information array.
void set_info(Handle* h, dalo_kelp_solution_record* best, std::vector<std::string> text) {
    h->text = std::move(text);
    h->info.clear();
    for (size_t k = 0; k + 1 < h->text.size(); k += 2)
        h->info.push_back({h->text[k].c_str(), h->text[k + 1].c_str()});
    h->info.push_back({nullptr, nullptr});
    best->info = h->info.data();
}

// The outcome's list for the library, or null when none was asked for.
void* listed(const kelp::Outcome& out, uint32_t nbin) {
    if (out.list.empty()) return nullptr;
    auto* l = new List();
    for (const auto& [e, values] : out.list) {
        std::vector<uint64_t> words((nbin + 63) / 64, 0);
        pack(values, nbin, words.data(), static_cast<uint32_t>(words.size()));
        l->sols.emplace_back(e, std::move(words));
    }
    return l;
}

kelp::Outcome run(Handle* h, dalo_kelp_solution_record* best, const dalo_plugin_pair* params) {
    const kelp::Options o = kelp::parse_options(params);
    h->model->finish();
    kelp::Outcome out = kelp::search(*h->model, o, h->hint, h->stop, report, h);
    best->energy = out.energy;
    best->tts = out.tts;
    pack(out.values, h->model->nbin(), best->bits, best->word_count);
    std::vector<std::string> info = {"algorithm", "replica exchange",
                                     "threads",   std::to_string(o.threads),
                                     "replicas",  std::to_string(o.replicas),
                                     "sweeps",    std::to_string(out.sweeps),
                                     "moves",     std::to_string(out.moves),
                                     "stopped",   out.stopped ? "1" : "0",
                                     "device",    "cpu",
                                     "solver",    h->gpu ? "gpu" : "cpu"};
    if (out.groups > 0) {
        info.insert(info.end(),
                    {"one_hot_groups", std::to_string(out.groups), "group_moves", out.group_moves});
    }
    set_info(h, best, std::move(info));
    return out;
}

#ifdef KELP_WITH_CUDA
// Distinct states by energy for the GPU solver's lists: the k best, or those at the lowest
// energy (as many as asked for, 0: all).
class Keeper {
  public:
    explicit Keeper(const kelp::Options& o) : o_(o) {}
    bool could_enter(int64_t e) const {
        if (o_.topk == 0 && !o_.best_energy_sols) return false;
        if (list_.empty()) return true;
        if (o_.best_energy_sols) {
            const int64_t low = list_.begin()->first;
            return e < low ||
                   (e == low && (o_.best_energy_limit == 0 || list_.size() < o_.best_energy_limit));
        }
        return list_.size() < o_.topk || e < std::prev(list_.end())->first;
    }
    void add(int64_t e, const std::vector<int64_t>& v) {
        if (!could_enter(e)) return;
        if (o_.best_energy_sols && !list_.empty() && e < list_.begin()->first) list_.clear();
        list_.emplace(e, v);
        if (o_.topk > 0 && list_.size() > o_.topk) list_.erase(std::prev(list_.end()));
    }
    const std::set<std::pair<int64_t, std::vector<int64_t>>>& list() const { return list_; }

  private:
    const kelp::Options& o_;
    std::set<std::pair<int64_t, std::vector<int64_t>>> list_;
};

// The GPU search: rounds of independent annealing replicas on the device (or on the host
// where the device is only emulated), longer each round, a share of them starting from the
// hint and then from the best state so far. The device's energies only rank the states;
// every state reported or listed is recomputed here from the Model. Models the kernel does
// not cover, and machines without a device, get the CPU search.
void* run_gpu(Handle* h, dalo_kelp_solution_record* best, const dalo_plugin_pair* params) {
    Model& m = *h->model;
    m.finish();
    const kelp::Options o = kelp::parse_options(params);
    const int devices = kelp::gpu::device_count();
    const bool emulated = devices <= 0 && kelp::gpu::emulated_count() > 0;
    if ((devices <= 0 && !emulated) || !o.device || !m.quadratic() || m.size() == 0) {
        return listed(run(h, best, params), m.nbin());
    }
    const uint64_t n = m.size();
    kelp::gpu::Quadratic q;
    q.n = static_cast<uint32_t>(n);
    q.adj_off.push_back(0);
    for (uint64_t p = 0; p < n; ++p) {
        q.lin.push_back(m.lin(p));
        for (auto* a = m.adj_begin(p); a != m.adj_end(p); ++a) {
            q.adj_var.push_back(a->first);
            q.adj_coeff.push_back(a->second);
        }
        q.adj_off.push_back(q.adj_var.size());
    }
    // Temperatures as on the CPU: from the flip changes of a random state.
    std::vector<double> ups;
    uint64_t seed = o.seed;
    for (uint64_t p = 0; p < n; ++p) {
        double f = static_cast<double>(m.lin(p));
        for (auto* a = m.adj_begin(p); a != m.adj_end(p); ++a)
            f += static_cast<double>(a->second) *
                 static_cast<double>(
                     (seed = seed * 6364136223846793005ull + 1442695040888963407ull) >> 63);
        if (f != 0) ups.push_back(std::fabs(f));
    }
    std::sort(ups.begin(), ups.end());
    const double hot = ups.empty() ? 1.0 : std::log(4.0) / ups[ups.size() / 2];
    const double cold = ups.empty() ? 1.0 : std::max(std::log(1000.0) / ups.front(), hot * 4.0);
    const int device = emulated ? 0 : std::min(h->device, devices - 1);
    const uint32_t replicas =
        emulated ? 4 * o.replicas : std::max<uint32_t>(1024, o.replicas * 256);
    // The device's energies leave out what the all-zero state costs.
    std::vector<int64_t> values(n, 0), found;
    const int64_t offset = m.energy(values.data(), nullptr);
    int64_t best_energy = 0;
    double tts = 0.0;
    bool have = false, stopped = false;
    Keeper keeper(o);
    auto elapsed = [&] {
        return std::chrono::duration<double>(kelp::Clock::now() - o.start).count();
    };
    auto consider = [&](const std::vector<int64_t>& v) {
        const int64_t e = m.energy(v.data(), nullptr);
        keeper.add(e, v);
        if (have && e >= best_energy) return e;
        have = true;
        best_energy = e;
        found = v;
        tts = elapsed();
        report(h, e, found, 1, tts);
        return e;
    };
    std::vector<int64_t> hint;
    if (h->hint.take(hint)) {
        hint.resize(n);
        consider(hint);
    }
    std::vector<uint8_t> states, start;
    std::vector<int64_t> energies;
    uint64_t moves = 0, rounds = 0;
    double next_timer = o.timer_interval;
    // The stop flag and the time limit also cut a running round short.
    const std::function<bool()> halt_now = [&] {
        return (h->stop != nullptr && __atomic_load_n(h->stop, __ATOMIC_ACQUIRE) != 0) ||
               elapsed() >= o.time_limit;
    };
    auto finished = [&] {
        stopped = h->stop != nullptr && __atomic_load_n(h->stop, __ATOMIC_ACQUIRE) != 0;
        return stopped || elapsed() >= o.time_limit ||
               (o.has_target && have && best_energy <= o.target);
    };
    // Schedules lengthen round by round while a round stays short, so that progress events
    // and the lists keep coming.
    uint32_t sweeps = emulated ? 16 : 64;
    for (; !finished(); ++rounds) {
        const double round_start = elapsed();
        start.assign(n, 0);
        for (uint64_t p = 0; p < n && have; ++p) start[p] = static_cast<uint8_t>(found[p]);
        const uint32_t hinted = have ? replicas / 8 : 0;
        uint64_t done = 0;  // sweeps the replicas made
        if (emulated) {
            kelp::gpu::anneal_host(q, replicas, sweeps, hot, cold, o.seed + rounds, start, hinted,
                                   halt_now, states, energies, done);
        } else if (!kelp::gpu::anneal(device, q, replicas, sweeps, hot, cold, o.seed + rounds,
                                      start, hinted, halt_now, states, energies, done)) {
            break;
        }
        moves += done * n;
        for (uint32_t r = 0; r < replicas; ++r) {
            const int64_t rank = kelp::wrap_add(offset, energies[r]);
            if (have && rank >= best_energy && !keeper.could_enter(rank)) continue;
            for (uint64_t p = 0; p < n; ++p) values[p] = states[r * n + p];
            // The kernel's energy must agree with the Model's.
            if (consider(values) != rank) {
                std::fprintf(stderr, "dalo: KELPSolver: internal error — kernel energy mismatch\n");
                std::fflush(stderr);
                std::abort();
            }
        }
        if (have && elapsed() >= next_timer) {
            next_timer = elapsed() + o.timer_interval;
            report(h, best_energy, found, 2, elapsed());
        }
        if (elapsed() - round_start < 0.1)
            sweeps = std::min<uint32_t>(sweeps * 2, emulated ? 512 : 2048);
    }
    if (!have) {
        // The device failed before its first round.
        return listed(run(h, best, params), m.nbin());
    }
    best->energy = best_energy;
    best->tts = tts;
    pack(found, m.nbin(), best->bits, best->word_count);
    set_info(h, best,
             {"algorithm", "annealing replicas", "device", emulated ? "emulated" : "gpu",
              "replicas", std::to_string(replicas), "rounds", std::to_string(rounds), "moves",
              std::to_string(moves), "stopped", stopped ? "1" : "0", "solver", "gpu"});
    kelp::Outcome out;
    out.list.assign(keeper.list().begin(), keeper.list().end());
    return listed(out, m.nbin());
}
#endif
}  // namespace

extern "C" {

DALO_PLUGIN_EXPORT int32_t dalo_kelp_gpu_device_count(void) {
    int count = 0;
#ifdef KELP_WITH_CUDA
    count = kelp::gpu::device_count();
#endif
    return count > 0 ? count : kelp::gpu::emulated_count();
}

DALO_PLUGIN_EXPORT void* dalo_kelp_cpu_solver_create(void* context, uint32_t var_count,
                                                     uint32_t max_degree,
                                                     const dalo_plugin_energy* constant,
                                                     const uint64_t* term_counts,
                                                     const uint32_t* const* term_vars,
                                                     const dalo_plugin_coeff* const* coeffs) {
    auto* h = new Handle();
    h->context = context;
    h->model = std::make_unique<Model>(
        var_count, 0, nullptr, nullptr,
        plugin_common::Objective(max_degree, constant, term_counts, term_vars, coeffs));
    return h;
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_solver_destroy(void* solver) { delete handle(solver); }

DALO_PLUGIN_EXPORT void* dalo_kelp_cpu_solver_search(void* solver, dalo_kelp_solution_record* best,
                                                     uint32_t, const dalo_plugin_pair* params,
                                                     const void* hint) {
    Handle* h = handle(solver);
    if (hint != nullptr)
        h->hint.offer(unpack(static_cast<const uint64_t*>(hint), h->model->nbin()));
    return listed(run(h, best, params), h->model->nbin());
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
    handle(solver)->model->add_constraint({weight, lower, upper, constant, nterms, vars, coeffs});
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_add_constraint_nl(
    void* solver, const int64_t* weight, const int64_t* lower, const int64_t* upper,
    const int64_t* constant, uint64_t nterms, const uint32_t* vars, const dalo_plugin_coeff* coeffs,
    uint64_t nl_terms, const uint64_t* nl_head, const uint32_t* nl_vars,
    const dalo_plugin_coeff* nl_coeffs) {
    handle(solver)->model->add_constraint(
        plugin_common::ConstraintArgs(weight, lower, upper, constant, nterms, vars, coeffs)
            .products(nl_terms, nl_head, nl_vars, nl_coeffs));
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_add_constraint_set(
    void* solver, const int64_t* weight, const int64_t* lower, const int64_t* upper,
    const int64_t* constant, uint64_t nterms, const uint32_t* vars, const dalo_plugin_coeff* coeffs,
    uint64_t nsets, const int64_t* set_lo, const int64_t* set_hi) {
    handle(solver)->model->add_constraint(
        plugin_common::ConstraintArgs(weight, lower, upper, constant, nterms, vars, coeffs)
            .sets(nsets, set_lo, set_hi));
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_set_cons_shape(void* solver, uint32_t exponent,
                                                     uint32_t param) {
    plugin_common::set_shape(handle(solver)->model->last_constraint(), exponent, param);
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
    h->model = std::make_unique<Model>(
        nbin, nint, lower, upper,
        plugin_common::Objective(max_degree, constant, term_counts, term_vars, coeffs));
    return h;
}

DALO_PLUGIN_EXPORT void* dalo_kelp_cpu_solver_search_int(void* solver,
                                                         dalo_kelp_solution_record* best, uint32_t,
                                                         const dalo_plugin_pair* params,
                                                         int64_t* int_values) {
    Handle* h = handle(solver);
    const kelp::Outcome out = run(h, best, params);
    for (uint64_t k = 0; k < h->model->nint(); ++k)
        int_values[k] = out.values[h->model->nbin() + k];
    return nullptr;
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_register_callback_iv(dalo_plugin_callback_iv callback) {
    g_callback_iv = callback;
}

DALO_PLUGIN_EXPORT void dalo_kelp_cpu_hint_iv(void* solver, const uint64_t* bits,
                                              const int64_t* int_values, uint64_t nint) {
    Handle* h = handle(solver);
    std::vector<int64_t> v = unpack(bits, h->model->nbin());
    for (uint64_t k = 0; k < h->model->nint(); ++k)
        v.push_back(k < nint ? int_values[k] : h->model->lo(h->model->nbin() + k));
    h->hint.offer(std::move(v));
}

#ifdef KELP_WITH_CUDA
// The GPU solver. It shares the CPU solver's handle, constraints and hints; its search runs
// on the device where the Model suits the kernel and a device is present.
DALO_PLUGIN_EXPORT void dalo_kelp_init(void) {}

DALO_PLUGIN_EXPORT void* dalo_kelp_solver_create(
    void* context, uint32_t var_count, uint32_t max_degree, const dalo_plugin_energy* constant,
    const uint64_t* term_counts, const uint32_t* const* term_vars,
    const dalo_plugin_coeff* const* coeffs, uint32_t device) {
    auto* h = static_cast<Handle*>(dalo_kelp_cpu_solver_create(
        context, var_count, max_degree, constant, term_counts, term_vars, coeffs));
    h->gpu = true;
    // Mode m > 0 names device m - 1; "any device" and 0 take the first.
    h->device = device != 0xFFFFFFFFu && device > 0 ? static_cast<int>(device - 1) : 0;
    return h;
}

DALO_PLUGIN_EXPORT void dalo_kelp_solver_destroy(void* solver) { delete handle(solver); }

DALO_PLUGIN_EXPORT void* dalo_kelp_solver_search(void* solver, dalo_kelp_solution_record* best,
                                                 uint32_t, const dalo_plugin_pair* params,
                                                 const void* hint) {
    Handle* h = handle(solver);
    if (hint != nullptr)
        h->hint.offer(unpack(static_cast<const uint64_t*>(hint), h->model->nbin()));
    return run_gpu(h, best, params);
}

DALO_PLUGIN_EXPORT void dalo_kelp_register_callback(dalo_plugin_callback callback) {
    g_gpu_callback = callback;
}

DALO_PLUGIN_EXPORT uint64_t dalo_kelp_sol_list_count(void* list) {
    return dalo_kelp_cpu_sol_list_count(list);
}

DALO_PLUGIN_EXPORT void dalo_kelp_sol_list_get(void* list, uint64_t index,
                                               dalo_kelp_solution_record* out, uint32_t n) {
    dalo_kelp_cpu_sol_list_get(list, index, out, n);
}

DALO_PLUGIN_EXPORT void dalo_kelp_sol_list_destroy(void* list) {
    dalo_kelp_cpu_sol_list_destroy(list);
}

DALO_PLUGIN_EXPORT void dalo_kelp_hint_solution(void* solver, const uint64_t* bits) {
    dalo_kelp_cpu_hint_solution(solver, bits);
}

DALO_PLUGIN_EXPORT void dalo_kelp_solver_set_external_stop(void* solver, const uint8_t* flag) {
    dalo_kelp_cpu_solver_set_external_stop(solver, flag);
}

DALO_PLUGIN_EXPORT void dalo_kelp_add_constraint(void* solver, const int64_t* weight,
                                                 const int64_t* lower, const int64_t* upper,
                                                 const int64_t* constant, uint64_t nterms,
                                                 const uint32_t* vars,
                                                 const dalo_plugin_coeff* coeffs) {
    dalo_kelp_cpu_add_constraint(solver, weight, lower, upper, constant, nterms, vars, coeffs);
}

DALO_PLUGIN_EXPORT void dalo_kelp_add_constraint_nl(
    void* solver, const int64_t* weight, const int64_t* lower, const int64_t* upper,
    const int64_t* constant, uint64_t nterms, const uint32_t* vars, const dalo_plugin_coeff* coeffs,
    uint64_t nl_terms, const uint64_t* nl_head, const uint32_t* nl_vars,
    const dalo_plugin_coeff* nl_coeffs) {
    dalo_kelp_cpu_add_constraint_nl(solver, weight, lower, upper, constant, nterms, vars, coeffs,
                                    nl_terms, nl_head, nl_vars, nl_coeffs);
}

DALO_PLUGIN_EXPORT void dalo_kelp_add_constraint_set(
    void* solver, const int64_t* weight, const int64_t* lower, const int64_t* upper,
    const int64_t* constant, uint64_t nterms, const uint32_t* vars, const dalo_plugin_coeff* coeffs,
    uint64_t nsets, const int64_t* set_lo, const int64_t* set_hi) {
    dalo_kelp_cpu_add_constraint_set(solver, weight, lower, upper, constant, nterms, vars, coeffs,
                                     nsets, set_lo, set_hi);
}

DALO_PLUGIN_EXPORT void dalo_kelp_set_cons_shape(void* solver, uint32_t exponent, uint32_t param) {
    dalo_kelp_cpu_set_cons_shape(solver, exponent, param);
}

DALO_PLUGIN_EXPORT void dalo_kelp_set_remainder(void* solver, const int64_t* constant,
                                                uint64_t nterms, const uint64_t* head,
                                                const uint32_t* vars,
                                                const dalo_plugin_coeff* coeffs) {
    dalo_kelp_cpu_set_remainder(solver, constant, nterms, head, vars, coeffs);
}
#endif

DALO_PLUGIN_EXPORT void dalo_kelp_set_fail(dalo_plugin_fail fail) {
    plugin_common::g_fail.store(fail, std::memory_order_release);
}

}  // extern "C"

// The integer GPU engine of dalo_plugin.h: each round improves a batch of start states with
// many independent annealing replicas on the device (where the device is only emulated, the
// same kernel code runs a few replicas on the host), or, without a device or after a CUDA
// error, with a short annealing run per start on the host. Every energy handed back is
// recomputed here from the Model.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "dalo_plugin.h"
#include "gpu.hpp"
#include "model.hpp"
#include "rng.hpp"

namespace {

using kelp::Model;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Rounds aim at this many seconds, so that the library's submitter sees a stop soon.
constexpr double kRoundSeconds = 0.01;

struct Engine {
    std::unique_ptr<Model> model;
    uint32_t replicas = 0;
    kelp::Rng rng;
    bool finished = false;
    double hot = 1.0, cold = 1.0;
    uint32_t host_sweeps = 2;
    std::mutex hint_mutex;
    std::vector<int64_t> hint;
    bool hint_pending = false;
    std::vector<std::pair<uint32_t, int64_t>> changes;
#ifdef KELP_WITH_CUDA
    kelp::Flat flat;
    kelp::gpu::IntDevice* device = nullptr;
    bool device_tried = false, emulated = false;
    uint32_t device_sweeps = 4;
#endif

    explicit Engine(uint32_t seed) : rng(seed) {}
    ~Engine() {
#ifdef KELP_WITH_CUDA
        kelp::gpu::int_device_destroy(device);
#endif
    }
};

Engine* engine(void* e) { return static_cast<Engine*>(e); }

int64_t random_value(const Model& m, uint64_t p, kelp::Rng& rng) {
    const uint64_t span = static_cast<uint64_t>(m.hi(p)) - static_cast<uint64_t>(m.lo(p));
    const uint64_t r = span == UINT64_MAX ? rng() : rng.below(span + 1);
    return static_cast<int64_t>(static_cast<uint64_t>(m.lo(p)) + r);
}

// The other bit, or mostly a step of one for integers (as on the device).
int64_t propose(const Model& m, uint64_t p, int64_t now, kelp::Rng& rng) {
    const int64_t lo = m.lo(p), hi = m.hi(p);
    if (lo == hi) return now;
    if (p < m.nbin()) return 1 - now;
    const uint64_t x = rng();
    if ((x & 7) == 0) return random_value(m, p, rng);
    if (now <= lo) return lo + 1;
    if (now >= hi) return hi - 1;
    return (x & 8) ? now + 1 : now - 1;
}

// Temperatures from the changes of random moves at a random state: the hot end accepts a
// typical uphill move a quarter of the time, the cold end the smallest about once in a
// thousand.
void calibrate(Engine& en) {
    const Model& m = *en.model;
    if (m.size() == 0) return;
    std::vector<int64_t> v(m.size()), bodies(m.constraint_count());
    for (uint64_t p = 0; p < m.size(); ++p) v[p] = random_value(m, p, en.rng);
    m.energy(v.data(), bodies.data());
    std::vector<double> ups;
    const uint64_t samples = std::min<uint64_t>(4096, 16 * m.size());
    for (uint64_t s = 0; s < samples; ++s) {
        const uint64_t p = en.rng.below(m.size());
        const int64_t to = propose(m, p, v[p], en.rng);
        if (to == v[p]) continue;
        const int64_t d = m.change(v.data(), bodies.data(), p, to, nullptr);
        if (d != 0) ups.push_back(std::fabs(static_cast<double>(d)));
    }
    if (ups.empty()) return;
    std::sort(ups.begin(), ups.end());
    en.hot = std::log(4.0) / ups[ups.size() / 2];
    en.cold = std::max(std::log(1000.0) / ups.front(), en.hot * 4.0);
}

void apply(Engine& en, std::vector<int64_t>& v, std::vector<int64_t>& bodies, uint64_t p,
           int64_t to) {
    for (const auto& [c, bc] : en.changes) bodies[c] = kelp::wrap_add(bodies[c], bc);
    v[p] = to;
}

// Anneals one state on the host for `sweeps` sweeps from the middle of the temperature range
// to the cold end, then descends; the state becomes the best one seen at a sweep's end.
void improve_host(Engine& en, std::vector<int64_t>& v) {
    const Model& m = *en.model;
    const uint64_t n = m.size();
    if (n == 0) return;
    std::vector<int64_t> bodies(m.constraint_count());
    int64_t e = m.energy(v.data(), bodies.data());
    std::vector<int64_t> best = v;
    int64_t best_e = e;
    const uint32_t sweeps = en.host_sweeps;
    for (uint32_t s = 0; s < sweeps; ++s) {
        const double t = 0.5 + 0.5 * (sweeps > 1 ? static_cast<double>(s) / (sweeps - 1) : 1.0);
        const double beta = en.hot * std::pow(en.cold / en.hot, t);
        for (uint64_t k = 0; k < n; ++k) {
            const uint64_t p = en.rng.below(n);
            const int64_t to = propose(m, p, v[p], en.rng);
            if (to == v[p]) continue;
            en.changes.clear();
            const int64_t d = m.change(v.data(), bodies.data(), p, to, &en.changes);
            if (d > 0 && en.rng.unit() >= std::exp(-beta * static_cast<double>(d))) continue;
            apply(en, v, bodies, p, to);
            e = kelp::wrap_add(e, d);
        }
        if (e < best_e) {
            best_e = e;
            best = v;
        }
    }
    // Steps of one on wide integer ranges could descend for long: a few passes suffice.
    bool moved = true;
    for (int pass = 0; pass < 16 && moved; ++pass) {
        moved = false;
        for (uint64_t p = 0; p < n; ++p) {
            if (m.lo(p) == m.hi(p)) continue;
            // Neighbour values, without stepping past a bound.
            const int64_t up = v[p] < m.hi(p) ? v[p] + 1 : v[p];
            const int64_t down = v[p] > m.lo(p) ? v[p] - 1 : v[p];
            for (const int64_t to : {p < m.nbin() ? 1 - v[p] : up, down}) {
                if (to < m.lo(p) || to > m.hi(p) || to == v[p]) continue;
                en.changes.clear();
                const int64_t d = m.change(v.data(), bodies.data(), p, to, &en.changes);
                if (d >= 0) continue;
                apply(en, v, bodies, p, to);
                e = kelp::wrap_add(e, d);
                moved = true;
            }
        }
    }
    if (best_e < e) v = best;
}

void round_on_host(Engine& en, std::vector<std::vector<int64_t>>& states) {
    const auto t0 = Clock::now();
    for (std::vector<int64_t>& v : states) improve_host(en, v);
    const double took = since(t0);
    if (took < kRoundSeconds / 2 && en.host_sweeps < 1024) en.host_sweeps *= 2;
    if (took > kRoundSeconds * 2 && en.host_sweeps > 1) en.host_sweeps /= 2;
}

#ifdef KELP_WITH_CUDA
[[noreturn]] void internal_error(const char* what) {
    std::fprintf(stderr, "dalo: KELPSolver: internal error — %s\n", what);
    std::fflush(stderr);
    std::abort();
}

// Replicas of the device kernel code where the device is only emulated.
constexpr uint32_t kEmulatedReplicas = 32;

// False when the device is missing or failed; the engine then stays on the host search.
bool round_on_device(Engine& en, std::vector<std::vector<int64_t>>& states) {
    const auto batch = static_cast<uint32_t>(states.size());
    if (!en.device_tried) {
        en.device_tried = true;
        en.flat = en.model->flatten();
        if (kelp::gpu::device_count() > 0) {
            en.device =
                kelp::gpu::int_device_create(0, en.flat, std::max<uint32_t>(en.replicas, batch));
        } else {
            en.emulated = kelp::gpu::emulated_count() > 0;
        }
    }
    if (en.device == nullptr && !en.emulated) return false;
    const uint64_t n = en.model->size();
    std::vector<int64_t> starts(batch * n), out(batch * n), energies(batch);
    for (uint32_t s = 0; s < batch; ++s)
        std::copy(states[s].begin(), states[s].end(),
                  starts.begin() + static_cast<ptrdiff_t>(s * n));
    const auto t0 = Clock::now();
    if (en.device == nullptr) {
        kelp::gpu::int_host_round(en.flat, std::min(en.replicas, kEmulatedReplicas), starts.data(),
                                  batch, en.device_sweeps, en.hot, en.cold, en.rng(), out.data(),
                                  energies.data());
    } else if (!kelp::gpu::int_device_round(en.device, starts.data(), batch, en.device_sweeps,
                                            en.hot, en.cold, en.rng(), out.data(),
                                            energies.data())) {
        kelp::gpu::int_device_destroy(en.device);
        en.device = nullptr;
        return false;
    }
    const double took = since(t0);
    if (took < kRoundSeconds / 2 && en.device_sweeps < 4096) en.device_sweeps *= 2;
    if (took > kRoundSeconds * 2 && en.device_sweeps > 1) en.device_sweeps /= 2;
    for (uint32_t s = 0; s < batch; ++s) {
        for (uint64_t p = 0; p < n; ++p)
            states[s][p] = std::clamp(out[s * n + p], en.model->lo(p), en.model->hi(p));
        // The kernel's incremental energy must agree with the Model's.
        if (en.model->energy(states[s].data(), nullptr) != energies[s])
            internal_error("integer kernel energy mismatch");
    }
    return true;
}
#endif

}  // namespace

extern "C" {

DALO_PLUGIN_EXPORT void* dalo_kelp_int_create(uint32_t nbin, uint64_t nint, const int64_t* lower,
                                              const int64_t* upper, uint32_t max_degree,
                                              const dalo_plugin_energy* constant,
                                              const uint64_t* term_counts,
                                              const uint32_t* const* term_vars,
                                              const dalo_plugin_coeff* const* coeffs, uint32_t,
                                              uint32_t replicas, uint32_t seed) {
    auto* en = new Engine(seed);
    en->model = std::make_unique<Model>(
        nbin, nint, lower, upper,
        plugin_common::Objective(max_degree, constant, term_counts, term_vars, coeffs));
    en->replicas = replicas;
    return en;
}

DALO_PLUGIN_EXPORT void dalo_kelp_int_add_cons(void* e, const int64_t* weight, const int64_t* lower,
                                               const int64_t* upper, const int64_t* constant,
                                               uint64_t nterms, const uint32_t* vars,
                                               const dalo_plugin_coeff* coeffs, uint64_t nl_terms,
                                               const uint64_t* nl_head, const uint32_t* nl_vars,
                                               const dalo_plugin_coeff* nl_coeffs, uint64_t nsets,
                                               const int64_t* set_lo, const int64_t* set_hi) {
    Engine* en = engine(e);
    // Integer k arrives as word nbin + k, which the Model reads as position nbin + k.
    en->model->add_constraint(
        plugin_common::ConstraintArgs(weight, lower, upper, constant, nterms, vars, coeffs)
            .products(nl_terms, nl_head, nl_vars, nl_coeffs)
            .sets(nsets, set_lo, set_hi));
    en->finished = false;
}

DALO_PLUGIN_EXPORT void dalo_kelp_int_set_cons_shape(void* e, uint32_t exponent,
                                                     uint32_t objective_only) {
    plugin_common::set_shape(engine(e)->model->last_constraint(), exponent, objective_only);
}

DALO_PLUGIN_EXPORT int32_t dalo_kelp_int_round2(void* e, const uint64_t* start_bits,
                                                const int64_t* start_ints, uint32_t batch,
                                                uint64_t* out_bits, int64_t* out_ints,
                                                dalo_plugin_energy* out_energies,
                                                uint8_t* out_improved) {
    Engine& en = *engine(e);
    Model& m = *en.model;
    if (!en.finished) {
        m.finish();
        calibrate(en);
        en.finished = true;
#ifdef KELP_WITH_CUDA
        kelp::gpu::int_device_destroy(en.device);
        en.device = nullptr;
        en.device_tried = false;
        en.emulated = false;
#endif
    }
    const uint32_t nbin = m.nbin();
    const uint64_t nint = m.nint(), words = (uint64_t{nbin} + 63) / 64;
    std::vector<std::vector<int64_t>> states(batch, std::vector<int64_t>(m.size()));
    for (uint32_t s = 0; s < batch; ++s) {
        for (uint32_t i = 0; i < nbin; ++i)
            states[s][i] = static_cast<int64_t>((start_bits[s * words + (i >> 6)] >> (i & 63)) & 1);
        for (uint64_t k = 0; k < nint; ++k)
            states[s][nbin + k] =
                std::clamp(start_ints[s * nint + k], m.lo(nbin + k), m.hi(nbin + k));
    }
    // A pending hint replaces the first start; its result counts as new whatever it is.
    bool hinted = false;
    {
        std::lock_guard<std::mutex> lock(en.hint_mutex);
        if (en.hint_pending && batch > 0) {
            states[0] = en.hint;
            en.hint_pending = false;
            hinted = true;
        }
    }
    std::vector<int64_t> start_energy(batch);
    for (uint32_t s = 0; s < batch; ++s) start_energy[s] = m.energy(states[s].data(), nullptr);
    const std::vector<std::vector<int64_t>> starts = states;
    bool done = false;
#ifdef KELP_WITH_CUDA
    done = round_on_device(en, states);
#endif
    if (!done) round_on_host(en, states);
    for (uint32_t s = 0; s < batch; ++s) {
        int64_t energy = m.energy(states[s].data(), nullptr);
        if (energy > start_energy[s]) {
            // Replicas may end above their start: the start stands.
            states[s] = starts[s];
            energy = start_energy[s];
        }
        uint64_t* bits = out_bits + s * words;
        std::fill(bits, bits + words, 0);
        for (uint32_t i = 0; i < nbin; ++i) bits[i >> 6] |= uint64_t(states[s][i] & 1) << (i & 63);
        std::copy(states[s].begin() + nbin, states[s].end(), out_ints + s * nint);
        out_energies[s] = energy;
        out_improved[s] = (energy < start_energy[s] || (hinted && s == 0)) ? 1 : 0;
    }
    return 0;
}

DALO_PLUGIN_EXPORT void dalo_kelp_int_hint(void* e, const uint64_t* bits,
                                           const int64_t* int_values) {
    Engine& en = *engine(e);
    const Model& m = *en.model;
    std::vector<int64_t> v(m.size());
    for (uint32_t i = 0; i < m.nbin(); ++i)
        v[i] = static_cast<int64_t>((bits[i >> 6] >> (i & 63)) & 1);
    for (uint64_t k = 0; k < m.nint(); ++k)
        v[m.nbin() + k] = std::clamp(int_values[k], m.lo(m.nbin() + k), m.hi(m.nbin() + k));
    std::lock_guard<std::mutex> lock(en.hint_mutex);
    en.hint = std::move(v);
    en.hint_pending = true;
}

DALO_PLUGIN_EXPORT void dalo_kelp_int_destroy(void* e) { delete engine(e); }

}  // extern "C"

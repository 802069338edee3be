#include <cuda_runtime.h>

#include <chrono>
#include <thread>

#include "gpu.hpp"

namespace kelp::gpu {

namespace {

// Kernel bodies run on the device, one replica per thread, and on the host, replica after
// replica, where the device is only emulated.
#define KELP_HD __host__ __device__

KELP_HD uint64_t next(uint64_t& s) {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1Dull;
}

KELP_HD double unit(uint64_t& s) { return static_cast<double>(next(s) >> 11) * 0x1p-53; }

// Energies wrap like the host's 64-bit arithmetic.
KELP_HD int64_t dadd(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
KELP_HD int64_t dsub(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
KELP_HD int64_t dmul(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

KELP_HD uint64_t mulhi(uint64_t a, uint64_t b) {
#ifdef __CUDA_ARCH__
    return __umul64hi(a, b);
#else
    return static_cast<uint64_t>((static_cast<unsigned __int128>(a) * b) >> 64);
#endif
}

// Replica r of the quadratic annealing; variable i of replica r sits at i * replicas + r so
// that the threads of a warp read neighbouring words.
KELP_HD void anneal_replica(uint32_t n, const uint64_t* off, const uint32_t* var,
                            const int64_t* coeff, const int64_t* lin, uint32_t replicas,
                            uint32_t sweeps, double hot, double cold, uint64_t seed,
                            const uint8_t* start, uint32_t hinted, const volatile uint8_t* halt,
                            uint8_t* x, int64_t* field, int64_t* energy, uint32_t* done,
                            uint32_t r) {
    uint64_t s = seed ^ (0x9E3779B97F4A7C15ull * (r + 1));
    if (s == 0) s = 1;
    const bool from_start = r < hinted;
    for (uint32_t i = 0; i < n; ++i)
        x[uint64_t{i} * replicas + r] = from_start ? start[i] : static_cast<uint8_t>(next(s) & 1);
    for (uint32_t i = 0; i < n; ++i) {
        int64_t f = lin[i];
        for (uint64_t k = off[i]; k < off[i + 1]; ++k)
            f = dadd(f, dmul(coeff[k], x[uint64_t{var[k]} * replicas + r]));
        field[uint64_t{i} * replicas + r] = f;
    }
    // Hinted replicas anneal from the middle of the schedule; the last quarter stops warm,
    // at temperatures spread over the middle of the schedule, so that the states listed
    // include more than the local minima.
    const double t0 = from_start ? 0.5 : 0.0;
    const double t1 = r >= replicas - replicas / 4
                          ? 0.2 + 0.6 * static_cast<double>(replicas - 1 - r) / (replicas / 4)
                          : 1.0;
    uint32_t sweep = 0;
    for (; sweep < sweeps; ++sweep) {
        // A raised halt flag ends the schedule early; the state stays consistent.
        if (halt != nullptr && *halt != 0) break;
        const double t = sweeps > 1 ? static_cast<double>(sweep) / (sweeps - 1) : 1.0;
        const double beta = hot * pow(cold / hot, t0 + (t1 - t0) * t);
        for (uint32_t i = 0; i < n; ++i) {
            const uint64_t at = uint64_t{i} * replicas + r;
            const int64_t step = 1 - 2 * static_cast<int64_t>(x[at]);
            const int64_t d = dmul(step, field[at]);
            if (d > 0 && unit(s) >= exp(-beta * static_cast<double>(d))) continue;
            x[at] = static_cast<uint8_t>(x[at] + step);
            for (uint64_t k = off[i]; k < off[i + 1]; ++k) {
                const uint64_t to = uint64_t{var[k]} * replicas + r;
                field[to] = dadd(field[to], dmul(coeff[k], step));
            }
        }
    }
    // x_i (lin_i + field_i) counts the linear part twice and every pair twice.
    int64_t twice = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t at = uint64_t{i} * replicas + r;
        if (x[at]) twice = dadd(twice, dadd(lin[i], field[at]));
    }
    energy[r] = twice / 2;
    done[r] = sweep;
}

__global__ void anneal_kernel(uint32_t n, const uint64_t* off, const uint32_t* var,
                              const int64_t* coeff, const int64_t* lin, uint32_t replicas,
                              uint32_t sweeps, double hot, double cold, uint64_t seed,
                              const uint8_t* start, uint32_t hinted, const volatile uint8_t* halt,
                              uint8_t* x, int64_t* field, int64_t* energy, uint32_t* done) {
    const uint32_t r = blockIdx.x * blockDim.x + threadIdx.x;
    if (r < replicas)
        anneal_replica(n, off, var, coeff, lin, replicas, sweeps, hot, cold, seed, start, hinted,
                       halt, x, field, energy, done, r);
}

template <class T>
T* upload(const std::vector<T>& v, bool& ok) {
    T* d = nullptr;
    const size_t bytes = (v.empty() ? 1 : v.size()) * sizeof(T);
    if (cudaMalloc(&d, bytes) != cudaSuccess) {
        ok = false;
        return nullptr;
    }
    if (!v.empty() &&
        cudaMemcpy(d, v.data(), v.size() * sizeof(T), cudaMemcpyHostToDevice) != cudaSuccess)
        ok = false;
    return d;
}

// ---- the integer engine ----

// Device pointers of a Flat Model.
struct IntView {
    uint64_t n = 0, nterms = 0, ncons = 0;
    uint32_t nbin = 0;
    int64_t constant = 0;
    const int64_t *lo = nullptr, *hi = nullptr, *coeff = nullptr;
    const uint64_t* begin = nullptr;
    const int32_t* owner = nullptr;
    const uint32_t* lits = nullptr;
    const uint64_t *occ_off = nullptr, *occ = nullptr;
    const int64_t *weight = nullptr, *lower = nullptr, *upper = nullptr, *body_constant = nullptr;
    const uint32_t* exponent = nullptr;
    const uint64_t* set_off = nullptr;
    const int64_t *set_lo = nullptr, *set_hi = nullptr;
};

KELP_HD int64_t penalty(const IntView& m, uint64_t c, int64_t body) {
    int64_t d = 0;
    if (m.set_off[c] == m.set_off[c + 1]) {
        if (body < m.lower[c]) d = dsub(m.lower[c], body);
        if (body > m.upper[c]) d = dsub(body, m.upper[c]);
    } else {
        for (uint64_t i = m.set_off[c]; i < m.set_off[c + 1]; ++i) {
            if (body >= m.set_lo[i] && body <= m.set_hi[i]) {
                d = 0;
                break;
            }
            const int64_t di =
                body < m.set_lo[i] ? dsub(m.set_lo[i], body) : dsub(body, m.set_hi[i]);
            if (i == m.set_off[c] || di < d) d = di;
        }
    }
    return m.exponent[c] == 1 ? dmul(m.weight[c], d) : dmul(dmul(m.weight[c], d), d);
}

// Term t's value with position p read as `at` (p = n: no substitution).
KELP_HD int64_t term_value(const IntView& m, uint64_t t, const int64_t* v, uint32_t R, uint32_t r,
                           uint64_t p, int64_t at) {
    int64_t prod = m.coeff[t];
    for (uint64_t k = m.begin[t]; k < m.begin[t + 1] && prod != 0; ++k) {
        const uint32_t w = m.lits[k];
        const uint64_t q = w & 0x7FFFFFFFu;
        const int64_t x = q == p ? at : v[q * R + r];
        prod = dmul(prod, (w & 0x80000000u) ? 1 - x : x);
    }
    return prod;
}

// Energy change of position p going to `to`; with apply set, the bodies take the change.
KELP_HD int64_t change(const IntView& m, const int64_t* v, int64_t* body, uint32_t R, uint32_t r,
                       uint64_t p, int64_t to, bool apply) {
    const int64_t from = v[p * R + r];
    int64_t d = 0, cur_change = 0;
    int32_t cur = -1;
    for (uint64_t k = m.occ_off[p];; ++k) {
        const bool end = k == m.occ_off[p + 1];
        const uint64_t t = end ? 0 : m.occ[k];
        const int32_t owner = end ? -2 : m.owner[t];
        if (owner != cur && cur >= 0) {
            // Constraint terms are contiguous: the previous constraint is complete.
            int64_t& b = body[uint64_t(cur) * R + r];
            d = dadd(d, dsub(penalty(m, uint64_t(cur), dadd(b, cur_change)),
                             penalty(m, uint64_t(cur), b)));
            if (apply) b = dadd(b, cur_change);
            cur_change = 0;
            cur = -1;
        }
        if (end) break;
        const int64_t diff =
            dsub(term_value(m, t, v, R, r, p, to), term_value(m, t, v, R, r, p, from));
        if (owner < 0) {
            d = dadd(d, diff);
        } else {
            cur = owner;
            cur_change = dadd(cur_change, diff);
        }
    }
    return d;
}

KELP_HD int64_t random_value(const IntView& m, uint64_t p, uint64_t& s) {
    const uint64_t span = static_cast<uint64_t>(m.hi[p]) - static_cast<uint64_t>(m.lo[p]);
    const uint64_t x = next(s);
    const uint64_t k = span == ~0ull ? x : mulhi(x, span + 1);
    return static_cast<int64_t>(static_cast<uint64_t>(m.lo[p]) + k);
}

KELP_HD int64_t propose(const IntView& m, uint64_t p, int64_t now, uint64_t& s) {
    const int64_t lo = m.lo[p], hi = m.hi[p];
    if (lo == hi) return now;
    if (p < m.nbin) return 1 - now;
    const uint64_t x = next(s);
    if ((x & 7) == 0) return random_value(m, p, s);
    if (now <= lo) return lo + 1;
    if (now >= hi) return hi - 1;
    return (x & 8) ? now + 1 : now - 1;
}

KELP_HD void int_replica(const IntView& m, uint32_t R, uint32_t batch, const int64_t* starts,
                         uint32_t sweeps, double hot, double cold, uint64_t seed, int64_t* v,
                         int64_t* body, int64_t* energy, uint32_t r) {
    const uint32_t slot = r % batch, j = r / batch;
    const uint32_t per = (R - slot + batch - 1) / batch;
    uint64_t s = seed ^ (0x9E3779B97F4A7C15ull * (r + 1));
    if (s == 0) s = 1;
    for (uint64_t p = 0; p < m.n; ++p) v[p * R + r] = starts[slot * m.n + p];
    for (uint64_t c = 0; c < m.ncons; ++c) body[c * R + r] = m.body_constant[c];
    int64_t e = m.constant;
    for (uint64_t t = 0; t < m.nterms; ++t) {
        const int64_t val = term_value(m, t, v, R, r, m.n, 0);
        if (m.owner[t] < 0) {
            e = dadd(e, val);
        } else {
            int64_t& b = body[uint64_t(m.owner[t]) * R + r];
            b = dadd(b, val);
        }
    }
    for (uint64_t c = 0; c < m.ncons; ++c) e = dadd(e, penalty(m, c, body[c * R + r]));
    // The replicas of one start spread from cold (the first) to hot starts.
    const double t0 = per > 1 ? 1.0 - 0.8 * static_cast<double>(j) / (per - 1) : 1.0;
    for (uint32_t sweep = 0; sweep < sweeps && m.n > 0; ++sweep) {
        const double t = sweeps > 1 ? static_cast<double>(sweep) / (sweeps - 1) : 1.0;
        const double beta = hot * pow(cold / hot, t0 + (1.0 - t0) * t);
        for (uint64_t k = 0; k < m.n; ++k) {
            const uint64_t p = mulhi(next(s), m.n);
            const int64_t now = v[p * R + r];
            const int64_t to = propose(m, p, now, s);
            if (to == now) continue;
            const int64_t d = change(m, v, body, R, r, p, to, false);
            if (d > 0 && unit(s) >= exp(-beta * static_cast<double>(d))) continue;
            change(m, v, body, R, r, p, to, true);
            v[p * R + r] = to;
            e = dadd(e, d);
        }
    }
    // A descent pass: each position's better neighbour value, if any.
    for (uint64_t p = 0; p < m.n; ++p) {
        const int64_t now = v[p * R + r];
        if (m.lo[p] == m.hi[p]) continue;
        int64_t best_to = now, best_d = 0;
        // Neighbour values, without stepping past a bound.
        const int64_t options[2] = {p < m.nbin ? 1 - now : (now < m.hi[p] ? now + 1 : now),
                                    p < m.nbin ? 1 - now : (now > m.lo[p] ? now - 1 : now)};
        for (int o = 0; o < (p < m.nbin ? 1 : 2); ++o) {
            const int64_t to = options[o];
            if (to == now) continue;
            const int64_t d = change(m, v, body, R, r, p, to, false);
            if (d < best_d) {
                best_d = d;
                best_to = to;
            }
        }
        if (best_to == now) continue;
        change(m, v, body, R, r, p, best_to, true);
        v[p * R + r] = best_to;
        e = dadd(e, best_d);
    }
    energy[r] = e;
}

__global__ void int_kernel(IntView m, uint32_t R, uint32_t batch, const int64_t* starts,
                           uint32_t sweeps, double hot, double cold, uint64_t seed, int64_t* v,
                           int64_t* body, int64_t* energy) {
    const uint32_t r = blockIdx.x * blockDim.x + threadIdx.x;
    if (r < R) int_replica(m, R, batch, starts, sweeps, hot, cold, seed, v, body, energy, r);
}

// The view of a Flat Model in host memory.
IntView host_view(const Flat& f) {
    IntView m;
    m.n = f.lo.size();
    m.nterms = f.coeff.size();
    m.ncons = f.weight.size();
    m.nbin = f.nbin;
    m.constant = f.constant;
    m.lo = f.lo.data();
    m.hi = f.hi.data();
    m.coeff = f.coeff.data();
    m.begin = f.begin.data();
    m.owner = f.owner.data();
    m.lits = f.lits.data();
    m.occ_off = f.occ_off.data();
    m.occ = f.occ.data();
    m.weight = f.weight.data();
    m.lower = f.lower.data();
    m.upper = f.upper.data();
    m.body_constant = f.body_constant.data();
    m.exponent = f.exponent.data();
    m.set_off = f.set_off.data();
    m.set_lo = f.set_lo.data();
    m.set_hi = f.set_hi.data();
    return m;
}

// Per start the replica with the lowest energy.
std::vector<uint32_t> choose(const std::vector<int64_t>& energies, uint32_t R, uint32_t batch,
                             int64_t* out_energies) {
    std::vector<uint32_t> chosen(batch);
    for (uint32_t slot = 0; slot < batch; ++slot) {
        chosen[slot] = slot;
        for (uint32_t r = slot; r < R; r += batch) {
            if (energies[r] < energies[chosen[slot]]) chosen[slot] = r;
        }
        out_energies[slot] = energies[chosen[slot]];
    }
    return chosen;
}

__global__ void gather_kernel(const int64_t* v, uint64_t n, uint32_t R, const uint32_t* chosen,
                              uint32_t batch, int64_t* out) {
    const uint64_t i = uint64_t{blockIdx.x} * blockDim.x + threadIdx.x;
    if (i >= n * batch) return;
    const uint64_t slot = i / n, p = i % n;
    out[i] = v[p * R + chosen[slot]];
}

}  // namespace

int device_count() {
    int count = 0;
    if (cudaGetDeviceCount(&count) != cudaSuccess) {
        cudaGetLastError();
        return 0;
    }
    return count;
}

bool anneal(int device, const Quadratic& q, uint32_t replicas, uint32_t sweeps, double hot,
            double cold, uint64_t seed, const std::vector<uint8_t>& start, uint32_t hinted,
            const std::function<bool()>& halt_now, std::vector<uint8_t>& states,
            std::vector<int64_t>& energies, uint64_t& sweeps_done) {
    if (cudaSetDevice(device) != cudaSuccess) return false;
    bool ok = true;
    if (start.size() < q.n) hinted = 0;
    uint64_t* off = upload(q.adj_off, ok);
    uint32_t* var = upload(q.adj_var, ok);
    int64_t* coeff = upload(q.adj_coeff, ok);
    int64_t* lin = upload(q.lin, ok);
    uint8_t* first = upload(start, ok);
    const uint64_t cells = uint64_t{q.n} * replicas;
    uint8_t* x = nullptr;
    int64_t* field = nullptr;
    int64_t* energy = nullptr;
    ok = ok && cudaMalloc(&x, cells + 1) == cudaSuccess;
    ok = ok && cudaMalloc(&field, (cells + 1) * sizeof(int64_t)) == cudaSuccess;
    ok = ok && cudaMalloc(&energy, (replicas + 1) * sizeof(int64_t)) == cudaSuccess;
    uint32_t* done = nullptr;
    ok = ok && cudaMalloc(&done, (replicas + 1) * sizeof(uint32_t)) == cudaSuccess;
    // The halt flag lives in mapped host memory: the host raises it while the kernel runs.
    uint8_t* halt = nullptr;
    uint8_t* halt_device = nullptr;
    if (cudaHostAlloc(&halt, 1, cudaHostAllocMapped) == cudaSuccess) {
        *halt = 0;
        if (cudaHostGetDevicePointer(&halt_device, halt, 0) != cudaSuccess) halt_device = nullptr;
    } else {
        cudaGetLastError();
        halt = nullptr;
    }
    if (ok) {
        const uint32_t block = 128;
        anneal_kernel<<<(replicas + block - 1) / block, block>>>(
            q.n, off, var, coeff, lin, replicas, sweeps, hot, cold, seed, first, hinted,
            halt_device, x, field, energy, done);
        cudaError_t state = cudaGetLastError();
        while (state == cudaSuccess && (state = cudaStreamQuery(0)) == cudaErrorNotReady) {
            if (halt_device != nullptr && *reinterpret_cast<volatile uint8_t*>(halt) == 0 &&
                halt_now())
                *reinterpret_cast<volatile uint8_t*>(halt) = 1;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ok = state == cudaSuccess;
    }
    if (halt != nullptr) cudaFreeHost(halt);
    std::vector<uint8_t> grid(cells);
    if (ok && cells > 0)
        ok = cudaMemcpy(grid.data(), x, cells, cudaMemcpyDeviceToHost) == cudaSuccess;
    energies.assign(replicas, 0);
    if (ok)
        ok = cudaMemcpy(energies.data(), energy, replicas * sizeof(int64_t),
                        cudaMemcpyDeviceToHost) == cudaSuccess;
    std::vector<uint32_t> sweeps_of(replicas);
    if (ok)
        ok = cudaMemcpy(sweeps_of.data(), done, replicas * sizeof(uint32_t),
                        cudaMemcpyDeviceToHost) == cudaSuccess;
    sweeps_done = 0;
    for (const uint32_t k : sweeps_of) sweeps_done += k;
    for (void* p :
         {static_cast<void*>(off), static_cast<void*>(var), static_cast<void*>(coeff),
          static_cast<void*>(lin), static_cast<void*>(first), static_cast<void*>(x),
          static_cast<void*>(field), static_cast<void*>(energy), static_cast<void*>(done)})
        cudaFree(p);
    if (!ok) {
        cudaGetLastError();
        return false;
    }
    states.assign(cells, 0);
    for (uint32_t r = 0; r < replicas; ++r) {
        for (uint32_t i = 0; i < q.n; ++i)
            states[uint64_t{r} * q.n + i] = grid[uint64_t{i} * replicas + r];
    }
    return true;
}

class IntDevice {
  public:
    int device = 0;
    uint32_t replicas = 0;
    IntView view;
    std::vector<void*> owned;
    int64_t* v = nullptr;
    int64_t* body = nullptr;
    int64_t* energy = nullptr;
    int64_t* starts = nullptr;
    int64_t* out = nullptr;
    uint32_t* chosen = nullptr;
    uint32_t capacity = 0;  // batch size the start and output buffers hold
    bool ok = true;

    template <class T>
    const T* put(const std::vector<T>& host) {
        T* d = upload(host, ok);
        owned.push_back(d);
        return d;
    }
    template <class T>
    T* alloc(uint64_t count) {
        T* d = nullptr;
        if (cudaMalloc(&d, (count == 0 ? 1 : count) * sizeof(T)) != cudaSuccess) {
            ok = false;
            return nullptr;
        }
        owned.push_back(d);
        return d;
    }
    ~IntDevice() {
        for (void* p : owned) cudaFree(p);
    }
};

IntDevice* int_device_create(int device, const Flat& f, uint32_t replicas) {
    if (replicas == 0 || cudaSetDevice(device) != cudaSuccess) return nullptr;
    auto* d = new IntDevice();
    d->device = device;
    d->replicas = replicas;
    IntView& m = d->view;
    m.n = f.lo.size();
    m.nterms = f.coeff.size();
    m.ncons = f.weight.size();
    m.nbin = f.nbin;
    m.constant = f.constant;
    m.lo = d->put(f.lo);
    m.hi = d->put(f.hi);
    m.coeff = d->put(f.coeff);
    m.begin = d->put(f.begin);
    m.owner = d->put(f.owner);
    m.lits = d->put(f.lits);
    m.occ_off = d->put(f.occ_off);
    m.occ = d->put(f.occ);
    m.weight = d->put(f.weight);
    m.lower = d->put(f.lower);
    m.upper = d->put(f.upper);
    m.body_constant = d->put(f.body_constant);
    m.exponent = d->put(f.exponent);
    m.set_off = d->put(f.set_off);
    m.set_lo = d->put(f.set_lo);
    m.set_hi = d->put(f.set_hi);
    d->v = d->alloc<int64_t>(m.n * replicas);
    d->body = d->alloc<int64_t>(m.ncons * replicas);
    d->energy = d->alloc<int64_t>(replicas);
    if (!d->ok) {
        cudaGetLastError();
        delete d;
        return nullptr;
    }
    return d;
}

void int_device_destroy(IntDevice* d) { delete d; }

bool int_device_round(IntDevice* d, const int64_t* starts, uint32_t batch, uint32_t sweeps,
                      double hot, double cold, uint64_t seed, int64_t* out_values,
                      int64_t* out_energies) {
    if (d == nullptr || batch == 0 || cudaSetDevice(d->device) != cudaSuccess) return false;
    const uint64_t n = d->view.n;
    const uint32_t R = d->replicas < batch ? batch : d->replicas;
    if (R > d->replicas) return false;
    if (batch > d->capacity) {
        d->starts = d->alloc<int64_t>(batch * n);
        d->out = d->alloc<int64_t>(batch * n);
        d->chosen = d->alloc<uint32_t>(batch);
        d->capacity = batch;
    }
    bool ok = d->ok;
    ok = ok && cudaMemcpy(d->starts, starts, batch * n * sizeof(int64_t), cudaMemcpyHostToDevice) ==
                   cudaSuccess;
    if (ok) {
        const uint32_t block = 128;
        int_kernel<<<(R + block - 1) / block, block>>>(d->view, R, batch, d->starts, sweeps, hot,
                                                       cold, seed, d->v, d->body, d->energy);
        ok = cudaDeviceSynchronize() == cudaSuccess;
    }
    std::vector<int64_t> energies(R);
    ok = ok && cudaMemcpy(energies.data(), d->energy, R * sizeof(int64_t),
                          cudaMemcpyDeviceToHost) == cudaSuccess;
    std::vector<uint32_t> chosen;
    if (ok) {
        chosen = choose(energies, R, batch, out_energies);
        ok = cudaMemcpy(d->chosen, chosen.data(), batch * sizeof(uint32_t),
                        cudaMemcpyHostToDevice) == cudaSuccess;
    }
    if (ok && n > 0) {
        const uint64_t cells = n * batch;
        gather_kernel<<<static_cast<uint32_t>((cells + 255) / 256), 256>>>(d->v, n, R, d->chosen,
                                                                           batch, d->out);
        ok = cudaDeviceSynchronize() == cudaSuccess &&
             cudaMemcpy(out_values, d->out, cells * sizeof(int64_t), cudaMemcpyDeviceToHost) ==
                 cudaSuccess;
    }
    if (!ok) cudaGetLastError();
    return ok;
}

void anneal_host(const Quadratic& q, uint32_t replicas, uint32_t sweeps, double hot, double cold,
                 uint64_t seed, const std::vector<uint8_t>& start, uint32_t hinted,
                 const std::function<bool()>& halt_now, std::vector<uint8_t>& states,
                 std::vector<int64_t>& energies, uint64_t& sweeps_done) {
    if (start.size() < q.n) hinted = 0;
    const uint64_t cells = uint64_t{q.n} * replicas;
    std::vector<uint8_t> grid(cells);
    std::vector<int64_t> field(cells);
    energies.assign(replicas, 0);
    std::vector<uint32_t> done(replicas);
    uint8_t halt = 0;
    for (uint32_t r = 0; r < replicas; ++r) {
        if (halt == 0 && halt_now()) halt = 1;
        anneal_replica(q.n, q.adj_off.data(), q.adj_var.data(), q.adj_coeff.data(), q.lin.data(),
                       replicas, sweeps, hot, cold, seed, start.data(), hinted, &halt, grid.data(),
                       field.data(), energies.data(), done.data(), r);
    }
    sweeps_done = 0;
    for (const uint32_t k : done) sweeps_done += k;
    states.assign(cells, 0);
    for (uint32_t r = 0; r < replicas; ++r) {
        for (uint32_t i = 0; i < q.n; ++i)
            states[uint64_t{r} * q.n + i] = grid[uint64_t{i} * replicas + r];
    }
}

void int_host_round(const Flat& f, uint32_t replicas, const int64_t* starts, uint32_t batch,
                    uint32_t sweeps, double hot, double cold, uint64_t seed, int64_t* out_values,
                    int64_t* out_energies) {
    const IntView m = host_view(f);
    const uint32_t R = replicas < batch ? batch : replicas;
    std::vector<int64_t> v(m.n * R), body(m.ncons * R), energies(R);
    for (uint32_t r = 0; r < R; ++r)
        int_replica(m, R, batch, starts, sweeps, hot, cold, seed, v.data(), body.data(),
                    energies.data(), r);
    const std::vector<uint32_t> chosen = choose(energies, R, batch, out_energies);
    for (uint32_t slot = 0; slot < batch; ++slot) {
        for (uint64_t p = 0; p < m.n; ++p) out_values[slot * m.n + p] = v[p * R + chosen[slot]];
    }
}

}  // namespace kelp::gpu

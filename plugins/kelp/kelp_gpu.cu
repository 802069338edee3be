#include <cuda_runtime.h>

#include "kelp_gpu.hpp"

namespace kelp::gpu {

namespace {

__device__ uint64_t next(uint64_t& s) {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1Dull;
}

// One replica per thread; variable i of replica r sits at i * replicas + r so that the
// threads of a warp read neighbouring words.
__global__ void anneal_kernel(uint32_t n, const uint64_t* off, const uint32_t* var,
                              const int64_t* coeff, const int64_t* lin, uint32_t replicas,
                              uint32_t sweeps, double hot, double cold, uint64_t seed, uint8_t* x,
                              int64_t* field, int64_t* energy) {
    const uint32_t r = blockIdx.x * blockDim.x + threadIdx.x;
    if (r >= replicas) return;
    uint64_t s = seed ^ (0x9E3779B97F4A7C15ull * (r + 1));
    if (s == 0) s = 1;
    for (uint32_t i = 0; i < n; ++i) x[uint64_t{i} * replicas + r] = next(s) & 1;
    for (uint32_t i = 0; i < n; ++i) {
        int64_t f = lin[i];
        for (uint64_t k = off[i]; k < off[i + 1]; ++k)
            f += coeff[k] * x[uint64_t{var[k]} * replicas + r];
        field[uint64_t{i} * replicas + r] = f;
    }
    for (uint32_t sweep = 0; sweep < sweeps; ++sweep) {
        const double t = sweeps > 1 ? static_cast<double>(sweep) / (sweeps - 1) : 1.0;
        const double beta = hot * pow(cold / hot, t);
        for (uint32_t i = 0; i < n; ++i) {
            const uint64_t at = uint64_t{i} * replicas + r;
            const int64_t step = 1 - 2 * static_cast<int64_t>(x[at]);
            const int64_t d = step * field[at];
            if (d > 0) {
                const double u = static_cast<double>(next(s) >> 11) * 0x1p-53;
                if (u >= exp(-beta * static_cast<double>(d))) continue;
            }
            x[at] = static_cast<uint8_t>(x[at] + step);
            for (uint64_t k = off[i]; k < off[i + 1]; ++k)
                field[uint64_t{var[k]} * replicas + r] += coeff[k] * step;
        }
    }
    // x_i (lin_i + field_i) counts the linear part twice and every pair twice.
    int64_t twice = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t at = uint64_t{i} * replicas + r;
        if (x[at]) twice += lin[i] + field[at];
    }
    energy[r] = twice / 2;
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
            double cold, uint64_t seed, std::vector<uint8_t>& states,
            std::vector<int64_t>& energies) {
    if (cudaSetDevice(device) != cudaSuccess) return false;
    bool ok = true;
    uint64_t* off = upload(q.adj_off, ok);
    uint32_t* var = upload(q.adj_var, ok);
    int64_t* coeff = upload(q.adj_coeff, ok);
    int64_t* lin = upload(q.lin, ok);
    const uint64_t cells = uint64_t{q.n} * replicas;
    uint8_t* x = nullptr;
    int64_t* field = nullptr;
    int64_t* energy = nullptr;
    ok = ok && cudaMalloc(&x, cells + 1) == cudaSuccess;
    ok = ok && cudaMalloc(&field, (cells + 1) * sizeof(int64_t)) == cudaSuccess;
    ok = ok && cudaMalloc(&energy, (replicas + 1) * sizeof(int64_t)) == cudaSuccess;
    if (ok) {
        const uint32_t block = 128;
        anneal_kernel<<<(replicas + block - 1) / block, block>>>(
            q.n, off, var, coeff, lin, replicas, sweeps, hot, cold, seed, x, field, energy);
        ok = cudaDeviceSynchronize() == cudaSuccess;
    }
    std::vector<uint8_t> grid(cells);
    if (ok && cells > 0)
        ok = cudaMemcpy(grid.data(), x, cells, cudaMemcpyDeviceToHost) == cudaSuccess;
    energies.assign(replicas, 0);
    if (ok)
        ok = cudaMemcpy(energies.data(), energy, replicas * sizeof(int64_t),
                        cudaMemcpyDeviceToHost) == cudaSuccess;
    for (void* p : {static_cast<void*>(off), static_cast<void*>(var), static_cast<void*>(coeff),
                    static_cast<void*>(lin), static_cast<void*>(x), static_cast<void*>(field),
                    static_cast<void*>(energy)})
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

}  // namespace kelp::gpu

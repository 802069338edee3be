// The GPU side of the KELP plug-in: independent annealing replicas of a quadratic binary
// Model, one CUDA thread each, with every replica's fields kept in device memory. Built only
// where nvcc is found; elsewhere device_count() is 0 and the GPU solver runs the CPU search.
#pragma once

#include <cstdint>
#include <vector>

namespace kelp::gpu {

// Devices the CUDA runtime sees; 0 without a driver or a device.
int device_count();

struct Quadratic {
    uint32_t n = 0;
    std::vector<uint64_t> adj_off;  // n + 1 entries
    std::vector<uint32_t> adj_var;
    std::vector<int64_t> adj_coeff;
    std::vector<int64_t> lin;
};

// Anneals `replicas` random states for `sweeps` sweeps, beta rising geometrically from hot
// to cold, and writes the final states (replica after replica, one byte per variable) and
// their energies without the Model's constant (sum lin x + sum of the pairs), which rank the
// states; whatever is reported is recomputed on the host. False when the device cannot run
// it.
bool anneal(int device, const Quadratic& q, uint32_t replicas, uint32_t sweeps, double hot,
            double cold, uint64_t seed, std::vector<uint8_t>& states,
            std::vector<int64_t>& energies);

}  // namespace kelp::gpu

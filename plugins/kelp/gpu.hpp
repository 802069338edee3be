// The GPU side of the KELP plug-in: independent annealing replicas, one CUDA thread each,
// with every replica's state kept in device memory. Built only where nvcc is found (except
// emulated_count); the host twins run the same kernel code replica after replica, for
// machines where the device is only emulated.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "model.hpp"

namespace kelp::gpu {

// Devices the CUDA runtime sees; 0 without a driver or a device.
int device_count();

// Devices the plug-in pretends to have when the runtime sees none: the value of
// KELP_EMULATED_DEVICES (read at every call), so that machines without a device exercise the
// GPU entry points, whose device work then runs on the host.
int emulated_count();

struct Quadratic {
    uint32_t n = 0;
    std::vector<uint64_t> adj_off;  // n + 1 entries
    std::vector<uint32_t> adj_var;
    std::vector<int64_t> adj_coeff;
    std::vector<int64_t> lin;
};

// Anneals `replicas` states for `sweeps` sweeps, beta rising geometrically from hot to cold,
// and writes the final states (replica after replica, one byte per variable) and their
// energies without the Model's constant (sum lin x + sum of the pairs), which rank the
// states; whatever is reported is recomputed on the host. The first `hinted` replicas start
// at `start` (n bytes) and anneal from the middle of the schedule, the others at random
// states; the last quarter stops at warm temperatures. While the kernel runs, halt_now is
// polled; once it returns true the replicas end their schedules at the next sweep.
// sweeps_done: the sweeps all replicas made. False when the device cannot run it.
bool anneal(int device, const Quadratic& q, uint32_t replicas, uint32_t sweeps, double hot,
            double cold, uint64_t seed, const std::vector<uint8_t>& start, uint32_t hinted,
            const std::function<bool()>& halt_now, std::vector<uint8_t>& states,
            std::vector<int64_t>& energies, uint64_t& sweeps_done);

// The same on the host.
void anneal_host(const Quadratic& q, uint32_t replicas, uint32_t sweeps, double hot, double cold,
                 uint64_t seed, const std::vector<uint8_t>& start, uint32_t hinted,
                 const std::function<bool()>& halt_now, std::vector<uint8_t>& states,
                 std::vector<int64_t>& energies, uint64_t& sweeps_done);

// The integer engine's device part: the flat Model and `replicas` states in device memory.
// Each round starts replica r at start state r mod batch, anneals it for `sweeps` sweeps of
// random single-position moves (beta rising to cold; the first replica of each start is
// cold from the outset) with incremental energy changes, ends with a descent pass, and
// returns per start the values and the device energy of its best replica.
class IntDevice;
IntDevice* int_device_create(int device, const Flat& f, uint32_t replicas);
void int_device_destroy(IntDevice* d);
// starts and out_values: batch states of f.lo.size() values each. False on a CUDA error.
bool int_device_round(IntDevice* d, const int64_t* starts, uint32_t batch, uint32_t sweeps,
                      double hot, double cold, uint64_t seed, int64_t* out_values,
                      int64_t* out_energies);
// The same on the host, with the Model in host memory.
void int_host_round(const Flat& f, uint32_t replicas, const int64_t* starts, uint32_t batch,
                    uint32_t sweeps, double hot, double cold, uint64_t seed, int64_t* out_values,
                    int64_t* out_energies);

}  // namespace kelp::gpu

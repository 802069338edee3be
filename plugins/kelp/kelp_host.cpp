// Host twins of the device kernels, and the emulated device count.
#include <cmath>
#include <cstdlib>

#include "kelp_gpu.hpp"
#include "kelp_rng.hpp"

namespace kelp::gpu {

int emulated_count() {
    const char* v = std::getenv("KELP_EMULATED_DEVICES");
    if (v == nullptr) return 0;
    const long n = std::strtol(v, nullptr, 10);
    return n > 0 && n < 1024 ? static_cast<int>(n) : 0;
}

void anneal_host(const Quadratic& q, uint32_t replicas, uint32_t sweeps, double hot, double cold,
                 uint64_t seed, const std::vector<uint8_t>& start, uint32_t hinted,
                 std::vector<uint8_t>& states, std::vector<int64_t>& energies) {
    if (start.size() < q.n) hinted = 0;
    states.assign(uint64_t{q.n} * replicas, 0);
    energies.assign(replicas, 0);
    std::vector<int64_t> field(q.n);
    for (uint32_t r = 0; r < replicas; ++r) {
        Rng rng(seed ^ (0x9E3779B97F4A7C15ull * (r + 1)));
        uint8_t* x = states.data() + uint64_t{r} * q.n;
        const bool from_start = r < hinted;
        for (uint32_t i = 0; i < q.n; ++i) x[i] = from_start ? start[i] : rng() & 1;
        for (uint32_t i = 0; i < q.n; ++i) {
            int64_t f = q.lin[i];
            for (uint64_t k = q.adj_off[i]; k < q.adj_off[i + 1]; ++k)
                f = wadd(f, wmul(q.adj_coeff[k], x[q.adj_var[k]]));
            field[i] = f;
        }
        const double t0 = from_start ? 0.5 : 0.0;
        const double t1 = r >= replicas - replicas / 4
                              ? 0.3 + 0.5 * static_cast<double>(replicas - 1 - r) / (replicas / 4)
                              : 1.0;
        for (uint32_t sweep = 0; sweep < sweeps; ++sweep) {
            const double t = sweeps > 1 ? static_cast<double>(sweep) / (sweeps - 1) : 1.0;
            const double beta = hot * std::pow(cold / hot, t0 + (t1 - t0) * t);
            for (uint32_t i = 0; i < q.n; ++i) {
                const int64_t step = 1 - 2 * static_cast<int64_t>(x[i]);
                const int64_t d = wmul(step, field[i]);
                if (d > 0 && rng.unit() >= std::exp(-beta * static_cast<double>(d))) continue;
                x[i] = static_cast<uint8_t>(x[i] + step);
                for (uint64_t k = q.adj_off[i]; k < q.adj_off[i + 1]; ++k)
                    field[q.adj_var[k]] = wadd(field[q.adj_var[k]], wmul(q.adj_coeff[k], step));
            }
        }
        int64_t twice = 0;
        for (uint32_t i = 0; i < q.n; ++i) {
            if (x[i]) twice = wadd(twice, wadd(q.lin[i], field[i]));
        }
        energies[r] = twice / 2;
    }
}

}  // namespace kelp::gpu

// KELPSolver's parameter parser: misuse throws (fuzzing build), anything else is checked.
#include <cmath>
#include <stdexcept>

#include "fuzz_util.hpp"
#include "search.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const dalo_fuzz::Params p(data, size);
    try {
        const kelp::Options o = kelp::parse_options(p.pairs.data());
        if (std::isnan(o.time_limit)) dalo_fuzz::fault("NaN time limit accepted");
        if (o.threads < 1 || o.threads > 1024) dalo_fuzz::fault("thread count out of range");
        if (o.replicas < 2 || o.replicas > 4096) dalo_fuzz::fault("replica count out of range");
        if (!(o.timer_interval > 0)) dalo_fuzz::fault("timer interval not positive");
        if (o.topk > 0 && o.best_energy_sols)
            dalo_fuzz::fault("topk and best-energy lists both on");
    } catch (const std::logic_error&) {
    }
    return 0;
}

// SweepSolver's parameter parser: misuse throws (fuzzing build), anything else is checked.
#include <cmath>
#include <stdexcept>

#include "fuzz_util.hpp"
#include "search.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const dalo_fuzz::Params p(data, size);
    try {
        const sweep::SearchOptions o = sweep::parse_options(p.pairs.data());
        if (o.threads < 1 || o.threads > 1024) dalo_fuzz::fault("thread count out of range");
        if (!(o.time_limit >= 0) || !std::isfinite(o.time_limit))
            dalo_fuzz::fault("bad time limit");
    } catch (const std::logic_error&) {
    }
    return 0;
}

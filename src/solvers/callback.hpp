// The host callback as the solvers call it; the C interface adapts it to dalo_solver_callback.
#pragma once

#include <cstdint>

namespace dalo {

struct SolImpl;

// (context, a new Sol the host owns, event 0 start / 1 new best / 2 timer); a positive answer
// sets the timer interval in seconds, zero stops the timer, a negative one leaves it as it is.
using SolCallback = double (*)(void* context, SolImpl* sol, uint32_t event);

}  // namespace dalo

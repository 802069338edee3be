// Exact enumeration of every state of a native integer Model along a reflected mixed-radix
// Gray code (SweepSolver's integer path).
#pragma once

#include "model/model.hpp"
#include "solvers/params.hpp"
#include "solvers/result.hpp"

namespace dalo {

// Fatal when the state space exceeds 2^32 states.
void check_enumeration_size(const ModelImpl& m);

// Visits every state; the result's info ends with the system keys.
SolverResult sweep_int_enumerate(const ModelImpl& m, const ParamList& params);

}  // namespace dalo

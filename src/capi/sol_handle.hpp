// The Sol handle: a dalo_sol* points at a SolImpl, whose first member is its Model handle.
#pragma once

#include "capi/handles.hpp"
#include "model/sol.hpp"

namespace dalo {

DALO_DEFINE_HANDLE(dalo_sol, SolImpl)

}  // namespace dalo

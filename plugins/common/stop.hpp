// How a stretch of search ends: run to its end, or cut short by a stop condition (a stop
// request, the time limit, the target reached). Every search of the plug-ins answers so.
#pragma once

namespace plugin_common {

enum class Ended : bool { in_full = false, cut_short = true };

}  // namespace plugin_common

// The emulated device count.
#include <cstdlib>

#include "gpu.hpp"

namespace kelp::gpu {

int emulated_count() {
    const char* v = std::getenv("KELP_EMULATED_DEVICES");
    if (v == nullptr) return 0;
    const long n = std::strtol(v, nullptr, 10);
    return n > 0 && n < 1024 ? static_cast<int>(n) : 0;
}

}  // namespace kelp::gpu

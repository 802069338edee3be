// Resident memory of this process, current and peak, in bytes (Linux).
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace stress {

inline uint64_t rss_now() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return 0;
    unsigned long size = 0, resident = 0;
    const int got = std::fscanf(f, "%lu %lu", &size, &resident);
    std::fclose(f);
    return got == 2 ? resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

inline uint64_t rss_peak() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<uint64_t>(u.ru_maxrss) * 1024;
}

}  // namespace stress

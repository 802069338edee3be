// Blocks of 64 KiB and more wait, once freed by the library, in a small cache and serve the
// next request of about their size: malloc hands such blocks back to the system on free. A
// build repeated in a loop then writes into pages the process already has: a fresh block's
// pages are faulted in and zeroed by the system on first touch, which costs more than
// writing them. The cache is bounded and holds only plain malloc blocks, so whoever ends up
// with one may still free() it. Sanitizer builds skip it, so that a use after free stays
// visible.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "core/parallel.hpp"
#include "core/pod_array.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DALO_BLOCK_CACHE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define DALO_BLOCK_CACHE 0
#endif
#endif
#if !defined(DALO_BLOCK_CACHE) && defined(__GLIBC__)
#define DALO_BLOCK_CACHE 1
#endif
#if !defined(DALO_BLOCK_CACHE)
#define DALO_BLOCK_CACHE 0
#endif

namespace dalo {

namespace {

// A block straight from malloc, with the huge-page advice for a large one.
void* fresh(uint64_t bytes, bool zero) {
    void* p = zero ? std::calloc(bytes, 1) : std::malloc(bytes);
    if (p != nullptr) advise_huge_pages(p, bytes);
    return p;
}

}  // namespace

#if DALO_BLOCK_CACHE
namespace {

// Two tiers, so that the many middle-sized arrays of small builds do not push out the few
// large ones. Middle-sized blocks come from the heap or from their own mapping, and both go
// back to the system when freed (a heap trimmed at its top, a mapping unmapped): a loop of
// small builds would fault in every page of every array again.
struct Tier {
    uint64_t min_block, max_block, max_cached;
};
constexpr Tier kMiddle{uint64_t{64} << 10, uint64_t{32} << 20, uint64_t{32} << 20};
constexpr Tier kLarge{(uint64_t{32} << 20) + 1, uint64_t{128} << 20, uint64_t{128} << 20};
constexpr int kSlots = 8;

struct Cache {
    explicit Cache(uint64_t most) : max_cached(most) {}
    const uint64_t max_cached;  // the tier's blocks together
    std::mutex lock;
    void* block[kSlots] = {};
    uint64_t size[kSlots] = {};
    uint64_t age[kSlots] = {};  // when it came in; the oldest goes first
    uint64_t clock = 0;
    uint64_t total = 0;
};

// The tier's cache for a block of this size, or null when blocks of this size go straight to
// malloc and free.
Cache* cache_for(uint64_t bytes) {
    // Never destroyed: blocks may be freed during exit.
    static Cache* middle = new Cache(kMiddle.max_cached);
    static Cache* large = new Cache(kLarge.max_cached);
    if (bytes >= kLarge.min_block && bytes <= kLarge.max_block) return large;
    if (bytes >= kMiddle.min_block && bytes <= kMiddle.max_block) return middle;
    return nullptr;
}

}  // namespace

namespace {

// A cached block of about this size, or null.
void* take_cached(uint64_t bytes) {
    Cache* c = cache_for(bytes);
    if (c == nullptr) return nullptr;
    std::lock_guard<std::mutex> g(c->lock);
    int best = -1;
    for (int s = 0; s < kSlots; ++s) {
        // A block at most twice the request, so that little of it lies idle.
        if (c->block[s] == nullptr || c->size[s] < bytes || c->size[s] > 2 * bytes) continue;
        if (best < 0 || c->size[s] < c->size[best]) best = s;
    }
    if (best < 0) return nullptr;
    c->total -= c->size[best];
    return std::exchange(c->block[best], nullptr);
}

}  // namespace

void* block_alloc(uint64_t bytes) {
    if (void* p = take_cached(bytes)) return p;
    return fresh(bytes, false);
}

void* block_realloc(void* p, uint64_t used, uint64_t bytes) {
    if (p != nullptr && malloc_usable_size(p) >= bytes) return p;
    if (void* q = take_cached(bytes)) {
        // Large arrays are copied on the worker threads too: the copy is all the growth costs.
        constexpr uint64_t kChunk = uint64_t{256} << 10;
        par_for_ranges((used + kChunk - 1) / kChunk, used / 64, [&](uint64_t b, uint64_t e) {
            const uint64_t from = b * kChunk, to = std::min(used, e * kChunk);
            std::memcpy(static_cast<char*>(q) + from, static_cast<const char*>(p) + from,
                        to - from);
        });
        block_free(p);
        return q;
    }
    void* q = std::realloc(p, bytes);
    if (q != nullptr) advise_huge_pages(q, bytes);
    return q;
}

void* block_calloc(uint64_t bytes) {
    if (cache_for(bytes) == nullptr) return fresh(bytes, true);
    void* p = block_alloc(bytes);
    if (p != nullptr) std::memset(p, 0, bytes);
    return p;
}

void block_free(void* p) {
    if (p == nullptr) return;
    const uint64_t bytes = malloc_usable_size(p);
    Cache* c = cache_for(bytes);
    if (c == nullptr) {
        std::free(p);
        return;
    }
    void* out[kSlots];  // freed after the lock is let go
    int evicted = 0;
    {
        std::lock_guard<std::mutex> g(c->lock);
        // The oldest blocks make room, in the total and in the slots.
        for (;;) {
            int free_slot = -1, oldest = -1;
            for (int s = 0; s < kSlots; ++s) {
                if (c->block[s] == nullptr) {
                    free_slot = s;
                } else if (oldest < 0 || c->age[s] < c->age[oldest]) {
                    oldest = s;
                }
            }
            if (free_slot >= 0 && c->total + bytes <= c->max_cached) {
                c->block[free_slot] = p;
                c->size[free_slot] = bytes;
                c->age[free_slot] = ++c->clock;
                c->total += bytes;
                break;
            }
            out[evicted++] = std::exchange(c->block[oldest], nullptr);
            c->total -= c->size[oldest];
        }
    }
    for (int i = 0; i < evicted; ++i) std::free(out[i]);
}

#else

void* block_alloc(uint64_t bytes) { return fresh(bytes, false); }
void* block_calloc(uint64_t bytes) { return fresh(bytes, true); }
void block_free(void* p) { std::free(p); }
void* block_realloc(void* p, uint64_t, uint64_t bytes) {
    void* q = std::realloc(p, bytes);
    if (q != nullptr) advise_huge_pages(q, bytes);
    return q;
}

#endif

}  // namespace dalo

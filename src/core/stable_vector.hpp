// Append-only storage whose elements never move, for registries read without locks.
#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

namespace dalo {

// Segment k holds kFirst << k elements, so 40 segments reach far beyond any index
// space of the library. Appends (and clear) run under the owner's lock; readers take no
// lock and see every element whose index is below size(). Segments are never
// reallocated, so a reader is safe while another thread appends.
template <class T, unsigned kFirstLog2 = 6>
class StableVector {
    static constexpr uint64_t kFirst = uint64_t{1} << kFirstLog2;
    static constexpr unsigned kSegments = 40;

  public:
    StableVector() = default;
    StableVector(const StableVector&) = delete;
    StableVector& operator=(const StableVector&) = delete;
    ~StableVector() { clear(); }

    uint64_t size() const { return size_.load(std::memory_order_acquire); }
    bool empty() const { return size() == 0; }

    const T& operator[](uint64_t i) const { return *slot(i); }
    T& operator[](uint64_t i) { return *slot(i); }

    // Writer side: the caller holds the owner's lock. The element is published complete.
    template <class... Args>
    T& emplace_back(Args&&... args) {
        T* p = new (next_slot()) T(std::forward<Args>(args)...);
        size_.fetch_add(1, std::memory_order_release);
        return *p;
    }

    // Writer side: default-constructs the element and lets `fill` set its fields before
    // readers can reach it.
    template <class Fill>
    T& append(Fill&& fill) {
        T* p = new (next_slot()) T();
        fill(*p);
        size_.fetch_add(1, std::memory_order_release);
        return *p;
    }

    // Writer side; no reader may run at the same time.
    void clear() {
        uint64_t n = size_.load(std::memory_order_relaxed);
        for (uint64_t i = 0; i < n; ++i) slot(i)->~T();
        for (unsigned k = 0; k < kSegments; ++k) {
            if (segments_[k] != nullptr) {
                ::operator delete (segments_[k], std::align_val_t{alignof(T)});
                segments_[k] = nullptr;
            }
        }
        size_.store(0, std::memory_order_release);
    }

  private:
    T* next_slot() {
        auto [seg, off] = locate(size_.load(std::memory_order_relaxed));
        if (segments_[seg] == nullptr) {
            segments_[seg] = static_cast<T*>(
                ::operator new (sizeof(T) * (kFirst << seg), std::align_val_t{alignof(T)}));
        }
        return segments_[seg] + off;
    }
    static std::pair<unsigned, uint64_t> locate(uint64_t i) {
        // Segment k starts at kFirst * (2^k - 1).
        uint64_t q = i / kFirst + 1;
        unsigned seg = static_cast<unsigned>(std::bit_width(q) - 1);
        uint64_t start = kFirst * ((uint64_t{1} << seg) - 1);
        return {seg, i - start};
    }
    T* slot(uint64_t i) const {
        auto [seg, off] = locate(i);
        return segments_[seg] + off;
    }

    // Segment pointers are written once under the owner's lock before the size that
    // makes them reachable is published, so plain pointers suffice.
    std::array<T*, kSegments> segments_{};
    std::atomic<uint64_t> size_{0};
};

}  // namespace dalo

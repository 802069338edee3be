// A fixed-size array of trivially copyable values, allocated once and left uninitialised:
// the large flat arrays are written exactly once, so zero-filling them first would double
// the memory traffic.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

namespace dalo {

// Asks for transparent huge pages over a large block.
void advise_huge_pages(void* p, uint64_t bytes);
// Gives the whole pages inside [begin, end) back to the system; they read as zeros after.
// For memory whose contents are dead, so that a pass that consumes an array as it goes
// holds only what it has not read yet.
void release_pages(const void* begin, const void* end);

// malloc, calloc and free for large flat arrays: a freed block may wait in a small cache for
// the next request of about its size (see blocks.cpp). Every block is a malloc block.
void* block_alloc(uint64_t bytes);
void* block_calloc(uint64_t bytes);
void block_free(void* p);
// realloc that moves the first `used` bytes into a cached block when one fits, so that a
// growing array lands in pages the process already has.
void* block_realloc(void* p, uint64_t used, uint64_t bytes);

template <class T>
class PodArray {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    PodArray() = default;
    explicit PodArray(uint64_t n) { resize_uninitialized(n); }
    PodArray(uint64_t n, T fill) {
        resize_uninitialized(n);
        for (uint64_t i = 0; i < n; ++i) data_[i] = fill;
    }
    PodArray(const PodArray&) = delete;
    PodArray& operator=(const PodArray&) = delete;
    PodArray(PodArray&& o) noexcept
        : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)) {}
    PodArray& operator=(PodArray&& o) noexcept {
        std::swap(data_, o.data_);
        std::swap(size_, o.size_);
        return *this;
    }
    ~PodArray() { block_free(data_); }

    // Replaces the contents with n uninitialised values.
    void resize_uninitialized(uint64_t n) {
        block_free(data_);
        data_ = nullptr;
        size_ = 0;
        if (n == 0) return;
        if (n > UINT64_MAX / sizeof(T)) throw std::bad_alloc();
        data_ = static_cast<T*>(block_alloc(n * sizeof(T)));
        if (data_ == nullptr) throw std::bad_alloc();
        size_ = n;
    }

    // n zeros, from pages the system hands out zeroed where the block is large.
    static PodArray zeroed(uint64_t n) {
        PodArray a;
        if (n == 0) return a;
        if (n > UINT64_MAX / sizeof(T)) throw std::bad_alloc();
        a.data_ = static_cast<T*>(block_calloc(n * sizeof(T)));
        if (a.data_ == nullptr) throw std::bad_alloc();
        a.size_ = n;
        return a;
    }

    // Takes over a malloc'd block of n values.
    void adopt(T* p, uint64_t n) {
        block_free(data_);
        data_ = p;
        size_ = p == nullptr ? 0 : n;
    }

    // Hands the block (malloc'd) to the caller and leaves the array empty.
    T* release() {
        size_ = 0;
        return std::exchange(data_, nullptr);
    }

    T* data() { return data_; }
    const T* data() const { return data_; }
    uint64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](uint64_t i) { return data_[i]; }
    const T& operator[](uint64_t i) const { return data_[i]; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }

  private:
    T* data_ = nullptr;
    uint64_t size_ = 0;
};

}  // namespace dalo

#include "core/expr.hpp"
#include <algorithm>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

#include "core/parallel.hpp"
#include "core/pod_array.hpp"

namespace dalo {

namespace {

std::atomic<void (*)(uint32_t)> g_copy_hook{nullptr};

}  // namespace

void set_copy_hook(void (*hook)(uint32_t word)) {
    g_copy_hook.store(hook, std::memory_order_release);
}

// Large arrays are written once, front to back, right after allocation: with 4 KiB pages
// the page faults cost several times the writes themselves, so such an array asks for
// transparent huge pages where the system offers them. The advice covers every page the
// block touches: advising only part of its mapping would split it in two, and a mapping in
// pieces cannot grow in place, so realloc would copy it (twice the memory for a moment).
void advise_huge_pages(void* p, uint64_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr uint64_t kHuge = uint64_t{2} << 20;
    if (bytes < 4 * kHuge) return;
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes + page - 1) & ~(page - 1);
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

void release_pages(const void* begin, const void* end) {
#ifdef MADV_DONTNEED
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t b = (reinterpret_cast<uintptr_t>(begin) + page - 1) & ~(page - 1);
    const uintptr_t e = reinterpret_cast<uintptr_t>(end) & ~(page - 1);
    if (e > b) madvise(reinterpret_cast<void*>(b), e - b, MADV_DONTNEED);
#else
    (void)begin;
    (void)end;
#endif
}

TermImpl* realloc_terms(TermImpl* p, uint64_t n, uint64_t used) {
    if (n > UINT64_MAX / sizeof(TermImpl)) throw std::bad_alloc();
    void* q = p == nullptr ? block_alloc(n * sizeof(TermImpl))
                           : block_realloc(p, used * sizeof(TermImpl), n * sizeof(TermImpl));
    if (q == nullptr) throw std::bad_alloc();
    return static_cast<TermImpl*>(q);
}

void free_term_tails(const TermImpl* t, uint64_t n) {
    par_for_ranges(tails_made() ? n : 0, n, [t](uint64_t b, uint64_t e) {
        for (uint64_t i = b; i < e; ++i) {
            if (t[i].vars.tail != nullptr) std::free(t[i].vars.tail);
        }
    });
}

void copy_terms(TermImpl* dst, const TermImpl* src, uint64_t n, bool negate) {
    // Tails are nulled in the first pass, so the destination stays releasable if a later
    // tail allocation throws; the second pass runs only when some term has a tail.
    std::atomic<bool> any_tail{false};
    const bool tails = tails_made();
    par_for_ranges(n, n, [&](uint64_t b, uint64_t e) {
        std::memcpy(dst + b, src + b, (e - b) * sizeof(TermImpl));
        if (!tails && !negate) return;
        bool seen = false;
        for (uint64_t i = b; i < e; ++i) {
            seen |= dst[i].vars.tail != nullptr;
            dst[i].vars.tail = nullptr;
            if (negate) dst[i].coeff = neg_coeff(dst[i].coeff);
        }
        if (seen) any_tail.store(true, std::memory_order_relaxed);
    });
    if (!any_tail.load(std::memory_order_relaxed)) return;
    par_for_ranges(n, n, [&](uint64_t b, uint64_t e) {
        for (uint64_t i = b; i < e; ++i) {
            if (src[i].vars.tail != nullptr) dst[i].vars = copy_vars(src[i].vars);
        }
    });
}

ExprImpl::ExprImpl(const ExprImpl& other) : ExprImpl(other, other.attr) {
    // Two values now hold the same constraint sum: neither may append to it in place.
    if (attr_carries(attr)) {
        if (void (*hook)(uint32_t) = g_copy_hook.load(std::memory_order_acquire)) hook(attr);
    }
}

ExprImpl::ExprImpl(const ExprImpl& other, uint32_t word)
    : constant(other.constant), capacity(0), count(0), terms(nullptr), attr(word) {
    if (other.has_inline()) first = copy_term(other.first);
    if (other.count == 0) return;
    terms = realloc_terms(nullptr, other.count, 0);
    capacity = other.count;
    copy_terms(terms, other.terms, other.count, false);
    count = other.count;
}

ExprImpl& ExprImpl::operator=(const ExprImpl& other) {
    if (this != &other) {
        ExprImpl tmp(other);
        swap(tmp);
    }
    return *this;
}

void ExprImpl::swap(ExprImpl& other) noexcept {
    std::swap(constant, other.constant);
    std::swap(first, other.first);
    std::swap(capacity, other.capacity);
    std::swap(count, other.count);
    std::swap(terms, other.terms);
    std::swap(attr, other.attr);
}

void ExprImpl::release() {
    free_tail(first.vars);
    if (terms != nullptr) {
        free_term_tails(terms, count);
        block_free(terms);
    }
    first = TermImpl{};
    terms = nullptr;
    count = capacity = 0;
}

void ExprImpl::clear_terms() {
    energy_t c = constant;
    uint32_t a = attr;
    release();
    constant = c;
    attr = a;
}

void ExprImpl::append_slow(const TermImpl& t) {
    if (first.coeff == 0) {
        free_tail(first.vars);
        first = t;
        return;
    }
    if (count == capacity) {
        uint64_t cap = capacity == 0 ? 4 : capacity * 2;
        try {
            terms = realloc_terms(terms, cap, count);
        } catch (...) {
            TermImpl lost = t;
            free_tail(lost.vars);
            throw;
        }
        capacity = cap;
    }
    terms[count++] = t;
}

void ExprImpl::reserve_more(uint64_t n) {
    if (count + n <= capacity) return;
    // A first reservation is exact; later ones grow by half at least, so repeated bulk
    // appends cost amortised linear time.
    uint64_t want = count + n;
    if (count > 0 && capacity / 2 <= UINT64_MAX - capacity) {
        want = std::max(want, capacity + capacity / 2);
    }
    terms = realloc_terms(terms, want, count);
    capacity = want;
}

TermImpl* ExprImpl::extend(uint64_t n) {
    reserve_more(n);
    TermImpl* p = terms + count;
    count += n;
    return p;
}

}  // namespace dalo

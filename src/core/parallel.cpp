#include "core/parallel.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "core/fatal.hpp"

namespace dalo {

namespace {

thread_local bool t_in_region = false;

// Marks the current thread as running a region body for the lifetime of the guard.
class RegionGuard {
  public:
    RegionGuard() : saved_(t_in_region) { t_in_region = true; }
    ~RegionGuard() { t_in_region = saved_; }
    RegionGuard(const RegionGuard&) = delete;
    RegionGuard& operator=(const RegionGuard&) = delete;

  private:
    bool saved_;
};

// Collects the first exception thrown by any participant of a region. Participants run
// under the caller's error mode, so a failure in the keep mode comes back to the caller.
class ErrorSlot {
  public:
    void run(const std::function<void()>& task) {
        try {
            RegionGuard guard;
            ModeScope mode(mode_);
            task();
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!error_) error_ = std::current_exception();
        }
    }
    void rethrow() {
        if (error_) std::rethrow_exception(error_);
    }

  private:
    const int mode_ = error_mode();
    std::mutex mutex_;
    std::exception_ptr error_;
};

std::atomic<uint64_t> g_extra_threads{0};

// Set once the pool has been torn down at exit; regions started later (from other static
// destructors) run on the caller alone.
std::atomic<bool> g_pool_down{false};

// How long a worker, or the caller of a region, polls before it sleeps: a build runs its
// regions back to back, and waking a sleeping thread costs more than a short region.
constexpr auto kPollTime = std::chrono::microseconds(50);

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Polls until done() holds or the poll time is up; whether it holds.
template <class Done>
bool poll(Done&& done) {
    const auto end = std::chrono::steady_clock::now() + kPollTime;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (done()) return true;
            cpu_relax();
        }
        if (std::chrono::steady_clock::now() >= end) return done();
    }
}

class WorkerPool {
  public:
    explicit WorkerPool(uint32_t workers) : worker_count_(workers) {
        threads_.reserve(workers);
        for (uint32_t i = 0; i < workers; ++i) threads_.emplace_back([this] { worker_loop(); });
    }

    ~WorkerPool() {
        g_pool_down.store(true, std::memory_order_release);
        {
            std::lock_guard<std::mutex> lock(state_lock_);
            stop_ = 1;
        }
        wake_.notify_all();
        for (auto& t : threads_) t.join();
    }

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    uint32_t worker_count() const { return worker_count_; }

    uint64_t generation() {
        std::lock_guard<std::mutex> lock(state_lock_);
        return generation_;
    }

    // Offers the task to every worker, runs it on the caller too, and waits for the workers
    // that took it up. Once the caller's part is done the region closes: a worker that wakes
    // later skips it, so that a short region never waits for a sleeping thread. Every task
    // pulls its chunks from a shared counter, so any set of participants completes it.
    void run(const std::function<void()>& task, const std::function<void()>& caller_part) {
        std::lock_guard<std::mutex> region(region_lock_);
        {
            std::lock_guard<std::mutex> lock(state_lock_);
            task_ = task;
            ++generation_;
            entry_.store(static_cast<uint64_t>(generation_) << 32, std::memory_order_release);
        }
        wake_.notify_all();
        caller_part();
        entry_.fetch_or(kClosed, std::memory_order_acq_rel);
        auto idle = [this] { return (entry_.load(std::memory_order_acquire) & kInside) == 0; };
        poll(idle);
        std::unique_lock<std::mutex> lock(state_lock_);
        done_.wait(lock, idle);
        task_ = nullptr;
    }

  private:
    void worker_loop() {
        uint64_t served = 0;
        for (;;) {
            poll([&] {
                return stop_.load(std::memory_order_acquire) ||
                       generation_.load(std::memory_order_acquire) != served;
            });
            std::unique_lock<std::mutex> lock(state_lock_);
            wake_.wait(lock, [&] { return stop_ || generation_ != served; });
            if (stop_) return;
            served = generation_;
            std::function<void()> task = task_;
            lock.unlock();
            if (!enter(served)) continue;
            task();
            lock.lock();
            if ((entry_.fetch_sub(1, std::memory_order_acq_rel) & kInside) == 1) {
                done_.notify_one();
            }
        }
    }

    // Joins the region of this generation while it is open.
    bool enter(uint64_t generation) {
        uint64_t e = entry_.load(std::memory_order_acquire);
        for (;;) {
            if ((e >> 32) != (generation & 0xFFFFFFFFu) || (e & kClosed) != 0) return false;
            if (entry_.compare_exchange_weak(e, e + 1, std::memory_order_acq_rel)) return true;
        }
    }

    const uint32_t worker_count_;
    std::vector<std::thread> threads_;
    std::mutex region_lock_;
    std::mutex state_lock_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::function<void()> task_;
    // The open region: its generation (low 32 bits) above, the closed bit, and the number of
    // workers inside it.
    static constexpr uint64_t kClosed = uint64_t{1} << 31;
    static constexpr uint64_t kInside = kClosed - 1;
    std::atomic<uint64_t> entry_{0};
    // Written under state_lock_; read without it while polling.
    std::atomic<uint64_t> generation_{0};
    std::atomic<unsigned char> stop_{0};
};

std::atomic<bool> g_pool_created{false};

WorkerPool& worker_pool() {
    static WorkerPool pool(pool_worker_count(thread_budget()));
    g_pool_created.store(true, std::memory_order_relaxed);
    return pool;
}

}  // namespace

uint32_t parse_thread_count(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > std::numeric_limits<int32_t>::max()) {
            value = std::numeric_limits<int32_t>::max();  // saturate: a huge budget is still "all"
            while (p[1] >= '0' && p[1] <= '9') ++p;
        }
    }
    if (negative || value <= 0) return 0;
    return static_cast<uint32_t>(value);
}

uint32_t thread_budget() {
    static const uint32_t budget = [] {
        uint32_t b = parse_thread_count(std::getenv("DALO_NUM_THREADS"));
        if (b > 0) return b;
        unsigned hw = std::thread::hardware_concurrency();
        return hw == 0 ? 1u : static_cast<uint32_t>(hw);
    }();
    return budget;
}

uint32_t thread_cap_for(uint32_t budget, uint64_t w) {
    if (budget < 2) return 1;
    if (w <= 99'999'999ull) return std::min<uint32_t>(budget, 8);
    if (w <= 999'999'999ull) return std::min<uint32_t>(budget, 16);
    if (w <= 9'999'999'999ull) return std::min<uint32_t>(budget, 32);
    return std::min<uint32_t>(budget, 64);
}

uint32_t thread_cap(uint64_t w) { return thread_cap_for(thread_budget(), w); }

uint32_t pool_worker_count(uint32_t budget) {
    if (budget == 0) return 0;
    return budget >= 8 ? 7 : budget - 1;
}

RegionPlan plan_region(uint64_t n, uint64_t w, uint32_t budget) {
    RegionPlan plan;
    if (n == 0) return plan;
    plan.chunks = 1;
    plan.chunk_size = n;
    if (w <= kSerialLimit) return plan;
    uint32_t t = thread_cap_for(budget, w);
    if (t < 2) return plan;
    plan.threads = t;
    plan.chunks = std::min<uint64_t>(4ull * t, n);
    plan.chunk_size = (n + plan.chunks - 1) / plan.chunks;
    uint32_t pool = pool_worker_count(budget);
    plan.extra_threads = t > pool + 1 ? t - (pool + 1) : 0;
    return plan;
}

bool in_parallel_region() { return t_in_region; }

PoolStats pool_stats() {
    PoolStats s;
    s.created = g_pool_created.load(std::memory_order_relaxed);
    s.extra_threads = g_extra_threads.load(std::memory_order_relaxed);
    if (s.created && !g_pool_down.load(std::memory_order_acquire)) {
        s.workers = worker_pool().worker_count();
        s.regions = worker_pool().generation();
    }
    return s;
}

namespace detail {

void run_region(const RegionPlan& plan, const std::function<void()>& task) {
    ErrorSlot errors;
    std::function<void()> guarded = [&] { errors.run(task); };
    if (g_pool_down.load(std::memory_order_acquire)) {
        guarded();  // the caller pulls every chunk itself
        errors.rethrow();
        return;
    }
    WorkerPool& pool = worker_pool();
    std::vector<std::thread> extra;
    extra.reserve(plan.extra_threads);
    for (uint32_t i = 0; i < plan.extra_threads; ++i) extra.emplace_back(guarded);
    g_extra_threads.fetch_add(plan.extra_threads, std::memory_order_relaxed);
    pool.run(guarded, guarded);
    for (auto& t : extra) t.join();
    errors.rethrow();
}

void run_own_threads(uint32_t threads, const std::function<void()>& task) {
    ErrorSlot errors;
    std::function<void()> guarded = [&] { errors.run(task); };
    std::vector<std::thread> others;
    others.reserve(threads > 0 ? threads - 1 : 0);
    for (uint32_t i = 1; i < threads; ++i) others.emplace_back(guarded);
    guarded();
    for (auto& t : others) t.join();
    errors.rethrow();
}

}  // namespace detail

}  // namespace dalo

// The batch workers: one pool per loaded library, its threads joined when
// the library is unloaded or the process ends.
#include "batch_pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// More workers than this would only queue for the same cores.
constexpr size_t kMaxHelpers = 63;

// Rows per claim: small enough that the threads finish within a few
// microseconds of one another, large enough that claiming costs nothing.
constexpr size_t kRowsPerChunk = 16;

// Chunk numbers share the claim counter with the generation: 32 bits each.
constexpr size_t kMaxChunks = size_t{1} << 31;

// How long the caller polls for the last chunks before it sleeps: about as
// long as one chunk takes.
constexpr int kPollsBeforeSleep = 2000;

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

using Clock = std::chrono::steady_clock;

// On a machine whose cores are busy with other work, a woken worker may be
// descheduled while it holds a chunk, and the caller then waits for it far
// longer than stepping every row itself would have taken. The caller keeps
// a balance of the time the workers saved (its own pace times the chunks
// others stepped, less the time it waited), and once it falls below zero
// steps the next batches alone: 16 at first, twice as many after every
// further loss (up to 4096), half as many again after the workers pay.
// Which thread steps a row never changes its result.
class HelperBackoff {
public:
    bool helpers_wanted() {
        if (solo_left_ == 0) return true;
        --solo_left_;
        return false;
    }

    // A batch with helpers took (done - started); the caller stepped `own`
    // of `chunks` chunks in (own_done - started).
    void judge(Clock::time_point started, Clock::time_point own_done, Clock::time_point done,
               size_t own, size_t chunks) {
        const double own_ns = double((own_done - started).count());
        const double elapsed_ns = double((done - started).count());
        // Alone, the caller would have stepped every chunk at its own pace.
        const double alone_ns = own == 0 ? elapsed_ns : own_ns * double(chunks) / double(own);
        balance_ns_ += alone_ns - elapsed_ns;
        if (balance_ns_ >= 0.0) {
            if (balance_ns_ > kBalanceCap_ns) {
                balance_ns_ = kBalanceCap_ns;
                if (solo_batches_ > kFirstSoloBatches) solo_batches_ /= 2;
            }
            return;
        }
        balance_ns_ = 0.0;
        solo_left_ = solo_batches_;
        if (solo_batches_ < kMaxSoloBatches) solo_batches_ *= 2;
    }

private:
    static constexpr unsigned kFirstSoloBatches = 16;
    static constexpr unsigned kMaxSoloBatches = 4096;
    // Savings banked at most: a long good spell must not hide a machine
    // that has since become busy.
    static constexpr double kBalanceCap_ns = 1e6;
    double balance_ns_ = 0.0;
    unsigned solo_left_ = 0;
    unsigned solo_batches_ = kFirstSoloBatches;
};

class BatchPool {
public:
    ~BatchPool() { stop(); }

    size_t start(size_t helpers) {
        if (helpers > kMaxHelpers) helpers = kMaxHelpers;
        std::unique_lock<std::mutex> lock(mutex_);
        while (started_ < helpers && !stopping_) {
            try {
                threads_[started_] = std::thread(&BatchPool::work, this, started_);
            } catch (...) {
                // No thread or no memory left: the rows run on the threads
                // there are, and no exception reaches the C caller.
                break;
            }
            ++started_;
        }
        // Back only once every worker waits for work: whatever a new thread
        // sets up for itself (its stack, its thread-local storage) is done
        // before the first batch is counted on it.
        ready_.wait(lock, [&] { return waiting_ == started_; });
        return started_;
    }

    void run(BatchRowsFn fn, const void* job, size_t count, size_t helpers) {
        std::unique_lock<std::mutex> serial(run_mutex_, std::try_to_lock);
        if (!serial.owns_lock() || count / kRowsPerChunk >= kMaxChunks || start(helpers) == 0 ||
            !backoff_.helpers_wanted()) {
            fn(job, 0, count);
            return;
        }
        const size_t chunks = (count + kRowsPerChunk - 1) / kRowsPerChunk;
        uint32_t generation;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            generation = ++generation_;
            fn_ = fn;
            job_ = job;
            count_ = count;
            chunks_ = chunks;
            helpers_ = helpers;
            done_.store(0, std::memory_order_relaxed);
            claim_.store(uint64_t{generation} << 32, std::memory_order_release);
        }
        wake_.notify_all();

        const Clock::time_point started = Clock::now();
        const size_t own = run_chunks(generation, fn, job, count, chunks);
        const Clock::time_point own_done = Clock::now();
        wait_for(chunks);
        backoff_.judge(started, own_done, Clock::now(), own, chunks);
    }

private:
    // Until every chunk is done: polling for about as long as one chunk
    // takes, then asleep until the last worker wakes the caller.
    void wait_for(size_t chunks) {
        for (int i = 0; i < kPollsBeforeSleep; ++i) {
            if (done_.load(std::memory_order_acquire) == chunks) return;
            cpu_relax();
        }
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, [&] { return done_.load(std::memory_order_acquire) == chunks; });
    }

    // Claims and steps chunks of this generation's batch until none is
    // left, and returns how many it stepped. The claim counter carries the
    // generation in its upper half, so a worker still holding an earlier
    // batch claims nothing of a later one.
    size_t run_chunks(uint32_t generation, BatchRowsFn fn, const void* job, size_t count,
                      size_t chunks) {
        size_t stepped = 0;
        uint64_t claim = claim_.load(std::memory_order_acquire);
        for (;;) {
            if (uint32_t(claim >> 32) != generation || (claim & 0xffffffffu) >= chunks) break;
            if (!claim_.compare_exchange_weak(claim, claim + 1, std::memory_order_acq_rel)) {
                continue;
            }
            const size_t begin = size_t(claim & 0xffffffffu) * kRowsPerChunk;
            const size_t end = begin + kRowsPerChunk < count ? begin + kRowsPerChunk : count;
            fn(job, begin, end);
            ++stepped;
            claim = claim_.load(std::memory_order_acquire);
        }
        if (stepped == 0) return 0;
        if (done_.fetch_add(stepped, std::memory_order_acq_rel) + stepped == chunks) {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_.notify_one();
        }
        return stepped;
    }

    void work(size_t index) {
        uint32_t seen;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            seen = generation_;  // batches before this worker was ready are not its own
            ++waiting_;
        }
        ready_.notify_all();
        for (;;) {
            BatchRowsFn fn;
            const void* job;
            size_t count, chunks;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
                if (stopping_) return;
                seen = generation_;
                if (index >= helpers_) continue;  // this batch wants fewer threads
                fn = fn_;
                job = job_;
                count = count_;
                chunks = chunks_;
            }
            run_chunks(seen, fn, job, count, chunks);
        }
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (size_t i = 0; i < started_; ++i) {
            if (threads_[i].joinable()) threads_[i].join();
        }
    }

    std::mutex run_mutex_;   // one batch at a time uses the workers
    HelperBackoff backoff_;  // under run_mutex_

    std::mutex mutex_;                  // guards everything below but the two atomics
    std::condition_variable wake_;      // a new batch, or stop
    std::condition_variable finished_;  // the last chunk of a batch is done
    std::condition_variable ready_;     // a new worker waits for work
    size_t waiting_ = 0;                // workers that have reached their loop
    std::thread threads_[kMaxHelpers];
    size_t started_ = 0;
    bool stopping_ = false;

    // The batch of the present generation.
    uint32_t generation_ = 0;
    BatchRowsFn fn_ = nullptr;
    const void* job_ = nullptr;
    size_t count_ = 0, chunks_ = 0, helpers_ = 0;
    std::atomic<uint64_t> claim_{0};  // generation << 32 | next chunk
    std::atomic<size_t> done_{0};     // chunks stepped
};

BatchPool& pool() {
    static BatchPool instance;  // destroyed, its threads joined, at unload or exit
    return instance;
}

}  // namespace

size_t batch_pool_start(size_t helpers) { return pool().start(helpers); }

void batch_pool_run(BatchRowsFn fn, const void* job, size_t count, size_t helpers) {
    pool().run(fn, job, count, helpers);
}

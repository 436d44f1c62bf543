// The worker threads of batch stepping: started once, kept for the life of
// the library, and shared by every batch call.
//
// A batch is cut into chunks of consecutive rows; the calling thread and the
// workers claim chunks one at a time until none is left, so whoever is
// running does the work and a worker the system does not schedule in time
// costs nothing but its wake-up. Each row is stepped exactly once, by one
// thread, so the results are the same whatever the thread count. After the
// workers are started a batch allocates nothing and starts no thread.
#ifndef BATCH_POOL_H
#define BATCH_POOL_H

#include <cstddef>

// Steps rows [begin, end) of the batch that job describes.
using BatchRowsFn = void (*)(const void* job, size_t begin, size_t end);

// Makes sure `helpers` workers run (at most a fixed maximum), starting any
// missing; returns how many run. Thread-safe.
size_t batch_pool_start(size_t helpers);

// Steps rows [0, count) on the calling thread and up to `helpers` workers,
// started here if need be, and returns once every row is done. A call made
// while another thread's batch holds the workers runs on its own thread.
void batch_pool_run(BatchRowsFn fn, const void* job, size_t count, size_t helpers);

#endif

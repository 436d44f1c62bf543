// A step never touches the heap: a host may call it from a real-time task,
// where an allocation can block on the allocator's lock or fail.
//
// Every allocation of this program is counted: malloc, calloc, realloc and
// the aligned forms are replaced by counting versions that hand the work to
// glibc's own allocator (__libc_malloc ...), and operator new and delete are
// replaced as well, so a C++ allocation counts even if a library routes it
// past malloc. Under AddressSanitizer, whose allocator owns these calls, its
// allocation hook does the counting instead.
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "GuideW_instance.h"
#include "test_support.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// Exported by the sanitizer runtime (gcc ships no header for it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*on_malloc)(const volatile void*,
                                                                           size_t),
                                                         void (*on_free)(const volatile void*));

namespace {
void count_allocation(const volatile void*, size_t) { ++g_allocations; }
void ignore_release(const volatile void*) {}
[[maybe_unused]] const int g_hooks_installed =
    __sanitizer_install_malloc_and_free_hooks(count_allocation, ignore_release);
}  // namespace
#else
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t size) noexcept {
    ++g_allocations;
    return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) noexcept {
    ++g_allocations;
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t size) noexcept {
    ++g_allocations;
    return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size) noexcept {
    ++g_allocations;
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) noexcept { return memalign(alignment, size); }
int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* p = memalign(alignment, size);
    if (p == nullptr) return ENOMEM;
    *out = p;
    return 0;
}
void free(void* p) noexcept { __libc_free(p); }
}

void* operator new(size_t size) {
    ++g_allocations;
    if (void* p = __libc_malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    ++g_allocations;
    return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t) noexcept { __libc_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { __libc_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { __libc_free(p); }
#endif

namespace {

// A long, varied flight: every mode, commands ahead and behind (steep dives
// for the split manoeuvre, climbs for the roll-over), upside-down attitudes,
// thin air, standstill, and now and then a NaN or infinite input. Each
// situation is held for a while so the manoeuvre latches are set and cleared.
std::vector<GuideWInputs> long_flight() {
    const double azimuths[] = {30, 120, 178, 200, 330, 90};
    const double elevations[] = {5, -60, -10, 40, 75, -89};
    const double modes[] = {1, 1.5, 2, 2.5, 3, 4};
    const double rolls[] = {0, 30, -150, 180, 95, -60};
    const double bad[] = {NAN, INFINITY, -INFINITY};
    std::vector<GuideWInputs> steps;
    for (int s = 0; s < 216; ++s) {
        GuideWInputs u = level_flight();
        u.azim_cmd = azimuths[s % 6];
        u.elev_cmd = elevations[(s / 6) % 6];
        u.mode = modes[(s / 36) % 6];
        u.ext_weight = (s % 4) * 0.3;
        u.ext_nz = 2.0;
        u.ext_bank = (s % 2) ? 40.0 : -40.0;
        u.altitude = (s % 5) * 4000.0;
        for (int i = 0; i < 300; ++i) {
            u.roll = rolls[(s + i / 100) % 6] + 0.1 * i;
            u.pitch = (i % 7 == 0) ? 120.0 : -5.0;
            u.vel_up = -10.0;
            u.vel_north = (i % 50 == 0) ? 0.5 : 200.0;
            GuideWInputs k = u;
            if (i % 97 == 0) (&k.speed_cmd)[(s + i) % GUIDEW_INPUT_COUNT] = bad[i % 3];
            steps.push_back(k);
        }
    }
    return steps;
}

const std::vector<GuideWInputs>& flight() {
    static const std::vector<GuideWInputs> steps = long_flight();
    return steps;
}

// Allocations made while body runs.
long allocations_during(const std::function<void()>& body) {
    const long before = g_allocations.load();
    body();
    return g_allocations.load() - before;
}

TEST(NoAllocation, TheCountingHookSeesTheModelsAllocations) {
    // Creating an instance allocates its records; the hook must see it, or
    // the zeros below prove nothing.
    GuideWInstance* m = nullptr;
    EXPECT_GE(allocations_during([&] { m = GuideW_instance_create(); }), 1);
    GuideW_instance_destroy(m);
    void* (*volatile c_malloc)(size_t) = std::malloc;
    void* p = nullptr;
    EXPECT_EQ(allocations_during([&] { p = c_malloc(64); }), 1);
    std::free(p);
}

struct EntryPointCase {
    const char* situation;
    std::function<void()> fly;  // runs every step of the long flight
};

TEST(NoAllocation, NoStepAllocatesThroughAnyEntryPoint) {
    // Instances are created before counting starts; only stepping counts.
    std::vector<GuideWInstance*> fleet(4);
    for (GuideWInstance*& m : fleet) m = GuideW_instance_create();
    GuideW_instance_params(fleet[1])->guide_ref = 3.0;  // steer the nose
    GuideW_initialize();
    const std::vector<GuideWInputs>& steps = flight();
    std::vector<double> outputs(fleet.size() * GUIDEW_OUTPUT_COUNT);
    const auto fly_static_model = [&] {
        for (const GuideWInputs& u : steps) {
            GuideW_U = u;
            GuideW_step();
        }
    };

    const EntryPointCase cases[] = {
        {"static model, GuideW_step on GuideW_U", fly_static_model},
        {"static model with guidance off",
         [&] {
             GuideW_P.guide_ref = 0.0;
             fly_static_model();
             GuideW_P.guide_ref = 1.0;
         }},
        {"instance, GuideW_instance_step on its own inputs",
         [&] {
             for (const GuideWInputs& u : steps) {
                 *GuideW_instance_inputs(fleet[0]) = u;
                 GuideW_instance_step(fleet[0]);
             }
         }},
        {"instance, GuideW_instance_one_step with arrays",
         [&] {
             double out[GUIDEW_OUTPUT_COUNT];
             for (const GuideWInputs& u : steps) {
                 GuideW_instance_one_step(fleet[1], &u.speed_cmd, out);
             }
         }},
        {"batch of four on the caller's thread",
         [&] {
             for (size_t i = 0; i + fleet.size() <= steps.size(); i += fleet.size()) {
                 GuideW_step_batch(fleet.data(), fleet.size(), &steps[i].speed_cmd, outputs.data(),
                                   1);
             }
         }},
    };
    for (const EntryPointCase& c : cases) {
        EXPECT_EQ(allocations_during(c.fly), 0) << c.situation;
    }
    for (GuideWInstance* m : fleet) GuideW_instance_destroy(m);
}

// The batch workers are started once, by the first batch that wants them
// (or by GuideW_batch_start); after that a batch on several threads starts
// none and allocates nothing, on whichever thread.
TEST(NoAllocation, BatchesOnWorkerThreadsAfterTheFirst) {
    const size_t n = 1000;
    std::vector<GuideWInstance*> fleet(n);
    for (GuideWInstance*& m : fleet) m = GuideW_instance_create();
    const std::vector<GuideWInputs>& steps = flight();
    std::vector<double> outputs(n * 4);
    const auto batch = [&](size_t first, unsigned threads) {
        GuideW_step_batch(fleet.data(), n, &steps[first].speed_cmd, outputs.data(), threads);
    };
    batch(0, 2);
    EXPECT_EQ(allocations_during([&] {
                  for (size_t first = n; first + n <= steps.size(); first += n) batch(first, 2);
              }),
              0);
    ASSERT_GE(GuideW_batch_start(4), 2u);
    EXPECT_EQ(allocations_during([&] {
                  for (unsigned threads : {4u, 3u, 1u, 2u, 4u}) batch(threads * 7, threads);
              }),
              0);
    for (GuideWInstance* m : fleet) GuideW_instance_destroy(m);
}

}  // namespace

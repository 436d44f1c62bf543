// The batch workers as a host meets them: kept between batches, shared by
// batches from several host threads, and stopped when the library is
// unloaded, which must neither hang nor leave a thread running code that is
// gone.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "GuideW_instance.h"
#include "typical_flight.h"

namespace {

struct Api {
    void* h = nullptr;
    GuideWInstance* (*create)() = nullptr;
    void (*destroy)(GuideWInstance*) = nullptr;
    void (*one_step)(GuideWInstance*, const double*, double*) = nullptr;
    int (*batch)(GuideWInstance* const*, size_t, const double*, double*, unsigned) = nullptr;
    unsigned (*start)(unsigned) = nullptr;

    template <class T>
    void bind(T& f, const char* name) {
        f = reinterpret_cast<T>(dlsym(h, name));
        ASSERT_NE(f, nullptr) << name;
    }
    void open() {
        h = dlopen(GUIDE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(h, nullptr) << dlerror();
        bind(create, "GuideW_instance_create");
        bind(destroy, "GuideW_instance_destroy");
        bind(one_step, "GuideW_instance_one_step");
        bind(batch, "GuideW_step_batch");
        bind(start, "GuideW_batch_start");
    }
};

size_t threads_of_this_process() {
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// Rows of the typical flight, each aircraft commanded a little further round.
std::vector<double> rows(size_t n, int round) {
    std::vector<double> in(n * GUIDEW_INPUT_COUNT);
    for (size_t i = 0; i < n; ++i) {
        GuideWInputs u = kTypicalFlight;
        u.azim_cmd = double((i * 37 + size_t(round) * 11) % 360);
        u.roll = double(i % 200) - 100.0;
        std::memcpy(&in[i * GUIDEW_INPUT_COUNT], &u, sizeof u);
    }
    return in;
}

TEST(BatchWorkers, BatchesFromTwoHostThreadsAtOnceGiveWhatSingleStepsGive) {
    Api api;
    ASSERT_NO_FATAL_FAILURE(api.open());
    const size_t n = 300;
    std::vector<GuideWInstance*> a(n), b(n), ref(n);
    for (size_t i = 0; i < n; ++i) a[i] = api.create(), b[i] = api.create(), ref[i] = api.create();
    for (int round = 0; round < 40; ++round) {
        const std::vector<double> in = rows(n, round);
        std::vector<double> out_a(n * 4), out_b(n * 4), expected(n * 4);
        std::thread other(
            [&] { EXPECT_EQ(api.batch(b.data(), n, in.data(), out_b.data(), 3), 0); });
        EXPECT_EQ(api.batch(a.data(), n, in.data(), out_a.data(), 2), 0);
        other.join();
        for (size_t i = 0; i < n; ++i)
            api.one_step(ref[i], &in[i * GUIDEW_INPUT_COUNT], &expected[i * 4]);
        ASSERT_EQ(std::memcmp(out_a.data(), expected.data(), expected.size() * 8), 0)
            << "round " << round;
        ASSERT_EQ(std::memcmp(out_b.data(), expected.data(), expected.size() * 8), 0)
            << "round " << round;
    }
    for (size_t i = 0; i < n; ++i) api.destroy(a[i]), api.destroy(b[i]), api.destroy(ref[i]);
    dlclose(api.h);
}

TEST(BatchWorkers, StartedOnceKeptBetweenBatchesStoppedAtUnload) {
    const size_t before = threads_of_this_process();
    for (int load = 0; load < 3; ++load) {
        Api api;
        ASSERT_NO_FATAL_FAILURE(api.open());
        EXPECT_EQ(api.start(0), 1u);  // the caller's thread alone
        EXPECT_EQ(api.start(3), 3u);
        EXPECT_EQ(threads_of_this_process(), before + 2);
        EXPECT_EQ(api.start(1000), 64u);  // capped
        const size_t running = threads_of_this_process();
        const size_t n = 1000;
        std::vector<GuideWInstance*> fleet(n);
        for (GuideWInstance*& m : fleet) m = api.create();
        std::vector<double> out(n * 4);
        for (int round = 0; round < 20; ++round) {
            const std::vector<double> in = rows(n, round);
            ASSERT_EQ(api.batch(fleet.data(), n, in.data(), out.data(), 1 + round % 5), 0);
        }
        EXPECT_EQ(threads_of_this_process(), running);  // no thread started per batch
        for (GuideWInstance* m : fleet) api.destroy(m);
        ASSERT_EQ(dlclose(api.h), 0);
        EXPECT_EQ(threads_of_this_process(), before) << "load " << load;
    }
}

}  // namespace

// The library as a host sees it: the symbols it exports, and the records and
// entry points reached through them, loaded afresh for every test.
#include <cxxabi.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "GuideW.h"
#include "typical_flight.h"

namespace {

using VoidFn = void (*)();
using InFn = void (*)(const double*);
using OutFn = void (*)(double*);
using Look2Fn = double (*)(double, double, const double*, const double*, const double*,
                           const uint32_t*, uint32_t);

const double* const kTypical = &kTypicalFlight.speed_cmd;

template <class T>
bool same_bytes(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct HostLibrary : ::testing::Test {
    void* h = nullptr;
    GuideWInputs* U = nullptr;
    GuideWOutputs* Y = nullptr;
    GuideWParams* P = nullptr;
    GuideWStates* DW = nullptr;
    GuideWModel* M_ = nullptr;
    VoidFn initialize = nullptr, display = nullptr;
    InFn control = nullptr, one_step = nullptr;
    OutFn get_output = nullptr;

    template <class T>
    T sym(const char* name) {
        void* s = dlsym(h, name);
        EXPECT_NE(s, nullptr) << name;
        return reinterpret_cast<T>(s);
    }
    void SetUp() override {
        h = dlopen(GUIDE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(h, nullptr) << dlerror();
        U = sym<GuideWInputs*>("GuideW_U");
        Y = sym<GuideWOutputs*>("GuideW_Y");
        P = sym<GuideWParams*>("GuideW_P");
        DW = sym<GuideWStates*>("GuideW_DW");
        M_ = sym<GuideWModel*>("GuideW_M_");
        initialize = sym<VoidFn>("_Z17GuideW_initializev");
        display = sym<VoidFn>("Guide_Display");
        control = sym<InFn>("Guide_Control");
        one_step = sym<InFn>("Guide_OneStep");
        get_output = sym<OutFn>("Guide_GetOutput");
    }
    void TearDown() override {
        if (h) dlclose(h);
    }  // next test sees load-time records
};

TEST_F(HostLibrary, ExportsExactlyTheEntryPointsAndRecords) {
    const std::set<std::string> expected = {
        "Guide_Control", "Guide_OneStep", "Guide_GetOutput", "Guide_Display", "Guide_Exit",
        "_Z17GuideW_initializev", "_Z11GuideW_stepv", "_Z16GuideW_terminatev",
        "_Z14look2_binlcapwddPKdS0_S0_PKjj", "GuideW_U", "GuideW_Y", "GuideW_P", "GuideW_DW",
        "GuideW_M_", "GuideW_M",
        // the instance API, C names
        "GuideW_instance_create", "GuideW_instance_destroy", "GuideW_instance_initialize",
        "GuideW_instance_step", "GuideW_instance_one_step", "GuideW_instance_inputs",
        "GuideW_instance_outputs", "GuideW_instance_params", "GuideW_instance_states",
        "GuideW_instance_error_status", "GuideW_step_batch", "GuideW_batch_start",
        "GuideW_default_params", "GuideW_version"};
    FILE* nm = popen("nm -D --defined-only '" GUIDE_LIBRARY_PATH "'", "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> exported;
    char addr[64], kind[8], name[512];
    while (std::fscanf(nm, "%63s %7s %511s", addr, kind, name) == 3) exported.insert(name);
    ASSERT_EQ(pclose(nm), 0);
    EXPECT_EQ(exported, expected);
    // A C++ host declares the lookup from the header and must bind to this name.
    int status = 0;
    char* text =
        abi::__cxa_demangle("_Z14look2_binlcapwddPKdS0_S0_PKjj", nullptr, nullptr, &status);
    EXPECT_STREQ(text,
                 "look2_binlcapw(double, double, double const*, double const*, "
                 "double const*, unsigned int const*, unsigned int)");
    std::free(text);
    // The exported lookup is callable with the exported trim table: an interior grid point,
    // the default table's entry for 10000 m and 300 m/s.
    auto look2 = sym<Look2Fn>("_Z14look2_binlcapwddPKdS0_S0_PKjj");
    EXPECT_EQ(look2(10000, 300, P->thr_alt_bp, P->thr_spd_bp, P->thr_table, P->thr_max_index, 11),
              0.203768);
    EXPECT_EQ(*sym<GuideWModel**>("GuideW_M"), M_);
}

TEST_F(HostLibrary, LoadTimeRecordsHoldTheBuildDefaults) {
    GuideWParams defaults;
    sym<void (*)(GuideWParams*)>("GuideW_default_params")(&defaults);
    EXPECT_TRUE(same_bytes(*P, defaults));
    EXPECT_EQ(DW->turn_sign, 0.0);  // nothing runs before the host initialises
    EXPECT_EQ(M_->error_status, nullptr);
}

// What a host that loads the library checks it loaded: the CMake package's
// version, which find_package and pkg-config compare against.
TEST_F(HostLibrary, VersionIsTheProjectVersion) {
    EXPECT_STREQ(sym<const char* (*)()>("GuideW_version")(), GUIDE_PROJECT_VERSION);
}

TEST_F(HostLibrary, InitializeRestartsTheRunButKeepsHostParameters) {
    one_step(kTypical);
    std::memset(DW, 0x41, sizeof *DW);
    M_->error_status = "Overrun";
    P->guide_ref = 0.0;  // host switches guidance off
    initialize();
    GuideWStates fresh{};
    fresh.turn_sign = 1.0;
    EXPECT_TRUE(same_bytes(*U, GuideWInputs{}) && same_bytes(*Y, GuideWOutputs{}));
    EXPECT_TRUE(same_bytes(*DW, fresh));
    EXPECT_EQ(M_->error_status, nullptr);
    EXPECT_EQ(P->guide_ref, 0.0);
    double out[GUIDEW_OUTPUT_COUNT] = {-1, -1, -1, -1};
    get_output(out);
    for (double v : out) EXPECT_EQ(v, 0.0);
    one_step(kTypical);  // guidance off: 1 g, wings held at the present roll
    EXPECT_EQ(Y->nz_cmd, 1.0);
    EXPECT_EQ(Y->lat_cmd, 0.0);
}

TEST_F(HostLibrary, ArraysCopyFieldsInOrderAndNullArraysChangeNothing) {
    initialize();
    one_step(kTypical);
    const GuideWOutputs y = *Y;
    const GuideWStates dw = *DW;
    double in[GUIDEW_INPUT_COUNT];
    for (int k = 0; k < GUIDEW_INPUT_COUNT; ++k) in[k] = 100.0 + k;
    control(in);
    EXPECT_EQ(std::memcmp(U, in, sizeof in), 0);  // element k lands in field k
    EXPECT_EQ(U->mode, 107.0);
    EXPECT_EQ(U->aux_in, 118.0);
    EXPECT_TRUE(same_bytes(*Y, y) && same_bytes(*DW, dw));

    *Y = GuideWOutputs{1.5, 2.5, 3.5, 4.5};
    double out[GUIDEW_OUTPUT_COUNT + 1] = {0, 0, 0, 0, -9};
    get_output(out);
    for (int k = 0; k <= GUIDEW_OUTPUT_COUNT; ++k)
        EXPECT_EQ(out[k], k < GUIDEW_OUTPUT_COUNT ? 1.5 + k : -9.0) << "output " << k;

    // A host passing no array gets no copy, and no step either.
    const GuideWInputs u = *U;
    control(nullptr);
    one_step(nullptr);
    get_output(nullptr);
    EXPECT_TRUE(same_bytes(*U, u) && same_bytes(*Y, GuideWOutputs{1.5, 2.5, 3.5, 4.5}));
    EXPECT_TRUE(same_bytes(*DW, dw));
    EXPECT_EQ(M_->error_status, nullptr);
}

// The typical flight's first period: a bank error of about 71 deg saturates
// the roll law, the climbing turn wants more load than the limit at 165 m/s
// of equivalent airspeed, and nothing latches, so a repeat is bit-identical.
TEST_F(HostLibrary, TypicalPursuitStepThroughOneStep) {
    initialize();
    for (int period = 0; period < 2; ++period) {
        one_step(kTypical);
        EXPECT_TRUE(same_bytes(*U, kTypicalFlight));
        EXPECT_EQ(M_->error_status, nullptr);
        double out[GUIDEW_OUTPUT_COUNT];
        get_output(out);
        EXPECT_EQ(std::memcmp(out, &kTypicalCommands, sizeof out), 0) << "period " << period;
        EXPECT_EQ(out[0], P->lat_max);
        EXPECT_NEAR(DW->front_roll_err, 71.217, 5e-4);
    }
}

TEST_F(HostLibrary, DisplayPrintsTheMessageWithoutNewline) {
    FILE* capture = std::tmpfile();
    ASSERT_NE(capture, nullptr);
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(capture), STDOUT_FILENO);
    display();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::rewind(capture);
    char text[64];
    const size_t n = std::fread(text, 1, sizeof text, capture);
    std::fclose(capture);
    EXPECT_EQ(std::string(text, n), "HAHA ! FINALLY YOU FIND IT !");  // 28 chars, no newline
}

}  // namespace

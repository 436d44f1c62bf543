// libFuzzer target: drives the static model through the C entry points, any
// number of instances through the instance API, and the exported table
// lookup, in any order, with any inputs, parameters and states a host could
// write: NaN, infinities, huge and tiny values, flags other than 0 and 1,
// table limits anywhere in 32 bits, the re-entry counter at any value.
//
// AddressSanitizer and UndefinedBehaviorSanitizer catch memory and language
// faults; the static records are globals fenced by redzones, and the table
// check steps records that each live in a heap block of exactly their size,
// so a read past a record is caught too. On top of that the target checks
// what must hold whatever the values are:
//   - aux_out is aux_in, bit for bit; above mode 3.5 the external commands
//     come out bit for bit;
//   - an instance computes what the static model computes from the same
//     records;
//   - the trim lookup reads only the part of the table thr_max_index selects
//     (everything else may be NaN without changing a bit of the outcome);
//   - look2_binlcapw, called with arrays as large as its limits say, returns
//     a value between its table entries, and an entry exactly on a
//     breakpoint pair;
//   - a batch gives what single steps of the same instances give, bit for
//     bit, on any number of threads.
// The wrapper's re-entry counter is in reach through its internal header.
#include <fuzzer/FuzzedDataProvider.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "Guide.h"
#include "GuideW_instance.h"
#include "guidance_stages.h"
#include "step_guard.h"
#include "typical_flight.h"

namespace {

constexpr int kInputs = GUIDEW_INPUT_COUNT;
constexpr int kOutputs = GUIDEW_OUTPUT_COUNT;
constexpr int kParamDoubles =
    static_cast<int>(offsetof(GuideWParams, thr_max_index) / sizeof(double));
constexpr int kStates = GUIDEW_STATE_COUNT;
constexpr int kSlots = 3;

void fail(const char* what) {
    std::fprintf(stderr, "guide_fuzz: %s\n", what);
    std::abort();
}
#define CHECK(cond)               \
    do {                          \
        if (!(cond)) fail(#cond); \
    } while (0)

template <class T>
bool same_bits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A double as a host might hand one over: a value from the law's own
// thresholds and the edges of the format, a raw bit pattern (signalling
// NaNs and subnormals included), or a plain number in a flight range.
double any_double(FuzzedDataProvider& fdp) {
    // clang-format off
    static const double kEdges[] = {
        0.0, -0.0, 1.0, -1.0, 0.5, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, -2.0, 0.09, 0.05, 0.95, 0.001, -0.001, 0.01, -0.01,
        0.1, -0.1, 90.0, -90.0, 180.0, -180.0, 270.0, 360.0, -360.0, 179.0, 85.0, 30.0, 45.0,
        -45.0, 170.0, 100.0, 650.0, 600.0, 11000.0, 20000.0, -500.0, 1e-300, -1e-300,
        std::numeric_limits<double>::denorm_min(), DBL_MIN, DBL_MAX, -DBL_MAX, 1e154, -1e154,
        1e155, 1e300, std::nextafter(1.0, 2.0), std::nextafter(1.0, 0.0), std::nextafter(90.0, 0.0),
        std::nextafter(90.0, 180.0), 1.5707963267948966, 3.141592653589793,
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::signaling_NaN()};
    // clang-format on
    switch (fdp.ConsumeIntegralInRange(0, 3)) {
        case 0: return fdp.PickValueInArray(kEdges);
        case 1: {
            const uint64_t bits = fdp.ConsumeIntegral<uint64_t>();
            double d;
            std::memcpy(&d, &bits, sizeof d);
            return d;
        }
        case 2: return fdp.ConsumeFloatingPointInRange(-1000.0, 1000.0);
        default: return static_cast<double>(fdp.ConsumeIntegralInRange(-720, 720));
    }
}

uint32_t any_index(FuzzedDataProvider& fdp) {
    static const uint32_t kEdges[] = {0u,  1u,   9u,          10u,         11u,
                                      12u, 131u, 0x7fffffffu, 0x80000000u, 0xffffffffu};
    return fdp.ConsumeBool() ? fdp.PickValueInArray(kEdges) : fdp.ConsumeIntegral<uint32_t>();
}

void set_double(void* record, int k, double v) {
    std::memcpy(static_cast<char*>(record) + k * sizeof(double), &v, sizeof v);
}

// What every step must leave, whatever it was given.
void check_step(const GuideWInputs& u, const GuideWOutputs& y) {
    CHECK(same_bits(y.aux_out, u.aux_in));
    if (GuideW_mode_band(u.mode) == GUIDEW_BAND_DIRECT) {
        CHECK(same_bits(y.lat_cmd, u.ext_lat));
        CHECK(same_bits(y.nz_cmd, u.ext_nz));
    }
}

// Records of one step, each in a heap block of exactly its size.
struct HeapRecords {
    std::unique_ptr<GuideWInputs> u{new GuideWInputs(GuideW_U)};
    std::unique_ptr<GuideWParams> p{new GuideWParams(GuideW_P)};
    std::unique_ptr<GuideWStates> dw{new GuideWStates(GuideW_DW)};
    std::unique_ptr<GuideWOutputs> y{new GuideWOutputs(GuideW_Y)};
    void step() {
        guidance_step(*u, *p, *dw, *y);
        check_step(*u, *y);
    }
};

// The trim lookup must not read outside the sub-grid thr_max_index selects
// (capped at the 11 x 12 table): poison every other breakpoint and entry
// with NaN and the step must come out the same, bit for bit.
void check_table_isolation() {
    HeapRecords a, b;
    const uint32_t m0 = std::min<uint32_t>(a.p->thr_max_index[0], 10u);
    const uint32_t m1 = std::min<uint32_t>(a.p->thr_max_index[1], 11u);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (uint32_t i = m0 + 1; i < 11; ++i) b.p->thr_alt_bp[i] = nan;
    for (uint32_t j = m1 + 1; j < 12; ++j) b.p->thr_spd_bp[j] = nan;
    for (uint32_t j = 0; j < 12; ++j)
        for (uint32_t i = 0; i < 11; ++i)
            if (i > m0 || j > m1) b.p->thr_table[i + 11 * j] = nan;
    a.step();
    b.step();
    CHECK(same_bits(*a.y, *b.y));
    CHECK(same_bits(*a.dw, *b.dw));
}

// An instance given the static model's records computes the same step.
void check_instance_matches_static() {
    GuideWInstance* m = GuideW_instance_create();
    CHECK(m != nullptr);
    *GuideW_instance_inputs(m) = GuideW_U;
    *GuideW_instance_params(m) = GuideW_P;
    *GuideW_instance_states(m) = GuideW_DW;
    GuideW_instance_step(m);
    GuideW_step();
    check_step(GuideW_U, GuideW_Y);
    CHECK(same_bits(*GuideW_instance_outputs(m), GuideW_Y));
    CHECK(same_bits(*GuideW_instance_states(m), GuideW_DW));
    CHECK(GuideW_instance_error_status(m) == nullptr);
    GuideW_instance_destroy(m);
}

// The exported lookup over a table of the caller's, with arrays exactly as
// large as max_index and stride make them.
void fuzz_lookup(FuzzedDataProvider& fdp) {
    const uint32_t max_index[2] = {fdp.ConsumeIntegralInRange<uint32_t>(0, 16),
                                   fdp.ConsumeIntegralInRange<uint32_t>(0, 16)};
    const uint32_t stride = fdp.ConsumeIntegralInRange<uint32_t>(0, max_index[0] + 3);
    const bool ordered = fdp.ConsumeBool();  // ascending finite breakpoints, moderate entries
    auto breaks = [&](uint32_t m) {
        std::unique_ptr<double[]> b(new double[m + 1]);
        double at = fdp.ConsumeFloatingPointInRange(-1e6, 1e6);
        for (uint32_t i = 0; i <= m; ++i) {
            b[i] = ordered ? at : any_double(fdp);
            at += fdp.ConsumeFloatingPointInRange(1e-3, 1e4);
        }
        return b;
    };
    const std::unique_ptr<double[]> b0 = breaks(max_index[0]), b1 = breaks(max_index[1]);
    const size_t n = max_index[0] + static_cast<size_t>(stride) * max_index[1] + 1;
    const std::unique_ptr<double[]> table(new double[n]);
    for (size_t i = 0; i < n; ++i)
        table[i] = ordered ? fdp.ConsumeFloatingPointInRange(-1e6, 1e6) : any_double(fdp);

    // Inputs: anything, or exactly on a breakpoint.
    const uint32_t k0 = fdp.ConsumeIntegralInRange<uint32_t>(0, max_index[0]);
    const uint32_t k1 = fdp.ConsumeIntegralInRange<uint32_t>(0, max_index[1]);
    const bool on_grid = fdp.ConsumeBool();
    const double x0 = on_grid ? b0[k0] : any_double(fdp);
    const double x1 = on_grid ? b1[k1] : any_double(fdp);
    const std::unique_ptr<uint32_t[]> limits(new uint32_t[2]{max_index[0], max_index[1]});
    const double y = look2_binlcapw(x0, x1, b0.get(), b1.get(), table.get(), limits.get(), stride);
    if (!ordered) return;

    if (on_grid) CHECK(same_bits(y, table[k0 + stride * k1]));
    double lo = table[0], hi = table[0];
    for (size_t i = 0; i < n; ++i) lo = std::min(lo, table[i]), hi = std::max(hi, table[i]);
    const double slack = 1e-9 * std::max(std::fabs(lo), std::fabs(hi));
    CHECK(y >= lo - slack && y <= hi + slack);
}

// A batch gives what single steps give, bit for bit, whatever the thread
// count (0 to 8, workers started beforehand or by the batch itself): every
// output row and every instance's states, over a few periods so the states
// carry on. Rows start from the host's inputs with one input changed each.
void check_batch_matches_single_steps(FuzzedDataProvider& fdp, const double* in) {
    const size_t count = fdp.ConsumeIntegralInRange<size_t>(1, 300);
    const unsigned threads = fdp.ConsumeIntegralInRange(0u, 8u);
    if (fdp.ConsumeBool()) CHECK(GuideW_batch_start(fdp.ConsumeIntegralInRange(0u, 8u)) >= 1u);
    std::vector<GuideWInstance*> single(count), batch(count);
    std::vector<double> rows(count * kInputs), expected(count * kOutputs), got(count * kOutputs);
    for (size_t r = 0; r < count; ++r) {
        single[r] = GuideW_instance_create();
        batch[r] = GuideW_instance_create();
        CHECK(single[r] && batch[r]);
    }
    const int periods = fdp.ConsumeIntegralInRange(1, 4);
    for (int k = 0; k < periods; ++k) {
        for (size_t r = 0; r < count; ++r) {
            std::memcpy(&rows[r * kInputs], in, kInputs * sizeof(double));
            rows[r * kInputs + fdp.ConsumeIntegralInRange(0, kInputs - 1)] = any_double(fdp);
            GuideW_instance_one_step(single[r], &rows[r * kInputs], &expected[r * kOutputs]);
        }
        CHECK(GuideW_step_batch(batch.data(), count, rows.data(), got.data(), threads) == 0);
        CHECK(std::memcmp(expected.data(), got.data(), got.size() * sizeof(double)) == 0);
        for (size_t r = 0; r < count; ++r) {
            CHECK(same_bits(*GuideW_instance_states(single[r]), *GuideW_instance_states(batch[r])));
            CHECK(GuideW_instance_error_status(batch[r]) == nullptr);
        }
    }
    for (size_t r = 0; r < count; ++r) {
        GuideW_instance_destroy(single[r]);
        GuideW_instance_destroy(batch[r]);
    }
}

struct Slots {
    GuideWInstance* m[kSlots] = {};
    ~Slots() {
        for (GuideWInstance* p : m) GuideW_instance_destroy(p);
    }
};

// clang-format off
enum Op {
    kHostInput, kRecordInput, kParam, kTableLimit, kState, kDefaultParams,
    kStep, kOneStep, kOneStepNull, kControl, kGetOutput, kReentry, kSteps,
    kInitialize, kExit, kDisplay, kCompare, kTableIsolation, kLookup,
    kCreate, kDestroy, kInstInitialize, kInstOneStep, kInstStep, kInstInput,
    kInstParam, kInstTableLimit, kInstState, kBatch, kThreadedBatch, kLastOp = kThreadedBatch
};
// clang-format on

}  // namespace

// The console message goes nowhere; libFuzzer reports on standard error.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) fail("cannot silence standard output");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);

    // Every run starts from a freshly loaded library.
    l_u8_TaskLock_Flag = 0;
    GuideW_default_params(&GuideW_P);
    GuideW_initialize();

    double in[kInputs] = GUIDEW_TYPICAL_FLIGHT;
    double out[kOutputs] = {};
    Slots slots;

    for (int ops = 0; ops < 512 && fdp.remaining_bytes() > 0; ++ops) {
        const int slot = fdp.ConsumeIntegralInRange(0, kSlots - 1);
        GuideWInstance*& inst = slots.m[slot];
        switch (static_cast<Op>(fdp.ConsumeIntegralInRange<int>(0, kLastOp))) {
            case kHostInput:
                in[fdp.ConsumeIntegralInRange(0, kInputs - 1)] = any_double(fdp);
                break;
            case kRecordInput:
                set_double(&GuideW_U, fdp.ConsumeIntegralInRange(0, kInputs - 1), any_double(fdp));
                break;
            case kParam:
                set_double(&GuideW_P, fdp.ConsumeIntegralInRange(0, kParamDoubles - 1),
                           any_double(fdp));
                break;
            case kTableLimit:
                GuideW_P.thr_max_index[fdp.ConsumeIntegralInRange(0, 1)] = any_index(fdp);
                break;
            case kState:
                set_double(&GuideW_DW, fdp.ConsumeIntegralInRange(0, kStates - 1), any_double(fdp));
                break;
            case kDefaultParams: GuideW_default_params(&GuideW_P); break;
            case kStep:
                GuideW_step();
                check_step(GuideW_U, GuideW_Y);
                break;
            case kOneStep: {
                const bool run = l_u8_TaskLock_Flag == 0;
                const GuideWInputs before = GuideW_U;
                Guide_OneStep(in);
                if (run) {
                    CHECK(std::memcmp(&GuideW_U, in, sizeof in) == 0);
                    check_step(GuideW_U, GuideW_Y);
                } else {
                    CHECK(same_bits(GuideW_U, before));
                    CHECK(GuideW_M->error_status != nullptr);
                }
                break;
            }
            case kOneStepNull: {
                const uint8_t lock = l_u8_TaskLock_Flag;
                Guide_OneStep(nullptr);
                CHECK(l_u8_TaskLock_Flag == lock);
                break;
            }
            case kControl: Guide_Control(fdp.ConsumeBool() ? in : nullptr); break;
            case kGetOutput: Guide_GetOutput(fdp.ConsumeBool() ? out : nullptr); break;
            case kReentry: l_u8_TaskLock_Flag = fdp.ConsumeIntegral<uint8_t>(); break;
            case kSteps: {  // a stretch of periods, long enough for the manoeuvre timer
                const int n = fdp.ConsumeIntegralInRange(1, 300);
                for (int i = 0; i < n; ++i) {
                    const bool run = l_u8_TaskLock_Flag == 0;
                    Guide_OneStep(in);
                    if (run) check_step(GuideW_U, GuideW_Y);
                }
                Guide_GetOutput(out);
                break;
            }
            case kInitialize:
                GuideW_initialize();
                CHECK(GuideW_M->error_status == nullptr && GuideW_DW.turn_sign == 1.0);
                break;
            case kExit: Guide_Exit(); break;
            case kDisplay: Guide_Display(); break;
            case kCompare: check_instance_matches_static(); break;
            case kTableIsolation: check_table_isolation(); break;
            case kLookup: fuzz_lookup(fdp); break;
            case kCreate:
                GuideW_instance_destroy(inst);
                inst = GuideW_instance_create();
                CHECK(inst != nullptr);
                break;
            case kDestroy:
                GuideW_instance_destroy(inst);
                inst = nullptr;
                break;
            case kInstInitialize:
                if (inst) GuideW_instance_initialize(inst);
                break;
            case kInstOneStep:
                if (inst) {
                    GuideW_instance_one_step(inst, fdp.ConsumeBool() ? in : nullptr,
                                             fdp.ConsumeBool() ? out : nullptr);
                    check_step(*GuideW_instance_inputs(inst), *GuideW_instance_outputs(inst));
                }
                break;
            case kInstStep:
                if (inst) {
                    GuideW_instance_step(inst);
                    check_step(*GuideW_instance_inputs(inst), *GuideW_instance_outputs(inst));
                }
                break;
            case kInstInput:
                if (inst)
                    set_double(GuideW_instance_inputs(inst),
                               fdp.ConsumeIntegralInRange(0, kInputs - 1), any_double(fdp));
                break;
            case kInstParam:
                if (inst)
                    set_double(GuideW_instance_params(inst),
                               fdp.ConsumeIntegralInRange(0, kParamDoubles - 1), any_double(fdp));
                break;
            case kInstTableLimit:
                if (inst)
                    GuideW_instance_params(inst)->thr_max_index[fdp.ConsumeIntegralInRange(0, 1)] =
                        any_index(fdp);
                break;
            case kInstState:
                if (inst)
                    set_double(GuideW_instance_states(inst),
                               fdp.ConsumeIntegralInRange(0, kStates - 1), any_double(fdp));
                break;
            case kBatch: {
                // The live instances, each once, or a list with a hole in it.
                std::vector<GuideWInstance*> list;
                for (GuideWInstance* p : slots.m)
                    if (p) list.push_back(p);
                if (fdp.ConsumeBool()) list.push_back(nullptr);
                const std::unique_ptr<double[]> rows(new double[list.size() * kInputs + 1]);
                const std::unique_ptr<double[]> outs(new double[list.size() * kOutputs + 1]);
                for (size_t r = 0; r < list.size(); ++r)
                    std::memcpy(&rows[r * kInputs], in, sizeof in);
                const int rc = GuideW_step_batch(list.data(), list.size(), rows.get(), outs.get(),
                                                 fdp.ConsumeIntegralInRange(0u, 8u));
                const bool hole = !list.empty() && list.back() == nullptr;
                CHECK(rc == (hole ? -1 : 0));
                break;
            }
            case kThreadedBatch: check_batch_matches_single_steps(fdp, in); break;
        }
    }
    return 0;
}

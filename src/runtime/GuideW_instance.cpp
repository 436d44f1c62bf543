// Instances of the guidance model: the same stage pipeline as the static
// model, over records that each instance owns.
#include "GuideW_instance.h"

#include <atomic>
#include <cstring>
#include <new>

#include "batch_pool.h"
#include "guidance_defaults.h"
#include "guidance_stages.h"

struct GuideWInstance {
    GuideWInputs u{};
    GuideWOutputs y{};
    GuideWParams p = guidance_default_params();
    GuideWStates dw{};
    GuideWModel m{};
    // Set while a step runs, so that a step entered from a second thread is
    // detected instead of racing on the records.
    std::atomic<bool> busy{false};
};

namespace {

const char* const kOverrunText = "Overrun";

// Below this many instances per thread, handing rows to a worker costs more
// than it saves.
constexpr size_t kMinInstancesPerThread = 64;

void copy_in(GuideWInputs& u, const double* inputs) { std::memcpy(&u, inputs, sizeof u); }

void copy_out(double* outputs, const GuideWOutputs& y) { std::memcpy(outputs, &y, sizeof y); }

void guarded_step(GuideWInstance& inst, const double* inputs, double* outputs) {
    if (inst.busy.exchange(true, std::memory_order_acquire)) {
        inst.m.error_status = kOverrunText;
        return;
    }
    if (inputs != nullptr) copy_in(inst.u, inputs);
    guidance_step(inst.u, inst.p, inst.dw, inst.y);
    if (outputs != nullptr) copy_out(outputs, inst.y);
    inst.busy.store(false, std::memory_order_release);
}

// One batch call's arrays.
struct BatchJob {
    GuideWInstance* const* models;
    const double* inputs;
    double* outputs;
};

void step_rows(const void* job, size_t begin, size_t end) {
    const BatchJob& b = *static_cast<const BatchJob*>(job);
    for (size_t i = begin; i < end; ++i) {
        guarded_step(*b.models[i], b.inputs + i * GUIDEW_INPUT_COUNT,
                     b.outputs + i * GUIDEW_OUTPUT_COUNT);
    }
}

// Worker threads worth waking besides the caller's: below
// kMinInstancesPerThread rows per thread, the hand-over costs more than it
// saves.
size_t batch_helpers(size_t count, unsigned threads) {
    size_t wanted = threads == 0 ? 1 : threads;
    const size_t useful = (count + kMinInstancesPerThread - 1) / kMinInstancesPerThread;
    if (wanted > useful) wanted = useful;
    return wanted - 1;
}

}  // namespace

static_assert(sizeof(GuideWInputs) == GUIDEW_INPUT_COUNT * sizeof(double), "inputs are an array");
static_assert(sizeof(GuideWOutputs) == GUIDEW_OUTPUT_COUNT * sizeof(double),
              "outputs are an array");

extern "C" {

GuideWInstance* GuideW_instance_create(void) {
    GuideWInstance* m = new (std::nothrow) GuideWInstance;
    if (m != nullptr) GuideW_instance_initialize(m);
    return m;
}

void GuideW_instance_destroy(GuideWInstance* m) { delete m; }

void GuideW_instance_initialize(GuideWInstance* m) {
    m->m.error_status = nullptr;
    m->dw = kFreshStates;
    m->u = GuideWInputs{};
    m->y = GuideWOutputs{};
}

void GuideW_instance_step(GuideWInstance* m) { guarded_step(*m, nullptr, nullptr); }

void GuideW_instance_one_step(GuideWInstance* m, const double* inputs, double* outputs) {
    guarded_step(*m, inputs, outputs);
}

GuideWInputs* GuideW_instance_inputs(GuideWInstance* m) { return &m->u; }
GuideWOutputs* GuideW_instance_outputs(GuideWInstance* m) { return &m->y; }
GuideWParams* GuideW_instance_params(GuideWInstance* m) { return &m->p; }
GuideWStates* GuideW_instance_states(GuideWInstance* m) { return &m->dw; }

const char* GuideW_instance_error_status(const GuideWInstance* m) { return m->m.error_status; }

int GuideW_step_batch(GuideWInstance* const* models, size_t count, const double* inputs,
                      double* outputs, unsigned threads) {
    if (count == 0) return 0;
    if (models == nullptr || inputs == nullptr || outputs == nullptr) return -1;
    for (size_t i = 0; i < count; ++i) {
        if (models[i] == nullptr) return -1;
    }

    const BatchJob job{models, inputs, outputs};
    const size_t helpers = batch_helpers(count, threads);
    if (helpers == 0) {
        step_rows(&job, 0, count);
    } else {
        batch_pool_run(step_rows, &job, count, helpers);
    }
    return 0;
}

unsigned GuideW_batch_start(unsigned threads) {
    const size_t wanted = threads == 0 ? 0 : threads - 1u;
    return static_cast<unsigned>(batch_pool_start(wanted) + 1u);
}

void GuideW_default_params(GuideWParams* out) { *out = guidance_default_params(); }
}

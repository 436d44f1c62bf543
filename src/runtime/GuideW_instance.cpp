// Instances of the guidance model: the same stage pipeline as the static
// model, over records that each instance owns.
#include "GuideW_instance.h"

#include <atomic>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

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

// Below this many instances per thread, starting a thread costs more than
// it saves.
constexpr size_t kMinInstancesPerThread = 64;

void copy_in(GuideWInputs& u, const double* inputs) {
    std::memcpy(&u, inputs, sizeof u);
}

void copy_out(double* outputs, const GuideWOutputs& y) {
    std::memcpy(outputs, &y, sizeof y);
}

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

void step_rows(GuideWInstance* const* models, size_t begin, size_t end,
               const double* inputs, double* outputs) {
    for (size_t i = begin; i < end; ++i) {
        guarded_step(*models[i], inputs + i * GUIDEW_INPUT_COUNT, outputs + i * GUIDEW_OUTPUT_COUNT);
    }
}

}  // namespace

static_assert(sizeof(GuideWInputs) == GUIDEW_INPUT_COUNT * sizeof(double), "inputs are an array");
static_assert(sizeof(GuideWOutputs) == GUIDEW_OUTPUT_COUNT * sizeof(double), "outputs are an array");

extern "C" {

GuideWInstance* GuideW_instance_create(void) {
    GuideWInstance* m = new (std::nothrow) GuideWInstance;
    if (m != nullptr) GuideW_instance_initialize(m);
    return m;
}

void GuideW_instance_destroy(GuideWInstance* m) {
    delete m;
}

void GuideW_instance_initialize(GuideWInstance* m) {
    m->m.error_status = nullptr;
    m->dw = kFreshStates;
    m->u = GuideWInputs{};
    m->y = GuideWOutputs{};
}

void GuideW_instance_step(GuideWInstance* m) {
    guarded_step(*m, nullptr, nullptr);
}

void GuideW_instance_one_step(GuideWInstance* m, const double* inputs, double* outputs) {
    guarded_step(*m, inputs, outputs);
}

GuideWInputs* GuideW_instance_inputs(GuideWInstance* m) { return &m->u; }
GuideWOutputs* GuideW_instance_outputs(GuideWInstance* m) { return &m->y; }
GuideWParams* GuideW_instance_params(GuideWInstance* m) { return &m->p; }
GuideWStates* GuideW_instance_states(GuideWInstance* m) { return &m->dw; }

const char* GuideW_instance_error_status(const GuideWInstance* m) {
    return m->m.error_status;
}

int GuideW_step_batch(GuideWInstance* const* models, size_t count, const double* inputs,
                      double* outputs, unsigned threads) {
    if (count == 0) return 0;
    if (models == nullptr || inputs == nullptr || outputs == nullptr) return -1;
    for (size_t i = 0; i < count; ++i) {
        if (models[i] == nullptr) return -1;
    }

    size_t workers = threads == 0 ? 1 : threads;
    const size_t useful = (count + kMinInstancesPerThread - 1) / kMinInstancesPerThread;
    if (workers > useful) workers = useful;
    if (workers <= 1) {
        step_rows(models, 0, count, inputs, outputs);
        return 0;
    }

    // Contiguous shares of rows. This thread takes the first share, and the
    // rows of any share whose thread cannot be started (no memory, no thread
    // left), so that no exception crosses the C boundary.
    const size_t share = (count + workers - 1) / workers;
    const size_t first_end = share < count ? share : count;
    std::vector<std::thread> pool;
    size_t taken = first_end;  // rows below this have an owner
    try {
        pool.reserve(workers - 1);
        while (pool.size() + 1 < workers && taken < count) {
            const size_t end = taken + share < count ? taken + share : count;
            pool.emplace_back(step_rows, models, taken, end, inputs, outputs);
            taken = end;
        }
    } catch (...) {
        // Rows from `taken` on are stepped below, on this thread.
    }
    step_rows(models, 0, first_end, inputs, outputs);
    step_rows(models, taken, count, inputs, outputs);
    for (std::thread& t : pool) t.join();
    return 0;
}

void GuideW_default_params(GuideWParams* out) {
    *out = guidance_default_params();
}

}

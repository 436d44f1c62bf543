/* GuideW instances: any number of independent guidance models in one
 * process, each with its own inputs, outputs, parameters, states and error
 * status. C linkage, so any language with a foreign-function interface can
 * call it.
 *
 *   GuideWInstance* m = GuideW_instance_create();  // initialised, default parameters
 *   GuideW_instance_params(m)->roll_kp = 3.0;       // optional retuning
 *   for (;;) {                                      // every 0.01 s
 *       GuideW_instance_one_step(m, inputs19, outputs4);
 *   }
 *   GuideW_instance_destroy(m);
 *
 * An instance computes exactly what the static model (GuideW_step on the
 * module-level records) computes for the same inputs, parameters and
 * states: both run the same code.
 *
 * Threads: different instances may be stepped from different threads at the
 * same time. One instance must be used by one thread at a time; a step that
 * starts while another step of the same instance is still running is
 * skipped and reported as "Overrun" in that instance's error status. */
#ifndef GUIDEW_INSTANCE_H
#define GUIDEW_INSTANCE_H

#include <stddef.h>

#include "GuideW_constants.h"
#include "GuideW_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct GuideWInstance GuideWInstance;

/* A new instance, initialised, with parameters at their build-time defaults
 * (not the current contents of GuideW_P). NULL when out of memory. */
GUIDEW_API GuideWInstance* GuideW_instance_create(void);

/* Releases an instance; NULL is ignored. */
GUIDEW_API void GuideW_instance_destroy(GuideWInstance* m);

/* Restarts an instance as GuideW_initialize restarts the static model:
 * clears inputs, outputs, states and the error status, sets turn_sign to 1
 * and keeps the parameters. */
GUIDEW_API void GuideW_instance_initialize(GuideWInstance* m);

/* One 0.01 s step on the instance's own records. */
GUIDEW_API void GuideW_instance_step(GuideWInstance* m);

/* Copies 19 inputs in (array order of GuideWInputs), steps, and copies the
 * 4 outputs out (lat_cmd, nz_cmd, throttle_cmd, aux_out). A NULL inputs
 * array steps on the inputs already held; a NULL outputs array copies
 * nothing out. */
GUIDEW_API void GuideW_instance_one_step(GuideWInstance* m, const double* inputs, double* outputs);

/* The instance's records, to read and write between steps. The pointers
 * stay valid until the instance is destroyed. */
GUIDEW_API GuideWInputs* GuideW_instance_inputs(GuideWInstance* m);
GUIDEW_API GuideWOutputs* GuideW_instance_outputs(GuideWInstance* m);
GUIDEW_API GuideWParams* GuideW_instance_params(GuideWInstance* m);
GUIDEW_API GuideWStates* GuideW_instance_states(GuideWInstance* m);

/* The instance's error status: NULL, or "Overrun". */
GUIDEW_API const char* GuideW_instance_error_status(const GuideWInstance* m);

/* Steps count distinct instances at once: row i of inputs (count x 19
 * doubles, row-major) goes into models[i], whose outputs are written to row
 * i of outputs (count x 4). With threads > 1 the rows are shared among up to
 * that many threads (the caller's and workers kept between calls, see
 * GuideW_batch_start; at least 64 rows per thread); the results do not
 * depend on the thread count. Once the workers run, a batch starts no thread
 * and allocates no memory. A batch called while another thread's batch is
 * using the workers runs on its caller's thread alone.
 * Returns 0 (also for count 0, whatever the arrays), or -1 without stepping
 * anything when an array or one of the instances is NULL. An instance listed twice is stepped twice
 * (in one thread: in order; across threads: one of the two reports "Overrun"), so list each at most
 * once. */
GUIDEW_API int GuideW_step_batch(GuideWInstance* const* models, size_t count, const double* inputs,
                                 double* outputs, unsigned threads);

/* Starts the worker threads of GuideW_step_batch ahead of time, enough for
 * batches on `threads` threads (the caller's included), so that the first
 * batch pays no thread start. Optional: a batch asking for more threads than
 * are running starts the missing ones itself. The workers are shared by
 * every batch, live until the library is unloaded, and wait asleep between
 * batches. Returns once every worker is ready, with the number of threads
 * batches can now use, caller's included: less than asked when the system
 * cannot start more threads or beyond 64. */
GUIDEW_API unsigned GuideW_batch_start(unsigned threads);

/* The build-time parameter defaults. */
GUIDEW_API void GuideW_default_params(GuideWParams* out);

/* The library's version, "MAJOR.MINOR.PATCH" (the CMake package's version):
 * a static string, for a host that loads the library with dlopen to check
 * what it loaded. Before 1.0 a minor release may change the records'
 * layout, so such a host compares the major and minor numbers with those
 * it was built for. */
GUIDEW_API const char* GuideW_version(void);

#ifdef __cplusplus
}
#endif

#endif

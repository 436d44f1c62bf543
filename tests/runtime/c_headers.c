/* The installed headers from C: the static model through its records and
 * the C entry points, the lookup and an instance, all linked against
 * libGuide.so as a C host links it. Exits non-zero on the first wrong value. */
#include <stdio.h>
#include <string.h>

#include "Guide.h"
#include "GuideW.h"
#include "GuideW_instance.h"
#include "typical_flight.h"

static int failures = 0;

static void expect_same(const char* what, const double* got, const double* want, size_t n) {
    if (memcmp(got, want, n * sizeof *got) != 0) {
        fprintf(stderr, "%s: not the typical flight's commands\n", what);
        ++failures;
    }
}

int main(void) {
    const double* in = &kTypicalFlight.speed_cmd;
    const double* want = &kTypicalCommands.lat_cmd;
    double out[4];

    GuideW_initialize();
    Guide_OneStep(in);
    Guide_GetOutput(out);
    expect_same("Guide_OneStep", out, want, 4);
    if (GuideW_DW.turn_sign != 1.0 || GuideW_M->error_status != NULL) {
        fprintf(stderr, "records after the step\n");
        ++failures;
    }

    Guide_Control(in);
    GuideW_step();
    expect_same("GuideW_step", &GuideW_Y.lat_cmd, want, 4);
    Guide_Exit();

    /* The trim table's first entry, at sea level and 100 m/s. */
    if (look2_binlcapw(0.0, 100.0, GuideW_P.thr_alt_bp, GuideW_P.thr_spd_bp, GuideW_P.thr_table,
                       GuideW_P.thr_max_index, 11u) != 0.266878) {
        fprintf(stderr, "look2_binlcapw\n");
        ++failures;
    }

    GuideWInstance* m = GuideW_instance_create();
    if (m == NULL) return 1;
    GuideW_instance_one_step(m, in, out);
    expect_same("instance", out, want, 4);
    GuideW_instance_destroy(m);
    return failures == 0 ? 0 : 1;
}

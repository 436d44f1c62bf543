/* A C host of the installed library, built with the flags of
 * `pkg-config --cflags --libs guidew`: two aircraft in one process, in level
 * flight north at 3000 m, both commanded 30 deg right and 5 deg up at
 * 220 m/s. One is stepped from an input array, the other through its own
 * records; both saturate the roll law (lat_cmd 150). */
#include <stdio.h>
#include <string.h>

#include "GuideW_instance.h"

int main(void) {
    const double in[19] = {220, 5, 30, 0, 0, 0, 0, 1, 0, 0, 0, 200, 0, 200, 0, 0, 3000, 0, 7};
    double first[4] = {0}, second[4];
    GuideWInstance* a = GuideW_instance_create();
    GuideWInstance* b = GuideW_instance_create();
    if (a == NULL || b == NULL) return 1;

    GuideW_instance_one_step(a, in, first);
    memcpy(GuideW_instance_inputs(b), in, sizeof in);
    GuideW_instance_step(b);
    memcpy(second, GuideW_instance_outputs(b), sizeof second);

    printf("lat_cmd %.17g nz_cmd %.17g throttle_cmd %.17g aux_out %.17g\n", first[0], first[1],
           first[2], first[3]);
    int ok = first[0] == 150.0 && first[3] == 7.0 && memcmp(first, second, sizeof first) == 0 &&
             GuideW_instance_error_status(a) == NULL;
    GuideW_instance_destroy(a);
    GuideW_instance_destroy(b);
    return ok ? 0 : 1;
}

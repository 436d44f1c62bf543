// A C++ host of the installed library: level flight north at 3000 m, a
// command 30 deg right and 5 deg up at 220 m/s. The bank error of about
// 71 deg saturates the roll law, so the first lateral command is 150.
#include <cstdio>
#include <cstring>

#include "Guide.h"
#include "GuideW_instance.h"

int main() {
    const double in[19] = {220, 5, 30, 0, 0, 0, 0, 1, 0, 0, 0, 200, 0, 200, 0, 0, 3000, 0, 7};
    double own[4] = {}, shared[4] = {};

    GuideWInstance* m = GuideW_instance_create();
    if (m == nullptr) return 1;
    GuideW_instance_one_step(m, in, own);
    GuideW_instance_destroy(m);

    // The module-level model, through the wrapper, flies the same step.
    GuideW_initialize();
    Guide_OneStep(in);
    Guide_GetOutput(shared);
    Guide_Exit();

    std::printf("lat_cmd %.17g nz_cmd %.17g throttle_cmd %.17g aux_out %.17g\n", own[0], own[1],
                own[2], own[3]);
    if (own[0] != 150.0 || own[3] != 7.0) return 1;
    if (std::memcmp(own, shared, sizeof own) != 0) {
        std::puts("instance and module-level model differ");
        return 1;
    }
    return 0;
}

// guide-step: load libGuide.so, run one step of the guidance law and print
// the four outputs by name.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "guide_fields.h"
#include "guide_library.h"

namespace {

const char* const kUsage =
    "usage: guide-step [--library PATH] [NAME=VALUE ...]\n"
    "\n"
    "Loads libGuide.so, initialises the model, runs one 0.01 s step and\n"
    "prints lat_cmd, nz_cmd, throttle_cmd and aux_out.\n"
    "\n"
    "The default inputs fly level and wings level at 200 m/s towards\n"
    "azimuth 0 at 3000 m, commanded 30 deg right and 5 deg up at 220 m/s\n"
    "in mode 1. NAME=VALUE changes one input, for example azim_cmd=60.\n"
    "\n"
    "  --library PATH  the library to load (default: libGuide.so next to\n"
    "                  this program)\n"
    "  -h, --help      show this text\n";

// Level flight at 200 m/s heading 0, target 30 deg right and 5 deg up.
void typical_inputs(double in[19]) {
    const double typical[19] = {
        220.0, 5.0, 30.0,          // speed_cmd, elev_cmd, azim_cmd
        0.0, 0.0, 0.0, 0.0, 1.0,   // ext_weight, ext_nz, ext_bank, ext_throttle, mode
        0.0, 0.0, 0.0, 200.0,      // yaw, pitch, roll, tas
        0.0, 200.0, 0.0, 0.0,      // vel_up, vel_north, vel_east, roll_rate
        3000.0, 0.0, 7.0};         // altitude, ext_lat, aux_in
    std::memcpy(in, typical, sizeof typical);
}

bool parse_assignment(const char* arg, double in[19]) {
    const char* eq = std::strchr(arg, '=');
    if (eq == nullptr) {
        std::fprintf(stderr, "guide-step: '%s' is not NAME=VALUE\n", arg);
        return false;
    }
    const std::string name(arg, static_cast<size_t>(eq - arg));
    const int idx = field_index(kInputNames, kInputCount, name);
    if (idx < 0) {
        std::fprintf(stderr, "guide-step: unknown input '%s'; inputs are:", name.c_str());
        for (const char* n : kInputNames) std::fprintf(stderr, " %s", n);
        std::fprintf(stderr, "\n");
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(eq + 1, &end);
    if (end == eq + 1 || *end != '\0') {
        std::fprintf(stderr, "guide-step: value of %s is not a number: '%s'\n",
                     name.c_str(), eq + 1);
        return false;
    }
    in[idx] = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string library = default_library_path();
    double in[19];
    typical_inputs(in);

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--library") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "guide-step: --library needs a path\n");
                return 2;
            }
            library = argv[++i];
        } else if (!parse_assignment(argv[i], in)) {
            return 2;
        }
    }

    GuideLibrary lib;
    std::string error;
    if (!load_guide_library(library, lib, error)) {
        std::fprintf(stderr, "guide-step: %s\n", error.c_str());
        return 1;
    }
    lib.initialize();
    lib.one_step(in);
    double out[4];
    lib.get_output(out);
    lib.guide_exit();

    for (int i = 0; i < 4; ++i) {
        std::printf("%-13s %.17g\n", kOutputNames[i], out[i]);
    }
    return 0;
}

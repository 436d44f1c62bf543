// The library's version, for hosts that load the library at run time and
// must know which one they got. The number is the CMake project's, written
// into library_version.h by scripts/generate.sh.
#include "GuideW_instance.h"
#include "library_version.h"

const char* GuideW_version(void) { return GUIDEW_LIBRARY_VERSION; }

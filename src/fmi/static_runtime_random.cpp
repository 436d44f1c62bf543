// The random source the statically linked C++ runtime asks for, kept inside
// the FMU so that the FMU runs on older Linux systems.
//
// GCC 12's libstdc++.a was built against glibc 2.36 and its
// std::random_device calls arc4random, new in that glibc. The FMU never
// makes a random_device, but the object comes along with the runtime's
// string and exception code, and its reference alone would make the loader
// refuse the FMU on every glibc before 2.36 (Ubuntu 22.04 among them).
// Defined here (local to the binary: the version script exports only the
// standard's functions), the reference resolves inside the FMU, on top of
// getentropy (glibc 2.25). The law never draws random numbers; nothing it
// computes passes through here.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>

extern "C" uint32_t arc4random(void) noexcept {
    uint32_t value = 0;
    // getentropy fails only for a request over 256 bytes or when the
    // kernel has no random source at all; nothing sensible can follow then.
    if (getentropy(&value, sizeof value) != 0) abort();
    return value;
}

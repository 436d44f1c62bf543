// The emergency exception pool of the statically linked C++ runtime, handed
// back when the FMU is unloaded.
//
// libstdc++ sets aside a pool for exceptions thrown when memory has run out:
// 72,704 bytes, taken from malloc while the binary is being loaded. GCC 12's
// runtime never frees it by itself (it offers no tunable to make it smaller
// either; GLIBCXX_TUNABLES came with GCC 13); only __gnu_cxx::__freeres
// does, which it provides for leak checkers. An importer that loads and
// unloads the FMU for every simulation (FMPy's simulate_fmu does) would
// lose the pool on every run: 730 MB after 10,000 runs in one process.
//
// The pool freed here is the FMU's own copy: the runtime is linked in and
// the version script keeps all of it local, so the host's C++ runtime, if
// it has one, is never touched. This object's destructor runs when the
// binary is really unloaded (dlclose of its last handle) or at exit. Built
// first (the highest priority a program may give), it is destroyed last,
// after every other static object of the binary: nothing of the FMU runs
// after it, so nothing can throw into the freed pool.
//
// Linked only with the static runtime: a shared libstdc++ (the sanitizer
// build) keeps one pool for the whole process, which is not the FMU's to
// free.
namespace __gnu_cxx {
void __freeres();
}

namespace {

struct EmergencyPoolRelease {
    EmergencyPoolRelease() = default;
    EmergencyPoolRelease(const EmergencyPoolRelease&) = delete;
    EmergencyPoolRelease& operator=(const EmergencyPoolRelease&) = delete;
    ~EmergencyPoolRelease() { __gnu_cxx::__freeres(); }
};

__attribute__((init_priority(101))) const EmergencyPoolRelease release_at_unload;

}  // namespace

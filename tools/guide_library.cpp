#include "guide_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

std::string executable_dir() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    const std::string path(exe, static_cast<size_t>(n));
    return path.substr(0, path.find_last_of('/') + 1);
}

std::string default_library_path() {
    // In the build tree the library sits beside the programs; once installed
    // it is in lib/, which the loader finds by its plain name through the
    // programs' run path.
    const std::string beside = executable_dir() + "libGuide.so";
    return access(beside.c_str(), F_OK) == 0 ? beside : "libGuide.so";
}

namespace {

template <typename T>
bool resolve(void* handle, const char* name, T& out, std::string& error) {
    void* sym = dlsym(handle, name);
    if (sym == nullptr) {
        error = std::string("symbol ") + name + " not found";
        return false;
    }
    out = reinterpret_cast<T>(sym);
    return true;
}

}  // namespace

bool load_guide_library(const std::string& path, GuideLibrary& lib,
                        std::string& error) {
    lib.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib.handle == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why ? why : "unknown error");
        return false;
    }
    // The model functions carry C++ names; the wrapper's are plain C.
    return resolve(lib.handle, "_Z17GuideW_initializev", lib.initialize, error) &&
           resolve(lib.handle, "_Z11GuideW_stepv", lib.step, error) &&
           resolve(lib.handle, "_Z16GuideW_terminatev", lib.terminate, error) &&
           resolve(lib.handle, "Guide_OneStep", lib.one_step, error) &&
           resolve(lib.handle, "Guide_GetOutput", lib.get_output, error) &&
           resolve(lib.handle, "Guide_Exit", lib.guide_exit, error) &&
           resolve(lib.handle, "GuideW_U", lib.inputs, error) &&
           resolve(lib.handle, "GuideW_Y", lib.outputs, error) &&
           resolve(lib.handle, "GuideW_P", lib.params, error) &&
           resolve(lib.handle, "GuideW_DW", lib.states, error);
}

#include "guide_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "tool_error.h"

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
void resolve(void* handle, const std::string& path, const char* name, T& out) {
    void* sym = dlsym(handle, name);
    if (sym == nullptr) fail(kExitEnvironment, path + ": symbol " + name + " not found");
    out = reinterpret_cast<T>(sym);
}

// An entry point the library may lack: left null.
template <typename T>
void resolve_optional(void* handle, const char* name, T& out) {
    out = reinterpret_cast<T>(dlsym(handle, name));
}

}  // namespace

GuideLibrary load_guide_library(const std::string& path) {
    GuideLibrary lib;
    lib.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib.handle == nullptr) {
        const char* why = dlerror();
        fail(kExitEnvironment, "cannot load " + path + ": " + (why ? why : "unknown error"));
    }
    // The model functions carry C++ names; the wrapper's are plain C.
    resolve(lib.handle, path, "_Z17GuideW_initializev", lib.initialize);
    resolve(lib.handle, path, "_Z11GuideW_stepv", lib.step);
    resolve(lib.handle, path, "_Z16GuideW_terminatev", lib.terminate);
    resolve(lib.handle, path, "Guide_OneStep", lib.one_step);
    resolve(lib.handle, path, "Guide_GetOutput", lib.get_output);
    resolve(lib.handle, path, "Guide_Exit", lib.guide_exit);
    resolve(lib.handle, path, "GuideW_U", lib.inputs);
    resolve(lib.handle, path, "GuideW_Y", lib.outputs);
    resolve(lib.handle, path, "GuideW_P", lib.params);
    resolve(lib.handle, path, "GuideW_DW", lib.states);
    GuideInstanceCalls& in = lib.instances;
    resolve_optional(lib.handle, "GuideW_instance_create", in.create);
    resolve_optional(lib.handle, "GuideW_instance_destroy", in.destroy);
    resolve_optional(lib.handle, "GuideW_instance_initialize", in.initialize);
    resolve_optional(lib.handle, "GuideW_instance_one_step", in.one_step);
    resolve_optional(lib.handle, "GuideW_instance_outputs", in.outputs);
    resolve_optional(lib.handle, "GuideW_instance_params", in.params);
    resolve_optional(lib.handle, "GuideW_instance_states", in.states);
    return lib;
}

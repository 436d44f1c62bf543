// The libGuide.so a benchmark flies, loaded once as guide-sim loads it; a
// library that cannot be loaded ends the benchmark with its reason.
#ifndef BENCH_LOADED_LIBRARY_H
#define BENCH_LOADED_LIBRARY_H

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "guide_library.h"

inline const GuideLibrary& loaded_library() {
    static const GuideLibrary lib = [] {
        try {
            return load_guide_library(GUIDE_LIBRARY_PATH);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            std::exit(1);
        }
    }();
    return lib;
}

#endif

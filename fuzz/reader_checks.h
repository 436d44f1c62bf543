// What every reader's fuzz target demands of a refusal: a message that
// starts with the place of the fault (the file's name, then a line, a key
// path or a column), stays on one line of bounded length and shows no raw
// control character, whatever bytes the input held.
#ifndef READER_CHECKS_H
#define READER_CHECKS_H

#include <cstdio>
#include <cstdlib>
#include <string>

// A refusal's message may list every valid parameter name; beyond that it
// holds a few quoted values of bounded length.
constexpr size_t kMaxMessage = 2000;

inline void check_refusal(const std::string& message, const std::string& place) {
    bool ok = message.rfind(place, 0) == 0 && message.size() <= kMaxMessage;
    for (const char c : message) ok = ok && static_cast<unsigned char>(c) >= 0x20 && c != 0x7f;
    if (!ok) {
        std::fprintf(stderr, "refusal not at %s, too long or with control characters: %s\n",
                     place.c_str(), message.c_str());
        std::abort();
    }
}

[[noreturn]] inline void fault(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

#endif

/* printf-style formatting into a std::string, for the messages our
 * programs build (an FMU's logged reasons, the simulator's failed checks).
 * A message is cut at kFormattedTextMax characters: these are one-line
 * reasons, and a fixed buffer keeps them off the heap until the string is
 * made. */
#ifndef GUIDEW_TEXT_FORMAT_H
#define GUIDEW_TEXT_FORMAT_H

#include <cstdarg>
#include <cstdio>
#include <string>

namespace guidew_text {

constexpr std::size_t kFormattedTextMax = 511;

__attribute__((format(printf, 1, 2))) inline std::string format(const char* pattern, ...) {
    char text[kFormattedTextMax + 1];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

}  // namespace guidew_text

#endif

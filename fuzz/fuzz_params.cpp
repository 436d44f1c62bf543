// libFuzzer target: the parameter readers, a --params file's text and a
// --set NAME=VALUE. Any bytes either load or are refused at "p.txt:LINE: "
// (or "--set: "). What loads, written back as guide-sim writes a .params
// file, reads back to the same parameters bit for bit, and writing those
// gives the same text again.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "guide_fields.h"
#include "reader_checks.h"
#include "record_fields.h"
#include "tool_error.h"
#include "values.h"

namespace {

GuideWParams applied(const std::vector<Assignment>& list) {
    GuideWParams p{};
    for (const Assignment& a : list) set_parameter(p, a.name, a.value);
    return p;
}

// Equal to the bit, except that any NaN equals any NaN: a file says "nan".
bool same(const GuideWParams& a, const GuideWParams& b) {
    const char* pa = reinterpret_cast<const char*>(&a);
    const char* pb = reinterpret_cast<const char*>(&b);
    for (const guidew_fields::ParamField& f : guidew_fields::kParams) {
        const int n = f.length == 0 ? 1 : f.length;
        for (int i = 0; i < n; ++i) {
            if (f.is_integer) {
                if (reinterpret_cast<const uint32_t*>(pa + f.offset)[i] !=
                    reinterpret_cast<const uint32_t*>(pb + f.offset)[i])
                    return false;
                continue;
            }
            const double x = reinterpret_cast<const double*>(pa + f.offset)[i];
            const double z = reinterpret_cast<const double*>(pb + f.offset)[i];
            if (std::isnan(x) ? !std::isnan(z) : std::memcmp(&x, &z, sizeof x) != 0) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // The first line also stands for one --set argument.
    const std::string first = text.substr(0, text.find('\n'));
    try {
        parse_parameter_assignment(first, "--set");
    } catch (const ToolError& e) {
        check_refusal(e.what(), "--set: ");
    }

    std::vector<Assignment> list;
    try {
        list = parse_parameter_text(text, "p.txt");
    } catch (const ToolError& e) {
        check_refusal(e.what(), "p.txt:");
        return 0;
    }
    const GuideWParams p = applied(list);
    const std::string written = parameter_text(p);
    const GuideWParams again = applied(parse_parameter_text(written, "written"));
    if (!same(p, again)) fault("parameters changed on the way through a file");
    if (parameter_text(again) != written)
        fault("writing the parameters read back changed the text");
    return 0;
}

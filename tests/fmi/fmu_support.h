// A small FMU importer for the FMU tests: unpacks the zip, parses the model
// description, loads the binary, collects log messages; and the varied
// flight the life-cycle tests fly.
#ifndef FMU_SUPPORT_H
#define FMU_SUPPORT_H

#include <dlfcn.h>

#include <cstdint>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "GuideW_instance.h"

namespace fmu_test {

// The FMU unpacked into a fresh temporary directory (removed afterwards).
class Unpacked {
public:
    explicit Unpacked(const std::string& fmu_path);
    ~Unpacked();
    const std::string& dir() const { return dir_; }
    const std::vector<std::string>& entries() const { return entries_; }
    std::string path(const std::string& entry) const { return dir_ + "/" + entry; }

private:
    std::string dir_;
    std::vector<std::string> entries_;
};

// The binary, loaded as an importer loads it; sym() fails the test when a
// function is missing.
class Binary {
public:
    explicit Binary(const std::string& so_path);
    ~Binary();
    void* raw(const char* name) const;
    template <class F>
    F sym(const char* name) const {
        return reinterpret_cast<F>(raw(name));
    }

private:
    void* handle_;
};

// The names in the binary's dynamic symbol table that it defines, and the
// libraries it needs (readelf/nm output).
std::vector<std::string> exported_symbols(const std::string& so_path);
std::vector<std::string> needed_libraries(const std::string& so_path);
// The symbol versions the binary asks of those libraries ("GLIBC_2.29",
// "GLIBCXX_3.4.29", ...), from its version-needs section.
std::vector<std::string> required_versions(const std::string& so_path);
// The highest "GLIBC_x.y[.z]" among them as {x, y, z}; {} when none.
std::vector<int> highest_glibc(const std::vector<std::string>& versions);
// The glibc the README states the FMU needs ("glibc X.Y or later" in its
// FMU section), as {X, Y}; {} when it states none.
std::vector<int> readme_glibc(const std::string& readme_path);
// Checks what both FMU binaries must hold to travel: only glibc's own
// libraries needed, no C++ or GCC runtime version asked for, and exactly
// the glibc the README states as the highest version asked for.
void expect_only_glibc(const std::string& so_path, const std::string& readme_path);

// The model description: its variables by name and in their order.
// variable_element names the variables' element (FMI 2.0:
// "ScalarVariable"); nullptr takes every child of ModelVariables (FMI 3.0
// names them by type).
struct ModelDescription {
    ModelDescription(const std::string& path, const char* variable_element);
    pugi::xml_document doc;
    pugi::xml_node root;  // fmiModelDescription
    std::map<std::string, pugi::xml_node> var;
    std::vector<pugi::xml_node> ordered;
    // The variable's valueReference; throws for a name it does not declare.
    unsigned value_reference(const std::string& name) const;
};

// Log messages a test instance received.
struct LogRecord {
    int status;
    std::string category;
    std::string message;
};
struct LogBook {
    std::vector<LogRecord> records;
    bool any_containing(const std::string& text) const;
    std::string last() const { return records.empty() ? "" : records.back().message; }
};

// ---- The varied flight ---------------------------------------------------------------
// Inputs for step k of a flight that visits every mode, turns through
// north (azimuth wrap), flies fast and slow, high and low, upright and
// inverted, with the external commands mixed in; deterministic.
GuideWInputs flight_inputs(int k);

// The step a host hands over to go `steps` law steps on from point t: the
// difference of its next and present points, rounded as doubles near t are
// (from a late start time, a few spacings off a whole number of law steps).
inline double host_step(double t, int steps) { return (t + steps * 0.01) - t; }

// Fails for each input whose declared range (min and max of the node
// `holder` gives for its variable) leaves out its start value or a value the
// varied flight gives it: an importer told the range may refuse it.
void expect_flight_within_declared_ranges(const ModelDescription& md,
                                          pugi::xml_node (*holder)(pugi::xml_node));

// Where a variable named as in the FMU lives in a reference instance of the
// instance API: an input, a scalar parameter, a whole parameter array (FMI
// 3.0: the record's order), or one FMI 2.0 element "name[i]" /
// "thr_table[s,a]" (1-based). Throws for any other name.
double* record_slot(GuideWInstance* m, const std::string& name);

// Reads a double written by the model description (shortest round-trip
// text) back to the same bits.
double parse_double(const char* text);
std::vector<double> parse_doubles(const char* text);

bool same_bits(double a, double b);

}  // namespace fmu_test

#endif

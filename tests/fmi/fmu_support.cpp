#include "fmu_support.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "record_fields.h"

namespace fmu_test {

Unpacked::Unpacked(const std::string& fmu_path) {
    char pattern[] = "/tmp/fmu_test_XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = made;
    int err = 0;
    zip_t* z = zip_open(fmu_path.c_str(), ZIP_RDONLY, &err);
    if (z == nullptr) throw std::runtime_error("cannot open " + fmu_path + " as a zip");
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        const std::string name = zip_get_name(z, static_cast<zip_uint64_t>(i), 0);
        entries_.push_back(name);
        if (name.empty() || name.back() == '/') continue;
        if (name.find("..") != std::string::npos || name[0] == '/') {
            throw std::runtime_error("unsafe entry " + name);
        }
        const std::filesystem::path out = std::filesystem::path(dir_) / name;
        std::filesystem::create_directories(out.parent_path());
        zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
        std::ofstream o(out, std::ios::binary);
        char buf[65536];
        zip_int64_t got;
        while ((got = zip_fread(f, buf, sizeof buf)) > 0) o.write(buf, got);
        zip_fclose(f);
    }
    zip_close(z);
}

Unpacked::~Unpacked() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

ModelDescription::ModelDescription(const std::string& path, const char* variable_element) {
    if (!doc.load_file(path.c_str())) throw std::runtime_error(path + " does not parse");
    root = doc.child("fmiModelDescription");
    const pugi::xml_node vars = root.child("ModelVariables");
    for (pugi::xml_node v : vars.children()) {
        if (variable_element && std::string(v.name()) != variable_element) continue;
        var[v.attribute("name").value()] = v;
        ordered.push_back(v);
    }
}

unsigned ModelDescription::value_reference(const std::string& name) const {
    const auto it = var.find(name);
    if (it == var.end()) throw std::runtime_error("no variable " + name);
    return it->second.attribute("valueReference").as_uint();
}

Binary::Binary(const std::string& so_path)
    : handle_(dlopen(so_path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
}

Binary::~Binary() {
    if (handle_ != nullptr) dlclose(handle_);
}

void* Binary::raw(const char* name) const {
    void* p = dlsym(handle_, name);
    EXPECT_NE(p, nullptr) << name << " is not exported";
    return p;
}

namespace {

std::vector<std::string> command_lines(const std::string& command) {
    std::vector<std::string> lines;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return lines;
    char line[4096];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        std::string s = line;
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        lines.push_back(s);
    }
    pclose(p);
    return lines;
}

}  // namespace

std::vector<std::string> exported_symbols(const std::string& so_path) {
    std::vector<std::string> names;
    for (const std::string& line : command_lines("nm -D --defined-only '" + so_path + "'")) {
        std::istringstream in(line);
        std::string addr, type, name;
        if (in >> addr >> type >> name) names.push_back(name);
    }
    return names;
}

std::vector<std::string> needed_libraries(const std::string& so_path) {
    std::vector<std::string> libs;
    for (const std::string& line : command_lines("readelf -d '" + so_path + "'")) {
        const size_t open = line.find("(NEEDED)");
        const size_t lb = line.find('['), rb = line.find(']');
        if (open != std::string::npos && lb != std::string::npos && rb != std::string::npos) {
            libs.push_back(line.substr(lb + 1, rb - lb - 1));
        }
    }
    return libs;
}

std::vector<std::string> required_versions(const std::string& so_path) {
    std::vector<std::string> versions;
    for (const std::string& line : command_lines("readelf -V -W '" + so_path + "'")) {
        const size_t at = line.find("Name: ");
        if (at == std::string::npos || line.find("Flags:") == std::string::npos) continue;
        std::istringstream in(line.substr(at + 6));
        std::string name;
        if (in >> name) versions.push_back(name);
    }
    return versions;
}

namespace {

std::vector<int> version_numbers(const std::string& text) {
    std::vector<int> parts;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, '.')) parts.push_back(std::atoi(part.c_str()));
    parts.resize(3, 0);
    return parts;
}

}  // namespace

std::vector<int> highest_glibc(const std::vector<std::string>& versions) {
    std::vector<int> best;
    const std::string prefix = "GLIBC_";
    for (const std::string& v : versions) {
        if (v.rfind(prefix, 0) != 0 || v.size() == prefix.size() || !std::isdigit(v[6])) continue;
        const std::vector<int> n = version_numbers(v.substr(prefix.size()));
        if (best.empty() || n > best) best = n;
    }
    return best;
}

std::vector<int> readme_glibc(const std::string& readme_path) {
    std::ifstream in(readme_path);
    std::string line;
    bool in_fmu_section = false;
    while (std::getline(in, line)) {
        if (line.rfind("## ", 0) == 0) in_fmu_section = line.find("FMU") != std::string::npos;
        const size_t at = line.find("glibc ");
        if (!in_fmu_section || at == std::string::npos) continue;
        const std::string rest = line.substr(at + 6);
        if (rest.empty() || !std::isdigit(static_cast<unsigned char>(rest[0]))) continue;
        if (rest.find("or later") == std::string::npos) continue;
        return version_numbers(rest.substr(0, rest.find(' ')));
    }
    return {};
}

void expect_only_glibc(const std::string& so_path, const std::string& readme_path) {
    const std::set<std::string> glibc = {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"};
    for (const std::string& lib : needed_libraries(so_path)) {
        EXPECT_EQ(glibc.count(lib), 1u) << lib << " is not part of glibc";
    }
    const std::vector<std::string> versions = required_versions(so_path);
    for (const std::string& v : versions) {
        EXPECT_TRUE(v.rfind("GLIBC_", 0) == 0) << v << " is a C++ or GCC runtime's version";
    }
    const std::vector<int> stated = readme_glibc(readme_path);
    ASSERT_FALSE(stated.empty()) << "the README's FMU section states no \"glibc X.Y or later\"";
    const std::vector<int> needed = highest_glibc(versions);
    ASSERT_FALSE(needed.empty());
    EXPECT_EQ(needed, stated) << "the binary needs glibc " << needed[0] << "." << needed[1] << "."
                              << needed[2];
}

bool LogBook::any_containing(const std::string& text) const {
    for (const LogRecord& r : records) {
        if (r.message.find(text) != std::string::npos) return true;
    }
    return false;
}

GuideWInputs flight_inputs(int k) {
    const double t = 0.01 * k;
    GuideWInputs u{};
    // Mode changes every 4 s through 1, 2, 3, 4 and the wings-level 2.5.
    static const double kModes[] = {1.0, 2.0, 3.0, 1.0, 2.5, 4.0, 2.0, 1.0};
    u.mode = kModes[(k / 400) % 8];
    u.speed_cmd = 180.0 + 60.0 * std::sin(0.05 * t);
    u.elev_cmd = 20.0 * std::sin(0.13 * t);
    u.azim_cmd = std::fmod(350.0 + 25.0 * t, 360.0);  // sweeps through north
    u.ext_weight = 0.5 + 0.5 * std::sin(0.3 * t);
    u.ext_nz = 1.0 + 3.0 * std::sin(0.21 * t);
    u.ext_bank = 60.0 * std::sin(0.17 * t);
    u.ext_throttle = 0.6 + 0.3 * std::cos(0.11 * t);
    u.yaw = std::fmod(10.0 * t, 360.0);
    u.pitch = 40.0 * std::sin(0.07 * t);
    u.roll = 179.0 * std::sin(0.09 * t);  // through inverted
    u.tas = 150.0 + 100.0 * std::fabs(std::sin(0.04 * t));
    const double gamma = u.pitch * 0.017453292519943295;
    const double chi = u.yaw * 0.017453292519943295;
    u.vel_up = u.tas * std::sin(gamma);
    u.vel_north = u.tas * std::cos(gamma) * std::cos(chi);
    u.vel_east = u.tas * std::cos(gamma) * std::sin(chi);
    u.roll_rate = 30.0 * std::cos(0.09 * t);
    u.altitude = 500.0 + 9000.0 * std::fabs(std::sin(0.02 * t));
    u.ext_lat = 0.4 * std::sin(0.5 * t);
    u.aux_in = 1000.0 + k;
    return u;
}

void expect_flight_within_declared_ranges(const ModelDescription& md,
                                          pugi::xml_node (*holder)(pugi::xml_node)) {
    for (size_t i = 0; i < std::size(guidew_fields::kInputs); ++i) {
        const char* name = guidew_fields::kInputs[i].name;
        const pugi::xml_node v = holder(md.var.at(name));
        const double min = v.attribute("min").as_double(-INFINITY);
        const double max = v.attribute("max").as_double(INFINITY);
        double value = v.attribute("start").as_double(NAN);
        for (int k = 0; k < 12800 && min <= value && value <= max; k += 7) {
            const GuideWInputs u = flight_inputs(k);
            value = (&u.speed_cmd)[i];
        }
        EXPECT_TRUE(min <= value && value <= max)
            << name << " " << value << " outside " << min << " to " << max;
    }
}

double* record_slot(GuideWInstance* m, const std::string& name) {
    for (size_t i = 0; i < std::size(guidew_fields::kInputs); ++i) {
        if (name == guidew_fields::kInputs[i].name)
            return &GuideW_instance_inputs(m)->speed_cmd + i;
    }
    const size_t bracket = name.find('[');
    const std::string base = name.substr(0, bracket);
    for (const guidew_fields::ParamField& f : guidew_fields::kParams) {
        if (base != f.name || f.is_integer) continue;
        double* at = reinterpret_cast<double*>(
            reinterpret_cast<unsigned char*>(GuideW_instance_params(m)) + f.offset);
        if (bracket == std::string::npos) return at;
        int first = 0, second = 0;
        const int n = std::sscanf(name.c_str() + bracket, "[%d,%d]", &first, &second);
        if (n == 2) return at + (second - 1) + 11 * (first - 1);  // thr_table[s,a]
        if (n == 1) return at + (first - 1);
    }
    throw std::runtime_error("no Real record field for " + name);
}

double parse_double(const char* text) { return std::strtod(text, nullptr); }

std::vector<double> parse_doubles(const char* text) {
    std::vector<double> out;
    std::istringstream in(text);
    std::string word;
    while (in >> word) out.push_back(parse_double(word.c_str()));
    return out;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace fmu_test

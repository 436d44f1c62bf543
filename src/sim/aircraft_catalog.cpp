#include "aircraft_catalog.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "control_gains.h"
#include "point_mass_model.h"
#ifdef GUIDE_HAVE_JSBSIM
#include "jsbsim_model.h"
#endif

namespace fs = std::filesystem;

namespace {

#ifdef GUIDE_HAVE_JSBSIM
bool is_root(const fs::path& dir) {
    std::error_code ec;
    return fs::is_directory(dir / "aircraft", ec) && fs::is_directory(dir / "engine", ec);
}

// Installed, the aircraft data lie in share/guidew/jsbsim of the prefix
// this code was installed in (lib/ beside share/).
fs::path installed_root() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&installed_root), &info) == 0 || !info.dli_fname) return {};
    // The Python package loads libguidesim.so through a link beside it:
    // the prefix is where the link leads.
    std::error_code ec;
    const fs::path self = fs::weakly_canonical(fs::path(info.dli_fname), ec);
    if (ec) return {};
    return self.parent_path().parent_path() / "share" / "guidew" / "jsbsim";
}

// A folder given as a path: it must hold NAME.xml, NAME its own name.
std::unique_ptr<AircraftModel> model_from_folder(const std::string& given,
                                                 const ControlEntry& entry, bool over_own_fcs) {
    const fs::path dir = fs::absolute(fs::path(given)).lexically_normal();
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        throw AircraftError(AircraftError::kUnknown,
                            "aircraft " + given +
                                ": not a known aircraft and no such folder (available: " +
                                available_aircraft() + ")");
    }
    const std::string model =
        (dir.filename().empty() ? dir.parent_path() : dir).filename().string();
    if (!fs::is_regular_file(dir / (model + ".xml"), ec)) {
        throw AircraftError(
            AircraftError::kUnknown,
            "aircraft " + given + ": not a JSBSim aircraft folder (no " + model + ".xml in it)");
    }
    const std::string root = jsbsim_root_dir();
    return std::make_unique<JsbsimModel>(given, root, dir.parent_path().string(), model, entry,
                                         over_own_fcs);
}

// A name that is no aircraft's is a folder: a path, or a folder of that
// name in the current directory.
bool names_folder(const std::string& name) {
    std::error_code ec;
    return name.find('/') != std::string::npos || name == "." || name == ".." ||
           fs::is_directory(name, ec);
}
#endif

// The entry name flies under choice (nullptr for the point mass).
const ControlEntry* control_entry(const std::string& name, const ControlChoice& choice) {
    if (is_aircraft_name(name, kPointMassName)) return nullptr;
    if (!choice.entry.empty()) {
        if (const ControlEntry* e = find_control_entry(choice.entry)) return e;
        throw AircraftError(AircraftError::kUnknown,
                            "aircraft " + name + ": unknown control entry " + choice.entry +
                                " (available: " + control_entry_names() + ")");
    }
    if (const ControlEntry* own = find_aircraft(name)) return own;
    return &generic_control_entry();
}

std::unique_ptr<AircraftModel> make_model(const std::string& name, const ControlChoice& choice) {
    if (is_aircraft_name(name, kPointMassName)) return std::make_unique<PointMassModel>();
#ifdef GUIDE_HAVE_JSBSIM
    if (const ControlEntry* own = find_aircraft(name)) {
        const fs::path root = jsbsim_root_dir();
        if (root.empty())
            throw AircraftError(
                AircraftError::kLoad,
                "aircraft " + name + ": JSBSim's aircraft data not found (set GUIDE_JSBSIM_ROOT)");
        return std::make_unique<JsbsimModel>(name, root.string(), (root / "aircraft").string(),
                                             own->folder, *control_entry(name, choice),
                                             choice.over_own_fcs);
    }
    if (names_folder(name))
        return model_from_folder(name, *control_entry(name, choice), choice.over_own_fcs);
    throw AircraftError(AircraftError::kUnknown,
                        "unknown aircraft " + name + " (available: " + available_aircraft() + ")");
#else
    (void)choice;
    throw AircraftError(AircraftError::kUnknown, "unknown aircraft " + name +
                                                     " (available: " + available_aircraft() +
                                                     "; this build has no JSBSim)");
#endif
}

}  // namespace

std::string jsbsim_root_dir() {
#ifdef GUIDE_HAVE_JSBSIM
    if (const char* env = std::getenv("GUIDE_JSBSIM_ROOT"); env && *env) return env;
    // An installed simulator takes the data installed with it; the build
    // tree's, the source JSBSim was built from.
    const fs::path installed = installed_root();
    if (is_root(installed)) return installed.string();
    if (is_root(GUIDE_JSBSIM_ROOT_DIR)) return GUIDE_JSBSIM_ROOT_DIR;
#endif
    return {};
}

std::string available_aircraft() {
    std::string names = kPointMassName;
#ifdef GUIDE_HAVE_JSBSIM
    for (const ControlEntry& g : known_aircraft()) names += ", " + g.name;
    names += ", or a JSBSim aircraft folder";
#endif
    return names;
}

std::string control_entry_name(const std::string& name, const ControlChoice& choice) {
    const ControlEntry* e = control_entry(name, choice);
    return e ? e->name : name;
}

std::string control_notice(const std::string& name, const ControlChoice& choice) {
    if (name == kPointMassName || !choice.entry.empty() || find_aircraft(name)) return {};
    const ControlEntry& g = generic_control_entry();
    char envelope[96];
    std::snprintf(envelope, sizeof envelope, "%+.1f/%+.1f g, %.0f deg of angle of attack",
                  g.limits.max_load_g, g.limits.min_load_g, g.limits.max_alpha_deg);
    return "aircraft " + name + " names no control entry: flying the " + g.name + " one (" +
           mapping_name(g.mapping) + ", " + envelope + ", the law's default throttle table)";
}

AircraftModel& aircraft_model(const std::string& name, const ControlChoice& choice, int slot) {
    thread_local std::map<std::string, std::unique_ptr<AircraftModel>> loaded;
    const std::string key = name + '\n' + control_entry_name(name, choice) +
                            (choice.over_own_fcs ? "\nover its own FCS" : "") + '\n' +
                            std::to_string(slot);
    auto it = loaded.find(key);
    if (it == loaded.end()) it = loaded.emplace(key, make_model(name, choice)).first;
    return *it->second;
}

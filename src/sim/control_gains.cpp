#include "control_gains.h"

#include <nlohmann/json.hpp>
#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

#include "aircraft_controls_json.h"  // kAircraftControlsJson: the data file's text

namespace {

// One object of the data file, read key by key; finish() refuses a key no
// one read, so that a misspelt gain cannot silently fly as its default.
class Entry {
public:
    Entry(const nlohmann::json& j, std::string where) : j_(j), where_(std::move(where)) {}
    double number(const char* key, double fallback) {
        used_.insert(key);
        const auto it = j_.find(key);
        return it == j_.end() ? fallback : it->get<double>();
    }
    std::string required_text(const char* key) {
        used_.insert(key);
        return j_.at(key).get<std::string>();
    }
    std::string text(const char* key, const std::string& fallback) {
        used_.insert(key);
        return j_.value(key, fallback);
    }
    // The value at key, or nullptr.
    const nlohmann::json* find(const char* key) {
        used_.insert(key);
        const auto it = j_.find(key);
        return it == j_.end() ? nullptr : &*it;
    }
    [[noreturn]] void fail(const std::string& what) const {
        throw std::logic_error("aircraft_controls.json: " + where_ + ": " + what);
    }
    void finish() const {
        for (const auto& item : j_.items()) {
            if (!used_.count(item.key())) fail("unknown key " + item.key());
        }
    }

private:
    const nlohmann::json& j_;
    std::string where_;
    std::set<std::string> used_;
};

// The data file's numbers by key, each read into its field; a key the file
// does not give keeps the field's default.
template <class Record>
using Numbers = std::initializer_list<std::pair<const char*, double Record::*>>;

const Numbers<InnerLoopGains> kInnerLoopNumbers = {
    {"qbar_ref_kpa", &InnerLoopGains::qbar_ref_kpa},
    {"elevator_per_g", &InnerLoopGains::elevator_per_g},
    {"n_kp", &InnerLoopGains::n_kp},
    {"n_ki", &InnerLoopGains::n_ki},
    {"q_kd", &InnerLoopGains::q_kd},
    {"n_slew_gps", &InnerLoopGains::n_slew_gps},
    {"p_kp", &InnerLoopGains::p_kp},
    {"p_ki", &InnerLoopGains::p_ki},
    {"r_kb", &InnerLoopGains::r_kb},
};

const Numbers<FcsGains> kFcsNumbers = {
    {"roll_gain", &FcsGains::roll_gain},
    {"pitch_rate_gain", &FcsGains::pitch_rate_gain},
    {"load_gain", &FcsGains::load_gain},
    {"ff_share", &FcsGains::ff_share},
    {"roll_lead", &FcsGains::roll_lead},
    {"yaw_per_beta", &FcsGains::yaw_per_beta},
    {"n_kp", &FcsGains::n_kp},
    {"n_ki", &FcsGains::n_ki},
    {"n_kd", &FcsGains::n_kd},
    {"n_filter_s", &FcsGains::n_filter_s},
    {"n_kd_filter_s", &FcsGains::n_kd_filter_s},
    {"p_ki", &FcsGains::p_ki},
};

const Numbers<AircraftLimits> kLimitNumbers = {
    {"max_load_g", &AircraftLimits::max_load_g},
    {"min_load_g", &AircraftLimits::min_load_g},
    {"max_alpha_deg", &AircraftLimits::max_alpha_deg},
    {"max_roll_rate_dps", &AircraftLimits::max_roll_rate_dps},
    {"elevator_rate_dps", &AircraftLimits::elevator_rate_dps},
};

const Numbers<ControlEntry> kEntryNumbers = {
    {"rate_hz", &ControlEntry::rate_hz},
};

// Each mapping by its name in the data file, which is also the key of its
// gains object.
constexpr std::pair<MappingKind, const char*> kMappingNames[] = {
    {MappingKind::kFcs, "fcs"},
    {MappingKind::kSurfaceLoop, "surface_loop"},
};

template <class Record>
void read_numbers(Entry& e, const Numbers<Record>& numbers, Record& r) {
    for (const auto& [key, field] : numbers) r.*field = e.number(key, r.*field);
}

// The gains object of the entry's mapping; an object of another mapping's
// is refused as an unknown key.
void read_gains(Entry& e, ControlEntry& c, const std::string& where) {
    const char* key = mapping_name(c.mapping);
    const nlohmann::json* j = e.find(key);
    if (!j) e.fail(std::string("mapping ") + key + " without its \"" + key + "\" gains");
    Entry g(*j, where + "." + key);
    if (c.mapping == MappingKind::kFcs) {
        read_numbers(g, kFcsNumbers, c.fcs);
    } else {
        read_numbers(g, kInnerLoopNumbers, c.surface_loop);
        c.surface_loop.elevator_lift_property = g.text("elevator_lift_property", "");
    }
    g.finish();
}

MappingKind mapping_kind(Entry& e) {
    const std::string name = e.required_text("mapping");
    for (const auto& [kind, text] : kMappingNames) {
        if (name == text) return kind;
    }
    e.fail("mapping " + name + " is neither fcs nor surface_loop");
}

ControlEntry control_entry(const nlohmann::json& a, bool needs_folder) {
    ControlEntry c;
    c.name = a.at("name").get<std::string>();
    Entry e(a, c.name);
    e.required_text("name");
    c.folder = needs_folder ? e.required_text("folder") : "";
    c.description = e.text("description", "");
    read_numbers(e, kEntryNumbers, c);
    read_numbers(e, kLimitNumbers, c.limits);
    c.mapping = mapping_kind(e);
    read_gains(e, c, c.name);
    if (const nlohmann::json* j = e.find("scenario_changes")) c.scenario_changes = j->dump();
    if (const nlohmann::json* j = e.find("thr_table")) c.thr_table = j->get<std::vector<double>>();
    e.finish();
    return c;
}

struct Catalogue {
    std::vector<ControlEntry> aircraft, folder_entries;
};

Catalogue parse() {
    const nlohmann::json doc = nlohmann::json::parse(kAircraftControlsJson);
    Catalogue all;
    for (const nlohmann::json& a : doc.at("aircraft"))
        all.aircraft.push_back(control_entry(a, true));
    for (const nlohmann::json& a : doc.at("folder_entries"))
        all.folder_entries.push_back(control_entry(a, false));
    return all;
}

const Catalogue& catalogue() {
    static const Catalogue all = parse();
    return all;
}

const ControlEntry* find_in(const std::vector<ControlEntry>& entries, const std::string& name) {
    for (const ControlEntry& c : entries) {
        if (is_aircraft_name(name, c.name)) return &c;
    }
    return nullptr;
}

}  // namespace

const char* mapping_name(MappingKind kind) {
    for (const auto& [k, text] : kMappingNames) {
        if (k == kind) return text;
    }
    return "?";
}

const std::vector<ControlEntry>& known_aircraft() { return catalogue().aircraft; }

const ControlEntry* find_aircraft(const std::string& name) {
    return find_in(catalogue().aircraft, name);
}

const ControlEntry* find_control_entry(const std::string& name) {
    if (const ControlEntry* c = find_aircraft(name)) return c;
    return find_in(catalogue().folder_entries, name);
}

const ControlEntry& generic_control_entry() {
    const ControlEntry* g = find_in(catalogue().folder_entries, "generic");
    if (!g) throw std::logic_error("aircraft_controls.json: no folder entry generic");
    return *g;
}

std::string control_entry_names() {
    std::string names;
    for (const auto* list : {&catalogue().aircraft, &catalogue().folder_entries}) {
        for (const ControlEntry& c : *list) names += (names.empty() ? "" : ", ") + c.name;
    }
    return names;
}

bool is_aircraft_name(const std::string& given, const std::string& known) {
    const auto lower = [](unsigned char c) { return std::tolower(c); };
    return std::equal(given.begin(), given.end(), known.begin(), known.end(),
                      [&](char a, char b) { return lower(a) == lower(b); });
}

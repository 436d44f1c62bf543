#include "scenario.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "files.h"
#include "scenario_json.h"
#include "guide_fields.h"
#include "law_constants.h"
#include "tool_error.h"
#include "values.h"

using nlohmann::json;

namespace scenario_json {

// A problem in a scenario, with the path of the offending key: bad data.
[[noreturn]] void fail(const std::string& where, const std::string& what) {
    ::fail(kExitFailed, where + ": " + what);
}

void only_keys(const json& obj, const std::string& where,
               std::initializer_list<const char*> allowed) {
    if (!obj.is_object()) fail(where, "must be an object");
    for (const auto& item : obj.items()) {
        const bool known = std::any_of(allowed.begin(), allowed.end(),
                                       [&](const char* k) { return item.key() == k; });
        if (!known) {
            std::string list;
            for (const char* k : allowed) list += std::string(list.empty() ? "" : ", ") + k;
            fail(where,
                 "unknown key " + quote_text(item.key()) + " (expected one of: " + list + ")");
        }
    }
}

// where.key, the key quoted when it holds more than a name's characters.
std::string key_path(const std::string& where, const std::string& key) {
    const bool plain =
        !key.empty() && key.find_first_not_of(
                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_[]") ==
                            std::string::npos;
    return where + "." + (plain ? key : quote_text(key));
}

double finite_number(const json& v, const std::string& path) {
    if (!v.is_number()) fail(path, "must be a number");
    const double value = v.get<double>();
    if (!std::isfinite(value)) fail(path, "must be a finite number");
    return value;
}

double number(const json& obj, const char* key, const std::string& where) {
    if (!obj.contains(key)) fail(where, std::string("needs \"") + key + "\"");
    return finite_number(obj.at(key), key_path(where, key));
}

void read_number(const json& obj, const char* key, const std::string& where, double& out) {
    if (obj.contains(key)) out = number(obj, key, where);
}

void read_optional(const json& obj, const char* key, const std::string& where,
                   std::optional<double>& out) {
    if (obj.contains(key)) out = number(obj, key, where);
}

void read_flag(const json& obj, const char* key, const std::string& where, bool& out) {
    if (!obj.contains(key)) return;
    if (!obj.at(key).is_boolean()) fail(where + "." + key, "must be true or false");
    out = obj.at(key).get<bool>();
}

// A number within [lo, hi], or the key is refused naming the range.
void check_range(double value, double lo, double hi, const std::string& where) {
    if (!(value >= lo && value <= hi)) {
        fail(where, "must lie within [" + number_text(lo) + ", " + number_text(hi) + "], not " +
                        number_text(value));
    }
}

void read_bounded(const json& obj, const char* key, const std::string& where, double& out,
                  double lo, double hi) {
    read_number(obj, key, where, out);
    check_range(out, lo, hi, where + "." + key);
}

size_t one_of(const json& obj, const char* key, const std::string& where,
              std::initializer_list<const char*> words) {
    const std::string path = where + "." + key;
    if (!obj.contains(key)) fail(where, std::string("needs \"") + key + "\"");
    std::string list;
    size_t i = 0;
    for (const char* w : words) {
        if (obj.at(key) == w) return i;
        list += std::string(list.empty() ? "" : ", ") + w;
        ++i;
    }
    fail(path, "must be one of: " + list);
}

// Inputs the simulator senses from the aircraft cannot be commanded.
bool is_sensed_input(int index) {
    static const std::set<std::string> sensed = {
        "yaw", "pitch", "roll", "tas", "vel_up", "vel_north", "vel_east", "roll_rate", "altitude"};
    return sensed.count(kInputNames[index]) != 0;
}

std::vector<InputChange> read_inputs(const json& obj, const std::string& where) {
    if (!obj.is_object()) fail(where, "must be an object of input names and numbers");
    std::vector<InputChange> changes;
    for (const auto& item : obj.items()) {
        const int idx = field_index(kInputNames, kInputCount, item.key());
        if (idx < 0) fail(where, "unknown input " + quote_text(item.key()));
        if (is_sensed_input(idx)) {
            fail(where,
                 "'" + item.key() + "' is sensed from the aircraft; set the start in \"initial\"");
        }
        const std::string wk = where + "." + item.key();
        const double value = finite_number(item.value(), wk);
        for (const CommandRange& r : kCommandRanges) {
            if (item.key() == r.input) check_range(value, r.min, r.max, wk);
        }
        changes.push_back({idx, value});
    }
    return changes;
}

GuideWInputs read_commands(const json& obj, const std::string& where, const InitialFlight& init) {
    GuideWInputs u{};
    u.speed_cmd = init.speed_mps;
    u.azim_cmd = init.heading_deg < 0.0 ? init.heading_deg + kFullTurn_deg : init.heading_deg;
    u.mode = 1.0;
    if (obj.contains("inputs")) {
        double* values = input_values(u);
        for (const InputChange& c : read_inputs(obj.at("inputs"), where + ".inputs"))
            values[c.index] = c.value;
    }
    return u;
}

std::vector<TimedChange> read_events(const json& events, const std::string& where,
                                     double duration_s) {
    if (!events.is_array()) fail(where, "must be a list");
    std::vector<TimedChange> out;
    for (size_t i = 0; i < events.size(); ++i) {
        const std::string we = where + "[" + std::to_string(i) + "]";
        only_keys(events[i], we, {"t_s", "inputs"});
        TimedChange tc{number(events[i], "t_s", we), {}};
        check_range(tc.t_s, 0.0, duration_s, we + ".t_s");
        if (events[i].contains("inputs"))
            tc.changes = read_inputs(events[i].at("inputs"), we + ".inputs");
        out.push_back(tc);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const TimedChange& a, const TimedChange& b) { return a.t_s < b.t_s; });
    return out;
}

std::vector<std::pair<std::string, double>> read_params(const json& params,
                                                        const std::string& where) {
    if (!params.is_object()) fail(where, "must be an object of parameter names and numbers");
    std::vector<std::pair<std::string, double>> out;
    GuideWParams probe{};
    for (const auto& item : params.items()) {
        const double value = finite_number(item.value(), key_path(where, item.key()));
        try {
            set_parameter(probe, item.key(), value);
        } catch (const ToolError& e) {
            fail(where, e.what());
        }
        out.emplace_back(item.key(), value);
    }
    return out;
}

}  // namespace scenario_json

namespace {

using namespace scenario_json;

InitialFlight read_initial(const json& obj, const std::string& where) {
    only_keys(obj, where, {"altitude_m", "speed_mps", "heading_deg", "path_deg", "bank_deg"});
    InitialFlight init;
    read_number(obj, "altitude_m", where, init.altitude_m);
    read_number(obj, "speed_mps", where, init.speed_mps);
    read_number(obj, "heading_deg", where, init.heading_deg);
    read_number(obj, "path_deg", where, init.path_deg);
    read_number(obj, "bank_deg", where, init.bank_deg);
    check_range(init.altitude_m, kMinStartAltitude_m, kMaxStartAltitude_m, where + ".altitude_m");
    check_range(init.speed_mps, kMinStartSpeed_mps, kMaxStartSpeed_mps, where + ".speed_mps");
    check_range(init.heading_deg, -kFullTurn_deg, kFullTurn_deg, where + ".heading_deg");
    check_range(init.bank_deg, -kHalfTurn_deg, kHalfTurn_deg, where + ".bank_deg");
    if (!(std::fabs(init.path_deg) < kQuarterTurn_deg))
        fail(where + ".path_deg", "must lie within (-90, 90)");
    return init;
}

Expectations read_expect(const json& obj, const std::string& where) {
    only_keys(obj, where,
              {"converge_within_s", "max_load_g", "min_altitude_m", "final_speed_error_mps",
               "latched", "rolls_before_pull", "turn_direction_latched", "passthrough",
               "ends_upright", "final_bank_deg", "orbit", "may_reach_ground", "on_target_within_s",
               "on_target_deg", "min_separation_m", "rear_cone_s", "rear_cone"});
    Expectations e;
    read_optional(obj, "converge_within_s", where, e.converge_within_s);
    read_optional(obj, "max_load_g", where, e.max_load_g);
    read_optional(obj, "min_altitude_m", where, e.min_altitude_m);
    read_optional(obj, "final_speed_error_mps", where, e.final_speed_error_mps);
    const auto in_range = [&](const std::optional<double>& v, double lo, double hi,
                              const char* key) {
        if (v) check_range(*v, lo, hi, where + "." + key);
    };
    in_range(e.converge_within_s, 0.0, kMaxDuration_s, "converge_within_s");
    in_range(e.max_load_g, 0.0, kMaxLoadCheck_g, "max_load_g");
    in_range(e.min_altitude_m, 0.0, kMaxStartAltitude_m, "min_altitude_m");
    in_range(e.final_speed_error_mps, 0.0, kMaxSpeedErrorCheck_mps, "final_speed_error_mps");
    read_flag(obj, "rolls_before_pull", where, e.rolls_before_pull);
    read_flag(obj, "turn_direction_latched", where, e.turn_direction_latched);
    read_flag(obj, "passthrough", where, e.passthrough);
    read_flag(obj, "ends_upright", where, e.ends_upright);
    read_flag(obj, "may_reach_ground", where, e.may_reach_ground);
    if (obj.contains("latched")) {
        const json& list = obj.at("latched");
        if (!list.is_array()) fail(where + ".latched", "must be a list of state names");
        for (const json& name : list) {
            if (!name.is_string() ||
                field_index(kStateNames, kStateCount, name.get<std::string>()) < 0) {
                fail(where + ".latched", "unknown state " + quote_text(name.dump()));
            }
            e.latched.push_back(name.get<std::string>());
        }
    }
    if (obj.contains("final_bank_deg")) {
        const json& b = obj.at("final_bank_deg");
        const std::string w = where + ".final_bank_deg";
        only_keys(b, w, {"value", "tolerance"});
        e.final_bank = BankExpectation{number(b, "value", w), number(b, "tolerance", w)};
        check_range(e.final_bank->value_deg, -kHalfTurn_deg, kHalfTurn_deg, w + ".value");
        check_range(e.final_bank->tolerance_deg, 0.0, kHalfTurn_deg, w + ".tolerance");
    }
    if (obj.contains("orbit")) {
        const json& o = obj.at("orbit");
        const std::string w = where + ".orbit";
        only_keys(o, w, {"settle_s", "radius_tolerance", "altitude_tolerance_m"});
        OrbitExpectation orbit;
        read_number(o, "settle_s", w, orbit.settle_s);
        read_number(o, "radius_tolerance", w, orbit.radius_tolerance);
        read_number(o, "altitude_tolerance_m", w, orbit.altitude_tolerance_m);
        // The radius is judged as a fraction of the expected one.
        check_range(orbit.settle_s, 0.0, kMaxDuration_s, w + ".settle_s");
        check_range(orbit.radius_tolerance, 0.0, 1.0, w + ".radius_tolerance");
        check_range(orbit.altitude_tolerance_m, 0.0, kMaxStartAltitude_m,
                    w + ".altitude_tolerance_m");
        e.orbit = orbit;
    }
    read_engagement_expect(obj, where, e);
    return e;
}

// The steady wind, the turbulence and the gust a scenario may fly in.
// Winds beyond 100 m/s are no weather an aircraft is flown in (the
// strongest jet streams); a gust builds and decays over one law step at
// least.
constexpr double kMaxWindSpeed_mps = 100.0;
constexpr double kMinGustEdge_s = kStep_s;
constexpr double kMaxGustEdge_s = 600.0;
constexpr int kModerateTurbulence = 4;
constexpr int kMaxTurbulenceSeverity = 7;            // JSBSim's exceedance curves 1..7; 0 is none
constexpr double kMaxTurbulenceSeed = 2147483647.0;  // JSBSim takes an int

// A whole number within [lo, hi]: a seed or a severity.
double whole_number(const json& v, double lo, double hi, const std::string& where) {
    const double value = finite_number(v, where);
    check_range(value, lo, hi, where);
    if (value != std::floor(value))
        fail(where, "must be a whole number, not " + number_text(value));
    return value;
}

WindLayer read_wind_layer(const json& obj, const std::string& where, bool layered) {
    if (layered) {
        only_keys(obj, where, {"altitude_m", "from_deg", "speed_mps"});
    } else {
        only_keys(obj, where, {"from_deg", "speed_mps"});
    }
    WindLayer w;  // calm unless given: a campaign may draw the speed and the direction apart
    if (layered) w.altitude_m = number(obj, "altitude_m", where);
    read_number(obj, "from_deg", where, w.from_deg);
    read_number(obj, "speed_mps", where, w.speed_mps);
    if (layered) check_range(w.altitude_m, 0.0, kMaxStartAltitude_m, where + ".altitude_m");
    check_range(w.from_deg, -kFullTurn_deg, kFullTurn_deg, where + ".from_deg");
    check_range(w.speed_mps, 0.0, kMaxWindSpeed_mps, where + ".speed_mps");
    return w;
}

// One wind for every altitude as an object, or layers by altitude as a list.
std::vector<WindLayer> read_wind(const json& v, const std::string& where) {
    if (v.is_object()) return {read_wind_layer(v, where, false)};
    if (!v.is_array() || v.empty())
        fail(where, "must be an object {from_deg, speed_mps} or a non-empty list of layers");
    std::vector<WindLayer> layers;
    for (size_t i = 0; i < v.size(); ++i) {
        const std::string wi = where + "[" + std::to_string(i) + "]";
        layers.push_back(read_wind_layer(v[i], wi, true));
        if (i > 0 && !(layers[i].altitude_m > layers[i - 1].altitude_m))
            fail(wi + ".altitude_m", "layers must go up in altitude");
    }
    return layers;
}

Turbulence read_turbulence(const json& obj, const std::string& where) {
    only_keys(obj, where, {"model", "severity", "seed"});
    // Moderate turbulence of JSBSim's military-standard model (MIL-F-8785C)
    // unless told otherwise.
    Turbulence t{TurbulenceModel::kMilspec, kModerateTurbulence, 0};
    static const std::pair<const char*, TurbulenceModel> models[] = {
        {"milspec", TurbulenceModel::kMilspec}, {"tustin", TurbulenceModel::kTustin}};
    // JSBSim's reference intensities (MIL-F-8785C's light, moderate, severe).
    static const std::pair<const char*, int> severities[] = {
        {"light", 3}, {"moderate", kModerateTurbulence}, {"severe", 6}};
    const auto named = [&](const char* key, const auto& table, auto& out) {
        const json& v = obj.at(key);
        for (const auto& [name, value] : table) {
            if (v.is_string() && v.get<std::string>() == name) {
                out = value;
                return true;
            }
        }
        return false;
    };
    if (obj.contains("model") && !named("model", models, t.model))
        fail(where + ".model", "must be \"milspec\" or \"tustin\", not " + obj.at("model").dump());
    if (obj.contains("severity") && !named("severity", severities, t.severity)) {
        const std::string ws = where + ".severity";
        if (!obj.at("severity").is_number())
            fail(ws, "must be light, moderate, severe or a number 0 to 7, not " +
                         obj.at("severity").dump());
        t.severity =
            static_cast<int>(whole_number(obj.at("severity"), 0.0, kMaxTurbulenceSeverity, ws));
    }
    if (obj.contains("seed"))
        t.seed = static_cast<unsigned>(
            whole_number(obj.at("seed"), 0.0, kMaxTurbulenceSeed, where + ".seed"));
    return t;
}

Gust read_gust(const json& obj, const std::string& where, double duration_s) {
    only_keys(obj, where,
              {"start_s", "speed_mps", "from_deg", "up_deg", "rise_s", "hold_s", "decay_s"});
    Gust g;
    g.start_s = number(obj, "start_s", where);
    g.speed_mps = number(obj, "speed_mps", where);
    read_number(obj, "from_deg", where, g.from_deg);
    read_number(obj, "up_deg", where, g.up_deg);
    read_number(obj, "rise_s", where, g.rise_s);
    read_number(obj, "hold_s", where, g.hold_s);
    read_number(obj, "decay_s", where, g.decay_s);
    check_range(g.start_s, 0.0, duration_s, where + ".start_s");
    check_range(g.speed_mps, 0.0, kMaxWindSpeed_mps, where + ".speed_mps");
    check_range(g.from_deg, -kFullTurn_deg, kFullTurn_deg, where + ".from_deg");
    check_range(g.up_deg, -kQuarterTurn_deg, kQuarterTurn_deg, where + ".up_deg");
    check_range(g.rise_s, kMinGustEdge_s, kMaxGustEdge_s, where + ".rise_s");
    check_range(g.hold_s, 0.0, kMaxDuration_s, where + ".hold_s");
    check_range(g.decay_s, kMinGustEdge_s, kMaxGustEdge_s, where + ".decay_s");
    return g;
}

AirMass read_atmosphere(const json& obj, const std::string& where, double duration_s) {
    only_keys(obj, where, {"wind", "turbulence", "gust"});
    AirMass air;
    if (obj.contains("wind")) air.wind = read_wind(obj.at("wind"), where + ".wind");
    if (obj.contains("turbulence"))
        air.turbulence = read_turbulence(obj.at("turbulence"), where + ".turbulence");
    if (obj.contains("gust")) air.gust = read_gust(obj.at("gust"), where + ".gust", duration_s);
    return air;
}

Scenario read_scenario(const json& obj, const std::string& where, const std::string& folder) {
    only_keys(obj, where,
              {"name", "description", "aircraft", "control", "duration_s", "initial", "inputs",
               "events", "params", "expect", "atmosphere", "target", "pursuit"});
    Scenario sc;
    if (!obj.contains("name") || !obj.at("name").is_string())
        fail(where, "needs a \"name\" string");
    sc.name = obj.at("name").get<std::string>();
    if (sc.name.empty() ||
        sc.name.find_first_not_of(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") !=
            std::string::npos) {
        fail(where + ".name", quote_text(sc.name) + ": may hold only letters, digits, '_' and '-'");
    }
    const std::string w = where + " (" + sc.name + ")";
    if (obj.contains("description")) {
        if (!obj.at("description").is_string()) fail(w + ".description", "must be a string");
        sc.description = obj.at("description").get<std::string>();
    }
    if (obj.contains("aircraft")) {
        const json& a = obj.at("aircraft");
        if (!a.is_string() || a.get<std::string>().empty())
            fail(w + ".aircraft", "must be an aircraft name or folder");
        sc.aircraft = a.get<std::string>();
    }
    if (obj.contains("control")) {
        const json& c = obj.at("control");
        if (!c.is_string() || c.get<std::string>().empty())
            fail(w + ".control", "must be a control entry's name");
        sc.control = c.get<std::string>();
    }
    if (!obj.contains("duration_s")) fail(w, "needs \"duration_s\"");
    sc.duration_s = number(obj, "duration_s", w);
    if (!(sc.duration_s > 0.0 && sc.duration_s <= kMaxDuration_s)) {
        fail(w + ".duration_s", "must lie within (0, " + number_text(kMaxDuration_s) + "]");
    }
    if (obj.contains("initial")) sc.initial = read_initial(obj.at("initial"), w + ".initial");

    sc.commands = read_commands(obj, w, sc.initial);
    if (obj.contains("events"))
        sc.events = read_events(obj.at("events"), w + ".events", sc.duration_s);
    if (obj.contains("params")) sc.params = read_params(obj.at("params"), w + ".params");
    read_engagement(obj, w, folder, sc);
    if (obj.contains("expect")) sc.expect = read_expect(obj.at("expect"), w + ".expect");
    if (!sc.target &&
        (sc.expect.on_target_within_s || sc.expect.min_separation_m || sc.expect.rear_cone_s)) {
        fail(w + ".expect", "an engagement's checks need a \"target\"");
    }
    if (obj.contains("atmosphere"))
        sc.atmosphere = read_atmosphere(obj.at("atmosphere"), w + ".atmosphere", sc.duration_s);
    return sc;
}

// A parser callback that refuses a key given twice in one object (JSON
// leaves the meaning open; the library would keep the last silently),
// naming its path.
json::parser_callback_t refuse_duplicate_keys(const std::string& origin) {
    struct Level {
        bool is_object;
        std::set<std::string> keys;
        std::string key;  // the object's key being read
        size_t index;     // the list's element being read
    };
    auto levels = std::make_shared<std::vector<Level>>();
    const auto path = [levels] {
        std::string p;
        for (size_t i = 0; i + 1 < levels->size(); ++i) {
            const Level& l = (*levels)[i];
            p = l.is_object ? key_path(p, l.key) : p + "[" + std::to_string(l.index) + "]";
        }
        return p;
    };
    return [levels, path, origin](int depth, json::parse_event_t event, json& parsed) {
        (void)depth;
        switch (event) {
            case json::parse_event_t::object_start:
            case json::parse_event_t::array_start:
                if (!levels->empty() && !levels->back().is_object) ++levels->back().index;
                levels->push_back(
                    {event == json::parse_event_t::object_start, {}, {}, static_cast<size_t>(-1)});
                break;
            case json::parse_event_t::object_end:
            case json::parse_event_t::array_end: levels->pop_back(); break;
            case json::parse_event_t::key: {
                Level& l = levels->back();
                l.key = parsed.get<std::string>();
                if (!l.keys.insert(l.key).second) {
                    std::string p = path();
                    if (!p.empty() && p[0] == '.') p.erase(0, 1);
                    ::fail(kExitFailed, origin + ": " + (p.empty() ? "" : p + ": ") + "key " +
                                            quote_text(l.key) + " given twice");
                }
                break;
            }
            case json::parse_event_t::value:
                if (!levels->empty() && !levels->back().is_object) ++levels->back().index;
                break;
        }
        return true;
    };
}

// The JSON library's own account of a fault, without its "[json.exception
// ...]" tag, escaped and cut short: it echoes what it last read, which may
// be any bytes and any length.
constexpr size_t kLibraryMessageMax = 160;
std::string library_message(const std::string& what, size_t from) {
    std::string text = escape_text(from == std::string::npos ? what : what.substr(from));
    if (text.size() > kLibraryMessageMax) text = text.substr(0, kLibraryMessageMax) + "...";
    return text;
}

// Line and column of a byte offset, for parse errors.
std::string position_of(const std::string& text, size_t byte) {
    size_t line = 1, col = 1;
    for (size_t i = 0; i < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            col = 1;
        } else {
            ++col;
        }
    }
    return std::to_string(line) + ":" + std::to_string(col);
}

}  // namespace

std::vector<Scenario> parse_scenarios(const std::string& text, const std::string& origin,
                                      const std::string& folder) {
    json doc;
    try {
        doc = json::parse(text, refuse_duplicate_keys(origin));
    } catch (const json::parse_error& e) {
        // The library's text reads "[json.exception.parse_error.101] parse
        // error at line L, column C: what"; keep the what.
        const std::string what = e.what();
        const size_t at = what.find(": ", what.find("column"));
        ::fail(kExitFailed, origin + ":" + position_of(text, e.byte == 0 ? 0 : e.byte - 1) +
                                ": not valid JSON: " +
                                library_message(what, at == std::string::npos ? at : at + 2));
    } catch (const json::exception& e) {  // a number beyond the double range
        const std::string what = e.what();
        const size_t at = what.find("] ");
        ::fail(kExitFailed, origin + ": not valid JSON: " +
                                library_message(what, at == std::string::npos ? at : at + 2));
    }
    std::vector<Scenario> out;
    try {
        if (doc.is_array()) {
            if (doc.empty()) ::fail(kExitFailed, origin + ": an empty list: no scenario to fly");
            for (size_t i = 0; i < doc.size(); ++i) {
                out.push_back(
                    read_scenario(doc[i], origin + ": scenario " + std::to_string(i), folder));
            }
        } else {
            out.push_back(read_scenario(doc, origin + ": scenario", folder));
        }
    } catch (const json::exception& e) {
        ::fail(kExitFailed, origin + ": " + library_message(e.what(), 0));
    }
    return out;
}

std::vector<Scenario> load_scenario_file(const std::string& path) {
    return parse_scenarios(read_text_file(path), path,
                           std::filesystem::path(path).parent_path().string());
}

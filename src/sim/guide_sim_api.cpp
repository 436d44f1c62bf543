// libguidesim.so: one scenario flown per call, the answer as JSON text.
#include "guide_sim_api.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "aircraft_catalog.h"
#include "aircraft_scenarios.h"
#include "flight_result.h"
#include "instance_flight.h"
#include "law_constants.h"
#include "tool_error.h"

using nlohmann::json;
// Results keep their keys in the order written: metrics and checks read in
// a fixed, meaningful order.
using ordered_json = nlohmann::ordered_json;

namespace {

struct Refusal {
    std::string message;
};

char* copy_out(const std::string& text) {
    char* out = static_cast<char*>(std::malloc(text.size() + 1));
    if (out != nullptr) std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

// The base scenario as a JSON object: a built-in by name, or the caller's text.
json base_scenario(const std::string& scenario, std::string& origin, bool& builtin) {
    builtin = true;
    origin = "built-in " + scenario;
    static const json builtins = json::parse(builtin_scenarios_json());
    for (const json& sc : builtins) {
        if (sc.at("name") == scenario) return sc;
    }
    origin = "scenario";
    builtin = false;
    json doc;
    try {
        doc = json::parse(scenario);
    } catch (const json::parse_error&) {
        throw Refusal{"'" + scenario.substr(0, 60) +
                      "' is neither a built-in scenario nor the JSON text of one"};
    }
    if (!doc.is_object()) throw Refusal{"scenario: must be one JSON object"};
    return doc;
}

// Splits "events[2]" into ("events", 2); a plain key gives index -1.
std::pair<std::string, long> split_index(const std::string& part) {
    const size_t open = part.find('[');
    if (open == std::string::npos || part.back() != ']') return {part, -1};
    char* end = nullptr;
    const std::string digits = part.substr(open + 1, part.size() - open - 2);
    const long index = std::strtol(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || index < 0) return {part, -1};
    return {part.substr(0, open), index};
}

// Sets doc at a dotted path. A part "name[i]" indexes a list that exists in
// the scenario; otherwise the brackets belong to the key (parameter arrays
// are set element by element as "params.thr_table[17]").
void apply_override(json& doc, const std::string& path, const json& value) {
    json* at = &doc;
    size_t start = 0;
    for (;;) {
        const size_t dot = path.find('.', start);
        const std::string part =
            path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (part.empty()) throw Refusal{"override '" + path + "': empty part in the path"};
        if (!at->is_object())
            throw Refusal{"override '" + path + "': '" + part + "' is not inside an object"};
        const auto [key, index] = split_index(part);
        json* next = nullptr;
        if (index >= 0 && at->contains(key) && (*at)[key].is_array()) {
            json& list = (*at)[key];
            if (static_cast<size_t>(index) >= list.size()) {
                throw Refusal{"override '" + path + "': the scenario's " + key + " has " +
                              std::to_string(list.size()) + " entries"};
            }
            next = &list[static_cast<size_t>(index)];
        } else {
            next = &(*at)[part];
        }
        if (dot == std::string::npos) {
            *next = value;
            return;
        }
        if (next->is_null()) *next = json::object();
        at = next;
        start = dot + 1;
    }
}

// One sample of the path: where the aircraft is, the velocity's track, path
// angle and bank (the law's yaw, pitch and roll), and the body's angle of
// attack and sideslip off it (0 on the point mass, which flies along its
// velocity): what a replay needs to draw the body's attitude.
ordered_json path_sample(const FlightSample& s) {
    const auto or_zero = [](double v) { return std::isfinite(v) ? v : 0.0; };
    return {s.t_s,
            s.aircraft->position.x,
            s.aircraft->position.z,
            s.aircraft->position.y,
            s.inputs->yaw,
            s.inputs->pitch,
            s.inputs->roll,
            or_zero(s.air.alpha_deg),
            or_zero(s.air.beta_deg)};
}

// An engagement's target at the same moment: where it is and its attitude
// as the law would see it (track, path angle, bank).
ordered_json target_sample(const FlightSample& s) {
    const TargetState& t = s.engagement->target;
    return {s.t_s, t.position.x, t.position.z, t.position.y, t.heading_deg, t.path_deg, t.bank_deg};
}

// The control entry aircraft flies under control (aircraft_catalog.h); an
// unknown entry is refused.
std::string entry_of(const std::string& aircraft, const std::string& control) {
    try {
        return control_entry_name(aircraft, {control, false});
    } catch (const AircraftError& e) {
        throw Refusal{e.what()};
    }
}

std::string fly(const std::string& scenario, const char* overrides, double path_interval_s,
                bool check_only = false) {
    std::string origin;
    bool builtin = false;
    json doc = base_scenario(scenario, origin, builtin);
    json changes = json::object();
    if (overrides != nullptr) {
        try {
            changes = json::parse(overrides);
        } catch (const json::parse_error& e) {
            throw Refusal{std::string("overrides: not valid JSON: ") + e.what()};
        }
        if (!changes.is_object())
            throw Refusal{"overrides: must be a JSON object of paths and values"};
    }
    // A built-in is flown as suits its aircraft (named by the scenario or
    // an override), the overrides applied after.
    const auto aircraft = changes.find("aircraft");
    if (builtin && aircraft != changes.end() && aircraft->is_string()) {
        const auto control = changes.find("control");
        const bool named = control != changes.end() && control->is_string();
        suit_builtin(
            doc, entry_of(aircraft->get<std::string>(), named ? control->get<std::string>() : ""));
    }
    for (const auto& item : changes.items()) apply_override(doc, item.key(), item.value());
    std::vector<Scenario> parsed;
    try {
        parsed = parse_scenarios(doc.dump(), origin);
    } catch (const ToolError& e) {
        throw Refusal{e.what()};
    }
    Scenario& sc = parsed.front();
    use_aircraft_trim_table(sc, entry_of(sc.aircraft, sc.control));  // the scenario's own win
    // A check flies one step: enough to name every metric and check. The
    // scenario was read with its own duration, so its events stand checked.
    if (check_only) sc.duration_s = kStep_s;

    const long path_every =
        path_interval_s > 0.0 ? std::max(1L, std::lround(path_interval_s / kStep_s)) : 0;
    const long last_step = std::lround(sc.duration_s / kStep_s);
    ordered_json path = ordered_json::array();
    long step = 0;
    ordered_json target_path = ordered_json::array();
    AircraftModel* model = nullptr;
    AircraftModel* opponent = nullptr;
    try {
        model = &aircraft_model(sc.aircraft, {sc.control, false});  // once per thread
        if (sc.target && sc.target->opponent) opponent = &prepare_opponent(sc, false);
    } catch (const AircraftError& e) {
        throw Refusal{e.what()};
    }
    FlightSummary sum;
    try {
        const auto sample = [&](const FlightSample& s) {
            if (path_every > 0 && (step % path_every == 0 || step == last_step)) {
                path.push_back(path_sample(s));
                if (s.engagement) target_path.push_back(target_sample(s));
            }
            ++step;
        };
        sum = fly_scenario_in_instance(sc, *model, sample, opponent);
    } catch (const AircraftError& e) {  // the model cannot be flown at all
        throw Refusal{e.what()};
    }
    ordered_json out = flight_result(sc.name, sum);
    out["scenario"] = doc;
    if (path_every > 0) out["path"] = std::move(path);
    if (path_every > 0 && sc.target) out["target_path"] = std::move(target_path);
    return out.dump();
}

// One call of the C API: the flight's JSON text and 0, or the reason the
// scenario was refused and 1; 2 when there is nowhere to put the answer.
template <typename Fly>
int answer(const char* scenario, char** result, const Fly& fly_it) {
    if (result == nullptr) return 2;
    *result = nullptr;
    if (scenario == nullptr) {
        *result = copy_out("scenario: none given");
        return 1;
    }
    try {
        *result = copy_out(fly_it());
        return 0;
    } catch (const Refusal& r) {
        *result = copy_out(r.message);
    } catch (const std::exception& e) {
        *result = copy_out(std::string("scenario: ") + e.what());
    }
    return 1;
}

}  // namespace

extern "C" {

int guide_sim_fly(const char* scenario, const char* overrides, double path_interval_s,
                  char** result) {
    return answer(scenario, result, [&] { return fly(scenario, overrides, path_interval_s); });
}

int guide_sim_check(const char* scenario, const char* overrides, char** result) {
    return answer(scenario, result, [&] { return fly(scenario, overrides, 0.0, true); });
}

char* guide_sim_builtin_list(void) {
    ordered_json list = ordered_json::array();
    for (const Scenario& sc : builtin_scenarios()) {
        list.push_back({{"name", sc.name}, {"description", sc.description}});
    }
    return copy_out(list.dump());
}

void guide_sim_free(char* text) { std::free(text); }

}  // extern "C"

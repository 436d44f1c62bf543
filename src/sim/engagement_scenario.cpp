// A scenario's engagement, as its file gives it:
//   "target": {"range_m": 3000, "angle_off_tail_deg": 0, "crossing_deg": 90,
//              "altitude_diff_m": 0, "speed_mps": 200, "path_deg": 0,
//              and at most one of
//              "manoeuvre": {"kind": "straight" | "turn" | "weave" | "climb",
//                            "start_s", "load_g", "side": "left" | "right", "turn_deg",
//                            "bank_deg", "period_s", "path_deg"},
//              "recorded": "track.csv"   (a file's folder is where it is looked for),
//              "opponent": {"aircraft", "control", "pursuit": {...} | "inputs", "events",
//                           "params"}}
//   "pursuit": {"law": "pure" | "lead" | "lag", "start_s", "lead_max_s", "lag_s",
//               "floor_m", "floor_depth_m",
//               "speed": {"hold_range_m", "close_time_s", "closure_gain", "decel_mps2",
//                         "min_mps", "max_mps"},
//               "sensor": {"delay_s", "noise_m", "noise_mps", "seed"}}
//   "expect": {..., "on_target_within_s", "on_target_deg", "min_separation_m",
//              "rear_cone_s", "rear_cone": {"angle_deg", "min_range_m", "max_range_m",
//                                           "ata_deg"}}
// A target without "pursuit" is pursued purely from the start.
#include <cmath>
#include <filesystem>

#include "law_constants.h"
#include "scenario.h"
#include "scenario_json.h"
#include "tool_error.h"
#include "values.h"

namespace scenario_json {

namespace {

constexpr double kMaxRange_m = 200000.0;  // beyond any sensor a host feeds the law
constexpr double kMaxLeadTime_s = 60.0;
constexpr double kMaxSensorDelay_s = 10.0;
constexpr double kMaxSensorNoise_m = 10000.0;
constexpr double kMaxTargetLoad_g = 12.0;  // a turn no aircraft outpulls
constexpr double kMaxSeed = 18446744073709551615.0;
constexpr double kMaxTurn_deg = 3600.0;  // ten circles: a turn that ends

TargetGeometry read_geometry(const json& obj, const std::string& where) {
    TargetGeometry g;
    read_bounded(obj, "range_m", where, g.range_m, 1.0, kMaxRange_m);
    read_bounded(obj, "angle_off_tail_deg", where, g.angle_off_tail_deg, -kFullTurn_deg,
                 kFullTurn_deg);
    read_bounded(obj, "crossing_deg", where, g.crossing_deg, -kFullTurn_deg, kFullTurn_deg);
    read_bounded(obj, "altitude_diff_m", where, g.altitude_diff_m, -kMaxStartAltitude_m,
                 kMaxStartAltitude_m);
    read_bounded(obj, "speed_mps", where, g.speed_mps, kMinStartSpeed_mps, kMaxStartSpeed_mps);
    read_bounded(obj, "path_deg", where, g.path_deg, -80.0, 80.0);
    return g;
}

Manoeuvre read_manoeuvre(const json& obj, const std::string& where, double duration_s) {
    only_keys(
        obj, where,
        {"kind", "start_s", "load_g", "side", "turn_deg", "bank_deg", "period_s", "path_deg"});
    Manoeuvre m;
    m.kind = static_cast<ManoeuvreKind>(
        one_of(obj, "kind", where, {"straight", "turn", "weave", "climb"}));
    read_bounded(obj, "start_s", where, m.start_s, 0.0, duration_s);
    read_bounded(obj, "load_g", where, m.load_g, 1.0, kMaxTargetLoad_g);
    read_bounded(obj, "turn_deg", where, m.turn_deg, 0.0, kMaxTurn_deg);
    read_bounded(obj, "bank_deg", where, m.bank_deg, -85.0, 85.0);
    read_bounded(obj, "period_s", where, m.period_s, 1.0, kMaxDuration_s);
    read_bounded(obj, "path_deg", where, m.path_deg, -80.0, 80.0);
    if (obj.contains("side")) m.side = one_of(obj, "side", where, {"left", "right"}) ? 1 : -1;
    return m;
}

SensorSettings read_sensor(const json& obj, const std::string& where) {
    only_keys(obj, where, {"delay_s", "noise_m", "noise_mps", "seed"});
    SensorSettings s;
    read_bounded(obj, "delay_s", where, s.delay_s, 0.0, kMaxSensorDelay_s);
    read_bounded(obj, "noise_m", where, s.noise_m, 0.0, kMaxSensorNoise_m);
    read_bounded(obj, "noise_mps", where, s.noise_mps, 0.0, kMaxStartSpeed_mps);
    double seed = 1.0;
    read_bounded(obj, "seed", where, seed, 0.0, kMaxSeed);
    if (seed != std::floor(seed)) fail(where + ".seed", "must be a whole number");
    s.seed = static_cast<std::uint64_t>(seed);
    return s;
}

SpeedFromRange read_speed(const json& obj, const std::string& where) {
    only_keys(obj, where,
              {"hold_range_m", "close_time_s", "closure_gain", "decel_mps2", "min_mps", "max_mps"});
    SpeedFromRange k;
    read_bounded(obj, "hold_range_m", where, k.hold_range_m, 0.0, kMaxRange_m);
    read_bounded(obj, "close_time_s", where, k.close_time_s, 1.0, kMaxDuration_s);
    read_bounded(obj, "closure_gain", where, k.closure_gain, 0.0, 10.0);
    read_bounded(obj, "decel_mps2", where, k.decel_mps2, 0.1, 100.0);
    read_bounded(obj, "min_mps", where, k.min_mps, kMinStartSpeed_mps, kMaxStartSpeed_mps);
    read_bounded(obj, "max_mps", where, k.max_mps, k.min_mps, kMaxStartSpeed_mps);
    return k;
}

PursuitSettings read_pursuit(const json& obj, const std::string& where, double duration_s) {
    only_keys(
        obj, where,
        {"law", "start_s", "lead_max_s", "lag_s", "speed", "sensor", "floor_m", "floor_depth_m"});
    PursuitSettings p;
    if (obj.contains("law"))
        p.law = static_cast<PursuitLaw>(one_of(obj, "law", where, {"pure", "lead", "lag"}));
    read_bounded(obj, "start_s", where, p.start_s, 0.0, duration_s);
    read_bounded(obj, "lead_max_s", where, p.lead_max_s, 0.0, kMaxLeadTime_s);
    read_bounded(obj, "lag_s", where, p.lag_s, 0.0, kMaxLeadTime_s);
    read_bounded(obj, "floor_m", where, p.floor_m, 0.0, kMaxStartAltitude_m);
    read_bounded(obj, "floor_depth_m", where, p.floor_depth_m, 1.0, kMaxStartAltitude_m);
    if (obj.contains("speed")) p.speed = read_speed(obj.at("speed"), where + ".speed");
    if (obj.contains("sensor")) p.sensor = read_sensor(obj.at("sensor"), where + ".sensor");
    return p;
}

std::string non_empty_text(const json& obj, const char* key, const std::string& where) {
    const json& v = obj.at(key);
    if (!v.is_string() || v.get<std::string>().empty())
        fail(where + "." + key, "must be a non-empty text");
    return v.get<std::string>();
}

// A recorded track, looked for from the scenario's folder; the placement
// keys are refused beside it, since its file places the target.
std::shared_ptr<const RecordedTrack> read_recorded(const json& t, const std::string& w,
                                                   const std::string& folder) {
    for (const char* k : {"range_m", "angle_off_tail_deg", "crossing_deg", "altitude_diff_m",
                          "speed_mps", "path_deg"}) {
        if (t.contains(k)) fail(w + "." + k, "a recorded target is placed by its file");
    }
    const std::filesystem::path file = non_empty_text(t, "recorded", w);
    const std::filesystem::path path =
        file.is_relative() && !folder.empty() ? std::filesystem::path(folder) / file : file;
    try {
        return std::make_shared<RecordedTrack>(read_recorded_track(path.string()));
    } catch (const ToolError& e) {
        fail(w + ".recorded", e.what());
    }
}

OpponentSetup read_opponent(const json& obj, const std::string& where, const TargetState& start,
                            double duration_s) {
    only_keys(obj, where, {"aircraft", "control", "pursuit", "inputs", "events", "params"});
    OpponentSetup o;
    if (obj.contains("aircraft")) o.aircraft = non_empty_text(obj, "aircraft", where);
    if (obj.contains("control")) o.control = non_empty_text(obj, "control", where);
    if (obj.contains("pursuit"))
        o.pursuit = read_pursuit(obj.at("pursuit"), where + ".pursuit", duration_s);
    // Until it pursues, or unless told otherwise, it holds its start: its
    // heading and speed.
    InitialFlight flies;
    flies.speed_mps = start.speed_mps;
    flies.heading_deg = start.heading_deg;
    o.commands = read_commands(obj, where, flies);
    if (obj.contains("events"))
        o.events = read_events(obj.at("events"), where + ".events", duration_s);
    if (obj.contains("params")) o.params = read_params(obj.at("params"), where + ".params");
    return o;
}

}  // namespace

void read_engagement(const json& obj, const std::string& where, const std::string& folder,
                     Scenario& sc) {
    if (obj.contains("pursuit") && !obj.contains("target"))
        fail(where + ".pursuit", "needs a \"target\" to pursue");
    if (!obj.contains("target")) return;
    const json& t = obj.at("target");
    const std::string w = where + ".target";
    only_keys(t, w,
              {"range_m", "angle_off_tail_deg", "crossing_deg", "altitude_diff_m", "speed_mps",
               "path_deg", "manoeuvre", "recorded", "opponent"});
    const int kinds = t.contains("manoeuvre") + t.contains("recorded") + t.contains("opponent");
    if (kinds > 1) fail(w, "give one of \"manoeuvre\", \"recorded\" and \"opponent\"");
    TargetSetup target;
    target.geometry = read_geometry(t, w);
    // The target starts where an aircraft may start: above the ground, in
    // the atmosphere the law knows.
    const double altitude_m = sc.initial.altitude_m + target.geometry.altitude_diff_m;
    if (!(altitude_m >= kMinStartAltitude_m && altitude_m <= kMaxStartAltitude_m)) {
        fail(w + ".altitude_diff_m", "puts the target at " + number_text(altitude_m) +
                                         " m, outside [" + number_text(kMinStartAltitude_m) + ", " +
                                         number_text(kMaxStartAltitude_m) + "]");
    }
    if (t.contains("manoeuvre"))
        target.manoeuvre = read_manoeuvre(t.at("manoeuvre"), w + ".manoeuvre", sc.duration_s);
    if (t.contains("recorded")) target.recorded = read_recorded(t, w, folder);
    if (t.contains("opponent"))
        target.opponent = read_opponent(t.at("opponent"), w + ".opponent",
                                        target_start(target.geometry, sc.initial), sc.duration_s);
    sc.target = std::move(target);
    sc.pursuit = obj.contains("pursuit")
                     ? read_pursuit(obj.at("pursuit"), where + ".pursuit", sc.duration_s)
                     : PursuitSettings{};
}

void read_engagement_expect(const json& obj, const std::string& where, Expectations& e) {
    read_optional(obj, "on_target_within_s", where, e.on_target_within_s);
    read_bounded(obj, "on_target_deg", where, e.on_target_deg, 0.0, kHalfTurn_deg);
    read_optional(obj, "min_separation_m", where, e.min_separation_m);
    read_optional(obj, "rear_cone_s", where, e.rear_cone_s);
    if (e.on_target_within_s)
        check_range(*e.on_target_within_s, 0.0, kMaxDuration_s, where + ".on_target_within_s");
    if (e.min_separation_m)
        check_range(*e.min_separation_m, 0.0, kMaxRange_m, where + ".min_separation_m");
    if (e.rear_cone_s) check_range(*e.rear_cone_s, 0.0, kMaxDuration_s, where + ".rear_cone_s");
    if (!obj.contains("rear_cone")) return;
    const json& c = obj.at("rear_cone");
    const std::string w = where + ".rear_cone";
    only_keys(c, w, {"angle_deg", "min_range_m", "max_range_m", "ata_deg"});
    read_bounded(c, "ata_deg", w, e.rear_cone.ata_deg, 0.0, kHalfTurn_deg);
    read_bounded(c, "angle_deg", w, e.rear_cone.angle_deg, 0.0, kHalfTurn_deg);
    read_bounded(c, "min_range_m", w, e.rear_cone.min_range_m, 0.0, kMaxRange_m);
    read_bounded(c, "max_range_m", w, e.rear_cone.max_range_m, e.rear_cone.min_range_m,
                 kMaxRange_m);
}

}  // namespace scenario_json

// guide-sim: the guidance law flying a point-mass aircraft in closed loop.
//
// Each scenario is flown through libGuide.so as loaded by the dynamic
// loader. guide-sim prints a summary row per scenario as it lands, writes
// the trajectory as CSV (the law's inputs, outputs and states under their own
// names, so guide-run can replay it), the parameters it flew with and a
// summary, draws the pictures, and exits non-zero when a check fails.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "files.h"
#include "tool_options.h"
#include "guide_fields.h"
#include "guide_library.h"
#include "GuideW_constants.h"
#include "law_constants.h"
#include "sim/aircraft_catalog.h"
#include "sim/aircraft_scenarios.h"
#include "sim/control_gains.h"
#include "sim/flight.h"
#include "sim/flight_result.h"
#include "sim/throttle_calibration.h"
#include "tracking_report.h"
#include "tool_error.h"
#include "values.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct Options {
    std::vector<std::string> scenarios;
    std::string out_dir;  // empty: out/sim/AIRCRAFT (default_out_dir)
    std::string library = default_library_path();
    std::string python = "/usr/bin/python3";
    std::string compare_dir;
    std::string aircraft;  // overrides every scenario's own
    std::string control;   // overrides every scenario's control entry
    bool control_over_fcs = false;
    std::string calibrate_out;  // --calibrate-throttle FILE
    ParameterOptions params;
    bool no_plot = false, list = false, aircraft_log = false, tracking = false;
    bool replay = false;  // write NAME.acmi and NAME.html (replay_export.py)
};

// Flights in mode 3 carry the orbit's expected radius and altitude.
bool flies_orbit(const Scenario& sc) {
    const auto orbit = [](double mode) { return GuideW_mode_band(mode) == GUIDEW_BAND_ORBIT; };
    if (orbit(sc.commands.mode)) return true;
    for (const TimedChange& e : sc.events) {
        for (const InputChange& c : e.changes) {
            if (kInputNames[c.index] == std::string("mode") && orbit(c.value)) return true;
        }
    }
    return false;
}

// The trajectory file, written whole or not at all. An aircraft with air
// data (a six-degree-of-freedom model) adds its angle of attack, sideslip,
// Mach, surfaces and gear; the point mass has none.
// An engagement adds the target under the prefix target_ (placed as our
// own aircraft is, so the replays find it), our geometry on it and the point
// our pursuit steers to; a second aircraft adds its law's commands and, on
// a model with air data, its angles off the velocity.
constexpr const char* kTargetColumns[] = {
    "target_x_north", "target_z_east", "target_altitude", "target_yaw",
    "target_pitch",   "target_roll",   "target_tas",      "target_load_flown",
    "range_m",        "closure_mps",   "ata_deg",         "angle_off_tail_deg",
    "hca_deg",        "aim_x_north",   "aim_z_east",      "aim_altitude"};
constexpr const char* kOpponentColumns[] = {
    "target_azim_cmd", "target_elev_cmd",     "target_speed_cmd", "target_lat_cmd",
    "target_nz_cmd",   "target_throttle_cmd", "target_alpha_deg", "target_beta_deg"};

// Arrays of the columns' length: rows are written every step, without a
// heap allocation.
std::array<double, std::size(kTargetColumns)> target_values(const EngagementSample& e) {
    const TargetState& t = e.target;
    const EngagementGeometry& g = e.geometry;
    return {t.position.x, t.position.z,    t.position.y,    t.heading_deg,
            t.path_deg,   t.bank_deg,      t.speed_mps,     t.load_g,
            g.range_m,    g.closure_mps,   g.ata_deg,       g.angle_off_tail_deg,
            g.hca_deg,    e.aim_point_m.x, e.aim_point_m.z, e.aim_point_m.y};
}

std::array<double, std::size(kOpponentColumns)> opponent_values(const EngagementSample& e) {
    const GuideWInputs& u = *e.opponent_inputs;
    const GuideWOutputs& y = *e.opponent_outputs;
    return {u.azim_cmd,
            u.elev_cmd,
            u.speed_cmd,
            y.lat_cmd,
            y.nz_cmd,
            y.throttle_cmd,
            e.opponent_air.alpha_deg,
            e.opponent_air.beta_deg};
}

class TrajectoryWriter {
public:
    TrajectoryWriter(const fs::path& path, bool orbit, bool air, const Scenario& sc)
        : orbit_(orbit),
          air_(air),
          target_(sc.target.has_value()),
          opponent_(sc.target && sc.target->opponent) {
        out_.open(path.string());
        std::string& line = out_.buffer();
        line += "time";
        for (const char* n : kInputNames) line.append(",").append(n);
        for (const char* n : kOutputNames) line.append(",").append(n);
        for (const char* n : kStateNames) line.append(",").append(n);
        line += ",x_north,z_east,load_flown,thrust_frac,dir_err_deg";
        if (orbit_) line += ",orbit_radius_m,orbit_alt_target_m";
        if (air_) line += ",alpha_deg,beta_deg,mach,elevator_deg,aileron_deg,rudder_deg,gear_down";
        if (target_)
            for (const char* n : kTargetColumns) line.append(",").append(n);
        if (opponent_)
            for (const char* n : kOpponentColumns) line.append(",").append(n);
        line += '\n';
    }

    void write(const FlightSample& s) {
        std::string& line = out_.buffer();
        append_number(line, s.t_s);
        const auto put_all = [&](const double* v, int n) {
            for (int i = 0; i < n; ++i) {
                line += ',';
                append_number(line, v[i]);
            }
        };
        put_all(input_values(*s.inputs), kInputCount);
        put_all(output_values(*s.outputs), kOutputCount);
        put_all(state_values(*s.states), kStateCount);
        const double extra[] = {s.aircraft->position.x, s.aircraft->position.z, s.aircraft->load_g,
                                s.aircraft->thrust_frac, s.dir_err_deg};
        put_all(extra, 5);
        if (orbit_) {
            const double orbit[] = {s.orbit_radius_m, s.orbit_alt_target_m};
            put_all(orbit, 2);
        }
        if (air_) {
            const AirData& a = s.air;
            const double air[] = {a.alpha_deg,   a.beta_deg,   a.mach,     a.elevator_deg,
                                  a.aileron_deg, a.rudder_deg, a.gear_down};
            put_all(air, 7);
        }
        if (target_) {
            const auto t = target_values(*s.engagement);
            put_all(t.data(), static_cast<int>(t.size()));
        }
        if (opponent_) {
            const auto o = opponent_values(*s.engagement);
            put_all(o.data(), static_cast<int>(o.size()));
        }
        line += '\n';
        out_.flush_row();
    }

    void commit() { out_.commit(); }

private:
    OutputFile out_;
    bool orbit_, air_, target_, opponent_;
};

// On a terminal, a long flight shows how far it has got (on standard
// error, one line rewritten, cleared when done).
class FlightProgress {
public:
    FlightProgress(const Scenario& sc)
        : name_(sc.name),
          duration_s_(sc.duration_s),
          shown_(isatty(STDERR_FILENO) && sc.duration_s >= kLongFlight_s) {}
    ~FlightProgress() {
        if (shown_) std::fprintf(stderr, "\r%*s\r", 40 + static_cast<int>(name_.size()), "");
    }
    void at(double t_s) {
        if (!shown_) return;
        const int percent = static_cast<int>(100.0 * t_s / duration_s_);
        if (percent == last_) return;
        last_ = percent;
        std::fprintf(stderr, "\rflying %s: %d%% of %.0f s", name_.c_str(), percent, duration_s_);
    }

private:
    static constexpr double kLongFlight_s = 600.0;
    std::string name_;
    double duration_s_;
    bool shown_;
    int last_ = -1;
};

std::vector<Scenario> named_scenarios(const std::vector<std::string>& args);

// The parameters of --params and --set go after the scenario's own (and
// after the aircraft's trim table): the command line retunes every flight,
// and both laws of a one-against-one, so that both fly the law under study.
void retune(Scenario& sc, const std::vector<Assignment>& params) {
    for (const Assignment& a : params) {
        sc.params.emplace_back(a.name, a.value);
        if (sc.target && sc.target->opponent)
            sc.target->opponent->params.emplace_back(a.name, a.value);
    }
}

std::vector<Scenario> named_scenarios(const std::vector<std::string>& args) {
    const std::vector<Scenario>& builtins = builtin_scenarios();
    if (args.empty()) return builtins;
    std::vector<Scenario> out;
    for (const std::string& arg : args) {
        bool found = false;
        for (const Scenario& sc : builtins) {
            if (sc.name == arg) {
                out.push_back(sc);
                found = true;
            }
        }
        if (found) continue;
        std::error_code ec;
        if (!fs::exists(arg, ec)) {
            fail(kExitUsage, "unknown scenario " + quote_text(arg) +
                                 ": no built-in of that name (see --list) and no such file");
        }
        for (Scenario& sc : load_scenario_file(arg)) out.push_back(std::move(sc));
    }
    std::map<std::string, int> seen;
    for (const Scenario& sc : out) {
        if (seen[sc.name]++ == 1) {
            fail(kExitFailed, "two scenarios are named '" + sc.name +
                                  "'; their files would overwrite each other");
        }
    }
    return out;
}

// value with the given decimals, for the summary table.
std::string fixed(int decimals, double value) {
    if (std::isnan(value)) return "nan";  // never "-nan"
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void print_summary_header() {
    std::printf("%-18s %10s %10s %10s %11s  %s\n", "scenario", "converge", "peak load", "alt lost",
                "final dV", "result");
}

// "n/a" when the mode does not steer towards the commanded direction,
// "never" when it steers but the flight ends outside the 5 deg band.
std::string converge_text(const FlightSummary& sum) {
    if (!sum.steers) return "n/a";
    return sum.converge_s ? fixed(2, *sum.converge_s) + " s" : "never";
}

// The failed checks' words, in the order of the checks.
std::string failure_text(const FlightSummary& sum) {
    std::string text;
    for (const CheckResult& c : sum.failed()) text += (text.empty() ? "" : "; ") + c.failure;
    return text;
}

void print_summary_row(const Scenario& sc, const FlightSummary& sum) {
    if (!sum.started) {  // no figures to show: say so, and why
        std::printf("%-18s %10s %10s %10s %11s  FAILED: %s\n", sc.name.c_str(), "not flown", "-",
                    "-", "-", sum.failed().front().failure.c_str());
        std::fflush(stdout);
        return;
    }
    const std::string result = sum.passed() ? "ok" : "FAILED: " + failure_text(sum);
    std::printf("%-18s %10s %8s g %8s m %7s m/s  %s\n", sc.name.c_str(), converge_text(sum).c_str(),
                fixed(2, sum.peak_load_g).c_str(), fixed(0, sum.altitude_lost_m).c_str(),
                fixed(1, sum.final_speed_err_mps).c_str(), result.c_str());
    std::fflush(stdout);
}

// The flight's result (flight_result.h), with what the pictures' titles
// read beside the trajectory.
std::string summary_json(const Scenario& sc, const FlightSummary& sum) {
    nlohmann::ordered_json j = flight_result(sc.name, sum);
    j["description"] = sc.description;
    j["aircraft"] = sc.aircraft;
    if (sc.target && sc.target->opponent) {  // the replays name the second aircraft by it
        const std::string& theirs = sc.target->opponent->aircraft;
        j["opponent_aircraft"] = theirs.empty() ? sc.aircraft : theirs;
    }
    j["duration_s"] = sc.duration_s;
    std::vector<std::string> failed;
    for (const CheckResult& c : sum.failed()) failed.push_back(c.failure);
    j["failed"] = failed;
    j["steers"] = sum.steers;
    j["converge_s"] = sum.converge_s ? nlohmann::json(*sum.converge_s) : nlohmann::json();
    j["first_within_s"] =
        sum.first_within_s ? nlohmann::json(*sum.first_within_s) : nlohmann::json();
    j["ended_s"] = sum.ended_s ? nlohmann::json(*sum.ended_s) : nlohmann::json();
    j["latched"] = sc.expect.latched;
    // The states that are flags, for the pictures' latch strips.
    std::vector<std::string> flags;
    for (const guidew_fields::Field& f : guidew_fields::kStates) {
        if (std::string(f.description).rfind("flag:", 0) == 0) flags.push_back(f.name);
    }
    j["flags"] = flags;
    return j.dump(2) + "\n";
}

// The status the plotting script is asked to give for a trajectory it cannot
// read: neither the interpreter's 1 for a crash nor another program's 1
// (--python naming something else) can be taken for it.
constexpr int kScriptBadData = 65;

// What a script beside guide-sim makes, for its messages: "drawing" "the
// pictures", and how to do without them.
struct ScriptWork {
    std::string verb, what, hint;
};

// Runs one of the Python scripts beside guide-sim on the named trajectories
// of this run: status 3 when Python or what the script needs cannot be
// used, 1 when a trajectory is bad.
void run_script(const Options& opt, const std::string& name,
                const std::vector<std::string>& options, const std::vector<std::string>& names,
                const ScriptWork& work) {
    std::vector<std::string> args = {opt.python, executable_dir() + name, "--bad-data-exit",
                                     std::to_string(kScriptBadData)};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(opt.out_dir);
    args.insert(args.end(), names.begin(), names.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, opt.python.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        fail(kExitEnvironment,
             "cannot run " + opt.python + " for " + work.what + " (" + work.hint + ")");
    }
    int status = 0;
    waitpid(pid, &status, 0);
    // The script has named the file and what is wrong with it: a trajectory
    // (this run's or the one compared) that holds bad data is status 1.
    if (WIFEXITED(status) && WEXITSTATUS(status) == kScriptBadData) {
        fail(kExitFailed, "a trajectory could not be read for " + work.what + " (see above)");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fail(kExitEnvironment, work.verb + " " + work.what + " failed (" + work.hint + ")");
    }
}

// Runs the plotting script on the named trajectories.
void draw_pictures(const Options& opt, const std::vector<std::string>& names) {
    std::vector<std::string> compare;
    if (!opt.compare_dir.empty()) compare = {"--compare", opt.compare_dir};
    run_script(opt, "plot_trajectory.py", compare, names,
               {"drawing", "the pictures", "use --no-plot to skip them"});
}

// Removes what an earlier run wrote for a flight flown again.
void remove_stale(const fs::path& file) {
    std::error_code ec;
    if (fs::remove(file, ec); ec)
        fail(kExitEnvironment, file.string() + ": cannot remove: " + ec.message());
}

// What the model has said since it was last shown (its log is collected
// over all its flights).
void show_new_log(const AircraftModel& aircraft) {
    static std::map<const AircraftModel*, size_t> shown;
    const std::string log = aircraft.log();
    size_t& from = shown[&aircraft];
    if (from > log.size()) from = 0;
    std::fputs(log.c_str() + from, stderr);
    from = log.size();
}

// The aircraft named, loaded once; a name that is not an aircraft is a bad
// option value (from the command line) or bad scenario content.
// With show_log, a model that failed to load shows its messages first.
AircraftModel& aircraft_for(const std::string& name, const ControlChoice& choice,
                            int unknown_status, bool show_log) {
    try {
        return aircraft_model(name, choice);
    } catch (const AircraftError& e) {
        if (show_log) std::fputs(e.log().c_str(), stderr);
        fail(e.kind() == AircraftError::kUnknown ? unknown_status : kExitFailed, e.what());
    }
}

// The second aircraft of a one-against-one, loaded once as aircraft_for()
// loads ours.
AircraftModel& opponent_for(Scenario& sc, const Options& opt) {
    try {
        return prepare_opponent(sc, opt.control_over_fcs);
    } catch (const AircraftError& e) {
        if (opt.aircraft_log) std::fputs(e.log().c_str(), stderr);
        fail(kExitFailed, sc.name + ": the opponent: " + e.what());
    }
}

// Trims the aircraft at every breakpoint of the trim-throttle table and
// writes the parameters with its table; lists the cells filled by the rule.
int calibrate(const Options& opt, const GuideLibrary& lib) {
    const std::string name = opt.aircraft.empty() ? kPointMassName : opt.aircraft;
    AircraftModel& aircraft =
        aircraft_for(name, {opt.control, opt.control_over_fcs}, kExitUsage, opt.aircraft_log);
    const ThrottleCalibration cal = calibrate_trim_throttle(aircraft, *lib.params);
    write_text_file(opt.calibrate_out, parameter_text(cal.params));
    // Beside it, what the trim found at every breakpoint.
    const std::string report = fs::path(opt.calibrate_out).replace_extension(".trim.csv").string();
    write_text_file(report, trim_report_csv(cal));
    std::printf("%s: trimmed level at %d of %zu breakpoints; thr_table in %s, trim report in %s\n",
                name.c_str(), cal.trimmed, static_cast<size_t>(cal.trimmed) + cal.filled.size(),
                opt.calibrate_out.c_str(), report.c_str());
    for (const FilledCell& f : cal.filled) {
        std::printf("  no trim at %5.0f m, %3.0f m/s: %s\n", f.altitude_m, f.speed_mps,
                    f.rule.c_str());
    }
    return kExitOk;
}

// The aircraft names for --help, within its width.
std::string wrapped_aircraft_list() {
    std::string list = available_aircraft();
    const size_t last = list.rfind(", ");
    if (last != std::string::npos) list.replace(last, 2, ",\n");
    return list;
}

// Each aircraft's flights go by default to a folder of their own,
// out/sim/AIRCRAFT (the name in lower case, a folder's own name for a
// JSBSim folder, "mixed" when the scenarios fly several), so that a run on
// the F-16 never replaces the point mass's files.
std::string default_out_dir(const std::string& aircraft, const std::vector<Scenario>& scenarios) {
    std::string name = aircraft;
    for (const Scenario& sc : scenarios) {
        if (aircraft.empty()) name = name.empty() || name == sc.aircraft ? sc.aircraft : "mixed";
    }
    fs::path path = fs::path(name).lexically_normal();
    if (path.filename().empty()) path = path.parent_path();
    name = path.filename().string();
    if (name.empty() || name == "." || name == "..") name = "aircraft";
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return "out/sim/" + name;
}

// Which throttle table flights on entry fly when the command line gives
// parameters (they go over the entry's calibrated table, cell by cell).
std::string throttle_table_notice(const std::string& entry, const std::vector<Assignment>& params) {
    const ControlEntry* e = find_control_entry(entry);
    if (!e || e->thr_table.empty()) return {};
    size_t cells = 0;
    for (const Assignment& a : params) cells += a.name.rfind("thr_table[", 0) == 0 ? 1 : 0;
    return entry + " flies its calibrated throttle table" +
           (cells ? " with " + std::to_string(cells) + " of its " +
                        std::to_string(e->thr_table.size()) + " cells from --params/--set"
                  : std::string(" (--params/--set set none of it)"));
}

int simulate(Options opt) {
    if (opt.list) {
        for (const Scenario& sc : builtin_scenarios())
            std::printf("%-18s %s\n", sc.name.c_str(), sc.description.c_str());
        return kExitOk;
    }
    std::error_code ec;
    if (!opt.compare_dir.empty() && !fs::is_directory(opt.compare_dir, ec)) {
        fail(kExitUsage, "--compare " + quote_text(opt.compare_dir) + ": no such folder");
    }
    const std::vector<Scenario> scenarios = named_scenarios(opt.scenarios);
    const std::vector<Assignment> params = read_parameter_options(opt.params);
    const GuideLibrary lib = load_guide_library(opt.library);
    if (!opt.calibrate_out.empty()) {
        lib.initialize();
        apply_parameters(*lib.params, params);  // the calibration trims under the tuned gains
        return calibrate(opt, lib);
    }
    if (opt.out_dir.empty()) opt.out_dir = default_out_dir(opt.aircraft, scenarios);
    const fs::path dir(opt.out_dir);
    fs::create_directories(dir, ec);
    if (ec) fail(kExitEnvironment, "cannot create " + opt.out_dir + ": " + ec.message());

    if (!opt.aircraft.empty())
        aircraft_for(opt.aircraft, {opt.control, opt.control_over_fcs}, kExitUsage,
                     opt.aircraft_log);
    std::set<std::string> told;  // the lines said once per run
    const auto tell = [&told](const std::string& line) {
        if (!line.empty() && told.insert(line).second)
            std::fprintf(stderr, "guide-sim: %s\n", line.c_str());
    };
    bool all_passed = true;
    std::vector<std::string> written;
    print_summary_header();
    for (const Scenario& given : scenarios) {
        const std::string aircraft_name = opt.aircraft.empty() ? given.aircraft : opt.aircraft;
        const ControlChoice choice{opt.control.empty() ? given.control : opt.control,
                                   opt.control_over_fcs};
        AircraftModel& aircraft =
            aircraft_for(aircraft_name, choice, kExitFailed, opt.aircraft_log);
        const std::string entry = control_entry_name(aircraft_name, choice);
        tell(control_notice(aircraft_name, choice));
        // Named built-ins are flown as suits the aircraft; files as written
        // (a file's scenario cannot share a built-in's name with it in one run).
        const bool builtin = opt.scenarios.empty() ||
                             std::find(opt.scenarios.begin(), opt.scenarios.end(), given.name) !=
                                 opt.scenarios.end();
        Scenario sc = builtin ? suited_builtin(given, entry) : given;
        sc.aircraft = aircraft_name;
        sc.control = choice.entry;
        use_aircraft_trim_table(sc, entry);
        if (!opt.params.params_file.empty() || !opt.params.sets.empty())
            tell(throttle_table_notice(entry, params));
        retune(sc, params);
        // The old picture belongs to the old flight: it goes before the new
        // flight is written, so a run without pictures, or whose drawing
        // fails, never leaves it beside the new verdict.
        for (const char* drawn : {".png", ".acmi", ".html"})  // the pictures and replays
            remove_stale(dir / (sc.name + drawn));
        // A one-against-one's second aircraft, flown by a law instance of
        // the same library.
        std::optional<LoadedInstanceLaw> opponent_law;
        std::optional<Opponent> opponent;
        if (sc.target && sc.target->opponent) {
            AircraftModel& model = opponent_for(sc, opt);
            opponent_law.emplace(lib.instances);
            opponent.emplace(Opponent{*opponent_law, model});
        }
        TrajectoryWriter writer(dir / (sc.name + ".csv"), flies_orbit(sc),
                                std::isfinite(aircraft.air_data().mach), sc);
        const AircraftLimits limits = aircraft.limits();
        TrackingMeter tracking(limits.max_roll_rate_dps, limits.elevator_rate_dps);
        FlightSummary sum;
        {
            FlightProgress progress(sc);  // cleared before the row is printed
            LoadedLaw law(lib);
            sum = fly_scenario(
                law, sc, aircraft,
                [&](const FlightSample& s) {
                    writer.write(s);
                    progress.at(s.t_s);
                    if (opt.tracking) tracking.observe(s);
                },
                opponent ? &*opponent : nullptr);
        }
        if (opt.aircraft_log) show_new_log(aircraft);
        if (!sum.air_left_out.empty()) {
            std::fprintf(stderr,
                         "guide-sim: %s: %s flies without %s (it models the steady wind only)\n",
                         sc.name.c_str(), aircraft.name().c_str(), sum.air_left_out.c_str());
        }
        if (sum.started) {
            writer.commit();
            write_text_file((dir / (sc.name + ".params")).string(),
                            parameter_text(scenario_parameters(*lib.params, sc)));
            written.push_back(sc.name);
        } else {  // an earlier flight's trajectory would read as this one's
            remove_stale(dir / (sc.name + ".csv"));
            remove_stale(dir / (sc.name + ".params"));
        }
        write_text_file((dir / (sc.name + ".summary.json")).string(), summary_json(sc, sum));
        print_summary_row(sc, sum);
        if (sum.engagement && sum.started)
            std::fputs(engagement_report(*sum.engagement).c_str(), stdout);
        if (opt.tracking && sum.started)
            std::fputs(tracking_report(aircraft.name(), tracking.result()).c_str(), stdout);
        std::fflush(stdout);
        all_passed = all_passed && sum.passed();
    }
    if (!opt.no_plot) draw_pictures(opt, written);
    if (opt.replay)
        run_script(opt, "replay_export.py", {}, written,
                   {"writing", "the replays", "run without --replay to skip them"});
    std::printf("trajectories%s%s in %s/\n", opt.no_plot ? "" : " and pictures",
                opt.replay ? " and replays" : "", opt.out_dir.c_str());
    return all_passed ? kExitOk : kExitFailed;
}

const char* const kDescription =
    "guide-sim: fly the guidance law in closed loop with an aircraft (by default our\npoint mass; "
    "JSBSim aircraft with --aircraft or a scenario's \"aircraft\").\n"
    "Flies each SCENARIO (a built-in name or a JSON scenario file; default: every\n"
    "built-in) and prints a summary row per scenario as it lands.";

const char* const kFooter =
    "For each scenario NAME it writes, each file whole or not at all:\n"
    "  OUT/NAME.csv           the law's inputs, outputs and states under their\n"
    "                         own names, then the aircraft (x_north, z_east,\n"
    "                         load_flown, thrust_frac, dir_err_deg; in the orbit\n"
    "                         also orbit_radius_m, orbit_alt_target_m; in an\n"
    "                         engagement also target_*, range_m, closure_mps,\n"
    "                         ata_deg, angle_off_tail_deg, hca_deg, aim_*)\n"
    "  OUT/NAME.params        every parameter it flew with (guide-run --params)\n"
    "  OUT/NAME.summary.json  the verdict: each check by name, passed or not,\n"
    "                         and the metrics (also for a flight that did not\n"
    "                         start, whose .csv and .params are then removed)\n"
    "  OUT/NAME.png           the pictures (not with --no-plot; an old one is\n"
    "                         removed when its flight is written again)\n"
    "  OUT/NAME.acmi          with --replay: the flight for Tacview (ACMI 2.2)\n"
    "  OUT/NAME.html          with --replay: the flight in 3-D in a browser\n"
    "Any run is reproduced byte for byte by\n"
    "  guide-run --states --params OUT/NAME.params -o replay.csv OUT/NAME.csv\n"
    "  cmp replay.csv OUT/NAME.csv\n"
    "\n"
    "A flight ends early when the aircraft reaches the ground or a value turns\n"
    "non-finite; both fail it. The converge column is the time the velocity\n"
    "last came within 5 deg of the commanded direction and stayed there to the\n"
    "end: n/a in modes that do not steer to it, never when the flight ends\n"
    "outside the band (summary.json also holds the first entry, first_within_s).\n"
    "--params and --set apply to every scenario, after the scenario's own params.\n"
    "\n";

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    CLI::App app{kDescription, "guide-sim"};
    app.footer(std::string(kFooter) + kExitStatusHelp +
               "\nA failure to draw (status 3) outranks a failed check (status 1).\n");
    app.add_option("SCENARIO", opt.scenarios, "built-in scenario name or JSON file");
    add_output_option(app, opt.out_dir,
                      "folder for trajectories and pictures\n(default out/sim/AIRCRAFT)")
        ->type_name("DIR");
    app.add_option("--out", opt.out_dir)->group("");  // the older name of --output
    app.add_flag("--no-plot", opt.no_plot, "write the trajectories but draw no pictures");
    app.add_option("--compare", opt.compare_dir,
                   "draw the same scenarios from an earlier run's OUT\nfolder over these (e.g. "
                   "another parameter set)")
        ->type_name("DIR");
    app.add_flag("--replay", opt.replay,
                 "also write each flight for Tacview (NAME.acmi)\nand as a 3-D replay (NAME.html)");
    app.add_flag("--list", opt.list, "list the built-in scenarios and exit");
    add_parameter_options(app, opt.params);
    add_library_option(app, opt.library);
    app.add_option(
           "--aircraft", opt.aircraft,
           "fly every scenario on this aircraft instead of\nits own: " + wrapped_aircraft_list())
        ->type_name("NAME");
    app.add_option("--control", opt.control,
                   "the control entry the aircraft flies (a folder's:\ngeneric unless named): " +
                       control_entry_names())
        ->type_name("NAME");
    app.add_flag(
        "--control-over-fcs", opt.control_over_fcs,
        "fly our surface loop on an aircraft that has a\nflight-control system of its own");
    app.add_flag(
        "--aircraft-log", opt.aircraft_log,
        "show the flight-dynamics model's own messages\n(also when it fails to load or trim)");
    app.add_option(
           "--calibrate-throttle", opt.calibrate_out,
           "trim the aircraft (--aircraft) level at every\nbreakpoint of the trim-throttle table "
           "and write\nthe parameters with its table to FILE (for\n--params of every tool)")
        ->type_name("FILE");
    app.add_flag("--tracking", opt.tracking,
                 "print how closely the aircraft flew the commanded\nload factor and roll rate, "
                 "its elevator's "
                 "activity,\nsideslip and angle of attack");
    add_version_option(app, "guide-sim");
    app.add_option("--python", opt.python, "Python with matplotlib, for the pictures")
        ->capture_default_str();
    parse_command_line(app, "guide-sim", argc, argv);
    end_cleanly_on_interrupt("guide-sim");
    int status = kExitOk;
    const int error = run_reporting_errors("guide-sim", [&] { status = simulate(opt); });
    return error != kExitOk ? error : status;
}

// guide-sim: the guidance law flying a point-mass aircraft in closed loop.
//
// Each scenario is flown through libGuide.so as loaded by the dynamic
// loader. guide-sim prints a summary row per scenario, writes the trajectory
// as CSV (the law's inputs and outputs under their own names, so guide-run
// can replay it) and draws it, and exits non-zero when a check fails.
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "csv_stream.h"
#include "guide_fields.h"
#include "guide_library.h"
#include "sim/flight.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kExitChecksFailed = 1;
constexpr int kExitUsage = 2;

// The trajectory file, written whole or not at all.
class TrajectoryWriter {
public:
    bool open(const fs::path& path, std::string& error) {
        if (!out_.open(path.string(), error)) return false;
        std::string& line = out_.buffer();
        line += "time";
        for (const char* n : kInputNames) line.append(",").append(n);
        for (const char* n : kOutputNames) line.append(",").append(n);
        for (const char* n : kStateNames) line.append(",").append(n);
        line += ",x_north,z_east,load_flown,thrust_frac,dir_err_deg\n";
        return true;
    }

    bool write(const FlightSample& s, std::string& error) {
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
        const double extra[] = {s.aircraft->position.x, s.aircraft->position.z,
                                s.aircraft->load_g, s.aircraft->thrust_frac, s.dir_err_deg};
        put_all(extra, 5);
        line += '\n';
        return out_.flush_if_full(error);
    }

    bool commit(std::string& error) { return out_.commit(error); }

private:
    CsvOutput out_;
};

bool resolve_scenarios(const std::vector<std::string>& args, std::vector<Scenario>& out,
                       std::string& error) {
    const std::vector<Scenario>& builtins = builtin_scenarios();
    if (args.empty()) {
        out = builtins;
        return true;
    }
    for (const std::string& arg : args) {
        bool found = false;
        for (const Scenario& sc : builtins) {
            if (sc.name == arg) {
                out.push_back(sc);
                found = true;
            }
        }
        if (found) continue;
        if (!fs::exists(arg)) {
            error = "unknown scenario '" + arg + "': no built-in of that name (see --list) and no such file";
            return false;
        }
        if (!load_scenario_file(arg, out, error)) return false;
    }
    std::map<std::string, int> seen;
    for (const Scenario& sc : out) {
        if (seen[sc.name]++ == 1) {
            error = "two scenarios are named '" + sc.name + "'; their files would overwrite each other";
            return false;
        }
    }
    return true;
}

void print_summary_header() {
    std::printf("%-18s %10s %10s %9s %10s  %s\n", "scenario", "converge", "peak load",
                "alt lost", "final dV", "result");
}

void print_summary_row(const Scenario& sc, const FlightSummary& sum) {
    // Above mode 2.5 the law does not steer towards the commanded direction.
    char converge[32] = "-";
    if (sum.converge_s && !(sc.commands.mode > 2.5)) std::snprintf(converge, sizeof converge, "%.2f s", *sum.converge_s);
    std::string result = "ok";
    if (!sum.failed.empty()) {
        result = "FAILED: ";
        for (size_t i = 0; i < sum.failed.size(); ++i) result += (i ? "; " : "") + sum.failed[i];
    }
    std::printf("%-18s %10s %8.2f g %7.0f m %6.1f m/s  %s\n", sc.name.c_str(), converge,
                sum.peak_load_g, sum.altitude_lost_m, sum.final_speed_err_mps, result.c_str());
}

// Runs the plotting script on the named trajectories; returns its success.
bool draw_pictures(const std::string& python, const fs::path& dir,
                   const std::vector<std::string>& names) {
    const std::string script = executable_dir() + "plot_trajectory.py";
    std::vector<std::string> args = {python, script, dir.string()};
    args.insert(args.end(), names.begin(), names.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, python.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "guide-sim: cannot run %s for the pictures (use --no-plot to skip them)\n",
                     python.c_str());
        return false;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "guide-sim: fly the guidance law in closed loop with a point-mass aircraft.\n"
        "Flies each SCENARIO (a built-in name or a JSON scenario file; default: every\n"
        "built-in), prints a summary row per scenario, writes OUT/NAME.csv (the law's\n"
        "inputs, outputs and states under their own names, plus the aircraft) and\n"
        "OUT/NAME.png, and exits with 1 when a scenario's checks fail, 2 on bad usage\n"
        "or files."};
    std::vector<std::string> scenario_args;
    std::string out_dir = "out/sim";
    std::string library = default_library_path();
    std::string python = "/usr/bin/python3";
    bool no_plot = false, list = false;
    app.add_option("scenario", scenario_args, "built-in scenario name or JSON file");
    app.add_option("-o,--out", out_dir, "folder for trajectories and pictures")->capture_default_str();
    app.add_flag("--no-plot", no_plot, "write the trajectories but draw no pictures");
    app.add_flag("--list", list, "list the built-in scenarios and exit");
    app.add_option("--library", library, "libGuide.so to load")->capture_default_str();
    app.add_option("--python", python, "Python with matplotlib, for the pictures")->capture_default_str();
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "guide-sim: " + std::string(e.what()) + "\nRun with --help for more information.\n";
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }

    if (list) {
        for (const Scenario& sc : builtin_scenarios()) {
            std::printf("%-18s %s\n", sc.name.c_str(), sc.description.c_str());
        }
        return 0;
    }

    std::vector<Scenario> scenarios;
    std::string error;
    if (!resolve_scenarios(scenario_args, scenarios, error)) {
        std::fprintf(stderr, "guide-sim: %s\n", error.c_str());
        return kExitUsage;
    }
    GuideLibrary lib;
    if (!load_guide_library(library, lib, error)) {
        std::fprintf(stderr, "guide-sim: %s\n", error.c_str());
        return kExitUsage;
    }
    const fs::path dir(out_dir);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "guide-sim: cannot create %s: %s\n", out_dir.c_str(), ec.message().c_str());
        return kExitUsage;
    }

    bool all_passed = true;
    std::vector<std::string> written;
    print_summary_header();
    for (const Scenario& sc : scenarios) {
        TrajectoryWriter writer;
        bool write_ok = writer.open(dir / (sc.name + ".csv"), error);
        const FlightSummary sum = fly_scenario(lib, sc, AircraftConfig{}, [&](const FlightSample& s) {
            write_ok = write_ok && writer.write(s, error);
        });
        if (!write_ok || !writer.commit(error)) {
            std::fprintf(stderr, "guide-sim: %s\n", error.c_str());
            return kExitUsage;
        }
        written.push_back(sc.name);
        print_summary_row(sc, sum);
        all_passed = all_passed && sum.failed.empty();
    }
    std::fflush(stdout);

    if (!no_plot && !draw_pictures(python, dir, written)) {
        std::fprintf(stderr, "guide-sim: drawing the pictures failed\n");
        return kExitChecksFailed;
    }
    std::printf("trajectories%s in %s/\n", no_plot ? "" : " and pictures", out_dir.c_str());
    return all_passed ? 0 : kExitChecksFailed;
}

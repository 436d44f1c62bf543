#include "throttle_calibration.h"

#include <cmath>
#include <cstdio>
#include <optional>

namespace {

constexpr int kAlts = 11, kSpeeds = 12;

// Table index of (altitude i, speed j): the altitude varies fastest.
int cell(int i, int j) { return j * kAlts + i; }

// Trims the aircraft level at one breakpoint, saying what it found.
TrimCell trim_cell(AircraftModel& aircraft, double altitude_m, double speed_mps) {
    TrimCell c;
    c.altitude_m = altitude_m;
    c.speed_mps = speed_mps;
    InitialFlight at;
    at.altitude_m = altitude_m;
    at.speed_mps = speed_mps;
    try {
        aircraft.reset(at);
    } catch (const AircraftError& e) {
        c.no_trim = e.what();
        return c;
    }
    c.alpha_deg = aircraft.alpha_deg();
    c.throttle = aircraft.trim_throttle();
    c.engine_position = aircraft.state().thrust_frac;
    // A trim that needs no engine or all of it has not found a balance.
    if (!(c.throttle > 0.0 && c.throttle < 1.0)) {
        c.no_trim = c.throttle <= 0.0 ? "throttle at idle: too little drag to balance"
                                      : "throttle at full: too much drag for the engine";
        return c;
    }
    c.trimmed = true;
    return c;
}

// Fills one altitude's row where it has at least one trimmed cell.
void fill_row(std::vector<std::optional<double>>& row, double full, const GuideWParams& p, int i,
              std::vector<FilledCell>& filled) {
    int first = -1, last = -1;
    for (int j = 0; j < kSpeeds; ++j) {
        if (row[j]) {
            if (first < 0) first = j;
            last = j;
        }
    }
    for (int j = 0; j < kSpeeds; ++j) {
        if (row[j]) continue;
        std::string rule;
        if (j < first) {
            row[j] = row[first];
            rule = "slower than any trim: the slowest trim's";
        } else if (j > last) {
            row[j] = full;
            rule = "faster than any trim: full throttle";
        } else {
            int lo = j - 1, hi = j + 1;
            while (!row[hi]) ++hi;
            const double w =
                (p.thr_spd_bp[j] - p.thr_spd_bp[lo]) / (p.thr_spd_bp[hi] - p.thr_spd_bp[lo]);
            row[j] = *row[lo] + w * (*row[hi] - *row[lo]);
            rule = "between trims: interpolated";
        }
        filled.push_back({p.thr_alt_bp[i], p.thr_spd_bp[j], rule});
    }
}

}  // namespace

ThrottleCalibration calibrate_trim_throttle(AircraftModel& aircraft, const GuideWParams& base) {
    ThrottleCalibration out;
    out.params = base;
    const double full = base.thr_max / base.thr_gain;
    std::vector<std::vector<std::optional<double>>> rows(
        kAlts, std::vector<std::optional<double>>(kSpeeds));
    for (int i = 0; i < kAlts; ++i) {
        for (int j = 0; j < kSpeeds; ++j) {
            out.cells.push_back(trim_cell(aircraft, base.thr_alt_bp[i], base.thr_spd_bp[j]));
            if (out.cells.back().trimmed) {
                rows[i][j] = out.cells.back().throttle / base.thr_gain;
                ++out.trimmed;
            }
        }
    }
    std::vector<bool> has_trim(kAlts);
    for (int i = 0; i < kAlts; ++i) {
        for (int j = 0; j < kSpeeds; ++j) has_trim[i] = has_trim[i] || rows[i][j].has_value();
    }
    for (int i = 0; i < kAlts; ++i) {
        if (has_trim[i]) fill_row(rows[i], full, base, i, out.filled);
    }
    for (int i = 0; i < kAlts; ++i) {
        if (has_trim[i]) continue;
        int from = -1;
        for (int d = 1; d < kAlts && from < 0; ++d) {
            if (i - d >= 0 && has_trim[i - d]) from = i - d;
            else if (i + d < kAlts && has_trim[i + d]) from = i + d;
        }
        for (int j = 0; j < kSpeeds; ++j) {
            rows[i][j] = from >= 0 ? rows[from][j] : std::optional<double>(full);
            out.filled.push_back({base.thr_alt_bp[i], base.thr_spd_bp[j],
                                  from >= 0 ? "no trim at this altitude: the nearest altitude's"
                                            : "no trim anywhere: full throttle"});
        }
    }
    for (int i = 0; i < kAlts; ++i) {
        for (int j = 0; j < kSpeeds; ++j) out.params.thr_table[cell(i, j)] = *rows[i][j];
    }
    return out;
}

std::string trim_report_csv(const ThrottleCalibration& cal) {
    std::string out =
        "altitude_m,speed_mps,trimmed,alpha_deg,throttle,engine_position,afterburner,no_trim\n";
    char buf[160];
    for (const TrimCell& c : cal.cells) {
        std::snprintf(buf, sizeof buf, "%.0f,%.0f,%s,%.3f,%.4f,%.4f,%s,", c.altitude_m, c.speed_mps,
                      c.trimmed ? "yes" : "no", c.alpha_deg, c.throttle, c.engine_position,
                      c.afterburner() ? "yes" : "no");
        std::string why = c.no_trim;
        for (char& ch : why) {
            if (ch == '"') ch = '\'';
        }
        out += buf + (why.empty() ? std::string() : "\"" + why + "\"") + "\n";
    }
    return out;
}

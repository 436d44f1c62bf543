#include "throttle_calibration.h"

#include <cmath>
#include <optional>

namespace {

constexpr int kAlts = 11, kSpeeds = 12;

// Table index of (altitude i, speed j): the altitude varies fastest.
int cell(int i, int j) { return j * kAlts + i; }

std::optional<double> trimmed_throttle(AircraftModel& aircraft, double altitude_m,
                                       double speed_mps) {
    InitialFlight at;
    at.altitude_m = altitude_m;
    at.speed_mps = speed_mps;
    try {
        aircraft.reset(at);
    } catch (const AircraftError&) {
        return std::nullopt;
    }
    const double thr = aircraft.trim_throttle();
    // A trim that needs no engine or all of it has not found a balance.
    if (!(thr > 0.0 && thr < 1.0)) return std::nullopt;
    return thr;
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
            const auto thr = trimmed_throttle(aircraft, base.thr_alt_bp[i], base.thr_spd_bp[j]);
            if (thr) {
                rows[i][j] = *thr / base.thr_gain;
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

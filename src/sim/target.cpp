#include "target.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "angles.h"
#include "files.h"
#include "law_constants.h"
#include "tool_error.h"
#include "values.h"

namespace {

constexpr double kG_mps2 = kStandardGravity_mps2;
// A scripted target rolls into its turn as a fighter does, not at once:
// the bank moves at most this fast.
constexpr double kTargetRollRate_dps = 90.0;

V3 velocity_of(double speed, double heading_deg, double path_deg) {
    const double chi = heading_deg * kRadPerDeg, gam = path_deg * kRadPerDeg;
    return speed * V3{std::cos(gam) * std::cos(chi), std::sin(gam), std::cos(gam) * std::sin(chi)};
}

double toward(double value, double goal, double max_change) {
    return value + std::clamp(goal - value, -max_change, max_change);
}

// A point flying coordinated: its bank turns the velocity at g tan(bank) / V
// in level flight, and a pull changes the path angle.
class ScriptedTarget final : public TargetTrack {
public:
    ScriptedTarget(const TargetState& start, const Manoeuvre& m) : s_(start), m_(m) {}

    const TargetState& state() const override { return s_; }

    void step(double t_s) override {
        const double bank_goal = bank_wanted(t_s);
        s_.bank_deg = toward(s_.bank_deg, bank_goal, kTargetRollRate_dps * kStep_s);
        const double bank = s_.bank_deg * kRadPerDeg;
        s_.load_g = 1.0 / std::cos(bank);
        const double turn_deg = kG_mps2 * std::tan(bank) / s_.speed_mps * kStep_s * kDegPerRad;
        s_.heading_deg = wrap180(s_.heading_deg + turn_deg);
        turned_deg_ += std::fabs(turn_deg);
        if (m_.kind == ManoeuvreKind::kClimb && t_s >= m_.start_s) pull_onto_path();
        s_.velocity = velocity_of(s_.speed_mps, s_.heading_deg, s_.path_deg);
        s_.position = s_.position + kStep_s * s_.velocity;
    }

private:
    double bank_wanted(double t_s) const {
        switch (m_.kind) {
            case ManoeuvreKind::kTurn:
                if (t_s < m_.start_s || (m_.turn_deg > 0.0 && turned_deg_ >= m_.turn_deg))
                    return 0.0;
                return m_.side * std::acos(1.0 / m_.load_g) * kDegPerRad;
            case ManoeuvreKind::kWeave:
                return m_.bank_deg * std::sin(2.0 * M_PI * t_s / m_.period_s);
            default: return 0.0;
        }
    }

    // The path angle turns at the load beyond 1 g until it reaches its goal.
    void pull_onto_path() {
        const double rate_dps = kG_mps2 * (m_.load_g - 1.0) / s_.speed_mps * kDegPerRad;
        s_.path_deg = toward(s_.path_deg, m_.path_deg, rate_dps * kStep_s);
        s_.load_g = s_.path_deg == m_.path_deg ? 1.0 : m_.load_g;
    }

    TargetState s_;
    Manoeuvre m_;
    double turned_deg_ = 0.0;  // heading turned so far
};

// Between two samples the position is the cubic Hermite curve through both
// positions with both velocities as its tangents (so position and velocity
// agree), the velocity its derivative; after the last sample the target
// flies on at its last velocity.
class RecordedTarget final : public TargetTrack {
public:
    explicit RecordedTarget(const RecordedTrack& track) : track_(track) { place(0.0); }

    const TargetState& state() const override { return s_; }
    void step(double t_s) override { place(t_s + kStep_s); }

private:
    void place(double t) {
        const std::vector<double>& ts = track_.t_s;
        while (i_ + 2 < ts.size() && ts[i_ + 1] <= t) ++i_;
        if (t >= ts.back()) {
            s_.velocity = track_.velocity.back();
            s_.position = track_.position.back() + (t - ts.back()) * s_.velocity;
        } else {
            hermite(t);
        }
        const V3 v = s_.velocity;
        s_.speed_mps = norm(v);
        const double vh = std::hypot(v.x, v.z);
        if (vh > 0.0) s_.heading_deg = std::atan2(v.z, v.x) * kDegPerRad;
        s_.path_deg = std::atan2(v.y, vh) * kDegPerRad;
    }

    void hermite(double t) {
        const double t0 = track_.t_s[i_], h = track_.t_s[i_ + 1] - t0, x = (t - t0) / h;
        const V3 p0 = track_.position[i_], p1 = track_.position[i_ + 1];
        const V3 m0 = h * track_.velocity[i_], m1 = h * track_.velocity[i_ + 1];
        const double x2 = x * x, x3 = x2 * x;
        s_.position = (2 * x3 - 3 * x2 + 1) * p0 + (x3 - 2 * x2 + x) * m0 +
                      (-2 * x3 + 3 * x2) * p1 + (x3 - x2) * m1;
        s_.velocity = (1.0 / h) * ((6 * x2 - 6 * x) * p0 + (3 * x2 - 4 * x + 1) * m0 +
                                   (-6 * x2 + 6 * x) * p1 + (3 * x2 - 2 * x) * m1);
    }

    const RecordedTrack& track_;
    size_t i_ = 0;
    TargetState s_;
};

// A day of flight sampled at 100 Hz is about 60 MB of text.
constexpr std::uintmax_t kMaxTrackBytes = std::uintmax_t{256} << 20;

constexpr const char* kTrackHeader =
    "t_s,north_m,east_m,altitude_m,vel_north_mps,vel_east_mps,vel_up_mps";

}  // namespace

TargetState target_start(const TargetGeometry& g, const InitialFlight& own) {
    TargetState s;
    s.heading_deg = wrap180(own.heading_deg + g.crossing_deg);
    s.path_deg = g.path_deg;
    s.speed_mps = g.speed_mps;
    s.velocity = velocity_of(g.speed_mps, s.heading_deg, g.path_deg);
    // From the target, we lie angle_off_tail off its tail: turned from its
    // tail towards its right-hand side when positive.
    const double bearing_to_us = s.heading_deg + kHalfTurn_deg - g.angle_off_tail_deg;
    const V3 to_us = velocity_of(1.0, bearing_to_us, 0.0);
    s.position = V3{0.0, own.altitude_m + g.altitude_diff_m, 0.0} - g.range_m * to_us;
    return s;
}

std::unique_ptr<TargetTrack> scripted_target(const TargetState& start, const Manoeuvre& m) {
    return std::make_unique<ScriptedTarget>(start, m);
}

std::unique_ptr<TargetTrack> recorded_target(const RecordedTrack& track) {
    return std::make_unique<RecordedTarget>(track);
}

RecordedTrack read_recorded_track(const std::string& path) {
    // A track a scenario names and that cannot be read is the scenario's
    // fault (bad data), whatever the reason.
    // Only a file of a sane size: a scenario may name a device that never
    // ends.
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec) &&
        std::filesystem::file_size(path, ec) > kMaxTrackBytes)
        fail(kExitFailed, path + ": larger than " + std::to_string(kMaxTrackBytes >> 20) +
                              " MB: not a recorded track");
    if (std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec))
        fail(kExitFailed, path + ": not a file");
    std::string text;
    try {
        text = read_text_file(path);
    } catch (const ToolError& e) {
        fail(kExitFailed, e.what());
    }
    std::istringstream in{std::string(without_byte_order_mark(text))};
    RecordedTrack track;
    track.origin = path;
    std::string line;
    const auto bad = [&](int n, const std::string& what) {
        fail(kExitFailed, path + ":" + std::to_string(n) + ": " + what);
    };
    // A line as written, without a CRLF file's carriage return.
    const auto next_line = [&] {
        if (!std::getline(in, line)) return false;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    };
    if (!next_line() || line != kTrackHeader)
        bad(1, std::string("the header must be ") + kTrackHeader);
    for (int n = 2; next_line(); ++n) {
        if (line.empty()) continue;
        std::istringstream row(line);
        double v[7];
        std::string cell;
        for (int i = 0; i < 7; ++i) {
            if (!std::getline(row, cell, ',') ||
                parse_number(trim(cell), v[i]) != NumberError::none || !std::isfinite(v[i]))
                bad(n, "7 finite numbers expected");
        }
        if (std::getline(row, cell, ',')) bad(n, "7 finite numbers expected");
        const double t_prev = track.t_s.empty() ? -1.0 : track.t_s.back();
        if (track.t_s.empty() ? v[0] != 0.0 : !(v[0] > t_prev))
            bad(n, "times must start at 0 and increase");
        track.t_s.push_back(v[0]);
        track.position.push_back({v[1], v[3], v[2]});
        track.velocity.push_back({v[4], v[6], v[5]});
    }
    if (track.t_s.size() < 2) bad(1, "at least two samples are needed");
    return track;
}

// How busy the elevator is over a flight, for the tracking figures: a loop
// that buzzes moves its surface back and forth every step or two while the
// flown load barely changes, which wears actuators and structure and never
// shows in the load error.
//   - rms: the root-mean-square of the elevator's deviation from its own
//     moving mean over kMeanWindow_s (centred on the sample). A steady
//     pull, a trim change or a ramp through a manoeuvre leaves the centred
//     mean with the surface and counts next to nothing; a back-and-forth
//     faster than the window counts in full. Given over the whole flight
//     and over the steady phases (the samples the caller marks steady,
//     whose whole window is steady); its mean window makes it a high-pass
//     from about 2 Hz, so a steady rms below a tenth of a degree leaves
//     nothing above kMinBuzz_Hz larger;
//   - rate-limited share: the share of steps in which the elevator moved at
//     its actuator's rate (at least kAtRate of it), where the aircraft's
//     data give that rate;
//   - the deviation's content above kMinBuzz_Hz: its rms there, and the
//     strongest frequency with that component's rms. The flight is cut into
//     segments of 1/kBin_Hz (2 s); each segment's discrete Fourier transform
//     at every kBin_Hz from kMinBuzz_Hz to the law's Nyquist frequency
//     (50 Hz) is accumulated as power and averaged over the segments (a
//     buzz whose period wanders still lands in its 0.5 Hz band). Nothing of
//     the trajectory is kept.
// A model without an elevator (the point mass: NaN) gives no figures.
#ifndef SIM_ELEVATOR_ACTIVITY_H
#define SIM_ELEVATOR_ACTIVITY_H

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstddef>

#include "law_constants.h"

struct ElevatorFigures {
    long samples = 0;                     // deviations counted (0: no elevator)
    double rms_deg = NAN;                 // about the moving mean, whole flight
    double steady_rms_deg = NAN;          // the same over the steady samples
    double rate_limited_share = NAN;      // NaN where the actuator's rate is unknown
    double rms_above_min_buzz_deg = NAN;  // the deviation's rms above kMinBuzz_Hz
    double buzz_frequency_Hz = NAN;       // the strongest band above kMinBuzz_Hz
    double buzz_rms_deg = NAN;            // that band's rms
};

class ElevatorActivity {
public:
    static constexpr double kMeanWindow_s = 0.5;
    static constexpr double kMinBuzz_Hz = 5.0;
    static constexpr double kBin_Hz = 0.5;
    // A step within 5 % of the actuator's full-rate travel is at its rate
    // (JSBSim integrates the actuator in substeps; the last may be short).
    static constexpr double kAtRate = 0.95;

    // rate_dps: the actuator's rate (INFINITY where unknown).
    explicit ElevatorActivity(double rate_dps) : rate_dps_(rate_dps) {
        for (size_t k = 0; k < kBins; ++k) {
            const double w = 2.0 * kPi * frequency(k) * kStep_s;
            turn_[k] = {std::cos(w), -std::sin(w)};
        }
        start_segment();
    }

    // One law step's elevator position; steady: the sample lies in a steady
    // phase.
    void observe(double elevator_deg, bool steady) {
        if (!std::isfinite(elevator_deg)) return;
        if (count_ > 0) {
            ++steps_;
            if (std::fabs(elevator_deg - last_deg_) >= kAtRate * rate_dps_ * kStep_s) ++at_rate_;
        }
        last_deg_ = elevator_deg;
        window_[count_ % kWindow] = {elevator_deg, steady};
        ++count_;
        if (count_ >= kWindow) count_centre();
    }

    ElevatorFigures result() const {
        ElevatorFigures r;
        r.samples = samples_;
        if (samples_ == 0) return r;
        r.rms_deg = std::sqrt(sum2_ / static_cast<double>(samples_));
        if (steady_samples_ > 0)
            r.steady_rms_deg = std::sqrt(steady_sum2_ / static_cast<double>(steady_samples_));
        if (std::isfinite(rate_dps_) && steps_ > 0)
            r.rate_limited_share = static_cast<double>(at_rate_) / static_cast<double>(steps_);
        if (segments_ == 0) return r;
        double total = 0.0, best = -1.0;
        for (size_t k = 0; k < kBins; ++k) {
            const double mean_square = power_[k] / static_cast<double>(segments_);
            total += mean_square;
            if (mean_square > best) {
                best = mean_square;
                r.buzz_frequency_Hz = frequency(k);
            }
        }
        r.rms_above_min_buzz_deg = std::sqrt(total);
        r.buzz_rms_deg = std::sqrt(best);
        return r;
    }

private:
    static constexpr size_t kWindow =
        2 * static_cast<size_t>(kMeanWindow_s / kStep_s / 2.0 + 0.5) + 1;
    static constexpr double kNyquist_Hz = 0.5 / kStep_s;
    static constexpr size_t kBins =
        static_cast<size_t>((kNyquist_Hz - kMinBuzz_Hz) / kBin_Hz + 0.5) + 1;
    // A segment spans whole periods of every band: its transform's bins are
    // the bands.
    static constexpr long kSegment = static_cast<long>(1.0 / (kBin_Hz * kStep_s) + 0.5);

    static double frequency(size_t bin) { return kMinBuzz_Hz + kBin_Hz * static_cast<double>(bin); }

    struct Sample {
        double deg;
        bool steady;
    };

    // The sample at the window's centre against the window's mean.
    void count_centre() {
        double sum = 0.0;
        for (const Sample& s : window_) sum += s.deg;
        const Sample& centre = window_[(count_ - 1 - kWindow / 2) % kWindow];
        const double dev = centre.deg - sum / static_cast<double>(kWindow);
        sum2_ += dev * dev;
        // Steady only where the whole window is: the mean of a window that
        // reaches into a manoeuvre would count the manoeuvre as activity.
        const bool steady =
            std::all_of(window_.begin(), window_.end(), [](const Sample& w) { return w.steady; });
        if (steady) {
            steady_sum2_ += dev * dev;
            ++steady_samples_;
        }
        for (size_t k = 0; k < kBins; ++k) {
            sum_[k] += dev * phasor_[k];
            phasor_[k] *= turn_[k];
        }
        ++samples_;
        if (++in_segment_ == kSegment) end_segment();
    }

    // A segment's mean square in each band: a component of rms a gives
    // |X| = a N / sqrt(2), the alternation at the Nyquist frequency a N.
    void end_segment() {
        const double n = static_cast<double>(kSegment);
        for (size_t k = 0; k < kBins; ++k) {
            const double share = k + 1 == kBins ? 1.0 : 2.0;
            power_[k] += share * std::norm(sum_[k]) / (n * n);
        }
        ++segments_;
        start_segment();
    }

    void start_segment() {
        in_segment_ = 0;
        sum_.fill(0.0);
        phasor_.fill(1.0);
    }

    double rate_dps_;
    std::array<Sample, kWindow> window_{};
    size_t count_ = 0;
    double last_deg_ = 0.0;
    long steps_ = 0, at_rate_ = 0, samples_ = 0, steady_samples_ = 0;
    long in_segment_ = 0, segments_ = 0;
    double sum2_ = 0.0, steady_sum2_ = 0.0;
    std::array<std::complex<double>, kBins> sum_{}, phasor_{}, turn_{};
    std::array<double, kBins> power_{};
};

#endif

#include "jsbsim_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <mutex>
#include <sstream>

#include "FGFDMExec.h"
#include "initialization/FGInitialCondition.h"
#include "initialization/FGTrim.h"
#include "input_output/FGLog.h"
#include "input_output/FGPropertyManager.h"
#include "models/FGGroundReactions.h"
#include "models/FGLGear.h"
#include "models/FGPropulsion.h"
#include "angles.h"
#include "law_constants.h"

namespace {

constexpr double kMetresPerFoot = 0.3048;
constexpr double kKiloPascalPerPsf = 0.047880259;
constexpr double kTerrainBelowSeaLevel_m = -1000.0;
// An angle of attack beyond this is outside every aircraft's aerodynamic
// tables: the model no longer means anything.
constexpr double kAlphaOutOfData_deg = 90.0;
// Below this the FCS pitch schedule's gain is taken as the last one seen
// (its ratio is not defined at a neutral stick).
constexpr double kStickForRatio = 1e-3;

// The F-16's roll channel (f16.xml) adds kF16RollPidKp times its error
// against the scaled roll rate to the aileron command.
constexpr double kF16RollPidKp = 3.0;
// Its stick limiter passes a push up to 0.44 of full travel (4 g negative
// against 9 g positive).
constexpr double kF16StickPushLimit = 0.44;
// Its yaw channel is a yaw-rate loop: the pedal plus this many units per
// rad/s of body yaw rate (above 150 ft/s of ground speed), the surface a
// PID's output on that sum. A pedal of -kF16YawRateNorm * r therefore asks
// for a yaw rate r; the pedal is given within kF16PedalLimit (a yaw rate of
// 0.3 rad/s, twice the fastest coordinated yaw of these flights).
constexpr double kF16YawRateNorm = 100.0;
constexpr double kF16PedalLimit = 30.0;

// Collects JSBSim's log records instead of printing them.
class CollectingLogger : public JSBSim::FGLogger {
public:
    explicit CollectingLogger(std::string& out) : out_(out) {}
    void Message(const std::string& message) override { record_ += message; }
    void FileLocation(const std::string& file, int line) override {
        record_ += file + ":" + std::to_string(line) + ": ";
    }
    void Flush() override {
        if (record_.empty()) return;
        out_ += record_;
        if (out_.back() != '\n') out_ += '\n';
        record_.clear();
    }

private:
    std::string& out_;
    std::string record_;
};

// While alive, JSBSim's log and whatever it prints go to out, not to the
// terminal. The logger is per thread (JSBSim keeps it thread-local); the
// standard streams are redirected only where JSBSim may write to them
// directly (loading, trimming), one thread at a time: they are the
// process's.
class Quiet {
public:
    // logger collects into out; it is made once per aircraft, so that a step
    // swaps a pointer and allocates nothing.
    Quiet(const JSBSim::FGLogger_ptr& logger, std::string& out, bool streams) : streams_(streams) {
        if (streams_) lock_ = std::unique_lock<std::mutex>(streams_mutex());
        previous_ = JSBSim::GetLogger();
        JSBSim::SetLogger(logger);
        if (streams_) {
            out_buf_ = std::cout.rdbuf(captured_.rdbuf());
            err_buf_ = std::cerr.rdbuf(captured_.rdbuf());
        }
        out_ref_ = &out;
    }
    ~Quiet() {
        if (streams_) {
            std::cout.rdbuf(out_buf_);
            std::cerr.rdbuf(err_buf_);
            *out_ref_ += captured_.str();
        }
        JSBSim::SetLogger(previous_);
    }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    static std::mutex& streams_mutex() {
        static std::mutex m;
        return m;
    }
    bool streams_;
    std::unique_lock<std::mutex> lock_;
    JSBSim::FGLogger_ptr previous_;
    std::ostringstream captured_;
    std::streambuf* out_buf_ = nullptr;
    std::streambuf* err_buf_ = nullptr;
    std::string* out_ref_ = nullptr;
};

// Whether any of the aircraft's gear units retracts (a C172's is fixed).
bool has_retractable_gear(JSBSim::FGFDMExec& fdm) {
    const auto gear = fdm.GetGroundReactions();
    for (int i = 0; i < gear->GetNumGearUnits(); ++i) {
        if (gear->GetGearUnit(i)->GetRetractable()) return true;
    }
    return false;
}

// JSBSim's messages span lines; an error is one.
std::string one_line(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    }
    return text;
}

}  // namespace

// The property nodes read and written every step, looked up once.
struct JsbsimModel::Impl {
    std::string log;
    JSBSim::FGLogger_ptr logger = std::make_shared<CollectingLogger>(log);
    std::unique_ptr<JSBSim::FGFDMExec> fdm;
    using Node = SGPropertyNode*;
    Node psi, theta, phi, vt, v_north, v_east, v_down, p, q, h, north, east, nz, alpha, thr_pos;
    Node qbar, weight;  // dynamic pressure (psf) and weight (lbs)
    Node mach;
    Node elevator_lift = nullptr;  // inner loop: the tail's own lift
    Node rudder = nullptr, beta;   // turn coordination (the F-16's pedal, or our rudder)
    Node aileron, elevator, sched_in, sched_out, pid_init, elevator_pos, alpha_limiter;
    std::vector<Node> throttles;
    // Read for the figures only (air_data()); an aircraft may lack any.
    Node beta_deg, elevator_deg, aileron_deg, rudder_deg, gear_pos;
    // The gear command and position where the aircraft retracts its gear
    // (null for a fixed gear).
    Node gear_cmd = nullptr, gear_retract = nullptr;
    double sched_ratio = 1.0;
    long steps = 0;

    Node node(const std::string& path, const std::string& aircraft, bool required = true) {
        Node n = fdm->GetPropertyManager()->GetNode(path);
        if (!n && required) {
            throw AircraftError(AircraftError::kLoad,
                                "aircraft " + aircraft + ": JSBSim has no property " + path);
        }
        return n;
    }
    double get(Node n) const { return n->getDoubleValue(); }
};

JsbsimModel::JsbsimModel(const std::string& name, const std::string& root_dir,
                         const std::string& aircraft_dir, const std::string& model,
                         const ControlGains& gains)
    : name_(name),
      gains_(gains),
      impl_(std::make_unique<Impl>()),
      inner_(gains.inner, gains.limits) {
    const double substeps = gains.rate_hz * kStep_s;
    substeps_ = static_cast<int>(std::lround(substeps));
    if (substeps_ < 1 || std::fabs(substeps - substeps_) > 1e-9) {
        throw AircraftError(AircraftError::kLoad,
                            "aircraft " + name + ": rate_hz " + std::to_string(gains.rate_hz) +
                                " is not a whole multiple of the law's 100 Hz");
    }
    const auto start = std::chrono::steady_clock::now();
    {
        Quiet quiet(impl_->logger, impl_->log, true);
        JSBSim::FGJSBBase::debug_lvl = 0;  // no banner, no load report
        try {
            impl_->fdm = std::make_unique<JSBSim::FGFDMExec>();
            impl_->fdm->SetDebugLevel(0);
            impl_->fdm->SetRootDir(SGPath(root_dir));
            const bool ok = impl_->fdm->LoadModel(SGPath(aircraft_dir), SGPath("engine"),
                                                  SGPath("systems"), model, true);
            if (!ok)
                throw AircraftError(
                    AircraftError::kLoad,
                    "aircraft " + name + ": JSBSim could not load " + aircraft_dir + "/" + model);
        } catch (const AircraftError&) {
            throw;
        } catch (const std::exception& e) {
            throw AircraftError(
                AircraftError::kLoad,
                "aircraft " + name + ": JSBSim could not load it: " + one_line(e.what()));
        }
    }
    load_s_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    impl_->fdm->Setdt(1.0 / gains.rate_hz);

    Impl& m = *impl_;
    m.psi = m.node("attitude/psi-deg", name);
    m.theta = m.node("attitude/theta-deg", name);
    m.phi = m.node("attitude/phi-deg", name);
    m.vt = m.node("velocities/vt-fps", name);
    m.v_north = m.node("velocities/v-north-fps", name);
    m.v_east = m.node("velocities/v-east-fps", name);
    m.v_down = m.node("velocities/v-down-fps", name);
    m.p = m.node("velocities/p-rad_sec", name);
    m.q = m.node("velocities/q-rad_sec", name);
    m.h = m.node("position/h-sl-meters", name);
    m.north = m.node("position/from-start-neu-n-ft", name);
    m.east = m.node("position/from-start-neu-e-ft", name);
    m.nz = m.node("accelerations/Nz", name);
    m.alpha = m.node("aero/alpha-deg", name);
    m.aileron = m.node("fcs/aileron-cmd-norm", name);
    m.elevator = m.node("fcs/elevator-cmd-norm", name);
    m.thr_pos = m.node("fcs/throttle-pos-norm", name);
    for (int i = 0;; ++i) {
        Impl::Node n = m.node("fcs/throttle-cmd-norm[" + std::to_string(i) + "]", name, false);
        if (!n) break;
        m.throttles.push_back(n);
    }
    m.qbar = m.node("aero/qbar-psf", name);
    m.weight = m.node("inertia/weight-lbs", name);
    m.beta = m.node("aero/beta-rad", name);
    m.beta_deg = m.node("aero/beta-deg", name, false);
    m.elevator_deg = m.node("fcs/elevator-pos-deg", name, false);
    m.aileron_deg = m.node("fcs/left-aileron-pos-deg", name, false);
    m.rudder_deg = m.node("fcs/rudder-pos-deg", name, false);
    m.gear_pos = m.node("gear/gear-pos-norm", name, false);
    if (has_retractable_gear(*m.fdm)) {
        m.gear_cmd = m.node("gear/gear-cmd-norm", name);
        m.gear_retract = m.node("gear/gear-pos-norm", name);
    }
    m.mach = m.node("velocities/mach", name);
    m.rudder = m.node("fcs/rudder-cmd-norm", name, false);
    // An aircraft folder flies with the generic gains, whose elevator-lift
    // property its aerodynamics may name otherwise or not at all: then the
    // loop goes without (its proportional action sees the flown load).
    if (!gains_.inner.elevator_lift_property.empty())
        m.elevator_lift = m.node(gains_.inner.elevator_lift_property, name, false);
    if (gains_.fcs) {
        m.sched_in = m.node("fcs/elevator-cmd-limiter", name);
        m.sched_out = m.node("fcs/elevator-scheduler", name);
        m.pid_init = m.node("fcs/g-load-pid/initial-integrator-value", name);
        m.elevator_pos = m.node("fcs/elevator-pos-norm", name);
        m.alpha_limiter = m.node("fcs/alpha-limiter-norm", name);
    }
}

JsbsimModel::~JsbsimModel() = default;

std::string JsbsimModel::log() const { return impl_->log; }

AirData JsbsimModel::air_data() const {
    const Impl& m = *impl_;
    auto read = [&m](Impl::Node n) { return n ? m.get(n) : static_cast<double>(NAN); };
    return {alpha_deg_,          read(m.beta_deg),   m.get(m.mach),   read(m.elevator_deg),
            read(m.aileron_deg), read(m.rudder_deg), read(m.gear_pos)};
}

void JsbsimModel::reset(const InitialFlight& init) {
    Impl& m = *impl_;
    Quiet quiet(m.logger, m.log, true);
    fault_.clear();
    n_integral_ = 0.0;
    p_integral_ = 0.0;
    m.steps = 0;
    m.sched_ratio = 1.0;
    auto ic = m.fdm->GetIC();
    // Every initial condition from scratch: the trim iterates from the
    // state the conditions hold, and a start left over from the last flight
    // would change its result in the last bits.
    ic->ResetIC(init.speed_mps / kMetresPerFoot, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0,
                0.0, 0.0, (init.altitude_m - kTerrainBelowSeaLevel_m) / kMetresPerFoot, 0.0);
    // The ground lies far below sea level: the law's ground is altitude 0,
    // where the simulator ends a flight, and a trim at 0 m must not put the
    // wheels on a runway.
    ic->SetTerrainElevationFtIC(kTerrainBelowSeaLevel_m / kMetresPerFoot);
    ic->SetLatitudeDegIC(0.0);
    ic->SetLongitudeDegIC(0.0);
    ic->SetAltitudeASLFtIC(init.altitude_m / kMetresPerFoot);
    ic->SetVtrueFpsIC(init.speed_mps / kMetresPerFoot);
    ic->SetPsiDegIC(init.heading_deg);
    ic->SetPhiDegIC(0.0);
    ic->SetFlightPathAngleDegIC(init.path_deg);
    ic->SetPRadpsIC(0.0);
    ic->SetQRadpsIC(0.0);
    ic->SetRRadpsIC(0.0);
    m.aileron->setDoubleValue(0.0);
    m.elevator->setDoubleValue(0.0);
    if (m.rudder) m.rudder->setDoubleValue(0.0);
    for (auto* t : m.throttles) t->setDoubleValue(0.5);
    // Every flight is flown clean: JSBSim starts an aircraft with its gear
    // commanded down, and down it is the F-16's largest drag term at the
    // starts flown here (half its trim drag at 3000 m and 200 m/s). Set
    // before the trim, so the trim and the throttle tables are the clean
    // aircraft's; the gear's own kinematic would take seconds to retract.
    if (m.gear_cmd) {
        m.gear_cmd->setDoubleValue(0.0);
        m.gear_retract->setDoubleValue(0.0);
    }
    try {
        m.fdm->ResetToInitialConditions(0);
        // In the air the engines run from the start (JSBSim starts them off).
        m.fdm->GetPropulsion()->InitRunning(-1);
        m.fdm->DoTrim(JSBSim::tLongitudinal);
    } catch (const std::exception& e) {
        throw AircraftError(AircraftError::kTrim,
                            "aircraft " + name_ + ": no trim in straight flight at " +
                                std::to_string(static_cast<int>(init.altitude_m)) + " m, " +
                                std::to_string(static_cast<int>(init.speed_mps)) + " m/s (" +
                                one_line(e.what()) + ")");
    }
    trim_throttle_ = m.throttles.empty() ? 0.0 : m.get(m.throttles[0]);
    if (gains_.fcs) {
        // The trim found a stick; fly-by-wire holds 1 g with the stick
        // neutral, the surface held by the pitch loop's integrator.
        const double surface = m.get(m.elevator_pos);
        m.elevator->setDoubleValue(0.0);
        m.pid_init->setDoubleValue(surface - m.get(m.alpha_limiter));
    } else {
        inner_.reset(m.get(m.elevator), m.get(m.qbar) * kKiloPascalPerPsf, elevator_lift_g());
    }
    if (init.bank_deg != 0.0) roll_about_velocity(init);
    read_state();
    load_filtered_g_ = ac_.load_g;
    load_for_rate_g_ = ac_.load_g;
}

// The start's bank is a roll of the lift about the velocity, at the
// trimmed angle of attack: the aircraft starts in the banked flight the law
// senses, with the trim's load. (Rolling the body about its own axis would
// turn the angle of attack into sideslip, and JSBSim's trim does not hand
// its angle of attack back to the initial conditions: a start rolled from
// those would begin far off its trimmed load.)
void JsbsimModel::roll_about_velocity(const InitialFlight& init) {
    Impl& m = *impl_;
    const double alpha = m.get(m.alpha) * kRadPerDeg, v_fps = m.get(m.vt);
    const double gamma = init.path_deg * kRadPerDeg, track = init.heading_deg * kRadPerDeg,
                 mu = init.bank_deg * kRadPerDeg;
    // Body to north-east-down: heading, path angle, bank about the velocity,
    // then the angle of attack about the body's y axis.
    const double cs = std::cos(track), ss = std::sin(track), cg = std::cos(gamma),
                 sg = std::sin(gamma), cm = std::cos(mu), sm = std::sin(mu), ca = std::cos(alpha),
                 sa = std::sin(alpha);
    const double w[3][3] = {{cs * cg, cs * sg * sm - ss * cm, cs * sg * cm + ss * sm},
                            {ss * cg, ss * sg * sm + cs * cm, ss * sg * cm - cs * sm},
                            {-sg, cg * sm, cg * cm}};
    double b[3][3];
    for (int i = 0; i < 3; ++i) {
        b[i][0] = w[i][0] * ca - w[i][2] * sa;
        b[i][1] = w[i][1];
        b[i][2] = w[i][0] * sa + w[i][2] * ca;
    }
    const double theta = -std::asin(std::clamp(b[2][0], -1.0, 1.0));
    const double phi = std::atan2(b[2][1], b[2][2]), psi = std::atan2(b[1][0], b[0][0]);
    auto ic = m.fdm->GetIC();
    ic->ResetIC(v_fps * ca, 0.0, v_fps * sa, 0.0, 0.0, 0.0, alpha, 0.0, phi, theta, psi, 0.0, 0.0,
                (init.altitude_m - kTerrainBelowSeaLevel_m) / kMetresPerFoot, gamma);
    ic->SetTerrainElevationFtIC(kTerrainBelowSeaLevel_m / kMetresPerFoot);
    ic->SetAltitudeASLFtIC(init.altitude_m / kMetresPerFoot);
    m.fdm->RunIC();
}

void JsbsimModel::read_state() {
    const Impl& m = *impl_;
    const double phi = m.get(m.phi) * kRadPerDeg, tht = m.get(m.theta) * kRadPerDeg,
                 psi = m.get(m.psi) * kRadPerDeg;
    ac_.position = {m.get(m.north) * kMetresPerFoot, m.get(m.h), m.get(m.east) * kMetresPerFoot};
    ac_.velocity = {m.get(m.v_north) * kMetresPerFoot, -m.get(m.v_down) * kMetresPerFoot,
                    m.get(m.v_east) * kMetresPerFoot};
    // The body's up axis (minus its z axis) in north, up, east.
    ac_.lift_dir = {
        -(std::cos(phi) * std::sin(tht) * std::cos(psi) + std::sin(phi) * std::sin(psi)),
        std::cos(phi) * std::cos(tht),
        -(std::cos(phi) * std::sin(tht) * std::sin(psi) - std::sin(phi) * std::cos(psi))};
    ac_.roll_rate_dps = m.get(m.p) * kDegPerRad;
    ac_.load_g = m.get(m.nz);
    ac_.thrust_frac = m.get(m.thr_pos);
    ac_.heading_deg = wrap180(m.get(m.psi));
    alpha_deg_ = m.get(m.alpha);
}

void JsbsimModel::sense(GuideWInputs& u) const {
    const Impl& m = *impl_;
    // The law steers the velocity: its attitude inputs are the velocity's
    // angles (track, flight-path angle, bank of the lift about the
    // velocity) as the point mass senses them, not the body's Euler angles,
    // which differ by the angle of attack and flip through the vertical.
    Aircraft a = ac_;
    const V3 along = unit(a.velocity);
    a.lift_dir = unit(a.lift_dir - dot(a.lift_dir, along) * along);
    GuideWInputs path{};
    ::sense(a, path);
    u.yaw = path.yaw;
    u.pitch = path.pitch;
    u.roll = path.roll;
    u.tas = m.get(m.vt) * kMetresPerFoot;
    u.vel_up = ac_.velocity.y;
    u.vel_north = ac_.velocity.x;
    u.vel_east = ac_.velocity.z;
    u.roll_rate = ac_.roll_rate_dps;
    u.altitude = ac_.position.y;
}

InnerLoopInput JsbsimModel::inner_loop_input(double n_cmd, double p_cmd_rps) const {
    const Impl& m = *impl_;
    InnerLoopInput in;
    in.n_cmd_g = n_cmd;
    in.n_g = ac_.load_g;
    in.p_cmd_rps = p_cmd_rps;
    in.p_rps = m.get(m.p);
    in.q_rps = m.get(m.q);
    in.qbar_kpa = m.get(m.qbar) * kKiloPascalPerPsf;
    in.speed_mps = m.get(m.vt) * kMetresPerFoot;
    in.theta_rad = m.get(m.theta) * kRadPerDeg;
    in.phi_rad = m.get(m.phi) * kRadPerDeg;
    in.elevator_lift_g = elevator_lift_g();
    in.alpha_deg = m.get(m.alpha);
    in.beta_rad = m.get(m.beta);
    return in;
}

double JsbsimModel::elevator_lift_g() const {
    const Impl& m = *impl_;
    return m.elevator_lift ? m.get(m.elevator_lift) / m.get(m.weight) : 0.0;
}

// The F-16's roll stick: the roll-rate demand in the FCS's own scale. The
// FCS's roll loop is proportional: where a steady turn needs aileron it
// settles off the demand; an integral of ours takes the rest, so that the
// law's bank loop settles on its command.
double JsbsimModel::f16_roll_stick(double p_cmd) {
    const Impl& m = *impl_;
    const double p_err = p_cmd - m.get(m.p);
    const double stop = 1.0 / gains_.fcs_roll_gain;
    if (std::fabs(p_cmd + gains_.p_ki * p_integral_) < stop) p_integral_ += p_err * kStep_s;
    const double steady = (p_cmd + gains_.p_ki * p_integral_) * gains_.fcs_roll_gain;
    // The FCS adds kF16RollPidKp times its roll-rate error to the demand: a
    // roll entry asks for up to four times the steady roll's surface, and
    // the roll overshoots its command (passthrough's load by 12 % at 0.25).
    // Of that lead fcs_roll_lead is let through; for the rest the aileron is
    // given so that the FCS's surface demand is the steady roll's at once.
    const double no_lead =
        (steady + kF16RollPidKp * gains_.fcs_roll_gain * m.get(m.p)) / (1.0 + kF16RollPidKp);
    return gains_.fcs_roll_lead * steady + (1.0 - gains_.fcs_roll_lead) * no_lead;
}

// The F-16's pitch stick for n_cmd. In a steady pull the pitch rate is
// g (n - cos theta cos phi) / V; the FCS's pitch channel is neutral when its
// stick, pitch-rate and load terms cancel, so this stick holds n_cmd once
// the FCS's slow integrator has settled. Within a manoeuvre its
// angle-of-attack and pitch-rate feedback hand back part of any stick: a
// share of this stick goes ahead, the load loop finds the rest.
double JsbsimModel::f16_pitch_stick(double n_cmd) {
    Impl& m = *impl_;
    const double phi = m.get(m.phi) * kRadPerDeg, tht = m.get(m.theta) * kRadPerDeg;
    const double dn = n_cmd - std::cos(tht) * std::cos(phi);
    const double v = std::max(m.get(m.vt) * kMetresPerFoot, 1.0);
    const double in = m.get(m.sched_in);
    if (std::fabs(in) > kStickForRatio) m.sched_ratio = std::max(m.get(m.sched_out) / in, 0.11);
    // The flown load answers the elevator at once (the tail's own lift), so
    // a loop on the raw load, sampled every law step, is a loop at the
    // sample rate: at high dynamic pressure the elevator swung at its
    // actuator's rate every step or two (25-50 Hz). The load the loop sees
    // is low-passed over n_filter_s; its rate, for damping, over
    // n_kd_filter_s (a one-step difference of the load fed that buzz).
    load_filtered_g_ += (ac_.load_g - load_filtered_g_) * kStep_s / (gains_.n_filter_s + kStep_s);
    const double before = load_for_rate_g_;
    load_for_rate_g_ +=
        (ac_.load_g - load_for_rate_g_) * kStep_s / (gains_.n_kd_filter_s + kStep_s);
    const double n_rate = (load_for_rate_g_ - before) / kStep_s;
    const double n_err = n_cmd - load_filtered_g_;
    // The load error closes through the pitch rate too: n_kp g/V of pitch
    // rate per g of error turns the angle of attack (and with it the load)
    // towards the command in a fraction of a second.
    const double stick_per_q = gains_.fcs_pitch_rate_gain / m.sched_ratio;
    const double ff =
        -gains_.fcs_ff_share * dn *
        (gains_.fcs_pitch_rate_gain * kStandardGravity_mps2 / v - gains_.fcs_load_gain) /
        m.sched_ratio;
    const double stick =
        ff - stick_per_q * (kStandardGravity_mps2 / v) *
                 (gains_.n_kp * (n_err - gains_.n_kd * n_rate) + gains_.n_ki * n_integral_);
    // The integral stops growing further into a stop the stick is against
    // (a pull is a negative stick; the FCS passes a push up to its
    // negative-g limit only).
    const bool winds_up =
        (stick <= -1.0 && n_err > 0.0) || (stick >= kF16StickPushLimit && n_err < 0.0);
    if (!winds_up) n_integral_ += n_err * kStep_s;
    return stick;
}

// The F-16's pedal. Its FCS's yaw channel holds the body yaw rate at the
// pedal's demand (a yaw damper without washout): left alone it holds zero
// yaw rate, which in a bank or a roll at an angle of attack is sideslip
// (7.6 deg in climb_behind's rolls). The pedal asks for the yaw rate of
// coordinated flight, (p sin alpha + g cos theta sin phi / V) / cos alpha,
// and fcs_yaw_per_beta rad/s more per rad of sideslip, which turns the nose
// into the relative wind.
double JsbsimModel::f16_pedal() const {
    const Impl& m = *impl_;
    const double phi = m.get(m.phi) * kRadPerDeg, tht = m.get(m.theta) * kRadPerDeg;
    const double alpha = m.get(m.alpha) * kRadPerDeg;
    const double v = std::max(m.get(m.vt) * kMetresPerFoot, 1.0);
    const double coordinated =
        (m.get(m.p) * std::sin(alpha) + kStandardGravity_mps2 / v * std::cos(tht) * std::sin(phi)) /
        std::cos(alpha);
    const double yaw_rate = coordinated + gains_.fcs_yaw_per_beta * m.get(m.beta);
    return std::clamp(-kF16YawRateNorm * yaw_rate, -kF16PedalLimit, kF16PedalLimit);
}

// The F-16 through its own channels: roll stick, pitch stick, pedal.
JsbsimModel::Sticks JsbsimModel::f16_sticks(double p_cmd, double n_cmd) {
    return {f16_pitch_stick(n_cmd), f16_roll_stick(p_cmd), f16_pedal()};
}

void JsbsimModel::apply_controls(const GuideWOutputs& cmd) {
    Impl& m = *impl_;
    const double p_cmd =
        std::clamp(std::isfinite(cmd.lat_cmd) ? cmd.lat_cmd : 0.0, -gains_.limits.max_roll_rate_dps,
                   gains_.limits.max_roll_rate_dps) *
        kRadPerDeg;
    const double n_cmd = std::isfinite(cmd.nz_cmd) ? cmd.nz_cmd : 1.0;
    const double thr =
        std::clamp(std::isfinite(cmd.throttle_cmd) ? cmd.throttle_cmd : 0.0, 0.0, 1.0);
    for (auto* t : m.throttles) t->setDoubleValue(thr);

    Sticks sticks;
    if (gains_.fcs) {
        sticks = f16_sticks(p_cmd, n_cmd);
        if (m.rudder) m.rudder->setDoubleValue(sticks.yaw);
    } else {
        const SurfaceCommand surfaces = inner_.step(inner_loop_input(n_cmd, p_cmd), kStep_s);
        sticks = {surfaces.elevator, surfaces.aileron};
        if (m.rudder) m.rudder->setDoubleValue(surfaces.rudder);
    }
    m.elevator->setDoubleValue(std::clamp(sticks.pitch, -1.0, 1.0));
    m.aileron->setDoubleValue(std::clamp(sticks.roll, -1.0, 1.0));
}

JsbsimModel::Controls JsbsimModel::controls() const {
    const Impl& m = *impl_;
    return {m.get(m.elevator), m.get(m.aileron), m.rudder ? m.get(m.rudder) : 0.0,
            m.throttles.empty() ? 0.0 : m.get(m.throttles[0])};
}

void JsbsimModel::step_jsbsim_only(const Controls& c) {
    Impl& m = *impl_;
    for (auto* t : m.throttles) t->setDoubleValue(c.throttle);
    m.elevator->setDoubleValue(c.elevator);
    m.aileron->setDoubleValue(c.aileron);
    if (m.rudder) m.rudder->setDoubleValue(c.rudder);
    for (int i = 0; i < substeps_; ++i) m.fdm->Run();
}

void JsbsimModel::step(const GuideWOutputs& cmd) {
    Impl& m = *impl_;
    if (!fault_.empty()) return;
    Quiet quiet(m.logger, m.log, false);
    apply_controls(cmd);
    for (int i = 0; i < substeps_; ++i) m.fdm->Run();
    ++m.steps;
    read_state();
    const double t = static_cast<double>(m.steps) * kStep_s;
    char buf[160];
    if (!std::isfinite(ac_.load_g) || !std::isfinite(ac_.position.y) ||
        !std::isfinite(alpha_deg_) || !std::isfinite(ac_.velocity.x)) {
        std::snprintf(buf, sizeof buf,
                      "aircraft %s diverged: its state is not finite at t = %.2f s", name_.c_str(),
                      t);
        fault_ = buf;
    } else if (std::fabs(alpha_deg_) > kAlphaOutOfData_deg) {
        std::snprintf(buf, sizeof buf,
                      "aircraft %s left its data: angle of attack %.0f deg at t = %.2f s",
                      name_.c_str(), alpha_deg_, t);
        fault_ = buf;
    }
}

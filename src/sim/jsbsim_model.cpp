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
#include "models/FGPropulsion.h"
#include "aircraft.h"  // sense(): the law's inputs from the flight's state
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

// The F-16's flaperons, as its flight-control system and aerodynamics
// (f16.xml) have them: the roll channel's demand is the aileron command plus
// 3 times its error against the scaled roll rate, moved at most 1/0.3 of
// full travel per second; a Mach schedule (1 at Mach 0 to 0.15 at Mach 1)
// scales the deflection; the two flaperons' sum, 1.4324 rad per unit,
// enters the lift at 0.35 per rad. A roll demand therefore lifts or drops
// the aircraft by up to a g within a tenth of a second, before the tail
// can move the angle of attack.
constexpr double kF16RollPidKp = 3.0;
// Its stick limiter passes a push up to 0.44 of full travel (4 g negative
// against 9 g positive).
constexpr double kF16StickPushLimit = 0.44;
constexpr double kF16FlaperonMixRadPerUnit = 1.4324;
constexpr double kF16FlaperonLiftPerRad = 0.35;
constexpr double kF16AileronMachSlope = 0.85;  // the schedule falls from 1 by this per Mach
constexpr double kF16AileronMachFloor = 0.15;

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
    Node ail_pos = nullptr, mach, tef = nullptr, wing_area = nullptr, flaperon_mix = nullptr;
    Node elevator_lift = nullptr;  // inner loop: the tail's own lift
    Node rudder = nullptr, beta;   // inner loop: turn coordination
    Node aileron, elevator, sched_in, sched_out, pid_init, elevator_pos, alpha_limiter;
    std::vector<Node> throttles;
    // Read for the figures only (air_data()); an aircraft may lack any.
    Node beta_deg, elevator_deg, aileron_deg, rudder_deg, gear_pos;
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
    try {
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
    } catch (const AircraftError& e) {  // with what JSBSim said while it failed
        throw AircraftError(e.kind(), e.what(), impl_->log);
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
    m.mach = m.node("velocities/mach", name);
    if (!gains_.fcs) m.rudder = m.node("fcs/rudder-cmd-norm", name, false);
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
        m.flaperon_mix = m.node("fcs/flaperon-mix-rad", name, false);
        if (m.flaperon_mix) {
            m.ail_pos = m.node("fcs/left-aileron-pos-norm", name);
            m.tef = m.node("fcs/tef-control", name);
            m.wing_area = m.node("metrics/Sw-sqft", name);
        }
    }
}

JsbsimModel::~JsbsimModel() = default;

std::string JsbsimModel::log() const { return impl_->log; }

AirData JsbsimModel::air_data() const {
    const Impl& m = *impl_;
    auto read = [&m](Impl::Node n) { return n ? m.get(n) : NAN; };
    return {alpha_deg_,          read(m.beta_deg),   m.get(m.mach),   read(m.elevator_deg),
            read(m.aileron_deg), read(m.rudder_deg), read(m.gear_pos)};
}

void JsbsimModel::reset(const InitialFlight& init) {
    Impl& m = *impl_;
    Quiet quiet(m.logger, m.log, true);
    fault_.clear();
    n_integral_ = 0.0;
    p_integral_ = 0.0;
    roll_demand_ = 0.0;
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
    air_.calm(*m.fdm);
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
    air_.enter(*m.fdm, init.altitude_m);
    read_state();
    last_load_g_ = ac_.load_g;
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
    ac_.wind = air_.wind(*m.fdm);
    alpha_deg_ = m.get(m.alpha);
}

void JsbsimModel::sense(GuideWInputs& u) const {
    const Impl& m = *impl_;
    // The law steers the velocity: its attitude inputs are the velocity's
    // angles (track, flight-path angle, bank of the lift about the
    // velocity) as the point mass senses them, not the body's Euler angles,
    // which differ by the angle of attack and flip through the vertical.
    // In a wind they are those of the velocity through the air, as an
    // air-data system gives them.
    Aircraft a = ac_;
    const V3 air = air_velocity(a);
    const V3 along = unit(air);
    a.lift_dir = unit(a.lift_dir - dot(a.lift_dir, along) * along);
    GuideWInputs path{};
    ::sense(a, path);
    u.yaw = path.yaw;
    u.pitch = path.pitch;
    u.roll = path.roll;
    u.tas = m.get(m.vt) * kMetresPerFoot;
    u.vel_up = air.y;
    u.vel_north = air.x;
    u.vel_east = air.z;
    u.roll_rate = ac_.roll_rate_dps;
    u.altitude = ac_.position.y;
}

// The flaperons' lift in g with the roll channel's surface at position
// (its normalised deflection before the Mach schedule), at the flight
// condition read once per step.
double JsbsimModel::FlaperonLift::at(double position) const {
    const double scheduled = position * mach_schedule;
    const double mix =
        (std::clamp(-tef - scheduled, -1.0, 1.0) + std::clamp(tef - scheduled, -1.0, 1.0)) *
        kF16FlaperonMixRadPerUnit;
    return kF16FlaperonLiftPerRad * mix * qbar_psf * wing_area_sqft / weight_lbs;
}

JsbsimModel::FlaperonLift JsbsimModel::flaperon_lift() const {
    const Impl& m = *impl_;
    return {std::clamp(1.0 - kF16AileronMachSlope * m.get(m.mach), kF16AileronMachFloor, 1.0),
            m.get(m.tef), m.get(m.qbar), m.get(m.wing_area), m.get(m.weight)};
}

// The roll channel's surface demand for an aileron command: the command
// plus kF16RollPidKp times its error against the scaled roll rate.
double JsbsimModel::roll_demand_for(double aileron) const {
    return aileron + kF16RollPidKp * (aileron - gains_.fcs_roll_gain * impl_->get(impl_->p));
}

// The flaperons' lift follows the roll surface within a tenth of a second;
// the tail needs two to three tenths to move the angle of attack, and its
// own first answer to a pull is a dip (its down-load). A full-rate roll
// entry from level flight swings the F-16's load by 2.5 g while the tail
// has barely begun: typical's opening roll into its 3.5 g pull flew -0.7 g.
// Where the change of the flaperons' lift works against the load error (a
// roll that drops the load while the load is short, or lifts it while the
// load is over), the surface demand moves at most fcs_flaperon_lift_rate
// g/s of flaperon lift, a rate the tail can answer; a change that helps, and
// every roll once the load is on, goes at once.
double JsbsimModel::pace_roll_demand(double aileron, double n_err, const FlaperonLift& lift) {
    const double wanted = roll_demand_for(aileron);
    const double lift_per_demand = std::fabs(lift.at(1.0) - lift.at(0.0));
    if (gains_.fcs_flaperon_lift_rate_gps <= 0.0 || lift_per_demand <= 0.0) {
        roll_demand_ = wanted;
        return aileron;
    }
    const double lift_change =
        lift.at(std::clamp(wanted, -1.0, 1.0)) - lift.at(std::clamp(roll_demand_, -1.0, 1.0));
    double demand = wanted;
    if (lift_change * n_err < 0.0) {
        const double most = gains_.fcs_flaperon_lift_rate_gps * kStep_s / lift_per_demand;
        demand = std::clamp(wanted, roll_demand_ - most, roll_demand_ + most);
    }
    roll_demand_ = demand;
    if (demand == wanted) return aileron;
    // The aileron command whose surface demand is the paced one.
    return (demand + kF16RollPidKp * gains_.fcs_roll_gain * impl_->get(impl_->p)) /
           (1.0 + kF16RollPidKp);
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
    // the flaperons' lift swings the load by a g before the tail can answer.
    // Of that lead fcs_roll_lead is let through; for the rest the aileron is
    // given so that the FCS's surface demand is the steady roll's at once.
    const double no_lead =
        (steady + kF16RollPidKp * gains_.fcs_roll_gain * m.get(m.p)) / (1.0 + kF16RollPidKp);
    return gains_.fcs_roll_lead * steady + (1.0 - gains_.fcs_roll_lead) * no_lead;
}

// The F-16's pitch stick for n_cmd, n_err g short of it. In a steady pull
// the pitch rate is g (n - cos theta cos phi) / V; the FCS's pitch channel is
// neutral when its stick, pitch-rate and load terms cancel, so this stick
// holds n_cmd once the FCS's slow integrator has settled. Within a
// manoeuvre its angle-of-attack and pitch-rate feedback hand back part of
// any stick: a share of this stick goes ahead, the load loop finds the rest.
double JsbsimModel::f16_pitch_stick(double n_cmd, double n_err) {
    Impl& m = *impl_;
    const double phi = m.get(m.phi) * kRadPerDeg, tht = m.get(m.theta) * kRadPerDeg;
    const double dn = n_cmd - std::cos(tht) * std::cos(phi);
    const double v = std::max(m.get(m.vt) * kMetresPerFoot, 1.0);
    const double in = m.get(m.sched_in);
    if (std::fabs(in) > kStickForRatio) m.sched_ratio = std::max(m.get(m.sched_out) / in, 0.11);
    // The load error closes through the pitch rate too: n_kp g/V of pitch
    // rate per g of error turns the angle of attack (and with it the load)
    // towards the command in a fraction of a second.
    const double stick_per_q = gains_.fcs_pitch_rate_gain / m.sched_ratio;
    const double ff =
        -gains_.fcs_ff_share * dn *
        (gains_.fcs_pitch_rate_gain * kStandardGravity_mps2 / v - gains_.fcs_load_gain) /
        m.sched_ratio;
    // The flown load's rate damps the loop: a pull that is still building
    // counts as already that much nearer the command.
    const double n_rate = (ac_.load_g - last_load_g_) / kStep_s;
    return ff - stick_per_q * (kStandardGravity_mps2 / v) *
                    (gains_.n_kp * (n_err - gains_.n_kd * n_rate) + gains_.n_ki * n_integral_);
}

// The F-16 through its own channels: the roll stick, paced where the
// flaperons' lift would fight the load, then the pitch stick for the load
// the flaperons leave to the wing.
JsbsimModel::Sticks JsbsimModel::f16_sticks(double p_cmd, double n_cmd) {
    const Impl& m = *impl_;
    double n_err = n_cmd - ac_.load_g;
    double aileron = f16_roll_stick(p_cmd);
    if (m.flaperon_mix) {
        const FlaperonLift lift = flaperon_lift();
        aileron = pace_roll_demand(aileron, n_err, lift);
        // The flaperons' lift follows the aileron at once; the angle of
        // attack takes a fraction of a second. The load loop flies the rest
        // of the load: the command less the flaperons' lift once the aileron
        // has reached its demand, against the flown load less their lift now.
        n_err -=
            lift.at(std::clamp(roll_demand_for(aileron), -1.0, 1.0)) - lift.at(m.get(m.ail_pos));
    }
    const double stick = f16_pitch_stick(n_cmd, n_err);
    // The integral stops growing further into a stop the stick is against
    // (a pull is a negative stick; the FCS passes a push up to its
    // negative-g limit only).
    const bool winds_up =
        (stick <= -1.0 && n_err > 0.0) || (stick >= kF16StickPushLimit && n_err < 0.0);
    if (!winds_up) n_integral_ += n_err * kStep_s;
    last_load_g_ = ac_.load_g;
    return {stick, aileron};
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
    air_.update(*m.fdm, static_cast<double>(m.steps) * kStep_s, ac_.position.y);
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

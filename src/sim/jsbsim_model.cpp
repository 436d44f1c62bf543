#include "jsbsim_model.h"

#include <algorithm>
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
#include "aircraft.h"  // sense(): the law's inputs from the flight's state
#include "angles.h"
#include "law_constants.h"

namespace {

constexpr double kMetresPerFoot = 0.3048;
constexpr double kTerrainBelowSeaLevel_m = -1000.0;
// An angle of attack beyond this is outside every aircraft's aerodynamic
// tables: the model no longer means anything.
constexpr double kAlphaOutOfData_deg = 90.0;

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

// A loop the aircraft closes on its flight itself: a PID among its flight
// controls (JSBSim names a flight-control component's property fcs/NAME, and
// a PID's has an initial-integrator-value), as the F-16's roll-rate, g-load
// and yaw PIDs. Empty where there is none.
std::string own_control_loop(JSBSim::FGFDMExec& fdm) {
    SGPropertyNode* fcs = fdm.GetPropertyManager()->GetNode("fcs");
    if (!fcs) return {};
    for (int i = 0; i < fcs->nChildren(); ++i) {
        SGPropertyNode* component = fcs->getChild(i);
        if (component->getNode("initial-integrator-value"))
            return "fcs/" + component->getNameString();
    }
    return {};
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
    Node elevator_lift = nullptr;  // the surface loop: the tail's own lift
    Node rudder = nullptr, beta;   // where the mapping moves the rudder; sideslip
    Node aileron, elevator, sched_in, sched_out, pid_init, elevator_pos, alpha_limiter;
    std::vector<Node> throttles;
    // Read for the figures only (air_data()); an aircraft may lack any.
    Node beta_deg, elevator_deg, aileron_deg, rudder_deg, gear_pos;
    // The gear command and position where the aircraft retracts its gear
    // (null for a fixed gear).
    Node gear_cmd = nullptr, gear_retract = nullptr;
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
                         const ControlEntry& entry, bool surface_loop_over_own_fcs)
    : name_(name),
      entry_(entry),
      impl_(std::make_unique<Impl>()),
      mapping_(make_control_mapping(entry)) {
    const double substeps = entry.rate_hz * kStep_s;
    substeps_ = static_cast<int>(std::lround(substeps));
    if (substeps_ < 1 || std::fabs(substeps - substeps_) > 1e-9) {
        throw AircraftError(AircraftError::kLoad,
                            "aircraft " + name + ": rate_hz " + std::to_string(entry.rate_hz) +
                                " is not a whole multiple of the law's 100 Hz");
    }
    try {
        Quiet quiet(impl_->logger, impl_->log, true);
        JSBSim::FGJSBBase::debug_lvl = 0;  // no banner, no load report
        try {
            impl_->fdm = std::make_unique<JSBSim::FGFDMExec>();
            impl_->fdm->SetDebugLevel(0);
            impl_->fdm->SetRootDir(SGPath(root_dir));
            // The step before the aircraft: JSBSim's filters, integrators
            // and actuators take their step size when they are built, and a
            // step set after loading would run every one of them at the
            // wrong speed (at 200 Hz, 5/3 of what the aircraft's data say).
            impl_->fdm->Setdt(1.0 / entry.rate_hz);
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
    // Our surface loop would move the surfaces the aircraft's own loops
    // move too, each fighting the other's correction.
    if (entry.mapping == MappingKind::kSurfaceLoop && !surface_loop_over_own_fcs) {
        const std::string loop = own_control_loop(*impl_->fdm);
        if (!loop.empty())
            throw AircraftError(AircraftError::kUnknown,
                                "aircraft " + name + " has a flight-control system of its own (" +
                                    loop +
                                    "): name a control entry that flies through it (such as f16), "
                                    "or ask for our surface loop over it");
    }

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
    if (mapping_->commands_rudder()) m.rudder = m.node("fcs/rudder-cmd-norm", name, false);
    // An aircraft folder may fly another aircraft's entry, whose
    // elevator-lift property its aerodynamics name otherwise or not at all:
    // then the loop goes without (its proportional action sees the flown
    // load).
    const std::string& lift = entry_.surface_loop.elevator_lift_property;
    if (entry_.mapping == MappingKind::kSurfaceLoop && !lift.empty())
        m.elevator_lift = m.node(lift, name, false);
    if (entry_.mapping == MappingKind::kFcs) {
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
    m.steps = 0;
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
    hand_over(mapping_->reset(trim_reading()));
    if (init.bank_deg != 0.0) roll_about_velocity(init);
    air_.enter(*m.fdm, init.altitude_m);
    read_state();
}

TrimReading JsbsimModel::trim_reading() const {
    const Impl& m = *impl_;
    TrimReading r;
    r.elevator_cmd_norm = m.get(m.elevator);
    if (m.elevator_pos) r.elevator_pos_norm = m.get(m.elevator_pos);
    if (m.alpha_limiter) r.fcs_alpha_limiter_norm = m.get(m.alpha_limiter);
    r.qbar_psf = m.get(m.qbar);
    r.elevator_lift_g = elevator_lift_g();
    return r;
}

// What the mapping sets as it takes the trimmed aircraft over.
void JsbsimModel::hand_over(const TrimHandover& h) {
    Impl& m = *impl_;
    if (!std::isnan(h.elevator_cmd_norm)) m.elevator->setDoubleValue(h.elevator_cmd_norm);
    if (!std::isnan(h.fcs_pitch_integrator)) {
        if (!m.pid_init)
            throw AircraftError(AircraftError::kLoad,
                                "aircraft " + name_ + ": no FCS pitch integrator to hand the trim");
        m.pid_init->setDoubleValue(h.fcs_pitch_integrator);
    }
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

MappingInput JsbsimModel::mapping_input() const {
    const Impl& m = *impl_;
    MappingInput in;
    in.load_g = ac_.load_g;
    in.p_rps = m.get(m.p);
    in.q_rps = m.get(m.q);
    in.phi_rad = m.get(m.phi) * kRadPerDeg;
    in.theta_rad = m.get(m.theta) * kRadPerDeg;
    in.speed_mps = m.get(m.vt) * kMetresPerFoot;
    in.qbar_psf = m.get(m.qbar);
    in.mach = m.get(m.mach);
    in.alpha_deg = m.get(m.alpha);
    in.beta_rad = m.get(m.beta);
    in.elevator_lift_g = elevator_lift_g();
    if (m.sched_in) {
        in.fcs_pitch_limited_norm = m.get(m.sched_in);
        in.fcs_pitch_scheduled_norm = m.get(m.sched_out);
    }
    return in;
}

double JsbsimModel::elevator_lift_g() const {
    const Impl& m = *impl_;
    return m.elevator_lift ? m.get(m.elevator_lift) / m.get(m.weight) : 0.0;
}

void JsbsimModel::set_controls(const Controls& c) {
    Impl& m = *impl_;
    for (auto* t : m.throttles) t->setDoubleValue(c.throttle);
    m.elevator->setDoubleValue(c.elevator);
    m.aileron->setDoubleValue(c.aileron);
    if (m.rudder) m.rudder->setDoubleValue(c.rudder);
}

Controls JsbsimModel::controls() const {
    const Impl& m = *impl_;
    return {m.get(m.elevator), m.get(m.aileron), m.rudder ? m.get(m.rudder) : 0.0,
            m.throttles.empty() ? 0.0 : m.get(m.throttles[0])};
}

void JsbsimModel::step_jsbsim_only(const Controls& c) {
    Impl& m = *impl_;
    set_controls(c);
    for (int i = 0; i < substeps_; ++i) m.fdm->Run();
}

void JsbsimModel::step(const GuideWOutputs& cmd) {
    Impl& m = *impl_;
    if (!fault_.empty()) return;
    Quiet quiet(m.logger, m.log, false);
    air_.update(*m.fdm, static_cast<double>(m.steps) * kStep_s, ac_.position.y);
    set_controls(mapping_->step(law_command(cmd, entry_.limits.max_roll_rate_dps), mapping_input(),
                                kStep_s));
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

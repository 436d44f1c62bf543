// The FMI 2.0 FMU as a simulation tool sees it: the package, the model
// description against the standard's rules and the records, the exported
// functions, and the standard's calling sequence compared bit for bit with
// the instance API.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <set>

#include "fmi2_declarations.h"
#include "fmu_support.h"
#include "record_fields.h"

namespace {

using namespace fmu_test;

const std::string kSo = "binaries/linux64/GuideW.so";

// The start values of the FMPy example in docs/fmu.md, as it prints them:
// simulate_fmu("...", ..., start_values={"name": value, ...}, ...).
std::vector<std::pair<std::string, double>> readme_retune() {
    std::ifstream in(GUIDEW_README_PATH);
    const std::regex call(R"(start_values=\{([^}]*)\})");
    const std::regex pair(R"re("([^"]+)":\s*([-+0-9.eE]+))re");
    std::string line;
    bool in_call = false;  // inside the example's simulate_fmu(...)
    while (std::getline(in, line)) {
        in_call = in_call || line.find("simulate_fmu(\"") != std::string::npos;
        std::smatch m;
        if (!in_call || !std::regex_search(line, m, call)) continue;
        std::vector<std::pair<std::string, double>> values;
        const std::string body = m[1];
        for (std::sregex_iterator it(body.begin(), body.end(), pair), end; it != end; ++it) {
            values.emplace_back((*it)[1], parse_double((*it)[2].str().c_str()));
        }
        return values;
    }
    return {};
}

// ---- The importer ------------------------------------------------------------------

struct Fmi2 {
    explicit Fmi2(const std::string& so) : lib(so) {}
    Binary lib;
#define FMI2_FN(name) decltype(&::name) name = lib.sym<decltype(&::name)>(#name)
    FMI2_FN(fmi2GetVersion);
    FMI2_FN(fmi2Instantiate);
    FMI2_FN(fmi2FreeInstance);
    FMI2_FN(fmi2SetDebugLogging);
    FMI2_FN(fmi2SetupExperiment);
    FMI2_FN(fmi2EnterInitializationMode);
    FMI2_FN(fmi2ExitInitializationMode);
    FMI2_FN(fmi2Terminate);
    FMI2_FN(fmi2Reset);
    FMI2_FN(fmi2GetReal);
    FMI2_FN(fmi2SetReal);
    FMI2_FN(fmi2GetInteger);
    FMI2_FN(fmi2SetInteger);
    FMI2_FN(fmi2GetBoolean);
    FMI2_FN(fmi2SetBoolean);
    FMI2_FN(fmi2GetString);
    FMI2_FN(fmi2SetString);
    FMI2_FN(fmi2GetRealStatus);
    FMI2_FN(fmi2GetFMUstate);
    FMI2_FN(fmi2SetFMUstate);
    FMI2_FN(fmi2FreeFMUstate);
    FMI2_FN(fmi2SerializedFMUstateSize);
    FMI2_FN(fmi2SerializeFMUstate);
    FMI2_FN(fmi2DeSerializeFMUstate);
    FMI2_FN(fmi2DoStep);
    FMI2_FN(fmi2EnterEventMode);
#undef FMI2_FN
};

void record_log(fmi2ComponentEnvironment env, fmi2String, fmi2Status status, fmi2String category,
                fmi2String message, ...) {
    char text[1024];
    va_list args;
    va_start(args, message);
    std::vsnprintf(text, sizeof text, message, args);
    va_end(args);
    static_cast<LogBook*>(env)->records.push_back({status, category, text});
}

// Everything the tests need from the package, unpacked and loaded once.
struct Package {
    Unpacked files{GUIDEW_FMU2_PATH};
    ModelDescription md{files.path("modelDescription.xml"), "ScalarVariable"};
    Fmi2 api{files.path(kSo)};
    std::string guid = md.root.attribute("guid").value();
};

Package& package() {
    static Package p;
    return p;
}

fmi2ValueReference vr_of(const std::string& name) { return package().md.value_reference(name); }

// One FMU instance with its own log book.
class Instance {
public:
    explicit Instance(const char* name, bool logging = false)
        : functions_{record_log, nullptr, nullptr, nullptr, &log},
          c(api().fmi2Instantiate(name, fmi2CoSimulation, package().guid.c_str(), "file:///tmp",
                                  &functions_, fmi2False, logging ? fmi2True : fmi2False)) {}
    ~Instance() { api().fmi2FreeInstance(c); }
    static Fmi2& api() { return package().api; }

    void start() {
        ASSERT_EQ(api().fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
        ASSERT_EQ(api().fmi2EnterInitializationMode(c), fmi2OK);
        ASSERT_EQ(api().fmi2ExitInitializationMode(c), fmi2OK);
    }
    void set(const std::string& name, double v) {
        const fmi2ValueReference r = vr_of(name);
        ASSERT_EQ(api().fmi2SetReal(c, &r, 1, &v), fmi2OK) << log.last();
    }
    double get(const std::string& name) {
        const fmi2ValueReference r = vr_of(name);
        double v = NAN;
        EXPECT_EQ(api().fmi2GetReal(c, &r, 1, &v), fmi2OK) << log.last();
        return v;
    }
    void set_inputs(const GuideWInputs& u) {
        std::vector<fmi2ValueReference> refs;
        for (const auto& f : guidew_fields::kInputs) refs.push_back(vr_of(f.name));
        ASSERT_EQ(api().fmi2SetReal(c, refs.data(), refs.size(), &u.speed_cmd), fmi2OK);
    }
    template <size_t N>
    std::vector<double> read(const guidew_fields::Field (&fields)[N]) {
        std::vector<fmi2ValueReference> refs;
        for (const auto& f : fields) refs.push_back(vr_of(f.name));
        std::vector<double> out(N);
        EXPECT_EQ(api().fmi2GetReal(c, refs.data(), N, out.data()), fmi2OK) << log.last();
        return out;
    }

    LogBook log;

private:
    fmi2CallbackFunctions functions_;

public:
    fmi2Component c;
};

// The same tuning on an FMU instance (by structured name) and on a
// reference instance of the instance API (0-based record indices).
void tune(Instance& fmu, GuideWInstance* ref) {
    GuideWParams* p = GuideW_instance_params(ref);
    p->roll_kp *= 1.5;
    fmu.set("roll_kp", p->roll_kp);
    p->nz_max = 5.5;
    fmu.set("nz_max", 5.5);
    // Altitude breakpoint 3, speed breakpoint 4 (0-based): speed first and
    // 1-based in the structured name.
    p->thr_table[3 + 11 * 4] = 0.93;
    fmu.set("thr_table[5,4]", 0.93);
    p->thr_max_index[0] = 7;
    const fmi2ValueReference r = vr_of("thr_max_index[1]");
    const fmi2Integer seven = 7;
    ASSERT_EQ(Instance::api().fmi2SetInteger(fmu.c, &r, 1, &seven), fmi2OK);
}

void expect_same(const std::vector<double>& fmu, const double* ref, const char* what, int step) {
    for (size_t i = 0; i < fmu.size(); ++i) {
        ASSERT_TRUE(same_bits(fmu[i], ref[i]))
            << what << " " << i << " at step " << step << ": " << fmu[i] << " vs " << ref[i];
    }
}

// Flies n iterations from iteration `first`; every seventh communication
// step spans three law steps. Compares outputs and states with the
// reference after each.
void fly_and_compare(Instance& fmu, GuideWInstance* ref, int first, int n, double& t) {
    for (int k = first; k < first + n; ++k) {
        const GuideWInputs u = flight_inputs(k);
        const int steps = k % 7 == 0 ? 3 : 1;
        const double h = host_step(t, steps);
        fmu.set_inputs(u);
        ASSERT_EQ(Instance::api().fmi2DoStep(fmu.c, t, h, fmi2True), fmi2OK) << fmu.log.last();
        t += h;
        for (int s = 0; s < steps; ++s) GuideW_instance_one_step(ref, &u.speed_cmd, nullptr);
        expect_same(fmu.read(guidew_fields::kOutputs), &GuideW_instance_outputs(ref)->lat_cmd,
                    "output", k);
        expect_same(fmu.read(guidew_fields::kStates), &GuideW_instance_states(ref)->splits_active,
                    "state", k);
    }
}

// ---- The package and its model description --------------------------------------

TEST(Fmi2Package, HoldsTheModelDescriptionAndTheLinuxBinary) {
    const auto& e = package().files.entries();
    EXPECT_NE(std::find(e.begin(), e.end(), "modelDescription.xml"), e.end());
    EXPECT_NE(std::find(e.begin(), e.end(), kSo), e.end());
    const pugi::xml_node root = package().md.root;
    EXPECT_STREQ(root.attribute("fmiVersion").value(), "2.0");
    EXPECT_STREQ(root.attribute("variableNamingConvention").value(), "structured");
    const pugi::xml_node cs = root.child("CoSimulation");
    EXPECT_STREQ(cs.attribute("modelIdentifier").value(), "GuideW");
    for (const char* flag : {"canHandleVariableCommunicationStepSize", "canGetAndSetFMUstate",
                             "canSerializeFMUstate"}) {
        EXPECT_TRUE(cs.attribute(flag).as_bool()) << flag;
    }
    EXPECT_FALSE(cs.attribute("canBeInstantiatedOnlyOncePerProcess").as_bool(true));
    EXPECT_TRUE(root.child("ModelExchange").empty());
    EXPECT_EQ(root.child("DefaultExperiment").attribute("stepSize").as_double(), 0.01);
    // Without a stop time importers fly a single second.
    EXPECT_GT(root.child("DefaultExperiment").attribute("stopTime").as_double(), 1.0);
    EXPECT_STREQ(package().api.fmi2GetVersion(), "2.0");
}

// The FMI 2.0 table of causality and variability, and the initial values
// each allows (the first is the default); start values go with exact and
// approx, and with every input.
// clang-format off
const std::map<std::pair<std::string, std::string>, std::vector<std::string>> kAllowed = {
    {{"parameter", "fixed"}, {"exact"}},        {{"parameter", "tunable"}, {"exact"}},
    {{"calculatedParameter", "fixed"}, {"calculated", "approx"}},
    {{"calculatedParameter", "tunable"}, {"calculated", "approx"}},
    {{"input", "discrete"}, {""}},              {{"input", "continuous"}, {""}},
    {{"output", "constant"}, {"exact"}},        {{"local", "constant"}, {"exact"}},
    {{"output", "discrete"}, {"calculated", "exact", "approx"}},
    {{"output", "continuous"}, {"calculated", "exact", "approx"}},
    {{"local", "fixed"}, {"calculated", "approx"}},
    {{"local", "tunable"}, {"calculated", "approx"}},
    {{"local", "discrete"}, {"calculated", "exact", "approx"}},
    {{"local", "continuous"}, {"calculated", "exact", "approx"}},
    {{"independent", "continuous"}, {""}},
};
// clang-format on

TEST(Fmi2ModelDescription, EveryVariableFollowsTheStandardsRules) {
    const pugi::xml_node root = package().md.root;
    std::set<std::string> units;
    for (pugi::xml_node u : root.child("UnitDefinitions").children("Unit")) {
        EXPECT_FALSE(u.child("BaseUnit").empty()) << u.attribute("name").value();
        units.insert(u.attribute("name").value());
    }
    std::set<std::pair<std::string, unsigned>> refs;
    std::set<std::string> names;
    const std::regex structured(R"([A-Za-z_][A-Za-z0-9_]*(\[[0-9]+(,[0-9]+)*\])?)");
    int independents = 0;
    for (pugi::xml_node v : package().md.ordered) {
        const std::string name = v.attribute("name").value();
        const pugi::xml_node type = v.first_child();
        const std::string causality = v.attribute("causality").as_string("local");
        const std::string variability = v.attribute("variability").as_string("continuous");
        SCOPED_TRACE(name);
        EXPECT_TRUE(std::regex_match(name, structured));
        EXPECT_TRUE(names.insert(name).second) << "duplicate name";
        EXPECT_TRUE(refs.insert({type.name(), v.attribute("valueReference").as_uint()}).second)
            << "duplicate value reference";
        const auto rule = kAllowed.find({causality, variability});
        ASSERT_NE(rule, kAllowed.end()) << causality << "/" << variability;
        const std::string initial = v.attribute("initial").as_string(rule->second.front().c_str());
        EXPECT_NE(std::find(rule->second.begin(), rule->second.end(), initial), rule->second.end())
            << "initial=" << initial;
        const bool start_required =
            initial == "exact" || initial == "approx" || causality == "input";
        EXPECT_EQ(!type.attribute("start").empty(), start_required);
        if (variability == "continuous") EXPECT_STREQ(type.name(), "Real");
        // The law samples its inputs once a step and holds its outputs: an
        // importer must neither interpolate the one nor extrapolate the other.
        if (causality == "input" || causality == "output") EXPECT_EQ(variability, "discrete");
        if (!type.attribute("unit").empty())
            EXPECT_EQ(units.count(type.attribute("unit").value()), 1u);
        independents += causality == "independent";
    }
    EXPECT_LE(independents, 1);
    // Outputs lists the outputs, InitialUnknowns the outputs whose initial
    // value the FMU calculates (approx or calculated), by 1-based index.
    const auto listed = [&](const char* element) {
        std::vector<unsigned> indices;
        for (pugi::xml_node u : root.child("ModelStructure").child(element).children("Unknown")) {
            indices.push_back(u.attribute("index").as_uint());
        }
        return indices;
    };
    std::vector<unsigned> outputs, calculated;
    for (size_t i = 0; i < package().md.ordered.size(); ++i) {
        const pugi::xml_node v = package().md.ordered[i];
        if (std::string(v.attribute("causality").value()) != "output") continue;
        outputs.push_back(static_cast<unsigned>(i + 1));
        if (std::string(v.attribute("initial").as_string("calculated")) != "exact") {
            calculated.push_back(static_cast<unsigned>(i + 1));
        }
    }
    EXPECT_EQ(listed("Outputs"), outputs);
    EXPECT_EQ(listed("InitialUnknowns"), calculated);
}

TEST(Fmi2ModelDescription, NamesEveryRecordFieldWithItsUnitAndDefault) {
    auto& vars = package().md.var;
    const auto check = [&](const auto& fields, const char* causality) {
        for (const auto& f : fields) {
            ASSERT_EQ(vars.count(f.name), 1u) << f.name;
            const pugi::xml_node v = vars[f.name];
            EXPECT_STREQ(v.attribute("causality").value(), causality) << f.name;
            EXPECT_STREQ(v.attribute("description").value(), f.description);
            EXPECT_STREQ(v.child("Real").attribute("unit").value(), f.unit) << f.name;
        }
    };
    check(guidew_fields::kInputs, "input");
    check(guidew_fields::kOutputs, "output");
    check(guidew_fields::kStates, "local");
    EXPECT_EQ(vars["overrun"].first_child().name(), std::string("Boolean"));
    // lat_cmd is a bank error, a bound of one or ext_lat: the roll's unit.
    for (const char* same : {"lat_cmd", "lat_max", "lat_min", "ext_lat"})
        EXPECT_EQ(vars[same].child("Real").attribute("unit").value(), std::string("deg")) << same;
    expect_flight_within_declared_ranges(package().md,
                                         [](pugi::xml_node v) { return v.first_child(); });

    GuideWParams d;
    GuideW_default_params(&d);
    const auto start = [&](const std::string& name) {
        EXPECT_EQ(vars.count(name), 1u) << name;
        EXPECT_STREQ(vars[name].attribute("variability").value(), "tunable");
        return parse_double(vars[name].first_child().attribute("start").value());
    };
    EXPECT_TRUE(same_bits(start("roll_kp"), d.roll_kp));
    EXPECT_TRUE(same_bits(start("thr_min"), d.thr_min));
    // thr_table[s,a]: speed breakpoint s, altitude breakpoint a, 1-based;
    // the record's index is (a-1) + 11 (s-1).
    for (int s = 1; s <= 12; ++s) {
        for (int a = 1; a <= 11; ++a) {
            const std::string name =
                "thr_table[" + std::to_string(s) + "," + std::to_string(a) + "]";
            EXPECT_TRUE(same_bits(start(name), d.thr_table[(a - 1) + 11 * (s - 1)])) << name;
        }
    }
    for (int a = 1; a <= 11; ++a) {
        EXPECT_TRUE(same_bits(start("thr_alt_bp[" + std::to_string(a) + "]"), d.thr_alt_bp[a - 1]));
    }
    EXPECT_EQ(vars["thr_max_index[1]"].child("Integer").attribute("start").as_uint(),
              d.thr_max_index[0]);
    EXPECT_EQ(vars["thr_max_index[2]"].child("Integer").attribute("start").as_uint(),
              d.thr_max_index[1]);
    EXPECT_EQ(vars.count("thr_table[13,1]") + vars.count("thr_table[0,1]"), 0u);
}

// ---- The binary --------------------------------------------------------------------

TEST(Fmi2Binary, ExportsExactlyTheStandardsFunctionsAndNeedsOnlyTheGlibcTheReadmeStates) {
    // clang-format off
    const std::set<std::string> expected = {
        "fmi2GetTypesPlatform", "fmi2GetVersion", "fmi2SetDebugLogging", "fmi2Instantiate",
        "fmi2FreeInstance", "fmi2SetupExperiment", "fmi2EnterInitializationMode",
        "fmi2ExitInitializationMode", "fmi2Terminate", "fmi2Reset", "fmi2GetReal",
        "fmi2GetInteger", "fmi2GetBoolean", "fmi2GetString", "fmi2SetReal", "fmi2SetInteger",
        "fmi2SetBoolean", "fmi2SetString", "fmi2GetFMUstate", "fmi2SetFMUstate",
        "fmi2FreeFMUstate", "fmi2SerializedFMUstateSize", "fmi2SerializeFMUstate",
        "fmi2DeSerializeFMUstate", "fmi2GetDirectionalDerivative", "fmi2EnterEventMode",
        "fmi2NewDiscreteStates", "fmi2EnterContinuousTimeMode", "fmi2CompletedIntegratorStep",
        "fmi2SetTime", "fmi2SetContinuousStates", "fmi2GetDerivatives", "fmi2GetEventIndicators",
        "fmi2GetContinuousStates", "fmi2GetNominalsOfContinuousStates",
        "fmi2SetRealInputDerivatives", "fmi2GetRealOutputDerivatives", "fmi2DoStep",
        "fmi2CancelStep", "fmi2GetStatus", "fmi2GetRealStatus", "fmi2GetIntegerStatus",
        "fmi2GetBooleanStatus", "fmi2GetStringStatus"};
    // clang-format on
    const std::string so = package().files.path(kSo);
    const auto exported = exported_symbols(so);
    EXPECT_EQ(std::set<std::string>(exported.begin(), exported.end()), expected);
#ifdef GUIDE_SANITIZE
    // The sanitizer build keeps the runtimes shared, as its own expect.
    const std::set<std::string> runtimes = {"libc.so.6",           "libm.so.6",    "libstdc++.so.6",
                                            "libgcc_s.so.1",       "libasan.so.8", "libubsan.so.1",
                                            "ld-linux-x86-64.so.2"};
    for (const std::string& lib : needed_libraries(so)) EXPECT_EQ(runtimes.count(lib), 1u) << lib;
#else
    expect_only_glibc(so, GUIDEW_README_PATH);
#endif
}

// ---- The life cycle -----------------------------------------------------------------

TEST(Fmi2LifeCycle, TwoInstancesOneTunedMatchTheInstanceApiBitForBit) {
    Instance plain("plain"), tuned("tuned");
    ASSERT_NE(plain.c, nullptr);
    ASSERT_NE(tuned.c, nullptr);
    GuideWInstance* ref_plain = GuideW_instance_create();
    GuideWInstance* ref_tuned = GuideW_instance_create();
    tune(tuned, ref_tuned);
    plain.start();
    tuned.start();
    double t_plain = 0.0, t_tuned = 0.0;
    for (int leg = 0; leg < 6; ++leg) {  // interleaved, 3600 communication steps each
        fly_and_compare(plain, ref_plain, leg * 600, 600, t_plain);
        fly_and_compare(tuned, ref_tuned, leg * 600, 600, t_tuned);
        if (leg == 2) {  // retuned in flight: a tunable parameter
            GuideW_instance_params(ref_tuned)->roll_kd = 0.05;
            tuned.set("roll_kd", 0.05);
        }
    }
    EXPECT_NEAR(plain.get("time"), t_plain, 1e-9 * t_plain);  // the host sums its steps
    EXPECT_EQ(Instance::api().fmi2Terminate(plain.c), fmi2OK);
    GuideW_instance_destroy(ref_plain);
    GuideW_instance_destroy(ref_tuned);
}

TEST(Fmi2LifeCycle, SavedStatesRewindAndBranchTheRunExactly) {
    Instance fmu("rewound");
    fmu.start();
    GuideWInstance* ref = GuideW_instance_create();
    double t = 0.0;
    fly_and_compare(fmu, ref, 0, 700, t);
    fmi2FMUstate saved = nullptr;
    ASSERT_EQ(Instance::api().fmi2GetFMUstate(fmu.c, &saved), fmi2OK);
    const double t_saved = t;
    std::vector<double> first;
    for (int k = 700; k < 1000; ++k) {
        fmu.set_inputs(flight_inputs(k));
        ASSERT_EQ(Instance::api().fmi2DoStep(fmu.c, t, 0.01, fmi2False), fmi2OK);
        t += 0.01;
        for (double y : fmu.read(guidew_fields::kOutputs)) first.push_back(y);
    }
    // Rewind on the same instance; then branch into a new instance from the
    // serialised bytes.
    std::vector<fmi2Byte> bytes;
    size_t size = 0;
    ASSERT_EQ(Instance::api().fmi2SerializedFMUstateSize(fmu.c, saved, &size), fmi2OK);
    bytes.resize(size);
    ASSERT_EQ(Instance::api().fmi2SerializeFMUstate(fmu.c, saved, bytes.data(), size), fmi2OK);
    ASSERT_EQ(Instance::api().fmi2SetFMUstate(fmu.c, saved), fmi2OK);
    Instance branch("branch");
    fmi2FMUstate copied = nullptr;
    ASSERT_EQ(Instance::api().fmi2DeSerializeFMUstate(branch.c, bytes.data(), size, &copied),
              fmi2OK);
    ASSERT_EQ(Instance::api().fmi2SetFMUstate(branch.c, copied), fmi2OK);
    for (Instance* run : {&fmu, &branch}) {
        double tr = t_saved;
        EXPECT_NEAR(run->get("time"), t_saved, 1e-9 * t_saved);
        for (int k = 700; k < 1000; ++k) {
            run->set_inputs(flight_inputs(k));
            ASSERT_EQ(Instance::api().fmi2DoStep(run->c, tr, 0.01, fmi2False), fmi2OK);
            tr += 0.01;
            const auto y = run->read(guidew_fields::kOutputs);
            expect_same(y, &first[static_cast<size_t>(k - 700) * 4], "replayed output", k);
        }
    }
    EXPECT_EQ(Instance::api().fmi2FreeFMUstate(fmu.c, &saved), fmi2OK);
    EXPECT_EQ(saved, nullptr);
    EXPECT_EQ(Instance::api().fmi2FreeFMUstate(branch.c, &copied), fmi2OK);

    // Bytes that are not a state of this layout are refused with a reason.
    struct Damage {
        const char* name;
        std::function<void(std::vector<fmi2Byte>&)> apply;
        const char* reason;
    };
    const Damage damages[] = {
        {"truncated", [](auto& b) { b.pop_back(); }, "is not a GuideW FMU state"},
        {"foreign marker", [](auto& b) { b[0] = 'X'; }, "marker"},
        {"newer layout", [](auto& b) { b[8] = 99; }, "layout version 99"},
        {"another parameter record", [](auto& b) { b[20] ^= 8; }, "-byte record"},
    };
    for (const Damage& d : damages) {
        std::vector<fmi2Byte> bad = bytes;
        d.apply(bad);
        Instance other("other");
        fmi2FMUstate s = nullptr;
        EXPECT_EQ(Instance::api().fmi2DeSerializeFMUstate(other.c, bad.data(), bad.size(), &s),
                  fmi2Error)
            << d.name;
        EXPECT_TRUE(other.log.any_containing(d.reason)) << d.name << ": " << other.log.last();
    }
    GuideW_instance_destroy(ref);
}

TEST(Fmi2LifeCycle, ResetRestartsWithTheParametersAtTheirStartValues) {
    Instance fmu("reset");
    GuideWInstance* scratch = GuideW_instance_create();
    tune(fmu, scratch);
    fmu.start();
    double t = 0.0;
    fly_and_compare(fmu, scratch, 0, 500, t);
    ASSERT_EQ(Instance::api().fmi2Reset(fmu.c), fmi2OK);
    fmu.start();
    EXPECT_EQ(fmu.get("time"), 0.0);
    for (const char* name : {"roll_kp", "nz_max", "thr_table[5,4]"}) {
        EXPECT_TRUE(same_bits(
            fmu.get(name),
            parse_double(package().md.var[name].child("Real").attribute("start").value())))
            << name;
    }
    // From here it flies as a fresh instance does.
    GuideWInstance* fresh = GuideW_instance_create();
    t = 0.0;
    fly_and_compare(fmu, fresh, 0, 500, t);
    GuideW_instance_destroy(scratch);
    GuideW_instance_destroy(fresh);
}

// ---- As the common importers drive it -----------------------------------------------
// A user's start values are written right after instantiation, inputs
// included, and read back before initialisation; the inputs then hold
// those values until the tool sets others.

struct StartValues {
    const char* situation;
    std::vector<std::pair<std::string, double>> values;
    double start_s = 0.0;  // hosts' clocks may start late: steps a few spacings off
};

const StartValues kStartValueRows[] = {
    {"a speed command given a start value, all else at the defaults", {{"speed_cmd", 220.0}}},
    {"level flight northbound told to turn to 30 deg, roll law retuned",
     {{"speed_cmd", 220.0},
      {"azim_cmd", 30.0},
      {"mode", 1.0},
      {"tas", 200.0},
      {"vel_north", 200.0},
      {"altitude", 3000.0},
      {"roll_kp", 3.0},
      {"lat_max", 40.0}}},
    {"slow and low with a trim table cell retuned",
     {{"speed_cmd", 160.0}, {"tas", 150.0}, {"altitude", 1000.0}, {"thr_table[2,1]", 0.9}}},
    {"from a clock two days on (2e5 s: doubles 2.9e-11 s apart)", {{"speed_cmd", 220.0}}, 2e5},
    {"from an epoch time (1.7e9 s: doubles 2.4e-7 s apart)", {{"tas", 200.0}}, 1.7e9},
};

TEST(Fmi2Importer, StartValuesSetAndReadInInstantiatedThenFlownBitForBit) {
    for (const StartValues& row : kStartValueRows) {
        SCOPED_TRACE(row.situation);
        Instance fmu("importer");
        GuideWInstance* ref = GuideW_instance_create();
        for (const auto& [name, v] : row.values) {
            fmu.set(name, v);
            *record_slot(ref, name) = v;
        }
        // Read back before initialisation: what was set, the untouched
        // start values, the start time and the not yet computed outputs.
        for (const auto& [name, v] : row.values) EXPECT_TRUE(same_bits(fmu.get(name), v)) << name;
        EXPECT_TRUE(same_bits(
            fmu.get("nz_max"),
            parse_double(package().md.var["nz_max"].child("Real").attribute("start").value())));
        EXPECT_EQ(fmu.get("time"), 0.0);
        EXPECT_EQ(fmu.get("throttle_cmd"), 0.0);
        ASSERT_EQ(
            Instance::api().fmi2SetupExperiment(fmu.c, fmi2False, 0.0, row.start_s, fmi2False, 0.0),
            fmi2OK);
        ASSERT_EQ(Instance::api().fmi2EnterInitializationMode(fmu.c), fmi2OK) << fmu.log.last();
        EXPECT_TRUE(same_bits(fmu.get(row.values[0].first), row.values[0].second));
        ASSERT_EQ(Instance::api().fmi2ExitInitializationMode(fmu.c), fmi2OK);
        // Two seconds on the start values alone, at points start + k 0.01 (as
        // FMPy computes them), then the varied flight (points summed).
        const auto at = [&](int k) { return row.start_s + k * 0.01; };
        for (int k = 0; k < 200; ++k) {
            ASSERT_EQ(Instance::api().fmi2DoStep(fmu.c, at(k), at(k + 1) - at(k), fmi2True), fmi2OK)
                << fmu.log.last();
            GuideW_instance_step(ref);
            expect_same(fmu.read(guidew_fields::kOutputs), &GuideW_instance_outputs(ref)->lat_cmd,
                        "output", k);
        }
        double t = at(200);
        fly_and_compare(fmu, ref, 0, 300, t);
        EXPECT_TRUE(fmu.log.records.empty()) << fmu.log.last();
        GuideW_instance_destroy(ref);
    }
}

// The README's FMPy example: level flight northbound at 200 m/s, 3000 m,
// told to turn to 30 deg at 220 m/s, with the start values it shows. The
// retune must change what the law commands, or the example shows nothing.
std::vector<double> readme_flight(const std::vector<std::pair<std::string, double>>& retune) {
    Instance fmu("readme");
    GuideWInstance* ref = GuideW_instance_create();
    for (const auto& [name, v] : retune) {
        fmu.set(name, v);
        *record_slot(ref, name) = v;
    }
    fmu.start();
    GuideWInputs u{};
    u.speed_cmd = 220.0;
    u.azim_cmd = 30.0;
    u.mode = 1.0;
    u.tas = 200.0;
    u.vel_north = 200.0;
    u.altitude = 3000.0;
    std::vector<double> y;
    double t = 0.0;
    for (int k = 0; k < 1000; ++k, t += 0.01) {
        fmu.set_inputs(u);
        EXPECT_EQ(Instance::api().fmi2DoStep(fmu.c, t, 0.01, fmi2True), fmi2OK);
        GuideW_instance_one_step(ref, &u.speed_cmd, nullptr);
        const auto out = fmu.read(guidew_fields::kOutputs);
        EXPECT_EQ(std::memcmp(out.data(), GuideW_instance_outputs(ref), sizeof(GuideWOutputs)), 0)
            << k;
        y.insert(y.end(), out.begin(), out.begin() + 3);  // lat_cmd, nz_cmd, throttle_cmd
    }
    GuideW_instance_destroy(ref);
    return y;
}

TEST(Fmi2Importer, TheReadmeRetuneChangesWhatTheExampleFlightCommands) {
    const auto plain = readme_flight({});
    const auto retune = readme_retune();
    ASSERT_FALSE(retune.empty()) << "no start_values={...} in " GUIDEW_README_PATH;
    const auto tuned = readme_flight(retune);
    size_t lat_changed = 0, throttle_changed = 0;
    for (size_t i = 0; i < plain.size(); i += 3) {
        lat_changed += !same_bits(plain[i], tuned[i]);
        throttle_changed += !same_bits(plain[i + 2], tuned[i + 2]);
    }
    // Every step of the turn and of the throttle: a visible difference
    // (with the defaults lat_cmd sits at its bound of 150 all along).
    EXPECT_GT(lat_changed, 900u);
    EXPECT_GT(throttle_changed, 900u);
}

// ---- Values of every type -------------------------------------------------------

// Table indices through FMI 2.0's signed Integer and the overrun flag
// through its int Boolean, several at once: read back as written; a write
// with one bad value, or one variable that cannot be written, writes none.
TEST(Fmi2Values, IndicesAndFlagsKeepTheirValuesAndARefusedWriteChangesNothing) {
    Fmi2& f = Instance::api();
    Instance fmu("typed");
    const fmi2ValueReference both[] = {vr_of("thr_max_index[1]"), vr_of("thr_max_index[2]")};
    const fmi2Integer written[] = {3, 9};
    ASSERT_EQ(f.fmi2SetInteger(fmu.c, both, 2, written), fmi2OK) << fmu.log.last();
    fmi2Integer read[2] = {-1, -1};
    ASSERT_EQ(f.fmi2GetInteger(fmu.c, both, 2, read), fmi2OK);
    EXPECT_EQ(read[0], 3);
    EXPECT_EQ(read[1], 9);
    const fmi2ValueReference overrun = vr_of("overrun");
    fmi2Boolean flag = 7;
    ASSERT_EQ(f.fmi2GetBoolean(fmu.c, &overrun, 1, &flag), fmi2OK);
    EXPECT_EQ(flag, fmi2False);

    const fmi2Integer one_negative[] = {5, -1};
    EXPECT_EQ(f.fmi2SetInteger(fmu.c, both, 2, one_negative), fmi2Error);
    const fmi2ValueReference input_and_output[] = {vr_of("tas"), vr_of("nz_cmd")};
    const fmi2Real values[] = {180.0, 1.0};
    EXPECT_EQ(f.fmi2SetReal(fmu.c, input_and_output, 2, values), fmi2Error);
    // Reading stays allowed in the error state.
    ASSERT_EQ(f.fmi2GetInteger(fmu.c, both, 2, read), fmi2OK);
    EXPECT_EQ(read[0], 3) << "written although the call was refused";
    EXPECT_EQ(fmu.get("tas"), 0.0) << "written although the call was refused";
}

// ---- Misuse --------------------------------------------------------------------------

// The states of the standard's Co-Simulation machine a test starts from.
enum class Start { instantiated, initialization, stepping, terminated, error };
const Start kEveryStart[] = {Start::instantiated, Start::initialization, Start::stepping,
                             Start::terminated, Start::error};

// The instance's name for the state, as its messages give it.
const char* state_name(Start s) {
    switch (s) {
        case Start::instantiated: return "Instantiated";
        case Start::initialization: return "Initialization Mode";
        case Start::stepping: return "Step Mode (step complete)";
        case Start::terminated: return "Terminated";
        case Start::error: return "the error state";
    }
    return "?";
}

// Brings a fresh instance to a state by the standard's calling sequence
// (the error state: by a step of a size that is no whole number of law
// steps).
void bring_to(Instance& fmu, Start s) {
    Fmi2& f = Instance::api();
    if (s == Start::instantiated) return;
    ASSERT_EQ(f.fmi2SetupExperiment(fmu.c, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    ASSERT_EQ(f.fmi2EnterInitializationMode(fmu.c), fmi2OK);
    if (s == Start::initialization) return;
    ASSERT_EQ(f.fmi2ExitInitializationMode(fmu.c), fmi2OK);
    if (s == Start::terminated) ASSERT_EQ(f.fmi2Terminate(fmu.c), fmi2OK);
    if (s == Start::error) ASSERT_EQ(f.fmi2DoStep(fmu.c, 0.0, 0.015, fmi2True), fmi2Error);
}

struct Misuse {
    const char* situation;
    Start from;
    std::function<fmi2Status(fmi2Component)> call;
    const char* reason;  // part of the logged message
};

// One-value calls by variable name, for the table below.
fmi2Status get_real(fmi2Component c, fmi2ValueReference r) {
    double v;
    return Instance::api().fmi2GetReal(c, &r, 1, &v);
}
fmi2Status set_real(fmi2Component c, const char* name, double v) {
    const fmi2ValueReference r = vr_of(name);
    return Instance::api().fmi2SetReal(c, &r, 1, &v);
}
fmi2Status step(fmi2Component c, double t, double h) {
    return Instance::api().fmi2DoStep(c, t, h, fmi2True);
}

TEST(Fmi2Misuse, EveryMisuseIsAnErrorWithAReasonAndTheInstanceRecoversByReset) {
    Fmi2& f = Instance::api();
    static fmi2FMUstate not_a_state = &not_a_state;
    const Misuse rows[] = {
        {"unknown value reference", Start::stepping,
         [](fmi2Component c) { return get_real(c, 99999); },
         "no variable has value reference 99999"},
        {"writing an output", Start::stepping,
         [](fmi2Component c) { return set_real(c, "nz_cmd", 1.0); }, "is an output"},
        {"writing a state", Start::stepping,
         [](fmi2Component c) { return set_real(c, "turn_sign", -1.0); }, "local variable"},
        {"writing an output before initialisation", Start::instantiated,
         [](fmi2Component c) { return set_real(c, "lat_cmd", 1.0); }, "is an output"},
        {"writing overrun", Start::initialization,
         [&](fmi2Component c) {
             const fmi2ValueReference r = vr_of("overrun");
             const fmi2Boolean v = fmi2True;
             return f.fmi2SetBoolean(c, &r, 1, &v);
         },
         "local variable"},
        {"writing the time", Start::stepping,
         [](fmi2Component c) { return set_real(c, "time", 5.0); }, "independent"},
        {"a Real read as an Integer", Start::stepping,
         [&](fmi2Component c) {
             const fmi2ValueReference r = vr_of("roll_kp");
             fmi2Integer v;
             return f.fmi2GetInteger(c, &r, 1, &v);
         },
         "is a Real variable"},
        {"a negative table index", Start::stepping,
         [&](fmi2Component c) {
             const fmi2ValueReference r = vr_of("thr_max_index[2]");
             const fmi2Integer v = -1;
             return f.fmi2SetInteger(c, &r, 1, &v);
         },
         "cannot be negative"},
        {"a String that does not exist", Start::stepping,
         [&](fmi2Component c) {
             const fmi2ValueReference r = 100;
             fmi2String v;
             return f.fmi2GetString(c, &r, 1, &v);
         },
         "no String variable"},
        {"null value array", Start::stepping,
         [&](fmi2Component c) {
             const fmi2ValueReference r = vr_of("tas");
             return f.fmi2GetReal(c, &r, 1, nullptr);
         },
         "value array is null"},
        {"null value reference array", Start::stepping,
         [&](fmi2Component c) {
             const fmi2Real v[2] = {};
             return f.fmi2SetReal(c, nullptr, 2, v);
         },
         "value reference array is null"},
        {"step of 0.015 s", Start::stepping, [](fmi2Component c) { return step(c, 0.0, 0.015); },
         "whole multiple"},
        {"step of zero", Start::stepping, [](fmi2Component c) { return step(c, 0.0, 0.0); },
         "whole multiple"},
        {"step backwards", Start::stepping, [](fmi2Component c) { return step(c, 0.0, -0.01); },
         "whole multiple"},
        {"step of NaN", Start::stepping, [](fmi2Component c) { return step(c, 0.0, NAN); },
         "whole multiple"},
        {"step from another time", Start::stepping,
         [](fmi2Component c) { return step(c, 0.5, 0.01); }, "not the FMU's time"},
        {"step at a time too late to tell law steps apart", Start::stepping,
         [](fmi2Component c) { return step(c, 1e13, 0.01); }, "too coarse"},
        {"stepping before initialisation", Start::instantiated,
         [](fmi2Component c) { return step(c, 0.0, 0.01); }, "not allowed in Instantiated"},
        {"setting up the experiment twice", Start::stepping,
         [&](fmi2Component c) { return f.fmi2SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0); },
         "not allowed in"},
        {"leaving initialisation twice", Start::stepping,
         [&](fmi2Component c) { return f.fmi2ExitInitializationMode(c); }, "not allowed in"},
        {"stop time before start time", Start::instantiated,
         [&](fmi2Component c) { return f.fmi2SetupExperiment(c, fmi2False, 0, 10, fmi2True, 5); },
         "stopTime"},
        {"writing an input after termination", Start::terminated,
         [](fmi2Component c) { return set_real(c, "tas", 1.0); }, "not allowed in Terminated"},
        {"stepping after termination", Start::terminated,
         [](fmi2Component c) { return step(c, 0.0, 0.01); }, "not allowed in Terminated"},
        {"restoring something that is not a state", Start::stepping,
         [&](fmi2Component c) { return f.fmi2SetFMUstate(c, not_a_state); },
         "not a state of this instance"},
        {"freeing something that is not a state", Start::stepping,
         [&](fmi2Component c) {
             fmi2FMUstate s = not_a_state;
             return f.fmi2FreeFMUstate(c, &s);
         },
         "not a state of this instance"},
        {"deserialising ten bytes", Start::stepping,
         [&](fmi2Component c) {
             const fmi2Byte b[10] = {};
             fmi2FMUstate s = nullptr;
             return f.fmi2DeSerializeFMUstate(c, b, 10, &s);
         },
         "not a GuideW FMU state"},
        {"a Model Exchange call", Start::stepping,
         [&](fmi2Component c) { return f.fmi2EnterEventMode(c); }, "Co-Simulation only"},
    };
    for (const Misuse& m : rows) {
        SCOPED_TRACE(m.situation);
        Instance fmu("misused");
        ASSERT_NE(fmu.c, nullptr);
        bring_to(fmu, m.from);
        EXPECT_EQ(m.call(fmu.c), fmi2Error);
        ASSERT_FALSE(fmu.log.records.empty());
        const LogRecord& r = fmu.log.records.back();
        EXPECT_EQ(r.status, fmi2Error);
        EXPECT_EQ(r.category, "logStatusError");
        EXPECT_NE(r.message.find(m.reason), std::string::npos) << r.message;
        // After an error the standard allows reading and reset, not stepping.
        EXPECT_EQ(Instance::api().fmi2DoStep(fmu.c, 0.0, 0.01, fmi2True), fmi2Error);
        EXPECT_EQ(Instance::api().fmi2Reset(fmu.c), fmi2OK);
        fmu.start();
        EXPECT_EQ(Instance::api().fmi2DoStep(fmu.c, 0.0, 0.01, fmi2True), fmi2OK) << fmu.log.last();
    }
}

// The standard's state machine, call by call: each call is answered in the
// states listed and refused in every other with an error naming the state.
// Values are read in every state (start values before initialisation, the
// last values after an error); start values and inputs are written from
// instantiation until termination.
TEST(Fmi2CallRules, EachCallIsAcceptedInItsStatesAndRefusedNamingTheStateElsewhere) {
    Fmi2& f = Instance::api();
    const std::set<Start> every(std::begin(kEveryStart), std::end(kEveryStart));
    const std::set<Start> writable = {Start::instantiated, Start::initialization, Start::stepping};
    struct Rule {
        const char* call;
        std::set<Start> accepted;
        std::function<fmi2Status(fmi2Component)> make;
    };
    const Rule rules[] = {
        {"fmi2SetupExperiment",
         {Start::instantiated},
         [&](fmi2Component c) { return f.fmi2SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0); }},
        {"fmi2EnterInitializationMode",
         {Start::instantiated},
         [&](fmi2Component c) { return f.fmi2EnterInitializationMode(c); }},
        {"fmi2ExitInitializationMode",
         {Start::initialization},
         [&](fmi2Component c) { return f.fmi2ExitInitializationMode(c); }},
        {"fmi2Terminate", {Start::stepping}, [&](fmi2Component c) { return f.fmi2Terminate(c); }},
        {"fmi2DoStep", {Start::stepping}, [](fmi2Component c) { return step(c, 0.0, 0.01); }},
        {"fmi2SetReal of an input", writable,
         [](fmi2Component c) { return set_real(c, "tas", 180.0); }},
        {"fmi2SetInteger of a table index", writable,
         [&](fmi2Component c) {
             const fmi2ValueReference r = vr_of("thr_max_index[1]");
             const fmi2Integer v = 3;
             return f.fmi2SetInteger(c, &r, 1, &v);
         }},
        // Writing nothing is still writing: not after termination either.
        {"fmi2SetString of nothing", writable,
         [&](fmi2Component c) { return f.fmi2SetString(c, nullptr, 0, nullptr); }},
        {"fmi2SetBoolean of nothing", writable,
         [&](fmi2Component c) { return f.fmi2SetBoolean(c, nullptr, 0, nullptr); }},
        {"fmi2GetReal of the time", every,
         [](fmi2Component c) { return get_real(c, vr_of("time")); }},
        {"fmi2GetInteger of a table index", every,
         [&](fmi2Component c) {
             const fmi2ValueReference r = vr_of("thr_max_index[1]");
             fmi2Integer v;
             return f.fmi2GetInteger(c, &r, 1, &v);
         }},
        {"fmi2GetBoolean of overrun", every,
         [&](fmi2Component c) {
             const fmi2ValueReference r = vr_of("overrun");
             fmi2Boolean v;
             return f.fmi2GetBoolean(c, &r, 1, &v);
         }},
        {"fmi2GetString of nothing", every,
         [&](fmi2Component c) { return f.fmi2GetString(c, nullptr, 0, nullptr); }},
        {"fmi2GetRealStatus of the last successful time", every,
         [&](fmi2Component c) {
             fmi2Real t;
             return f.fmi2GetRealStatus(c, fmi2LastSuccessfulTime, &t);
         }},
        {"fmi2GetFMUstate", every,
         [&](fmi2Component c) {
             fmi2FMUstate s = nullptr;
             return f.fmi2GetFMUstate(c, &s);
         }},
        {"fmi2SetDebugLogging", every,
         [&](fmi2Component c) { return f.fmi2SetDebugLogging(c, fmi2False, 0, nullptr); }},
        {"fmi2Reset", every, [&](fmi2Component c) { return f.fmi2Reset(c); }},
    };
    for (const Rule& rule : rules) {
        for (Start from : kEveryStart) {
            SCOPED_TRACE(std::string(rule.call) + " in " + state_name(from));
            Instance fmu("ruled");
            bring_to(fmu, from);
            fmu.log.records.clear();
            if (rule.accepted.count(from) != 0) {
                EXPECT_EQ(rule.make(fmu.c), fmi2OK) << fmu.log.last();
                continue;
            }
            EXPECT_EQ(rule.make(fmu.c), fmi2Error);
            EXPECT_NE(fmu.log.last().find(std::string("not allowed in ") + state_name(from)),
                      std::string::npos)
                << fmu.log.last();
            EXPECT_EQ(step(fmu.c, 0.0, 0.01), fmi2Error) << "not in the error state";
        }
    }
}

TEST(Fmi2Misuse, InstantiationRefusesWrongIdentityAndBadInstancePointersAreErrors) {
    Fmi2& f = Instance::api();
    LogBook log;
    const fmi2CallbackFunctions cb = {record_log, nullptr, nullptr, nullptr, &log};
    const std::string guid = package().guid;
    struct Refusal {
        const char* situation;
        const char* name;
        fmi2Type type;
        const char* guid;
        const char* reason;
    };
    const Refusal rows[] = {
        {"another model's GUID", "a", fmi2CoSimulation, "{00000000-0000-0000-0000-000000000000}",
         "GUID"},
        {"no GUID", "a", fmi2CoSimulation, nullptr, "GUID"},
        {"Model Exchange", "a", fmi2ModelExchange, guid.c_str(), "Co-Simulation only"},
        {"no instance name", nullptr, fmi2CoSimulation, guid.c_str(), "instanceName"},
    };
    for (const Refusal& r : rows) {
        log.records.clear();
        EXPECT_EQ(f.fmi2Instantiate(r.name, r.type, r.guid, "", &cb, fmi2False, fmi2False), nullptr)
            << r.situation;
        EXPECT_TRUE(log.any_containing(r.reason)) << r.situation << ": " << log.last();
    }
    EXPECT_EQ(
        f.fmi2Instantiate("a", fmi2CoSimulation, guid.c_str(), "", nullptr, fmi2False, fmi2False),
        nullptr);
    // Null, freed and made-up instance pointers are refused, never followed.
    fmi2Component freed =
        f.fmi2Instantiate("freed", fmi2CoSimulation, guid.c_str(), "", &cb, fmi2False, fmi2False);
    ASSERT_NE(freed, nullptr);
    f.fmi2FreeInstance(freed);
    int made_up = 0;
    for (fmi2Component c : {fmi2Component{nullptr}, freed, fmi2Component{&made_up}}) {
        EXPECT_EQ(f.fmi2DoStep(c, 0.0, 0.01, fmi2True), fmi2Error);
        EXPECT_EQ(f.fmi2Reset(c), fmi2Error);
        f.fmi2FreeInstance(c);  // ignored
    }
}

TEST(Fmi2Logging, DebugLoggingSwitchesTheEventCategoryOnAndOff) {
    Instance fmu("logged");
    fmu.start();
    EXPECT_TRUE(fmu.log.records.empty()) << "logging was not asked for";
    ASSERT_EQ(Instance::api().fmi2SetDebugLogging(fmu.c, fmi2True, 0, nullptr), fmi2OK);
    ASSERT_EQ(Instance::api().fmi2Terminate(fmu.c), fmi2OK);
    ASSERT_FALSE(fmu.log.records.empty());
    EXPECT_EQ(fmu.log.records.back().category, "logEvents");
    EXPECT_EQ(fmu.log.records.back().status, fmi2OK);
    const fmi2String events[] = {"logEvents"};
    ASSERT_EQ(Instance::api().fmi2SetDebugLogging(fmu.c, fmi2False, 1, events), fmi2OK);
    const size_t before = fmu.log.records.size();
    ASSERT_EQ(Instance::api().fmi2Reset(fmu.c), fmi2OK);
    EXPECT_EQ(fmu.log.records.size(), before);
}

TEST(Fmi2Logging, EveryDeclaredCategoryIsAcceptedAndAnUnknownOneChangesNothing) {
    Instance fmu("categories");
    std::vector<std::string> declared;
    for (pugi::xml_node c : package().md.root.child("LogCategories").children("Category")) {
        declared.push_back(c.attribute("name").value());
    }
    EXPECT_NE(std::find(declared.begin(), declared.end(), "logAll"), declared.end());
    for (const std::string& name : declared) {
        const fmi2String one[] = {name.c_str()};
        EXPECT_EQ(Instance::api().fmi2SetDebugLogging(fmu.c, fmi2True, 1, one), fmi2OK) << name;
    }
    const fmi2String events[] = {"logEvents"};
    ASSERT_EQ(Instance::api().fmi2SetDebugLogging(fmu.c, fmi2False, 1, events), fmi2OK);
    // An unknown name: an error with the reason, nothing switched (logEvents
    // stays off although the list also names it), and the instance goes on.
    const fmi2String mixed[] = {"logEvents", "logBogus"};
    EXPECT_EQ(Instance::api().fmi2SetDebugLogging(fmu.c, fmi2True, 2, mixed), fmi2Error);
    EXPECT_NE(fmu.log.last().find("unknown log category 'logBogus'"), std::string::npos)
        << fmu.log.last();
    const size_t before = fmu.log.records.size();
    fmu.start();
    EXPECT_EQ(Instance::api().fmi2DoStep(fmu.c, 0.0, 0.01, fmi2True), fmi2OK) << fmu.log.last();
    EXPECT_EQ(fmu.log.records.size(), before) << fmu.log.last();
}

}  // namespace

// The FMI 3.0 FMU as a simulation tool sees it: the package, the model
// description's arrays and rules, the exported functions, and the calling
// sequence compared bit for bit with the instance API.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <set>

#include "fmi3_declarations.h"
#include "fmu_support.h"
#include "record_fields.h"

namespace {

using namespace fmu_test;

const std::string kSo = "binaries/x86_64-linux/GuideW.so";

struct Fmi3 {
    explicit Fmi3(const std::string& so) : lib(so) {}
    Binary lib;
#define FMI3_FN(name) decltype(&::name) name = lib.sym<decltype(&::name)>(#name)
    FMI3_FN(fmi3GetVersion);
    FMI3_FN(fmi3SetDebugLogging);
    FMI3_FN(fmi3InstantiateCoSimulation);
    FMI3_FN(fmi3InstantiateModelExchange);
    FMI3_FN(fmi3FreeInstance);
    FMI3_FN(fmi3EnterInitializationMode);
    FMI3_FN(fmi3ExitInitializationMode);
    FMI3_FN(fmi3EnterEventMode);
    FMI3_FN(fmi3EnterStepMode);
    FMI3_FN(fmi3Terminate);
    FMI3_FN(fmi3Reset);
    FMI3_FN(fmi3GetFloat64);
    FMI3_FN(fmi3SetFloat64);
    FMI3_FN(fmi3GetUInt32);
    FMI3_FN(fmi3SetUInt32);
    FMI3_FN(fmi3GetBoolean);
    FMI3_FN(fmi3GetInt32);
    FMI3_FN(fmi3SetInt32);
    FMI3_FN(fmi3SetBoolean);
    FMI3_FN(fmi3GetFMUState);
    FMI3_FN(fmi3SetFMUState);
    FMI3_FN(fmi3FreeFMUState);
    FMI3_FN(fmi3SerializedFMUStateSize);
    FMI3_FN(fmi3SerializeFMUState);
    FMI3_FN(fmi3DeserializeFMUState);
    FMI3_FN(fmi3DoStep);
#undef FMI3_FN
};

void record_log(fmi3InstanceEnvironment env, fmi3Status status, fmi3String category,
                fmi3String message) {
    static_cast<LogBook*>(env)->records.push_back({status, category, message});
}

struct Package {
    Unpacked files{GUIDEW_FMU3_PATH};
    ModelDescription md{files.path("modelDescription.xml"), nullptr};
    Fmi3 api{files.path(kSo)};
    std::string token = md.root.attribute("instantiationToken").value();
};

Package& package() {
    static Package p;
    return p;
}

fmi3ValueReference vr_of(const std::string& name) { return package().md.value_reference(name); }

Fmi3& api() { return package().api; }

class Instance {
public:
    explicit Instance(const char* name)
        : c(api().fmi3InstantiateCoSimulation(name, package().token.c_str(), nullptr, false, false,
                                              false, false, nullptr, 0, &log, record_log,
                                              nullptr)) {}
    ~Instance() { api().fmi3FreeInstance(c); }
    void start() {
        ASSERT_EQ(api().fmi3EnterInitializationMode(c, false, 0.0, 0.0, false, 0.0), fmi3OK);
        ASSERT_EQ(api().fmi3ExitInitializationMode(c), fmi3OK);
    }
    void set(const std::string& name, const std::vector<double>& v) {
        const fmi3ValueReference r = vr_of(name);
        ASSERT_EQ(api().fmi3SetFloat64(c, &r, 1, v.data(), v.size()), fmi3OK) << log.last();
    }
    std::vector<double> get(const std::string& name, size_t n) {
        const fmi3ValueReference r = vr_of(name);
        std::vector<double> v(n);
        EXPECT_EQ(api().fmi3GetFloat64(c, &r, 1, v.data(), n), fmi3OK) << log.last();
        return v;
    }
    template <size_t N>
    std::vector<double> read(const guidew_fields::Field (&fields)[N]) {
        std::vector<fmi3ValueReference> refs;
        for (const auto& f : fields) refs.push_back(vr_of(f.name));
        std::vector<double> out(N);
        EXPECT_EQ(api().fmi3GetFloat64(c, refs.data(), N, out.data(), N), fmi3OK) << log.last();
        return out;
    }
    void set_inputs(const GuideWInputs& u) {
        std::vector<fmi3ValueReference> refs;
        for (const auto& f : guidew_fields::kInputs) refs.push_back(vr_of(f.name));
        ASSERT_EQ(api().fmi3SetFloat64(c, refs.data(), refs.size(), &u.speed_cmd, refs.size()),
                  fmi3OK);
    }
    fmi3Status step(double t, double h) {
        bool event = true, terminate = true, early = true;
        double last = NAN;
        const fmi3Status s = api().fmi3DoStep(c, t, h, false, &event, &terminate, &early, &last);
        if (s == fmi3OK) {
            EXPECT_FALSE(event || terminate || early);
            EXPECT_NEAR(last, t + h, 1e-9 * (t + h));
        }
        return s;
    }

    LogBook log;
    fmi3Instance c;
};

void fly_and_compare(Instance& fmu, GuideWInstance* ref, int first, int n, double& t) {
    for (int k = first; k < first + n; ++k) {
        const GuideWInputs u = flight_inputs(k);
        const int steps = k % 5 == 0 ? 4 : 1;
        fmu.set_inputs(u);
        ASSERT_EQ(fmu.step(t, host_step(t, steps)), fmi3OK) << fmu.log.last();
        t += host_step(t, steps);
        for (int s = 0; s < steps; ++s) GuideW_instance_one_step(ref, &u.speed_cmd, nullptr);
        const auto y = fmu.read(guidew_fields::kOutputs);
        const auto x = fmu.read(guidew_fields::kStates);
        ASSERT_EQ(std::memcmp(y.data(), GuideW_instance_outputs(ref), sizeof(GuideWOutputs)), 0)
            << k;
        ASSERT_EQ(std::memcmp(x.data(), GuideW_instance_states(ref), sizeof(GuideWStates)), 0) << k;
    }
}

// ---- The package and its model description --------------------------------------

TEST(Fmi3ModelDescription, DeclaresCoSimulationWithTheStandardsCombinations) {
    const pugi::xml_node root = package().md.root;
    EXPECT_STREQ(root.attribute("fmiVersion").value(), "3.0");
    EXPECT_STREQ(root.attribute("variableNamingConvention").value(), "structured");
    const pugi::xml_node cs = root.child("CoSimulation");
    EXPECT_STREQ(cs.attribute("modelIdentifier").value(), "GuideW");
    for (const char* flag : {"canHandleVariableCommunicationStepSize", "canGetAndSetFMUState",
                             "canSerializeFMUState"}) {
        EXPECT_TRUE(cs.attribute(flag).as_bool()) << flag;
    }
    EXPECT_FALSE(cs.attribute("canBeInstantiatedOnlyOncePerProcess").as_bool(true));
    EXPECT_EQ(root.child("DefaultExperiment").attribute("stepSize").as_double(), 0.01);
    EXPECT_GT(root.child("DefaultExperiment").attribute("stopTime").as_double(), 1.0);
    EXPECT_STREQ(api().fmi3GetVersion(), "3.0");

    std::set<std::string> units;
    for (pugi::xml_node u : root.child("UnitDefinitions").children("Unit")) {
        units.insert(u.attribute("name").value());
    }
    std::set<unsigned> refs;
    int independents = 0;
    for (pugi::xml_node v : package().md.ordered) {
        const std::string causality = v.attribute("causality").as_string("local");
        const std::string variability = v.attribute("variability").as_string("continuous");
        const std::string initial = v.attribute("initial").value();
        SCOPED_TRACE(v.attribute("name").value());
        EXPECT_TRUE(refs.insert(v.attribute("valueReference").as_uint()).second);
        independents += causality == "independent";
        if (causality == "parameter") {
            EXPECT_EQ(variability, "tunable");
            EXPECT_TRUE(initial.empty() || initial == "exact");
        }
        if (causality == "independent" || causality == "input") EXPECT_TRUE(initial.empty());
        if (variability == "continuous") EXPECT_STREQ(v.name(), "Float64");
        if (causality == "input" || causality == "output") EXPECT_EQ(variability, "discrete");
        const bool start_required = causality == "input" || causality == "parameter" ||
                                    initial == "exact" || initial == "approx";
        EXPECT_EQ(!v.attribute("start").empty(), start_required);
        if (!v.attribute("unit").empty()) EXPECT_EQ(units.count(v.attribute("unit").value()), 1u);
        // An array's start lists every element.
        size_t elements = 1;
        for (pugi::xml_node d : v.children("Dimension")) elements *= d.attribute("start").as_uint();
        if (start_required) {
            EXPECT_EQ(parse_doubles(v.attribute("start").value()).size(), elements);
        }
    }
    EXPECT_EQ(independents, 1);
    // Every output is listed; those whose initial value the FMU calculates
    // are initial unknowns too.
    const auto listed = [&](const char* element) {
        std::vector<unsigned> refs;
        for (pugi::xml_node o : root.child("ModelStructure").children(element)) {
            refs.push_back(o.attribute("valueReference").as_uint());
        }
        return refs;
    };
    std::vector<unsigned> outputs, calculated;
    for (const auto& f : guidew_fields::kOutputs) {
        outputs.push_back(vr_of(f.name));
        if (std::string(package().md.var[f.name].attribute("initial").as_string("calculated")) !=
            "exact") {
            calculated.push_back(vr_of(f.name));
        }
    }
    EXPECT_EQ(listed("Output"), outputs);
    EXPECT_EQ(listed("InitialUnknown"), calculated);
    expect_flight_within_declared_ranges(package().md, [](pugi::xml_node v) { return v; });
}

TEST(Fmi3ModelDescription, TheTrimTableIsSpeedsByAltitudesInTheRecordsOrder) {
    GuideWParams d;
    GuideW_default_params(&d);
    const pugi::xml_node table = package().md.var["thr_table"];
    std::vector<unsigned> dims;
    for (pugi::xml_node n : table.children("Dimension"))
        dims.push_back(n.attribute("start").as_uint());
    EXPECT_EQ(dims, (std::vector<unsigned>{12, 11}));
    const auto start = parse_doubles(table.attribute("start").value());
    ASSERT_EQ(start.size(), 132u);
    // Row-major: element [s][a] is at s * 11 + a, the record's a + 11 s.
    for (size_t s = 0; s < 12; ++s) {
        for (size_t a = 0; a < 11; ++a)
            EXPECT_TRUE(same_bits(start[s * 11 + a], d.thr_table[a + 11 * s]));
    }
    const pugi::xml_node index = package().md.var["thr_max_index"];
    EXPECT_STREQ(index.name(), "UInt32");
    EXPECT_STREQ(index.attribute("start").value(), "10 11");
    EXPECT_EQ(parse_doubles(package().md.var["thr_spd_bp"].attribute("start").value()).size(), 12u);
    for (const auto& f : guidew_fields::kStates) {
        EXPECT_STREQ(package().md.var[f.name].attribute("causality").value(), "local") << f.name;
    }
}

TEST(Fmi3Binary, ExportsExactlyTheStandardsFunctionsAndNeedsOnlyTheGlibcTheReadmeStates) {
    // clang-format off
    std::set<std::string> expected = {
        "fmi3GetVersion", "fmi3SetDebugLogging", "fmi3InstantiateModelExchange",
        "fmi3InstantiateCoSimulation", "fmi3InstantiateScheduledExecution", "fmi3FreeInstance",
        "fmi3EnterInitializationMode", "fmi3ExitInitializationMode", "fmi3EnterEventMode",
        "fmi3Terminate", "fmi3Reset", "fmi3GetBinary", "fmi3SetBinary", "fmi3GetClock",
        "fmi3SetClock", "fmi3GetNumberOfVariableDependencies", "fmi3GetVariableDependencies",
        "fmi3GetFMUState", "fmi3SetFMUState", "fmi3FreeFMUState", "fmi3SerializedFMUStateSize",
        "fmi3SerializeFMUState", "fmi3DeserializeFMUState", "fmi3GetDirectionalDerivative",
        "fmi3GetAdjointDerivative", "fmi3EnterConfigurationMode", "fmi3ExitConfigurationMode",
        "fmi3GetIntervalDecimal", "fmi3GetIntervalFraction", "fmi3GetShiftDecimal",
        "fmi3GetShiftFraction", "fmi3SetIntervalDecimal", "fmi3SetIntervalFraction",
        "fmi3SetShiftDecimal", "fmi3SetShiftFraction", "fmi3EvaluateDiscreteStates",
        "fmi3UpdateDiscreteStates", "fmi3EnterContinuousTimeMode", "fmi3CompletedIntegratorStep",
        "fmi3SetTime", "fmi3SetContinuousStates", "fmi3GetContinuousStateDerivatives",
        "fmi3GetEventIndicators", "fmi3GetContinuousStates", "fmi3GetNominalsOfContinuousStates",
        "fmi3GetNumberOfEventIndicators", "fmi3GetNumberOfContinuousStates", "fmi3EnterStepMode",
        "fmi3GetOutputDerivatives", "fmi3DoStep", "fmi3ActivateModelPartition"};
    // clang-format on
    for (const char* t : {"Float32", "Float64", "Int8", "UInt8", "Int16", "UInt16", "Int32",
                          "UInt32", "Int64", "UInt64", "Boolean", "String"}) {
        expected.insert(std::string("fmi3Get") + t);
        expected.insert(std::string("fmi3Set") + t);
    }
    const auto exported = exported_symbols(package().files.path(kSo));
    EXPECT_EQ(std::set<std::string>(exported.begin(), exported.end()), expected);
#ifndef GUIDE_SANITIZE
    expect_only_glibc(package().files.path(kSo), GUIDEW_README_PATH);
#endif
}

// ---- The life cycle -----------------------------------------------------------------

TEST(Fmi3LifeCycle, TwoInstancesOneTunedWithWholeArraysMatchBitForBit) {
    Instance plain("plain"), tuned("tuned");
    ASSERT_NE(plain.c, nullptr);
    ASSERT_NE(tuned.c, nullptr);
    GuideWInstance* ref_plain = GuideW_instance_create();
    GuideWInstance* ref_tuned = GuideW_instance_create();
    // A whole table written at once, scaled by 1.1, and the altitude range
    // cut to 8 breakpoints.
    GuideWParams* p = GuideW_instance_params(ref_tuned);
    std::vector<double> table(132);
    for (size_t s = 0; s < 12; ++s) {
        for (size_t a = 0; a < 11; ++a) {
            p->thr_table[a + 11 * s] *= 1.1;
            table[s * 11 + a] = p->thr_table[a + 11 * s];
        }
    }
    tuned.set("thr_table", table);
    p->thr_max_index[0] = 7;
    const fmi3ValueReference index_vr = vr_of("thr_max_index");
    const fmi3UInt32 index[2] = {7, 11};
    ASSERT_EQ(api().fmi3SetUInt32(tuned.c, &index_vr, 1, index, 2), fmi3OK);
    p->roll_kp *= 0.8;
    tuned.set("roll_kp", {p->roll_kp});
    plain.start();
    tuned.start();
    double t_plain = 0.0, t_tuned = 0.0;
    for (int leg = 0; leg < 5; ++leg) {
        fly_and_compare(plain, ref_plain, leg * 600, 600, t_plain);
        fly_and_compare(tuned, ref_tuned, leg * 600, 600, t_tuned);
    }
    fmi3UInt32 back[2] = {};
    ASSERT_EQ(api().fmi3GetUInt32(tuned.c, &index_vr, 1, back, 2), fmi3OK);
    EXPECT_EQ(back[0], 7u);
    bool overrun = true;
    const fmi3ValueReference overrun_vr = vr_of("overrun");
    ASSERT_EQ(api().fmi3GetBoolean(tuned.c, &overrun_vr, 1, &overrun, 1), fmi3OK);
    EXPECT_FALSE(overrun);
    EXPECT_EQ(api().fmi3Terminate(plain.c), fmi3OK);
    GuideW_instance_destroy(ref_plain);
    GuideW_instance_destroy(ref_tuned);
}

TEST(Fmi3LifeCycle, StatesRoundTripThroughBytesAndResetRestarts) {
    Instance fmu("saved"), branch("branch");
    fmu.start();
    GuideWInstance* ref = GuideW_instance_create();
    double t = 0.0;
    fly_and_compare(fmu, ref, 0, 500, t);
    fmi3FMUState saved = nullptr;
    ASSERT_EQ(api().fmi3GetFMUState(fmu.c, &saved), fmi3OK);
    size_t size = 0;
    ASSERT_EQ(api().fmi3SerializedFMUStateSize(fmu.c, saved, &size), fmi3OK);
    std::vector<fmi3Byte> bytes(size);
    ASSERT_EQ(api().fmi3SerializeFMUState(fmu.c, saved, bytes.data(), size), fmi3OK);
    fmi3FMUState copied = nullptr;
    ASSERT_EQ(api().fmi3DeserializeFMUState(branch.c, bytes.data(), size, &copied), fmi3OK);
    ASSERT_EQ(api().fmi3SetFMUState(branch.c, copied), fmi3OK);
    // The original goes on against the reference; the branch, restored from
    // bytes, and then the original rewound must follow it exactly.
    GuideWInstance* ref_branch = GuideW_instance_create();
    GuideWInstance* ref_rewound = GuideW_instance_create();
    for (GuideWInstance* copy : {ref_branch, ref_rewound}) {
        *GuideW_instance_states(copy) = *GuideW_instance_states(ref);
        *GuideW_instance_outputs(copy) = *GuideW_instance_outputs(ref);
    }
    const double t_saved = t;
    fly_and_compare(fmu, ref, 500, 300, t);
    double tb = t_saved;
    fly_and_compare(branch, ref_branch, 500, 300, tb);
    ASSERT_EQ(api().fmi3SetFMUState(fmu.c, saved), fmi3OK);
    double tr = fmu.get("time", 1)[0];
    EXPECT_NEAR(tr, t_saved, 1e-9 * t_saved);
    fly_and_compare(fmu, ref_rewound, 500, 300, tr);
    ASSERT_EQ(api().fmi3FreeFMUState(fmu.c, &saved), fmi3OK);
    ASSERT_EQ(api().fmi3FreeFMUState(branch.c, &copied), fmi3OK);
    EXPECT_EQ(copied, nullptr);

    ASSERT_EQ(api().fmi3Reset(fmu.c), fmi3OK);
    fmu.start();
    EXPECT_EQ(fmu.get("time", 1)[0], 0.0);
    GuideWInstance* fresh = GuideW_instance_create();
    t = 0.0;
    fly_and_compare(fmu, fresh, 0, 300, t);
    for (GuideWInstance* m : {ref, ref_branch, ref_rewound, fresh}) GuideW_instance_destroy(m);
}

// ---- As the common importers drive it -----------------------------------------------
// A user's start values are written right after instantiation, inputs
// included, and read back before initialisation; the inputs then hold
// those values until the tool sets others.

struct StartValues {
    const char* situation;
    std::vector<std::pair<std::string, std::vector<double>>> values;
    double start_s = 0.0;  // a late clock: steps a few spacings off
};

std::vector<double> altitude_breakpoints_stretched() {
    std::vector<double> bp(11);
    for (size_t i = 0; i < bp.size(); ++i) bp[i] = 2500.0 * static_cast<double>(i);
    return bp;
}

const StartValues kStartValueRows[] = {
    {"a speed command given a start value, all else at the defaults", {{"speed_cmd", {220.0}}}},
    {"level flight northbound told to turn to 30 deg, roll law retuned",
     {{"speed_cmd", {220.0}},
      {"azim_cmd", {30.0}},
      {"mode", {1.0}},
      {"tas", {200.0}},
      {"vel_north", {200.0}},
      {"altitude", {3000.0}},
      {"roll_kp", {3.0}},
      {"lat_max", {40.0}}}},
    {"slow and high with the altitude breakpoints stretched, as a whole array",
     {{"speed_cmd", {160.0}},
      {"tas", {150.0}},
      {"altitude", {9000.0}},
      {"thr_alt_bp", altitude_breakpoints_stretched()}}},
    {"from a clock two days on (2e5 s)", {{"speed_cmd", {220.0}}}, 2e5},
    {"from an epoch time (1.7e9 s)", {{"tas", {200.0}}}, 1.7e9},
};

TEST(Fmi3Importer, StartValuesSetAndReadInInstantiatedThenFlownBitForBit) {
    for (const StartValues& row : kStartValueRows) {
        SCOPED_TRACE(row.situation);
        Instance fmu("importer");
        GuideWInstance* ref = GuideW_instance_create();
        for (const auto& [name, v] : row.values) {
            fmu.set(name, v);
            std::copy(v.begin(), v.end(), record_slot(ref, name));
        }
        // Read back before initialisation: what was set, the untouched
        // start values, the start time and the not yet computed outputs.
        for (const auto& [name, v] : row.values) {
            const auto back = fmu.get(name, v.size());
            for (size_t i = 0; i < v.size(); ++i) EXPECT_TRUE(same_bits(back[i], v[i])) << name;
        }
        const auto table = fmu.get("thr_table", 132);
        const auto start = parse_doubles(package().md.var["thr_table"].attribute("start").value());
        EXPECT_EQ(std::memcmp(table.data(), start.data(), 132 * sizeof(double)), 0);
        EXPECT_EQ(fmu.get("time", 1)[0], 0.0);
        EXPECT_EQ(fmu.get("throttle_cmd", 1)[0], 0.0);
        ASSERT_EQ(api().fmi3EnterInitializationMode(fmu.c, false, 0.0, row.start_s, false, 0.0),
                  fmi3OK)
            << fmu.log.last();
        ASSERT_EQ(api().fmi3ExitInitializationMode(fmu.c), fmi3OK);
        // Two seconds on the start values alone, at points start + k 0.01, then
        // the varied flight (points summed).
        const auto at = [&](int k) { return row.start_s + k * 0.01; };
        for (int k = 0; k < 200; ++k) {
            ASSERT_EQ(fmu.step(at(k), at(k + 1) - at(k)), fmi3OK) << fmu.log.last();
            GuideW_instance_step(ref);
            const auto y = fmu.read(guidew_fields::kOutputs);
            ASSERT_EQ(std::memcmp(y.data(), GuideW_instance_outputs(ref), sizeof(GuideWOutputs)), 0)
                << k;
        }
        double t = at(200);
        fly_and_compare(fmu, ref, 0, 300, t);
        EXPECT_TRUE(fmu.log.records.empty()) << fmu.log.last();
        GuideW_instance_destroy(ref);
    }
}

TEST(Fmi3Logging, EveryDeclaredCategoryIsAcceptedAndAnUnknownOneChangesNothing) {
    Instance fmu("categories");
    std::vector<std::string> declared;
    for (pugi::xml_node c : package().md.root.child("LogCategories").children("Category")) {
        declared.push_back(c.attribute("name").value());
    }
    EXPECT_NE(std::find(declared.begin(), declared.end(), "logAll"), declared.end());
    for (const std::string& name : declared) {
        const fmi3String one[] = {name.c_str()};
        EXPECT_EQ(api().fmi3SetDebugLogging(fmu.c, true, 1, one), fmi3OK) << name;
    }
    const fmi3String events[] = {"logEvents"};
    ASSERT_EQ(api().fmi3SetDebugLogging(fmu.c, false, 1, events), fmi3OK);
    // An unknown name, alone or beside a known one: an error with the
    // reason, nothing switched, and the instance goes on where it was.
    const fmi3String mixed[] = {"logEvents", "logBogus"};
    EXPECT_EQ(api().fmi3SetDebugLogging(fmu.c, true, 2, mixed), fmi3Error);
    EXPECT_NE(fmu.log.last().find("unknown log category 'logBogus'"), std::string::npos)
        << fmu.log.last();
    const size_t before = fmu.log.records.size();
    fmu.start();
    EXPECT_EQ(fmu.step(0.0, 0.01), fmi3OK) << fmu.log.last();
    EXPECT_EQ(fmu.log.records.size(), before) << fmu.log.last();
}

// ---- Misuse --------------------------------------------------------------------------

struct Misuse {
    const char* situation;
    bool started;
    std::function<fmi3Status(fmi3Instance)> call;
    const char* reason;
};

fmi3Status step(fmi3Instance c, double t, double h) {
    bool event, terminate, early;
    double last;
    return api().fmi3DoStep(c, t, h, false, &event, &terminate, &early, &last);
}

TEST(Fmi3Misuse, EveryMisuseIsAnErrorWithAReason) {
    const Misuse rows[] = {
        {"nValues not matching the arrays", true,
         [](fmi3Instance c) {
             const fmi3ValueReference r = vr_of("thr_alt_bp");
             double v[10];
             return api().fmi3GetFloat64(c, &r, 1, v, 10);
         },
         "hold 11 values but nValues is 10"},
        {"a Float64 written as UInt32", true,
         [](fmi3Instance c) {
             const fmi3ValueReference r = vr_of("thr_gain");
             const fmi3UInt32 v = 1;
             return api().fmi3SetUInt32(c, &r, 1, &v, 1);
         },
         "is a Float64 variable"},
        {"an Int32 that does not exist", true,
         [](fmi3Instance c) {
             const fmi3ValueReference r = 100;
             fmi3Int32 v;
             return api().fmi3GetInt32(c, &r, 1, &v, 1);
         },
         "no Int32 variable"},
        {"writing an output", true,
         [](fmi3Instance c) {
             const fmi3ValueReference r = vr_of("throttle_cmd");
             const double v = 1.0;
             return api().fmi3SetFloat64(c, &r, 1, &v, 1);
         },
         "is an output"},
        {"writing overrun", true,
         [](fmi3Instance c) {
             const fmi3ValueReference r = vr_of("overrun");
             const bool v = true;
             return api().fmi3SetBoolean(c, &r, 1, &v, 1);
         },
         "local variable"},
        {"writing an output before initialisation", false,
         [](fmi3Instance c) {
             const fmi3ValueReference r = vr_of("nz_cmd");
             const double v = 1.0;
             return api().fmi3SetFloat64(c, &r, 1, &v, 1);
         },
         "is an output"},
        {"step of a third of a law step", true,
         [](fmi3Instance c) { return step(c, 0.0, 0.01 / 3); }, "whole multiple"},
        {"step from another time", true, [](fmi3Instance c) { return step(c, 1.0, 0.01); },
         "not the FMU's time"},
        {"null output arguments of a step", true,
         [](fmi3Instance c) {
             return api().fmi3DoStep(c, 0, 0.01, false, nullptr, nullptr, nullptr, nullptr);
         },
         "is null"},
        {"stepping before initialisation", false, [](fmi3Instance c) { return step(c, 0.0, 0.01); },
         "not allowed in Instantiated"},
        {"event mode", true, [](fmi3Instance c) { return api().fmi3EnterEventMode(c); },
         "no event mode"},
        {"entering step mode", true, [](fmi3Instance c) { return api().fmi3EnterStepMode(c); },
         "Event Mode"},
        {"restoring a freed state", true,
         [](fmi3Instance c) {
             fmi3FMUState s = nullptr;
             api().fmi3GetFMUState(c, &s);
             fmi3FMUState dangling = s;
             api().fmi3FreeFMUState(c, &s);
             return api().fmi3SetFMUState(c, dangling);
         },
         "not a state of this instance"},
    };
    for (const Misuse& m : rows) {
        SCOPED_TRACE(m.situation);
        Instance fmu("misused");
        if (m.started) fmu.start();
        EXPECT_EQ(m.call(fmu.c), fmi3Error);
        ASSERT_FALSE(fmu.log.records.empty());
        EXPECT_EQ(fmu.log.records.back().category, "logStatusError");
        EXPECT_NE(fmu.log.last().find(m.reason), std::string::npos) << fmu.log.last();
        EXPECT_EQ(api().fmi3Reset(fmu.c), fmi3OK);
    }
}

// The states of the standard's Co-Simulation machine (without event mode)
// and the instance's names for them.
enum class Start { instantiated, initialization, stepping, terminated, error };
const std::pair<Start, const char*> kStates[] = {
    {Start::instantiated, "Instantiated"},
    {Start::initialization, "Initialization Mode"},
    {Start::stepping, "Step Mode (step complete)"},
    {Start::terminated, "Terminated"},
    {Start::error, "the error state"},
};

// Brings a fresh instance to a state by the standard's calling sequence
// (the error state: by a step from a time that is not the FMU's).
void bring_to(Instance& fmu, Start s) {
    if (s == Start::instantiated) return;
    ASSERT_EQ(api().fmi3EnterInitializationMode(fmu.c, false, 0.0, 0.0, false, 0.0), fmi3OK);
    if (s == Start::initialization) return;
    ASSERT_EQ(api().fmi3ExitInitializationMode(fmu.c), fmi3OK);
    if (s == Start::terminated) ASSERT_EQ(api().fmi3Terminate(fmu.c), fmi3OK);
    if (s == Start::error) ASSERT_EQ(step(fmu.c, 1.0, 0.01), fmi3Error);
}

// The standard's state machine, call by call: each call is answered in the
// states listed and refused in every other with an error naming the state.
TEST(Fmi3CallRules, EachCallIsAcceptedInItsStatesAndRefusedNamingTheStateElsewhere) {
    const std::set<Start> every = {Start::instantiated, Start::initialization, Start::stepping,
                                   Start::terminated, Start::error};
    const std::set<Start> writable = {Start::instantiated, Start::initialization, Start::stepping};
    const fmi3ValueReference index = vr_of("thr_max_index");
    struct Rule {
        const char* call;
        std::set<Start> accepted;
        std::function<fmi3Status(fmi3Instance)> make;
    };
    const Rule rules[] = {
        {"fmi3EnterInitializationMode",
         {Start::instantiated},
         [](fmi3Instance c) {
             return api().fmi3EnterInitializationMode(c, false, 0.0, 0.0, false, 0.0);
         }},
        {"fmi3ExitInitializationMode",
         {Start::initialization},
         [](fmi3Instance c) { return api().fmi3ExitInitializationMode(c); }},
        {"fmi3Terminate", {Start::stepping}, [](fmi3Instance c) { return api().fmi3Terminate(c); }},
        {"fmi3DoStep", {Start::stepping}, [](fmi3Instance c) { return step(c, 0.0, 0.01); }},
        {"fmi3SetFloat64 of an input", writable,
         [](fmi3Instance c) {
             const fmi3ValueReference r = vr_of("tas");
             const double v = 180.0;
             return api().fmi3SetFloat64(c, &r, 1, &v, 1);
         }},
        {"fmi3SetUInt32 of the table indices", writable,
         [&](fmi3Instance c) {
             const fmi3UInt32 v[2] = {3, 4};
             return api().fmi3SetUInt32(c, &index, 1, v, 2);
         }},
        // Writing nothing is still writing: not after termination either.
        {"fmi3SetInt32 of nothing", writable,
         [](fmi3Instance c) { return api().fmi3SetInt32(c, nullptr, 0, nullptr, 0); }},
        {"fmi3SetBoolean of nothing", writable,
         [](fmi3Instance c) { return api().fmi3SetBoolean(c, nullptr, 0, nullptr, 0); }},
        {"fmi3GetFloat64 of the time", every,
         [](fmi3Instance c) {
             const fmi3ValueReference r = vr_of("time");
             double v;
             return api().fmi3GetFloat64(c, &r, 1, &v, 1);
         }},
        {"fmi3GetUInt32 of the table indices", every,
         [&](fmi3Instance c) {
             fmi3UInt32 v[2];
             return api().fmi3GetUInt32(c, &index, 1, v, 2);
         }},
        {"fmi3GetBoolean of overrun", every,
         [](fmi3Instance c) {
             const fmi3ValueReference r = vr_of("overrun");
             bool v;
             return api().fmi3GetBoolean(c, &r, 1, &v, 1);
         }},
        {"fmi3GetInt32 of nothing", every,
         [](fmi3Instance c) { return api().fmi3GetInt32(c, nullptr, 0, nullptr, 0); }},
        {"fmi3GetFMUState", every,
         [](fmi3Instance c) {
             fmi3FMUState s = nullptr;
             return api().fmi3GetFMUState(c, &s);
         }},
        {"fmi3SetDebugLogging", every,
         [](fmi3Instance c) { return api().fmi3SetDebugLogging(c, false, 0, nullptr); }},
        {"fmi3Reset", every, [](fmi3Instance c) { return api().fmi3Reset(c); }},
    };
    for (const Rule& rule : rules) {
        for (const auto& [from, name] : kStates) {
            SCOPED_TRACE(std::string(rule.call) + " in " + name);
            Instance fmu("ruled");
            bring_to(fmu, from);
            fmu.log.records.clear();
            if (rule.accepted.count(from) != 0) {
                EXPECT_EQ(rule.make(fmu.c), fmi3OK) << fmu.log.last();
                continue;
            }
            EXPECT_EQ(rule.make(fmu.c), fmi3Error);
            EXPECT_NE(fmu.log.last().find(std::string("not allowed in ") + name), std::string::npos)
                << fmu.log.last();
            EXPECT_EQ(step(fmu.c, 0.0, 0.01), fmi3Error) << "not in the error state";
        }
    }
}

TEST(Fmi3Misuse, InstantiationRefusesWhatThisFmuCannotDo) {
    LogBook log;
    const std::string token = package().token;
    const fmi3ValueReference wanted = 200;
    EXPECT_EQ(api().fmi3InstantiateCoSimulation("a", "{wrong}", nullptr, false, false, false, false,
                                                nullptr, 0, &log, record_log, nullptr),
              nullptr);
    EXPECT_TRUE(log.any_containing("instantiationToken"));
    EXPECT_EQ(api().fmi3InstantiateCoSimulation("a", token.c_str(), nullptr, false, false, true,
                                                false, nullptr, 0, &log, record_log, nullptr),
              nullptr);
    EXPECT_TRUE(log.any_containing("event mode"));
    EXPECT_EQ(api().fmi3InstantiateCoSimulation("a", token.c_str(), nullptr, false, false, false,
                                                true, &wanted, 1, &log, record_log, nullptr),
              nullptr);
    EXPECT_TRUE(log.any_containing("intermediate"));
    EXPECT_EQ(api().fmi3InstantiateModelExchange("a", token.c_str(), nullptr, false, false, &log,
                                                 record_log),
              nullptr);
    EXPECT_TRUE(log.any_containing("Co-Simulation only"));
    EXPECT_EQ(api().fmi3Reset(nullptr), fmi3Error);
}

}  // namespace

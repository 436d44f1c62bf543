// The readers a scenario file's parts share (scenario.cpp, and the
// engagement's part in engagement_scenario.cpp): each refuses what it cannot
// take with a ToolError (status 1) naming the key's path and what is wrong.
#ifndef SIM_SCENARIO_JSON_H
#define SIM_SCENARIO_JSON_H

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "GuideW.h"
#include "commands.h"
#include "flight_state.h"

struct Scenario;
struct Expectations;

namespace scenario_json {

using nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& what);
void only_keys(const json& obj, const std::string& where,
               std::initializer_list<const char*> allowed);
double number(const json& obj, const char* key, const std::string& where);
void read_number(const json& obj, const char* key, const std::string& where, double& out);
void read_optional(const json& obj, const char* key, const std::string& where,
                   std::optional<double>& out);
// A number within [lo, hi], or the key is refused naming the range.
void check_range(double value, double lo, double hi, const std::string& where);
// out from obj's key when given, then held to [lo, hi] as check_range does.
void read_bounded(const json& obj, const char* key, const std::string& where, double& out,
                  double lo, double hi);
// One of the words, or the key is refused naming them; returns its index.
size_t one_of(const json& obj, const char* key, const std::string& where,
              std::initializer_list<const char*> words);

// The command inputs at the start ("inputs" of obj over the defaults
// from init: its speed, its heading, mode 1), the events, the parameters.
GuideWInputs read_commands(const json& obj, const std::string& where, const InitialFlight& init);
std::vector<TimedChange> read_events(const json& events, const std::string& where,
                                     double duration_s);
std::vector<std::pair<std::string, double>> read_params(const json& params,
                                                        const std::string& where);

// An engagement's parts (engagement_scenario.cpp): "target" and "pursuit"
// of a scenario into sc (a recorded track's file looked for from folder),
// and the engagement's keys of its "expect".
void read_engagement(const json& obj, const std::string& where, const std::string& folder,
                     Scenario& sc);
void read_engagement_expect(const json& obj, const std::string& where, Expectations& e);

}  // namespace scenario_json

#endif

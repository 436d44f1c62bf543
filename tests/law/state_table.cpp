// The law's state table (the comment of src/law/state_machine.h) is laid
// out by hand and read by whoever changes a latch: every state of the
// records has its row there, and the table names no state the records lack.
// A row begins with the state's name in the first column.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "record_fields.h"

TEST(StateTable, EveryStateOfTheRecordsHasItsRow) {
    std::ifstream in(GUIDE_STATE_MACHINE_HEADER);
    ASSERT_TRUE(in) << GUIDE_STATE_MACHINE_HEADER;
    std::stringstream text;
    text << in.rdbuf();
    const std::string header = text.str();
    // The table runs from its ruled line to the first empty comment line.
    const size_t ruled = header.find("// ----------------");
    ASSERT_NE(ruled, std::string::npos) << "the table's ruled line is gone";
    const size_t end = header.find("\n//\n", ruled);
    ASSERT_NE(end, std::string::npos);
    std::istringstream table(header.substr(ruled, end - ruled));
    std::set<std::string> rows;
    const std::regex row(R"(^// ([a-z_]+)\s{2,}\S.*)");
    std::smatch m;
    for (std::string line; std::getline(table, line);) {
        if (std::regex_match(line, m, row)) rows.insert(m[1]);
    }
    std::set<std::string> states;
    for (const guidew_fields::Field& f : guidew_fields::kStates) states.insert(f.name);
    for (const std::string& s : states) EXPECT_EQ(rows.count(s), 1u) << s << " has no row";
    for (const std::string& r : rows) EXPECT_EQ(states.count(r), 1u) << r << " is no state";
}

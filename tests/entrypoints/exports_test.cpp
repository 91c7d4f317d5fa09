// The library's C surface: exactly the 70 entry points, nothing else of ours.
#include "ep_fixture.h"

#include <cstdio>
#include <set>
#include <sstream>

namespace {

std::set<std::string> entryPointNames() {
    std::set<std::string> names;
#define EP_TEST_NAME_(ret, name, params) names.insert("rendo_fi_pgn_" #name);
    RENDO_FI_PGN_ENTRY_POINTS(EP_TEST_NAME_)
#undef EP_TEST_NAME_
    return names;
}

// Names of the dynamic symbols a library defines, as "nm -D --defined-only" lists them.
std::set<std::string> definedDynamicSymbols(const std::string &library, bool &ok) {
    std::set<std::string> names;
    std::string command = std::string(RENDO_NM) + " -D --defined-only '" + library + "'";
    FILE *pipe = popen(command.c_str(), "r");
    ok = pipe != nullptr;
    if (pipe == nullptr) return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (!(fields >> address >> type >> name)) continue;
        names.insert(name.substr(0, name.find('@')));
    }
    ok = pclose(pipe) == 0;
    return names;
}

TEST(EntryPointExports, LibrariesExportExactlyTheSeventyEntryPoints) {
    std::set<std::string> expected = entryPointNames();
    EXPECT_EQ(70u, expected.size());
    bool ok = false;
    EXPECT_EQ(expected, definedDynamicSymbols(RENDO_LIBRARY, ok));
    EXPECT_TRUE(ok) << "nm failed on " << RENDO_LIBRARY;
    // The test library adds only its control.
    expected.insert("rendo_testpgn_control");
    EXPECT_EQ(expected, definedDynamicSymbols(RENDO_TESTPGN_LIBRARY, ok));
    EXPECT_TRUE(ok);
}

} // namespace

// The library's C surface: exactly the 70 entry points, nothing else of ours,
// and nothing of the framework beyond its utility library's eight functions
// (a provider that imports any other fails to load under the real framework).
#include "ep_fixture.h"

#include <cstdio>
#include <set>
#include <sstream>

namespace {

// Names of a library's dynamic symbols as "nm -D <which>" lists them (the
// name is the last field), those starting with prefix only.
std::set<std::string> dynamicSymbols(const std::string &library, const char *which, const std::string &prefix) {
    std::set<std::string> names;
    FILE *pipe = popen((std::string(RENDO_NM) + " -D " + which + " '" + library + "'").c_str(), "r");
    if (pipe == nullptr) return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string field, name;
        while (fields >> field) name = field;
        if (!name.empty() && name.compare(0, prefix.size(), prefix) == 0) names.insert(name.substr(0, name.find('@')));
    }
    EXPECT_EQ(0, pclose(pipe)) << "nm failed on " << library;
    return names;
}

TEST(EntryPointExports, ExactlyTheSeventyEntryPointsAndTheUtilityLibrarysEightFunctions) {
    std::set<std::string> entryPoints;
#define EP_TEST_NAME_(ret, name, params) entryPoints.insert("rendo_fi_pgn_" #name);
    RENDO_FI_PGN_ENTRY_POINTS(EP_TEST_NAME_)
#undef EP_TEST_NAME_
    EXPECT_EQ(70u, entryPoints.size());
    EXPECT_EQ(entryPoints, dynamicSymbols(RENDO_LIBRARY, "--defined-only", ""));
    entryPoints.insert("rendo_testpgn_control"); // the test library adds only its control
    EXPECT_EQ(entryPoints, dynamicSymbols(RENDO_TESTPGN_LIBRARY, "--defined-only", ""));

    const std::set<std::string> contract = {"kelm_alloc_buf",         "kelm_free_buf",
                                            "kelm_get_objid",         "kelm_build_nodelist_node",
                                            "kelm_build_providerlist_node", "kelm_get_install_root",
                                            "kelm_get_consumer_name", "kelm_get_credential_blob"};
    std::set<std::string> imported = dynamicSymbols(RENDO_LIBRARY, "--undefined-only", "kelm_");
    EXPECT_FALSE(imported.empty()); // the listing did see the provider's imports
    for (const std::string &name : imported)
        EXPECT_EQ(1u, contract.count(name)) << name << " is not one of the utility library's functions";
    // The stand-in offers exactly the contract, so loading proves it too.
    EXPECT_EQ(contract, dynamicSymbols(RENDO_KELM_LIBRARY, "--defined-only", "kelm_"));
}

} // namespace

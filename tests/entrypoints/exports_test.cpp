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

// Names of a library's dynamic symbols as "nm -D <which>" lists them: the
// name is the last field (undefined symbols have no address).
std::set<std::string> dynamicSymbols(const std::string &library, const char *which, bool &ok) {
    std::set<std::string> names;
    std::string command = std::string(RENDO_NM) + " -D " + which + " '" + library + "'";
    FILE *pipe = popen(command.c_str(), "r");
    ok = pipe != nullptr;
    if (pipe == nullptr) return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string field, name;
        while (fields >> field) name = field;
        if (!name.empty()) names.insert(name.substr(0, name.find('@')));
    }
    ok = pclose(pipe) == 0;
    return names;
}

std::set<std::string> definedDynamicSymbols(const std::string &library, bool &ok) {
    return dynamicSymbols(library, "--defined-only", ok);
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

// The framework's utility library offers eight functions; a provider that
// imports any other fails to load under the real framework.
TEST(EntryPointExports, ProviderImportsOnlyTheUtilityLibrarysEightFunctions) {
    const std::set<std::string> contract = {"kelm_alloc_buf",         "kelm_free_buf",
                                            "kelm_get_objid",         "kelm_build_nodelist_node",
                                            "kelm_build_providerlist_node", "kelm_get_install_root",
                                            "kelm_get_consumer_name", "kelm_get_credential_blob"};
    bool ok = false;
    std::set<std::string> imported = dynamicSymbols(RENDO_LIBRARY, "--undefined-only", ok);
    ASSERT_TRUE(ok) << "nm failed on " << RENDO_LIBRARY;
    size_t fromFramework = 0;
    for (const std::string &name : imported) {
        if (name.compare(0, 5, "kelm_") != 0) continue;
        ++fromFramework;
        EXPECT_EQ(1u, contract.count(name)) << name << " is not one of the utility library's functions";
    }
    EXPECT_GT(fromFramework, 0u); // the listing did see the provider's imports
    // The stand-in offers exactly the contract, so loading proves it too.
    std::set<std::string> offered;
    for (const std::string &name : definedDynamicSymbols(RENDO_KELM_LIBRARY, ok))
        if (name.compare(0, 5, "kelm_") == 0) offered.insert(name);
    EXPECT_EQ(contract, offered);
}

} // namespace

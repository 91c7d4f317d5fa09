// The frame around each entry point: argument guards, delayed initialisation
// per entry point, the single-node convention, objctl and interpose.
#include "ep_fixture.h"

#include "kelm/kelm_util.h"

#include <functional>
#include <set>
#include <type_traits>

namespace {

using namespace ep_test;

// The scripted test plug-in, started.
struct Frame : EntryPointTest {
    void SetUp() override {
        EntryPointTest::SetUp();
        ASSERT_EQ(0, start(lib));
    }
    ProviderLibrary &lib = ProviderLibrary::testpgn();
    RendoTestPgnControl &c = *lib.control();
    const EntryPoints &ep = lib.ep();
};

// Calls an entry point with every argument zero or null; its status, or -1
// for one that returns nothing.
template <class R, class... A>
int callWithNulls(R (*fn)(A...)) {
    if constexpr (std::is_void_v<R>) {
        fn(A{}...);
        return -1;
    } else {
        return static_cast<int>(fn(A{}...));
    }
}

// A missing argument is answered at the entry point; with all of them the
// plug-in answers. Config looks at its arguments only after delayed init.
TEST_F(Frame, MissingArgumentsNeverReachThePlugin) {
    kelm_objid object{}, **objs = nullptr;
    kel_domain node{};
    kel_confspec confspec{};
    char session[] = "s1";
    int n = 0;
    kel_node_list *nodes = nullptr;
    wchar_t name[] = L"disk";
    wchar_t *names[] = {name}, *out[1] = {nullptr};
    auto *list = reinterpret_cast<kel_provider_list *>(&node); // whatever the framework left there
    struct Case {
        int bad;
        std::vector<std::function<int()>> missing;
        std::function<int()> full;
    } cases[] = {
        {KEL_CLAIM_NONE,
         {[&] { return ep.claim(nullptr, &objs, &n); }, [&] { return ep.claim(&object, nullptr, &n); },
          [&] { return ep.claim(&object, &objs, nullptr); }},
         [&] { return ep.claim(&object, &objs, &n); }},
        {KEL_EINVAL,
         {[&] { return ep.config(nullptr, 1, session, &confspec); }, [&] { return ep.config(&node, 1, session, nullptr); }},
         [&] { return ep.config(&node, 1, session, &confspec); }},
        {KEL_EINVAL,
         {[&] { return ep.subobj_list(nullptr, &objs, &n); }, [&] { return ep.subobj_list(&node, nullptr, &n); },
          [&] { return ep.subobj_list(&node, &objs, nullptr); }},
         [&] { return ep.subobj_list(&node, &objs, &n); }},
        {KEL_EINVAL, {[&] { return ep.get_provider_info(nullptr); }}, [&] { return ep.get_provider_info(&list); }},
        {KEL_EINVAL, {[&] { return ep.enumerate_nodes(nullptr, &n, 0, nullptr); }},
         [&] { return ep.enumerate_nodes(&nodes, &n, 0, nullptr); }},
        // translate_resource_names needs both arrays and a count of zero.
        {KEL_EINVAL,
         {[&] { return ep.translate_resource_names(names, 1, out); }, [&] { return ep.translate_resource_names(nullptr, 0, out); },
          [&] { return ep.translate_resource_names(names, 0, nullptr); }, [&] { return ep.translate_resource_names(names, -1, out); }},
         [&] { return ep.translate_resource_names(names, 0, out); }},
    };
    for (const Case &k : cases) {
        c.guardedCalls = 0;
        for (const auto &call : k.missing) EXPECT_EQ(k.bad, call());
        EXPECT_EQ(0, c.guardedCalls.load());
        k.full();
        EXPECT_EQ(1, c.guardedCalls.load());
    }
    EXPECT_EQ(1, c.delayedInitCalls.load()); // claim needs no disks; config ran it
    EXPECT_TRUE(c.providerListWasNull.load());
    EXPECT_EQ(nullptr, list);
    kelm_free_nodelist(nodes); // the provider's disks, the framework's to free
}

TEST_F(Frame, SingleNodeConvention) {
    kel_quiescenode lone{}, other{};
    kel_quiescenode *array[] = {&other};
    char ctx[] = "q";
    const struct {
        kel_quiescenode *lone, **nodes;
        int count, seenCount;
        kel_quiescenode *seenFirst;
    } cases[] = {{&lone, nullptr, 0, 1, &lone},   // the lone node becomes a one-element array
                 {&lone, nullptr, 2, 2, nullptr}, // passed unchanged
                 {&lone, array, 1, 1, &other},    // the lone node is ignored
                 {nullptr, nullptr, 0, 0, nullptr}};
    for (const auto &k : cases) {
        ASSERT_EQ(0, lib.ep().quiesce(k.lone, k.nodes, k.count, ctx));
        EXPECT_EQ(k.seenCount, c.quiesceCount.load());
        EXPECT_EQ(static_cast<void *>(k.seenFirst), c.quiesceFirst.load());
        if (k.seenFirst == &lone)
            EXPECT_NE(nullptr, c.quiesceNodes.load());
        else
            EXPECT_EQ(static_cast<void *>(k.nodes), c.quiesceNodes.load());
    }
}

// Entry points that run delayed initialisation, by operation name.
const std::set<std::string> kDelayedInitEntryPoints = {
    "init_node", "init_altnode", "init_remnode", "deport_tree", "import_tree", "pre_prepare",
    "reaccess_altnode", "config", "dispose", "online", "subobj_list", "build_alttree", "quiesce", "make",
    "prepare", "select", "isready", "cache_disable", "interpose", "getattr", "process_providerstate",
    "enumerate_group_nodes", "enumerate_associations", "isvalid_node_association", "get_associated_nodes",
    "check_node_existence", "objctl", "enable_access", "disable_access", "restore", "resync", "get_status",
    "query_valid_secondaries", "res_status", "verify_qscombos", "set_import_options", "start_build_alttree",
    "translate_resource_names", "import_resource", "format", "online_resource", "deport_resource",
    "is_parent_pgn", "unformat", "pre_deport_resource", "refresh_tree", "get_backupset", "get_app_status",
    "set_op_status", "set_comp_status", "set_restorepaths"};

// With a failing delayed initialisation, an entry point that needs it answers
// 1 before looking at its arguments (all null here); one that does not need it
// reaches its operation, which copes with null arguments.
TEST_F(Frame, EachEntryPointRunsDelayedInitExactlyWhenItNeedsTheDisks) {
    int checked = 0;
#define EP_TEST_DI_(ret, name, params)                                                                         \
    if (std::string(#name) != "init" && std::string(#name) != "fini") {                                      \
        ASSERT_EQ(0, start(lib));                                                                             \
        c.delayedInitMode = kDelayedInitReturn;                                                               \
        c.delayedInitResult = 29;                                                                             \
        c.delayedInitCalls = 0;                                                                               \
        bool needs = kDelayedInitEntryPoints.count(#name) != 0;                                               \
        int rc = callWithNulls(ep.name);                                                                      \
        EXPECT_TRUE(!needs || rc == KEL_EDELAYEDINIT) << #name << " answered " << rc;                         \
        EXPECT_EQ(needs ? 1 : 0, c.delayedInitCalls.load()) << #name;                                         \
        ++checked;                                                                                            \
    }
    RENDO_FI_PGN_ENTRY_POINTS(EP_TEST_DI_)
#undef EP_TEST_DI_
    EXPECT_EQ(68, checked);
}

TEST_F(Frame, ObjctlParsesInputCallsThePluginAndHandsBackAHeapCopy) {
    wchar_t *out = nullptr;
    uint32_t result = 0;
    ASSERT_EQ(0, lib.ep().objctl(L"-x", L"<OBJCTL_ARG_LIST> <OBJCTL_INPUT arg=a value=b type=c /> </OBJCTL_ARG_LIST>",
                                 &out, &result));
    EXPECT_EQ(4242u, result); // the plug-in's, which echoes each input
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(std::wstring(L"<OBJCTL_ARG_LIST> <OBJCTL_OUTPUT arg=a value=b-x type=c /> </OBJCTL_ARG_LIST> "),
              std::wstring(out));
    std::free(out); // as the framework does

    out = nullptr; // no input: an empty list
    ASSERT_EQ(0, lib.ep().objctl(nullptr, nullptr, &out, nullptr));
    EXPECT_EQ(std::wstring(L"<OBJCTL_ARG_LIST> </OBJCTL_ARG_LIST> "), std::wstring(out != nullptr ? out : L"null"));
    std::free(out);
}

TEST_F(Frame, InterposeRunsUnderThePluginMutex) {
    ASSERT_EQ(0, lib.ep().interpose(nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(lib.control()->interposeMutexHeld.load());
}

} // namespace

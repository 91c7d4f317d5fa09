// The session-based variants of make, prepare and select, and the buffers
// make hands to the framework.
#include "ep_fixture.h"

#include <tuple>

namespace {

using namespace ep_test;

// Split nodes named n0, n1, ... with keys k0, k1, ...
struct SplitNodes {
    explicit SplitNodes(int n) : names(n), keys(n), domains(n), nodes(n), ptrs(n) {
        for (int i = 0; i < n; ++i) {
            names[i] = L"n" + std::to_wstring(i);
            keys[i] = "k" + std::to_string(i);
            domains[i].name = names[i].data();
            nodes[i] = {keys[i].data(), &domains[i]};
            ptrs[i] = &nodes[i];
        }
    }
    kel_splitnode **array() { return ptrs.data(); }
    int count() const { return static_cast<int>(ptrs.size()); }
    std::vector<std::wstring> names;
    std::vector<std::string> keys;
    std::vector<kel_domain> domains;
    std::vector<kel_splitnode> nodes;
    std::vector<kel_splitnode *> ptrs;
};

struct SessionFallback : EntryPointTest {
    void SetUp() override {
        EntryPointTest::SetUp();
        ASSERT_EQ(0, start(lib));
        before = kelm_get_buf_stats();
    }
    void expectNothingLeft() { ep_test::expectNothingLeft(before); }
    ProviderLibrary &lib = ProviderLibrary::testpgn();
    RendoTestPgnControl &c = *ProviderLibrary::testpgn().control();
    kelm_buf_stats before{};
};

// select records the nodes in the context's session (unless it fails; also
// when the plug-in answers it itself); make hands back the targets of the
// nodes recorded, an empty name for a node that was not, nothing without nodes.
TEST_F(SessionFallback, MakeNamesTheNodesSelectRecordedInTheSameSession) {
    SplitNodes nodes(2);
    char ctx[] = "ctx-A", answered[] = "ctx-select-0", failed[] = "ctx-select-6", unselected[] = "ctx-unselected";
    ASSERT_EQ(0, lib.ep().select(nullptr, ctx, nodes.array(), nodes.count()));
    EXPECT_EQ(2, c.lastSessionNodes.load());
    const uintptr_t selected = c.lastSession.load();
    c.selectResult = 6;
    EXPECT_EQ(6, lib.ep().select(nullptr, failed, nodes.array(), 1));
    c.selectResult = 0;
    ASSERT_EQ(0, lib.ep().select(nullptr, answered, nodes.array(), 1));
    EXPECT_EQ(1, c.selectSnapshotsCalls.load());
    const struct {
        char *context;
        kel_splitnode *lone;
        kel_splitnode **array;
        int count;
        std::vector<std::wstring> names;  // none: nothing handed back
    } cases[] = {{ctx, nullptr, nodes.array(), 2, {L"n0-snap", L"n1-snap"}},
                 {answered, nullptr, nodes.array(), 1, {L"n0-snap"}},
                 {failed, nullptr, nodes.array(), 1, {L""}},
                 {unselected, nodes.array()[0], nullptr, 0, {L""}},  // the lone node
                 {unselected, nullptr, nullptr, 0, {}}};
    for (const auto &k : cases) {
        SCOPED_TRACE(k.context);
        kelm_objid **ids = reinterpret_cast<kelm_objid **>(&nodes);
        int count = 7;
        ASSERT_EQ(0, lib.ep().make(k.lone, k.context, k.array, k.count, &ids, &count));
        ASSERT_EQ(static_cast<int>(k.names.size()), count);
        EXPECT_EQ(count == 0, ids == nullptr);
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(k.names[i], std::wstring(ids[i]->name));
            EXPECT_EQ((k.names[i].size() + 1) * sizeof(wchar_t), ids[i]->name_bytes);
            EXPECT_EQ(1u, ids[i]->flags);
            kelm_free_objid(ids[i]); // as the framework frees what make handed out
        }
        if (count > 0) kelm_free_buf(ids, static_cast<uint32_t>(count * sizeof(kelm_objid *)));
    }
    for (const kel_domain &d : nodes.domains) EXPECT_EQ(KEL_DOMAIN_SPLIT_DONE, d.flags & KEL_DOMAIN_SPLIT_DONE);
    expectNothingLeft();
    ASSERT_EQ(0, lib.ep().prepare(nullptr, ctx, nodes.array(), nodes.count(), 0));
    EXPECT_EQ(selected, c.lastSession.load());
    ASSERT_EQ(0, lib.ep().prepare(nullptr, unselected, nodes.array(), nodes.count(), 0));
    EXPECT_NE(selected, c.lastSession.load());
}

// A failing make leaves the result alone; without a context there is no
// session; the device provider itself has no session variant.
TEST_F(SessionFallback, FailingMakeNoContextOrNoSessionVariantLeavesTheResultAlone) {
    SplitNodes nodes(1);
    char ctx[] = "ctx-fail";
    c.makeSnapshotsResult = 6;
    kelm_objid **ids = nullptr;
    int count = 3;
    EXPECT_EQ(6, lib.ep().make(nullptr, ctx, nodes.array(), 1, &ids, &count));
    EXPECT_EQ(std::make_tuple(static_cast<kelm_objid **>(nullptr), 3, 0u), std::make_tuple(ids, count, nodes.domains[0].flags));
    expectNothingLeft();
    c.makeSnapshotsCalls = 0;
    EXPECT_EQ(KEL_EINVAL, lib.ep().make(nullptr, nullptr, nodes.array(), 1, &ids, &count));
    EXPECT_EQ(KEL_EINVAL, lib.ep().prepare(nullptr, nullptr, nodes.array(), 1, 0));
    EXPECT_EQ(KEL_EINVAL, lib.ep().select(nullptr, nullptr, nodes.array(), 1));
    EXPECT_EQ(0, c.makeSnapshotsCalls.load() + c.prepareSnapshotsCalls.load() + c.selectSnapshotsCalls.load());
    ASSERT_EQ(0, start(ProviderLibrary::rendo()));
    EXPECT_EQ(KEL_ENOTSUP, ProviderLibrary::rendo().ep().make(nullptr, ctx, nodes.array(), 1, &ids, &count));
    EXPECT_EQ(nullptr, ids);
}

// Every allocation of the copy fails in turn: the array, then each object id.
TEST_F(SessionFallback, AllocationFailureHandsBackNothingAndLeaksNothing) {
    SplitNodes nodes(3);
    char ctx[] = "ctx-alloc";
    ASSERT_EQ(0, lib.ep().select(nullptr, ctx, nodes.array(), nodes.count()));
    // One buffer for the array, two per object id (record and name).
    for (int allowed = 0; allowed < 1 + 2 * nodes.count(); ++allowed) {
        kelm_objid **ids = reinterpret_cast<kelm_objid **>(&nodes);
        int count = 9;
        kelm_fail_allocations_after(allowed);
        EXPECT_EQ(KEL_EMALLOC, lib.ep().make(nullptr, ctx, nodes.array(), nodes.count(), &ids, &count))
            << allowed;
        kelm_fail_allocations_after(-1);
        EXPECT_EQ(nullptr, ids);
        EXPECT_EQ(0, count);
        expectNothingLeft();
    }
}

} // namespace

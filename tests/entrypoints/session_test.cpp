// The session-based variants of make, prepare and select, and the buffers
// make hands to the framework.
#include "ep_fixture.h"

#include "kelm/kelm_testkit.h"

#include <tuple>

namespace {

using ep_test::EntryPointTest;
using ep_test::ProviderLibrary;

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

// Frees what make handed out, as the framework does.
void releaseObjids(kelm_objid **ids, int count) {
    for (int i = 0; i < count; ++i) kelm_free_objid(ids[i]);
    kelm_free_buf(ids, static_cast<uint32_t>(count * sizeof(kelm_objid *)));
}

class SessionFallback : public EntryPointTest {
protected:
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

TEST_F(SessionFallback, SelectRecordsTheNodesAndMakeHandsBackTheirTargets) {
    SplitNodes nodes(2);
    char ctx[] = "ctx-A";
    ASSERT_EQ(0, lib.ep().select(nullptr, ctx, nodes.array(), nodes.count()));
    EXPECT_EQ(1, c.selectSnapshotsCalls.load());
    EXPECT_EQ(2, c.lastSessionNodes.load());
    uintptr_t selected = c.lastSession.load();

    kelm_objid **ids = nullptr;
    int count = -1;
    ASSERT_EQ(0, lib.ep().make(nullptr, ctx, nodes.array(), nodes.count(), &ids, &count));
    EXPECT_EQ(selected, c.lastSession.load()); // the same context reaches the same session
    ASSERT_EQ(2, count);
    ASSERT_NE(nullptr, ids);
    for (int i = 0; i < 2; ++i) {
        std::wstring expected = L"n" + std::to_wstring(i) + L"-snap";
        EXPECT_EQ(expected, std::wstring(ids[i]->name));
        EXPECT_EQ((expected.size() + 1) * sizeof(wchar_t), ids[i]->name_bytes);
        EXPECT_EQ(1u, ids[i]->flags);
        EXPECT_EQ(KEL_DOMAIN_SPLIT_DONE, nodes.domains[i].flags & KEL_DOMAIN_SPLIT_DONE);
    }
    releaseObjids(ids, count);
    expectNothingLeft();

    ASSERT_EQ(0, lib.ep().prepare(nullptr, ctx, nodes.array(), nodes.count(), 0));
    EXPECT_EQ(selected, c.lastSession.load());
    char other[] = "ctx-B";
    ASSERT_EQ(0, lib.ep().prepare(nullptr, other, nodes.array(), nodes.count(), 0));
    EXPECT_NE(selected, c.lastSession.load());
}

// What make hands back for each context: the targets of the nodes select
// recorded, an empty name for a node it did not, nothing without nodes.
TEST_F(SessionFallback, MakeNamesOnlyTheNodesSelectRecorded) {
    SplitNodes nodes(1);
    char ctx[] = "ctx-select-0", failed[] = "ctx-select-6", unselected[] = "ctx-unselected";
    c.selectResult = 6; // passed on, and records nothing
    EXPECT_EQ(6, lib.ep().select(nullptr, failed, nodes.array(), nodes.count()));
    c.selectResult = 0; // answered by the plug-in: still recorded
    ASSERT_EQ(0, lib.ep().select(nullptr, ctx, nodes.array(), nodes.count()));
    EXPECT_EQ(0, c.selectSnapshotsCalls.load());
    const struct {
        char *context;
        kel_splitnode *lone;
        kel_splitnode **array;
        const wchar_t *name; // null: nothing handed back
    } cases[] = {{ctx, nullptr, nodes.array(), L"n0-snap"},
                 {failed, nullptr, nodes.array(), L""},
                 {unselected, nodes.array()[0], nullptr, L""}, // the lone node
                 {unselected, nullptr, nullptr, nullptr}};
    for (const auto &k : cases) {
        kelm_objid **ids = reinterpret_cast<kelm_objid **>(&nodes);
        int count = 7;
        ASSERT_EQ(0, lib.ep().make(k.lone, k.context, k.array, k.array != nullptr ? 1 : 0, &ids, &count));
        ASSERT_EQ(k.name != nullptr ? 1 : 0, count) << k.context;
        if (k.name == nullptr) {
            EXPECT_EQ(nullptr, ids);
            continue;
        }
        EXPECT_EQ(std::wstring(k.name), std::wstring(ids[0]->name));
        releaseObjids(ids, count);
    }
    expectNothingLeft();
}

TEST_F(SessionFallback, FailingMakeOrNoContextLeavesTheResultAlone) {
    SplitNodes nodes(1);
    char ctx[] = "ctx-fail";
    c.makeSnapshotsResult = 6;
    kelm_objid **ids = nullptr;
    int count = 3;
    EXPECT_EQ(6, lib.ep().make(nullptr, ctx, nodes.array(), 1, &ids, &count));
    EXPECT_EQ(std::make_tuple(static_cast<kelm_objid **>(nullptr), 3, 0u), std::make_tuple(ids, count, nodes.domains[0].flags));
    expectNothingLeft();
    // Without a context there is no session.
    c.makeSnapshotsCalls = 0;
    EXPECT_EQ(KEL_EINVAL, lib.ep().make(nullptr, nullptr, nodes.array(), 1, &ids, &count));
    EXPECT_EQ(KEL_EINVAL, lib.ep().prepare(nullptr, nullptr, nodes.array(), 1, 0));
    EXPECT_EQ(KEL_EINVAL, lib.ep().select(nullptr, nullptr, nodes.array(), 1));
    EXPECT_EQ(0, c.makeSnapshotsCalls.load() + c.prepareSnapshotsCalls.load() + c.selectSnapshotsCalls.load());
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

TEST_F(SessionFallback, TheDeviceProviderHasNoSessionVariant) {
    ASSERT_EQ(0, start(ProviderLibrary::rendo()));
    SplitNodes nodes(1);
    char ctx[] = "ctx-rendo";
    kelm_objid **ids = nullptr;
    int count = 0;
    EXPECT_EQ(KEL_ENOTSUP, ProviderLibrary::rendo().ep().make(nullptr, ctx, nodes.array(), 1, &ids, &count));
}

} // namespace

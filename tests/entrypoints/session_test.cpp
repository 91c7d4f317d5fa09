// The session-based variants of make, prepare and select, and the buffers
// make hands to the framework.
#include "ep_fixture.h"

#include "kelm/kelm_util.h"

namespace {

using ep_test::EntryPointTest;
using ep_test::ProviderLibrary;

// Split nodes named n0, n1, ... with keys k0, k1, ...
class SplitNodes {
public:
    explicit SplitNodes(int count) : m_domains(count), m_nodes(count), m_ptrs(count) {
        for (int i = 0; i < count; ++i) {
            m_names.push_back(L"n" + std::to_wstring(i));
            m_keys.push_back("k" + std::to_string(i));
        }
        for (int i = 0; i < count; ++i) {
            m_domains[i].name = m_names[i].data();
            m_nodes[i].key = m_keys[i].data();
            m_nodes[i].domain = &m_domains[i];
            m_ptrs[i] = &m_nodes[i];
        }
    }
    kel_splitnode **array() { return m_ptrs.data(); }
    int count() const { return static_cast<int>(m_ptrs.size()); }
    kel_domain &domain(int i) { return m_domains[i]; }

private:
    std::vector<std::wstring> m_names;
    std::vector<std::string> m_keys;
    std::vector<kel_domain> m_domains;
    std::vector<kel_splitnode> m_nodes;
    std::vector<kel_splitnode *> m_ptrs;
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
    void expectNothingLeft() {
        kelm_buf_stats after = kelm_get_buf_stats();
        EXPECT_EQ(before.live, after.live);
        EXPECT_EQ(before.bad_frees, after.bad_frees);
        EXPECT_EQ(before.size_mismatch, after.size_mismatch);
    }
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
        EXPECT_EQ(KEL_DOMAIN_SPLIT_DONE, nodes.domain(i).flags & KEL_DOMAIN_SPLIT_DONE);
    }
    releaseObjids(ids, count);
    expectNothingLeft();

    ASSERT_EQ(0, lib.ep().prepare(nullptr, ctx, nodes.array(), nodes.count(), 0));
    EXPECT_EQ(selected, c.lastSession.load());
    char other[] = "ctx-B";
    ASSERT_EQ(0, lib.ep().prepare(nullptr, other, nodes.array(), nodes.count(), 0));
    EXPECT_NE(selected, c.lastSession.load());
}

TEST_F(SessionFallback, SelectAnsweredByThePluginStillRecordsTheNodes) {
    SplitNodes nodes(1);
    char ctx[] = "ctx-select-0";
    c.selectResult = 0;
    ASSERT_EQ(0, lib.ep().select(nullptr, ctx, nodes.array(), nodes.count()));
    EXPECT_EQ(0, c.selectSnapshotsCalls.load());
    kelm_objid **ids = nullptr;
    int count = 0;
    ASSERT_EQ(0, lib.ep().make(nullptr, ctx, nodes.array(), nodes.count(), &ids, &count));
    ASSERT_EQ(1, count);
    EXPECT_EQ(std::wstring(L"n0-snap"), std::wstring(ids[0]->name));
    releaseObjids(ids, count);

    c.selectResult = 6; // any other answer is passed on and records nothing
    char fresh[] = "ctx-select-6";
    EXPECT_EQ(6, lib.ep().select(nullptr, fresh, nodes.array(), nodes.count()));
    EXPECT_EQ(0, c.selectSnapshotsCalls.load());
}

TEST_F(SessionFallback, MakeOfAnUnknownNodeCreatesAnEmptyRecordAndOfNoNodesNothing) {
    SplitNodes nodes(1);
    char ctx[] = "ctx-unselected";
    kelm_objid **ids = nullptr;
    int count = 0;
    ASSERT_EQ(0, lib.ep().make(nodes.array()[0], ctx, nullptr, 0, &ids, &count)); // the lone node
    ASSERT_EQ(1, count);
    EXPECT_EQ(std::wstring(), std::wstring(ids[0]->name));
    releaseObjids(ids, count);

    // Without nodes: nothing handed back.
    ids = reinterpret_cast<kelm_objid **>(&ctx);
    count = 7;
    ASSERT_EQ(0, lib.ep().make(nullptr, ctx, nullptr, 0, &ids, &count));
    EXPECT_EQ(nullptr, ids);
    EXPECT_EQ(0, count);
    expectNothingLeft();
}

TEST_F(SessionFallback, FailingMakeSnapshotsLeavesTheResultAlone) {
    SplitNodes nodes(1);
    char ctx[] = "ctx-fail";
    c.makeSnapshotsResult = 6;
    kelm_objid **ids = nullptr;
    int count = 3;
    EXPECT_EQ(6, lib.ep().make(nullptr, ctx, nodes.array(), 1, &ids, &count));
    EXPECT_EQ(nullptr, ids);
    EXPECT_EQ(3, count);
    EXPECT_EQ(0u, nodes.domain(0).flags);
    expectNothingLeft();
}

TEST_F(SessionFallback, WithoutAContextThereIsNoSession) {
    SplitNodes nodes(1);
    kelm_objid **ids = nullptr;
    int count = 0;
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
    EXPECT_EQ(nullptr, ids);
}

} // namespace

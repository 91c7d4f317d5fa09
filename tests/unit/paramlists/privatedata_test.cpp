// Private data, its factory, the node state text and snapshot target selection.
#include "pdk/cfiprivatedata.h"

#include "../pluginbase/wide.h"

#include "kelm/kelm_testkit.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"
#include "test_env.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace kelm_pdk_4_4;

namespace {

using pbtest::Node;

// Entries of the ordinary and the alternate map.
std::pair<size_t, size_t> mapSizes(CFiPrivateDataManagerPtr &m) {
    auto *f = dynamic_cast<CFiPrivateDataConcreteFactory *>(m->getFactory());
    return {f->mapSize(false), f->mapSize(true)};
}
using Sizes = std::pair<size_t, size_t>;

} // namespace

TEST(PrivateDataFactory, SharedByNameSeparateForAlternateNodes) {
    CFiPrivateDataManagerPtr manager(new CFiPrivateDataManager);
    CFiPrivateDataFactory *f = manager->getFactory();
    Node a(L"disk1"), b(L"disk1"), alt(L"disk1"), other(L"disk2");
    EXPECT_TRUE(f->get(&a.domain).isNull()); // get never creates
    EXPECT_EQ(a.domain.pgn_private, nullptr);

    CFiPrivateDataPtr pa = f->getOrCreate(&a.domain, false);
    ASSERT_FALSE(pa.isNull());
    EXPECT_NE(a.domain.pgn_private, nullptr);
    EXPECT_EQ(f->getOrCreate(&b.domain, false).get(), pa.get());
    EXPECT_EQ(f->get(&b.domain).get(), pa.get());
    CFiPrivateDataPtr palt = f->getOrCreate(&alt.domain, true);
    EXPECT_NE(palt.get(), pa.get());
    EXPECT_TRUE(palt->getIsAltNode() && !pa->getIsAltNode());
    EXPECT_NE(f->getOrCreate(&other.domain, false).get(), pa.get());
    // Once a node holds private data, the alternate flag no longer matters.
    EXPECT_EQ(f->getOrCreate(&a.domain, true).get(), pa.get());
    EXPECT_EQ(mapSizes(manager), Sizes(2, 1));

    // Nodes that cannot be named get nothing.
    Node unnamed(L"x");
    unnamed.domain.obj = nullptr;
    EXPECT_TRUE(f->getOrCreate(&unnamed.domain, false).isNull() && f->getOrCreate(nullptr, false).isNull() &&
                f->get(nullptr).isNull());
    f->release(nullptr);
    for (Node *n : {&a, &b, &alt, &other}) f->release(&n->domain);
}

TEST(PrivateDataFactory, ReleaseOnlyWhenTheMapHoldsTheLastReference) {
    CFiPrivateDataManagerPtr manager(new CFiPrivateDataManager);
    CFiPrivateDataFactory *f = manager->getFactory();
    auto first = std::make_unique<Node>(L"UDID##V##P##E##L");
    Node second(L"UDID##V##P##E##L");
    CFiPrivateDataPtr shared = f->getOrCreate(&first->domain, false);
    shared->setSessionId("s1");
    f->getOrCreate(&second.domain, false);
    CFiPrivateData *raw = shared.get();
    shared.reset();

    f->release(&first->domain);
    EXPECT_EQ(first->domain.pgn_private, nullptr);
    EXPECT_EQ(mapSizes(manager), Sizes(1, 0)); // second still shares it
    // The framework may free the first node and its object record now; the
    // shared private data must not depend on them.
    first.reset();
    CFiPrivateDataPtr still = f->get(&second.domain);
    ASSERT_EQ(still.get(), raw);
    EXPECT_EQ(CFiStringTool::toNarrow(still->getObjName()) + " " + still->getSessionId(), "UDID##V##P##E##L s1");

    // A node without private data counts as ordinary and removes nothing
    // while another reference exists.
    Node bystander(L"UDID##V##P##E##L");
    f->release(&bystander.domain);
    EXPECT_EQ(mapSizes(manager), Sizes(1, 0));
    // An operation that still holds a copy keeps the entry alive too.
    f->release(&second.domain);
    EXPECT_EQ(mapSizes(manager), Sizes(1, 0));
    still.reset();
    f->release(&bystander.domain); // now the map's reference is the last one
    EXPECT_EQ(mapSizes(manager), Sizes(0, 0));

    Node again(L"UDID##V##P##E##L");
    EXPECT_EQ(f->getOrCreate(&again.domain, false)->getSessionId(), ""); // a fresh one
    f->release(&again.domain);

    // An alternate node's release looks in the alternate map only.
    Node ordinary(L"n"), alternate(L"n");
    f->getOrCreate(&ordinary.domain, false);
    f->getOrCreate(&alternate.domain, true);
    f->release(&alternate.domain);
    EXPECT_EQ(mapSizes(manager), Sizes(1, 0));
    f->release(&ordinary.domain);
    EXPECT_EQ(mapSizes(manager), Sizes(0, 0));
}

TEST(PrivateDataConcurrency, ManyThreadsShareAndReleaseNodes) {
    CFiPrivateDataManagerPtr manager(new CFiPrivateDataManager);
    CFiPrivateDataFactory *f = manager->getFactory();
    constexpr int kThreads = 8;
    constexpr int kRounds = 300;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                Node n(L"node" + std::to_wstring(r % 3));
                CFiPrivateDataPtr p = f->getOrCreate(&n.domain, (r + t) % 2 == 0);
                if (p.isNull() || p->getObjName() != WString(n.name.c_str())) ++mismatches;
                p->setSessionId("s");
                if (f->get(&n.domain).get() != p.get()) ++mismatches;
                p.reset();
                f->release(&n.domain);
            }
        });
    }
    for (std::thread &th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(mapSizes(manager), Sizes(0, 0));
}

TEST(PrivateData, NodeStateTextInAFrameworkBuffer) {
    Node n(L"d\u00e9");
    CFiPrivateData pd(&n.obj, true);
    pd.setSessionId("ctx-9");
    uint64_t live = kelm_get_buf_stats().live;
    kel_blob blob{};
    ASSERT_EQ(pd.getNodeState(&blob), 0);
    std::wstring expected = L"<NODE_NAME>d\u00e9</NODE_NAME>\n<IS_ALT_NODE>true</IS_ALT_NODE>\n"
                            L"<SESSION_ID>ctx-9</SESSION_ID>\n";
    auto bytes = reinterpret_cast<uintptr_t>(blob.size);
    EXPECT_EQ(bytes, (expected.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(std::wstring(static_cast<const wchar_t *>(blob.data)), expected);
    EXPECT_EQ(blob.kind, 1u);
    EXPECT_EQ(kelm_get_buf_stats().live, live + 1);
    kelm_free_buf(blob.data, static_cast<uint32_t>(bytes));
    EXPECT_EQ(kelm_get_buf_stats().live, live);

    EXPECT_EQ(pd.getNodeState(nullptr), 3);
    kelm_fail_allocations_after(0);
    kel_blob failed{};
    EXPECT_EQ(pd.getNodeState(&failed), 5);
    kelm_fail_allocations_after(-1);
    EXPECT_EQ(failed.data, nullptr);
    EXPECT_EQ(pd.setNodeState(&blob), 0);
}

TEST(PrivateData, FieldsHostListAndListSlots) {
    Node n(L"node");
    CFiPrivateData pd(&n.obj, false);
    EXPECT_FALSE(pd.hasConfigDataList(0));
    pd.configDataList(7).setValue("k", "v"); // any non-zero index is list 1
    EXPECT_TRUE(pd.hasConfigDataList(1));
    EXPECT_FALSE(pd.hasConfigDataList(0));
    EXPECT_EQ(pd.configDataList(1).getValue("k"), "v");

    // Host list elements: first field the wide name, second the next one.
    kel_host_infn h1{}, h2{}, h3{};
    wchar_t n1[] = L"hostA", n3[] = L"hostC";
    h1.opaque[0] = n1;
    h1.opaque[1] = &h2;
    h2.opaque[1] = &h3; // no name: skipped
    h3.opaque[0] = n3;
    h3.opaque[1] = &h1; // a loop ends at the first repeat
    pd.setHostList(&h1);
    const std::vector<WString> hosts{WString(L"hostA"), WString(L"hostC")};
    EXPECT_EQ(pd.getHostList(), hosts);
    pd.setHostList(nullptr); // no list: the last one stays
    EXPECT_EQ(pd.getHostList(), hosts);
}

TEST(PrivateData, DefaultParamsUseTheSubstringRule) {
    Node n(L"node");
    CFiPrivateData pd(&n.obj, false);
    CFiConfigParamInfoList info;
    info.addParamInfo(CFiConfigParamInfo("speed", 5, 0, -1, -1, "", false, false));
    info.addParamInfo(CFiConfigParamInfo("mode", std::string("fast"), 0, "", false, false));

    // No descriptions of its own and none given: nothing, and nothing created.
    pd.addDefaultConfigParamsToDataList(0, nullptr);
    EXPECT_FALSE(pd.hasConfigInfoList(0));
    EXPECT_FALSE(pd.hasConfigDataList(0));

    // An empty value list is replaced by the defaults.
    pd.addDefaultConfigParamsToDataList(0, &info);
    EXPECT_EQ(pd.configDataList(0).getKeys(), (std::vector<std::string>{"mode", "speed"}));

    // A longer key that contains a default key hides it.
    pd.configDataList(1).setValue("max_speed", "9");
    pd.configInfoList(1) = info;
    pd.addDefaultConfigParamsToDataList(1, nullptr);
    EXPECT_EQ(pd.configDataList(1).getKeys(), (std::vector<std::string>{"max_speed", "mode"}));
    EXPECT_EQ(pd.configDataList(1).getValue("max_speed") + pd.configDataList(1).getValue("mode"), "9fast");

    // Defaults added in this call do not hide one another ("ab" holds "b").
    CFiConfigParamInfoList nested;
    nested.addParamInfo(CFiConfigParamInfo("ab", 1, 0, -1, -1, "", false, false));
    nested.addParamInfo(CFiConfigParamInfo("b", 2, 0, -1, -1, "", false, false));
    CFiPrivateData other(&n.obj, false);
    other.configDataList(0).setValue("zzz", "1");
    other.addDefaultConfigParamsToDataList(0, &nested);
    EXPECT_EQ(other.configDataList(0).getKeys(), (std::vector<std::string>{"ab", "b", "zzz"}));
}

// ---- target selection ----

namespace {

// A private install root and a trace log at level 6 (an explicit directory
// and file name write that level), so that the lines selection traces can be read.
class TargetSelection : public ::testing::Test {
protected:
    void SetUp() override {
        root = rendo_test::makeInstallRoot("paramlists");
        for (const char *dir : {"ConfigFiles", "Logs"}) mkdir((root + dir).c_str(), 0755);
        log->initialize(WString(L"rendo"), CFiStringTool::toWide(root + "Logs"), WString(L"paramlists.log"), 6, false);
        ASSERT_TRUE(log->isInitialized());
    }
    void TearDown() override { rendo_test::removeTree(root); }
    // True when a trace call wrote exactly the message text.
    bool traced(const std::string &text) const {
        return rendo_test::readFile(CFiStringTool::toNarrow(log->tracePath())).find("> " + text + "\n") != std::string::npos;
    }
    // Private data of a node named udid whose "snapshot_resource_spec" is resourceSpec.
    int select(const std::wstring &udid, const std::string &resourceSpec) {
        node = std::make_unique<Node>(udid);
        pd = CFiPrivateDataPtr(new CFiPrivateData(&node->obj, false));
        pd->setTraceLog(log);
        pd->configDataList(1).setValue(CFiPrivateData::kSnapshotResourceSpec, resourceSpec);
        return pd->selectTargetFromConfigData();
    }
    std::string root;
    CFiTraceLogPtr log{new CFiTraceLog};
    std::unique_ptr<Node> node;
    CFiPrivateDataPtr pd;
};

const wchar_t kNode[] = L"UDID##EMC##SYMMETRIX##e1##l1";

} // namespace

// The cases a value list can carry (every failure line, escapes, node names
// that are no complete UDID) are kelm-host's (tests/kelmhost/target_selection.cmake);
// line breaks do not survive its XML round trip, and the list of targets kept is not printed.
TEST_F(TargetSelection, LineBreaksSeparateAndOnlyTheMatchingTargetsAreKept) {
    ASSERT_EQ(select(kNode, "\r\n[E1##L2;X]\n\n[e1##L1;E5##T3;T4]"), 0);
    EXPECT_EQ(pd->getConfiguredTarget(), "UDID##EMC##SYMMETRIX##e1##T3"); // a target's own enclosure is ignored
    std::string many;
    for (int i = 0; i < 500; ++i) many += "[E1##L" + std::to_string(i + 2) + ";T" + std::to_string(i) + "]";
    ASSERT_EQ(select(kNode, many + "[E1##L1;WIN]"), 0);
    EXPECT_EQ(pd->getConfiguredTarget(), "UDID##EMC##SYMMETRIX##e1##WIN");
    EXPECT_EQ(pd->getTargets(), std::vector<std::string>{"WIN"}); // earlier lists do not linger
    ASSERT_EQ(select(kNode, "[E1##L1;L7;L9]"), 0);
    EXPECT_EQ(pd->getTargets(), (std::vector<std::string>{"L7", "L9"}));
    EXPECT_EQ(select(kNode, "[]&\r\n[["), 6);
    EXPECT_TRUE(traced("Configuration \"[]&\r\n[[\" has no resources specified for source [UDID##EMC##SYMMETRIX##e1##l1]."));
    EXPECT_EQ(pd->getConfiguredTarget(), "");
}

// Another key only, or the key with a value list but no single value:
// kelm-host's (tests/kelmhost/target_selection_values.cmake).
TEST_F(TargetSelection, NoSecondList) {
    Node n(kNode);
    CFiPrivateDataPtr bare(new CFiPrivateData(&n.obj, false));
    bare->setTraceLog(log);
    bare->configDataList(0).setValue(CFiPrivateData::kSnapshotResourceSpec, "E1##L1;T"); // the wrong list
    EXPECT_EQ(bare->selectTargetFromConfigData(), 6);
    EXPECT_TRUE(traced("Error: No snapshot configuration data has been specified for [UDID##EMC##SYMMETRIX##e1##l1]"));
}

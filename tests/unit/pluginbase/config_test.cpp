// The configuration operation and the defaults that work on private data.
#include "pdk/cfipluginbase.h"

#include "kelm/kelm_testkit.h"
#include "pdk/cfistringtool.h"
#include "test_env.h"

#include "wide.h"

#include <gtest/gtest.h>

#include <string>

using namespace kelm_pdk_4_4;
using pbtest::W;

namespace {

using PluginPtr = CFiSmartPtr<CFiPluginBase, CFiNullAllocator>;

// A framework node with its object record. Like the framework, it
// de-initialises the node (freeing its private-data cell) when it goes.
struct Node {
    explicit Node(const wchar_t *n) : name(n) {
        obj.name = const_cast<wchar_t *>(name.c_str());
        obj.name_bytes = static_cast<uint32_t>((name.size() + 1) * sizeof(wchar_t));
        domain.obj = &obj;
        domain.name = obj.name;
    }
    ~Node() {
        if (owner != nullptr) owner->deInitNode(&domain);
    }
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;
    std::wstring name;
    kelm_objid obj{};
    kel_domain domain{};
    CFiPluginBase *owner = nullptr;
};

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = rendo_test::makeInstallRoot("pbconfig");
        log_ = CFiTraceLogPtr(new CFiTraceLog);
        // An explicit directory and file name put level 6 into the trace settings.
        log_->initialize(W(L"rendo"), CFiStringTool::toWide(root_ + "Logs"), W(L"pbtest"), 6, false);
        ASSERT_TRUE(log_->isInitialized());
        manager_ = CFiPrivateDataManagerPtr(new CFiPrivateDataManager);
        plugin_ = PluginPtr(new CFiPluginBase);
        plugin_->setProviderName(W(L"rendo"));
        plugin_->setTraceLog(log_);
        plugin_->registerPrivateDataManager(manager_);
        CFiConfigParamInfo speed("speed", 5, CFiConfigParamInfo::AUTO, 0, 10, "MSG_SPEED", false, false);
        CFiConfigParamInfo mode("mode", std::string("fast"), CFiConfigParamInfo::SELECT, "MSG_MODE", false, false);
        plugin_->addDefaultConfigInfoParam(speed, 1, false);
        plugin_->addDefaultConfigInfoParam(mode, 1, true);
        live_ = kelm_get_buf_stats().live;
    }
    void TearDown() override {
        plugin_.reset();
        manager_.reset();
        log_.reset();
        EXPECT_EQ(kelm_get_buf_stats().live, live_) << "a text handed out was not freed";
        rendo_test::removeTree(root_);
    }

    CFiPrivateDataPtr privateData(Node &n) {
        n.owner = plugin_.get();
        return manager_->getFactory()->getOrCreate(&n.domain, false);
    }
    std::string traced() { return rendo_test::readFile(CFiStringTool::toNarrow(log_->tracePath())); }

    // Runs config and takes the text handed back (freeing the framework's copy).
    int run(Node &n, int mode, int listSelect, const wchar_t *in, std::wstring *out, bool *outNull = nullptr) {
        kel_confspec confspec{listSelect, 1, const_cast<wchar_t *>(in)};
        int rc = plugin_->config(&n.domain, mode, const_cast<char *>("session-7"), &confspec);
        if (outNull != nullptr) *outNull = confspec.text == nullptr;
        if (out != nullptr) *out = confspec.text != nullptr ? std::wstring(confspec.text) : std::wstring();
        if (confspec.text != nullptr && confspec.text != in) CFiStringTool::tstrfree(confspec.text);
        return rc;
    }

    static std::wstring valuesXml(std::initializer_list<std::pair<const char *, const char *>> kv) {
        CFiConfigParamDataList list;
        for (auto &p : kv) list.addParamData(CFiConfigParamData(p.first, p.second));
        return CFiStringTool::toStdWide(list.getXML());
    }

    std::string root_;
    CFiTraceLogPtr log_;
    CFiPrivateDataManagerPtr manager_;
    PluginPtr plugin_;
    uint64_t live_ = 0;
};

TEST_F(ConfigTest, MissingArgumentsGiveThreeAndEmptySpecsNullInEveryMode) {
    Node n(L"disk-zero");
    kel_confspec confspec{1, 1, nullptr};
    EXPECT_EQ(plugin_->config(&n.domain, 1, nullptr, &confspec), KEL_EINVAL) << "no private data";
    EXPECT_EQ(plugin_->config(nullptr, 1, nullptr, &confspec), KEL_EINVAL);
    CFiPrivateDataPtr pd = privateData(n);
    EXPECT_EQ(plugin_->config(&n.domain, 1, nullptr, nullptr), KEL_EINVAL);
    // Both selector fields of the record zero: null text whatever the mode, the session kept.
    wchar_t input[] = L"<not-touched/>";
    for (int mode = 1; mode <= 6; ++mode) {
        confspec = kel_confspec{0, 0, input};
        EXPECT_EQ(plugin_->config(&n.domain, mode, const_cast<char *>("s1"), &confspec), 0);
        EXPECT_EQ(confspec.text, nullptr) << mode;
    }
    EXPECT_EQ(pd->getSessionId(), "s1");
    EXPECT_FALSE(pd->hasConfigDataList(0));
}

TEST_F(ConfigTest, GetGivesTheNodesOwnDefaultsOrTheGlobalOnesOrNull) {
    Node n(L"disk-get");
    CFiPrivateDataPtr pd = privateData(n);
    std::wstring out;
    bool isNull = false;
    ASSERT_EQ(run(n, 1, 1, nullptr, &out), 0);
    EXPECT_EQ(CFiConfigParamDataList(W(out.c_str())).getValue("speed"), "5");
    EXPECT_FALSE(pd->hasConfigDataList(1)) << "defaults of the global list are not stored";
    ASSERT_EQ(run(n, 1, 0, nullptr, &out, &isNull), 0);
    EXPECT_TRUE(isNull) << "list 0 has no descriptions at all";

    // The node's own descriptions: their defaults are stored.
    pd->configInfoList(0).addParamInfo(
        CFiConfigParamInfo("own", true, CFiConfigParamInfo::AUTO, "MSG_OWN", false, false));
    ASSERT_EQ(run(n, 1, 0, nullptr, &out), 0);
    EXPECT_EQ(CFiConfigParamDataList(W(out.c_str())).getValue("own"), "true");
    EXPECT_EQ(pd->configDataList(0).getValue("own"), "true");
    // An empty description list of the node gives null, not the global list.
    pd->configInfoList(1);
    ASSERT_EQ(run(n, 1, 1, nullptr, &out, &isNull), 0);
    EXPECT_TRUE(isNull);
}

TEST_F(ConfigTest, SetParsesCompletesWithDefaultsGetReturnsItAndClearEmpties) {
    Node n(L"disk-set");
    CFiPrivateDataPtr pd = privateData(n);
    EXPECT_EQ(run(n, 3, 1, nullptr, nullptr), 0) << "clear without values is harmless";
    std::wstring out, again;
    ASSERT_EQ(run(n, 2, 1, valuesXml({{"colour", "blue"}}).c_str(), &out), 0);
    CFiConfigParamDataList set{W(out.c_str())};
    EXPECT_EQ(set.getValue("colour"), "blue");
    EXPECT_EQ(set.getValue("speed"), "5") << "completed from the global descriptions";
    ASSERT_EQ(run(n, 1, 1, nullptr, &again), 0);
    EXPECT_EQ(again, out);

    // Mode 5 is a set as well and replaces the values.
    ASSERT_EQ(run(n, 5, 1, valuesXml({{"speed", "9"}}).c_str(), &out), 0);
    EXPECT_EQ(CFiConfigParamDataList(W(out.c_str())).getValue("speed"), "9");
    EXPECT_EQ(pd->configDataList(1).getParamData("colour"), nullptr);

    EXPECT_EQ(run(n, 3, 1, nullptr, nullptr), 0);
    bool isNull = false;
    EXPECT_EQ(run(n, 1, 1, nullptr, nullptr, &isNull), 0);
    EXPECT_TRUE(isNull) << "an emptied value list gives null text";
}

TEST_F(ConfigTest, InvalidXmlReturnsTheParserCodeAndKeepsTheValues) {
    Node n(L"disk-bad");
    CFiPrivateDataPtr pd = privateData(n);
    std::wstring good = valuesXml({{"colour", "red"}});
    ASSERT_EQ(run(n, 2, 1, good.c_str(), nullptr), 0);
    WString before = pd->configDataList(1).getXML();

    bool isNull = false;
    EXPECT_EQ(run(n, 2, 1, L"<ConfigValueList><ConfigValue>", nullptr, &isNull), 3);
    EXPECT_TRUE(isNull);
    EXPECT_NE(traced().find("ERROR: SET: Mode[2]: Invalid XML [<ConfigValueList><ConfigValue>]"), std::string::npos);
    EXPECT_EQ(pd->configDataList(1).getValue("colour"), "red");
    EXPECT_TRUE(pd->configDataList(1).getXML() == before);

    // On a node without values the failed set leaves an empty value list,
    // so a get answers null instead of the global defaults.
    Node m(L"disk-bad-fresh");
    CFiPrivateDataPtr fresh = privateData(m);
    EXPECT_EQ(run(m, 2, 1, L"garbage <<", nullptr), 3);
    EXPECT_TRUE(fresh->hasConfigDataList(1));
    EXPECT_TRUE(fresh->configDataList(1).empty());
    bool getNull = false;
    EXPECT_EQ(run(m, 1, 1, nullptr, nullptr, &getNull), 0);
    EXPECT_TRUE(getNull);

    // A set without text is traced and succeeds.
    bool noText = false;
    EXPECT_EQ(run(m, 2, 0, nullptr, nullptr, &noText), 0);
    EXPECT_TRUE(noText);
    EXPECT_NE(traced().find("ERROR: SET: Mode[2], Invalid config string."), std::string::npos) << traced();
}

TEST_F(ConfigTest, GetParamsPicksTheAlternateListForAnAlternateNode) {
    Node n(L"disk-param");
    privateData(n);
    std::wstring out;
    ASSERT_EQ(run(n, 4, 1, nullptr, &out), 0);
    CFiConfigParamInfoList plain{W(out.c_str())};
    EXPECT_NE(plain.getParamInfo("speed"), nullptr);
    EXPECT_EQ(plain.getParamInfo("mode"), nullptr);

    kel_altback back{&n.domain};
    kel_altlink link{1, 0, &back};
    n.domain.altlink = &link;
    ASSERT_EQ(run(n, 4, 1, nullptr, &out), 0);
    CFiConfigParamInfoList alt{W(out.c_str())};
    EXPECT_NE(alt.getParamInfo("mode"), nullptr);
    EXPECT_NE(traced().find("GETPARAM: Mode[4]: "), std::string::npos);

    // A link that is inactive, or points at another node, is not an alternate node.
    Node other(L"other");
    kel_altback away{&other.domain};
    for (kel_altlink l : {kel_altlink{0, 0, &back}, kel_altlink{1, 0, nullptr}, kel_altlink{1, 0, &away}}) {
        link = l;
        ASSERT_EQ(run(n, 4, 1, nullptr, &out), 0);
        EXPECT_NE(CFiConfigParamInfoList(W(out.c_str())).getParamInfo("speed"), nullptr);
    }
    // Nothing described for list 0: null text.
    bool isNull = false;
    ASSERT_EQ(run(n, 4, 0, nullptr, nullptr, &isNull), 0);
    EXPECT_TRUE(isNull);
}

TEST_F(ConfigTest, AFailedCopyIsReportedAsAnAllocationFailure) {
    Node n(L"disk-nomem");
    privateData(n);
    kelm_fail_allocations_after(0);
    kel_confspec confspec{1, 1, nullptr};
    int rc = plugin_->config(&n.domain, 4, nullptr, &confspec);
    kelm_fail_allocations_after(-1);
    EXPECT_EQ(rc, KEL_EMALLOC);
    EXPECT_EQ(confspec.text, nullptr);
}

// ---- private data defaults ----

TEST_F(ConfigTest, ReAccessCreatesThePrivateDataAndRecordsTheCall) {
    Node n(L"disk-reaccess");
    EXPECT_EQ(plugin_->reAccessTmpObj(&n.domain, nullptr, const_cast<char *>("mirror"), nullptr,
                                      const_cast<char *>("s9"), KEL_INTENT_WRITE),
              0);
    CFiPrivateDataPtr pd = manager_->getFactory()->get(&n.domain);
    ASSERT_FALSE(pd.isNull());
    EXPECT_EQ(pd->getIntent(), KEL_INTENT_WRITE);
    EXPECT_EQ(pd->getSessionId(), "s9");
    EXPECT_EQ(pd->getSplitType(), "mirror");

    // Null arguments leave the earlier values.
    EXPECT_EQ(plugin_->reAccessAltNode(&n.domain, nullptr, nullptr, nullptr, nullptr, nullptr, 0, KEL_INTENT_READ), 0);
    EXPECT_EQ(pd->getIntent(), KEL_INTENT_READ);
    EXPECT_EQ(pd->getSessionId(), "s9");
    EXPECT_EQ(pd->getSplitType(), "mirror");

    pd.reset();
    plugin_->deInitNode(&n.domain);
    EXPECT_EQ(n.domain.pgn_private, nullptr);
    EXPECT_TRUE(manager_->getFactory()->get(&n.domain).isNull());
}

TEST_F(ConfigTest, SubobjListHandsOutThePrivateDataArray) {
    Node n(L"disk-sub");
    kelm_objid **list = nullptr;
    int count = -1;
    EXPECT_EQ(plugin_->subobjList(&n.domain, &list, &count), 0);
    EXPECT_EQ(count, -1) << "untouched without private data";
    kelm_objid a{const_cast<wchar_t *>(L"sub-a"), 12, 0}, b{const_cast<wchar_t *>(L"sub-b"), 12, 0};
    privateData(n)->addSubObject(&a);
    privateData(n)->addSubObject(&b);
    EXPECT_EQ(plugin_->subobjList(&n.domain, &list, &count), 0);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(list[1], &b);
    EXPECT_EQ(plugin_->subobjList(&n.domain, nullptr, nullptr), 0);
}

TEST_F(ConfigTest, ImportOptionsReachOnlyNodesWithPrivateData) {
    Node with(L"disk-with");
    Node without(L"disk-without");
    CFiPrivateDataPtr pd = privateData(with);
    kel_splitnode s1{const_cast<char *>("k1"), &with.domain};
    kel_splitnode s2{const_cast<char *>("k2"), &without.domain};
    kel_splitnode s3{const_cast<char *>("k3"), nullptr};
    kel_splitnode *nodes[] = {&s1, &s2, &s3, nullptr};
    EXPECT_EQ(plugin_->setImportOptions(nodes, 4, nullptr, 1, nullptr), 0);
    EXPECT_TRUE(pd->getTransportable());
    EXPECT_TRUE(manager_->getFactory()->get(&without.domain).isNull());
    EXPECT_EQ(plugin_->setImportOptions(nodes, 1, nullptr, 0, nullptr), 0);
    EXPECT_FALSE(pd->getTransportable());
    EXPECT_EQ(plugin_->setImportOptions(nullptr, 3, nullptr, 0, nullptr), 0);
}

} // namespace

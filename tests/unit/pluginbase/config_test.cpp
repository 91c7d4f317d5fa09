// The configuration operation and the defaults that work on private data.
#include "pdk/cfipluginbase.h"

#include "kelm/kelm_testkit.h"
#include "pdk/cfistringtool.h"
#include "test_env.h"

#include "wide.h"

#include <gtest/gtest.h>

#include <string>

using namespace kelm_pdk_4_4;
using pbtest::Node;
using pbtest::W;

namespace {

using PluginPtr = CFiSmartPtr<CFiPluginBase, CFiNullAllocator>;

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
    bool traced(const std::string &line) {
        return rendo_test::readFile(CFiStringTool::toNarrow(log_->tracePath())).find(line) != std::string::npos;
    }

    // Runs config; out gets the text handed back ("null" for none), the framework's copy freed.
    int run(Node &n, int mode, int listSelect, const wchar_t *in, std::wstring *out = nullptr) {
        kel_confspec confspec{listSelect, 1, const_cast<wchar_t *>(in)};
        int rc = plugin_->config(&n.domain, mode, const_cast<char *>("session-7"), &confspec);
        if (out != nullptr) *out = confspec.text != nullptr ? std::wstring(confspec.text) : L"null";
        if (confspec.text != nullptr && confspec.text != in) CFiStringTool::tstrfree(confspec.text);
        return rc;
    }
    std::string value(const std::wstring &xml, const char *key) {
        return CFiConfigParamDataList(W(xml.c_str())).getValue(key);
    }
    bool described(const std::wstring &xml, const char *key) {
        return CFiConfigParamInfoList(W(xml.c_str())).getParamInfo(key) != nullptr;
    }
    static std::wstring valuesXml(const char *key, const char *value) {
        CFiConfigParamDataList list;
        list.addParamData(CFiConfigParamData(key, value));
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
    CFiPrivateDataPtr pd = privateData(n); // null node or record: the entry points' frame test
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
    ASSERT_EQ(run(n, 1, 1, nullptr, &out), 0);
    EXPECT_EQ(value(out, "speed"), "5");
    EXPECT_FALSE(pd->hasConfigDataList(1)) << "defaults of the global list are not stored";
    ASSERT_EQ(run(n, 1, 0, nullptr, &out), 0);
    EXPECT_EQ(out, L"null") << "list 0 has no descriptions at all";
    // The node's own descriptions: their defaults are stored.
    pd->configInfoList(0).addParamInfo(
        CFiConfigParamInfo("own", true, CFiConfigParamInfo::AUTO, "MSG_OWN", false, false));
    ASSERT_EQ(run(n, 1, 0, nullptr, &out), 0);
    EXPECT_EQ(value(out, "own"), "true");
    EXPECT_EQ(pd->configDataList(0).getValue("own"), "true");
    // An empty description list of the node gives null, not the global list.
    pd->configInfoList(1);
    ASSERT_EQ(run(n, 1, 1, nullptr, &out), 0);
    EXPECT_EQ(out, L"null");
}

TEST_F(ConfigTest, SetParsesCompletesWithDefaultsGetReturnsItAndClearEmpties) {
    Node n(L"disk-set");
    CFiPrivateDataPtr pd = privateData(n);
    EXPECT_EQ(run(n, 3, 1, nullptr), 0) << "clear without values is harmless";
    std::wstring out, again;
    ASSERT_EQ(run(n, 2, 1, valuesXml("colour", "blue").c_str(), &out), 0);
    EXPECT_EQ(value(out, "colour") + value(out, "speed"), "blue5") << "completed from the global descriptions";
    ASSERT_EQ(run(n, 1, 1, nullptr, &again), 0);
    EXPECT_EQ(again, out);
    // Mode 5 is a set as well and replaces the values.
    ASSERT_EQ(run(n, 5, 1, valuesXml("speed", "9").c_str(), &out), 0);
    EXPECT_EQ(value(out, "speed"), "9");
    EXPECT_EQ(pd->configDataList(1).getParamData("colour"), nullptr);
    EXPECT_EQ(run(n, 3, 1, nullptr), 0);
    EXPECT_EQ(run(n, 1, 1, nullptr, &out), 0);
    EXPECT_EQ(out, L"null") << "an emptied value list gives null text";
}

TEST_F(ConfigTest, InvalidXmlReturnsTheParserCodeAndKeepsTheValues) {
    Node n(L"disk-bad");
    CFiPrivateDataPtr pd = privateData(n);
    ASSERT_EQ(run(n, 2, 1, valuesXml("colour", "red").c_str()), 0);
    WString before = pd->configDataList(1).getXML();
    std::wstring out;
    EXPECT_EQ(run(n, 2, 1, L"<ConfigValueList><ConfigValue>", &out), 3);
    EXPECT_EQ(out, L"null");
    EXPECT_TRUE(traced("ERROR: SET: Mode[2]: Invalid XML [<ConfigValueList><ConfigValue>]"));
    EXPECT_TRUE(pd->configDataList(1).getXML() == before);

    // On a node without values the failed set leaves an empty value list,
    // so a get answers null instead of the global defaults.
    Node m(L"disk-bad-fresh");
    CFiPrivateDataPtr fresh = privateData(m);
    EXPECT_EQ(run(m, 2, 1, L"garbage <<"), 3);
    EXPECT_TRUE(fresh->hasConfigDataList(1) && fresh->configDataList(1).empty());
    EXPECT_EQ(run(m, 1, 1, nullptr, &out), 0);
    EXPECT_EQ(out, L"null");
    // A set without text is traced and succeeds.
    EXPECT_EQ(run(m, 2, 0, nullptr, &out), 0);
    EXPECT_EQ(out, L"null");
    EXPECT_TRUE(traced("ERROR: SET: Mode[2], Invalid config string."));
}

TEST_F(ConfigTest, GetParamsPicksTheAlternateListForAnAlternateNode) {
    Node n(L"disk-param"), other(L"other");
    privateData(n);
    std::wstring out;
    kel_altback back{&n.domain}, away{&other.domain};
    ASSERT_EQ(run(n, 4, 1, nullptr, &out), 0);
    EXPECT_TRUE(described(out, "speed") && !described(out, "mode")) << "no link at all";
    kel_altlink link{};
    n.domain.altlink = &link;
    // Only an active link back to the node itself makes it an alternate node.
    const struct {
        kel_altlink link;
        bool alternate;
    } cases[] = {{{1, 0, &back}, true}, {{0, 0, &back}, false}, {{1, 0, nullptr}, false}, {{1, 0, &away}, false}};
    for (const auto &c : cases) {
        link = c.link;
        ASSERT_EQ(run(n, 4, 1, nullptr, &out), 0);
        EXPECT_EQ(described(out, "speed"), !c.alternate) << c.alternate;
        EXPECT_EQ(described(out, "mode"), c.alternate);
    }
    EXPECT_TRUE(traced("GETPARAM: Mode[4]: "));
    ASSERT_EQ(run(n, 4, 0, nullptr, &out), 0);
    EXPECT_EQ(out, L"null") << "nothing described for list 0";
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

TEST_F(ConfigTest, ImportOptionsReachOnlyNodesWithPrivateData) {
    Node with(L"disk-with"), without(L"disk-without");
    CFiPrivateDataPtr pd = privateData(with);
    kel_splitnode s1{const_cast<char *>("k1"), &with.domain}, s2{const_cast<char *>("k2"), &without.domain},
        s3{const_cast<char *>("k3"), nullptr};
    kel_splitnode *nodes[] = {&s1, &s2, &s3, nullptr};
    EXPECT_EQ(plugin_->setImportOptions(nodes, 4, nullptr, 1, nullptr), 0);
    EXPECT_TRUE(pd->getTransportable());
    EXPECT_TRUE(manager_->getFactory()->get(&without.domain).isNull());
    EXPECT_EQ(plugin_->setImportOptions(nullptr, 3, nullptr, 0, nullptr), 0);
}

} // namespace

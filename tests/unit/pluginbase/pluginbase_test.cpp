// Defaults of the plug-in base, delayed initialisation, errMsg and the
// manager-backed operations.
#include "pdk/cfipluginbase.h"

#include "kelm/kelm_util.h"
#include "pdk/cfistringtool.h"
#include "test_env.h"

#include "wide.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace kelm_pdk_4_4;
using pbtest::W;

namespace {

std::wstring w(const wchar_t *s) { return s != nullptr ? std::wstring(s) : std::wstring(L"<null>"); }

class TestPlugin : public CFiPluginBase {
public:
    int delayedInit() override {
        ++delayedInitCalls;
        if (reenter) {
            EXPECT_EQ(invokeDelayedInit(), 0);
        }
        return delayedInitResult;
    }
    int delayedInitCalls = 0;
    int delayedInitResult = 0;
    bool reenter = false;
};
using TestPluginPtr = CFiSmartPtr<TestPlugin, CFiNullAllocator>;

TestPluginPtr makePlugin() {
    TestPluginPtr p(new TestPlugin);
    p->setProviderName(W(L"rendo"));
    return p;
}

// ---- delayed initialisation ----

TEST(DelayedInit, AFailureIsReportedOnceAndNeverRetried) {
    TestPluginPtr p = makePlugin();
    p->delayedInitResult = 9;
    EXPECT_FALSE(p->isDelayedInitDone());
    EXPECT_EQ(p->invokeDelayedInit(), 9);
    EXPECT_TRUE(p->isDelayedInitDone());
    EXPECT_EQ(p->invokeDelayedInit(), 0);
    EXPECT_EQ(p->invokeDelayedInit(), 0);
    EXPECT_EQ(p->delayedInitCalls, 1);
}

TEST(DelayedInit, ARecursiveCallFromDelayedInitReturnsAtOnce) {
    TestPluginPtr p = makePlugin();
    p->reenter = true; // the mutex is recursive and the flag is already set
    EXPECT_EQ(p->invokeDelayedInit(), 0);
    EXPECT_EQ(p->delayedInitCalls, 1);
}

TEST(DelayedInit, EachPluginObjectRunsItsOwn) {
    TestPluginPtr a = makePlugin();
    TestPluginPtr b = makePlugin();
    a->invokeDelayedInit();
    EXPECT_FALSE(b->isDelayedInitDone());
    b->invokeDelayedInit();
    EXPECT_EQ(b->delayedInitCalls, 1);
}

TEST(ShuttingDown, OnceSetItStaysSetForTheProcess) {
    // In a child process: the flag is process-wide and cannot be cleared.
    EXPECT_EXIT(
        {
            bool before = CFiPluginBase::isShuttingDown(false);
            bool set = CFiPluginBase::isShuttingDown(true);
            bool after = CFiPluginBase::isShuttingDown(false);
            std::exit(!before && set && after ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(CFiPluginBase::isShuttingDown(false));
}

// ---- defaults ----

TEST(BaseDefaults, EnumerationsNeedTheirListPointerAndClearIt) {
    TestPluginPtr p = makePlugin();
    EXPECT_EQ(p->enumerateNodes(nullptr, nullptr, 0, nullptr), KEL_EINVAL);
    EXPECT_EQ(p->enumerateAssociations(nullptr), KEL_EINVAL);
    EXPECT_EQ(p->enumerateGroupNodes(nullptr), KEL_EINVAL);
    EXPECT_EQ(p->getAssociatedNodes(nullptr, nullptr), KEL_EINVAL);
    EXPECT_EQ(p->enumerateFims(nullptr), 0);

    auto junk = [](auto **pp) { *pp = reinterpret_cast<std::remove_pointer_t<decltype(pp)>>(0x1234); };
    kel_node_list *nodes;
    junk(&nodes);
    EXPECT_EQ(p->enumerateNodes(&nodes, nullptr, 0, nullptr), 0);
    EXPECT_EQ(nodes, nullptr);
    kel_assoc_list *assoc;
    junk(&assoc);
    EXPECT_EQ(p->enumerateAssociations(&assoc), 0);
    EXPECT_EQ(assoc, nullptr);
    kel_group_node_list *groups;
    junk(&groups);
    EXPECT_EQ(p->enumerateGroupNodes(&groups), 0);
    EXPECT_EQ(groups, nullptr);
    kel_fim_list *fims;
    junk(&fims);
    EXPECT_EQ(p->enumerateFims(&fims), 0);
    EXPECT_EQ(fims, nullptr);
    kel_node_list *assocNodes;
    junk(&assocNodes);
    EXPECT_EQ(p->getAssociatedNodes(nullptr, &assocNodes), 0);
    EXPECT_EQ(assocNodes, nullptr);

    long count = 7;
    EXPECT_EQ(p->queryValidSecondaries(nullptr, nullptr, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(p->queryValidSecondaries(nullptr, nullptr, nullptr), 0);
}

TEST(BaseDefaults, UnsupportedOperationsAnswerFourSoTheFrameworkFallsBack) {
    TestPluginPtr p = makePlugin();
    EXPECT_EQ(p->make(nullptr, nullptr, 0, nullptr, nullptr), KEL_ENOTSUP);
    EXPECT_EQ(p->makeSnapshots(CFiSessionPtr()), KEL_ENOTSUP);
    EXPECT_EQ(p->prepare(nullptr, nullptr, 0, 0), KEL_ENOTSUP);
    EXPECT_EQ(p->select(nullptr, nullptr, 0), KEL_ENOTSUP);
    EXPECT_EQ(p->restore(nullptr, nullptr, 0, nullptr, nullptr, 0, nullptr), KEL_ENOTSUP);
    EXPECT_EQ(p->isValidNodeAssociation(nullptr, nullptr), KEL_ENOTSUP);
    EXPECT_EQ(p->checkNodeExistence(nullptr, nullptr), KEL_ENOTSUP);
    // The session-based variants themselves succeed.
    EXPECT_EQ(p->prepareSnapshots(CFiSessionPtr()), 0);
    EXPECT_EQ(p->selectSnapshots(CFiSessionPtr()), 0);
}

TEST(BaseDefaults, GetStatusWritesEightIntoEachOfCountStatuses) {
    TestPluginPtr p = makePlugin();
    long st[5] = {-1, -1, -1, -1, -1};
    EXPECT_EQ(p->getStatus(nullptr, nullptr, 3, nullptr, 0, st), 0);
    EXPECT_EQ(st[0], 8);
    EXPECT_EQ(st[2], 8);
    EXPECT_EQ(st[3], -1);
    long none[1] = {-1};
    EXPECT_EQ(p->getStatus(nullptr, nullptr, 0, nullptr, 0, none), 0);
    EXPECT_EQ(none[0], -1);
    EXPECT_EQ(p->getStatus(nullptr, nullptr, 4, nullptr, 0, nullptr), 0);
    EXPECT_EQ(p->getStatus(nullptr, nullptr, -2, nullptr, 0, none), 0);
    EXPECT_EQ(none[0], -1);
}

TEST(BaseDefaults, AccessBitIsSetAndClearedOnEveryElementOnly) {
    TestPluginPtr p = makePlugin();
    kel_domain d1{}, d2{};
    d1.flags = 0x1;
    d2.flags = 0x40 | 0x80;
    kel_node_subobj_list e3{}; // an element without an object is skipped
    kel_node_subobj_list e2{};
    e2.obj = &d2;
    e2.next = &e3;
    kel_node_subobj_list e1{};
    e1.obj = &d1;
    e1.next = &e2;

    EXPECT_EQ(p->disableAccess(&e1, 0), 0);
    EXPECT_EQ(d1.flags, 0x41u);
    EXPECT_EQ(d2.flags, 0xC0u);
    EXPECT_EQ(p->enableAccess(&e1, 0, 0, 0), 0);
    EXPECT_EQ(d1.flags, 0x1u);
    EXPECT_EQ(d2.flags, 0x80u);
    EXPECT_EQ(d1.state, 0u) << "only the flags word changes";

    EXPECT_EQ(p->enableAccess(nullptr, 0, 0, 0), KEL_EINVAL);
    EXPECT_EQ(p->disableAccess(nullptr, 0), KEL_EINVAL);
}

TEST(BaseDefaults, ProviderStateResetZeroesTheBlobOtherOperationsDoNot) {
    TestPluginPtr p = makePlugin();
    int a = 0, b = 0;
    kel_blob blob{};
    blob.data = &a;
    blob.size = &b;
    blob.kind = 1;
    EXPECT_EQ(p->processProviderState(nullptr, &blob, KEL_PSTATE_SAVE), 0);
    EXPECT_EQ(blob.data, &a);
    EXPECT_EQ(p->processProviderState(nullptr, &blob, KEL_PSTATE_RESET), 0);
    EXPECT_EQ(blob.data, nullptr);
    EXPECT_EQ(blob.size, nullptr);
    EXPECT_EQ(blob.kind, 1u) << "only the two pointer-sized fields";
    EXPECT_EQ(p->processProviderState(nullptr, nullptr, KEL_PSTATE_RESET), 0);
}

TEST(BaseDefaults, SupportsFiTypeWritesZeroThroughTheFourthField) {
    TestPluginPtr p = makePlugin();
    int32_t out = 5;
    kel_domain d{};
    d.fitype_out = &out;
    EXPECT_EQ(p->supportsFiType(&d, const_cast<char *>("x")), 0);
    EXPECT_EQ(out, 0);
    kel_domain none{};
    EXPECT_EQ(p->supportsFiType(&none, nullptr), 0);
    EXPECT_EQ(p->supportsFiType(nullptr, nullptr), 0);
}

TEST(BaseDefaults, ObjctlLeavesTheArgumentsAlone) {
    TestPluginPtr p = makePlugin();
    CFiObjctlArgs args(L"<OBJCTL_ARG_LIST> <I arg=a value=b type=c /> </OBJCTL_ARG_LIST>");
    EXPECT_EQ(p->objctl(W(L"cmd"), args), 0);
    EXPECT_EQ(args.inputs.size(), 1u);
    EXPECT_TRUE(args.outputs.empty());
}

TEST(BaseDefaults, DefaultParameterDescriptionsGoToTheChosenList) {
    TestPluginPtr p = makePlugin();
    CFiConfigParamInfo g0("g0", std::string("x"), CFiConfigParamInfo::AUTO, "MSG_G0", false, false);
    CFiConfigParamInfo a1("a1", 3, CFiConfigParamInfo::SELECT, 0, 9, "MSG_A1", false, false);
    p->addDefaultConfigInfoParam(g0, 0, false);
    p->addDefaultConfigInfoParam(a1, 1, true);
    EXPECT_NE(p->globalConfigInfoList(0, false).getParamInfo("g0"), nullptr);
    EXPECT_TRUE(p->globalConfigInfoList(1, false).empty());
    EXPECT_TRUE(p->globalConfigInfoList(0, true).empty());
    EXPECT_NE(p->globalConfigInfoList(1, true).getParamInfo("a1"), nullptr);
    // An index out of range selects list 1 rather than reading past the pair.
    EXPECT_EQ(&p->globalConfigInfoList(7, true), &p->globalConfigInfoList(1, true));
    EXPECT_EQ(&p->globalConfigInfoList(-1, false), &p->globalConfigInfoList(1, false));
}

// ---- operations backed by the registered managers ----

TEST(BaseManagers, WithoutManagersTheOperationsAnswerSafely) {
    TestPluginPtr p = makePlugin();
    kel_msg_info *info = reinterpret_cast<kel_msg_info *>(0x1);
    EXPECT_EQ(p->getLastError(&info), 0);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(p->getLastError(nullptr), KEL_EINVAL);
    EXPECT_EQ(p->delLastError(&info), 0);

    const wchar_t *text = L"stale";
    EXPECT_EQ(p->errMsg(1, &text), KEL_EINVAL);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(p->errMsg(1, nullptr), KEL_EINVAL);

    wchar_t *loc = reinterpret_cast<wchar_t *>(0x1);
    kel_msg_info rec{"x", 1};
    EXPECT_EQ(p->getLocaleMessage(nullptr, &rec, "native", &loc), KEL_EINVAL);
    EXPECT_EQ(loc, nullptr);
    EXPECT_EQ(p->delLocaleMessage(&loc), 0);
    EXPECT_EQ(p->delLocaleMessage(nullptr), 0);

    kel_domain d{};
    kel_confspec confspec{1, 1, nullptr};
    EXPECT_EQ(p->config(&d, 1, nullptr, &confspec), KEL_EINVAL);
    EXPECT_EQ(p->reAccessTmpObj(&d, nullptr, nullptr, nullptr, nullptr, KEL_INTENT_READ), 0);
    p->deInitNode(&d);
}

TEST(ErrMsg, CodesAboveTheOffsetShareTheIdentifierOfTheReducedCode) {
    TestPluginPtr p = makePlugin();
    CFiMessageCatalogManagerPtr catalogs(new CFiMessageCatalogManager);
    p->registerCatalogManager(catalogs);

    // No factory is registered: the catalog answers the identifier in angle brackets.
    const wchar_t *t6001 = nullptr;
    const wchar_t *t1 = nullptr;
    const wchar_t *t5 = nullptr;
    ASSERT_EQ(p->errMsg(6001, &t6001), 0);
    EXPECT_EQ(w(t6001), L"<MSG_ERROR_RENDO_0001>");
    std::wstring kept(t6001);
    ASSERT_EQ(p->errMsg(5, &t5), 0);
    ASSERT_EQ(p->errMsg(1, &t1), 0);
    EXPECT_EQ(w(t1), L"<MSG_ERROR_RENDO_0001>");
    EXPECT_EQ(w(t5), L"<MSG_ERROR_RENDO_0005>");
    // Earlier texts stay readable after later calls.
    EXPECT_EQ(w(t6001), kept);

    const wchar_t *t6000 = nullptr;
    p->errMsg(6000, &t6000);
    EXPECT_EQ(w(t6000), L"<MSG_ERROR_RENDO_6000>");
    const wchar_t *t12345 = nullptr;
    p->errMsg(12345, &t12345);
    EXPECT_EQ(w(t12345), L"<MSG_ERROR_RENDO_6345>");
}

TEST(ErrMsg, TextsComeFromTheBundleOfTheNativeLanguage) {
    std::string root = rendo_test::makeInstallRoot("errmsg");
    {
        TestPluginPtr p = makePlugin();
        CFiMessageCatalogManagerPtr catalogs(new CFiMessageCatalogManager);
        catalogs->registerFactory(new CFiIcuMessageCatalogFactory("root", W(L"rendo")));
        p->registerCatalogManager(catalogs);

        const wchar_t *ok = nullptr;
        ASSERT_EQ(p->errMsg(0, &ok), 0);
        EXPECT_EQ(w(ok), L"rendo: The operation completed successfully.");
        const wchar_t *missing = nullptr;
        // A code the bundle has no text for shows its identifier.
        ASSERT_EQ(p->errMsg(28, &missing), 0);
        EXPECT_EQ(w(missing), L"rendo: <MSG_ERROR_RENDO_0028>");
        const wchar_t *known = nullptr;
        ASSERT_EQ(p->errMsg(29, &known), 0);
        EXPECT_EQ(w(known), L"rendo: The initialisation of the provider failed. See the trace file for the cause.");
    }
    rendo_test::removeTree(root);
}

TEST(BaseManagers, LastErrorIsTheThreadsMessageUntilDeleted) {
    TestPluginPtr p = makePlugin();
    CFiErrorManagerPtr errors(new CFiErrorManager);
    p->registerErrorManager(errors);

    kel_msg_info *info = reinterpret_cast<kel_msg_info *>(0x1);
    EXPECT_EQ(p->getLastError(&info), 0);
    EXPECT_EQ(info, nullptr);

    pushMessage(errors, "MSG_ERROR_RENDO_0006", {}, KEL_SEV_ERROR, "file", 12);
    ASSERT_EQ(p->getLastError(&info), 0);
    ASSERT_NE(info, nullptr);
    std::string text(info->text, info->length);
    EXPECT_NE(text.find("MSGID=MSG_ERROR_RENDO_0006"), std::string::npos) << text;

    EXPECT_EQ(p->delLastError(&info), 0);
    EXPECT_EQ(p->getLastError(&info), 0);
    EXPECT_EQ(info, nullptr);
}

// ---- trace lines ----

class TracedTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = rendo_test::makeInstallRoot("pbtrace");
        log_ = CFiTraceLogPtr(new CFiTraceLog);
        // An explicit directory and file name put level 6 into the trace settings.
        log_->initialize(W(L"rendo"), CFiStringTool::toWide(root_ + "Logs"), W(L"pbtest"), 6, false);
        ASSERT_TRUE(log_->isInitialized());
        plugin_ = makePlugin();
        plugin_->setTraceLog(log_);
    }
    void TearDown() override {
        plugin_.reset();
        log_.reset();
        rendo_test::removeTree(root_);
    }
    std::string traced() { return rendo_test::readFile(CFiStringTool::toNarrow(log_->tracePath())); }

    std::string root_;
    CFiTraceLogPtr log_;
    TestPluginPtr plugin_;
};

TEST_F(TracedTest, DefaultsTraceTheirScopeAndSetOwnerIdsItsLine) {
    plugin_->getStatus(nullptr, nullptr, 0, nullptr, 0, nullptr);
    EXPECT_EQ(plugin_->setOwnerIds("owner", 1, 2), 0);
    std::string t = traced();
    EXPECT_NE(t.find("kelm_pdk_4_4::CFiPluginBase::getStatus"), std::string::npos) << t;
    EXPECT_NE(t.find("INFO: setOwnerIds done"), std::string::npos) << t;
    // delayedInit has no scope of its own.
    plugin_->invokeDelayedInit();
    EXPECT_EQ(traced().find("CFiPluginBase::delayedInit"), std::string::npos);
}

} // namespace

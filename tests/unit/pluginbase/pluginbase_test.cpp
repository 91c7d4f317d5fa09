// Defaults of the plug-in base, delayed initialisation, errMsg and the
// manager-backed operations.
#include "pdk/cfipluginbase.h"

#include "wide.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kelm_pdk_4_4;
using pbtest::W;

namespace {


class TestPlugin : public CFiPluginBase {
public:
    int delayedInit() override {
        ++delayedInitCalls;
        EXPECT_TRUE(!reenter || invokeDelayedInit() == 0);
        return 0;
    }
    int delayedInitCalls = 0;
    bool reenter = false;
};
using TestPluginPtr = CFiSmartPtr<TestPlugin, CFiNullAllocator>;

TestPluginPtr makePlugin() {
    TestPluginPtr p(new TestPlugin);
    p->setProviderName(W(L"rendo"));
    return p;
}

// ---- delayed initialisation ----

TEST(DelayedInit, ARecursiveCallFromDelayedInitReturnsAtOnce) {
    TestPluginPtr p = makePlugin();
    p->reenter = true; // the mutex is recursive and the flag is already set
    EXPECT_EQ(p->invokeDelayedInit(), 0);
    EXPECT_EQ(p->delayedInitCalls, 1);
}

// ---- defaults ----

TEST(BaseDefaults, EnumerationsNeedTheirListPointerAndClearIt) {
    TestPluginPtr p = makePlugin();
    EXPECT_EQ(p->enumerateGroupNodes(nullptr), KEL_EINVAL);
    EXPECT_EQ(p->enumerateFims(nullptr), 0);

    // Each list pointer starts as junk and must come back null.
    auto cleared = [](auto call, auto *junk) {
        auto *list = junk;
        return call(&list) == 0 && list == nullptr;
    };
    auto *j = reinterpret_cast<char *>(0x1234);
    EXPECT_TRUE(cleared([&](kel_node_list **l) { return p->enumerateNodes(l, nullptr, 0, nullptr); },
                        reinterpret_cast<kel_node_list *>(j)));
    EXPECT_TRUE(cleared([&](kel_assoc_list **l) { return p->enumerateAssociations(l); },
                        reinterpret_cast<kel_assoc_list *>(j)));
    EXPECT_TRUE(cleared([&](kel_group_node_list **l) { return p->enumerateGroupNodes(l); },
                        reinterpret_cast<kel_group_node_list *>(j)));
    EXPECT_TRUE(cleared([&](kel_fim_list **l) { return p->enumerateFims(l); }, reinterpret_cast<kel_fim_list *>(j)));
    EXPECT_TRUE(cleared([&](kel_node_list **l) { return p->getAssociatedNodes(nullptr, l); },
                        reinterpret_cast<kel_node_list *>(j)));

    long count = 7;
    EXPECT_EQ(p->queryValidSecondaries(nullptr, nullptr, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(p->queryValidSecondaries(nullptr, nullptr, nullptr), 0);
}

// Writes 8 into each of count statuses, never past count.
TEST(BaseDefaults, GetStatusWritesOnlyCountStatuses) {
    TestPluginPtr p = makePlugin();
    long st[4] = {-1, -1, -1, -1};
    EXPECT_EQ(p->getStatus(nullptr, nullptr, 3, nullptr, 0, st), 0);
    EXPECT_EQ((std::vector<long>{8, 8, 8, -1}), std::vector<long>(st, st + 4));
    EXPECT_EQ(p->getStatus(nullptr, nullptr, -2, nullptr, 0, st + 3), 0);
    EXPECT_EQ(st[3], -1);
    EXPECT_EQ(p->getStatus(nullptr, nullptr, 4, nullptr, 0, nullptr), 0);
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
    kel_blob blob{&b, &a, 1, 0};
    EXPECT_EQ(p->processProviderState(nullptr, &blob, KEL_PSTATE_SAVE), 0);
    EXPECT_EQ(blob.data, &a);
    EXPECT_EQ(p->processProviderState(nullptr, &blob, KEL_PSTATE_RESET), 0);
    EXPECT_TRUE(blob.data == nullptr && blob.size == nullptr && blob.kind == 1u) << "only the two pointer fields";
    EXPECT_EQ(p->processProviderState(nullptr, nullptr, KEL_PSTATE_RESET), 0);
}

TEST(BaseDefaults, DefaultParameterDescriptionsGoToTheChosenList) {
    TestPluginPtr p = makePlugin();
    CFiConfigParamInfo a1("a1", 3, CFiConfigParamInfo::SELECT, 0, 9, "MSG_A1", false, false);
    p->addDefaultConfigInfoParam(a1, 1, true);
    EXPECT_NE(p->globalConfigInfoList(1, true).getParamInfo("a1"), nullptr);
    EXPECT_TRUE(p->globalConfigInfoList(1, false).empty());
    EXPECT_TRUE(p->globalConfigInfoList(0, true).empty());
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

} // namespace

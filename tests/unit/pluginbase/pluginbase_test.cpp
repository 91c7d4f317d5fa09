// Defaults of the plug-in base, delayed initialisation and the
// manager-backed operations.
#include "pdk/cfipluginbase.h"

#include "wide.h"

#include <gtest/gtest.h>

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

struct BaseDefaults : ::testing::Test {
    void SetUp() override { p->setProviderName(W(L"rendo")); }
    CFiSmartPtr<TestPlugin, CFiNullAllocator> p{new TestPlugin};
};

TEST_F(BaseDefaults, ARecursiveCallFromDelayedInitReturnsAtOnce) {
    p->reenter = true; // the mutex is recursive and the flag is already set
    EXPECT_EQ(p->invokeDelayedInit(), 0);
    EXPECT_EQ(p->delayedInitCalls, 1);
}

// Each list pointer starts as junk and must come back null: the framework
// would free whatever is left there.
TEST_F(BaseDefaults, EnumerationsNeedTheirListPointerAndClearIt) {
    EXPECT_EQ(p->enumerateGroupNodes(nullptr), KEL_EINVAL);
    EXPECT_EQ(p->enumerateFims(nullptr), 0);
    void *lists[5];
    for (void *&l : lists) l = reinterpret_cast<void *>(0x1234);
    EXPECT_EQ(p->enumerateNodes(reinterpret_cast<kel_node_list **>(&lists[0]), nullptr, 0, nullptr), 0);
    EXPECT_EQ(p->enumerateAssociations(reinterpret_cast<kel_assoc_list **>(&lists[1])), 0);
    EXPECT_EQ(p->enumerateGroupNodes(reinterpret_cast<kel_group_node_list **>(&lists[2])), 0);
    EXPECT_EQ(p->enumerateFims(reinterpret_cast<kel_fim_list **>(&lists[3])), 0);
    EXPECT_EQ(p->getAssociatedNodes(nullptr, reinterpret_cast<kel_node_list **>(&lists[4])), 0);
    EXPECT_EQ(std::vector<void *>(lists, lists + 5), std::vector<void *>(5, nullptr));
    long count = 7;
    EXPECT_EQ(p->queryValidSecondaries(nullptr, nullptr, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(p->queryValidSecondaries(nullptr, nullptr, nullptr), 0);
}

// Writes 8 into each of count statuses, never past count.
TEST_F(BaseDefaults, GetStatusWritesOnlyCountStatuses) {
    long st[4] = {-1, -1, -1, -1};
    EXPECT_EQ(p->getStatus(nullptr, nullptr, 3, nullptr, 0, st), 0);
    EXPECT_EQ(p->getStatus(nullptr, nullptr, -2, nullptr, 0, st + 3), 0);
    EXPECT_EQ((std::vector<long>{8, 8, 8, -1}), std::vector<long>(st, st + 4));
    EXPECT_EQ(p->getStatus(nullptr, nullptr, 4, nullptr, 0, nullptr), 0);
}

// Which list a description goes to is the config tests' (getparam on an
// alternate node); an index out of range selects list 1 rather than reading
// past the pair.
TEST_F(BaseDefaults, DescriptionListIndexOutOfRangeSelectsListOne) {
    EXPECT_EQ(&p->globalConfigInfoList(7, true), &p->globalConfigInfoList(1, true));
    EXPECT_EQ(&p->globalConfigInfoList(-1, false), &p->globalConfigInfoList(1, false));
}

// Without managers the out-pointers still come back null (the framework
// would free what is left there) and nothing is dereferenced.
TEST_F(BaseDefaults, WithoutManagersTheOperationsAnswerSafely) {
    kel_msg_info *info = reinterpret_cast<kel_msg_info *>(0x1);
    EXPECT_EQ(p->getLastError(&info), 0);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(p->getLastError(nullptr), KEL_EINVAL);
    wchar_t *loc = reinterpret_cast<wchar_t *>(0x1);
    kel_msg_info rec{"x", 1};
    EXPECT_EQ(p->getLocaleMessage(nullptr, &rec, "native", &loc), KEL_EINVAL);
    EXPECT_EQ(loc, nullptr);
    EXPECT_EQ(p->delLocaleMessage(&loc) + p->delLocaleMessage(nullptr) + p->delLastError(&info), 0);
    kel_domain d{};
    EXPECT_EQ(p->reAccessTmpObj(&d, nullptr, nullptr, nullptr, nullptr, KEL_INTENT_READ), 0);
    p->deInitNode(&d);
}

} // namespace

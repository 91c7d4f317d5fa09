// The reservation log manager: what init gives it, and its use from
// several threads.
#include "pgr_test_support.h"

#include <atomic>
#include <thread>

namespace {

using namespace kelm_pdk_4_4;

class PgrLogManager : public pgr_test::ProviderFixture {};

TEST_F(PgrLogManager, InitHandsItTheProvidersLog) {
    ASSERT_FALSE(provider->reservationLogManager().isNull());
    EXPECT_EQ(log.get(), provider->reservationLogManager()->getTraceLog().get());
    // The provider holds the process-wide one.
    EXPECT_EQ(CPGRLogManagerSingleton::instance().get(), provider->reservationLogManager().get());
}

TEST(PgrLogManagerConcurrency, SetAndGetFromManyThreads) {
    CPGRLogManagerPtr manager(new CPGRLogManager);
    CFiTraceLogPtr logs[2] = {CFiTraceLogPtr(new CFiTraceLog), CFiTraceLogPtr(new CFiTraceLog)};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if (t % 2 == 0) {
                    manager->setTraceLog(logs[i % 2]);
                } else {
                    CFiTraceLog *seen = manager->getTraceLog().get();
                    if (seen != nullptr && seen != logs[0].get() && seen != logs[1].get()) ++wrong;
                }
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(0, wrong.load());
    manager->setTraceLog(CFiTraceLogPtr());
    // Only this test's references are left.
    EXPECT_EQ(1, logs[0]->getCount());
    EXPECT_EQ(1, logs[1]->getCount());
}

} // namespace

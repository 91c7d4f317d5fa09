// The process shares one reservation tool: threads derive keys while the
// provider hands the tool a new trace log and the holder is released and
// re-created.
#include "pgrtool_fixture.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace pgrtool_test {
namespace {

using namespace kelm_pdk_4_4;

using PgrToolConcurrency = PgrToolTest;

TEST_F(PgrToolConcurrency, EveryThreadGetsTheSameTool) {
    constexpr int kThreads = 8;
    std::vector<CPGRTool *> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen] { seen[t] = CPGRToolSingleton::instance(false).get(); });
    }
    for (std::thread &th : threads) th.join();
    CPGRToolPtr shared = CPGRToolSingleton::instance(false);
    for (CPGRTool *p : seen) EXPECT_EQ(shared.get(), p);
}

TEST_F(PgrToolConcurrency, KeysStayRightWhileTheLogIsSwappedAndTheHolderReleased) {
    setComputerName("10.20.30.40"); // before the threads: the environment is not locked
    CFiTraceLogPtr other = makeLog();
    constexpr int kThreads = 6;
    constexpr int kRounds = 150;
    std::atomic<int> wrong{0};
    std::atomic<bool> done{false};
    CPGRToolSingleton::instance(false)->setTraceLog(log);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&wrong] {
            for (int i = 0; i < kRounds; ++i) {
                CPGRToolPtr tool = CPGRToolSingleton::instance(false);
                if (tool.isNull()) continue;
                if (tool->getKeyForHost() != "0a141e28") ++wrong;
                std::string ip;
                tool->getHostForKey("0a0000zz", ip);
                if (!ip.empty()) ++wrong;
                if (tool->getCharKey(tool->getNumKey("0a141e28")) != "0a141e28") ++wrong;
            }
        });
    }
    std::thread swapper([this, &other, &done] {
        for (int i = 0; !done.load(); ++i) {
            if (i % 5 == 4) CPGRToolSingleton::instance(true);
            CPGRToolPtr tool = CPGRToolSingleton::instance(false);
            if (!tool.isNull()) tool->setTraceLog(i % 2 == 0 ? log : other);
            std::this_thread::yield();
        }
    });
    for (std::thread &th : threads) th.join();
    done = true;
    swapper.join();
    EXPECT_EQ(0, wrong.load());
    // Every thread traced through one of the two logs.
    std::vector<TraceLine> seen = lines();
    EXPECT_GT(count(seen, KEL_SEV_INFO, "Generated Key [0a141e28] from IP[10.20.30.40] for host [10.20.30.40]."), 0);
    CPGRToolSingleton::instance(false)->setTraceLog(CFiTraceLogPtr());
}

} // namespace
} // namespace pgrtool_test

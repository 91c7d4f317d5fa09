// Several framework threads arriving at once.
#include "ep_fixture.h"

#include <atomic>
#include <thread>

namespace {

using namespace ep_test;

class EntryPointsConcurrency : public EntryPointTest {
protected:
    static constexpr int kThreads = 8;

    // Starts kThreads threads together on init_node; returns their results.
    std::vector<int> raceInitNode(ProviderLibrary &lib) {
        std::vector<int> results(kThreads, -1);
        std::vector<kel_domain> nodes(kThreads);
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                ++ready;
                while (ready.load() < kThreads) std::this_thread::yield();
                results[i] = lib.ep().init_node(&nodes[i], nullptr, 0, nullptr);
            });
        }
        for (auto &t : threads) t.join();
        return results;
    }
};

// The first delayed initialisation runs once while the others wait; when it
// fails, only the thread that ran it sees the failure.
TEST_F(EntryPointsConcurrency, FirstDelayedInitRunsOnceWhileTheOthersWait) {
    ProviderLibrary &lib = ProviderLibrary::testpgn();
    for (int result : {0, 29}) {
        SCOPED_TRACE(result);
        lib.control()->reset();
        ASSERT_EQ(0, start(lib));
        lib.control()->delayedInitSleepMs = 50;
        lib.control()->delayedInitMode = result != 0 ? kDelayedInitReturn : kDelayedInitReal;
        lib.control()->delayedInitResult = result;
        int failed = 0;
        for (int rc : raceInitNode(lib)) {
            EXPECT_TRUE(rc == 0 || rc == KEL_EDELAYEDINIT) << rc;
            failed += rc == KEL_EDELAYEDINIT;
        }
        EXPECT_EQ(result != 0 ? 1 : 0, failed);
        EXPECT_EQ(1, lib.control()->delayedInitCalls.load());
    }
}

TEST_F(EntryPointsConcurrency, ThreadsKeepTheirOwnLastErrorAndTexts) {
    traceAtLevel(6); // every call also forwards trace lines from all threads
    ProviderLibrary &lib = ProviderLibrary::rendo();
    ASSERT_EQ(0, start(lib, "de"));
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            for (int n = 0; n < 20; ++n) {
                const wchar_t *text = nullptr;
                if (lib.ep().errmsg(i % 2 == 0 ? 5 : 29, &text) != 0 || text == nullptr) ++bad;
                kel_msg_info *last = nullptr;
                if (lib.ep().get_last_error(&last) != 0 || last != nullptr) ++bad; // nobody failed here
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(0, bad.load());
}

} // namespace

// Thread tests of the plug-in base, sessions and reference counts (run under
// the thread sanitizer by CI: the suite name carries "Concurrency").
#include "pdk/cfipluginbase.h"

#include "wide.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace kelm_pdk_4_4;
using pbtest::W;

namespace {

constexpr int kThreads = 8;

// Releases every thread at once, so they really race.
class StartLine {
public:
    explicit StartLine(int n) : waiting_(n) {}
    void arriveAndWait() {
        waiting_.fetch_sub(1);
        while (waiting_.load() > 0) std::this_thread::yield();
    }

private:
    std::atomic<int> waiting_;
};

class SlowInitPlugin : public CFiPluginBase {
public:
    int delayedInit() override {
        calls.fetch_add(1);
        // Long enough that the other threads arrive while it runs.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finished.store(true);
        return 17;
    }
    std::atomic<int> calls{0};
    std::atomic<bool> finished{false};
};

TEST(PluginBaseConcurrency, DelayedInitRunsOnceAndTheOthersWaitThenGetZero) {
    CFiSmartPtr<SlowInitPlugin, CFiNullAllocator> plugin(new SlowInitPlugin);
    StartLine start(kThreads);
    std::vector<int> results(kThreads, -1);
    std::vector<char> sawFinished(kThreads, 0);  // not vector<bool>: its bits share words across threads
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arriveAndWait();
            results[i] = plugin->invokeDelayedInit();
            sawFinished[i] = plugin->finished.load();
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(plugin->calls.load(), 1);
    int failures = 0;
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_TRUE(results[i] == 0 || results[i] == 17) << results[i];
        if (results[i] == 17) ++failures;
        EXPECT_TRUE(sawFinished[i]) << "thread " << i << " returned before delayed init finished";
    }
    EXPECT_EQ(failures, 1) << "only the thread that ran it sees its result";
}

TEST(PluginBaseConcurrency, SessionManagerGivesEveryThreadTheSameSessionPerName) {
    CFiSessionManager mgr;
    StartLine start(kThreads);
    std::vector<std::vector<CFiSession *>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arriveAndWait();
            for (int round = 0; round < 200; ++round) {
                std::string name = "ctx-" + std::to_string(round % 10);
                CFiSessionPtr s = mgr.getSession(name.c_str());
                s->addNode(W(L"node"), "k" + std::to_string(i));
                s->getNode("node-" + std::to_string(i));
                if (round < 10) seen[i].push_back(s.get());
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(mgr.size(), 10u);
    for (int i = 1; i < kThreads; ++i) EXPECT_EQ(seen[i], seen[0]);
    CFiSessionPtr s = mgr.getSession("ctx-3");
    EXPECT_EQ(s->nodes().size(), static_cast<size_t>(kThreads) + 1);
}

struct Shared : public virtual CFiRefCount {
    static std::atomic<int> destroyed;
    ~Shared() override { destroyed.fetch_add(1); }
    int payload = 99;
};
std::atomic<int> Shared::destroyed{0};

TEST(PluginBaseConcurrency, CopiesAcrossThreadsKeepTheCountAndDeleteOnce) {
    using SharedPtr = CFiSmartPtr<Shared, CFiNullAllocator>;
    SharedPtr original(new Shared);
    StartLine start(kThreads);
    std::atomic<int> badPayload{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        SharedPtr mine = original; // each thread owns its own copy
        threads.emplace_back([&, mine]() mutable {
            start.arriveAndWait();
            for (int k = 0; k < 2000; ++k) {
                SharedPtr a = mine;
                SharedPtr b;
                b = a;
                if (b->payload != 99) badPayload.fetch_add(1);
            }
            mine.reset();
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(badPayload.load(), 0);
    EXPECT_EQ(original->getCount(), 1);
    EXPECT_EQ(Shared::destroyed.load(), 0);
    original.reset();
    EXPECT_EQ(Shared::destroyed.load(), 1);
}

struct RacySingleton : public virtual CFiRefCount {
    static std::atomic<int> live;
    RacySingleton() { live.fetch_add(1); }
    ~RacySingleton() override { live.fetch_sub(1); }
};
std::atomic<int> RacySingleton::live{0};

TEST(PluginBaseConcurrency, SingletonGetAndReleaseFromManyThreads) {
    StartLine start(kThreads);
    std::atomic<int> empties{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arriveAndWait();
            for (int k = 0; k < 500; ++k) {
                if ((k + i) % 7 == 0) {
                    CFiSingleton<RacySingleton>::instance(true);
                } else {
                    auto p = CFiSingleton<RacySingleton>::instance();
                    if (p.isNull()) empties.fetch_add(1);
                }
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(empties.load(), 0);
    CFiSingleton<RacySingleton>::instance(true);
    EXPECT_EQ(RacySingleton::live.load(), 0) << "every released object was deleted";
}

} // namespace

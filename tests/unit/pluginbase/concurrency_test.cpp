// Thread tests of the plug-in base, sessions and reference counts (run under
// the thread sanitizer by CI: the suite name carries "Concurrency").
#include "pdk/cfipluginbase.h"

#include "wide.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace kelm_pdk_4_4;
using pbtest::W;

namespace {

constexpr int kThreads = 8;

// Runs body(i) on kThreads threads released all at once, so they really race.
void race(const std::function<void(int)> &body) {
    std::atomic<int> waiting{kThreads};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();
            body(i);
        });
    for (auto &t : threads) t.join();
}

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
    std::atomic<int> failures{0}, zeros{0}, early{0};
    race([&](int) {
        int rc = plugin->invokeDelayedInit();
        if (rc == 17 || rc == 0) (rc == 17 ? failures : zeros).fetch_add(1);
        if (!plugin->finished.load()) early.fetch_add(1); // returned before delayed init finished
    });
    EXPECT_EQ(plugin->calls.load(), 1);
    EXPECT_EQ(failures.load(), 1) << "only the thread that ran it sees its result";
    EXPECT_EQ(zeros.load(), kThreads - 1);
    EXPECT_EQ(early.load(), 0);
}

TEST(PluginBaseConcurrency, SessionManagerGivesEveryThreadTheSameSessionPerName) {
    CFiSessionManager mgr;
    std::vector<std::vector<CFiSession *>> seen(kThreads);
    race([&](int i) {
        for (int round = 0; round < 200; ++round) {
            CFiSessionPtr s = mgr.getSession(("ctx-" + std::to_string(round % 10)).c_str());
            s->addNode(W(L"node"), "k" + std::to_string(i));
            s->getNode("node-" + std::to_string(i));
            if (round < 10) seen[i].push_back(s.get());
        }
    });
    EXPECT_EQ(mgr.size(), 10u);
    for (int i = 1; i < kThreads; ++i) EXPECT_EQ(seen[i], seen[0]);
    EXPECT_EQ(mgr.getSession("ctx-3")->nodes().size(), static_cast<size_t>(kThreads) + 1);
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
    std::vector<SharedPtr> mine(kThreads, original); // each thread owns its own copy
    std::atomic<int> badPayload{0};
    race([&](int i) {
        for (int k = 0; k < 2000; ++k) {
            SharedPtr a = mine[i], b;
            b = a;
            if (b->payload != 99) badPayload.fetch_add(1);
        }
        mine[i].reset();
    });
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
    std::atomic<int> empties{0};
    race([&](int i) {
        for (int k = 0; k < 500; ++k) {
            if ((k + i) % 7 == 0)
                CFiSingleton<RacySingleton>::instance(true);
            else if (CFiSingleton<RacySingleton>::instance().isNull())
                empties.fetch_add(1);
        }
    });
    EXPECT_EQ(empties.load(), 0);
    CFiSingleton<RacySingleton>::instance(true);
    EXPECT_EQ(RacySingleton::live.load(), 0) << "every released object was deleted";
}

} // namespace

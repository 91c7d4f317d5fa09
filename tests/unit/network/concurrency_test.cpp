// The helpers copy the resolver's answers out of per-call storage, so
// threads looking up different hosts at once each get their own answer.
#include "pdk/cfinetwork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kelm_pdk_4_4;

TEST(NetworkConcurrency, ParallelLookupsKeepTheirOwnAnswers) {
    std::string loopback;
    ASSERT_EQ(0, CFiNetwork::getHostbyName("localhost", loopback));
    constexpr int kThreads = 8;
    constexpr int kRounds = 200;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &loopback, &wrong] {
            // Each thread has a numeric name of its own next to the shared one.
            std::string own = "10.0." + std::to_string(t) + ".1";
            for (int i = 0; i < kRounds; ++i) {
                std::string a;
                if (CFiNetwork::getHostbyName(own.c_str(), a) != 0 || a != own) ++wrong;
                std::string b;
                if (CFiNetwork::getHostbyName("localhost", b) != 0 || b != loopback) ++wrong;
                std::string name;
                if (CFiNetwork::getHostbyAddr(loopback.c_str(), name) != 0 || name != "localhost") ++wrong;
                if (!CFiNetwork::compare(loopback.c_str(), CFiNetwork::resolve("localhost"))) ++wrong;
            }
        });
    }
    for (std::thread &th : threads) th.join();
    EXPECT_EQ(0, wrong.load());
}

} // namespace

// Several framework threads arriving at once.
#include "ep_fixture.h"

#include <atomic>
#include <thread>

namespace {

using namespace ep_test;

// One delayed initialisation while the others wait: PluginBaseConcurrency,
// on the base that runs it for every entry point.
using EntryPointsConcurrency = EntryPointTest;

TEST_F(EntryPointsConcurrency, ThreadsKeepTheirOwnLastErrorAndTexts) {
    traceAtLevel(6); // every call also forwards trace lines from all threads
    ProviderLibrary &lib = ProviderLibrary::rendo();
    ASSERT_EQ(0, start(lib, "de"));
    constexpr int kThreads = 8;
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

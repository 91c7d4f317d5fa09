// Several framework threads pushing errors, reading last errors and fetching
// and deleting localized texts at once. Run under the thread sanitizer.
#include "pdk/cfierror.h"
#include "pdk/cfimessagecatalog.h"
#include "pdk/cfistringtool.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <unicode/unistr.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace kelm_pdk_4_4;

using icu::Formattable;
using icu::UnicodeString;

namespace {

std::atomic<int> g_callbacks{0};

void countingCallback(kel_pgn_init *, const wchar_t *native, const wchar_t *defaultText, int) {
    if (native != nullptr && defaultText != nullptr) g_callbacks.fetch_add(1);
}

class ErrorsConcurrency : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(root.empty()); }
    void TearDown() override { rendo_test::removeTree(root); }
    std::string root = rendo_test::makeInstallRoot("errors-mt");
    CFiMessageCatalogManagerPtr catalogs{new CFiMessageCatalogManager};
    CFiErrorManagerPtr errors{new CFiErrorManager};
};

} // namespace

TEST_F(ErrorsConcurrency, ThreadsPushFetchLocalizeAndDelete) {
    g_callbacks = 0;
    char de[] = "de";
    char *native = de;
    kel_pgn_init init{};
    init.callback = countingCallback;
    init.native_language = &native;
    CFiErrorHandler handler(&init, catalogs);
    errors->registerHandler(&handler);
    catalogs->setNativeLanguage("de");
    // The factory arrives while threads already run: lookups before it use
    // the fallback, lookups after it the bundles.
    std::atomic<bool> go{false};
    const int kThreads = 6;
    const int kRounds = 40;
    std::atomic<int> failures{0};

    auto worker = [&](int t) {
        while (!go) std::this_thread::yield();
        const char *languages[] = {"", "de", "native", "fr", "de_AT"};
        for (int i = 0; i < kRounds; ++i) {
            std::string id = "MSG_T" + std::to_string(t) + "_" + std::to_string(i);
            Formattable args[] = {Formattable(UnicodeString::fromUTF8(id)), Formattable(static_cast<int32_t>(i))};
            errors->pushError(CFiMessagePtr(new CFiIcuMessage(id, args, 2, KEL_SEV_ERROR, "f", i)));
            errors->pushError("trace line of " + id, KEL_SEV_INFO);

            const kel_msg_info *last = errors->getLastError();
            if (last == nullptr || CFiIcuMessage(last).messageId() != id) ++failures;

            wchar_t *text = nullptr;
            catalogs->getLocalizedMessage("MSG_ERROR_RENDO_0005", languages[(t + i) % 5], &text);
            if (text == nullptr || *text == L'\0') ++failures;
            wchar_t *record = nullptr;
            catalogs->getLocalizedMessage(last, languages[i % 5], &record);
            if (record == nullptr) ++failures;
            catalogs->deleteLocalizedMessage(&text);
            catalogs->deleteLocalizedMessage(&record);
            if (i % 7 == 0) errors->deleteLastError(nullptr);
        }
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(worker, t);
    go = true;
    catalogs->registerFactory(new CFiIcuMessageCatalogFactory("root", CFiStringTool::toWide("rendo")));
    for (auto &th : threads) th.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(g_callbacks.load(), kThreads * kRounds * 2);
    errors->unregisterHandler(&handler);
}

TEST_F(ErrorsConcurrency, HandlersComeAndGoWhileThreadsPush) {
    // A call into a deleted handler reads its freed vtable pointer: the
    // sanitizer runs see it.
    struct Idle : CFiErrorHandlerBase {
        int handleText(const std::string &, kel_eseverity) override { return 0; }
        int handleMessage(const CFiMessagePtr &) override { return 0; }
    };
    std::atomic<bool> stop{false};
    std::vector<std::thread> pushers;
    for (int t = 0; t < 3; ++t)
        pushers.emplace_back([&] {
            while (!stop) errors->pushError("line", KEL_SEV_INFO);
        });
    for (int i = 0; i < 200; ++i) {
        // Deleting the handler right after removal must be safe: no pusher
        // may still be inside it.
        auto *h = new Idle;
        errors->registerHandler(h);
        std::this_thread::yield();
        errors->unregisterHandler(h);
        delete h;
    }
    stop = true;
    for (auto &th : pushers) th.join();
}

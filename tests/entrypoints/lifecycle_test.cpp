// Start and stop: the init record and result-version record, the order of
// rendo_fi_pgn_fini, the error handler across restarts, delayed initialisation.
#include "ep_fixture.h"

#include <algorithm>

namespace {

using namespace ep_test;

using Lifecycle = EntryPointTest;

// Before init there are no managers; init needs the result-version record
// (without it nothing starts, not even the trace log, which would write its
// settings) and fills it, but not the init record: then nothing is forwarded.
TEST_F(Lifecycle, InitNeedsTheVersionRecordNotTheInitRecord) {
    ProviderLibrary &lib = ProviderLibrary::rendo();
    const wchar_t *text = L"x";
    EXPECT_EQ(KEL_EINVAL, lib.ep().errmsg(29, &text));
    EXPECT_EQ(nullptr, text);
    lib.ep().fini();
    InitRecord record;
    EXPECT_EQ(7, ProviderLibrary::testpgn().ep().init(record.get(), nullptr));
    EXPECT_EQ(0, ProviderLibrary::testpgn().control()->initCalls.load());
    EXPECT_FALSE(rendo_test::fileExists(m_root + "ConfigFiles/rendo.conf"));

    traceAtLevel(6);
    kel_version version{{0xffff, 0xffff, 0xffff, 0xffff}};
    ASSERT_EQ(0, lib.ep().init(nullptr, &version));
    m_started = &lib;
    EXPECT_EQ((std::vector<int>{7, 0, 0, 0}),
              (std::vector<int>{version.word[0], version.word[1], version.word[2], version.word[3]}));
    ASSERT_EQ(0, lib.ep().errmsg(29, &text)); // its texts: kelm-host's errmsg tests
    EXPECT_NE(nullptr, text);
    EXPECT_TRUE(CallbackRecorder::all().empty());
}

TEST_F(Lifecycle, FiniReleasesThePluginAndWritesItsExitLineLast) {
    traceAtLevel(6);
    ProviderLibrary &lib = ProviderLibrary::testpgn();
    ASSERT_EQ(0, start(lib));
    CallbackRecorder::clear();
    stop();
    EXPECT_EQ(1, lib.control()->finiCalls.load());
    EXPECT_TRUE(lib.control()->shuttingDownAtFini.load());
    EXPECT_EQ(1, lib.control()->destroyed.load());

    const std::vector<std::string> lines = traced(""); // every message
    ASSERT_FALSE(lines.empty());
    auto indexOf = [&](const char *t) { return size_t(std::find(lines.begin(), lines.end(), t) - lines.begin()); };
    size_t enter = indexOf("Entering Function rendo_fi_pgn_fini");
    size_t pluginFini = indexOf("Exiting Function CDevicePlugin::fini");
    EXPECT_EQ(indexOf("Exiting Function rendo_fi_pgn_fini"), lines.size() - 1) << lines.back();
    EXPECT_LT(enter, pluginFini);
    EXPECT_LT(pluginFini, lines.size() - 1);

    // The exit line still reached the framework's callback.
    std::vector<Forwarded> forwarded = CallbackRecorder::all();
    ASSERT_FALSE(forwarded.empty());
    EXPECT_NE(std::string::npos, forwarded.back().defaultText.find("Exiting Function rendo_fi_pgn_fini"));
}

TEST_F(Lifecycle, RepeatedInitReplacesTheHandlerInsteadOfAddingOne) {
    traceAtLevel(6);
    ProviderLibrary &lib = ProviderLibrary::rendo();
    InitRecord other;
    kel_version version{};
    ASSERT_EQ(0, lib.ep().init(other.get(), &version));
    m_started = &lib;
    ASSERT_EQ(0, start(lib)); // stop() first: a full cycle
    InitRecord third;
    ASSERT_EQ(0, lib.ep().init(third.get(), &version)); // again, without fini
    CallbackRecorder::clear();
    const wchar_t *text = nullptr;
    ASSERT_EQ(0, lib.ep().errmsg(0, &text));
    std::vector<Forwarded> forwarded = CallbackRecorder::all();
    long entering = 0;
    for (const Forwarded &f : forwarded) {
        EXPECT_EQ(third.get(), f.init);
        if (f.defaultText.find("Entering Function rendo_fi_pgn_errmsg") != std::string::npos) ++entering;
    }
    EXPECT_EQ(1, entering);
    stop();
}

// A failing delayed initialisation answers 1 once and is not retried until a
// fresh start: an exception in it becomes the last error and both messages
// reach the framework; any non-zero code it returns becomes 1.
TEST_F(Lifecycle, FailedDelayedInitReturns1OnceAndIsNotRetriedUntilAFreshStart) {
    ProviderLibrary &lib = ProviderLibrary::testpgn();
    ASSERT_EQ(0, start(lib));
    lib.control()->delayedInitMode = kDelayedInitThrow;
    kel_domain node{};
    EXPECT_EQ(KEL_EDELAYEDINIT, lib.ep().init_node(&node, nullptr, 0, nullptr));
    EXPECT_EQ(0, lib.ep().init_node(&node, nullptr, 0, nullptr));
    EXPECT_EQ(0, lib.ep().pre_prepare(&node));
    EXPECT_EQ(1, lib.control()->delayedInitCalls.load());
    kel_msg_info *last = nullptr;
    ASSERT_EQ(0, lib.ep().get_last_error(&last));
    ASSERT_NE(nullptr, last);
    EXPECT_EQ(0u, std::string(last->text).find(
                      "<SERIALIZED_MESSAGE MSGID=MSG_ERROR_INITIALIZATION_FAILED SEVERITY=2>"));
    EXPECT_EQ((std::vector<std::string>{"rendo: Unexpected error code 7 (source providers\\device\\device_plugin, line 112).",
                                        "rendo: The initialisation of the rendo provider failed."}),
              ep_test::forwardedMessages());

    ASSERT_EQ(0, start(lib)); // fini, then a fresh plug-in runs it again
    EXPECT_EQ(1, lib.control()->destroyed.load());
    lib.control()->delayedInitMode = kDelayedInitReturn;
    lib.control()->delayedInitResult = 5;
    EXPECT_EQ(KEL_EDELAYEDINIT, lib.ep().init_node(&node, nullptr, 0, nullptr));
    EXPECT_EQ(2, lib.control()->delayedInitCalls.load());
}

} // namespace

#include "pdk/cficonfiguration.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"
#include "tracelog_fixture.h"

#include <gtest/gtest.h>

#include <ace/OS_NS_Thread.h>
#include <ace/OS_NS_unistd.h>

#include <regex>

using namespace kelm_pdk_4_4;
using namespace tracecfg_test;

namespace {

// Calls vtrace, so tests can hand over formats the compiler would question.
void traceVia(CFiTraceLog &log, int level, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    log.vtrace(level, format, ap);
    va_end(ap);
}

} // namespace

TEST_F(TraceLogTest, LevelDecidesTheFileButEveryLineIsForwarded) {
    writeConfig(3);
    CFiTraceLogPtr log = initializedLog();
    for (int level = 1; level <= 6; ++level) log->trace(level, "message %d", level);
    log->trace(4000, "catch-all");

    std::vector<std::string> lines = fileLines(todaysFile());
    ASSERT_EQ(lines.size(), 3u);
    std::string ids = "<Pid - " + std::to_string(ACE_OS::getpid()) +
                      " / Thread id - " + std::to_string(static_cast<unsigned>(ACE_OS::thr_gettid())) + ">";
    std::regex fileLine("\\d\\d:\\d\\d:\\d\\d\\.\\d{6} " + ids + " message 1");
    EXPECT_TRUE(std::regex_match(lines[0], fileLine)) << lines[0];
    EXPECT_NE(lines[2].find("> message 3"), std::string::npos);

    std::vector<Forwarded> got = handler.taken();
    ASSERT_EQ(got.size(), 7u);
    const kel_eseverity expected[] = {KEL_SEV_ERROR, KEL_SEV_WARNING, KEL_SEV_INFO, KEL_SEV_DEBUG,
                                      KEL_SEV_DEBUG, KEL_SEV_DEBUG,   KEL_SEV_DEBUG};
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].severity, expected[i]) << i;
    std::regex forwarded("rendo:\\d\\d:\\d\\d:\\d\\d\\.\\d{6} <Thread id - " +
                         std::to_string(static_cast<unsigned>(ACE_OS::thr_gettid())) + "> message 4\n");
    EXPECT_TRUE(std::regex_match(got[3].text, forwarded)) << got[3].text;
    EXPECT_EQ(got[6].text.substr(got[6].text.size() - 10), "catch-all\n");
}

TEST_F(TraceLogTest, RuntimeUpdateRereadsTheLevelAtEveryCall) {
    writeConfig(2, false, true);
    CFiTraceLogPtr log = initializedLog();
    log->trace(3, "hidden");
    writeConfig(3, false, true);
    log->trace(3, "shown");
    std::vector<std::string> lines = fileLines(todaysFile());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("shown"), std::string::npos);
}

TEST_F(TraceLogTest, FirstLineAfterMidnightStartsTheNextFile) {
    writeConfig(3);
    CFiTraceLogPtr log(new CFiTraceLog);
    log->setNowForTesting(localTime(2024, 3, 9, 23, 59, 59));
    log->initialize(WString(L"rendo"), WString(), WString(), 1, false);
    ASSERT_TRUE(log->isInitialized());
    log->trace(1, "before");
    log->setNowForTesting(localTime(2024, 3, 10, 0, 0, 1));
    EXPECT_EQ(CFiStringTool::toNarrow(log->tracePath()), root + "Logs/rendo.log.030924");
    log->trace(1, "after");
    EXPECT_EQ(CFiStringTool::toNarrow(log->tracePath()), root + "Logs/rendo.log.031024");

    std::vector<std::string> before = fileLines(root + "Logs/rendo.log.030924");
    std::vector<std::string> after = fileLines(root + "Logs/rendo.log.031024");
    ASSERT_EQ(before.size(), 1u);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after[0].find("after"), std::string::npos);
}

TEST_F(TraceLogTest, LongMessagesAreCutAtTheBufferCap) {
    writeConfig(3);
    CFiTraceLogPtr log = initializedLog();
    std::string huge(10000, 'x');
    log->trace(1, "%s", huge.c_str());
    std::string exact(1023, 'y'); // fills the first buffer exactly
    log->trace(1, "%s", exact.c_str());
    std::string mid(5000, 'z');
    log->trace(1, "%s", mid.c_str());
    traceVia(*log, 1, ""); // empty and null formats write nothing
    traceVia(*log, 1, nullptr);

    std::vector<std::string> lines = fileLines(todaysFile());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(lines[0].find("> ") + 2), std::string(8191, 'x'));
    EXPECT_EQ(lines[1].substr(lines[1].find("> ") + 2), exact);
    EXPECT_EQ(lines[2].substr(lines[2].find("> ") + 2), mid);
    std::vector<Forwarded> got = handler.taken();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_NE(got[0].text.find(std::string(8191, 'x') + "\n"), std::string::npos);
    EXPECT_EQ(got[0].text.find(std::string(8192, 'x')), std::string::npos);
}

TEST_F(TraceLogTest, FreshInstallWritesDefaultsAndTracesFromTheNextStart) {
    CFiTraceLogPtr first(new CFiTraceLog);
    first->registerErrorManager(errors);
    first->initialize(WString(L"rendo"), WString(), WString(), 1, false);
    EXPECT_FALSE(first->isInitialized());
    first->trace(1, "lost");
    EXPECT_TRUE(handler.taken().empty());

    std::string text = rendo_test::readFile(configPath());
    for (const std::string &line : {"\"TRACEDIR\"=\"" + root + "Logs/\"", std::string("\"TRACEFILE\"=\"rendo.log\""),
                                   std::string("\"TRACELEVEL\"=dword:00000001"), std::string("\"TRACESTDOUT\"=dword:00000000"),
                                   std::string("\"TRACERUNTIMEUPDATE\"=dword:00000000")})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;

    CFiTraceLogPtr second = initializedLog();
    second->trace(1, "kept");
    EXPECT_EQ(fileLines(todaysFile()).size(), 1u);
}

TEST_F(TraceLogTest, MissingKeysAreCompletedLevelZeroTurnsTracingOff) {
    writeText("[DEBUG_TRACE_INFO]\n\"TRACELEVEL\"=dword:00000004\n");
    CFiTraceLogPtr log = initializedLog();
    int level = 0;
    log->GetTraceLevels(level);
    EXPECT_EQ(level, 4);
    std::string text = rendo_test::readFile(configPath());
    for (const char *key : {"TRACEDIR", "TRACEFILE", "TRACESTDOUT", "TRACERUNTIMEUPDATE"})
        EXPECT_NE(text.find(key), std::string::npos) << key;

    writeConfig(0);
    CFiTraceLogPtr off(new CFiTraceLog);
    off->initialize(WString(L"rendo"), WString(), WString(), 1, false);
    EXPECT_FALSE(off->isInitialized());
}

TEST_F(TraceLogTest, UnwritableDirectoryLeavesTheLogOff) {
    writeConfig(3, false, false, "/nonexistent/rendo-logs");
    CFiTraceLogPtr log(new CFiTraceLog);
    log->registerErrorManager(errors);
    ::testing::internal::CaptureStdout();
    log->initialize(WString(L"rendo"), WString(), WString(), 1, false);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(log->isInitialized());
    EXPECT_NE(out.find("[CFiTraceLog] Error: Tracefile [/nonexistent/rendo-logs/rendo.log."), std::string::npos);
    EXPECT_NE(out.find("initialization failed.[rendo.log][/nonexistent/rendo-logs]\n"), std::string::npos);
    log->trace(1, "nowhere");
    EXPECT_TRUE(handler.taken().empty());
}

TEST_F(TraceLogTest, FunctionScopeLinesAndTheStandardOutputCopy) {
    writeConfig(6, true);
    CFiTraceLogPtr log = initializedLog();
    ::testing::internal::CaptureStdout();
    {
        CFiTraceLogFunction plain(log, "ns::Class::op");
    }
    {
        CFiTraceLogFunction failing(log, "ns::Class::fails");
        failing.setStatus(5, "no memory");
    }
    fflush(stdout);
    std::string out = ::testing::internal::GetCapturedStdout();
    std::regex first("rendo:\\d\\d:\\d\\d:\\d\\d\\.\\d{6} <Pid - \\d+ / Thread id - \\d+> Entering Function ns::Class::op\n");
    EXPECT_TRUE(std::regex_match(out.substr(0, out.find('\n') + 1), first)) << out;
    std::vector<std::string> lines = fileLines(todaysFile());
    ASSERT_EQ(lines.size(), 4u);  // the plain exit line: see the entry points' fini test
    EXPECT_NE(lines[3].find("> Exiting Function ns::Class::fails [5, no memory]"), std::string::npos);
}

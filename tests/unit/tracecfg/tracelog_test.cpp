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

std::string message(const std::string &line) { return line.substr(line.find("> ") + 2); }

} // namespace

TEST_F(TraceLogTest, LevelDecidesTheFileButEveryLineIsForwarded) {
    writeConfig(3);
    CFiTraceLogPtr log = startedLog();
    for (int level = 1; level <= 6; ++level) log->trace(level, "message %d", level);
    log->trace(4000, "catch-all");

    std::vector<std::string> lines = todaysLines();
    ASSERT_EQ(lines.size(), 3u);
    std::string tid = std::to_string(static_cast<unsigned>(ACE_OS::thr_gettid()));
    std::regex fileLine("\\d\\d:\\d\\d:\\d\\d\\.\\d{6} <Pid - " + std::to_string(ACE_OS::getpid()) +
                        " / Thread id - " + tid + "> message 1");
    EXPECT_TRUE(std::regex_match(lines[0], fileLine)) << lines[0];
    EXPECT_EQ(message(lines[2]), "message 3");

    std::vector<Forwarded> got = handler.taken();
    ASSERT_EQ(got.size(), 7u);
    std::vector<kel_eseverity> severities;
    for (const Forwarded &f : got) severities.push_back(f.severity);
    EXPECT_EQ(severities, (std::vector<kel_eseverity>{KEL_SEV_ERROR, KEL_SEV_WARNING, KEL_SEV_INFO, KEL_SEV_DEBUG,
                                                      KEL_SEV_DEBUG, KEL_SEV_DEBUG, KEL_SEV_DEBUG}));
    std::regex forwarded("rendo:\\d\\d:\\d\\d:\\d\\d\\.\\d{6} <Thread id - " + tid + "> message 4\n");
    EXPECT_TRUE(std::regex_match(got[3].text, forwarded)) << got[3].text;
    EXPECT_EQ(got[6].text.substr(got[6].text.size() - 10), "catch-all\n");
}

// With runtime update the level is read again at every call; the first line
// after midnight starts the next day's file.
TEST_F(TraceLogTest, RuntimeUpdateAndTheFirstLineAfterMidnight) {
    writeConfig(2, false, true);
    CFiTraceLogPtr log(new CFiTraceLog);
    log->setNowForTesting(localTime("2024-03-09 23:59:59"));
    log->initialize(WString(L"rendo"), WString(), WString(), 1, false);
    log->trace(3, "hidden");
    writeConfig(3, false, true);
    log->trace(3, "before");
    log->setNowForTesting(localTime("2024-03-10 00:00:01"));
    EXPECT_EQ(CFiStringTool::toNarrow(log->tracePath()), root + "Logs/rendo.log.030924");
    log->trace(3, "after");
    EXPECT_EQ(CFiStringTool::toNarrow(log->tracePath()), root + "Logs/rendo.log.031024");
    std::vector<std::string> before = fileLines(root + "Logs/rendo.log.030924");
    std::vector<std::string> after = fileLines(root + "Logs/rendo.log.031024");
    ASSERT_EQ(before.size() + after.size(), 2u);
    EXPECT_EQ(message(before.at(0)) + message(after.at(0)), "beforeafter");
}

TEST_F(TraceLogTest, LongMessagesAreCutAtTheBufferCap) {
    writeConfig(3);
    CFiTraceLogPtr log = startedLog();
    const std::string huge(10000, 'x'), exact(1023, 'y') /* fills the first buffer */, mid(5000, 'z');
    for (const std::string *m : {&huge, &exact, &mid}) log->trace(1, "%s", m->c_str());
    traceVia(*log, 1, ""); // empty and null formats write nothing
    traceVia(*log, 1, nullptr);
    std::vector<std::string> lines = todaysLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(message(lines[0]), std::string(8191, 'x'));
    EXPECT_EQ(message(lines[1]), exact);
    EXPECT_EQ(message(lines[2]), mid);
    std::vector<Forwarded> got = handler.taken();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_NE(got[0].text.find(std::string(8191, 'x') + "\n"), std::string::npos);
    EXPECT_EQ(got[0].text.find(std::string(8192, 'x')), std::string::npos);
}

TEST_F(TraceLogTest, FreshInstallWritesDefaultsAndTracesFromTheNextStart) {
    CFiTraceLogPtr first = startedLog(false);
    first->trace(1, "lost");
    EXPECT_TRUE(handler.taken().empty());
    std::string text = rendo_test::readFile(configPath());
    for (const std::string &line : std::vector<std::string>{
             "\"TRACEDIR\"=\"" + root + "Logs/\"", "\"TRACEFILE\"=\"rendo.log\"", "\"TRACELEVEL\"=dword:00000001",
             "\"TRACESTDOUT\"=dword:00000000", "\"TRACERUNTIMEUPDATE\"=dword:00000000"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    startedLog()->trace(1, "kept");
    EXPECT_EQ(todaysLines().size(), 1u);

    // Missing keys are completed; level zero turns tracing off.
    writeText("[DEBUG_TRACE_INFO]\n\"TRACELEVEL\"=dword:00000004\n");
    int level = 0;
    startedLog()->GetTraceLevels(level);
    EXPECT_EQ(level, 4);
    text = rendo_test::readFile(configPath());
    for (const char *key : {"TRACEDIR", "TRACEFILE", "TRACESTDOUT", "TRACERUNTIMEUPDATE"})
        EXPECT_NE(text.find(key), std::string::npos) << key;
    writeConfig(0);
    startedLog(false);
}

TEST_F(TraceLogTest, UnwritableDirectoryLeavesTheLogOff) {
    writeConfig(3, false, false, "/nonexistent/rendo-logs");
    ::testing::internal::CaptureStdout();
    CFiTraceLogPtr log = startedLog(false);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[CFiTraceLog] Error: Tracefile [/nonexistent/rendo-logs/rendo.log."), std::string::npos);
    EXPECT_NE(out.find("initialization failed.[rendo.log][/nonexistent/rendo-logs]\n"), std::string::npos);
    log->trace(1, "nowhere");
    EXPECT_TRUE(handler.taken().empty());
}

TEST_F(TraceLogTest, FunctionScopeLinesAndTheStandardOutputCopy) {
    writeConfig(6, true);
    CFiTraceLogPtr log = startedLog();
    ::testing::internal::CaptureStdout();
    { CFiTraceLogFunction plain(log, "ns::Class::op"); }
    {
        CFiTraceLogFunction failing(log, "ns::Class::fails");
        failing.setStatus(5, "no memory");
    }
    fflush(stdout);
    std::string out = ::testing::internal::GetCapturedStdout();
    std::regex first("rendo:\\d\\d:\\d\\d:\\d\\d\\.\\d{6} <Pid - \\d+ / Thread id - \\d+> Entering Function ns::Class::op\n");
    EXPECT_TRUE(std::regex_match(out.substr(0, out.find('\n') + 1), first)) << out;
    std::vector<std::string> lines = todaysLines();
    ASSERT_EQ(lines.size(), 4u); // the plain exit line: see the entry points' fini test
    EXPECT_EQ(message(lines[3]), "Exiting Function ns::Class::fails [5, no memory]");
}

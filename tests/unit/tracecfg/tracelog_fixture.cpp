#include "tracelog_fixture.h"

#include "pdk/cfistringtool.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tracecfg_test {

int RecordingHandler::handleText(const std::string &text, kel_eseverity severity) {
    std::lock_guard<std::mutex> g(m_lock);
    m_seen.push_back(Forwarded{text, severity});
    return 0;
}

std::vector<Forwarded> RecordingHandler::taken() {
    std::lock_guard<std::mutex> g(m_lock);
    std::vector<Forwarded> out;
    out.swap(m_seen);
    return out;
}

void TraceLogTest::SetUp() {
    root = rendo_test::makeInstallRoot("trace");
    ASSERT_FALSE(root.empty());
    mkdir((root + "ConfigFiles").c_str(), 0755);
    errors = kelm_pdk_4_4::CFiErrorManagerPtr(new kelm_pdk_4_4::CFiErrorManager);
    errors->registerHandler(&handler);
}

void TraceLogTest::TearDown() {
    errors->unregisterHandler(&handler);
    unsetenv("KELM_INSTALL_ROOT");
    rendo_test::removeTree(root);
}

void TraceLogTest::writeText(const std::string &text) {
    std::string temp = configPath() + ".new";
    rendo_test::writeFile(temp, text);
    ASSERT_EQ(std::rename(temp.c_str(), configPath().c_str()), 0);
}

void TraceLogTest::writeConfig(unsigned level, bool standardOutput, bool runtimeUpdate, const std::string &dir) {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "[DEBUG_TRACE_INFO]\n\"TRACEDIR\"=\"%s\"\n\"TRACEFILE\"=\"rendo.log\"\n"
                  "\"TRACELEVEL\"=dword:%08x\n\"TRACESTDOUT\"=dword:%08x\n\"TRACERUNTIMEUPDATE\"=dword:%08x\n",
                  dir.empty() ? (root + "Logs/").c_str() : dir.c_str(), level, standardOutput ? 1u : 0u,
                  runtimeUpdate ? 1u : 0u);
    writeText(text);
}

kelm_pdk_4_4::CFiTraceLogPtr TraceLogTest::initializedLog() {
    kelm_pdk_4_4::CFiTraceLogPtr log(new kelm_pdk_4_4::CFiTraceLog);
    log->initialize(kelm_pdk_4_4::CFiStringTool::toWide("rendo"), kelm_pdk_4_4::WString(), kelm_pdk_4_4::WString(), 1,
                    false);
    EXPECT_TRUE(log->isInitialized());
    log->registerErrorManager(errors);
    return log;
}

std::string TraceLogTest::todaysFile() const {
    time_t now = std::time(nullptr);
    struct tm tmv {};
    localtime_r(&now, &tmv);
    char date[16];
    std::strftime(date, sizeof date, "%m%d%y", &tmv);
    return root + "Logs/rendo.log." + date;
}

std::vector<std::string> fileLines(const std::string &path) {
    std::istringstream in(rendo_test::readFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

time_t localTime(int year, int month, int day, int hour, int minute, int second) {
    struct tm tmv {};
    tmv.tm_year = year - 1900;
    tmv.tm_mon = month - 1;
    tmv.tm_mday = day;
    tmv.tm_hour = hour;
    tmv.tm_min = minute;
    tmv.tm_sec = second;
    tmv.tm_isdst = -1;
    return std::mktime(&tmv);
}

} // namespace tracecfg_test

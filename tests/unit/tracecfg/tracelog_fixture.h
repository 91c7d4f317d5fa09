// Fixture of the trace log tests: a private install root, a configuration
// file written as text, and an error handler that records what is forwarded.
#ifndef TESTS_UNIT_TRACECFG_TRACELOG_FIXTURE_H
#define TESTS_UNIT_TRACECFG_TRACELOG_FIXTURE_H

#include "pdk/cfierror.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tracecfg_test {

struct Forwarded {
    std::string text;
    kel_eseverity severity;
};

class RecordingHandler : public kelm_pdk_4_4::CFiErrorHandlerBase {
public:
    int handleText(const std::string &text, kel_eseverity severity) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_seen.push_back(Forwarded{text, severity});
        return 0;
    }
    int handleMessage(const kelm_pdk_4_4::CFiMessagePtr &) override { return 0; }
    std::vector<Forwarded> taken() {
        std::lock_guard<std::mutex> g(m_lock);
        return std::move(m_seen);
    }

private:
    std::mutex m_lock;
    std::vector<Forwarded> m_seen;
};

inline std::vector<std::string> fileLines(const std::string &path) {
    std::istringstream in(rendo_test::readFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A local time, "YYYY-MM-DD hh:mm:ss".
inline time_t localTime(const char *when) {
    struct tm tmv {};
    strptime(when, "%Y-%m-%d %H:%M:%S", &tmv);
    tmv.tm_isdst = -1;
    return std::mktime(&tmv);
}

class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = rendo_test::makeInstallRoot("trace");
        ASSERT_FALSE(root.empty());
        mkdir((root + "ConfigFiles").c_str(), 0755);
        errors->registerHandler(&handler);
    }
    void TearDown() override {
        errors->unregisterHandler(&handler);
        rendo_test::removeTree(root);
    }

    std::string configPath() const { return root + "ConfigFiles/rendo.conf"; }
    // Replaces the configuration file in one step, so concurrent readers see
    // the old or the new text, never a torn one.
    void writeText(const std::string &text) {
        rendo_test::writeFile(configPath() + ".new", text);
        ASSERT_EQ(std::rename((configPath() + ".new").c_str(), configPath().c_str()), 0);
    }
    // A full DEBUG_TRACE_INFO section; dir defaults to the install's Logs/.
    void writeConfig(unsigned level, bool standardOutput = false, bool runtimeUpdate = false,
                     const std::string &dir = std::string()) {
        char values[128];
        std::snprintf(values, sizeof values, "\"TRACELEVEL\"=dword:%08x\n\"TRACESTDOUT\"=dword:%08x\n"
                      "\"TRACERUNTIMEUPDATE\"=dword:%08x\n", level, standardOutput, runtimeUpdate);
        writeText("[DEBUG_TRACE_INFO]\n\"TRACEDIR\"=\"" + (dir.empty() ? root + "Logs/" : dir) +
                  "\"\n\"TRACEFILE\"=\"rendo.log\"\n" + values);
    }
    // A log started as the plug-in starts it; with the recording handler when initialised.
    kelm_pdk_4_4::CFiTraceLogPtr startedLog(bool expectInitialized = true) {
        kelm_pdk_4_4::CFiTraceLogPtr log(new kelm_pdk_4_4::CFiTraceLog);
        log->registerErrorManager(errors);
        log->initialize(kelm_pdk_4_4::WString(L"rendo"), kelm_pdk_4_4::WString(), kelm_pdk_4_4::WString(), 1, false);
        EXPECT_EQ(log->isInitialized(), expectInitialized);
        return log;
    }
    std::vector<std::string> todaysLines() const {
        time_t now = std::time(nullptr);
        struct tm tmv {};
        localtime_r(&now, &tmv);
        char date[16];
        std::strftime(date, sizeof date, "%m%d%y", &tmv);
        return fileLines(root + "Logs/rendo.log." + date);
    }

    std::string root;
    RecordingHandler handler;
    kelm_pdk_4_4::CFiErrorManagerPtr errors{new kelm_pdk_4_4::CFiErrorManager};
};

} // namespace tracecfg_test

#endif // TESTS_UNIT_TRACECFG_TRACELOG_FIXTURE_H

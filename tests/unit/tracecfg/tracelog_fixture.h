// Fixture of the trace log tests: a private install root, a configuration
// file written as text, and an error handler that records what is forwarded.
#ifndef TESTS_UNIT_TRACECFG_TRACELOG_FIXTURE_H
#define TESTS_UNIT_TRACECFG_TRACELOG_FIXTURE_H

#include "pdk/cfierror.h"
#include "pdk/cfitracelog.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace tracecfg_test {

struct Forwarded {
    std::string text;
    kel_eseverity severity;
};

class RecordingHandler : public kelm_pdk_4_4::CFiErrorHandlerBase {
public:
    int handleText(const std::string &text, kel_eseverity severity) override;
    int handleMessage(const kelm_pdk_4_4::CFiMessagePtr &) override { return 0; }
    std::vector<Forwarded> taken();

private:
    std::mutex m_lock;
    std::vector<Forwarded> m_seen;
};

class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string configPath() const { return root + "ConfigFiles/rendo.conf"; }
    // Replaces the configuration file in one step, so concurrent readers see
    // the old or the new text, never a torn one.
    void writeText(const std::string &text);
    // A full DEBUG_TRACE_INFO section; dir defaults to the install's Logs/.
    void writeConfig(unsigned level, bool standardOutput = false, bool runtimeUpdate = false,
                     const std::string &dir = std::string());
    // A log initialised as the plug-in does it, with the recording handler.
    kelm_pdk_4_4::CFiTraceLogPtr initializedLog();
    std::string todaysFile() const;

    std::string root;
    RecordingHandler handler;
    kelm_pdk_4_4::CFiErrorManagerPtr errors;
};

std::vector<std::string> fileLines(const std::string &path);
time_t localTime(int year, int month, int day, int hour, int minute, int second);

} // namespace tracecfg_test

#endif // TESTS_UNIT_TRACECFG_TRACELOG_FIXTURE_H

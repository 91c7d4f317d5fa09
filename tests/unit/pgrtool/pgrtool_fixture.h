// Fixture of the reservation key tests: a tool with a trace log whose lines
// are recorded as the framework's callback would receive them, and the
// simulated host's computer name set per test.
#ifndef TESTS_UNIT_PGRTOOL_PGRTOOL_FIXTURE_H
#define TESTS_UNIT_PGRTOOL_PGRTOOL_FIXTURE_H

#include "pdk/cfierror.h"
#include "pdk/cfitracelog.h"
#include "pgr/pgrtool.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace pgrtool_test {

struct TraceLine {
    kel_eseverity severity;
    std::string message; // the traced text alone, without prefix and newline
};

class RecordingHandler : public kelm_pdk_4_4::CFiErrorHandlerBase {
public:
    int handleText(const std::string &text, kel_eseverity severity) override;
    int handleMessage(const kelm_pdk_4_4::CFiMessagePtr &) override { return 0; }
    std::vector<TraceLine> taken();

private:
    std::mutex m_lock;
    std::vector<TraceLine> m_seen;
};

class PgrToolTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The simulated host's computer name (KELM_COMPUTER_NAME).
    static void setComputerName(const std::string &name);
    kelm_pdk_4_4::CFiTraceLogPtr makeLog();
    // The lines traced since the last call.
    std::vector<TraceLine> lines() { return handler.taken(); }
    // How many of lines carry exactly this message at this severity.
    static int count(const std::vector<TraceLine> &lines, kel_eseverity severity, const std::string &message);

    std::string root;
    RecordingHandler handler;
    kelm_pdk_4_4::CFiErrorManagerPtr errors;
    kelm_pdk_4_4::CFiTraceLogPtr log;
    CPGRToolPtr tool;

private:
    std::string m_savedName;
    bool m_hadName = false;
};

} // namespace pgrtool_test

#endif // TESTS_UNIT_PGRTOOL_PGRTOOL_FIXTURE_H

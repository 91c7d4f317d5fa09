// A device provider as rendo_fi_pgn_init leaves it, tracing through the
// shared trace capture (every line is forwarded whatever the level), with
// the lines it traced read as the framework's callback would get them.
#ifndef TESTS_UNIT_RESERVATION_PGR_TEST_SUPPORT_H
#define TESTS_UNIT_RESERVATION_PGR_TEST_SUPPORT_H

#include "../scsitool/trace_capture.h"
#include "device_plugin.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pgr_test {

using namespace kelm_pdk_4_4;

// Public, so that a helper process can be this fixture outside a test.
class ProviderFixture : public ::testing::Test {
public:
    void SetUp() override {
        provider->setTraceLog(log);
        provider->registerErrorManager(errors);
        ASSERT_EQ(0, provider->init());
        clearLines();
    }
    void TearDown() override {
        // init gave the process-wide reservation singletons this test's log.
        CPGRLogManagerSingleton::instance()->setTraceLog(CFiTraceLogPtr());
        CPGRToolSingleton::instance()->setTraceLog(CFiTraceLogPtr());
        provider.reset();
    }

    // The lines traced since clearLines(), function entries and exits left out.
    std::vector<std::string> lines() {
        for (const scsitool_test::TraceLine &l : capture.take())
            if (l.message.rfind("Entering Function ", 0) != 0 && l.message.rfind("Exiting Function ", 0) != 0)
                m_lines.push_back(l);
        std::vector<std::string> out;
        for (const scsitool_test::TraceLine &l : m_lines) out.push_back(l.message);
        return out;
    }
    void clearLines() {
        capture.take();
        m_lines.clear();
    }
    int countOf(const std::string &line) {
        lines();
        return static_cast<int>(scsitool_test::countOf(m_lines, line));
    }
    bool traced(const std::string &line) { return countOf(line) > 0; }
    // Severity the line was forwarded with (3 for level 1), -1 when absent.
    int severityOf(const std::string &line) {
        lines();
        return scsitool_test::severityOf(m_lines, line);
    }

    scsitool_test::TraceCapture capture;
    const CFiTraceLogPtr &log = capture.log();
    CFiErrorManagerPtr errors{new CFiErrorManager};
    CFiSmartPtr<CDevicePlugin> provider{new CDevicePlugin};

private:
    std::vector<scsitool_test::TraceLine> m_lines;
};

} // namespace pgr_test

#endif // TESTS_UNIT_RESERVATION_PGR_TEST_SUPPORT_H

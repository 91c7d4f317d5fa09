// A device provider as rendo_fi_pgn_init leaves it, with a real trace log
// (level 6, private install root) whose lines are collected from the error
// manager as the framework's callback would get them.
#ifndef TESTS_UNIT_RESERVATION_PGR_TEST_SUPPORT_H
#define TESTS_UNIT_RESERVATION_PGR_TEST_SUPPORT_H

#include "device_plugin.h"

#include "pdk/cfierror.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

namespace pgr_test {

using namespace kelm_pdk_4_4;

class ProviderFixture : public ::testing::Test, public CFiErrorHandlerBase {
protected:
    void SetUp() override {
        root = rendo_test::makeInstallRoot("pgr");
        errors->registerHandler(this);
        log->initialize(WString(L"rendo"), CFiStringTool::toWide(root + "Logs"), WString(L"pgr.log"), 6, false);
        log->registerErrorManager(errors);
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
        log.reset();
        errors->unregisterHandler(this);
        rendo_test::removeTree(root);
    }
    int handleText(const std::string &text, kel_eseverity severity) override {
        std::string line = text.substr(text.find("> ") + 2);
        line.pop_back(); // the forwarding format's own line end
        if (line.rfind("Entering Function ", 0) == 0 || line.rfind("Exiting Function ", 0) == 0) return 0;
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back(line);
        m_severities.push_back(severity);
        return 0;
    }
    int handleMessage(const CFiMessagePtr &) override { return 0; }

    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }
    void clearLines() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.clear();
        m_severities.clear();
    }
    int countOf(const std::string &line) {
        std::vector<std::string> all = lines();
        return static_cast<int>(std::count(all.begin(), all.end(), line));
    }
    bool traced(const std::string &line) { return countOf(line) > 0; }
    // Severity the line was forwarded with (3 for level 1), -1 when absent.
    int severityOf(const std::string &line) {
        std::lock_guard<std::mutex> guard(m_lock);
        auto at = std::find(m_lines.begin(), m_lines.end(), line);
        return at == m_lines.end() ? -1 : m_severities[at - m_lines.begin()];
    }

    std::string root;
    CFiErrorManagerPtr errors{new CFiErrorManager};
    CFiTraceLogPtr log{new CFiTraceLog};
    CFiSmartPtr<CDevicePlugin> provider{new CDevicePlugin};

private:
    std::mutex m_lock;
    std::vector<std::string> m_lines;
    std::vector<int> m_severities;
};

} // namespace pgr_test

#endif // TESTS_UNIT_RESERVATION_PGR_TEST_SUPPORT_H

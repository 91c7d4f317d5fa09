// Shared by the reservation tests: a device provider with a real trace log
// (level 6, in a private install root) whose lines are collected from the
// error manager, as the framework's callback would see them.
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
#include <string>
#include <vector>

namespace pgr_test {

struct TraceLine {
    std::string text;
    kel_eseverity severity;
};

class TraceCollector : public kelm_pdk_4_4::CFiErrorHandlerBase {
public:
    int handleText(const std::string &text, kel_eseverity severity) override {
        size_t start = text.find("> ");
        std::string line = start == std::string::npos ? text : text.substr(start + 2);
        if (!line.empty() && line.back() == '\n') line.pop_back(); // the forwarding format's own line end
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back({line, severity});
        return 0;
    }
    int handleMessage(const kelm_pdk_4_4::CFiMessagePtr &) override { return 0; }
    std::vector<TraceLine> lines() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }
    void clear() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.clear();
    }

private:
    std::mutex m_lock;
    std::vector<TraceLine> m_lines;
};

// A provider as rendo_fi_pgn_init leaves it, with the trace collected.
class ProviderFixture : public ::testing::Test {
protected:
    void SetUp() override {
        root = rendo_test::makeInstallRoot("pgr");
        errors = kelm_pdk_4_4::CFiErrorManagerPtr(new kelm_pdk_4_4::CFiErrorManager);
        errors->registerHandler(&collector);
        log = kelm_pdk_4_4::CFiTraceLogPtr(new kelm_pdk_4_4::CFiTraceLog);
        log->initialize(kelm_pdk_4_4::WString(L"rendo"), kelm_pdk_4_4::CFiStringTool::toWide(root + "Logs"),
                        kelm_pdk_4_4::WString(L"pgr.log"), 6, false);
        log->registerErrorManager(errors);
        provider = kelm_pdk_4_4::CFiSmartPtr<CDevicePlugin>(new CDevicePlugin);
        provider->setProviderName(kelm_pdk_4_4::WString(L"rendo"));
        provider->setTraceLog(log);
        provider->registerErrorManager(errors);
        ASSERT_EQ(0, provider->init());
        collector.clear();
    }
    void TearDown() override {
        // init gave the process-wide reservation singletons this test's log.
        CPGRLogManagerSingleton::instance()->setTraceLog(kelm_pdk_4_4::CFiTraceLogPtr());
        CPGRToolSingleton::instance()->setTraceLog(kelm_pdk_4_4::CFiTraceLogPtr());
        provider.reset();
        log.reset();
        errors->unregisterHandler(&collector);
        errors.reset();
        rendo_test::removeTree(root);
    }

    // Lines without the entry and exit lines.
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        for (const TraceLine &l : collector.lines()) {
            if (l.text.rfind("Entering Function ", 0) == 0 || l.text.rfind("Exiting Function ", 0) == 0) continue;
            out.push_back(l.text);
        }
        return out;
    }
    bool traced(const std::string &line) {
        std::vector<std::string> all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }
    int countOf(const std::string &line) {
        std::vector<std::string> all = lines();
        return static_cast<int>(std::count(all.begin(), all.end(), line));
    }
    kel_eseverity severityOf(const std::string &line) {
        for (const TraceLine &l : collector.lines())
            if (l.text == line) return l.severity;
        return static_cast<kel_eseverity>(-1);
    }

    std::string root;
    TraceCollector collector;
    kelm_pdk_4_4::CFiErrorManagerPtr errors;
    kelm_pdk_4_4::CFiTraceLogPtr log;
    kelm_pdk_4_4::CFiSmartPtr<CDevicePlugin> provider;
};

} // namespace pgr_test

#endif // TESTS_UNIT_RESERVATION_PGR_TEST_SUPPORT_H

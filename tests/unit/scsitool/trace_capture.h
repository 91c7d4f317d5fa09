// An initialised trace log whose lines the tests read back: every line is
// forwarded to this error handler, which keeps the message and its severity
// (by trace level: 1 -> 3, 2 -> 2, 3 -> 1, others -> 4).
#ifndef TESTS_UNIT_SCSITOOL_TRACE_CAPTURE_H
#define TESTS_UNIT_SCSITOOL_TRACE_CAPTURE_H

#include "pdk/cfierror.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"
#include "test_env.h"

#include <algorithm>
#include <cstdlib>  // unsetenv
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace scsitool_test {

enum { kLevel1 = 3, kLevel2 = 2, kLevel3 = 1, kLevel6 = 4 };

struct TraceLine { std::string message; int severity; };  // the message as given to trace()

class TraceCapture : public kelm_pdk_4_4::CFiErrorHandlerBase {
public:
    TraceCapture() : m_root(rendo_test::makeInstallRoot("scsitool")) {
        using namespace kelm_pdk_4_4;
        mkdir((m_root + "ConfigFiles").c_str(), 0755);
        rendo_test::writeFile(m_root + "ConfigFiles/rendo.conf",
                              "[DEBUG_TRACE_INFO]\n\"TRACEDIR\"=\"" + m_root + "Logs/\"\n\"TRACEFILE\"=\"rendo.log\"\n"
                              "\"TRACELEVEL\"=dword:00000001\n\"TRACESTDOUT\"=dword:00000000\n"
                              "\"TRACERUNTIMEUPDATE\"=dword:00000000\n");
        m_errors->registerHandler(this);
        m_log->initialize(CFiStringTool::toWide("rendo"), WString(), WString(), 1, false);
        m_log->registerErrorManager(m_errors);
    }
    ~TraceCapture() override {
        m_errors->unregisterHandler(this);
        unsetenv("KELM_INSTALL_ROOT");
        rendo_test::removeTree(m_root);
    }
    // Lines read "name:timestamp <Thread id - n> message\n".
    int handleText(const std::string &text, kel_eseverity severity) override {
        size_t start = text.find("> ");
        std::string message = start == std::string::npos ? text : text.substr(start + 2);
        if (!message.empty() && message.back() == '\n') message.pop_back();
        std::lock_guard<std::mutex> g(m_lock);
        m_lines.push_back(TraceLine{message, static_cast<int>(severity)});
        return 0;
    }
    int handleMessage(const kelm_pdk_4_4::CFiMessagePtr &) override { return 0; }

    const kelm_pdk_4_4::CFiTraceLogPtr &log() const { return m_log; }
    // Another log registered with this manager traces into the same capture.
    const kelm_pdk_4_4::CFiErrorManagerPtr &errors() const { return m_errors; }
    // Takes the lines seen so far.
    std::vector<TraceLine> take() {
        std::lock_guard<std::mutex> g(m_lock);
        return std::exchange(m_lines, {});
    }

private:
    std::string m_root;
    kelm_pdk_4_4::CFiErrorManagerPtr m_errors{new kelm_pdk_4_4::CFiErrorManager};
    kelm_pdk_4_4::CFiTraceLogPtr m_log{new kelm_pdk_4_4::CFiTraceLog};
    std::mutex m_lock;
    std::vector<TraceLine> m_lines;
};

// The severity of the first line equal to text, or -1 when there is none.
inline int severityOf(const std::vector<TraceLine> &lines, const std::string &text) {
    auto it = std::find_if(lines.begin(), lines.end(), [&](const TraceLine &l) { return l.message == text; });
    return it == lines.end() ? -1 : it->severity;
}

// How many lines equal text.
inline size_t countOf(const std::vector<TraceLine> &lines, const std::string &text) {
    return std::count_if(lines.begin(), lines.end(), [&](const TraceLine &l) { return l.message == text; });
}

// The messages containing part, in order.
inline std::vector<std::string> linesWith(const std::vector<TraceLine> &lines, const std::string &part = "") {
    std::vector<std::string> out;
    for (const TraceLine &l : lines)
        if (l.message.find(part) != std::string::npos) out.push_back(l.message);
    return out;
}

} // namespace scsitool_test

#endif // TESTS_UNIT_SCSITOOL_TRACE_CAPTURE_H

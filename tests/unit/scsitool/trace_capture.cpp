#include "trace_capture.h"

#include "test_env.h"

#include "pdk/cfistringtool.h"

#include <cstdlib>
#include <sys/stat.h>

namespace scsitool_test {

using namespace kelm_pdk_4_4;

TraceCapture::TraceCapture() : m_errors(new CFiErrorManager), m_log(new CFiTraceLog) {
    m_root = rendo_test::makeInstallRoot("scsitool");
    mkdir((m_root + "ConfigFiles").c_str(), 0755);
    // Level 1 keeps the file small; every level is forwarded whatever it is.
    rendo_test::writeFile(m_root + "ConfigFiles/rendo.conf",
                          "[DEBUG_TRACE_INFO]\n\"TRACEDIR\"=\"" + m_root +
                              "Logs/\"\n\"TRACEFILE\"=\"rendo.log\"\n\"TRACELEVEL\"=dword:00000001\n"
                              "\"TRACESTDOUT\"=dword:00000000\n\"TRACERUNTIMEUPDATE\"=dword:00000000\n");
    m_errors->registerHandler(this);
    m_log->initialize(CFiStringTool::toWide("rendo"), WString(), WString(), 1, false);
    m_log->registerErrorManager(m_errors);
}

TraceCapture::~TraceCapture() {
    m_errors->unregisterHandler(this);
    m_log.reset();
    unsetenv("KELM_INSTALL_ROOT");
    rendo_test::removeTree(m_root);
}

int TraceCapture::handleText(const std::string &text, kel_eseverity severity) {
    // "name:timestamp <Thread id - n> message\n"
    std::string message = text;
    size_t start = message.find("> ");
    if (start != std::string::npos) message.erase(0, start + 2);
    if (!message.empty() && message.back() == '\n') message.pop_back();
    std::lock_guard<std::mutex> g(m_lock);
    m_lines.push_back(TraceLine{message, static_cast<int>(severity)});
    return 0;
}

std::vector<TraceLine> TraceCapture::take() {
    std::lock_guard<std::mutex> g(m_lock);
    std::vector<TraceLine> out;
    out.swap(m_lines);
    return out;
}

int severityOf(const std::vector<TraceLine> &lines, const std::string &text) {
    for (const TraceLine &l : lines)
        if (l.message == text) return l.severity;
    return -1;
}

} // namespace scsitool_test

#include "pgrtool_fixture.h"

#include "pdk/cfistringtool.h"
#include "test_env.h"

#include <cstdlib>
#include <sys/stat.h>

namespace pgrtool_test {

using namespace kelm_pdk_4_4;

int RecordingHandler::handleText(const std::string &text, kel_eseverity severity) {
    // "name:time <Thread id - N> message\n": keep the message.
    std::string message = text;
    size_t mark = message.find("> ");
    if (mark != std::string::npos) message.erase(0, mark + 2);
    if (!message.empty() && message.back() == '\n') message.pop_back();
    std::lock_guard<std::mutex> g(m_lock);
    m_seen.push_back(TraceLine{severity, message});
    return 0;
}

std::vector<TraceLine> RecordingHandler::taken() {
    std::lock_guard<std::mutex> g(m_lock);
    std::vector<TraceLine> out;
    out.swap(m_seen);
    return out;
}

void PgrToolTest::SetUp() {
    if (const char *name = std::getenv("KELM_COMPUTER_NAME")) {
        m_hadName = true;
        m_savedName = name;
    }
    root = rendo_test::makeInstallRoot("pgrtool");
    ASSERT_FALSE(root.empty());
    mkdir((root + "ConfigFiles").c_str(), 0755);
    mkdir((root + "Logs").c_str(), 0755);
    // Level 1 keeps the file small; every line is forwarded whatever its level.
    rendo_test::writeFile(root + "ConfigFiles/rendo.conf",
                          "[DEBUG_TRACE_INFO]\n\"TRACEDIR\"=\"" + root + "Logs/\"\n\"TRACEFILE\"=\"rendo.log\"\n"
                          "\"TRACELEVEL\"=dword:00000001\n\"TRACESTDOUT\"=dword:00000000\n"
                          "\"TRACERUNTIMEUPDATE\"=dword:00000000\n");
    errors = CFiErrorManagerPtr(new CFiErrorManager);
    errors->registerHandler(&handler);
    log = makeLog();
    tool = CPGRToolPtr(new CPGRTool);
    tool->setTraceLog(log);
}

void PgrToolTest::TearDown() {
    tool.reset();
    log.reset();
    errors->unregisterHandler(&handler);
    unsetenv("KELM_INSTALL_ROOT");
    rendo_test::removeTree(root);
    if (m_hadName)
        setenv("KELM_COMPUTER_NAME", m_savedName.c_str(), 1);
    else
        unsetenv("KELM_COMPUTER_NAME");
}

void PgrToolTest::setComputerName(const std::string &name) { setenv("KELM_COMPUTER_NAME", name.c_str(), 1); }

CFiTraceLogPtr PgrToolTest::makeLog() {
    CFiTraceLogPtr l(new CFiTraceLog);
    l->initialize(CFiStringTool::toWide("rendo"), WString(), WString(), 1, false);
    EXPECT_TRUE(l->isInitialized());
    l->registerErrorManager(errors);
    return l;
}

int PgrToolTest::count(const std::vector<TraceLine> &lines, kel_eseverity severity, const std::string &message) {
    int n = 0;
    for (const TraceLine &l : lines) {
        if (l.severity == severity && l.message == message) ++n;
    }
    return n;
}

} // namespace pgrtool_test

#include "paramlists_fixture.h"

#include "pdk/cfistringtool.h"
#include "test_env.h"

#include <sys/stat.h>

namespace paramlists_test {

using namespace kelm_pdk_4_4;

Node::Node(const std::wstring &n) : name(n) {
    obj.name = const_cast<wchar_t *>(name.c_str());
    obj.name_bytes = static_cast<uint32_t>((name.size() + 1) * sizeof(wchar_t));
    domain.obj = &obj;
    domain.name = obj.name;
}

void TracedTest::SetUp() {
    root = rendo_test::makeInstallRoot("paramlists");
    ASSERT_FALSE(root.empty());
    mkdir((root + "ConfigFiles").c_str(), 0755);
    mkdir((root + "Logs").c_str(), 0755);
    log = CFiTraceLogPtr(new CFiTraceLog);
    // An explicit directory and file name write TRACELEVEL 6 to the
    // configuration file, so this initialisation already traces.
    log->initialize(WString(L"rendo"), CFiStringTool::toWide(root + "Logs"), WString(L"paramlists.log"), 6, false);
    ASSERT_TRUE(log->isInitialized());
}

void TracedTest::TearDown() {
    log.reset();
    rendo_test::removeTree(root);
}

// File lines are "<time> <Pid - p / Thread id - t> message\n"; a message may
// itself end in a line feed, which leaves an empty line behind it.
std::vector<std::string> TracedTest::messages() const {
    std::string text = rendo_test::readFile(CFiStringTool::toNarrow(log->tracePath()));
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t head = text.find(" / Thread id - ", pos);
        if (head == std::string::npos) break;
        size_t start = text.find("> ", head);
        if (start == std::string::npos) break;
        start += 2;
        // The message runs to the line feed that precedes the next line's
        // header (or the end of the file).
        size_t next = text.find(" <Pid - ", start);
        size_t end = next == std::string::npos ? text.size() : text.rfind('\n', next);
        std::string msg = text.substr(start, end - start);
        if (!msg.empty() && msg.back() == '\n') msg.pop_back();
        out.push_back(msg);
        pos = end;
    }
    return out;
}

bool TracedTest::traced(const std::string &text) const {
    for (const std::string &m : messages())
        if (m == text) return true;
    return false;
}

int TracedTest::countStartingWith(const std::string &prefix) const {
    int n = 0;
    for (const std::string &m : messages())
        if (m.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
}

} // namespace paramlists_test

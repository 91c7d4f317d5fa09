// An initialised trace log whose lines the tests read back: every line is
// forwarded to an error handler that keeps the message and its severity.
#ifndef TESTS_UNIT_SCSITOOL_TRACE_CAPTURE_H
#define TESTS_UNIT_SCSITOOL_TRACE_CAPTURE_H

#include "pdk/cfierror.h"
#include "pdk/cfitracelog.h"

#include <mutex>
#include <string>
#include <vector>

namespace scsitool_test {

// Severity of a forwarded line by trace level: 1 -> 3, 2 -> 2, 3 -> 1, else 4.
enum { kLevel1 = 3, kLevel2 = 2, kLevel3 = 1, kLevel6 = 4 };

struct TraceLine {
    std::string message;  // the text given to trace(), without the line's prefix
    int severity;
};

class TraceCapture : public kelm_pdk_4_4::CFiErrorHandlerBase {
public:
    TraceCapture();
    ~TraceCapture() override;
    int handleText(const std::string &text, kel_eseverity severity) override;
    int handleMessage(const kelm_pdk_4_4::CFiMessagePtr &) override { return 0; }

    const kelm_pdk_4_4::CFiTraceLogPtr &log() const { return m_log; }
    // Takes the lines seen so far.
    std::vector<TraceLine> take();

private:
    std::string m_root;
    kelm_pdk_4_4::CFiErrorManagerPtr m_errors;
    kelm_pdk_4_4::CFiTraceLogPtr m_log;
    std::mutex m_lock;
    std::vector<TraceLine> m_lines;
};

// The severity of the first line equal to text, or -1 when there is none.
int severityOf(const std::vector<TraceLine> &lines, const std::string &text);

} // namespace scsitool_test

#endif // TESTS_UNIT_SCSITOOL_TRACE_CAPTURE_H

// The external command runner's error record, also thrown as its exception,
// and the names of its status codes.
#ifndef PDK_CFIEXECPIPE_H
#define PDK_CFIEXECPIPE_H

#include "pdk/cfistringtool.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelm_pdk_4_4 {

// Status codes of the command runner; the value indexes the name table.
enum EFiExecPipeStatus : int32_t {
    KEL_EXEC_PIPE_SUCCESS = 0,
    KEL_EXEC_PIPE_CREATE_PIPE_FAILED = 1,
    KEL_EXEC_PIPE_DUPLICATE_HANDLE_FAILED = 2,
    KEL_EXEC_PIPE_CLOSE_HANDLE_FAILED = 3,
    KEL_EXEC_PIPE_CREATE_CHILD_PROCESS_FAILED = 4,
    KEL_EXEC_PIPE_READ_TIMEOUT = 5,
    KEL_EXEC_PIPE_PARSE_COMMAND_FAILED = 6,
    KEL_EXEC_PIPE_EXE_DOES_NOT_EXIST = 7,
    KEL_EXEC_PIPE_ERROR_UNEXPECTED = 8,
    KEL_EXEC_PIPE_IMPERSONATION_TIMEOUT = 9,
    KEL_EXEC_PIPE_CANNOT_IMPERSONATE = 10,
    KEL_EXEC_PIPE_CMD_FAILED = 11,
    KEL_EXEC_PIPE_CMD_KILLED = 12,
    KEL_EXEC_PIPE_CMD_ERROR_UNEXPECTED = 13,
};

constexpr const char *KEL_EXEC_PIPE_STATUS_NAMES[] = {
    "KEL_EXEC_PIPE_SUCCESS",
    "KEL_EXEC_PIPE_CREATE_PIPE_FAILED",
    "KEL_EXEC_PIPE_DUPLICATE_HANDLE_FAILED",
    "KEL_EXEC_PIPE_CLOSE_HANDLE_FAILED",
    "KEL_EXEC_PIPE_CREATE_CHILD_PROCESS_FAILED",
    "KEL_EXEC_PIPE_READ_TIMEOUT",
    "KEL_EXEC_PIPE_PARSE_COMMAND_FAILED",
    "KEL_EXEC_PIPE_EXE_DOES_NOT_EXIST",
    "KEL_EXEC_PIPE_ERROR_UNEXPECTED",
    "KEL_EXEC_PIPE_IMPERSONATION_TIMEOUT",
    "KEL_EXEC_PIPE_CANNOT_IMPERSONATE",
    "KEL_EXEC_PIPE_CMD_FAILED",
    "KEL_EXEC_PIPE_CMD_KILLED",
    "KEL_EXEC_PIPE_CMD_ERROR_UNEXPECTED",
};
constexpr size_t KEL_EXEC_PIPE_STATUS_COUNT = sizeof(KEL_EXEC_PIPE_STATUS_NAMES) / sizeof(KEL_EXEC_PIPE_STATUS_NAMES[0]);
static_assert(KEL_EXEC_PIPE_STATUS_COUNT == KEL_EXEC_PIPE_CMD_ERROR_UNEXPECTED + 1, "one name per status");

// The name of a status code. A code outside the table (a corrupted record)
// gets "KEL_EXEC_PIPE_UNKNOWN" rather than a read past the table.
inline const char *execPipeStatusName(int32_t code) {
    if (code < 0 || static_cast<size_t>(code) >= KEL_EXEC_PIPE_STATUS_COUNT) return "KEL_EXEC_PIPE_UNKNOWN";
    return KEL_EXEC_PIPE_STATUS_NAMES[code];
}

// Thrown by value, caught by reference; also kept as the runner's last error.
class EFiExecPipe {
public:
    EFiExecPipe() = default;
    // command: the command text, or the user name for impersonation failures.
    EFiExecPipe(const std::string &command, int32_t code, const std::wstring &message = std::wstring(),
                int32_t systemError = 0)
        : m_command(command), m_message(message), m_code(code), m_systemError(systemError) {}

    const std::string &command() const { return m_command; }
    const std::wstring &message() const { return m_message; }
    int32_t code() const { return m_code; }
    int32_t systemError() const { return m_systemError; }
    const char *statusName() const { return execPipeStatusName(m_code); }

    // What a report shows: the message, or the command when there is none
    // (most runner failures carry only the command).
    std::wstring text() const {
        if (!m_message.empty()) return m_message;
        return CFiStringTool::toStdWide(m_command);
    }

private:
    std::string m_command;
    std::wstring m_message;
    int32_t m_code = KEL_EXEC_PIPE_SUCCESS;
    int32_t m_systemError = 0;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFIEXECPIPE_H

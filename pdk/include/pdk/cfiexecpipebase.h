// The protocol of the kit's external command runner: run a command, read
// its output line by line with a time-out, close and reap the process, and
// remember the last failure. CFiExecPipeWindows (cfiexecpipewindows.h) is the
// implementation.
#ifndef PDK_CFIEXECPIPEBASE_H
#define PDK_CFIEXECPIPEBASE_H

#include "pdk/cfibase.h"
#include "pdk/cfiexecpipe.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

namespace kelm_pdk_4_4 {

class CFiExecPipeBase : public CFiTraceable {
public:
    explicit CFiExecPipeBase(int closeAfterExec) : m_closeAfterExec(closeAfterExec != 0) {}
    CFiExecPipeBase(const std::vector<std::string> &arguments, int closeAfterExec)
        : m_arguments(arguments), m_closeAfterExec(closeAfterExec != 0) {}
    ~CFiExecPipeBase() override = default;
    CFiExecPipeBase(const CFiExecPipeBase &) = delete;
    CFiExecPipeBase &operator=(const CFiExecPipeBase &) = delete;

    // Starts the command with its output on a pipe; 0 or a KEL_EXEC_PIPE_ code.
    virtual int ExecPipe(const std::string &command, const std::string &directory) = 0;
    // The child's exit status, stopping it step by step when it does not end.
    virtual int WaitPid(int seconds) = 0;
    // Releases everything of the command and reaps the child: 0, 8 or 11.
    virtual int Close(int seconds) = 0;
    // One line of output without its line end, at most `size` bytes of it.
    // REQUIRES: buffer holds size + 1 bytes (the text is always terminated).
    // Returns 1 when a line (or a piece of one) was read, else 0.
    virtual int ReadLine(char *buffer, size_t size, int &timedOut, unsigned long seconds) = 0;
    virtual int IsAbortRequested() { return m_abortRequested.load(); }
    virtual int IsChildContext() = 0;
    virtual int ExecCommandInChildContext(const std::string &command, std::vector<std::string> &lines) = 0;
    // Runs the command and collects its output lines; see the implementation.
    virtual int ExecMain(const std::string &command, std::vector<std::string> &lines, const std::string &extra,
                         unsigned long seconds, const std::string &directory, const std::string &user,
                         const std::string &password) = 0;
    virtual int Exec(const std::string &command, std::vector<std::string> &lines, const std::string &extra,
                     unsigned long seconds, const std::string &directory, const std::string &user,
                     const std::string &password) = 0;
    // Asks the reading loop to stop at its next line; may come from another thread.
    virtual void Abort() { m_abortRequested.store(1); }
    virtual void Init() = 0;
    virtual EFiExecPipe getLastError() { return m_lastError; }

protected:
    std::atomic<int> m_abortRequested{0};
    std::vector<std::string> m_arguments;   // kept for runners that use it
    EFiExecPipe m_lastError;
    std::string m_userName;
    std::string m_password;
    std::string m_extra;
    bool m_closeAfterExec = false;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFIEXECPIPEBASE_H

// The kit's command runner over the Windows process API: two named pipes
// per command, an overlapped reader with a per-byte time-out, optional
// execution under another account (batch logon, with the batch logon right
// added for the run when the account lacks it), and an escalating stop of a
// child that does not exit (CTRL_C_EVENT, CTRL_BREAK_EVENT, termination with
// exit code 1067).
//
// One object serves one command on one thread (Abort may come from another
// thread). Close, and the destructor, always leave no child behind: a child
// still running after the escalation is terminated and reaped.
//
//   CFiExecPipeWindows run(1);                  // close after exec
//   std::vector<std::string> lines;
//   int rc = run.Exec("ls -l", lines, "", 30, "", "", "");
//   if (rc != 0) ... run.getLastError() ...
#ifndef PDK_CFIEXECPIPEWINDOWS_H
#define PDK_CFIEXECPIPEWINDOWS_H

#include "pdk/cfiexecpipebase.h"
#include "platform/windows.h"

#include <cstdint>

namespace kelm_pdk_4_4 {

class CFiExecPipeWindows : public CFiExecPipeBase {
public:
    explicit CFiExecPipeWindows(int closeAfterExec);
    CFiExecPipeWindows(const std::vector<std::string> &arguments, int closeAfterExec);
    ~CFiExecPipeWindows() override;

    int ExecPipe(const std::string &command, const std::string &directory) override;
    int WaitPid(int seconds) override;
    int Close(int seconds) override;
    int ReadLine(char *buffer, size_t size, int &timedOut, unsigned long seconds) override;
    int IsChildContext() override { return 0; }
    int ExecCommandInChildContext(const std::string &, std::vector<std::string> &) override { return 0; }
    int ExecMain(const std::string &command, std::vector<std::string> &lines, const std::string &extra,
                 unsigned long seconds, const std::string &directory, const std::string &user,
                 const std::string &password) override;
    int Exec(const std::string &command, std::vector<std::string> &lines, const std::string &extra,
             unsigned long seconds, const std::string &directory, const std::string &user,
             const std::string &password) override;
    void Init() override;

    // Throws EFiExecPipe (command, 4) when the process cannot be started.
    virtual void CreateChildProcess(const std::string &command, HANDLE childStdin, HANDLE childStdout,
                                    HANDLE childStderr, const std::string &directory);
    // 0, or the system error number.
    virtual DWORD GetNamedPipeHandles(const char *name, HANDLE &client, HANDLE &server,
                                      SECURITY_ATTRIBUTES *attributes);
    virtual void FlushHandles(HANDLE a, HANDLE b, HANDLE c, HANDLE d, HANDLE e);
    virtual void InitLsaString(const wchar_t *text, LSA_UNICODE_STRING &out);
    // The batch logon token of the user, or INVALID_HANDLE_VALUE; throws
    // EFiExecPipe (user, 9) when the impersonation guard cannot be had and
    // (user, 10) when the batch logon fails.
    virtual HANDLE Impersonate();

    // How long Impersonate waits for the process-wide guard (default 10 s).
    static void setImpersonationGuardWait(uint32_t milliseconds);

    uint32_t processId() const { return m_processId; }

private:
    void closeHandle(HANDLE &h);

    uint32_t m_lastSystemError = 0;
    uint32_t m_processId = static_cast<uint32_t>(-1);
    HANDLE m_process = INVALID_HANDLE_VALUE;
    HANDLE m_parentWrite = INVALID_HANDLE_VALUE;   // the child's standard input
    HANDLE m_parentRead = INVALID_HANDLE_VALUE;    // the child's output
    int m_rightsAdded = 0;
    void *m_userSid = nullptr;                     // owned copy
    LSA_HANDLE m_policy = INVALID_HANDLE_VALUE;
    HANDLE m_token = INVALID_HANDLE_VALUE;
    std::string m_command;
    HANDLE m_readEvent = INVALID_HANDLE_VALUE;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFIEXECPIPEWINDOWS_H

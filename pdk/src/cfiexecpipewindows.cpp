#include "pdk/cfiexecpipewindows.h"

#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <vector>

namespace kelm_pdk_4_4 {

namespace {

constexpr size_t kLineBuffer = 8192;
constexpr unsigned long kLineSize = 8191;
constexpr size_t kNameBuffer = 256;
constexpr int kCloseWaitSeconds = 10;
constexpr DWORD kLaterWaitMs = 30000;        // the waits after the first console event
constexpr DWORD kKilledExitCode = 1067;      // ERROR_PROCESS_ABORTED
constexpr DWORD kPipeOpenMode = 0x400C0003;  // duplex | WRITE_DAC | WRITE_OWNER | FILE_FLAG_OVERLAPPED
constexpr DWORD kClientAttributes = 0x40000081;  // FILE_FLAG_OVERLAPPED | normal | read-only
constexpr DWORD kCreationFlags = 0x08000220;     // CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS
constexpr ACCESS_MASK kPolicyAccess = 0x810;     // POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES
constexpr DWORD kMinimumBuild = 1057;
constexpr uint64_t kGuardMarginUnits = 600;
const wchar_t kBatchLogonRight[] = L"SeBatchLogonRight";

// Serialises adding and removing the batch logon right between runners of
// the process. Taken with one atomic exchange: two runners testing a plain
// flag could both find it clear.
std::atomic<bool> g_impersonationGuard{false};
std::atomic<uint32_t> g_guardWaitMs{10000};
// Orders a runner's "right present, so log on" against another runner
// removing the right it had added.
std::mutex g_rightsMutex;

bool valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }

uint64_t fileTimeNow() {
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The system's text for an error number, without its line end.
std::wstring systemMessage(DWORD error) {
    wchar_t buf[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, buf,
                             static_cast<DWORD>(sizeof buf / sizeof buf[0]), nullptr);
    std::wstring text = n > 0 ? std::wstring(buf, n) : std::wstring();
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    return text;
}

// Whole seconds as a wait in milliseconds, kept below INFINITE.
DWORD waitMs(unsigned long seconds) {
    const unsigned long cap = (INFINITE - 1) / 1000;
    return static_cast<DWORD>((seconds > cap ? cap : seconds) * 1000);
}

} // namespace

CFiExecPipeWindows::CFiExecPipeWindows(int closeAfterExec) : CFiExecPipeBase(closeAfterExec) { Init(); }

CFiExecPipeWindows::CFiExecPipeWindows(const std::vector<std::string> &arguments, int closeAfterExec)
    : CFiExecPipeBase(arguments, closeAfterExec) {
    Init();
}

CFiExecPipeWindows::~CFiExecPipeWindows() { Close(kCloseWaitSeconds); }

void CFiExecPipeWindows::setImpersonationGuardWait(uint32_t milliseconds) { g_guardWaitMs.store(milliseconds); }

void CFiExecPipeWindows::closeHandle(HANDLE &h) {
    if (valid(h)) CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
}

void CFiExecPipeWindows::Init() {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiExecPipeWindows::Init");
    unsigned long now = static_cast<unsigned long>(std::time(nullptr));
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<void *>(this));
    char name[kNameBuffer];
    std::snprintf(name, sizeof name, "%s_%s_%lu", "CFiExecPipeWindows_ReadEvent", address, now);
    m_readEvent = CreateEventA(nullptr, FALSE, FALSE, name);
    if (m_readEvent == nullptr) m_readEvent = INVALID_HANDLE_VALUE;
    m_lastSystemError = 0;
    m_processId = static_cast<uint32_t>(-1);
    m_process = INVALID_HANDLE_VALUE;
    m_parentWrite = INVALID_HANDLE_VALUE;
    m_parentRead = INVALID_HANDLE_VALUE;
    m_token = INVALID_HANDLE_VALUE;
    m_policy = INVALID_HANDLE_VALUE;
    m_rightsAdded = 0;
    m_userSid = nullptr;
}

int CFiExecPipeWindows::Exec(const std::string &command, std::vector<std::string> &lines, const std::string &extra,
                             unsigned long seconds, const std::string &directory, const std::string &user,
                             const std::string &password) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiExecPipeWindows::Exec");
    int result = ExecMain(command, lines, extra, seconds, directory, user, password);
    if (m_closeAfterExec) {
        int closed = Close(kCloseWaitSeconds);
        trace(2, "Close of the process returned %d", closed);
    }
    return result;
}

int CFiExecPipeWindows::ExecMain(const std::string &command, std::vector<std::string> &lines,
                                 const std::string &extra, unsigned long seconds, const std::string &directory,
                                 const std::string &user, const std::string &password) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiExecPipeWindows::ExecMain");
    std::vector<char> buffer(kLineBuffer, '\0');
    m_userName = user;
    m_password = password;
    m_extra = extra;
    if (IsChildContext()) return ExecCommandInChildContext(command, lines);

    int status = ExecPipe(command, directory);
    if (status != 0) return status;

    lines.clear();
    for (;;) {
        if (IsAbortRequested()) break;
        int timedOut = 0;
        int got = ReadLine(buffer.data(), kLineSize, timedOut, seconds);
        if (timedOut) {
            m_lastError = EFiExecPipe(command, KEL_EXEC_PIPE_READ_TIMEOUT);
            trace(1, "Process has timmedout (%d sec)", static_cast<int>(seconds));
            return KEL_EXEC_PIPE_READ_TIMEOUT;
        }
        if (got == 0) break;
        lines.emplace_back(buffer.data());
    }
    return Close(kCloseWaitSeconds);
}

int CFiExecPipeWindows::ExecPipe(const std::string &command, const std::string &directory) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiExecPipeWindows::ExecPipe");
    m_command = command;
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;

    unsigned long now = static_cast<unsigned long>(std::time(nullptr));
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<void *>(this));
    char inputName[kNameBuffer];
    char outputName[kNameBuffer];
    std::snprintf(inputName, sizeof inputName, "%s_%s_%lu", "\\\\.\\pipe\\CFiExecPipeWindows_InputPipeName", address,
                  now);
    std::snprintf(outputName, sizeof outputName, "%s_%s_%lu", "\\\\.\\pipe\\CFiExecPipeWindows_OutputPipeName",
                  address, now);

    // The set-up handles; every way out closes those still open, so a
    // failure half-way leaks nothing.
    HANDLE outClient = INVALID_HANDLE_VALUE;  // parent's reader, before duplication
    HANDLE childStdout = INVALID_HANDLE_VALUE;
    HANDLE childStderr = INVALID_HANDLE_VALUE;
    HANDLE childStdin = INVALID_HANDLE_VALUE;
    HANDLE inServer = INVALID_HANDLE_VALUE;   // parent's writer, before duplication
    auto closeSetUp = [&] {
        closeHandle(outClient);
        closeHandle(childStdout);
        closeHandle(childStderr);
        closeHandle(childStdin);
        closeHandle(inServer);
    };
    HANDLE self = GetCurrentProcess();

    try {
        DWORD error = GetNamedPipeHandles(outputName, outClient, childStdout, &attributes);
        if (error != 0) {
            trace(1, "GetNamedPipeHandles() FAILED with error code (%d)\n", static_cast<int>(error));
            m_lastError = EFiExecPipe(command, KEL_EXEC_PIPE_CREATE_PIPE_FAILED);
            closeSetUp();
            return KEL_EXEC_PIPE_CREATE_PIPE_FAILED;
        }
        if (!DuplicateHandle(self, childStdout, self, &childStderr, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
            childStderr = INVALID_HANDLE_VALUE;
            trace(1, "DuplicateHandle() FAILED to duplicate handle");
            m_lastError = EFiExecPipe(command, KEL_EXEC_PIPE_DUPLICATE_HANDLE_FAILED);
            closeSetUp();
            return KEL_EXEC_PIPE_DUPLICATE_HANDLE_FAILED;
        }
        error = GetNamedPipeHandles(inputName, childStdin, inServer, &attributes);
        if (error != 0) {
            trace(1, "GetNamedPipeHandles() FAILED with error code (%d)\n", static_cast<int>(error));
            m_lastError = EFiExecPipe(command, KEL_EXEC_PIPE_CREATE_PIPE_FAILED);
            closeSetUp();
            return KEL_EXEC_PIPE_CREATE_PIPE_FAILED;
        }
        if (!DuplicateHandle(self, inServer, self, &m_parentWrite, 0, FALSE, DUPLICATE_SAME_ACCESS) ||
            !DuplicateHandle(self, outClient, self, &m_parentRead, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
            trace(1, "DuplicateHandle() FAILED to duplicate handle");
            m_lastError = EFiExecPipe(command, KEL_EXEC_PIPE_DUPLICATE_HANDLE_FAILED);
            closeSetUp();
            closeHandle(m_parentWrite);
            closeHandle(m_parentRead);
            return KEL_EXEC_PIPE_DUPLICATE_HANDLE_FAILED;
        }
        for (HANDLE *h : {&inServer, &outClient}) {
            if (!CloseHandle(*h)) {
                trace(2, "Close failed with error code [%d]", static_cast<int>(GetLastError()));
                m_lastError = EFiExecPipe(command, KEL_EXEC_PIPE_CLOSE_HANDLE_FAILED);
                *h = INVALID_HANDLE_VALUE;
                closeSetUp();
                return KEL_EXEC_PIPE_CLOSE_HANDLE_FAILED;
            }
            *h = INVALID_HANDLE_VALUE;
        }

        m_token = INVALID_HANDLE_VALUE;
        if (!m_userName.empty()) {
            m_token = Impersonate();
            // Without a token the child would run as this process, not as
            // the account that was asked for.
            if (!valid(m_token)) {
                m_token = INVALID_HANDLE_VALUE;
                throw EFiExecPipe(m_userName, KEL_EXEC_PIPE_CANNOT_IMPERSONATE);
            }
        }
        CreateChildProcess(command, childStdin, childStdout, childStderr, directory);
        FlushHandles(childStdin, childStdout, childStderr, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE);
        childStdin = childStdout = childStderr = INVALID_HANDLE_VALUE;
        closeHandle(m_token);
        return KEL_EXEC_PIPE_SUCCESS;
    } catch (const EFiExecPipe &e) {
        closeSetUp();
        closeHandle(m_token);
        m_lastError = e;
        trace(2, "Execption occured while closing handles");
        return KEL_EXEC_PIPE_CLOSE_HANDLE_FAILED;
    } catch (...) {
        closeSetUp();
        closeHandle(m_token);
        trace(2, "Unexpected error encountered.");
        m_lastError = EFiExecPipe(command, KEL_EXEC_PIPE_ERROR_UNEXPECTED);
        return KEL_EXEC_PIPE_ERROR_UNEXPECTED;
    }
}

DWORD CFiExecPipeWindows::GetNamedPipeHandles(const char *name, HANDLE &client, HANDLE &server,
                                              SECURITY_ATTRIBUTES *attributes) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiExecPipeWindows::GetNamedPipeHandles");
    client = INVALID_HANDLE_VALUE;
    server = CreateNamedPipeA(name, kPipeOpenMode, 0, 4, 0, 0, 3000, attributes);
    if (!valid(server)) {
        server = INVALID_HANDLE_VALUE;
        m_lastSystemError = GetLastError();
        if (m_lastSystemError == 0) m_lastSystemError = ERROR_GEN_FAILURE;  // a failure must not read as success
        std::wstring reason = systemMessage(m_lastSystemError);
        trace(1, "CFiExecPipeWindows::GetNamedPipeHandles ERROR: CreateNamedPipeA failed, Error Code: %d, Reason: %S",
              static_cast<int>(m_lastSystemError), reason.c_str());
        return m_lastSystemError;
    }
    client = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, kClientAttributes, nullptr);
    if (!valid(client)) {
        client = INVALID_HANDLE_VALUE;
        m_lastSystemError = GetLastError();
        if (m_lastSystemError == 0) m_lastSystemError = ERROR_GEN_FAILURE;
        std::wstring reason = systemMessage(m_lastSystemError);
        trace(1, "CFiExecPipeWindows::GetNamedPipeHandles ERROR: CreateFileA failed, Error Code: %d, Reason: %S",
              static_cast<int>(m_lastSystemError), reason.c_str());
        closeHandle(server);
        return m_lastSystemError;
    }
    return 0;
}

void CFiExecPipeWindows::CreateChildProcess(const std::string &command, HANDLE childStdin, HANDLE childStdout,
                                            HANDLE childStderr, const std::string &directory) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiExecPipeWindows::CreateChildProcess");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childStdin;
    startup.hStdOutput = childStdout;
    startup.hStdError = childStderr;
    PROCESS_INFORMATION info{};
    const char *dir = directory.empty() ? nullptr : directory.c_str();
    std::vector<char> line(command.begin(), command.end());   // the call may write into the command line
    line.push_back('\0');
    BOOL ok;
    if (valid(m_token))
        ok = CreateProcessAsUserA(m_token, nullptr, line.data(), nullptr, nullptr, TRUE, kCreationFlags, nullptr,
                                  dir, &startup, &info);
    else
        ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, kCreationFlags, nullptr, dir, &startup,
                            &info);
    if (!ok) {
        DWORD error = GetLastError();
        m_lastSystemError = error;
        trace(1, "Failed to create child process");
        throw EFiExecPipe(command, KEL_EXEC_PIPE_CREATE_CHILD_PROCESS_FAILED, systemMessage(error),
                          static_cast<int32_t>(error));
    }
    m_processId = info.dwProcessId;
    m_process = info.hProcess;
    CloseHandle(info.hThread);
}

HANDLE CFiExecPipeWindows::Impersonate() {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiExecPipeWindows::Impersonate");
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT ||
        version.dwBuildNumber < kMinimumBuild)
        return INVALID_HANDLE_VALUE;

    HANDLE network = INVALID_HANDLE_VALUE;
    if (!LogonUserA(m_userName.c_str(), ".", m_password.c_str(), LOGON32_LOGON_NETWORK, LOGON32_PROVIDER_DEFAULT,
                    &network))
        return INVALID_HANDLE_VALUE;

    alignas(8) unsigned char tokenUser[512];
    DWORD length = 0;
    if (!GetTokenInformation(network, TokenUser, tokenUser, sizeof tokenUser, &length)) return network;
    PSID sid = reinterpret_cast<TOKEN_USER *>(tokenUser)->User.Sid;
    DWORD sidLength = GetLengthSid(sid);
    std::free(m_userSid);
    m_userSid = sidLength > 0 ? std::malloc(sidLength) : nullptr;
    if (m_userSid != nullptr && !CopySid(sidLength, m_userSid, sid)) {
        std::free(m_userSid);
        m_userSid = nullptr;
    }

    LSA_OBJECT_ATTRIBUTES objectAttributes{};
    if (valid(m_policy)) LsaClose(m_policy);
    m_policy = INVALID_HANDLE_VALUE;
    if (LsaOpenPolicy(nullptr, &objectAttributes, kPolicyAccess, &m_policy) != STATUS_SUCCESS)
        m_policy = INVALID_HANDLE_VALUE;
    auto holdsRight = [&] {
        bool found = false;
        PLSA_UNICODE_STRING rights = nullptr;
        ULONG count = 0;
        if (valid(m_policy) && m_userSid != nullptr &&
            LsaEnumerateAccountRights(m_policy, m_userSid, &rights, &count) == STATUS_SUCCESS) {
            for (ULONG i = 0; i < count; ++i)
                if (std::wstring(rights[i].Buffer, rights[i].Length / sizeof(WCHAR)) == kBatchLogonRight) found = true;
            LsaFreeMemory(rights);
        }
        return found;
    };
    auto batchLogon = [&] {
        HANDLE batch = INVALID_HANDLE_VALUE;
        if (!LogonUserA(m_userName.c_str(), ".", m_password.c_str(), LOGON32_LOGON_BATCH, LOGON32_PROVIDER_DEFAULT,
                        &batch))
            throw EFiExecPipe(m_userName, KEL_EXEC_PIPE_CANNOT_IMPERSONATE);
        return batch;
    };
    CloseHandle(network);   // only the batch token is handed on

    // A right found present may have been added by another runner that
    // removes it at its Close: the check and the logon that relies on it
    // happen together, never around that removal.
    {
        std::lock_guard<std::mutex> lock(g_rightsMutex);
        if (holdsRight()) return batchLogon();
    }

    uint64_t start = fileTimeNow();
    uint64_t bound = static_cast<uint64_t>(g_guardWaitMs.load()) * 10000u;
    for (unsigned spins = 0; g_impersonationGuard.exchange(true); ++spins) {
        if (fileTimeNow() - start > bound + kGuardMarginUnits) {
            trace(1, "CEFiExecPipe could not impersonate");
            throw EFiExecPipe(m_userName, KEL_EXEC_PIPE_IMPERSONATION_TIMEOUT);
        }
        SwitchToThread();
        // The holder keeps the guard for its whole command: stop spinning hot.
        if (spins > 100) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::lock_guard<std::mutex> lock(g_rightsMutex);
    if (holdsRight()) {
        g_impersonationGuard.store(false);   // came back meanwhile: nothing of ours to remove later
    } else {
        LSA_UNICODE_STRING right;
        InitLsaString(kBatchLogonRight, right);
        if (valid(m_policy) && m_userSid != nullptr) LsaAddAccountRights(m_policy, m_userSid, &right, 1);
        m_rightsAdded = 1;
    }
    return batchLogon();
}

void CFiExecPipeWindows::InitLsaString(const wchar_t *text, LSA_UNICODE_STRING &out) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiExecPipeWindows::InitLsaString");
    if (text == nullptr) {
        out.Length = 0;
        out.MaximumLength = 0;
        out.Buffer = nullptr;
        return;
    }
    size_t chars = std::wcslen(text);
    out.Length = static_cast<USHORT>(chars * sizeof(WCHAR));
    out.MaximumLength = static_cast<USHORT>(out.Length + sizeof(WCHAR));
    out.Buffer = const_cast<wchar_t *>(text);
}

int CFiExecPipeWindows::ReadLine(char *buffer, size_t size, int &timedOut, unsigned long seconds) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiExecPipeWindows::ReadLine");
    timedOut = 0;
    if (!valid(m_parentRead) || !valid(m_readEvent) || buffer == nullptr || size == 0) return 0;
    // An ended child is read without waiting. Its handle stays open: Close
    // still needs the exit code from it.
    if (!valid(m_process) || WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0) seconds = 0;

    size_t stored = 0;
    while (stored < size) {
        char byte = 0;
        DWORD got = 0;
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_readEvent;
        if (!ReadFile(m_parentRead, &byte, 1, &got, &overlapped)) {
            DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                if (error != ERROR_BROKEN_PIPE) {
                    std::wstring reason = systemMessage(error);
                    trace(1, "CFiExecPipeWindows::ReadLine ERROR: ReadFile failed, Error Code: %d, Reason: %S",
                          static_cast<int>(error), reason.c_str());
                }
                break;
            }
            if (seconds == 0) {
                CancelIo(m_parentRead);
                break;
            }
            HANDLE objects[2] = {m_process, m_readEvent};
            DWORD waited = WaitForMultipleObjects(2, objects, FALSE, waitMs(seconds));
            if (waited == WAIT_OBJECT_0) {
                // The child ended while we waited: what it wrote before is
                // still in the pipe, so read on without waiting.
                CancelIo(m_parentRead);
                seconds = 0;
                continue;
            }
            if (waited == WAIT_TIMEOUT) {
                CancelIo(m_parentRead);
                timedOut = 1;
                break;
            }
            if (waited != WAIT_OBJECT_0 + 1) {
                CancelIo(m_parentRead);
                break;
            }
        }
        if (!GetOverlappedResult(m_parentRead, &overlapped, &got, TRUE)) {
            DWORD error = GetLastError();
            if (error != ERROR_BROKEN_PIPE) {
                std::wstring reason = systemMessage(error);
                trace(1,
                      "CFiExecPipeWindows::ReadLine ERROR: GetOverlappedResult failed, Error Code: %d, Reason: %S",
                      static_cast<int>(error), reason.c_str());
            }
            break;
        }
        if (got == 0) break;
        if (byte == '\n') {
            buffer[stored] = '\0';
            if (stored > 0 && buffer[stored - 1] == '\r') buffer[stored - 1] = '\0';
            return 1;
        }
        buffer[stored++] = byte;
    }
    if (stored == 0) return 0;
    buffer[stored] = '\0';
    return 1;
}

int CFiExecPipeWindows::WaitPid(int seconds) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiExecPipeWindows::WaitPid");
    DWORD ms = waitMs(seconds < 0 ? 0ul : static_cast<unsigned long>(seconds));
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD waited = WaitForSingleObject(m_process, ms);
        if (waited == WAIT_OBJECT_0) {
            DWORD code = 0;
            if (!GetExitCodeProcess(m_process, &code)) return -1;
            return static_cast<int>(code);
        }
        if (waited == WAIT_FAILED) {
            TerminateProcess(m_process, kKilledExitCode);
            return static_cast<int>(kKilledExitCode);
        }
        if (waited == WAIT_TIMEOUT) {
            if (attempt == 0) {
                GenerateConsoleCtrlEvent(CTRL_C_EVENT, m_processId);
            } else if (attempt == 1) {
                GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, m_processId);
            } else {
                TerminateProcess(m_process, kKilledExitCode);
                return static_cast<int>(kKilledExitCode);
            }
            ms = kLaterWaitMs;
        }
    }
    return -1;
}

int CFiExecPipeWindows::Close(int) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiExecPipeWindows::Close");
    int result = KEL_EXEC_PIPE_SUCCESS;
    if (m_rightsAdded) {
        LSA_UNICODE_STRING right;
        InitLsaString(kBatchLogonRight, right);
        {
            std::lock_guard<std::mutex> lock(g_rightsMutex);
            if (valid(m_policy) && m_userSid != nullptr)
                LsaRemoveAccountRights(m_policy, m_userSid, FALSE, &right, 1);
        }
        g_impersonationGuard.store(false);
        m_rightsAdded = 0;
    }
    if (valid(m_policy)) LsaClose(m_policy);
    m_policy = INVALID_HANDLE_VALUE;
    std::free(m_userSid);
    m_userSid = nullptr;

    closeHandle(m_parentRead);
    closeHandle(m_parentWrite);

    if (valid(m_process)) {
        int status = WaitPid(kCloseWaitSeconds);
        if (status < 0) {
            trace(2, "Unexpected error encountered.");
            m_lastError = EFiExecPipe(m_command, KEL_EXEC_PIPE_ERROR_UNEXPECTED, L"Error in WaitPid()");
            result = KEL_EXEC_PIPE_ERROR_UNEXPECTED;
        } else if (status > 0) {
            wchar_t text[64];
            std::swprintf(text, sizeof text / sizeof text[0], L"Command exited with status %d", status);
            m_lastError = EFiExecPipe(m_command, KEL_EXEC_PIPE_CMD_FAILED, text);
            result = KEL_EXEC_PIPE_CMD_FAILED;
        }
        // WaitPid may give up without a result; the child must not outlive
        // the runner all the same.
        DWORD code = 0;
        if (GetExitCodeProcess(m_process, &code) && code == STILL_ACTIVE) TerminateProcess(m_process, kKilledExitCode);
        closeHandle(m_process);
    }
    closeHandle(m_token);
    closeHandle(m_readEvent);
    m_processId = static_cast<uint32_t>(-1);
    return result;
}

void CFiExecPipeWindows::FlushHandles(HANDLE a, HANDLE b, HANDLE c, HANDLE d, HANDLE e) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiExecPipeWindows::FlushHandles");
    for (HANDLE h : {a, b, c, d, e})
        if (valid(h)) CloseHandle(h);
}

} // namespace kelm_pdk_4_4

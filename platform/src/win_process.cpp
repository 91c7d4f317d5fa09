// Processes, named pipes, events, waits, console control events,
// termination, and the host's accounts (logon, tokens, LSA account rights)
// of the Windows subset, carried out with real POSIX processes. The contract
// is stated in platform/windows.h above CreateNamedPipeA.
#include "sim_internal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <set>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace rendo_sim {

struct Host::ProcessState {
    struct Account {
        std::string name;
        std::string password;
        std::set<std::string> rights;
        uint32_t rid = 0;
    };
    std::mutex mutex;
    std::map<std::string, Account> accounts;   // by upper-cased name: Windows names ignore case
    uint32_t nextRid = 1001;
    std::vector<ProcessRecord> processes;
    std::vector<uint32_t> waits;
};

Host::ProcessState &Host::processState() {
    std::lock_guard<std::mutex> lock(mutex());
    if (!m_processState) m_processState = std::make_shared<ProcessState>();
    return *m_processState;
}

void Host::addAccount(const std::string &name, const std::string &password, const std::vector<std::string> &rights) {
    ProcessState &ps = processState();
    std::lock_guard<std::mutex> lock(ps.mutex);
    auto &a = ps.accounts[detail::upper(name)];
    if (a.rid == 0) a.rid = ps.nextRid++;
    a.name = name;
    a.password = password;
    a.rights = std::set<std::string>(rights.begin(), rights.end());
}

std::vector<std::string> Host::accountRights(const std::string &name) const {
    ProcessState &ps = const_cast<Host *>(this)->processState();
    std::lock_guard<std::mutex> lock(ps.mutex);
    auto it = ps.accounts.find(detail::upper(name));
    if (it == ps.accounts.end()) return {};
    return std::vector<std::string>(it->second.rights.begin(), it->second.rights.end());
}

std::vector<ProcessRecord> Host::processes() const {
    ProcessState &ps = const_cast<Host *>(this)->processState();
    std::lock_guard<std::mutex> lock(ps.mutex);
    return ps.processes;
}

std::vector<uint32_t> Host::waits() const {
    ProcessState &ps = const_cast<Host *>(this)->processState();
    std::lock_guard<std::mutex> lock(ps.mutex);
    return ps.waits;
}

void Host::clearWaits() {
    ProcessState &ps = processState();
    std::lock_guard<std::mutex> lock(ps.mutex);
    ps.waits.clear();
}

} // namespace rendo_sim

using namespace rendo_sim;
using namespace rendo_sim::detail;

namespace {

// On the virtual clock a child still needs real time to start, write, exit
// or obey a signal. A wait runs out only once every process of our
// children's groups is asleep and has used no CPU time for a moment (nothing
// will happen before some time passes), or after the cap.
constexpr int kVirtualSettleMs = 50;
constexpr int kVirtualWaitCapMs = 10000;
// Longest single sleep of a wait loop between checks of its objects.
constexpr int kPollSliceMs = 10;
constexpr DWORD kStatusPending = 0x103;

using Clock = std::chrono::steady_clock;

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

struct Event;

// One overlapped read that could not complete at once. It is carried out
// later by whoever waits for its event or collects its result; once
// cancelled it never touches the caller's buffer or OVERLAPPED again.
struct PendingRead {
    std::mutex mutex;
    int fd = -1;             // borrowed from the handle; the handle cancels us before it closes
    void *buffer = nullptr;
    DWORD size = 0;
    LPOVERLAPPED overlapped = nullptr;
    std::weak_ptr<Event> event;
    enum State { Pending, Done, Cancelled } state = Pending;
};

struct Event : HandleObject {
    std::mutex mutex;
    bool manualReset = false;
    bool signalled = false;
    std::shared_ptr<PendingRead> io;   // read whose completion sets this event
    std::shared_ptr<Host> host;
};

struct EventHandle : HandleObject {
    std::shared_ptr<Event> event;
};

// One end of a named pipe (a socket of a connected pair).
struct PipeEnd : HandleObject {
    int fd = -1;
    std::mutex mutex;
    std::vector<std::shared_ptr<PendingRead>> pending;
    void cancelAll();
    ~PipeEnd() override {
        cancelAll();
        if (fd >= 0) ::close(fd);
    }
};

// Server ends waiting for their client, by upper-cased pipe name.
struct PipeInstance {
    int clientFd = -1;   // owned here until a client takes it
};
std::mutex g_pipeMutex;
std::map<std::string, std::vector<std::shared_ptr<PipeInstance>>> g_pipes;

struct PipeServer : PipeEnd {
    std::string name;
    std::shared_ptr<PipeInstance> instance;
    ~PipeServer() override {
        std::lock_guard<std::mutex> lock(g_pipeMutex);
        auto it = g_pipes.find(name);
        if (it != g_pipes.end()) {
            auto &v = it->second;
            v.erase(std::remove(v.begin(), v.end(), instance), v.end());
            if (v.empty()) g_pipes.erase(it);
        }
        if (instance && instance->clientFd >= 0) {
            ::close(instance->clientFd);
            instance->clientFd = -1;
        }
    }
};

void setEvent(const std::shared_ptr<Event> &e) {
    if (!e) return;
    std::lock_guard<std::mutex> lock(e->mutex);
    e->signalled = true;
    e->io.reset();
}

void finish(PendingRead &p, DWORD error, DWORD bytes) {
    p.overlapped->Internal = error;
    p.overlapped->InternalHigh = bytes;
    p.state = error == ERROR_OPERATION_ABORTED ? PendingRead::Cancelled : PendingRead::Done;
}

DWORD errnoToError(int e) {
    switch (e) {
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN: return ERROR_BROKEN_PIPE;
    case EBADF: return ERROR_INVALID_HANDLE;
    default: return ERROR_GEN_FAILURE;
    }
}

// Tries the read once, without blocking. True when it is no longer pending.
bool tryComplete(const std::shared_ptr<PendingRead> &p) {
    std::shared_ptr<Event> event;
    {
        std::lock_guard<std::mutex> lock(p->mutex);
        if (p->state != PendingRead::Pending) return true;
        ssize_t n = ::recv(p->fd, p->buffer, p->size, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return false;
        if (n > 0) finish(*p, ERROR_SUCCESS, static_cast<DWORD>(n));
        else finish(*p, n == 0 ? ERROR_BROKEN_PIPE : errnoToError(errno), 0);
        event = p->event.lock();
    }
    setEvent(event);
    return true;
}

void cancel(const std::shared_ptr<PendingRead> &p) {
    std::shared_ptr<Event> event;
    {
        std::lock_guard<std::mutex> lock(p->mutex);
        if (p->state != PendingRead::Pending) return;
        finish(*p, ERROR_OPERATION_ABORTED, 0);
        event = p->event.lock();
    }
    setEvent(event);   // Windows signals the event when the cancelled read completes
}

void PipeEnd::cancelAll() {
    std::vector<std::shared_ptr<PendingRead>> reads;
    {
        std::lock_guard<std::mutex> lock(mutex);
        reads.swap(pending);
    }
    for (auto &p : reads) cancel(p);
}

void forget(PipeEnd &end, const std::shared_ptr<PendingRead> &p) {
    std::lock_guard<std::mutex> lock(end.mutex);
    end.pending.erase(std::remove(end.pending.begin(), end.pending.end(), p), end.pending.end());
}

// ------------------------------------------------------------- processes

// A child process. Its id stays ours until it is reaped; reaping records the
// exit code, so the process can be asked about long after it ended.
struct Process {
    std::mutex mutex;
    pid_t pid = -1;
    bool reaped = false;
    DWORD exitCode = STILL_ACTIVE;
    std::shared_ptr<Host> host;

    static DWORD codeOf(int status) {
        if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
        if (WIFSIGNALED(status)) return static_cast<DWORD>(128 + WTERMSIG(status));
        return STILL_ACTIVE;
    }
    // REQUIRES: mutex held.
    bool pollLocked() {
        if (reaped) return true;
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            reaped = true;
            exitCode = codeOf(status);
        } else if (r < 0 && errno == ECHILD) {
            reaped = true;   // reaped elsewhere; the code is lost
            exitCode = 1;
        }
        return reaped;
    }
    bool poll() {
        std::lock_guard<std::mutex> lock(mutex);
        return pollLocked();
    }
    ~Process() {
        std::lock_guard<std::mutex> lock(mutex);
        if (pid > 0 && !pollLocked()) {
            // The last handle went while the child runs on, as Windows allows:
            // reap it when it ends so that it never lingers as a zombie.
            pid_t p = pid;
            std::thread([p] {
                int status;
                while (::waitpid(p, &status, 0) < 0 && errno == EINTR) {
                }
            }).detach();
        }
    }
};

struct ProcessHandle : HandleObject {
    std::shared_ptr<Process> process;
};

struct ThreadHandle : HandleObject {};

struct TokenHandle : HandleObject {
    std::shared_ptr<Host> host;
    std::string account;
    uint32_t rid = 0;
};

struct PolicyHandle : HandleObject {
    std::shared_ptr<Host> host;
};

// Children not yet reaped: only their groups may get console events.
std::mutex g_childMutex;
std::map<pid_t, std::weak_ptr<Process>> g_children;

std::shared_ptr<Process> liveChild(pid_t pid) {
    std::lock_guard<std::mutex> lock(g_childMutex);
    auto it = g_children.find(pid);
    if (it == g_children.end()) return nullptr;
    auto p = it->second.lock();
    if (!p) g_children.erase(it);
    return p;
}

// ------------------------------------------------------------------ waits

struct Waitable {
    std::shared_ptr<Process> process;
    std::shared_ptr<Event> event;
    std::shared_ptr<Host> host;

    // Signalled now? Carries out a pending read of an event first.
    bool ready() {
        if (process) return process->poll();
        std::shared_ptr<PendingRead> io;
        {
            std::lock_guard<std::mutex> lock(event->mutex);
            if (event->signalled) return true;
            io = event->io;
        }
        if (io) tryComplete(io);
        std::lock_guard<std::mutex> lock(event->mutex);
        return event->signalled;
    }
    // Satisfying a wait resets an auto-reset event.
    void consume() {
        if (!event) return;
        std::lock_guard<std::mutex> lock(event->mutex);
        if (!event->manualReset) event->signalled = false;
    }
    int pollFd() {
        if (!event) return -1;
        std::lock_guard<std::mutex> lock(event->mutex);
        return event->io ? event->io->fd : -1;
    }
};

bool resolve(HANDLE h, Waitable &w) {
    auto object = findHandle(h);
    if (auto p = std::dynamic_pointer_cast<ProcessHandle>(object)) {
        w.process = p->process;
        w.host = p->process->host;
        return true;
    }
    if (auto e = std::dynamic_pointer_cast<EventHandle>(object)) {
        w.event = e->event;
        w.host = e->event->host;
        return true;
    }
    return false;
}

// What our live children's groups are doing, from /proc: whether one of
// them is running (or in uninterruptible sleep), and sums that change
// whenever any of them is scheduled or a member comes or goes (time on the
// CPU and slices run from schedstat, CPU ticks from stat, process ids).
struct Activity {
    bool busy = false;
    uint64_t members = 0;
    uint64_t cpu = 0;
    bool operator==(const Activity &o) const { return busy == o.busy && members == o.members && cpu == o.cpu; }
};

bool readSmall(const std::string &path, char *buf, size_t size) {
    FILE *f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return false;
    size_t n = std::fread(buf, 1, size - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    return true;
}

Activity childActivity() {
    std::set<long> groups;
    {
        std::lock_guard<std::mutex> lock(g_childMutex);
        for (auto &c : g_children)
            if (!c.second.expired()) groups.insert(static_cast<long>(c.first));
    }
    Activity a;
    if (groups.empty()) return a;
    DIR *proc = ::opendir("/proc");
    if (proc == nullptr) return a;
    while (dirent *e = ::readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::string dir = std::string("/proc/") + e->d_name;
        char line[1024];
        if (!readSmall(dir + "/stat", line, sizeof line)) continue;
        const char *close = std::strrchr(line, ')');   // the command name may hold anything
        if (close == nullptr) continue;
        char state = 0;
        long ppid = 0, pgrp = 0;
        unsigned long long utime = 0, stime = 0;
        if (std::sscanf(close + 1, " %c %ld %ld %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &state, &ppid, &pgrp,
                        &utime, &stime) != 5)
            continue;
        if (groups.count(pgrp) == 0) continue;
        if (state == 'R' || state == 'D' || state == 'W') a.busy = true;
        a.members += std::strtoull(e->d_name, nullptr, 10);
        a.cpu += utime + stime;
        unsigned long long runNs = 0, waitNs = 0, slices = 0;
        if (readSmall(dir + "/schedstat", line, sizeof line) &&
            std::sscanf(line, "%llu %llu %llu", &runNs, &waitNs, &slices) == 3)
            a.cpu += runNs + slices;
    }
    ::closedir(proc);
    return a;
}

void recordWait(Host &host, DWORD ms) {
    Host::ProcessState &ps = host.processState();
    std::lock_guard<std::mutex> lock(ps.mutex);
    ps.waits.push_back(ms);
}

// Sleeps until one of the fds is readable or the slice is over.
void pause(std::vector<Waitable> &objects, int sliceMs) {
    std::vector<pollfd> fds;
    for (auto &w : objects) {
        int fd = w.pollFd();
        if (fd >= 0) fds.push_back(pollfd{fd, POLLIN, 0});
    }
    if (fds.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(sliceMs));
    else ::poll(fds.data(), fds.size(), sliceMs);
}

} // namespace

namespace rendo_sim {
namespace detail {

HANDLE openPipeClient(const std::wstring &name, DWORD access, DWORD) {
    if ((access & (GENERIC_READ | GENERIC_WRITE)) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    std::string key = upper(narrow(name));
    auto end = std::make_shared<PipeEnd>();
    {
        std::lock_guard<std::mutex> lock(g_pipeMutex);
        auto it = g_pipes.find(key);
        if (it == g_pipes.end()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        for (auto &inst : it->second)
            if (inst->clientFd >= 0) {
                end->fd = inst->clientFd;
                inst->clientFd = -1;
                break;
            }
    }
    if (end->fd < 0) {
        SetLastError(ERROR_PIPE_BUSY);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return addHandle(end);
}

bool isPipeName(const std::wstring &name) {
    static const std::string prefix = "\\\\.\\PIPE\\";
    return upper(narrow(name.substr(0, prefix.size()))) == prefix;
}

} // namespace detail
} // namespace rendo_sim

extern "C" {

HANDLE CreateNamedPipeA(LPCSTR name, DWORD openMode, DWORD, DWORD maxInstances, DWORD, DWORD, DWORD,
                        SECURITY_ATTRIBUTES *) {
    if (name == nullptr || !isPipeName(widen(name)) || std::strlen(name) <= 9) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    if ((openMode & PIPE_ACCESS_DUPLEX) == 0 || maxInstances == 0 ||
        (maxInstances > PIPE_UNLIMITED_INSTANCES && maxInstances != PIPE_UNLIMITED_INSTANCES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string key = upper(name);
    int fds[2];
    {
        std::lock_guard<std::mutex> lock(g_pipeMutex);
        auto it = g_pipes.find(key);
        if (it != g_pipes.end() && maxInstances != PIPE_UNLIMITED_INSTANCES && it->second.size() >= maxInstances) {
            SetLastError(ERROR_PIPE_BUSY);
            return INVALID_HANDLE_VALUE;
        }
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return INVALID_HANDLE_VALUE;
        }
        auto server = std::make_shared<PipeServer>();
        server->fd = fds[0];
        server->name = key;
        server->instance = std::make_shared<PipeInstance>();
        server->instance->clientFd = fds[1];
        g_pipes[key].push_back(server->instance);
        SetLastError(ERROR_SUCCESS);
        return addHandle(server);
    }
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED ov) {
    auto end = findHandleAs<PipeEnd>(h);
    if (!end) return fail(ERROR_INVALID_HANDLE);
    if (buffer == nullptr && size > 0) return fail(ERROR_INVALID_USER_BUFFER);
    if (read != nullptr) *read = 0;
    if (ov == nullptr) {
        for (;;) {
            ssize_t n = ::recv(end->fd, buffer, size, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) {
                if (read != nullptr) *read = static_cast<DWORD>(n);
                return TRUE;
            }
            return fail(n == 0 ? ERROR_BROKEN_PIPE : errnoToError(errno));
        }
    }
    std::shared_ptr<Event> event;
    if (ov->hEvent != nullptr) {
        auto eh = findHandleAs<EventHandle>(ov->hEvent);
        if (!eh) return fail(ERROR_INVALID_HANDLE);
        event = eh->event;
    }
    ssize_t n = ::recv(end->fd, buffer, size, MSG_DONTWAIT);
    if (n > 0) {
        ov->Internal = ERROR_SUCCESS;
        ov->InternalHigh = static_cast<ULONG_PTR>(n);
        if (read != nullptr) *read = static_cast<DWORD>(n);
        setEvent(event);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        DWORD error = n == 0 ? ERROR_BROKEN_PIPE : errnoToError(errno);
        ov->Internal = error;
        ov->InternalHigh = 0;
        return fail(error);
    }
    auto p = std::make_shared<PendingRead>();
    p->fd = end->fd;
    p->buffer = buffer;
    p->size = size;
    p->overlapped = ov;
    p->event = event;
    ov->Internal = kStatusPending;
    ov->InternalHigh = 0;
    {
        std::lock_guard<std::mutex> lock(end->mutex);
        end->pending.push_back(p);
    }
    if (event) {
        std::lock_guard<std::mutex> lock(event->mutex);
        event->signalled = false;
        event->io = p;
    }
    return fail(ERROR_IO_PENDING);
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED ov) {
    auto end = findHandleAs<PipeEnd>(h);
    if (!end) return fail(ERROR_INVALID_HANDLE);
    if (buffer == nullptr && size > 0) return fail(ERROR_INVALID_USER_BUFFER);
    DWORD done = 0;
    while (done < size) {
        ssize_t n = ::send(end->fd, static_cast<const char *>(buffer) + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(errnoToError(errno));
        done += static_cast<DWORD>(n);
    }
    if (written != nullptr) *written = done;
    if (ov != nullptr) {
        ov->Internal = ERROR_SUCCESS;
        ov->InternalHigh = done;
        if (auto eh = findHandleAs<EventHandle>(ov->hEvent)) setEvent(eh->event);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL GetOverlappedResult(HANDLE h, LPOVERLAPPED ov, LPDWORD bytes, BOOL wait) {
    auto end = findHandleAs<PipeEnd>(h);
    if (!end) return fail(ERROR_INVALID_HANDLE);
    if (ov == nullptr || bytes == nullptr) return fail(ERROR_INVALID_PARAMETER);
    std::shared_ptr<PendingRead> p;
    {
        std::lock_guard<std::mutex> lock(end->mutex);
        for (auto &q : end->pending)
            if (q->overlapped == ov) p = q;
    }
    if (p) {
        while (!tryComplete(p)) {
            if (!wait) return fail(ERROR_IO_INCOMPLETE);
            pollfd fd{p->fd, POLLIN, 0};
            ::poll(&fd, 1, -1);
        }
        forget(*end, p);
    }
    *bytes = static_cast<DWORD>(ov->InternalHigh);
    DWORD error = static_cast<DWORD>(ov->Internal);
    if (error == kStatusPending) return fail(ERROR_IO_INCOMPLETE);
    if (error != ERROR_SUCCESS) return fail(error);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CancelIo(HANDLE h) {
    auto end = findHandleAs<PipeEnd>(h);
    if (!end) return fail(ERROR_INVALID_HANDLE);
    end->cancelAll();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

HANDLE CreateEventA(SECURITY_ATTRIBUTES *, BOOL manualReset, BOOL initialState, LPCSTR) {
    // Names only label the event here: the runner names each of its events uniquely.
    auto e = std::make_shared<Event>();
    e->manualReset = manualReset != FALSE;
    e->signalled = initialState != FALSE;
    e->host = currentHost();
    auto h = std::make_shared<EventHandle>();
    h->event = e;
    SetLastError(ERROR_SUCCESS);
    return addHandle(h);
}

BOOL SetEvent(HANDLE h) {
    auto eh = findHandleAs<EventHandle>(h);
    if (!eh) return fail(ERROR_INVALID_HANDLE);
    std::lock_guard<std::mutex> lock(eh->event->mutex);
    eh->event->signalled = true;
    return TRUE;
}

BOOL ResetEvent(HANDLE h) {
    auto eh = findHandleAs<EventHandle>(h);
    if (!eh) return fail(ERROR_INVALID_HANDLE);
    std::lock_guard<std::mutex> lock(eh->event->mutex);
    eh->event->signalled = false;
    return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL waitAll, DWORD ms) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<Waitable> objects(count);
    for (DWORD i = 0; i < count; ++i)
        if (!resolve(handles[i], objects[i])) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    std::shared_ptr<Host> host = objects[0].host ? objects[0].host : currentHost();
    bool virtualClock = host->virtualClock();
    if (ms != INFINITE && ms > 0) recordWait(*host, ms);   // a zero wait only looks
    bool bounded = ms != INFINITE;
    auto start = Clock::now();
    auto deadline = start + std::chrono::milliseconds(virtualClock ? kVirtualWaitCapMs : static_cast<int64_t>(ms));
    Activity last;
    auto settledSince = start;
    bool settling = false;
    for (;;) {
        if (waitAll) {
            bool all = true;
            for (auto &w : objects) all = w.ready() && all;
            if (all) {
                for (auto &w : objects) w.consume();
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < count; ++i)
                if (objects[i].ready()) {
                    objects[i].consume();
                    return WAIT_OBJECT_0 + i;
                }
        }
        int slice = kPollSliceMs;
        if (bounded) {
            auto now = Clock::now();
            bool over = now >= deadline;
            if (virtualClock && !over && ms > 0) {
                Activity a = childActivity();
                if (a.busy || !settling || !(a == last)) {
                    settling = !a.busy;
                    settledSince = now;
                }
                last = a;
                over = settling && now - settledSince >= std::chrono::milliseconds(kVirtualSettleMs);
            }
            if (over || (virtualClock && ms == 0)) {
                if (virtualClock) host->advance(ms);
                return WAIT_TIMEOUT;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            slice = static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(left, kPollSliceMs)));
        }
        pause(objects, slice);
    }
}

HANDLE GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, PHANDLE target, DWORD, BOOL,
                     DWORD options) {
    if (sourceProcess != GetCurrentProcess() || targetProcess != GetCurrentProcess() || target == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    auto object = findHandle(source);
    if (!object) return fail(ERROR_INVALID_HANDLE);
    std::shared_ptr<HandleObject> copy;
    if (auto end = std::dynamic_pointer_cast<PipeEnd>(object)) {
        auto dup = std::make_shared<PipeEnd>();
        dup->fd = ::fcntl(end->fd, F_DUPFD_CLOEXEC, 3);
        if (dup->fd < 0) return fail(ERROR_NOT_ENOUGH_MEMORY);
        copy = dup;
    } else if (auto p = std::dynamic_pointer_cast<ProcessHandle>(object)) {
        auto dup = std::make_shared<ProcessHandle>();
        dup->process = p->process;
        copy = dup;
    } else if (auto e = std::dynamic_pointer_cast<EventHandle>(object)) {
        auto dup = std::make_shared<EventHandle>();
        dup->event = e->event;
        copy = dup;
    } else {
        return fail(ERROR_INVALID_HANDLE);
    }
    *target = addHandle(copy);
    if (options & DUPLICATE_CLOSE_SOURCE) removeHandle(source);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

} // extern "C"

namespace {

// The program a command line names: its first word, quoted or not.
std::string firstWord(const std::string &line) {
    size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos) return "";
    if (line[i] == '"') {
        size_t j = line.find('"', i + 1);
        return line.substr(i + 1, j == std::string::npos ? std::string::npos : j - i - 1);
    }
    return line.substr(i, line.find_first_of(" \t", i) - i);
}

// A command line without unquoted control operators (; & | ( ) ` $( or a
// line end) is one program: the shell execs it, so the child is the program
// itself, as on Windows, and no shell in between holds its output open or
// outlives it.
bool simpleCommand(const std::string &line) {
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quote == '\'') {
            if (c == '\'') quote = 0;
            continue;
        }
        if (c == '\\') {
            ++i;
            continue;
        }
        if (quote == '"') {
            if (c == '"') quote = 0;
            else if (c == '`' || (c == '$' && i + 1 < line.size() && line[i + 1] == '(')) return false;
            continue;
        }
        if (c == '\'' || c == '"') quote = c;
        else if (std::strchr(";&|()`\n", c) != nullptr || (c == '$' && i + 1 < line.size() && line[i + 1] == '('))
            return false;
    }
    return true;
}

bool isExecutableFile(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// ERROR_SUCCESS when the program exists and may run.
DWORD findProgram(const std::string &program, const std::string &directory) {
    if (program.empty()) return ERROR_FILE_NOT_FOUND;
    if (program.find('/') != std::string::npos) {
        std::string path = program[0] == '/' || directory.empty() ? program : directory + "/" + program;
        if (isExecutableFile(path)) return ERROR_SUCCESS;
        return ::access(path.c_str(), F_OK) == 0 ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    }
    const char *env = std::getenv("PATH");
    std::string paths = env != nullptr ? env : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t colon = paths.find(':', start);
        std::string dir = paths.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (dir.empty()) dir = ".";
        if (isExecutableFile(dir + "/" + program)) return ERROR_SUCCESS;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return ERROR_FILE_NOT_FOUND;
}

int stdFd(HANDLE h, bool &ok) {
    ok = true;
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return -1;
    auto end = findHandleAs<PipeEnd>(h);
    if (!end) {
        ok = false;
        return -1;
    }
    return end->fd;
}

BOOL createProcess(const std::string &account, LPCSTR application, LPSTR commandLine, LPCSTR directory,
                   LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
    if (info == nullptr || startup == nullptr || (commandLine == nullptr && application == nullptr))
        return fail(ERROR_INVALID_PARAMETER);
    std::string line = commandLine != nullptr ? commandLine : application;
    std::string dir = directory != nullptr ? directory : "";
    if (!dir.empty()) {
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(ERROR_DIRECTORY);
    }
    DWORD found = findProgram(application != nullptr ? std::string(application) : firstWord(line), dir);
    if (found != ERROR_SUCCESS) return fail(found);

    int fds[3] = {-1, -1, -1};
    if (startup->dwFlags & STARTF_USESTDHANDLES) {
        bool ok[3];
        fds[0] = stdFd(startup->hStdInput, ok[0]);
        fds[1] = stdFd(startup->hStdOutput, ok[1]);
        fds[2] = stdFd(startup->hStdError, ok[2]);
        if (!ok[0] || !ok[1] || !ok[2]) return fail(ERROR_INVALID_HANDLE);
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    for (int i = 0; i < 3; ++i) {
        if (fds[i] >= 0) posix_spawn_file_actions_adddup2(&actions, fds[i], i);
        else posix_spawn_file_actions_addopen(&actions, i, "/dev/null", i == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    // A group of its own, so that console events and termination reach the
    // child and whatever it starts, and nothing of ours.
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGINT, SIGTERM, SIGPIPE, SIGQUIT, SIGHUP, SIGCHLD}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::string shell = "/bin/sh";
    std::string script = simpleCommand(line) ? "exec " + line : line;
    std::vector<char *> argv{const_cast<char *>("sh"), const_cast<char *>("-c"), const_cast<char *>(script.c_str()),
                             nullptr};
    pid_t pid = -1;
    auto process = std::make_shared<Process>();
    process->host = currentHost();
    int rc;
    {
        // Registered under the lock, so no console event can miss the new group.
        std::lock_guard<std::mutex> lock(g_childMutex);
        rc = posix_spawn(&pid, shell.c_str(), &actions, &attr, argv.data(), environ);
        if (rc == 0) {
            process->pid = pid;
            g_children[pid] = process;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return fail(rc == ENOENT || rc == ENOTDIR ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);

    {
        Host::ProcessState &ps = process->host->processState();
        std::lock_guard<std::mutex> lock(ps.mutex);
        ps.processes.push_back(ProcessRecord{static_cast<uint32_t>(pid), account, line});
    }
    auto ph = std::make_shared<ProcessHandle>();
    ph->process = process;
    info->hProcess = addHandle(ph);
    info->hThread = addHandle(std::make_shared<ThreadHandle>());
    info->dwProcessId = static_cast<DWORD>(pid);
    info->dwThreadId = static_cast<DWORD>(pid);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

std::shared_ptr<Process> processOf(HANDLE h) {
    auto ph = findHandleAs<ProcessHandle>(h);
    return ph ? ph->process : nullptr;
}

void forgetChild(pid_t pid) {
    std::lock_guard<std::mutex> lock(g_childMutex);
    g_children.erase(pid);
}

} // namespace

extern "C" {

BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, SECURITY_ATTRIBUTES *, SECURITY_ATTRIBUTES *, BOOL,
                    DWORD, LPVOID, LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
    return createProcess("", application, commandLine, directory, startup, info);
}

BOOL CreateProcessAsUserA(HANDLE token, LPCSTR application, LPSTR commandLine, SECURITY_ATTRIBUTES *,
                          SECURITY_ATTRIBUTES *, BOOL, DWORD, LPVOID, LPCSTR directory, LPSTARTUPINFOA startup,
                          LPPROCESS_INFORMATION info) {
    auto t = findHandleAs<TokenHandle>(token);
    if (!t) return fail(ERROR_INVALID_HANDLE);
    return createProcess(t->account, application, commandLine, directory, startup, info);
}

BOOL GetExitCodeProcess(HANDLE h, LPDWORD code) {
    auto p = processOf(h);
    if (!p) return fail(ERROR_INVALID_HANDLE);
    if (code == nullptr) return fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(p->mutex);
    *code = p->pollLocked() ? p->exitCode : STILL_ACTIVE;
    if (p->reaped) forgetChild(p->pid);
    return TRUE;
}

BOOL TerminateProcess(HANDLE h, UINT exitCode) {
    auto p = processOf(h);
    if (!p) return fail(ERROR_INVALID_HANDLE);
    std::lock_guard<std::mutex> lock(p->mutex);
    if (p->pollLocked()) return fail(ERROR_ACCESS_DENIED);   // as Windows answers for an ended process
    ::kill(-p->pid, SIGKILL);
    ::kill(p->pid, SIGKILL);
    int status = 0;
    while (::waitpid(p->pid, &status, 0) < 0 && errno == EINTR) {
    }
    p->reaped = true;
    p->exitCode = exitCode;
    forgetChild(p->pid);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL GenerateConsoleCtrlEvent(DWORD ctrlEvent, DWORD group) {
    int signal = ctrlEvent == CTRL_C_EVENT ? SIGINT : ctrlEvent == CTRL_BREAK_EVENT ? SIGTERM : 0;
    if (signal == 0 || group == 0) return fail(ERROR_INVALID_PARAMETER);
    auto p = liveChild(static_cast<pid_t>(group));
    if (!p) return fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(p->mutex);
    // A reaped leader's group id may already belong to someone else.
    if (p->pollLocked()) return fail(ERROR_INVALID_PARAMETER);
    if (::kill(-p->pid, signal) != 0) return fail(ERROR_INVALID_PARAMETER);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SwitchToThread(void) {
    sched_yield();
    return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME ft) {
    if (ft == nullptr) return;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    uint64_t units = (static_cast<uint64_t>(ts.tv_sec) + 11644473600ull) * 10000000ull +
                     static_cast<uint64_t>(ts.tv_nsec) / 100u;
    ft->dwLowDateTime = static_cast<DWORD>(units);
    ft->dwHighDateTime = static_cast<DWORD>(units >> 32);
}

BOOL GetVersionExW(LPOSVERSIONINFOW info) {
    if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOW)) return fail(ERROR_INSUFFICIENT_BUFFER);
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 3;
    info->dwBuildNumber = 9600;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->szCSDVersion[0] = L'\0';
    return TRUE;
}

} // extern "C"

namespace {

// S-1-5-21-a-b-c-RID: revision, count, authority (6 bytes, big-endian),
// then the sub-authorities little-endian.
constexpr size_t kSidBytes = 8 + 5 * 4;
const uint32_t kSubAuthorities[4] = {21, 3120437611u, 2051361436u, 1184577523u};

void writeSid(uint8_t *out, uint32_t rid) {
    out[0] = 1;
    out[1] = 5;
    std::memset(out + 2, 0, 5);
    out[7] = 5;
    for (int i = 0; i < 5; ++i) {
        uint32_t v = i < 4 ? kSubAuthorities[i] : rid;
        for (int b = 0; b < 4; ++b) out[8 + 4 * i + b] = static_cast<uint8_t>(v >> (8 * b));
    }
}

// The RID of one of our SIDs, 0 when it is not one.
uint32_t ridOf(PSID sid) {
    if (sid == nullptr) return 0;
    const uint8_t *s = static_cast<const uint8_t *>(sid);
    uint8_t expect[kSidBytes];
    writeSid(expect, 0);
    if (std::memcmp(s, expect, kSidBytes - 4) != 0) return 0;
    uint32_t rid = 0;
    for (int b = 0; b < 4; ++b) rid |= static_cast<uint32_t>(s[kSidBytes - 4 + b]) << (8 * b);
    return rid;
}

Host::ProcessState::Account *accountByRid(Host::ProcessState &ps, uint32_t rid) {
    for (auto &a : ps.accounts)
        if (a.second.rid == rid) return &a.second;
    return nullptr;
}

std::string rightName(const LSA_UNICODE_STRING &s) {
    if (s.Buffer == nullptr) return "";
    return narrow(std::wstring(s.Buffer, s.Length / sizeof(WCHAR)));
}

} // namespace

extern "C" {

BOOL LogonUserA(LPCSTR user, LPCSTR domain, LPCSTR password, DWORD type, DWORD, PHANDLE token) {
    if (user == nullptr || password == nullptr || token == nullptr) return fail(ERROR_INVALID_PARAMETER);
    *token = nullptr;
    auto host = currentHost();
    if (domain != nullptr && std::strcmp(domain, ".") != 0 && upper(domain) != host->computerName())
        return fail(ERROR_LOGON_FAILURE);
    Host::ProcessState &ps = host->processState();
    std::lock_guard<std::mutex> lock(ps.mutex);
    auto it = ps.accounts.find(upper(user));
    if (it == ps.accounts.end() || it->second.password != password) return fail(ERROR_LOGON_FAILURE);
    if (type == LOGON32_LOGON_BATCH && it->second.rights.count("SeBatchLogonRight") == 0)
        return fail(ERROR_LOGON_TYPE_NOT_GRANTED);
    if (type < 2 || type > 5) return fail(ERROR_INVALID_PARAMETER);
    auto t = std::make_shared<TokenHandle>();
    t->host = host;
    t->account = it->second.name;
    t->rid = it->second.rid;
    *token = addHandle(t);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls, LPVOID info, DWORD length, PDWORD returned) {
    auto t = findHandleAs<TokenHandle>(token);
    if (!t) return fail(ERROR_INVALID_HANDLE);
    if (cls != TokenUser || returned == nullptr) return fail(ERROR_INVALID_PARAMETER);
    DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + kSidBytes);
    *returned = needed;
    if (info == nullptr || length < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    auto *user = static_cast<TOKEN_USER *>(info);
    uint8_t *sid = static_cast<uint8_t *>(info) + sizeof(TOKEN_USER);
    writeSid(sid, t->rid);
    user->User.Sid = sid;
    user->User.Attributes = 0;
    return TRUE;
}

BOOL IsValidSid(PSID sid) {
    const uint8_t *s = static_cast<const uint8_t *>(sid);
    return s != nullptr && s[0] == 1 && s[1] <= 15;
}

DWORD GetLengthSid(PSID sid) {
    if (!IsValidSid(sid)) return 0;
    return 8u + 4u * static_cast<const uint8_t *>(sid)[1];
}

BOOL CopySid(DWORD length, PSID destination, PSID source) {
    DWORD n = GetLengthSid(source);
    if (n == 0 || destination == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (length < n) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(destination, source, n);
    return TRUE;
}

NTSTATUS LsaOpenPolicy(PLSA_UNICODE_STRING system, PLSA_OBJECT_ATTRIBUTES, ACCESS_MASK, PLSA_HANDLE policy) {
    if (policy == nullptr) return STATUS_INVALID_PARAMETER;
    if (system != nullptr && system->Length != 0) return STATUS_INVALID_PARAMETER;   // the local policy only
    auto p = std::make_shared<PolicyHandle>();
    p->host = currentHost();
    *policy = addHandle(p);
    return STATUS_SUCCESS;
}

NTSTATUS LsaEnumerateAccountRights(LSA_HANDLE policy, PSID sid, PLSA_UNICODE_STRING *rights, PULONG count) {
    auto p = findHandleAs<PolicyHandle>(policy);
    if (!p) return STATUS_INVALID_HANDLE;
    if (rights == nullptr || count == nullptr) return STATUS_INVALID_PARAMETER;
    *rights = nullptr;
    *count = 0;
    Host::ProcessState &ps = p->host->processState();
    std::lock_guard<std::mutex> lock(ps.mutex);
    auto *a = accountByRid(ps, ridOf(sid));
    if (a == nullptr || a->rights.empty()) return STATUS_OBJECT_NAME_NOT_FOUND;
    // One block: the string records, then their texts (freed by LsaFreeMemory).
    size_t chars = 0;
    for (auto &r : a->rights) chars += r.size() + 1;
    size_t bytes = a->rights.size() * sizeof(LSA_UNICODE_STRING) + chars * sizeof(WCHAR);
    auto *block = static_cast<uint8_t *>(std::calloc(1, bytes));
    if (block == nullptr) return STATUS_INVALID_PARAMETER;
    auto *records = reinterpret_cast<LSA_UNICODE_STRING *>(block);
    auto *text = reinterpret_cast<WCHAR *>(block + a->rights.size() * sizeof(LSA_UNICODE_STRING));
    size_t i = 0;
    for (auto &r : a->rights) {
        records[i].Buffer = text;
        records[i].Length = static_cast<USHORT>(r.size() * sizeof(WCHAR));
        records[i].MaximumLength = static_cast<USHORT>((r.size() + 1) * sizeof(WCHAR));
        for (char c : r) *text++ = static_cast<WCHAR>(static_cast<unsigned char>(c));
        *text++ = L'\0';
        ++i;
    }
    *rights = records;
    *count = static_cast<ULONG>(a->rights.size());
    return STATUS_SUCCESS;
}

NTSTATUS LsaAddAccountRights(LSA_HANDLE policy, PSID sid, PLSA_UNICODE_STRING rights, ULONG count) {
    auto p = findHandleAs<PolicyHandle>(policy);
    if (!p) return STATUS_INVALID_HANDLE;
    if (rights == nullptr && count > 0) return STATUS_INVALID_PARAMETER;
    Host::ProcessState &ps = p->host->processState();
    std::lock_guard<std::mutex> lock(ps.mutex);
    auto *a = accountByRid(ps, ridOf(sid));
    if (a == nullptr) return STATUS_NO_SUCH_USER;
    for (ULONG i = 0; i < count; ++i) a->rights.insert(rightName(rights[i]));
    return STATUS_SUCCESS;
}

NTSTATUS LsaRemoveAccountRights(LSA_HANDLE policy, PSID sid, BOOLEAN all, PLSA_UNICODE_STRING rights, ULONG count) {
    auto p = findHandleAs<PolicyHandle>(policy);
    if (!p) return STATUS_INVALID_HANDLE;
    if (rights == nullptr && count > 0) return STATUS_INVALID_PARAMETER;
    Host::ProcessState &ps = p->host->processState();
    std::lock_guard<std::mutex> lock(ps.mutex);
    auto *a = accountByRid(ps, ridOf(sid));
    if (a == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
    if (all) a->rights.clear();
    for (ULONG i = 0; i < count; ++i) a->rights.erase(rightName(rights[i]));
    return STATUS_SUCCESS;
}

NTSTATUS LsaFreeMemory(PVOID buffer) {
    std::free(buffer);
    return STATUS_SUCCESS;
}

NTSTATUS LsaClose(LSA_HANDLE handle) {
    if (!findHandleAs<PolicyHandle>(handle)) return STATUS_INVALID_HANDLE;
    removeHandle(handle);
    return STATUS_SUCCESS;
}

ULONG LsaNtStatusToWinError(NTSTATUS status) {
    switch (static_cast<uint32_t>(status)) {
    case 0: return ERROR_SUCCESS;
    case 0xC0000008u: return ERROR_INVALID_HANDLE;
    case 0xC000000Du: return ERROR_INVALID_PARAMETER;
    case 0xC0000034u: return ERROR_FILE_NOT_FOUND;
    case 0xC0000064u: return 1317;   // ERROR_NO_SUCH_USER
    default: return ERROR_MR_MID_NOT_FOUND;
    }
}

} // extern "C"

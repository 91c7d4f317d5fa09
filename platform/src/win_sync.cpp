// Handles, named semaphores, the process heap, system message texts and
// UUID text of the Windows subset.
#include "sim_internal.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace rendo_sim;
using namespace rendo_sim::detail;

namespace {

// One semaphore of the process. A named one with a maximum count of 1 also
// holds an flock on a file named by the key while its count is taken, so
// other processes wait for it, and the kernel releases it when the holder dies.
struct Semaphore {
    std::mutex mutex;
    std::condition_variable cv;
    LONG count = 0;
    LONG maximum = 1;
    std::string name;
    int fd = -1;       // lock file of a host-wide semaphore
    std::string path;  // its name
    // The description locked by the current holder. Each wait opens its own:
    // a description inherited across fork() is shared, and its flock with it.
    int heldFd = -1;
    ~Semaphore() {
        if (fd >= 0) ::close(fd);
        if (heldFd >= 0) ::close(heldFd);
    }
};

struct SemaphoreHandle : HandleObject {
    std::shared_ptr<Semaphore> sem;
};

std::mutex g_namedMutex;
std::map<std::string, std::weak_ptr<Semaphore>> g_named;

std::string lockFileName(const std::string &name) {
    std::string safe;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || c == '.';
        if (plain) safe.push_back(c);
        else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", u);
            safe += buf;
        }
    }
    if (safe.empty() || safe[0] == '.') safe = "%" + safe;
    return semaphoreLockDirectory() + "/" + safe;
}

HANDLE openSemaphore(const std::string &name, LONG initial, LONG maximum, bool create) {
    std::shared_ptr<Semaphore> sem;
    bool existed = false;
    {
        std::lock_guard<std::mutex> lock(g_namedMutex);
        if (!name.empty()) {
            auto it = g_named.find(name);
            if (it != g_named.end()) sem = it->second.lock();
        }
        if (sem) {
            existed = true;
        } else {
            if (!create) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return nullptr;
            }
            sem = std::make_shared<Semaphore>();
            sem->count = initial;
            sem->maximum = maximum;
            sem->name = name;
            if (!name.empty() && maximum == 1) {
                std::string dir = semaphoreLockDirectory();
                ::mkdir(dir.c_str(), 0700);
                std::string file = lockFileName(name);
                sem->fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
                sem->path = file;
                if (sem->fd < 0) {
                    SetLastError(ERROR_ACCESS_DENIED);
                    return nullptr;
                }
            }
            if (!name.empty()) g_named[name] = sem;
        }
    }
    auto h = std::make_shared<SemaphoreHandle>();
    h->sem = sem;
    HANDLE handle = addHandle(h);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// Takes the host-wide lock within the deadline (steady clock).
bool lockFile(int fd, DWORD ms) {
    if (ms == INFINITE) {
        while (::flock(fd, LOCK_EX) != 0)
            if (errno != EINTR) return false;
        return true;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

namespace rendo_sim {
std::string semaphoreLockDirectory() {
    if (const char *d = std::getenv("RENDO_SIM_LOCK_DIR"); d != nullptr && *d != '\0') return d;
    const char *tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    return base + "/rendo-sim-locks-" + std::to_string(::getuid());
}
} // namespace rendo_sim

extern "C" {

HANDLE CreateSemaphoreW(SECURITY_ATTRIBUTES *, LONG initial, LONG maximum, LPCWSTR name) {
    if (maximum <= 0 || initial < 0 || initial > maximum) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return openSemaphore(name ? narrow(name) : std::string(), initial, maximum, true);
}

HANDLE CreateSemaphoreA(SECURITY_ATTRIBUTES *sa, LONG initial, LONG maximum, LPCSTR name) {
    std::wstring w = name ? widen(name) : std::wstring();
    return CreateSemaphoreW(sa, initial, maximum, name ? w.c_str() : nullptr);
}

HANDLE OpenSemaphoreW(DWORD, BOOL, LPCWSTR name) {
    if (name == nullptr || *name == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HANDLE h = openSemaphore(narrow(name), 0, 1, false);
    if (h != nullptr) SetLastError(ERROR_SUCCESS);
    return h;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD ms) {
    auto h = findHandleAs<SemaphoreHandle>(handle);
    if (!h) return WaitForMultipleObjects(1, &handle, FALSE, ms);   // a process or an event
    Semaphore &s = *h->sem;
    std::unique_lock<std::mutex> lock(s.mutex);
    auto ready = [&] { return s.count > 0; };
    if (ms == INFINITE) s.cv.wait(lock, ready);
    else if (!s.cv.wait_for(lock, std::chrono::milliseconds(ms), ready)) return WAIT_TIMEOUT;
    --s.count;
    if (s.fd >= 0) {
        // The process holds the only count; now wait for the other processes.
        lock.unlock();
        int fd = ::open(s.path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        bool locked = fd >= 0 && lockFile(fd, ms);
        lock.lock();
        if (!locked) {
            if (fd >= 0) ::close(fd);
            ++s.count;
            s.cv.notify_one();
            if (fd < 0) {
                SetLastError(ERROR_ACCESS_DENIED);
                return WAIT_FAILED;
            }
            return WAIT_TIMEOUT;
        }
        s.heldFd = fd;
    }
    return WAIT_OBJECT_0;
}

BOOL ReleaseSemaphore(HANDLE handle, LONG release, LPLONG previous) {
    auto h = findHandleAs<SemaphoreHandle>(handle);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Semaphore &s = *h->sem;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (release <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (release > s.maximum - s.count) {
        SetLastError(ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    if (previous) *previous = s.count;
    if (s.heldFd >= 0) {
        ::flock(s.heldFd, LOCK_UN);
        ::close(s.heldFd);
        s.heldFd = -1;
    }
    s.count += release;
    s.cv.notify_all();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    auto object = findHandle(handle);
    if (!object || !object->closable()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    removeHandle(handle);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// ------------------------------------------------------------------- memory

HANDLE GetProcessHeap(void) {
    static int heap;
    return &heap;
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (heap != GetProcessHeap()) return nullptr;
    void *p = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
    return p;
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID p) {
    if (heap != GetProcessHeap()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::free(p);
    return TRUE;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    return (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
}

HLOCAL LocalFree(HLOCAL p) {
    std::free(p);
    return nullptr;
}

// ------------------------------------------------------------ message texts

} // extern "C"

namespace {

struct Message {
    uint32_t code;
    const char *text;
};

// The system texts of the errors this layer and its callers produce.
const Message kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {21, "The device is not ready."},
    {23, "Data error (cyclic redundancy check)."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {50, "The request is not supported."},
    {55, "The specified network resource or device is no longer available."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {111, "The file name is too long."},
    {121, "The semaphore timeout period has expired."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {183, "Cannot create a file when that file already exists."},
    {231, "All pipe instances are busy."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {298, "Too many posts were made to a semaphore."},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {996, "Overlapped I/O event is not in a signaled state."},
    {997, "Overlapped I/O operation is in progress."},
    {1004, "Invalid flags."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1167, "The device is not connected."},
    {1168, "Element not found."},
    {1326, "The user name or password is incorrect."},
    {1385, "Logon failure: the user has not been granted the requested logon type at this computer."},
    {1784, "The supplied user buffer is not valid for the requested operation."},
    {0xE0000209u, "The property is not valid for the device."},
    {0xE000020Bu, "The device instance does not exist in the hardware tree."},
    {0xE000020Du, "The class installer is not valid."},
    {0xE000020Eu, "The class installer has asked to have the default action performed."},
};

const char *messageText(DWORD id) {
    for (const auto &m : kMessages)
        if (m.code == id) return m.text;
    return nullptr;
}

template <class Ch>
DWORD formatMessage(DWORD flags, DWORD id, Ch *buffer, DWORD size) {
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char *text = messageText(id);
    if (text == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    std::string s = std::string(text) + "\r\n";
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        if (buffer == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        size_t n = std::max<size_t>(s.size() + 1, size);
        Ch *p = static_cast<Ch *>(LocalAlloc(LPTR, n * sizeof(Ch)));
        if (p == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        for (size_t i = 0; i < s.size(); ++i) p[i] = static_cast<Ch>(static_cast<unsigned char>(s[i]));
        std::memcpy(reinterpret_cast<void *>(buffer), &p, sizeof p);  // the buffer argument is really Ch**
        return static_cast<DWORD>(s.size());
    }
    if (buffer == nullptr || size < s.size() + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < s.size(); ++i) buffer[i] = static_cast<Ch>(static_cast<unsigned char>(s[i]));
    buffer[s.size()] = 0;
    return static_cast<DWORD>(s.size());
}

int hexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

} // namespace

extern "C" {

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD id, DWORD, LPWSTR buffer, DWORD size, va_list *) {
    return formatMessage<wchar_t>(flags, id, buffer, size);
}

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD id, DWORD, LPSTR buffer, DWORD size, va_list *) {
    return formatMessage<char>(flags, id, buffer, size);
}

// ---------------------------------------------------------------- UUID text

RPC_STATUS UuidFromStringW(RPC_WSTR text, UUID *uuid) {
    if (uuid == nullptr) return RPC_S_INVALID_STRING_UUID;
    if (text == nullptr) {
        std::memset(uuid, 0, sizeof *uuid);
        return RPC_S_OK;
    }
    // xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx
    uint8_t b[16];
    size_t bi = 0;
    for (size_t i = 0; i < 36; ++i) {
        wchar_t c = text[i];
        if (c == L'\0') return RPC_S_INVALID_STRING_UUID;
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != L'-') return RPC_S_INVALID_STRING_UUID;
            continue;
        }
        int hi = hexDigit(c);
        int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return RPC_S_INVALID_STRING_UUID;
        b[bi++] = static_cast<uint8_t>(hi * 16 + lo);
        ++i;
    }
    if (text[36] != L'\0') return RPC_S_INVALID_STRING_UUID;
    uuid->Data1 = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
    uuid->Data2 = static_cast<uint16_t>((b[4] << 8) | b[5]);
    uuid->Data3 = static_cast<uint16_t>((b[6] << 8) | b[7]);
    std::memcpy(uuid->Data4, b + 8, 8);
    return RPC_S_OK;
}

int UuidEqual(UUID *a, UUID *b, RPC_STATUS *status) {
    if (status) *status = RPC_S_OK;
    UUID nil{};
    const UUID *x = a ? a : &nil;
    const UUID *y = b ? b : &nil;
    return x->Data1 == y->Data1 && x->Data2 == y->Data2 && x->Data3 == y->Data3 &&
           std::memcmp(x->Data4, y->Data4, 8) == 0;
}

} // extern "C"

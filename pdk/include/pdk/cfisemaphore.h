// Host-wide named semaphores of the kit.
#ifndef PDK_CFISEMAPHORE_H
#define PDK_CFISEMAPHORE_H

#include "pdk/cfibase.h"
#include "platform/windows.h"

#include <string>

namespace kelm_pdk_4_4 {

// A semaphore with initial and maximum count 1. Key 0 makes an unnamed one,
// private to this object; any other key creates or opens "kelm-sem-<key>",
// which every process of the host using that key shares.
//
// Keys in use: 1001 serialises disk rescans, 9000 the wait-and-retry phase
// of imports.
class CFiSemaphoreWin {
public:
    explicit CFiSemaphoreWin(int key);
    ~CFiSemaphoreWin();
    CFiSemaphoreWin(const CFiSemaphoreWin &) = delete;
    CFiSemaphoreWin &operator=(const CFiSemaphoreWin &) = delete;

    // Waits without a time-out. Returns the WaitForSingleObject result
    // (WAIT_OBJECT_0 on success; WAIT_FAILED when the semaphore could not be
    // created).
    DWORD wait();
    // Releases by 1. Returns the ReleaseSemaphore result.
    BOOL post();

    bool isValid() const;
    int key() const { return m_key; }
    // "kelm-sem-<key>", at most 255 characters.
    static std::wstring nameForKey(int key);

private:
    int m_key;
    HANDLE m_handle;
};

// Waits on construction, posts on destruction.
class CFiSemaphoreGuard {
public:
    explicit CFiSemaphoreGuard(CFiSemaphoreWin &semaphore);
    ~CFiSemaphoreGuard();
    CFiSemaphoreGuard(const CFiSemaphoreGuard &) = delete;
    CFiSemaphoreGuard &operator=(const CFiSemaphoreGuard &) = delete;

private:
    CFiSemaphoreWin &m_semaphore;
    bool m_acquired;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFISEMAPHORE_H

#include "pdk/cfisemaphore.h"

#include <cwchar>

namespace kelm_pdk_4_4 {

namespace {
const size_t kMaxNameLength = 256;
}

std::wstring CFiSemaphoreWin::nameForKey(int key) {
    wchar_t name[kMaxNameLength];
    std::swprintf(name, kMaxNameLength, L"kelm-sem-%d", key);
    return std::wstring(name);
}

CFiSemaphoreWin::CFiSemaphoreWin(int key) : m_key(key), m_handle(nullptr) {
    if (key == 0) {
        m_handle = CreateSemaphoreW(nullptr, 1, 1, nullptr);
    } else {
        std::wstring name = nameForKey(key);
        m_handle = CreateSemaphoreW(nullptr, 1, 1, name.c_str());
    }
}

CFiSemaphoreWin::~CFiSemaphoreWin() {
    if (isValid()) CloseHandle(m_handle);
}

bool CFiSemaphoreWin::isValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }

DWORD CFiSemaphoreWin::wait() {
    if (!isValid()) return WAIT_FAILED;
    return WaitForSingleObject(m_handle, INFINITE);
}

BOOL CFiSemaphoreWin::post() {
    if (!isValid()) return FALSE;
    return ReleaseSemaphore(m_handle, 1, nullptr);
}

CFiSemaphoreGuard::CFiSemaphoreGuard(CFiSemaphoreWin &semaphore)
    : m_semaphore(semaphore), m_acquired(semaphore.wait() == WAIT_OBJECT_0) {}

CFiSemaphoreGuard::~CFiSemaphoreGuard() {
    // Posting a semaphore that was not taken would raise its count past 1.
    if (m_acquired) m_semaphore.post();
}

} // namespace kelm_pdk_4_4

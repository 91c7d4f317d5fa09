// Internals shared by the simulated host's sources.
#ifndef PLATFORM_SIM_INTERNAL_H
#define PLATFORM_SIM_INTERNAL_H

#include "platform/simhost.h"
#include "platform/windows.h"

#include <memory>
#include <string>

namespace rendo_sim {
namespace detail {

// Kernel-object handles: values are never reused, so a closed handle stays invalid.
struct HandleObject {
    virtual ~HandleObject() = default;
    virtual bool closable() const { return true; }   // false: not for CloseHandle
};
HANDLE addHandle(std::shared_ptr<HandleObject> object);
std::shared_ptr<HandleObject> findHandle(HANDLE h);
std::shared_ptr<HandleObject> removeHandle(HANDLE h);

template <class T> std::shared_ptr<T> findHandleAs(HANDLE h) {
    return std::dynamic_pointer_cast<T>(findHandle(h));
}

std::wstring widen(const std::string &s);
std::string narrow(const std::wstring &s);   // low byte of each character
std::string upper(std::string s);
std::string simulatedComputerName();

// Named pipes (win_process.cpp): CreateFileW hands "\\.\pipe\" names here.
bool isPipeName(const std::wstring &name);
HANDLE openPipeClient(const std::wstring &name, DWORD access, DWORD flags);

} // namespace detail
} // namespace rendo_sim

#endif

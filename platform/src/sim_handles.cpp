// Kernel-object handles of the simulated host, and the narrow/wide text
// helpers its sources share.
#include "sim_internal.h"

#include <map>
#include <mutex>

namespace rendo_sim {

namespace detail {

namespace {
std::mutex g_handleMutex;
std::map<uintptr_t, std::shared_ptr<HandleObject>> &handleTable() {
    static auto *table = new std::map<uintptr_t, std::shared_ptr<HandleObject>>;  // outlives static destructors
    return *table;
}
uintptr_t g_nextHandle = 0x1000;
} // namespace

HANDLE addHandle(std::shared_ptr<HandleObject> object) {
    std::lock_guard<std::mutex> lock(g_handleMutex);
    uintptr_t v = g_nextHandle;
    g_nextHandle += 4;
    handleTable()[v] = std::move(object);
    return reinterpret_cast<HANDLE>(v);
}

std::shared_ptr<HandleObject> findHandle(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_handleMutex);
    auto it = handleTable().find(reinterpret_cast<uintptr_t>(h));
    return it == handleTable().end() ? nullptr : it->second;
}

std::shared_ptr<HandleObject> removeHandle(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_handleMutex);
    auto it = handleTable().find(reinterpret_cast<uintptr_t>(h));
    if (it == handleTable().end()) return nullptr;
    auto object = it->second;
    handleTable().erase(it);
    return object;
}

std::wstring widen(const std::string &s) {
    std::wstring w;
    w.reserve(s.size());
    for (unsigned char c : s) w.push_back(static_cast<wchar_t>(c));
    return w;
}

std::string narrow(const std::wstring &s) {
    std::string n;
    n.reserve(s.size());
    for (wchar_t c : s) n.push_back(static_cast<char>(static_cast<unsigned char>(c & 0xFF)));
    return n;
}

std::string upper(std::string s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

} // namespace detail

} // namespace rendo_sim

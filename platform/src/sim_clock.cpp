// The simulated host's clock: real, or virtual (each Sleep is recorded and
// advances time without waiting), and the Windows time calls over it.
#include "sim_host_impl.h"

#include <chrono>
#include <thread>

namespace rendo_sim {

uint64_t Host::Impl::now() const {
    if (virtualClock) return virtualNow;
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

void Host::setVirtualClock(bool on) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (on && !m_impl->virtualClock) m_impl->virtualNow = m_impl->now();
    m_impl->virtualClock = on;
}

bool Host::virtualClock() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->virtualClock;
}

uint64_t Host::nowMs() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->now();
}

void Host::advance(uint64_t ms) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (m_impl->virtualClock) m_impl->virtualNow += ms;
    m_impl->settle();
}

std::vector<uint32_t> Host::sleeps() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->sleeps;
}

void Host::clearSleeps() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->sleeps.clear();
}

} // namespace rendo_sim

using namespace rendo_sim;
using namespace rendo_sim::detail;

extern "C" {

void Sleep(DWORD ms) {
    auto host = hostNow();
    {
        Host::Impl &im = HostAccess::impl(*host);
        std::lock_guard<std::mutex> lock(host->mutex());
        im.sleeps.push_back(ms);
        if (im.virtualClock) {
            im.virtualNow += ms;
            im.settle();
            return;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ULONGLONG GetTickCount64(void) { return hostNow()->nowMs(); }
DWORD GetTickCount(void) { return static_cast<DWORD>(GetTickCount64()); }

} // extern "C"

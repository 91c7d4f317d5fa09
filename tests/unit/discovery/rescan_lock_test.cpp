// The host-wide rescan lock: rescans on several threads run one at a time,
// each holding the named semaphore that other processes' rescans wait on
// (that named semaphores serialise processes is the platform tests' case).
#include "discovery/pnp_manager.h"
#include "discovery_test_util.h"

#include "pdk/cfisemaphore.h"

#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

namespace {

using rendo_sim::DiskSpec;

discovery_test::PrivateLockDirectory kPrivateLockDirectory;

// Calls a hook inside the locked part of the rescan, then enumerates.
struct HookedPnp : CPnpManager {
    std::function<void()> inside;
    std::vector<CScsiDeviceData *> enumerateDevices() override {
        if (inside) inside();
        return CPnpManager::enumerateDevices();
    }
};

TEST(RescanLockConcurrency, ThreadsRescanOneAtATimeHoldingTheNamedLock) {
    ASSERT_FALSE(kPrivateLockDirectory.path.empty());
    EXPECT_EQ(CDeviceDiscoveryBase::rescanLock().key(), 1001);
    EXPECT_TRUE(std::filesystem::exists(kPrivateLockDirectory.path + "/kelm-sem-1001"));
    auto host = rendo_sim::Host::create("LOCKHOST");
    host->addDisk(DiskSpec::make("ACME", "A", "0001", "L1"));
    host->addDisk(DiskSpec::make("ACME", "B", "0001", "L2"));
    std::atomic<int> inside{0}, most{0}, lockFree{0};
    std::atomic<size_t> complete{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&] {
            rendo_sim::ScopedHost use(host);
            HookedPnp pnp;
            pnp.inside = [&] {
                int now = ++inside;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                // What another process's rescan opens: it must find the lock taken.
                HANDLE other = CreateSemaphoreW(nullptr, 1, 1, L"kelm-sem-1001");
                if (WaitForSingleObject(other, 0) != WAIT_TIMEOUT) ++lockFree, ReleaseSemaphore(other, 1, nullptr);
                CloseHandle(other);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                --inside;
            };
            for (int i = 0; i < 3; ++i) {
                discovery_test::Records records{pnp.rescan(false, false, false)};
                for (CScsiDeviceData *d : records.v) complete += !d->m_vendorId.empty();
            }
        });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(most.load(), 1);
    EXPECT_EQ(lockFree.load(), 0);
    EXPECT_EQ(complete.load(), 18u);
}

} // namespace

// The host-wide rescan lock: a rescan in another process, or on another
// thread, waits until the running one is done.
#include "discovery/pnp_manager.h"

#include "pdk/cfisemaphore.h"
#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using rendo_sim::DiskSpec;

// The lock files of this binary's semaphores live apart from other test runs
// on the machine; set before any test creates the rescan lock, removed at exit.
struct PrivateLockDirectory {
    std::string path;
    PrivateLockDirectory() {
        char dir[] = "/tmp/rendo-discovery-locks-XXXXXX";
        if (mkdtemp(dir) == nullptr) return;
        path = dir;
        setenv("RENDO_SIM_LOCK_DIR", dir, 1);
    }
    ~PrivateLockDirectory() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
} kPrivateLockDirectory;

// Calls a hook inside the locked part of the rescan, then enumerates.
class HookedPnp : public CPnpManager {
public:
    std::function<void()> inside;
    std::vector<CScsiDeviceData *> enumerateDevices() override {
        if (inside) inside();
        return CPnpManager::enumerateDevices();
    }
};

// Deletes the records; returns how many were read completely.
size_t completeRecords(std::vector<CScsiDeviceData *> &records) {
    size_t n = 0;
    for (CScsiDeviceData *d : records) {
        n += !d->m_vendorId.empty();
        delete d;
    }
    return n;
}

std::shared_ptr<rendo_sim::Host> twoDiskHost() {
    auto host = rendo_sim::Host::create("LOCKHOST");
    host->addDisk(DiskSpec::make("ACME", "A", "0001", "L1"));
    host->addDisk(DiskSpec::make("ACME", "B", "0001", "L2"));
    return host;
}

TEST(RescanLock, TheRescanLockIsNamedHostWideUnnamedSemaphoresArePrivate) {
    using kelm_pdk_4_4::CFiSemaphoreGuard;
    using kelm_pdk_4_4::CFiSemaphoreWin;
    ASSERT_FALSE(kPrivateLockDirectory.path.empty());
    EXPECT_EQ(CFiSemaphoreWin::nameForKey(1001), L"kelm-sem-1001");
    EXPECT_EQ(CDeviceDiscoveryBase::rescanLock().key(), 1001);
    EXPECT_TRUE(CDeviceDiscoveryBase::rescanLock().isValid());
    EXPECT_TRUE(std::filesystem::exists(kPrivateLockDirectory.path + "/kelm-sem-1001"));

    CFiSemaphoreWin a(0), b(0);
    ASSERT_TRUE(a.isValid());
    {
        CFiSemaphoreGuard holdA(a);
        CFiSemaphoreGuard holdB(b);  // does not wait for a
    }
    EXPECT_FALSE(a.post());  // both guards gave their count back: at the maximum
    EXPECT_FALSE(b.post());
    CFiSemaphoreGuard again(a);
}

TEST(RescanLock, ASecondProcessWaitsForTheFirst) {
    auto host = twoDiskHost();
    rendo_sim::setCurrentHost(host);
    int ready[2], go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Holds the lock until the parent says go.
        HookedPnp pnp;
        pnp.inside = [&] {
            char c = 'r';
            if (write(ready[1], &c, 1) != 1) _exit(100);
            if (read(go[0], &c, 1) != 1) _exit(101);
        };
        std::vector<CScsiDeviceData *> records = pnp.rescan(false, false, false);
        _exit(static_cast<int>(completeRecords(records)));
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);  // the child is inside its rescan

    std::atomic<bool> gotLock{false};
    size_t complete = 0;
    std::thread second([&] {
        rendo_sim::ScopedHost use(host);
        HookedPnp pnp;
        pnp.inside = [&] { gotLock = true; };
        std::vector<CScsiDeviceData *> records = pnp.rescan(false, false, false);
        complete = completeRecords(records);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(gotLock.load()) << "the second rescan ran while the first held the lock";
    c = 'g';
    ASSERT_EQ(write(go[1], &c, 1), 1);
    second.join();
    EXPECT_TRUE(gotLock.load());
    EXPECT_EQ(complete, 2u);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
    rendo_sim::setCurrentHost(nullptr);
}

TEST(RescanLockConcurrency, ThreadsRescanOneAtATime) {
    auto host = twoDiskHost();
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
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
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                --inside;
            };
            for (int i = 0; i < 3; ++i) {
                std::vector<CScsiDeviceData *> records = pnp.rescan(false, false, false);
                complete += completeRecords(records);
            }
        });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(most.load(), 1);
    EXPECT_EQ(complete.load(), 18u);
}

} // namespace

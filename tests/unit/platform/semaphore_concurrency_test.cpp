// Named semaphores: one holder at a time across threads and processes, and a
// holder that dies does not wedge the others.
#include "sim_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace simtest;

namespace {

std::wstring uniqueName(const char *what) {
    return w("kelm-sem-test-" + std::string(what) + "-" + std::to_string(::getpid()));
}

// Another process holds the host-wide lock against this one, opened by its
// own name or inherited across fork (the lock file's name and directory: the
// rescan lock's tests). However it lets go (killed, exiting while holding,
// releasing) this process gets the lock.
TEST(SemaphoreConcurrency, AnotherProcessHoldsItAndLetsGo) {
    enum Exit { Killed, ExitsHolding, Releases };
    const struct {
        bool inherited;
        Exit exit;
    } cases[] = {{false, Killed}, {false, ExitsHolding}, {true, Releases}};
    const std::wstring name = uniqueName("fork");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.inherited * 10 + c.exit);
        HANDLE h = nullptr;
        if (c.inherited) {  // used by this process before the fork
            h = CreateSemaphoreW(nullptr, 1, 1, name.c_str());
            ASSERT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
            ASSERT_TRUE(ReleaseSemaphore(h, 1, nullptr));
        }
        int toParent[2], toChild[2];
        ASSERT_EQ(pipe(toParent), 0);
        ASSERT_EQ(pipe(toChild), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            HANDLE mine = c.inherited ? h : CreateSemaphoreW(nullptr, 1, 1, name.c_str());
            char got = WaitForSingleObject(mine, INFINITE) == WAIT_OBJECT_0 ? 'y' : 'n';
            if (write(toParent[1], &got, 1) != 1) _exit(2);
            if (c.exit == Killed) pause();
            if (read(toChild[0], &got, 1) != 1) _exit(3);
            _exit(c.exit == Releases && !ReleaseSemaphore(mine, 1, nullptr) ? 4 : 0);
        }
        char got = 0;
        ASSERT_EQ(read(toParent[0], &got, 1), 1);
        ASSERT_EQ(got, 'y');
        if (!c.inherited) h = CreateSemaphoreW(nullptr, 1, 1, name.c_str());
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(WaitForSingleObject(h, 100), WAIT_TIMEOUT);  // the child holds it
        EXPECT_TRUE(c.exit == Killed ? kill(child, SIGKILL) == 0 : write(toChild[1], "x", 1) == 1);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(c.exit == Killed ? WIFSIGNALED(status) : WIFEXITED(status) && WEXITSTATUS(status) == 0, true);
        EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseSemaphore(h, 1, nullptr));
        CloseHandle(h);
        for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
    }
}

// The two forms the provider creates: an unnamed lock of its own, and a
// second creation of a named one that shares the first one's count.
TEST(SemaphoreConcurrency, UnnamedAndSharedNamedSemaphores) {
    HANDLE own = CreateSemaphoreW(nullptr, 1, 1, nullptr), other = CreateSemaphoreW(nullptr, 1, 1, nullptr);
    EXPECT_EQ(WaitForSingleObject(own, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);  // not the same lock
    EXPECT_EQ(CreateSemaphoreW(nullptr, 2, 1, nullptr), nullptr);
    std::wstring name = uniqueName("open");
    HANDLE made = CreateSemaphoreW(nullptr, 1, 1, name.c_str());
    HANDLE again = CreateSemaphoreW(nullptr, 1, 1, name.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(WaitForSingleObject(made, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseSemaphore(made, 1, nullptr));
    for (HANDLE h : {own, other, made, again}) CloseHandle(h);
    EXPECT_EQ(WaitForSingleObject(own, 0), WAIT_FAILED);
}

// Windows calls of several threads on several hosts at once; each thread
// takes the named lock with a handle of its own, as each rescan does, and
// holds it alone.
TEST(SimHostConcurrency, ThreadsDriveTheirOwnHostsShareADiskAndTakeTurns) {
    auto disk = std::make_shared<rendo_sim::Disk>(rendo_sim::DiskSpec::make("EMC", "SYMMETRIX", "1"));
    std::vector<std::shared_ptr<rendo_sim::Host>> hosts;
    for (int i = 0; i < 4; ++i) {
        hosts.push_back(rendo_sim::Host::create("T" + std::to_string(i)));
        hosts.back()->attach(disk, rendo_sim::ScsiAddress{});
        hosts.back()->setVirtualClock(true);
    }
    const std::wstring name = uniqueName("threads");
    HANDLE first = CreateSemaphoreW(nullptr, 1, 1, name.c_str());
    std::atomic<int> inside{0}, worst{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&, i] {
            rendo_sim::ScopedHost use(hosts[i]);
            HANDLE lock = CreateSemaphoreW(nullptr, 1, 1, name.c_str());
            for (int n = 0; n < 25; ++n) {
                ASSERT_EQ(WaitForSingleObject(lock, INFINITE), WAIT_OBJECT_0);
                int now = ++inside, seen = worst.load();
                while (now > seen && !worst.compare_exchange_weak(seen, now)) {
                }
                HANDLE h = open("\\\\.\\PHYSICALDRIVE0");
                ASSERT_NE(h, INVALID_HANDLE_VALUE);
                EXPECT_EQ(inquiry(h).status, 0);
                EXPECT_EQ(prOut(h, 6, 0, 0, uint64_t(i + 1)).status, 0);
                CloseHandle(h);
                --inside;
                ASSERT_TRUE(ReleaseSemaphore(lock, 1, nullptr));
                Sleep(1000);
                ULONG size = 0;
                CM_Get_Device_ID_List_SizeW(&size, nullptr, 0);
            }
            CloseHandle(lock);
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(worst.load(), 1);
    EXPECT_FALSE(ReleaseSemaphore(first, 1, nullptr));  // already at its maximum
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TOO_MANY_POSTS));
    CloseHandle(first);
    EXPECT_EQ(disk->commands().size(), 4u * 25 * 2);
    EXPECT_EQ(disk->reservation().registrations.size(), 4u);
    for (auto &h : hosts) EXPECT_EQ(h->sleeps().size(), 25u);
}

} // namespace

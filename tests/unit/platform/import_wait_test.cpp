// What an import leans on: the virtual clock keeps the whole wait sequence,
// LUNs that the array unmasks after some bus rescans or only on a device-tree
// rescan, and the import semaphore "kelm-sem-9000" shared by the processes
// of one host, which a killed holder does not wedge.
#include "sim_test_util.h"

#include "discovery/pnp_manager.h"
#include "pdk/cfisemaphore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace rendo_sim;
using namespace simtest;

namespace {

TEST(ImportWait, EverySleepIsRecordedAndLateLunsAppearOnTheirRescan) {
    auto host = Host::create("IMPHOST");
    host->setVirtualClock(true);
    Lun &present = host->addDisk(DiskSpec::make("ACME", "A", "1", "P"));
    Lun &afterTwo = host->addDisk(DiskSpec::make("ACME", "A", "1", "B2")).appearAfterRescans(2);
    Lun &treeOnly = host->addDisk(DiskSpec::make("ACME", "A", "1", "T")).appearOnTreeRescan();
    Lun &sixOrTree = host->addDisk(DiskSpec::make("ACME", "A", "1", "S6")).appearAfterRescans(6, true);
    Lun &masked = host->addDisk(DiskSpec::make("ACME", "A", "1", "M")).mask();
    ScopedHost use(host);
    CPnpManager pnp;
    const uint64_t start = host->nowMs();
    const auto realStart = std::chrono::steady_clock::now();

    // The import's shape: initial delay, then per attempt a bus rescan and a
    // doubling delay, with an asynchronous device-tree rescan before the last.
    Sleep(5000);
    std::vector<std::string> seen;
    DWORD delay = 10000;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt == 3) {
            DEVINST root = 0;
            ASSERT_EQ(CM_Locate_DevNode_ExW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL, nullptr), CR_SUCCESS);
            ASSERT_EQ(CM_Reenumerate_DevNode_Ex(root, CM_REENUMERATE_NORMAL, nullptr), CR_SUCCESS);
        }
        ASSERT_EQ(pnp.rescanScsiBus(false), 0);
        std::string s;
        for (Lun *l : {&present, &afterTwo, &treeOnly, &sixOrTree, &masked}) s += l->present() ? '1' : '0';
        seen.push_back(s);
        Sleep(delay);
        delay *= 2;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"10000", "11000", "11000", "11110"}));
    EXPECT_EQ(host->sleeps(), (std::vector<uint32_t>{5000, 10000, 20000, 40000, 80000}));
    EXPECT_EQ(host->nowMs() - start, 155000u);
    EXPECT_EQ(host->rootRescans(), 1u);
    EXPECT_EQ(host->rescans(0), 5u);  // four bus rescans and the tree's
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(5));
}

// Waits up to ms for one byte on fd.
int readByte(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return -1;
    char c = 0;
    return read(fd, &c, 1) == 1 ? c : -1;
}

TEST(ImportSemaphoreConcurrency, ProcessesOfOneHostTakeTurnsAndAKilledHolderFreesIt) {
    char dir[] = "/tmp/rendo-import-locks-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const char *previous = std::getenv("RENDO_SIM_LOCK_DIR");
    std::string saved = previous != nullptr ? previous : "";
    setenv("RENDO_SIM_LOCK_DIR", dir, 1);
    EXPECT_EQ(kelm_pdk_4_4::CFiSemaphoreWin::nameForKey(9000), L"kelm-sem-9000");

    // Each child opens the semaphore itself, as another process would; the
    // parent opens it only after the forks.
    int go[2], toParent[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(toParent), 0);
    pid_t waiter = fork();
    ASSERT_GE(waiter, 0);
    if (waiter == 0) {
        char c;
        if (read(go[0], &c, 1) != 1) _exit(2);
        kelm_pdk_4_4::CFiSemaphoreWin sem(9000);
        char got = sem.wait() == WAIT_OBJECT_0 ? 'w' : 'x';
        if (write(toParent[1], &got, 1) != 1) _exit(3);
        pause();  // holds it until killed
        _exit(0);
    }
    {
        kelm_pdk_4_4::CFiSemaphoreWin sem(9000);
        ASSERT_TRUE(sem.isValid());
        ASSERT_EQ(sem.wait(), WAIT_OBJECT_0);
        EXPECT_TRUE(std::filesystem::exists(std::string(dir) + "/kelm-sem-9000"));
        ASSERT_EQ(write(go[1], "g", 1), 1);
        EXPECT_EQ(readByte(toParent[0], 300), -1);  // the other process waits for us
        EXPECT_TRUE(sem.post());
        EXPECT_EQ(readByte(toParent[0], 10000), 'w');

        // Now the child holds it; killed, it lets the next import through.
        HANDLE h = CreateSemaphoreW(nullptr, 1, 1, L"kelm-sem-9000");
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(WaitForSingleObject(h, 200), WAIT_TIMEOUT);
        kill(waiter, SIGKILL);
        int status = 0;
        waitpid(waiter, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseSemaphore(h, 1, nullptr));
        CloseHandle(h);
    }
    for (int fd : {go[0], go[1], toParent[0], toParent[1]}) close(fd);
    if (previous != nullptr) setenv("RENDO_SIM_LOCK_DIR", saved.c_str(), 1);
    else unsetenv("RENDO_SIM_LOCK_DIR");
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

} // namespace

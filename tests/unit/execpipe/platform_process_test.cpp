// The Windows process, pipe and event calls of the simulated host where the
// runner's tests do not reach (console events, cancellation), and several
// runners at once. Accounts from a host description: kelm-host's
// exec tests (tests/kelmhost/exec_accounts.cmake).
#include "pdk/cfiexecpipewindows.h"
#include "platform/simhost.h"
#include "platform/windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

TEST(HostProcesses, ConsoleEventsAndCancellation) {
    auto host = rendo_sim::Host::create("PROCS");
    rendo_sim::ScopedHost use(host);
    // Console events never reach this process or anything not started here.
    EXPECT_FALSE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    EXPECT_FALSE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, static_cast<DWORD>(::getpid())));
    EXPECT_FALSE(GenerateConsoleCtrlEvent(7, 1234));

    const char *name = "\\\\.\\pipe\\platform_test";
    HANDLE server = CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, 0, 1, 0, 0, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    HANDLE client = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(client, INVALID_HANDLE_VALUE);

    // A cancelled read takes nothing: the next read gets the first byte.
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "e");
    char byte = 0;
    DWORD got = 0;
    OVERLAPPED ov{};
    ov.hEvent = event;
    EXPECT_FALSE(ReadFile(client, &byte, 1, &got, &ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CancelIo(client));
    EXPECT_FALSE(GetOverlappedResult(client, &ov, &got, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(server, "xy", 2, &written, nullptr));
    ASSERT_TRUE(ReadFile(client, &byte, 1, &got, &ov));
    EXPECT_EQ(byte, 'x');
    // The event of an auto-reset completion is consumed by one wait. (Pending
    // reads that complete and the broken pipe at the end are every runner
    // test's.)
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(server);
    CloseHandle(client);
    CloseHandle(event);
}

// Several runners at once, some needing the batch logon right added for
// their run: each gets its own output, every child is reaped, and the
// rights end as they began.
TEST(ExecPipeConcurrency, RunnersOnSeveralThreads) {
    auto host = rendo_sim::Host::create("MANY");
    host->addAccount("worker", "w");
    host->addAccount("granted", "g", {"SeBatchLogonRight"});
    kelm_pdk_4_4::CFiExecPipeWindows::setImpersonationGuardWait(120000);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            rendo_sim::ScopedHost use(host);
            for (int i = 0; i < 5; ++i) {
                const char *user = (t + i) % 3 == 0 ? "worker" : (t + i) % 3 == 1 ? "granted" : "";
                const char *password = user[0] == 'w' ? "w" : user[0] == 'g' ? "g" : "";
                std::string word = "t" + std::to_string(t) + "i" + std::to_string(i);
                kelm_pdk_4_4::CFiExecPipeWindows run(1);
                std::vector<std::string> lines;
                int rc = run.Exec("echo " + word, lines, "", 120, "", user, password);
                if (rc != 0 || lines != std::vector<std::string>{word}) ++wrong;
            }
        });
    for (auto &th : threads) th.join();
    kelm_pdk_4_4::CFiExecPipeWindows::setImpersonationGuardWait(10000);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(host->processes().size(), 20u);
    EXPECT_TRUE(host->accountRights("worker").empty());
    EXPECT_EQ(host->accountRights("granted"), std::vector<std::string>{"SeBatchLogonRight"});
    for (const auto &p : host->processes())
        EXPECT_TRUE(::waitpid(static_cast<pid_t>(p.pid), nullptr, WNOHANG) < 0 && errno == ECHILD);
}

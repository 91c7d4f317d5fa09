// The command runner against real child processes (small shell scripts)
// on a simulated host. Waits that must run out do so on the host's virtual
// clock; everything else runs on the real clock and ends when the child does.
#include "../scsitool/trace_capture.h"
#include "pdk/cfiexecpipewindows.h"
#include "pdk/cfistringtool.h"
#include "platform/simhost.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace kelm_pdk_4_4;
using scsitool_test::TraceCapture;
using scsitool_test::severityOf;

namespace {

constexpr unsigned long kGenerous = 120;   // a read time-out no healthy child comes near

// True when the child has been reaped and nothing of its process group is
// left running (zombies left to init run nothing). Killed members die a
// moment after the signal: allow them a few seconds.
bool gone(uint32_t pid) {
    if (pid == 0 || pid == static_cast<uint32_t>(-1) || ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) >= 0 ||
        errno != ECHILD)
        return false;
    for (int i = 0; i < 500; ++i, ::usleep(10000)) {
        bool live = false;
        for (const auto &e : std::filesystem::directory_iterator("/proc")) {
            if (!std::isdigit(static_cast<unsigned char>(e.path().filename().string()[0]))) continue;
            std::string stat = rendo_test::readFile(e.path() / "stat");
            size_t close = stat.rfind(')');
            char state = 0;
            long ppid = 0, pgrp = 0;
            live |= close != std::string::npos &&
                    std::sscanf(stat.c_str() + close + 1, " %c %ld %ld", &state, &ppid, &pgrp) == 3 && pgrp == pid &&
                    state != 'Z';
        }
        if (!live) return true;
    }
    return false;
}

class ExecPipe : public ::testing::Test {
protected:
    ~ExecPipe() override { rendo_test::removeTree(dir); }
    // A shell script in the test's folder; returns its path.
    std::string script(const std::string &name, const std::string &body) {
        std::string path = dir + name;
        rendo_test::writeFile(path, "#!/bin/sh\n" + body + "\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }
    uint32_t lastPid() const {
        auto all = host->processes();
        return all.empty() ? 0 : all.back().pid;
    }

    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("EXECHOST");
    rendo_sim::ScopedHost use{host};
    std::string dir = rendo_test::makeInstallRoot("execpipe-scripts");
};

std::string message(const EFiExecPipe &e) { return CFiStringTool::toNarrow(e.message()); }

} // namespace

TEST_F(ExecPipe, OutputLinesAndExitStatus) {
    struct Case {
        const char *name;
        std::string body;
        std::vector<std::string> lines;
        int result;
        const char *lastMessage, *directory;  // lastMessage: of the last error, when the result is not 0
    };
    std::vector<std::string> bigOutput;
    for (int i = 0; i < 3000; ++i) bigOutput.push_back("line " + std::to_string(i) + std::string(90, '.'));
    const Case cases[] = {
        // Line ends of "\r\n": kelm-host's exec test.
        {"long", "head -c 20000 /dev/zero | tr '\\0' x", {std::string(8191, 'x'), std::string(8191, 'x'),
                                                              std::string(20000 - 2 * 8191, 'x')}, 0, "", ""},
        {"silent", "exit 0", {}, 0, "", ""},
        // More than the pipe holds: the child blocks until the reader drains it.
        {"big", "i=0; while [ $i -lt 3000 ]; do echo \"line $i..........................................................................................\"; i=$((i+1)); done",
         bigOutput, 0, "", ""},
        {"halfline", "printf 'x\\nhalf'; exit 2", {"x", "half"}, 11, "Command exited with status 2", ""},
        {"stderr", "echo out; echo err >&2", {"out", "err"}, 0, "", ""},
        {"directory", "pwd", {"/"}, 0, "", "/"},  // the child's current directory
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> lines{"stale"};
        CFiExecPipeWindows run(0);
        EXPECT_EQ(run.ExecMain(script(std::string("s_") + c.name, c.body), lines, "", kGenerous, c.directory, "", ""),
                  c.result);
        EXPECT_EQ(lines, c.lines);
        if (c.result != 0) {
            EXPECT_EQ(run.getLastError().code(), c.result);
            EXPECT_EQ(message(run.getLastError()), c.lastMessage);
        }
        EXPECT_TRUE(gone(lastPid()));  // Close reaped it
    }
}

TEST_F(ExecPipe, StartFailures) {
    TraceCapture capture;
    struct Case { std::string command, directory; int systemError; const char *text; } cases[] = {
        {dir + "no-such-program -x", "", 2, "The system cannot find the file specified."},
        {"no-such-program-on-path", "", 2, "The system cannot find the file specified."},
        {"echo hi", dir + "missing-dir", 267, "The directory name is invalid."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        size_t started = host->processes().size();
        CFiExecPipeWindows run(1);
        run.setTraceLog(capture.log());
        std::vector<std::string> lines;
        EXPECT_EQ(run.Exec(c.command, lines, "", kGenerous, c.directory, "", ""), 3);
        EFiExecPipe e = run.getLastError();
        EXPECT_EQ(e.code(), KEL_EXEC_PIPE_CREATE_CHILD_PROCESS_FAILED);
        EXPECT_EQ(e.systemError(), c.systemError);
        EXPECT_EQ(message(e), c.text);
        EXPECT_EQ(e.command(), c.command);
        EXPECT_EQ(host->processes().size(), started);
        auto seen = capture.take();
        EXPECT_EQ(severityOf(seen, "Failed to create child process"), scsitool_test::kLevel1);
        EXPECT_EQ(severityOf(seen, "Execption occured while closing handles"), scsitool_test::kLevel2);
        EXPECT_EQ(severityOf(seen, "Close of the process returned 0"), scsitool_test::kLevel2);
    }
}

// The escalation of WaitPid, on the virtual clock: the recorded waits and
// the exit status say which step stopped the child.
TEST_F(ExecPipe, StopEscalatesFromCtrlCToTermination) {
    host->setVirtualClock(true);
    struct Case { const char *name, *traps; std::vector<uint32_t> waits; const char *status; } cases[] = {
        {"obeys", "", {10000, 30000}, "Command exited with status 130"},
        {"ignores-int", "trap '' INT", {10000, 30000, 30000}, "Command exited with status 143"},
        {"ignores-both", "trap '' INT TERM", {10000, 30000, 30000}, "Command exited with status 1067"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> lines;
        CFiExecPipeWindows run(0);
        // Closes its output at once, then keeps running.
        std::string body = std::string(c.traps) + "\necho before\nexec >/dev/null 2>&1\nwhile :; do sleep 1; done";
        uint64_t before = host->nowMs();
        host->clearWaits();
        EXPECT_EQ(run.ExecMain(script(c.name, body), lines, "", kGenerous, "", "", ""), 11);
        EXPECT_EQ(lines, std::vector<std::string>{"before"});
        EXPECT_EQ(message(run.getLastError()), c.status);
        // Reading may have waited for the end of the output; the stop's waits come last.
        std::vector<uint32_t> waits = host->waits();
        ASSERT_GE(waits.size(), c.waits.size());
        EXPECT_EQ(std::vector<uint32_t>(waits.end() - static_cast<long>(c.waits.size()), waits.end()), c.waits);
        EXPECT_GE(host->nowMs() - before, 10000u);
        EXPECT_TRUE(gone(lastPid()));
    }
}

TEST_F(ExecPipe, AbortStopsReadingAndCloseStillReaps) {
    CFiExecPipeWindows run(0);
    run.Abort();
    std::vector<std::string> lines;
    run.ExecMain(script("chatty", "echo one; echo two"), lines, "", kGenerous, "", "", "");
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(gone(lastPid()));
}

// ---------------------------------------------------------- other accounts
// Logging on as an account, its name in any case, a refused logon, and the
// batch logon right put back (or left alone when the account had it):
// kelm-host's exec tests and the runners on several threads
// (platform_process_test.cpp).

// A silent child times the read out; it runs on, holding the account's
// batch logon right and the impersonation guard, until Close stops it.
// Another runner that needs the guard meanwhile gives up after the bound.
TEST_F(ExecPipe, ReadTimeOutLeavesTheChildAndTheGuardToClose) {
    TraceCapture capture;
    host->addAccount("backup", "s3cret");
    host->addAccount("other", "o");
    struct Restore { ~Restore() { CFiExecPipeWindows::setImpersonationGuardWait(10000); } } restore;
    CFiExecPipeWindows::setImpersonationGuardWait(200);
    host->setVirtualClock(true);
    auto holder = std::make_unique<CFiExecPipeWindows>(0);
    holder->setTraceLog(capture.log());
    std::vector<std::string> lines;
    EXPECT_EQ(holder->ExecMain(script("silent", "echo first; exec sleep 300"), lines, "", 5, "", "backup", "s3cret"),
              5);
    const uint32_t pid = lastPid();
    EXPECT_EQ(lines, std::vector<std::string>{"first"});
    EXPECT_EQ(holder->getLastError().code(), KEL_EXEC_PIPE_READ_TIMEOUT);
    EXPECT_EQ(severityOf(capture.take(), "Process has timmedout (5 sec)"), scsitool_test::kLevel1);
    EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), 0);  // still running
    EXPECT_EQ(host->accountRights("backup"), std::vector<std::string>{"SeBatchLogonRight"});

    CFiExecPipeWindows waiter(1);
    waiter.setTraceLog(capture.log());
    EXPECT_EQ(waiter.Exec("echo x", lines, "", kGenerous, "", "other", "o"), 3);
    EXPECT_EQ(waiter.getLastError().code(), KEL_EXEC_PIPE_IMPERSONATION_TIMEOUT);
    EXPECT_EQ(waiter.getLastError().command(), "other");
    EXPECT_EQ(severityOf(capture.take(), "CEFiExecPipe could not impersonate"), scsitool_test::kLevel1);

    host->clearWaits();
    holder.reset();  // Close: CTRL_C stops the sleeper after the first wait; right removed, guard released
    EXPECT_TRUE(gone(pid));
    EXPECT_EQ(host->waits(), (std::vector<uint32_t>{10000, 30000}));
    EXPECT_TRUE(host->accountRights("backup").empty());
    CFiExecPipeWindows again(1);
    EXPECT_EQ(again.Exec("echo x", lines, "", kGenerous, "", "other", "o"), 0);
}

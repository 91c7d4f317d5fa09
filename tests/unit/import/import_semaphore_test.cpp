// The import semaphore across processes, on the real clock with short
// tuning: a second process's import waits until the first one returns. That
// a process killed while holding "kelm-sem-9000" blocks no one is the
// platform tests' case (ImportSemaphoreConcurrency).
#include "../device/plugin_fixture.h"
#include "../discovery/discovery_test_util.h"

#include <chrono>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace kelm_pdk_4_4;

struct ImportSemaphore : rendo_test::PluginOnSimHost {
    ImportSemaphore() : PluginOnSimHost("SEMHOST") {}
};

TEST_F(ImportSemaphore, SecondProcessWaitsForTheFirst) {
    discovery_test::PrivateLockDirectory locks; // no other test's import shares the semaphore
    host->setVirtualClock(false);
    host->addDisk(rendo_sim::DiskSpec::make("ACME", "OTHER", "1", "O1"));
    CFiSmartPtr<CDevicePlugin> plugin = start("\"IMPORT_INITIAL_DELAY_IN_SEC\"=dword:00000000\n" + rendo_test::attempts(1) +
                                              "\"IMPORT_RETRY_DELAY_IN_SEC\"=dword:00000002\n");
    ASSERT_EQ(2u, plugin->tuningSettings().importRetryDelayInSec);
    const WString absent = CFiStringTool::toWide("UDID##ACME##NONE##1");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Holds the semaphore through its one attempt and its retry delay.
        plugin->importDevice(absent, 1, 0);
        _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto begun = std::chrono::steady_clock::now();
    // No rescan: straight to the semaphore, and out again at once.
    EXPECT_EQ("", plugin->importDevice(absent, 1, KEL_RESCAN_SKIP));
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_GE(waited, 0.5);
    EXPECT_LE(waited, 6.0);
}

} // namespace

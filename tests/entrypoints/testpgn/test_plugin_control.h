// The script and the observations of the test-only provider library
// (librendo_testpgn.so). A test finds them with
// dlsym(handle, "rendo_testpgn_control") and sets the script before calling
// the entry points.
#ifndef TESTS_ENTRYPOINTS_TESTPGN_TEST_PLUGIN_CONTROL_H
#define TESTS_ENTRYPOINTS_TESTPGN_TEST_PLUGIN_CONTROL_H

#include <atomic>
#include <cstdint>
#include <new>

// What delayedInit does.
enum TestDelayedInit : int {
    kDelayedInitReal = 0,   // the device provider's own
    kDelayedInitReturn = 1, // return delayedInitResult
    kDelayedInitThrow = 2,  // throw an int inside the device provider's init guard
};

struct RendoTestPgnControl {
    // ---- script ----
    std::atomic<int> delayedInitMode{kDelayedInitReal};
    std::atomic<int> delayedInitResult{0};
    std::atomic<int> selectResult{4};        // 4: use the session-based variant
    std::atomic<int> makeSnapshotsResult{0};
    std::atomic<bool> claimThrows{false};    // claim throws the int 42
    std::atomic<int> discoveryThrows{0};     // this many multipath discoveries throw a std::runtime_error
    std::atomic<int> discoverySleepMs{0};    // each multipath discovery first sleeps this long

    // ---- observations ----
    std::atomic<int> delayedInitCalls{0};
    std::atomic<int> initCalls{0};
    std::atomic<int> finiCalls{0};
    std::atomic<int> destroyed{0};
    std::atomic<bool> shuttingDownAtFini{false};
    std::atomic<int> guardedCalls{0};        // claim, config, subobj_list, translate, enumerate_nodes, provider info
    std::atomic<bool> providerListWasNull{false};
    std::atomic<int> makeSnapshotsCalls{0};
    std::atomic<int> prepareSnapshotsCalls{0};
    std::atomic<int> selectSnapshotsCalls{0};
    std::atomic<uintptr_t> lastSession{0};     // identity of the last session seen
    std::atomic<int> lastSessionNodes{0};      // its node count at that time
    std::atomic<void *> quiesceNodes{nullptr}; // array and count quiesce received
    std::atomic<int> quiesceCount{-1};
    std::atomic<void *> quiesceFirst{nullptr};
    std::atomic<bool> interposeMutexHeld{false}; // another thread found the plug-in mutex taken
    std::atomic<int> discoveries{0};           // multipath discoveries run (one per disk enumeration)

    void reset() {
        this->~RendoTestPgnControl();
        new (this) RendoTestPgnControl;
    }
};

extern "C" {
typedef RendoTestPgnControl *(*rendo_testpgn_control_fn)(void);
}

#endif // TESTS_ENTRYPOINTS_TESTPGN_TEST_PLUGIN_CONTROL_H

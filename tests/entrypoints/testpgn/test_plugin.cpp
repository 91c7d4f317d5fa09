// The plug-in behind the entry points of librendo_testpgn.so: the device
// provider with scripted answers and counted calls, so the tests can drive
// the frame's paths that the real provider does not take (make answering 4,
// a failing delayed initialisation, exceptions in a guarded operation).
#include "rendo_plugin.h"
#include "test_plugin_control.h"

#include "device_guard.h"
#include "device_plugin.h"

#include <chrono>
#include <stdexcept>
#include <thread>

using namespace kelm_pdk_4_4;

namespace {

RendoTestPgnControl &control() {
    static RendoTestPgnControl *c = new RendoTestPgnControl; // outlives every static destructor
    return *c;
}

void noteSession(const CFiSessionPtr &session) {
    control().lastSession = reinterpret_cast<uintptr_t>(session.get());
    control().lastSessionNodes = session.isNull() ? 0 : static_cast<int>(session->nodes().size());
}

constexpr int32_t kScriptedClaimLine = 200;

// A multipath discovery module that fails as a listing command might.
struct CScriptedDiscovery : CDmpDiscoveryBase {
    int enumerateDmpDevices(DeviceMap &) override {
        ++control().discoveries;
        std::this_thread::sleep_for(std::chrono::milliseconds(control().discoverySleepMs.load()));
        if (control().discoveryThrows.fetch_sub(1) > 0) throw std::runtime_error("multipath listing failed");
        return 0;
    }
    int rescan() override { return 0; }
};

struct CTestPlugin : CDevicePlugin {
    CTestPlugin() { dmpManager().registerDiscoveryModule(new CScriptedDiscovery); }
    ~CTestPlugin() override { ++control().destroyed; }

    int init() override { return ++control().initCalls, CDevicePlugin::init(); }

    int delayedInit() override {
        ++control().delayedInitCalls;
        switch (control().delayedInitMode.load()) {
        case kDelayedInitReturn: return control().delayedInitResult.load();
        case kDelayedInitThrow:
            return guardedInitCall(m_errorManager, kDelayedInitGuardLine, kDelayedInitFailedLine,
                                   []() -> int { throw 7; });
        default: return CDevicePlugin::delayedInit();
        }
    }

    void fini() override {
        ++control().finiCalls;
        control().shuttingDownAtFini = CFiPluginBase::isShuttingDown(false);
        CDevicePlugin::fini();
    }

    // The frame tests use init_node only to run the entry frame (delayedInit
    // and its lock); the nodes they pass name no disk.
    int initNode(kel_domain *, kel_domain **, int, kelm_objid *) override { return 0; }

    int claim(kelm_objid *, kelm_objid ***, int *level) override {
        ++control().guardedCalls;
        *level = 0;
        return guardedCall(m_errorManager, kScriptedClaimLine, [] {
            if (control().claimThrows.load()) throw 42;
            return KEL_CLAIM_SECONDARY;
        }, KEL_CLAIM_NONE);
    }

    // Counted, then the device provider's own.
#define RENDO_TESTPGN_COUNTED_(name, params, args)                                                               \
    int name params override { return ++control().guardedCalls, CDevicePlugin::name args; }
    RENDO_TESTPGN_COUNTED_(config, (kel_domain * d, int mode, char *session, kel_confspec *c), (d, mode, session, c))
    RENDO_TESTPGN_COUNTED_(subobjList, (kel_domain * d, kelm_objid ***list, int *count), (d, list, count))
    RENDO_TESTPGN_COUNTED_(translateResourceNames, (wchar_t * *names, int count, wchar_t **out), (names, count, out))
    RENDO_TESTPGN_COUNTED_(enumerateNodes, (kel_node_list * *list, int *count, int selection, wchar_t *text),
                           (list, count, selection, text))
#undef RENDO_TESTPGN_COUNTED_
    int getProviderInfo(kel_provider_list **list) override {
        return ++control().guardedCalls, control().providerListWasNull = (*list == nullptr), 0;
    }

    int quiesce(kel_quiescenode **nodes, int count, char *) override {
        control().quiesceNodes = nodes;
        control().quiesceCount = count;
        control().quiesceFirst = (nodes != nullptr && count > 0) ? nodes[0] : nullptr;
        return 0;
    }

    int select(char *, kel_splitnode **, int) override { return control().selectResult.load(); }

    int selectSnapshots(CFiSessionPtr s) override { return ++control().selectSnapshotsCalls, noteSession(s), 0; }
    int prepareSnapshots(CFiSessionPtr s) override { return ++control().prepareSnapshotsCalls, noteSession(s), 0; }

    // Every node the session knows gets a target named after it.
    int makeSnapshots(CFiSessionPtr session) override {
        ++control().makeSnapshotsCalls;
        noteSession(session);
        std::vector<std::string> names;
        for (const auto &entry : session->nodes()) names.push_back(entry.first);
        for (const std::string &name : names) {
            CFiSessionNode &node = session->getNode(name);
            node.targetName = node.name + WString(L"-snap");
        }
        return control().makeSnapshotsResult.load();
    }

    int interpose(kel_domain *, kelm_objid **, kelm_objid ***, int *) override {
        // Held by the entry point: another thread must not get it now.
        std::thread([this] {
            control().interposeMutexHeld = getMutex().tryacquire() != 0;
            if (!control().interposeMutexHeld) getMutex().release();
        }).join();
        return 0;
    }

    long objctl(const WString &command, CFiObjctlArgs &args) override {
        for (const CFiObjctlItem &in : args.inputs) args.outputs.push_back({in.arg, in.value + command, in.type});
        return 4242;
    }
};

} // namespace

RendoPluginPtr rendoPlugin(bool release) { return CFiSingleton<CTestPlugin>::instance(release); }

extern "C" __attribute__((visibility("default"))) RendoTestPgnControl *rendo_testpgn_control(void) {
    return &control();
}

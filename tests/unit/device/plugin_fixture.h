// A provider started on a simulated host of the test's own, with the virtual
// clock on and its trace lines captured: the fixture of the device-map and
// import tests, and the pieces they share.
#ifndef RENDO_TESTS_PLUGIN_FIXTURE_H
#define RENDO_TESTS_PLUGIN_FIXTURE_H

#include "device_plugin.h"

#include "../scsitool/trace_capture.h"
#include "kelm/kelm_testkit.h"
#include "pdk/cfierror.h"
#include "pdk/cfiprivatedata.h"
#include "pdk/cfistringtool.h"
#include "platform/simhost.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace rendo_test {

// A LUN of the generic rule whose UDID is kUdidA.
inline const char kUdidA[] = "UDID##ACME##STORAGE_ARRAY##00830014010300106001405A1B2C3D4E5F60718293A4B501";

inline std::shared_ptr<rendo_sim::Disk> lunA() {
    return std::make_shared<rendo_sim::Disk>(rendo_sim::DiskSpec::make("ACME", "STORAGE ARRAY", "1.0", "MP0001")
                                                 .naa("6001405a1b2c3d4e5f60718293a4b501"));
}

inline std::wstring wide(const std::string &s) {
    return kelm_pdk_4_4::CFiStringTool::toStdWide(kelm_pdk_4_4::CFiStringTool::toWide(s));
}

// An identifier the test owns, freed at the end of the scope.
struct Objid {
    explicit Objid(const std::string &name) {
        const std::wstring w = wide(name);
        id = kelm_get_objid(w.c_str(), static_cast<uint32_t>((w.size() + 1) * sizeof(wchar_t)), 3);
    }
    ~Objid() { kelm_free_objid(id); }
    kelm_objid *id;
};

// The tuning line that sets the number of import attempts.
inline std::string attempts(unsigned n) { return "\"IMPORT_RETRY_ATTEMPTS\"=dword:0000000" + std::to_string(n) + "\n"; }

class PluginOnSimHost : public ::testing::Test {
protected:
    explicit PluginOnSimHost(const char *hostName) : m_hostName(hostName) {}
    void SetUp() override { newHost(); }

    void newHost() {
        use.reset();
        host = rendo_sim::Host::create(m_hostName);
        host->setVirtualClock(true);
        use.reset(new rendo_sim::ScopedHost(host));
    }
    // A started provider; tuning lines replace the tuning section of its
    // configuration file first.
    // Its trace lines and the host's sleeps so far are dropped.
    kelm_pdk_4_4::CFiSmartPtr<CDevicePlugin> start(const std::string &tuning = "") {
        const std::string conf = std::string(std::getenv("KELM_INSTALL_ROOT")) + "ConfigFiles/rendo.conf";
        const std::string text = readFile(conf);
        writeFile(conf, text.substr(0, text.find("[TUNING_PARAMS]")) + (tuning.empty() ? "" : "[TUNING_PARAMS]\n" + tuning));
        kelm_pdk_4_4::CFiSmartPtr<CDevicePlugin> plugin(new CDevicePlugin);
        plugin->setProviderName(kelm_pdk_4_4::WString(L"rendo"));
        plugin->setTraceLog(capture.log());
        plugin->registerErrorManager(errors);
        plugin->registerPrivateDataManager(privateData);
        EXPECT_EQ(0, plugin->init());
        capture.take();
        host->clearSleeps();
        return plugin;
    }

    // Messages of the lines taken since the last call that begin with one of prefixes.
    std::vector<std::string> lines(const std::vector<std::string> &prefixes) {
        std::vector<std::string> out;
        for (const scsitool_test::TraceLine &l : capture.take())
            for (const std::string &p : prefixes)
                if (l.message.compare(0, p.size(), p) == 0) {
                    out.push_back(l.message);
                    break;
                }
        return out;
    }

    // The last message pushed on this thread, "" for none.
    std::string lastMessageId() {
        kelm_pdk_4_4::CFiMessagePtr m = errors->lastMessage();
        return m.isNull() ? "" : m->messageId();
    }

    scsitool_test::TraceCapture capture;
    kelm_pdk_4_4::CFiErrorManagerPtr errors{new kelm_pdk_4_4::CFiErrorManager};
    kelm_pdk_4_4::CFiPrivateDataManagerPtr privateData{new kelm_pdk_4_4::CFiPrivateDataManager};
    std::shared_ptr<rendo_sim::Host> host;
    std::unique_ptr<rendo_sim::ScopedHost> use;

private:
    const char *m_hostName;
};

} // namespace rendo_test

#endif

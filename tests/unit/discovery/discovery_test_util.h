// Helpers of the discovery and disk-manager tests.
#ifndef TESTS_UNIT_DISCOVERY_DISCOVERY_TEST_UTIL_H
#define TESTS_UNIT_DISCOVERY_DISCOVERY_TEST_UTIL_H

#include "../scsitool/trace_capture.h"
#include "platform/simhost.h"
#include "scsitool/device_scsi_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace discovery_test {

using namespace scsitool_test;

// Rescans take the host-wide rescan lock: its file lives apart from other
// runs on the machine, set before the first rescan and removed at exit.
struct PrivateLockDirectory {
    std::string path;
    PrivateLockDirectory() {
        char dir[] = "/tmp/rendo-rescan-locks-XXXXXX";
        if (mkdtemp(dir) == nullptr) return;
        path = dir;
        setenv("RENDO_SIM_LOCK_DIR", dir, 1);
    }
    ~PrivateLockDirectory() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

// Owns the records discovery hands back.
struct Records {
    std::vector<CScsiDeviceData *> v;
    ~Records() {
        for (CScsiDeviceData *d : v) delete d;
    }
    std::vector<std::string> vendors() const {
        std::vector<std::string> out;
        for (CScsiDeviceData *d : v) out.push_back(d->m_vendorId);
        return out;
    }
};

// A PnP manager of type Pnp on a simulated host of the test's own, its trace captured.
template <class Pnp>
struct PnpOnSimHost : ::testing::Test {
    void SetUp() override { pnp.registerTraceLog(trace.log()); }
    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("DISCHOST");
    rendo_sim::ScopedHost use{host};
    TraceCapture trace;
    Pnp pnp;
};

} // namespace discovery_test

#endif // TESTS_UNIT_DISCOVERY_DISCOVERY_TEST_UTIL_H

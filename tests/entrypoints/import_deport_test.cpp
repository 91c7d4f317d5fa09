// The provider's main job through its entry points: a snapshot LUN that the
// array unmasks only after the second bus rescan is imported (reserved when
// asked), then deported with release and/or removal.
#include "ep_fixture.h"
#include "test_env.h"

#include "kelm/kelm_util.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace ep_test;

const char kHost[] = R"(computer-name imphost
ip-address 10.0.0.1
virtual-clock on
adapter 0
disk snapshot
  vendor ACME
  product "STORAGE ARRAY"
  serial SNAP0001
  naa 6001405a1b2c3d4e5f60718293a4b501
  address 0 0 0 0
  appear-after-rescans 2
)";
const std::string kUdid = "UDID##ACME##STORAGE_ARRAY##00830014010300106001405A1B2C3D4E5F60718293A4B501";
const std::string kDrive = "\\\\.\\PHYSICALDRIVE0";

std::wstring wide(const std::string &s) { return std::wstring(s.begin(), s.end()); }

class ImportDeport : public EntryPointTest {
protected:
    void TearDown() override {
        EntryPointTest::TearDown();
        unsetenv("RENDO_SIM_HOST");
    }
    // import_resource; the name handed out (freed as the framework frees it), or "".
    int importResource(const std::string &udid, int flags, std::string *name) {
        std::wstring w = wide(udid);
        wchar_t *out = nullptr;
        int rc = ProviderLibrary::rendo().ep().import_resource(&out, &w[0], nullptr, nullptr, flags, nullptr, nullptr);
        *name = out != nullptr ? narrow(out) : "";
        if (out != nullptr) kelm_free_buf(out, static_cast<uint32_t>((name->size() + 1) * sizeof(wchar_t)));
        return rc;
    }
};

TEST_F(ImportDeport, ImportWaitsReservesAndDeportReleasesAndRemoves) {
    const struct {
        int deportFlags;
        bool released, removed;
    } cases[] = {{0x800 | 0x4000 | 0x10, true, true}, {0x800 | 0x4000, true, false}, {0x10 | 0x400, false, false}};
    for (const auto &c : cases) {
        EntryPointTest::TearDown();
        EntryPointTest::SetUp();
        std::string path = m_root + "host.txt";
        rendo_test::writeFile(path, kHost);
        setenv("RENDO_SIM_HOST", path.c_str(), 1);
        traceAtLevel(3);
        ProviderLibrary &lib = ProviderLibrary::rendo();
        ASSERT_EQ(0, start(lib));

        std::string name;
        ASSERT_EQ(0, importResource(kUdid, 0x1000 | 0x4000, &name));
        EXPECT_EQ(kDrive, name);
        // Found on the second attempt, after the initial delay and one retry delay.
        EXPECT_EQ(1u, traced("returning device [" + kDrive + "] total time waited [15] sec.").size());
        EXPECT_EQ(1u, traced("CDevicePlugin::importResource - hostKey = 0a000001").size());

        std::wstring udid = wide(kUdid);
        EXPECT_EQ(0, lib.ep().pre_deport_resource(&udid[0], c.deportFlags, nullptr));
        EXPECT_EQ(0, lib.ep().deport_resource(&udid[0], nullptr, nullptr, nullptr, c.deportFlags));
        EXPECT_EQ(c.released ? 1u : 0u, traced("CDevicePlugin::deportResource - DevicePath = " + kDrive).size()) << c.deportFlags;
        // A removed disk is forgotten and stays away: a lookup without rescan fails.
        EXPECT_EQ(c.removed ? KEL_ENODEV : 0, importResource(kUdid, 0x100, &name)) << c.deportFlags;
        EXPECT_EQ(c.removed ? "" : kDrive, name);
        stop();
    }
}

} // namespace

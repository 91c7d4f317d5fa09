// Import and deport of a tgtd logical unit that the target starts to export
// only while the import is waiting: discovery finds a LU that truly appeared
// during the wait, the provider reserves it with this host's key, and deport
// with release and removal leaves nothing on the target or in the host.
#include "realtarget_fixture.h"
#include "realtarget_scsi.h"

#include "../unit/scsitool/trace_capture.h"
#include "device_plugin.h"
#include "pdk/cfistringtool.h"
#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using namespace rendo_realtarget;
using namespace kelm_pdk_4_4;
using rendo_sim::DataDirection;

// The default rule's UDID: vendor, product, page 0x83 in hex up to the scsi_id.
const char kUdid[] = "UDID##RENDO##VDISK##008300480201002472656E646F2D696D2D30303031";

std::vector<uint8_t> prIn(rendo_sim::DiskBackend &observer, uint8_t action) {
    std::vector<uint8_t> data(256, 0);
    rendo_sim::ScsiResult r = runCdb(observer, persistentReserveInCdb(action, 256), DataDirection::In, data);
    EXPECT_FALSE(r.transportError) << r.transportMessage;
    EXPECT_EQ(kGood, r.status);
    return data;
}

TEST(TgtdImport, LogicalUnitAddedDuringTheWaitIsImportedReservedAndDeported) {
    std::string error;
    TgtdTarget tgtd;
    ASSERT_TRUE(tgtd.start(&error)) << error;
    const std::string iqn = tgtd.addTarget("import", &error);
    ASSERT_FALSE(iqn.empty()) << error;
    const std::string url = tgtd.url(iqn, 1);

    scsitool_test::TraceCapture capture;
    std::string conf = std::string(std::getenv("KELM_INSTALL_ROOT")) + "ConfigFiles/rendo.conf";
    rendo_test::writeFile(conf, rendo_test::readFile(conf) +
                                    "[TUNING_PARAMS]\n\"IMPORT_INITIAL_DELAY_IN_SEC\"=dword:00000001\n"
                                    "\"IMPORT_RETRY_DELAY_IN_SEC\"=dword:00000001\n\"IMPORT_RETRY_ATTEMPTS\"=dword:00000004\n");
    auto host = rendo_sim::Host::create("TGTDIMP");
    host->setInitiator(hostA());
    host->addIpAddress("10.9.8.7");
    rendo_sim::Lun &lun = host->addDisk(rendo_sim::DiskSpec::make("RENDO", "VDISK", "0001").iscsi(url));
    rendo_sim::ScopedHost use(host);
    CFiSmartPtr<CDevicePlugin> plugin(new CDevicePlugin);
    plugin->setProviderName(WString(L"rendo"));
    plugin->setTraceLog(capture.log());
    ASSERT_EQ(0, plugin->init());

    std::wstring udid = CFiStringTool::toStdWide(std::string(kUdid));
    wchar_t *name = nullptr;
    int rc = -1;
    const auto started = std::chrono::steady_clock::now();
    std::thread importer([&] {
        rendo_sim::ScopedHost mine(host);
        rc = plugin->importResource(&name, &udid[0], nullptr, nullptr, 0x1000 | 0x4000, nullptr, nullptr);
    });
    // The import is past its initial delay and its first attempt by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    LogicalUnitSpec unit;
    unit.scsiId = "rendo-im-0001";
    unit.serial = "RIM0000001";
    const bool added = tgtd.addLogicalUnit(iqn, 1, unit, &error);
    importer.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_TRUE(added) << error;
    ASSERT_EQ(0, rc);
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(lun.devicePath(), CFiStringTool::toNarrow(name));
    CFiStringTool::tstrfree(name);
    EXPECT_GT(seconds, 1.5); // found on a later attempt, not the first
    bool retried = false;
    for (const scsitool_test::TraceLine &l : capture.take())
        if (l.message.rfind("WARNING : import failed for UDID " + std::string(kUdid), 0) == 0) retried = true;
    EXPECT_TRUE(retried);

    auto observer = rendo_sim::openIscsiBackend(url, identity("observer", 0x0c), &error);
    ASSERT_TRUE(observer) << error;
    const uint64_t key = 0x3061303930383037ull; // "0a090807", this host's key, as eight bytes
    ReadKeys keys = decodeReadKeys(prIn(*observer, kReadKeys));
    EXPECT_EQ(std::vector<uint64_t>{key}, keys.keys);
    ReadReservation held = decodeReadReservation(prIn(*observer, kReadReservation));
    EXPECT_TRUE(held.reserved);
    EXPECT_EQ(key, held.key);

    ASSERT_EQ(0, plugin->preDeportResource(&udid[0], 0x10, nullptr));
    EXPECT_EQ(0, plugin->deportResource(&udid[0], nullptr, nullptr, nullptr, 0x800 | 0x4000 | 0x10));
    EXPECT_TRUE(decodeReadKeys(prIn(*observer, kReadKeys)).keys.empty());
    EXPECT_FALSE(decodeReadReservation(prIn(*observer, kReadReservation)).reserved);
    EXPECT_FALSE(lun.present());
    EXPECT_EQ(0u, plugin->deviceMap().count(lun.devicePath()));
    plugin->fini();
}

} // namespace

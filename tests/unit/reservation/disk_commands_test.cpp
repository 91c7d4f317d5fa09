// ReservationDiskWin against simulated disks: the bytes each command puts
// on the wire, the request around them, the data buffer set-up, and every
// way a command fails.
#include "pgr_test_support.h"
#include "sim_support.h"

#include "pgr/pgrexception.h"
#include "pgr/reservationdiskwin.h"

#include <cctype>
#include <cstring>
#include <functional>

namespace {

using namespace kelm_pdk_4_4;
using namespace pgr_test;
using Bytes = std::vector<uint8_t>;

const std::string kKey = "c0a80001";
const std::string kOther = "0a0b0c0d";

class DiskCommands : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        host = rendo_sim::Host::create("HOSTA");
        // The adapter wants 512-byte alignment and refuses a buffer without
        // it, so every command that gets through proves the buffer set-up.
        host->addAdapter(0, 0x1FF);
        lun = &host->addDisk(rendo_sim::DiskSpec::make("DGC", "RAID 5", "0326", "PGR0001"));
        use.reset(new rendo_sim::ScopedHost(host));
        disk.reset(new ReservationDiskWin(lun->devicePath()));
        disk->setTraceLog(log);
    }
    void TearDown() override {
        disk.reset();
        use.reset();
        host.reset();
        ProviderFixture::TearDown();
    }
    std::string initiator() { return host->initiator().initiatorName; }
    rendo_sim::CommandRecord lastCommand() { return lun->disk()->commands().back(); }

    std::shared_ptr<rendo_sim::Host> host;
    rendo_sim::Lun *lun = nullptr;
    std::unique_ptr<rendo_sim::ScopedHost> use;
    std::unique_ptr<ReservationDiskWin> disk;
};

Bytes cdb(uint8_t action, uint8_t type) { return {0x5F, action, type, 0, 0, 0, 0, 0, 24, 0}; }
Bytes params(const std::string &key, const std::string &saKey) {
    Bytes list(24, 0);
    for (size_t i = 0; i < key.size() && i < 8; ++i) list[i] = static_cast<uint8_t>(key[i]);
    for (size_t i = 0; i < saKey.size() && i < 8; ++i) list[8 + i] = static_cast<uint8_t>(saKey[i]);
    return list;
}

TEST_F(DiskCommands, EveryServiceActionAsTheDiskReceivedIt) {
    struct Step {
        std::function<int()> run;
        Bytes cdb;
        Bytes list;
    };
    const std::vector<Step> steps = {
        {[&] { return disk->registerDisk(kKey, false); }, cdb(0x00, 0), params("", kKey)},
        {[&] { return disk->registerDisk(kKey, true); }, cdb(0x06, 0), params(kKey, kKey)},
        {[&] { return disk->reserveDisk(kKey, false, true, false); }, cdb(0x01, 5), params(kKey, "")},
        {[&] { return disk->premptDisk(kKey, kKey, false, false, true, false); }, cdb(0x04, 5), params(kKey, kKey)},
        {[&] { return disk->premptDisk(kKey, kKey, true, false, true, false); }, cdb(0x05, 5), params(kKey, kKey)},
        {[&] { return disk->releaseDisk(kKey, false, true, false); }, cdb(0x02, 5), params(kKey, "")},
        {[&] { return disk->reserveDisk(kKey, true, false, true); }, cdb(0x01, 8), params(kKey, "")},
        {[&] { return disk->releaseDisk(kKey, true, false, true); }, cdb(0x02, 8), params(kKey, "")},
        {[&] { return disk->clearDisk(kKey); }, cdb(0x03, 0), params(kKey, "")},
        {[&] { return disk->registerDisk(kKey, true); }, cdb(0x06, 0), params(kKey, kKey)},
        {[&] { return disk->unregisterDisk(kKey); }, cdb(0x00, 0), params(kKey, "")},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(0, steps[i].run()) << "step " << i;
        rendo_sim::CommandRecord c = lastCommand();
        EXPECT_EQ(steps[i].cdb, c.cdb) << "step " << i;
        EXPECT_EQ(steps[i].list, c.dataOut) << "step " << i;
        EXPECT_EQ(rendo_sim::DataDirection::Out, c.direction);
        EXPECT_EQ(24u, c.dataLength);
        EXPECT_EQ(0, c.status) << "step " << i;
    }
    // The last step removed the registration, and CLEAR had ended the rest.
    DiskView view = look(*lun->disk());
    EXPECT_TRUE(view.keys.empty());
    EXPECT_FALSE(view.reserved);
    EXPECT_TRUE(traced("Reserve operation was successful."));
    EXPECT_TRUE(traced("Clear operation was successful."));
    EXPECT_TRUE(traced("Unregistration operation was successful."));
    EXPECT_TRUE(traced("ReservationDiskWin::premptDisk -  reservationType = 5"));
    EXPECT_TRUE(traced("ReservationDiskWin::reserveDisk -  reservationType = 8"));
}

TEST_F(DiskCommands, ReadsParseWhatTheDiskHolds) {
    ASSERT_EQ(0, disk->registerDisk(kKey, true));
    ASSERT_EQ(0, disk->reserveDisk(kKey, false, true, false));
    std::vector<std::string> keys = disk->readDiskRegistration();
    EXPECT_EQ(std::vector<std::string>{kKey}, keys);
    rendo_sim::CommandRecord c = lastCommand();
    EXPECT_EQ((Bytes{0x5E, 0x00, 0, 0, 0, 0, 0, 0x00, 0xFF, 0}), c.cdb);
    EXPECT_EQ(rendo_sim::DataDirection::In, c.direction);
    EXPECT_EQ(255u, c.dataLength);
    EXPECT_TRUE(traced("keyCount = 2\n"));
    EXPECT_TRUE(traced("Read registration operation was successful."));

    std::vector<SReservationRecord> records = disk->readDiskReservation();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(kKey, records[0].key);
    EXPECT_EQ(5, records[0].type);
    EXPECT_EQ((Bytes{0x5E, 0x01, 0, 0, 0, 0, 0, 0x00, 0xFF, 0}), lastCommand().cdb);
    EXPECT_EQ(0, disk->testUnitReady());
    EXPECT_EQ(2u, lun->disk()->count(0x5E)); // testUnitReady sends nothing
}

TEST_F(DiskCommands, ShortAnswersAreNeverReadPast) {
    ASSERT_EQ(0, disk->registerDisk(kKey, true));
    // Header and half a key: the header's length says 8, the data holds none.
    lun->disk()->truncate(0x5E, 12, 1);
    EXPECT_TRUE(disk->readDiskRegistration().empty());
    EXPECT_TRUE(traced("keyCount = 1\n"));
    lun->disk()->truncate(0x5E, 5, 1);
    EXPECT_TRUE(disk->readDiskRegistration().empty());
    ASSERT_EQ(0, disk->reserveDisk(kKey, false, true, false));
    lun->disk()->truncate(0x5E, 23, 1);
    EXPECT_TRUE(disk->readDiskReservation().empty());
    EXPECT_EQ(1u, disk->readDiskReservation().size());
}

TEST_F(DiskCommands, DeviceThatCannotBeOpened) {
    ReservationDiskWin missing("\\\\.\\PHYSICALDRIVE99");
    missing.setTraceLog(log);
    auto expectCode2 = [](const std::function<void()> &run) {
        try {
            run();
            ADD_FAILURE() << "no exception";
        } catch (const CPGRException &e) {
            EXPECT_EQ(2, e.getErrorCode());
        }
    };
    EXPECT_THROW(missing.reserveDisk(kKey, false, true, false), CPGRReserveFail);
    EXPECT_THROW(missing.registerDisk(kKey, true), CPGRRegisterFail);
    EXPECT_THROW(missing.premptDisk(kKey, kOther, true, false, true, false), CPGRPreemptFail);
    EXPECT_THROW(missing.releaseDisk(kKey, false, true, false), CPGRReleaseFail);
    EXPECT_THROW(missing.unregisterDisk(kKey), CPGRUnregisterFail);
    EXPECT_THROW(missing.clearDisk(kKey), CPGRClearFail);
    EXPECT_THROW(missing.readDiskReservation(), CPGRReadReservationFail);
    EXPECT_THROW(missing.readDiskRegistration(), CPGRReadRegistrationFail);
    expectCode2([&] { missing.readDiskRegistration(); });
    EXPECT_TRUE(traced("Error opening \\\\.\\PHYSICALDRIVE99. Error: 2\n"));
    EXPECT_TRUE(traced("Error opening file"));

    collector.clear();
    ReservationDiskWin empty("");
    empty.setTraceLog(log);
    expectCode2([&] { empty.reserveDisk(kKey, false, true, false); });
    // The system's text for the error (ERROR_PATH_NOT_FOUND) follows.
    std::vector<std::string> all = lines();
    auto at = std::find(all.begin(), all.end(), "Error opening . Error: 3\n");
    ASSERT_NE(all.end(), at);
    ASSERT_LT(at + 2, all.end());
    EXPECT_NE(std::string::npos, (at + 1)->find("cannot find the path")) << *(at + 1);
    EXPECT_EQ("Error opening file", *(at + 2));
}

TEST_F(DiskCommands, OpenFailureFromTheHost) {
    lun->failOpen(5 /* ERROR_ACCESS_DENIED */, 1);
    try {
        disk->readDiskReservation();
        ADD_FAILURE() << "no exception";
    } catch (const CPGRReadReservationFail &e) {
        EXPECT_EQ(2, e.getErrorCode());
    }
    EXPECT_TRUE(traced("Error opening " + lun->devicePath() + ". Error: 5\n"));
    // The next command opens afresh.
    EXPECT_TRUE(disk->readDiskReservation().empty());
}

TEST_F(DiskCommands, AlignmentQueryFailures) {
    // Not supported by the adapter: tolerated, no descriptor, mask 0 (an
    // adapter that needs no alignment; one that does refuses the buffer).
    host->addAdapter(2, 0);
    rendo_sim::Lun &plain = host->addDisk(rendo_sim::DiskSpec::make("DGC", "RAID 5", "0326", "PGR0003"),
                                          rendo_sim::ScsiAddress{2, 0, 0, 0});
    ReservationDiskWin plainDisk(plain.devicePath());
    plainDisk.setTraceLog(log);
    plain.failIoctl(IOCTL_STORAGE_QUERY_PROPERTY, ERROR_NOT_SUPPORTED, 2);
    EXPECT_EQ(0, plainDisk.registerDisk(kKey, true));
    EXPECT_TRUE(traced("   ***** No adapter descriptor supported on the device *****\n"));
    EXPECT_TRUE(traced("   ***** No device descriptor supported on the device  *****\n"));
    EXPECT_EQ(1u, plain.disk()->count(0x5F));

    // Any other error: code 4, nothing sent.
    collector.clear();
    size_t sent = lun->disk()->commands().size();
    lun->failIoctl(IOCTL_STORAGE_QUERY_PROPERTY, 1117 /* ERROR_IO_DEVICE */, 1);
    try {
        disk->reserveDisk(kKey, false, true, false);
        ADD_FAILURE() << "no exception";
    } catch (const CPGRReserveFail &e) {
        EXPECT_EQ(4, e.getErrorCode());
    }
    EXPECT_EQ(sent, lun->disk()->commands().size());
    EXPECT_TRUE(traced("Error getting device and/or adapter properties; error was 1117\n"));
    EXPECT_TRUE(traced("Error allocating buffer"));
    EXPECT_FALSE(traced("Failed to complete reserve operation."));
}

TEST_F(DiskCommands, ImplausibleAlignmentMaskIsRefused) {
    // A corrupt descriptor must not size a 4 GiB allocation.
    host->addAdapter(3, 0xFFFFFFFFu);
    rendo_sim::Lun &odd = host->addDisk(rendo_sim::DiskSpec::make("DGC", "RAID 5", "0326", "PGR0002"),
                                        rendo_sim::ScsiAddress{3, 0, 0, 0});
    ReservationDiskWin oddDisk(odd.devicePath());
    try {
        oddDisk.readDiskRegistration();
        ADD_FAILURE() << "no exception";
    } catch (const CPGRReadRegistrationFail &e) {
        EXPECT_EQ(4, e.getErrorCode());
    }
    EXPECT_EQ(0u, odd.disk()->commands().size());
}

TEST_F(DiskCommands, CheckConditionAndConflictAreCommandFailures) {
    lun->disk()->failCommand(0x5F, 0x05, 0x24, 0x00, 1); // ILLEGAL REQUEST, INVALID FIELD IN CDB
    try {
        disk->reserveDisk(kKey, false, true, false);
        ADD_FAILURE() << "no exception";
    } catch (const CPGRReserveFail &e) {
        EXPECT_EQ(3, e.getErrorCode());
    }
    EXPECT_TRUE(traced("Failed to complete reserve operation."));
    const SPGRPassThroughRequest &failed = disk->lastFailedRequest();
    EXPECT_EQ(0x02, failed.sptd.ScsiStatus);
    EXPECT_EQ(0x05, failed.senseBuffer[2] & 0x0F);

    collector.clear();
    disk->PrintSenseInfo(failed);
    std::vector<std::string> all = lines();
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ("Scsi status: 02h\n\n", all[0]);
    EXPECT_EQ("Sense Info -- consult SCSI spec for details\n", all[1]);
    EXPECT_TRUE(traced("Major (0x" + std::string(failed.senseBuffer[0] == 0x70 ? "70" : "F0") + "):\n"));
    EXPECT_TRUE(traced("Minor (0x24 0x00):\n"));
    // One "%02X " line per sense byte the request reports.
    int bytes = 0;
    for (const std::string &l : all) bytes += l.size() == 3 && l[2] == ' ' && std::isxdigit(l[0]);
    EXPECT_EQ(static_cast<int>(failed.sptd.SenseInfoLength), bytes);

    // Another initiator's type-5 reservation: this unregistered host's
    // PREEMPT meets RESERVATION CONFLICT (status 18h) and fails alike.
    auto other = rendo_sim::Host::create("HOSTB");
    rendo_sim::Lun &otherLun = other->attach(lun->disk(), rendo_sim::ScsiAddress{0, 0, 5, 0});
    {
        rendo_sim::ScopedHost useOther(other);
        ReservationDiskWin b(otherLun.devicePath());
        ASSERT_EQ(0, b.registerDisk(kOther, true));
        ASSERT_EQ(0, b.reserveDisk(kOther, false, true, false));
    }
    EXPECT_THROW(disk->premptDisk(kKey, kOther, true, false, true, false), CPGRPreemptFail);
    EXPECT_EQ(0x18, disk->lastFailedRequest().sptd.ScsiStatus);
    EXPECT_EQ(kOther, look(*lun->disk()).holderKey);
}

TEST_F(DiskCommands, SenseDumpOfARequestWithoutSense) {
    SPGRPassThroughRequest request;
    std::memset(&request, 0, sizeof request);
    request.sptd.ScsiStatus = 0x18;
    disk->PrintSenseInfo(request);
    EXPECT_EQ(std::vector<std::string>{"Scsi status: 18h\n\n"}, lines());
    // A length beyond the 32-byte buffer prints the buffer only.
    collector.clear();
    request.sptd.SenseInfoLength = 200;
    disk->PrintSenseInfo(request);
    int bytes = 0;
    for (const std::string &l : lines()) bytes += l == "00 ";
    EXPECT_EQ(32, bytes);
}

TEST_F(DiskCommands, AdapterDescriptorDump) {
    STORAGE_ADAPTER_DESCRIPTOR d;
    std::memset(&d, 0, sizeof d);
    d.Version = sizeof d;
    d.Size = sizeof d;
    d.MaximumTransferLength = 0x20000;
    d.MaximumPhysicalPages = 17;
    d.AlignmentMask = 0x1FF;
    d.AdapterUsesPio = 1;
    d.CommandQueueing = 1;
    d.BusType = 6;
    d.BusMajorVersion = 2;
    d.BusMinorVersion = 0x10;
    disk->PrintAdapterDescriptor(d);
    char expected[1024];
    std::snprintf(expected, sizeof expected,
                  "              Version: %08x\n            TotalSize: %08x\nMaximumTransferLength: %08x (bytes)\n "
                  "MaximumPhysicalPages: %08x\n  TrueMaximumTransfer: %08x (bytes)\n        AlignmentMask: %08x\n"
                  "       AdapterUsesPio: %s\n     AdapterScansDown: %s\n      CommandQueueing: %s\n  "
                  "AcceleratedTransfer: %s\n             Bus Type: %s\n    Bus Major Version: %04x\n    Bus Minor "
                  "Version: %04x\n",
                  unsigned(sizeof d), unsigned(sizeof d), 0x20000u, 17u, 0x10000u, 0x1FFu, "True", "False", "True",
                  "False", "Fibre", 2u, 0x10u);
    EXPECT_EQ((std::vector<std::string>{"\n            ***** STORAGE ADAPTER DESCRIPTOR DATA *****", expected}),
              lines());

    // One page or none: the multiplier is 1; bus types past the table.
    collector.clear();
    d.MaximumPhysicalPages = 0;
    d.BusType = 200;
    disk->PrintAdapterDescriptor(d);
    ASSERT_EQ(2u, lines().size());
    EXPECT_NE(std::string::npos, lines()[1].find("TrueMaximumTransfer: 00001000 (bytes)"));
    EXPECT_NE(std::string::npos, lines()[1].find("Bus Type: Not Defined\n"));
}

} // namespace

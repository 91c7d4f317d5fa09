// ReservationDiskWin against a simulated disk: the bytes of every command as
// the disk received them, the buffer set-up, and each way a command fails.
#include "sim_support.h"

#include "pgr/pgrexception.h"
#include "pgr/reservationdiskwin.h"

#include <cstring>
#include <functional>

namespace {

using namespace pgr_test;
using Bytes = std::vector<uint8_t>;
const std::string kKey = "c0a80001";

class DiskCommands : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        // The adapter wants 512-byte alignment and refuses a buffer without
        // it, so every command that gets through proves the buffer set-up.
        host->addAdapter(0, 0x1FF);
        lun = &host->addDisk(rendo_sim::DiskSpec::make("DGC", "RAID 5", "0326", "PGR0001"));
        disk.reset(new ReservationDiskWin(lun->devicePath()));
        disk->setTraceLog(log);
    }
    // The error code of the CPGRException that run throws (0: none).
    template <class Failure>
    int codeOf(const std::function<void()> &run) {
        try {
            run();
        } catch (const Failure &e) {
            return e.getErrorCode();
        }
        return 0;
    }
    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("HOSTA");
    rendo_sim::ScopedHost use{host};
    rendo_sim::Lun *lun = nullptr;
    std::unique_ptr<ReservationDiskWin> disk;
};

TEST_F(DiskCommands, EveryCommandAsTheDiskReceivedIt) {
    // Each succeeds; a braced list calls them in its order.
    for (int status : {disk->registerDisk(kKey, false), disk->registerDisk(kKey, true),
                       disk->reserveDisk(kKey, false, true, false), disk->premptDisk(kKey, kKey, false, false, true, false),
                       disk->premptDisk(kKey, kKey, true, false, true, false), disk->releaseDisk(kKey, false, true, false),
                       disk->reserveDisk(kKey, true, false, true), disk->releaseDisk(kKey, true, false, true),
                       disk->clearDisk(kKey), disk->registerDisk(kKey, true), disk->unregisterDisk(kKey)})
        ASSERT_EQ(0, status);
    const std::string k = kKey;
    EXPECT_EQ((std::vector<std::string>{"00/0 /" + k, "06/0 " + k + "/" + k, "01/5 " + k + "/", "04/5 " + k + "/" + k,
                                        "05/5 " + k + "/" + k, "02/5 " + k + "/", "01/8 " + k + "/", "02/8 " + k + "/",
                                        "03/0 " + k + "/", "06/0 " + k + "/" + k, "00/0 " + k + "/"}),
              proutFrom(*lun->disk(), host->initiator().initiatorName));
    // Whole blocks and lists, once: the key as 8 ASCII codes, the rest zero.
    rendo_sim::CommandRecord last = lun->disk()->commands().back();
    EXPECT_EQ((Bytes{0x5F, 0x00, 0x00, 0, 0, 0, 0, 0, 24, 0}), last.cdb);
    Bytes list(24, 0);
    std::memcpy(list.data(), "c0a80001", 8);
    EXPECT_EQ(list, last.dataOut);
    EXPECT_EQ(rendo_sim::DataDirection::Out, last.direction);
    EXPECT_TRUE(look(*lun->disk()).keys.empty());
}

TEST_F(DiskCommands, ReadsAndShortAnswers) {
    ASSERT_EQ(0, disk->registerDisk(kKey, true));
    ASSERT_EQ(0, disk->reserveDisk(kKey, false, true, false));
    EXPECT_EQ(std::vector<std::string>{kKey}, disk->readDiskRegistration());
    rendo_sim::CommandRecord in = lun->disk()->commands().back();
    EXPECT_EQ((Bytes{0x5E, 0x00, 0, 0, 0, 0, 0, 0x00, 0xFF, 0}), in.cdb);
    std::vector<SReservationRecord> records = disk->readDiskReservation();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(kKey, records[0].key);
    EXPECT_EQ(5, records[0].type);
    EXPECT_EQ(0x01, lun->disk()->commands().back().cdb[1]);

    // Answers cut short: ADDITIONAL LENGTH claims more than arrived.
    lun->disk()->truncate(0x5E, 12, 1);
    EXPECT_TRUE(disk->readDiskRegistration().empty());
    lun->disk()->truncate(0x5E, 23, 1);
    EXPECT_TRUE(disk->readDiskReservation().empty());
    lun->disk()->truncate(0x5E, 5, 1);
    EXPECT_TRUE(disk->readDiskReservation().empty());
}

// A missing drive is the flows' case; here a refused open, then each step
// of the buffer set-up.
TEST_F(DiskCommands, OpenAndBufferSetUpFailures) {
    lun->failOpen(5 /* ERROR_ACCESS_DENIED */, 1);
    EXPECT_EQ(2, codeOf<CPGRReadReservationFail>([&] { disk->readDiskReservation(); }));
    EXPECT_TRUE(traced("Error opening " + lun->devicePath() + ". Error: 5\n"));
    EXPECT_TRUE(disk->readDiskReservation().empty()); // each command opens afresh
    const size_t opened = lun->disk()->commands().size();
    // A property query error: code 4, nothing sent.
    lun->failIoctl(IOCTL_STORAGE_QUERY_PROPERTY, 1117 /* ERROR_IO_DEVICE */, 1);
    EXPECT_EQ(4, codeOf<CPGRReserveFail>([&] { disk->reserveDisk(kKey, false, true, false); }));
    EXPECT_EQ(opened, lun->disk()->commands().size());
    // ...but an adapter without the descriptors (mask 0) is served all the same.
    host->addAdapter(2, 0);
    rendo_sim::Lun &plain = host->addDisk(rendo_sim::DiskSpec::make("DGC", "RAID 5", "0326", "P3"), {2, 0, 0, 0});
    plain.failIoctl(IOCTL_STORAGE_QUERY_PROPERTY, ERROR_NOT_SUPPORTED, 2);
    EXPECT_EQ(0, ReservationDiskWin(plain.devicePath()).registerDisk(kKey, true));
    // A corrupt alignment mask must not size a 4 GiB allocation.
    host->addAdapter(3, 0xFFFFFFFFu);
    rendo_sim::Lun &odd = host->addDisk(rendo_sim::DiskSpec::make("DGC", "RAID 5", "0326", "P4"), {3, 0, 0, 0});
    ReservationDiskWin oddDisk(odd.devicePath());
    EXPECT_EQ(4, codeOf<CPGRReadRegistrationFail>([&] { oddDisk.readDiskRegistration(); }));
    EXPECT_EQ(0u, odd.disk()->commands().size());
}

TEST_F(DiskCommands, CheckConditionConflictAndTheSenseDumpStaysInItsBuffer) {
    lun->disk()->failCommand(0x5F, 0x05, 0x24, 0x00, 1); // ILLEGAL REQUEST, INVALID FIELD IN CDB
    EXPECT_EQ(3, codeOf<CPGRReserveFail>([&] { disk->reserveDisk(kKey, false, true, false); }));
    SPGRPassThroughRequest failed = disk->lastFailedRequest();
    EXPECT_EQ(0x02, failed.sptd.ScsiStatus);
    clearLines();
    disk->PrintSenseInfo(failed);
    EXPECT_TRUE(traced("Minor (0x24 0x00):\n"));
    // A sense length beyond the 32-byte buffer prints the buffer only.
    const size_t dumped = lines().size() - failed.sptd.SenseInfoLength;
    clearLines();
    failed.sptd.SenseInfoLength = 200;
    disk->PrintSenseInfo(failed);
    EXPECT_EQ(dumped + 32u, lines().size());

    // RESERVATION CONFLICT (an unregistered host preempting) fails alike.
    EXPECT_EQ(3, codeOf<CPGRPreemptFail>([&] { disk->premptDisk(kKey, "0a0b0c0d", true, false, true, false); }));
    EXPECT_EQ(0x18, disk->lastFailedRequest().sptd.ScsiStatus);
}

} // namespace

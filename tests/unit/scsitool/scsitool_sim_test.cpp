// The SCSI tool against simulated disks: what UpdateDevice stores, which
// commands each disk receives, and the failure paths with their trace lines.
#include "scsitool/scsitool_win32.h"
#include "trace_capture.h"

#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace scsitool_test;
using rendo_sim::DiskSpec;
using rendo_sim::Lun;
using Bytes = std::vector<uint8_t>;
using Codes = std::vector<uint32_t>;

const Bytes kStd = {0x12, 0x00, 0x00, 0x00, 0xFF, 0x00};
Bytes vpd(uint8_t page) { return {0x12, 0x01, page, 0x00, 0xFF, 0x00}; }

class ScsiToolSim : public ::testing::Test {
protected:
    void SetUp() override { tool.setTraceLog(trace.log()); }

    // A record as discovery makes it.
    std::unique_ptr<CScsiDeviceData> record(const std::string &path, const std::string &alternate) {
        auto w = [](const std::string &s) { return std::wstring(s.begin(), s.end()); };
        return std::make_unique<CScsiDeviceData>(w(path), w(alternate), w(host->computerName()), 0, 0, 0,
                                                 0xFFFFFFFFu, L"", L"", L"", 0);
    }
    std::unique_ptr<CScsiDeviceData> record(Lun &lun) { return record(lun.devicePath(), lun.devicePath()); }

    static std::vector<Bytes> cdbs(const Lun &lun) {
        std::vector<Bytes> out;
        for (const rendo_sim::CommandRecord &c : lun.disk()->commands()) out.push_back(c.cdb);
        return out;
    }

    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("HOSTA");
    rendo_sim::ScopedHost use{host};
    TraceCapture trace;
    CScsiTool tool;
};

// What UpdateDevice stores and asks for: INQUIRY, page 0x00, then only the
// listed pages in the tool's own order. The text fields, and that each
// stored page is the answer followed by zeros, are checked over tgtd's disks
// in the real-target tests.
TEST_F(ScsiToolSim, UpdateDeviceAsksForTheListedPagesOnlyInItsOwnOrder) {
    Lun &full = host->addDisk(DiskSpec::make("ABC", "X 100", " 1A ", "SER0001")
                                  .page(0x10, {0x01, 0x02})
                                  .page(0xC0, Bytes(60, 0xC0))
                                  .naa("600a0b80001234560000abcd00000001"),
                              rendo_sim::ScsiAddress{1, 2, 3, 4});
    Lun &plain = host->addDisk(DiskSpec::make("ABC", "PLAIN", "0001").naa("6001"));
    Lun &noList = host->addDisk(DiskSpec::make("ABC", "NOLIST", "0001", "S1").naa("6002").withoutPage00());
    Lun &lying = host->addDisk(DiskSpec::make("ABC", "LYING", "0001", "S2").rawPage(0x00, {0, 0, 0, 0xFF, 0x83}));
    std::unique_ptr<CScsiDeviceData> d = record(full), a = record(plain), b = record(noList), c = record(lying);
    for (CScsiDeviceData *r : {d.get(), a.get(), b.get(), c.get()}) ASSERT_EQ(tool.UpdateDevice(r), 0);

    EXPECT_EQ(std::make_tuple(d->m_pathId, d->m_targetId, d->m_lun, d->m_portNumber),
              std::make_tuple(2u, 3u, 4u, 0xFFFFFFFFu));
    EXPECT_EQ(cdbs(full), (std::vector<Bytes>{kStd, vpd(0x00), vpd(0x83), vpd(0x80), vpd(0xC0), vpd(0x10)}));
    EXPECT_EQ(d->storedModePages(), (Codes{0x00, 0x10, 0x80, 0x83, 0xC0}));
    // A stored page's length is the request's byte count: the data offset
    // plus the bytes transferred.
    EXPECT_EQ(d->modePage(0x10).length(), SCSI_PT_DATA_OFFSET + 6u);

    // No serial: page 0x80 is neither listed nor asked for.
    EXPECT_EQ(cdbs(plain), (std::vector<Bytes>{kStd, vpd(0x00), vpd(0x83)}));
    // Page 0x00 refused, or longer than what came back: an empty list.
    EXPECT_TRUE(b->m_supportedModePageList.empty());
    EXPECT_EQ(cdbs(noList), (std::vector<Bytes>{kStd, vpd(0x00)}));
    EXPECT_EQ(b->m_productId, "NOLIST");
    EXPECT_TRUE(c->m_supportedModePageList.empty());
    EXPECT_EQ(cdbs(lying), (std::vector<Bytes>{kStd, vpd(0x00)}));
    EXPECT_EQ(c->storedModePages(), Codes{0x00});

    // A second update of the same record lists each page once.
    ASSERT_EQ(tool.UpdateDevice(a.get()), 0);
    EXPECT_EQ(a->m_supportedModePageList, (Codes{0x00, 0x83}));
}

TEST_F(ScsiToolSim, ADeviceThatIsNotADiskFailsAfterOneInquiry) {
    for (uint8_t peripheral : {0x7F, 0x05}) {
        DiskSpec desc = DiskSpec::make("ABC", "ODD", "0001", "S1");
        desc.peripheral = peripheral;
        Lun &lun = host->addDisk(desc);
        std::unique_ptr<CScsiDeviceData> d = record(lun);
        EXPECT_EQ(tool.UpdateDevice(d.get()), 6);
        EXPECT_EQ(cdbs(lun), std::vector<Bytes>{kStd});
        EXPECT_TRUE(d->m_vendorId.empty());
        EXPECT_EQ(severityOf(trace.take(), "WARNING: UpdateStdInquiryString SCSI check for disk device error, device "
                                           "may have been removed."),
                  kLevel2);
    }
}

TEST_F(ScsiToolSim, CheckConditionEndsTheUpdateAndKeepsWhatWasFilled) {
    Lun &first = host->addDisk(DiskSpec::make("ABC", "FIRST", "0001", "S1").naa("6001"));
    first.disk()->failCommand(0x12, 0x05, 0x24, 0x00, -1, -2);
    std::unique_ptr<CScsiDeviceData> a = record(first);
    EXPECT_EQ(tool.UpdateDevice(a.get()), 6);
    EXPECT_EQ(a->storedModePages(), Codes{});
    EXPECT_EQ(severityOf(trace.take(), "libscsitool: ERROR: sending SCSI CMD - ScsiStatus: 0x2 "), kLevel1);

    // 0x83 is read, 0x80 fails, 0xC0 is never asked for.
    Lun &second = host->addDisk(DiskSpec::make("ABC", "SECOND", "0001", "S2").naa("6002").page(0xC0, Bytes(8, 1)));
    second.disk()->failCommand(0x12, 0x05, 0x24, 0x00, -1, 0x80);
    std::unique_ptr<CScsiDeviceData> b = record(second);
    EXPECT_EQ(tool.UpdateDevice(b.get()), 6);
    EXPECT_EQ(b->m_productId, "SECOND");
    EXPECT_EQ(b->storedModePages(), (Codes{0x00, 0x83}));
    EXPECT_EQ(cdbs(second), (std::vector<Bytes>{kStd, vpd(0x00), vpd(0x83), vpd(0x80)}));
}

TEST_F(ScsiToolSim, AddressFailureEndsTheUpdateButGeometryFailureOnlyZeroesTheCapacity) {
    Lun &noAddress = host->addDisk(DiskSpec::make("ABC", "NOADDR", "0001", "S1"));
    noAddress.failIoctl(IOCTL_SCSI_GET_ADDRESS, 1117);
    std::unique_ptr<CScsiDeviceData> a = record(noAddress);
    EXPECT_EQ(tool.UpdateDevice(a.get()), 6);
    EXPECT_TRUE(a->m_vendorId.empty());  // read after the address

    Lun &noGeometry = host->addDisk(DiskSpec::make("ABC", "NOGEO", "0001", "S2"));
    noGeometry.failIoctl(IOCTL_DISK_GET_DRIVE_GEOMETRY, 1117);
    std::unique_ptr<CScsiDeviceData> b = record(noGeometry);
    b->m_capacity = 12345;
    EXPECT_EQ(tool.UpdateDevice(b.get()), 0);
    EXPECT_EQ(b->m_capacity, 0u);
    EXPECT_TRUE(b->modePage(0x80).present());
}

TEST_F(ScsiToolSim, OpeningTriesTheAlternatePathOnlyWhenItDiffers) {
    Lun &lun = host->addDisk(DiskSpec::make("ABC", "OPEN", "0001", "S1"));
    const std::string missing = "\\\\.\\PHYSICALDRIVE77", path = lun.devicePath();
    const std::string notFound = ScsiSystemErrorText(ERROR_FILE_NOT_FOUND);

    std::unique_ptr<CScsiDeviceData> same = record(missing, missing);
    EXPECT_EQ(tool.UpdateDevice(same.get()), 6);
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(severityOf(lines, "INFO: CreateFile() failed opening device " + missing +
                                    ", retrying with alternate device path"),
              kLevel3);
    EXPECT_EQ(severityOf(lines, "libscsitool: DEBUG: Trying Alternate DevicePath name " + missing + "."), -1);

    std::unique_ptr<CScsiDeviceData> alternate = record(missing, path);
    EXPECT_EQ(tool.UpdateDevice(alternate.get()), 0);
    EXPECT_EQ(alternate->m_productId, "OPEN");

    lun.failOpen(ERROR_ACCESS_DENIED);
    std::unique_ptr<CScsiDeviceData> both = record(missing, path);
    EXPECT_EQ(tool.UpdateDevice(both.get()), 6);
    lines = trace.take();
    const std::string failed = "ERROR: CScsiDeviceHandle::openDevice() CreateFile() failed. Error opening device ";
    EXPECT_EQ(severityOf(lines, failed + missing + ", with error " + notFound), kLevel1);
    EXPECT_EQ(severityOf(lines, failed + path + ", with error " + ScsiSystemErrorText(ERROR_ACCESS_DENIED)), kLevel1);

    CScsiDeviceHandle quiet;
    EXPECT_EQ(quiet.open(both.get(), true), INVALID_HANDLE_VALUE);
    EXPECT_THROW(quiet.open(both.get(), false), int);
    EXPECT_EQ(tool.UpdateDevice(nullptr), 6);
    EXPECT_EQ(severityOf(trace.take(), "WARNING: CScsiToolBase::UpdateDevice() invalid SCSI device handle."), kLevel2);
}

TEST_F(ScsiToolSim, FailedPassThroughFallsBackToTheAdapterInquiryDataForStandardInquiryOnly) {
    Lun &lun = host->addDisk(DiskSpec::make("ABC", "FALLBACK", "0001", "S1").naa("6001"));
    lun.failIoctl(IOCTL_SCSI_PASS_THROUGH, ERROR_NOT_SUPPORTED);
    std::unique_ptr<CScsiDeviceData> d = record(lun);
    EXPECT_EQ(tool.UpdateDevice(d.get()), 0);
    EXPECT_EQ(d->m_productId, "FALLBACK");
    EXPECT_TRUE(d->m_supportedModePageList.empty());  // VPD requests do not fall back
    EXPECT_EQ(d->storedModePages(), Codes{0x00});
    // The returned count stands as the length: the data (36 bytes, as the
    // port driver keeps them), then 24 zeros.
    Bytes expected(36 + SCSI_ADAPTER_INQUIRY_OFFSET, 0);
    std::copy_n(lun.disk()->standardInquiry().begin(), 36, expected.begin());
    CScsiPageView v = d->stdInquiry();
    EXPECT_EQ(Bytes(v.data(), v.data() + v.length()), expected);

    lun.shortInquiryData(7);  // 24 + 7 bytes: too short
    std::unique_ptr<CScsiDeviceData> shortData = record(lun);
    EXPECT_EQ(tool.UpdateDevice(shortData.get()), 6);
    EXPECT_EQ(shortData->stdInquiry().length(), 31u);
    EXPECT_TRUE(shortData->m_vendorId.empty());

    lun.failIoctl(IOCTL_SCSI_GET_INQUIRY_DATA, ERROR_GEN_FAILURE);
    std::unique_ptr<CScsiDeviceData> none = record(lun);
    EXPECT_EQ(tool.UpdateDevice(none.get()), 6);
    EXPECT_TRUE(lun.disk()->commands().empty());
}

TEST_F(ScsiToolSim, SendCdbToDeviceChecksItsArgumentsAndCapsTheLength) {
    Lun &lun = host->addDisk(DiskSpec::make("ABC", "RAW", "0001", "S1"));
    std::unique_ptr<CScsiDeviceData> d = record(lun);
    CScsiDeviceHandle handle(d.get());
    HANDLE h = handle.getHandle();
    uint8_t cdb[17] = {0x12, 0, 0, 0, 0xFF, 0};
    uint8_t data[256], sense[SCSI_SENSE_BUFFER_LENGTH];
    struct Bad { const uint8_t *cdb; uint8_t cdbLength; uint8_t *data; uint32_t length; } bad[] = {
        {nullptr, 6, data, 96}, {cdb, 17, data, 96}, {cdb, 6, nullptr, 96}, {cdb, 6, data, 0}};
    for (const Bad &b : bad) {
        uint32_t length = b.length;
        SetLastError(0);
        EXPECT_THROW(tool.SendCdbToDevice(h, b.cdb, b.cdbLength, b.data, length, SCSI_DATA_IN, sense), int);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(length, 0u);
    }
    uint32_t length = 7;
    std::unique_ptr<uint8_t[]> out;
    EXPECT_THROW(tool.GetModePageInfo(handle, d.get(), 0x180, length, 0, out), int);  // page code past one byte
    EXPECT_TRUE(lun.disk()->commands().empty());

    // Fewer bytes asked than the request's count: the copy stops there.
    Bytes std0 = lun.disk()->standardInquiry();
    length = 40;
    EXPECT_NE(tool.SendCdbToDevice(h, cdb, 6, data, length, SCSI_DATA_IN, sense), 0);
    EXPECT_EQ(Bytes(data, data + length), Bytes(std0.begin(), std0.begin() + 40));

    // CHECK CONDITION: the sense data comes back from offset 60, the length is 0.
    lun.disk()->failCommand(0x12, 0x05, 0x24, 0x00);
    length = sizeof data;
    std::memset(sense, 0, sizeof sense);
    EXPECT_THROW(tool.SendCdbToDevice(h, cdb, 6, data, length, SCSI_DATA_IN, sense), int);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(sense[2] & 0x0F, 0x05);
    EXPECT_EQ(sense[12], 0x24);

    // A failed data-out request leaves the caller's parameters alone.
    lun.failIoctl(IOCTL_SCSI_PASS_THROUGH, ERROR_GEN_FAILURE);
    const uint8_t proutCdb[10] = {0x5F, 0x00, 0x00, 0, 0, 0, 0, 0, 24, 0};
    Bytes params(24, 0xAB);
    length = 24;
    EXPECT_THROW(tool.SendCdbToDevice(h, proutCdb, 10, params.data(), length, SCSI_DATA_OUT, sense), int);
    EXPECT_EQ(params, Bytes(24, 0xAB));
    lun.clearFaults();

    // A closed handle, and a disk pulled out while open.
    lun.disk()->clearFaults();
    length = sizeof data;
    EXPECT_THROW(tool.SendCdbToDevice(INVALID_HANDLE_VALUE, cdb, 6, data, length, SCSI_DATA_IN, sense), int);
    host->unplug(lun);
    length = sizeof data;
    EXPECT_THROW(tool.SendCdbToDevice(h, cdb, 6, data, length, SCSI_DATA_IN, sense), int);
    EXPECT_EQ(length, 0u);
}

} // namespace

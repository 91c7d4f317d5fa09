// What a disk handle answers: pass-through in both layouts, inquiry and VPD
// pages (the address, geometry and adapter descriptor are read back by the
// SCSI tool's and the reservation commands' tests over the same host; the
// latter rely on the misaligned buffer being refused, checked here).
#include "sim_test_util.h"

#include <gtest/gtest.h>

using namespace rendo_sim;
using namespace simtest;

namespace {

class Ioctl : public ::testing::Test {
protected:
    void SetUp() override {
        host = Host::create("H");
        host->addAdapter(1, 0x3);
        lun = &host->addDisk(DiskSpec::make("HP", "HSV210", "6220", "P5B2C3D4")
                                 .inquiryAt(130, {1, 2, 3, 4, 5, 6, 7, 8})
                                 .naa("600508b4001019a20000900001230000")
                                 .pageAt(0xC0, 49, {0x0E}),
                             ScsiAddress{1, 0, 3, 2});
        use.reset(new ScopedHost(host));
        h = open(lun->devicePath());
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
    }
    void TearDown() override { CloseHandle(h); }
    std::shared_ptr<Host> host;
    Lun *lun = nullptr;
    std::unique_ptr<ScopedHost> use;
    HANDLE h = INVALID_HANDLE_VALUE;
};

TEST_F(Ioctl, InquiryVpdPagesAndTheGeneratedSupportedList) {
    Answer standard = inquiry(h);
    ASSERT_EQ(standard.data.size(), 138u);
    EXPECT_EQ(standard.returned, 124u + 138u);
    EXPECT_EQ(standard.data[4], 138 - 5);
    EXPECT_EQ(inquiry(h, -1, 36).data.size(), 36u);  // the allocation length caps it
    Answer p0 = inquiry(h, 0x00);
    ASSERT_TRUE(p0.ok);
    EXPECT_EQ(p0.data, (std::vector<uint8_t>{0, 0, 0, 4, 0x00, 0x80, 0x83, 0xC0}));
    // Page contents: the UDID tests, which name disks from their bytes.
    EXPECT_EQ(inquiry(h, 0xC0).data.size(), 50u);
    // An unknown page, and a page code without EVPD, are refused with ILLEGAL REQUEST.
    for (Answer bad : {inquiry(h, 0xD0), passThrough(h, {0x12, 0, 0x83, 0, 255, 0}, 255, true)}) {
        ASSERT_TRUE(bad.ok);
        EXPECT_EQ(statusAndSense(bad), (std::vector<uint8_t>{0x02, 0x05, 0x24, 0x00}));
        EXPECT_EQ((std::vector<uint8_t>{bad.sense.at(0), bad.sense.at(2)}), (std::vector<uint8_t>{0x70, 0x05}));
    }
}

TEST_F(Ioctl, MalformedPassThroughRequestsAreRefused) {
    std::vector<uint8_t> buf(200, 0);
    SCSI_PASS_THROUGH spt{};
    spt.Length = sizeof spt;
    spt.CdbLength = 6;
    spt.DataIn = SCSI_IOCTL_DATA_IN;
    spt.DataTransferLength = 255;
    spt.DataBufferOffset = 124;  // 124 + 255 runs past the 200-byte buffer
    std::memcpy(buf.data(), &spt, sizeof spt);
    DWORD n = 0;
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH, buf.data(), 200, buf.data(), 200, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    spt.CdbLength = 17;
    spt.DataTransferLength = 0;
    std::memcpy(buf.data(), &spt, sizeof spt);
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH, buf.data(), 200, buf.data(), 200, &n, nullptr));
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH, buf.data(), 20, buf.data(), 200, &n, nullptr));
    EXPECT_FALSE(DeviceIoControl(h, 0x12345678, nullptr, 0, nullptr, 0, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_TRUE(lun->disk()->commands().empty());
}

TEST_F(Ioctl, DirectPassThroughChecksTheAdapterAlignment) {
    // The reservation commands' request: SPTD, a filler, 32 sense bytes at 60.
    struct {
        SCSI_PASS_THROUGH_DIRECT sptd;
        ULONG filler;
        UCHAR sense[32];
    } req{};
    static_assert(sizeof(req) == 96, "the 96-byte request");
    alignas(16) uint8_t data[512 + 16] = {};
    req.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    req.sptd.CdbLength = 10;
    req.sptd.SenseInfoLength = 32;
    req.sptd.DataIn = SCSI_IOCTL_DATA_IN;
    req.sptd.DataTransferLength = 255;
    req.sptd.TimeOutValue = 10;
    req.sptd.DataBuffer = data + 1;  // misaligned for mask 3
    req.sptd.SenseInfoOffset = 60;
    uint8_t cdb[10] = {0x5E, 0, 0, 0, 0, 0, 0, 0, 255, 0};
    std::memcpy(req.sptd.Cdb, cdb, 10);
    DWORD n = 0;
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof req, &req, sizeof req, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    req.sptd.DataBuffer = data;
    ASSERT_TRUE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof req, &req, sizeof req, &n, nullptr));
    EXPECT_EQ(req.sptd.ScsiStatus, 0);
    EXPECT_EQ(req.sptd.DataTransferLength, 8u);  // READ KEYS header only
    EXPECT_EQ(req.sptd.DataBuffer, data);
}

} // namespace

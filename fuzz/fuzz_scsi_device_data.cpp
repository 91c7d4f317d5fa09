// Fuzzes what the SCSI tool makes of returned INQUIRY data: the standard
// inquiry checks, the vendor, product and firmware fields, the supported-page
// list and the stored VPD pages, and the bounded page views over them.
//
// Input: a sequence of answers, each a length byte followed by that many
// bytes (cut short at the end of the input): the standard inquiry data, VPD
// page 0x00, then one answer per page UpdateDevice reads, in its order. The
// last input byte picks the offsets the views are read at.
//
// The answers are used twice: handed straight to the tool's parsing (any
// length, as a replaced GetModePageInfo could return them), and served by a
// simulated disk, so that the whole pass-through path of UpdateDevice runs.
#include "fuzz_target.h"
#include "scsitool/device_scsi_data.h"
#include "scsitool/scsitool_win32.h"

#include "platform/simhost.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class ReplayTool : public CScsiToolBase {
public:
    std::vector<Bytes> answers;
    size_t next = 0;

    int GetTargetLunPortInfo(CScsiDeviceHandle &, CScsiDeviceData *) override { return 1; }
    int GetModePageInfo(CScsiDeviceHandle &, CScsiDeviceData *, const uint32_t &, uint32_t &length, uint32_t,
                        std::unique_ptr<uint8_t[]> &out) override {
        length = 0;
        out.reset();
        if (next >= answers.size()) throw SCSI_TOOL_FAILURE;
        const Bytes &a = answers[next++];
        length = static_cast<uint32_t>(a.size());
        if (length > 0) {
            out.reset(new uint8_t[length]);
            std::memcpy(out.get(), a.data(), length);
        }
        return SCSI_TOOL_SUCCESS;
    }
    int SendCdbToDevice(HANDLE, const uint8_t *, uint8_t, uint8_t *, uint32_t &, uint8_t, uint8_t *) override {
        throw SCSI_TOOL_FAILURE;
    }
};

void readViews(const CScsiPageView &v, uint8_t seed) {
    const uint64_t offsets[] = {0, 1, 3, 4, seed, v.length(), v.length() + 1u, UINT64_MAX};
    for (uint64_t off : offsets) {
        volatile uint32_t sink = v.byte(off) + v.be16(off) + v.be32(off);
        (void)sink;
        std::string h = v.hex(off, 16);
        require(v.text(off, seed).size() <= seed && h.size() <= 32 && h.size() % 2 == 0);
        require(v.has(off, 1) == (off < v.length()));
    }
}

void checkRecord(const CScsiDeviceData &device, uint8_t seed) {
    require(device.m_vendorId.size() <= 8 && device.m_productId.size() <= 16 && device.m_firmwareLevel.size() <= 4);
    require(device.m_supportedModePageList.size() <= 255);
    for (uint32_t code : device.storedModePages()) {
        // Every stored page holds at least the data offset and never more than was asked for.
        require(device.modePage(code).present() && device.modePage(code).length() <= SCSI_INQUIRY_TRANSFER_LENGTH);
        readViews(device.modePage(code), seed);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ReplayTool tool;
    for (size_t i = 0; i < size;) {
        size_t n = std::min<size_t>(data[i], size - i - 1);
        tool.answers.emplace_back(data + i + 1, data + i + 1 + n);
        i += 1 + n;
    }
    const uint8_t seed = size > 0 ? data[size - 1] : 0;

    CScsiDeviceData device(L"\\\\.\\PHYSICALDRIVE0", L"\\\\.\\PHYSICALDRIVE0", L"FUZZ", 0, 0, 0, 0xFFFFFFFFu, L"", L"",
                           L"", 0);
    CScsiDeviceHandle handle;
    try {
        if (tool.UpdateStdInquiryString(handle, &device) == 0) {
            tool.UpdateSupportedModePageList(handle, &device);
            tool.UpdateVendorId(&device);
            tool.UpdateProductId(&device);
            tool.UpdateFirmwareLevel(&device);
            for (uint32_t page : CScsiToolBase::kUpdatedPages)
                if (device.isModePageSupported(page)) tool.UpdateModePageString(handle, page, &device);
        }
    } catch (int status) {
        require(status == SCSI_TOOL_FAILURE);
    }
    readViews(device.modePage(0x42), seed);
    checkRecord(device, seed);

    // The same answers from a simulated disk, through the real tool.
    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("FUZZ");
    rendo_sim::ScopedHost use(host);
    rendo_sim::DiskSpec desc = rendo_sim::DiskSpec::make("FUZZ", "DISK", "0001");
    desc.listPage00 = false;
    if (!tool.answers.empty()) desc.rawInquiry = tool.answers[0];
    if (tool.answers.size() > 1) desc.rawPage(0x00, tool.answers[1]);
    for (size_t i = 0; i < 7 && i + 2 < tool.answers.size(); ++i)
        desc.rawPage(static_cast<uint8_t>(CScsiToolBase::kUpdatedPages[i]), tool.answers[i + 2]);
    rendo_sim::Lun &lun = host->addDisk(desc);
    std::wstring path;
    for (char c : lun.devicePath()) path.push_back(static_cast<wchar_t>(c));
    CScsiDeviceData simulated(path, path, L"FUZZ", 0, 0, 0, 0xFFFFFFFFu, L"", L"", L"", 0);
    CScsiTool real;
    int status = real.UpdateDevice(&simulated);
    require(status == 0 || status == SCSI_TOOL_FAILURE);
    checkRecord(simulated, seed);
    return 0;
}

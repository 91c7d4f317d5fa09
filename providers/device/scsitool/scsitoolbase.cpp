#include "scsitool/scsitoolbase.h"

#include "pdk/cfitracelog.h"

using namespace kelm_pdk_4_4;

namespace {

// Standard inquiry fields (SPC-3 6.4.2).
constexpr uint32_t kPeripheralOffset = 0;
constexpr uint32_t kVendorOffset = 8;
constexpr uint32_t kVendorWidth = 8;
constexpr uint32_t kProductOffset = 16;
constexpr uint32_t kProductWidth = 16;
constexpr uint32_t kRevisionOffset = 32;
constexpr uint32_t kRevisionWidth = 4;

// VPD page 0x00: the list length in byte 3, the codes from byte 4.
constexpr uint32_t kVpdHeaderLength = 4;
constexpr uint32_t kVpdPageLengthOffset = 3;

// Peripheral qualifier 0 with device type 0x00 (direct-access block device).
constexpr uint8_t kDiskPeripheral = 0x00;

std::string withoutTrailingBlanks(std::string s) {
    size_t end = s.find_last_not_of(' ');
    s.resize(end == std::string::npos ? 0 : end + 1);
    return s;
}

} // namespace

const uint32_t CScsiToolBase::kUpdatedPages[7] = {0x83, 0x80, 0xC0, 0xC8, 0x10, 0x11, 0xD0};

CScsiToolBase::CScsiToolBase() = default;
CScsiToolBase::~CScsiToolBase() = default;

std::string CScsiToolBase::inquiryField(const CScsiDeviceData *device, uint32_t offset, uint32_t width) {
    if (device == nullptr) throw SCSI_TOOL_FAILURE;
    CScsiPageView inquiry = device->stdInquiry();
    if (!inquiry.present()) throw SCSI_TOOL_FAILURE;
    return inquiry.text(offset, width);
}

int CScsiToolBase::UpdateSupportedModePageList(CScsiDeviceHandle &handle, CScsiDeviceData *device) {
    CFiTraceLogFunction traceScope(m_traceLog, "CScsiToolBase::UpdateSupportedModePageList");
    try {
        if (device == nullptr) throw SCSI_TOOL_FAILURE;
        uint32_t length = 0;
        std::unique_ptr<uint8_t[]> page;
        GetModePageInfo(handle, device, SCSI_VPD_SUPPORTED_PAGES, length, 1, page);
        CScsiPageView view(page.get(), length);
        if (view.has(0, kVpdHeaderLength)) {
            uint32_t count = view.byte(kVpdPageLengthOffset);
            if (view.has(kVpdHeaderLength, count)) {
                // A fresh answer replaces the list, so updating a record twice
                // does not list every page twice.
                device->m_supportedModePageList.clear();
                for (uint32_t i = 0; i < count; ++i)
                    device->m_supportedModePageList.push_back(view.byte(kVpdHeaderLength + i));
            }
        }
        return SCSI_TOOL_SUCCESS;
    } catch (int status) {
        return status;
    } catch (...) {
        return SCSI_TOOL_FAILURE;
    }
}

int CScsiToolBase::CheckForDiskDevice(uint8_t peripheral) { return peripheral == kDiskPeripheral ? 1 : 0; }

int CScsiToolBase::RemoveDevice(CScsiDeviceData *) { return SCSI_TOOL_NOT_SUPPORTED; }

int CScsiToolBase::UpdateStdInquiryString(CScsiDeviceHandle &handle, CScsiDeviceData *device) {
    CFiTraceLogFunction traceScope(m_traceLog, "CScsiToolBase::UpdateStdInquiryString");
    uint32_t length = 0;
    std::unique_ptr<uint8_t[]> data;
    try {
        if (device == nullptr) throw SCSI_TOOL_FAILURE;
        GetModePageInfo(handle, device, SCSI_STD_INQUIRY_KEY, length, 0, data);
    } catch (...) {
        throw SCSI_TOOL_FAILURE;
    }
    if (data == nullptr) length = 0;
    if (length > 0) device->setModePage(SCSI_STD_INQUIRY_KEY, data.get(), length);
    if (length >= SCSI_STD_INQUIRY_MIN_LENGTH) {
        if (CheckForDiskDevice(data[kPeripheralOffset]) != 0) return SCSI_TOOL_SUCCESS;
        trace(2, "WARNING: UpdateStdInquiryString SCSI check for disk device error, device may have been removed.");
        return SCSI_TOOL_FAILURE;
    }
    trace(2, "WARNING: UpdateStdInquiryString invalid SCSI inq page size, device may have been removed.");
    return SCSI_TOOL_FAILURE;
}

int CScsiToolBase::UpdateVendorId(CScsiDeviceData *device) {
    CFiTraceLogFunction traceScope(m_traceLog, "CScsiToolBase::UpdateVendorId");
    device->m_vendorId = withoutTrailingBlanks(inquiryField(device, kVendorOffset, kVendorWidth));
    return SCSI_TOOL_SUCCESS;
}

int CScsiToolBase::UpdateProductId(CScsiDeviceData *device) {
    CFiTraceLogFunction traceScope(m_traceLog, "CScsiToolBase::UpdateProductId");
    device->m_productId = withoutTrailingBlanks(inquiryField(device, kProductOffset, kProductWidth));
    return SCSI_TOOL_SUCCESS;
}

int CScsiToolBase::UpdateFirmwareLevel(CScsiDeviceData *device) {
    CFiTraceLogFunction traceScope(m_traceLog, "CScsiToolBase::UpdateFirmwareLevel");
    device->m_firmwareLevel = inquiryField(device, kRevisionOffset, kRevisionWidth);
    return SCSI_TOOL_SUCCESS;
}

int CScsiToolBase::UpdateModePageString(CScsiDeviceHandle &handle, uint32_t pageCode, CScsiDeviceData *device) {
    CFiTraceLogFunction traceScope(m_traceLog, "CScsiToolBase::UpdateModePageString");
    uint32_t length = 0;
    std::unique_ptr<uint8_t[]> page;
    try {
        if (device == nullptr) throw SCSI_TOOL_FAILURE;
        GetModePageInfo(handle, device, pageCode, length, 0, page);
    } catch (int status) {
        throw status;
    } catch (...) {
        throw SCSI_TOOL_FAILURE;
    }
    if (page != nullptr && length > 0) device->setModePage(pageCode, page.get(), length);
    return SCSI_TOOL_SUCCESS;
}

int CScsiToolBase::GetScsiDeviceCapacity(CScsiDeviceHandle &, CScsiDeviceData *) { return SCSI_TOOL_SUCCESS; }

int CScsiToolBase::UpdateDevice(CScsiDeviceData *device) {
    CFiTraceLogFunction traceScope(m_traceLog, "CScsiToolBase::UpdateDevice");
    if (device == nullptr) {
        trace(2, "WARNING: CScsiToolBase::UpdateDevice() invalid SCSI device handle.");
        return SCSI_TOOL_FAILURE;
    }
    try {
        CScsiDeviceHandle handle(device, m_traceLog);
        if (!handle.isValid()) {
            trace(2, "WARNING: CScsiToolBase::UpdateDevice() invalid SCSI device handle.");
            return SCSI_TOOL_FAILURE;
        }
        device->m_osName = "Windows";
        if (UpdateStdInquiryString(handle, device) != SCSI_TOOL_SUCCESS) {
            trace(2, "WARNING: CScsiToolBase::UpdateDevice() call to UpdateStdInquiryString for device %s",
                  device->m_deviceName.c_str());
            return SCSI_TOOL_FAILURE;
        }
        // Results not examined: only a throw ends the update here.
        GetTargetLunPortInfo(handle, device);
        UpdateSupportedModePageList(handle, device);
        UpdateVendorId(device);
        UpdateProductId(device);
        UpdateFirmwareLevel(device);
        if (GetScsiDeviceCapacity(handle, device) != SCSI_TOOL_SUCCESS) device->m_capacity = 0;
        for (uint32_t page : kUpdatedPages) {
            if (!device->isModePageSupported(page)) continue;
            trace(6, "CSciToolBase:UpdateModePageString for page[%d]...", static_cast<int>(page));
            UpdateModePageString(handle, page, device);
            trace(6, "CSciToolBase:UpdateModePageString for page[%d] done", static_cast<int>(page));
        }
        return SCSI_TOOL_SUCCESS;
    } catch (int status) {
        // A thrown 0 would read as success; it can only be a fault.
        return status != SCSI_TOOL_SUCCESS ? status : SCSI_TOOL_FAILURE;
    } catch (...) {
        return SCSI_TOOL_FAILURE;
    }
}

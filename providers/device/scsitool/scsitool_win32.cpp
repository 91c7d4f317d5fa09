#include "scsitool/scsitool_win32.h"

#include "pdk/cfitracelog.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

using namespace kelm_pdk_4_4;

static_assert(sizeof(SCSI_PASS_THROUGH) == 56, "SCSI_PASS_THROUGH header");
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == 36, "CDB at offset 36");
static_assert(SCSI_PT_SENSE_OFFSET + SCSI_SENSE_BUFFER_LENGTH == SCSI_PT_DATA_OFFSET, "sense just before data");
static_assert(SCSI_PT_DATA_OFFSET < SCSI_PT_REQUEST_SLACK, "data fits the request");

namespace {

constexpr uint32_t kMaxCdbLength = sizeof(SCSI_PASS_THROUGH::Cdb);

// Only a standard INQUIRY may be answered from the adapter's inquiry data.
bool isStandardInquiry(const uint8_t *cdb, uint8_t cdbLength) {
    return cdbLength >= 2 && cdb[0] == SCSI_OP_INQUIRY && (cdb[1] & 0x01) == 0;
}

} // namespace

CScsiTool::CScsiTool() = default;
CScsiTool::~CScsiTool() = default;

int CScsiTool::SendCdbToDevice(HANDLE device, const uint8_t *cdb, uint8_t cdbLength, uint8_t *data,
                               uint32_t &dataLength, uint8_t direction, uint8_t *sense) {
    CFiTraceLogFunction traceScope(m_traceLog, "CScsiTool::SendCdbToDevice");
    const bool dataIn = direction == SCSI_DATA_IN;
    std::unique_ptr<uint8_t[]> request;
    try {
        if (cdb == nullptr || cdbLength == 0 || cdbLength > kMaxCdbLength || (dataLength != 0 && data == nullptr) ||
            (dataLength == 0 && dataIn) || dataLength > UINT32_MAX - SCSI_PT_REQUEST_SLACK) {
            SetLastError(ERROR_INVALID_PARAMETER);
            throw SCSI_TOOL_FAILURE;
        }
        const DWORD requestSize = dataLength + SCSI_PT_REQUEST_SLACK;
        request.reset(new (std::nothrow) uint8_t[requestSize]());
        if (request == nullptr) {
            if (dataIn && dataLength != 0) std::memset(data, 0, dataLength);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            throw SCSI_TOOL_FAILURE;
        }

        SCSI_PASS_THROUGH header;
        std::memset(&header, 0, sizeof header);
        header.Length = sizeof(SCSI_PASS_THROUGH);
        header.CdbLength = cdbLength;
        header.SenseInfoLength = SCSI_SENSE_BUFFER_LENGTH;
        header.DataIn = dataIn ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
        header.DataTransferLength = dataLength;
        header.TimeOutValue = SCSI_PT_TIMEOUT_SECONDS;
        header.DataBufferOffset = SCSI_PT_DATA_OFFSET;
        header.SenseInfoOffset = SCSI_PT_SENSE_OFFSET;
        std::memcpy(header.Cdb, cdb, cdbLength);
        std::memcpy(request.get(), &header, sizeof header);
        if (!dataIn && dataLength != 0) std::memcpy(request.get() + SCSI_PT_DATA_OFFSET, data, dataLength);

        DWORD returned = 0;
        BOOL ok = DeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH, request.get(), requestSize, request.get(),
                                  requestSize, &returned, nullptr);
        if (!ok) {
            std::string passThroughError = ScsiSystemErrorText(GetLastError());
            if (dataLength != 0) std::memset(data, 0, dataLength);
            if (!dataIn || !isStandardInquiry(cdb, cdbLength)) {
                trace(1, "ERROR: DeviceIoControl(IOCTL_SCSI_PASS_THROUGH) call failed with error %s.",
                      passThroughError.c_str());
                throw SCSI_TOOL_FAILURE;
            }
            DWORD adapterBytes = 0;
            ok = DeviceIoControl(device, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, data, dataLength, &adapterBytes,
                                 nullptr);
            if (!ok) {
                std::string inquiryError = ScsiSystemErrorText(GetLastError());
                trace(1, "ERROR: DeviceIoControl(IOCTL_SCSI_PASS_THROUGH) call failed with error %s.",
                      passThroughError.c_str());
                trace(1, "ERROR: DeviceIoControl(IOCTL_SCSI_GET_INQUIRY_DATA) call failed with error %s.",
                      inquiryError.c_str());
                throw SCSI_TOOL_FAILURE;
            }
            // The inquiry data starts 24 bytes into the adapter's answer; the
            // bytes it leaves behind at the end are cleared, so the stored
            // length (the returned count) ends in zeros as after a
            // pass-through.
            uint32_t count = std::min<uint32_t>(adapterBytes, dataLength);
            dataLength = count;
            if (count > SCSI_ADAPTER_INQUIRY_OFFSET) {
                uint32_t moved = count - SCSI_ADAPTER_INQUIRY_OFFSET;
                std::memmove(data, data + SCSI_ADAPTER_INQUIRY_OFFSET, moved);
                std::memset(data + moved, 0, SCSI_ADAPTER_INQUIRY_OFFSET);
            } else {
                std::memset(data, 0, count);
            }
            return ok;
        }

        // The count covers the whole request up to the end of the data
        // transferred; never more than the caller asked for is copied.
        uint32_t count = std::min<uint32_t>(returned, dataLength);
        if (dataIn) {
            dataLength = count;
            std::memcpy(data, request.get() + SCSI_PT_DATA_OFFSET, count);
        }
        if (sense != nullptr) std::memcpy(sense, request.get() + SCSI_PT_SENSE_OFFSET, SCSI_SENSE_BUFFER_LENGTH);
        uint8_t status = reinterpret_cast<const SCSI_PASS_THROUGH *>(request.get())->ScsiStatus;
        if (status != 0) {
            trace(1, "libscsitool: ERROR: sending SCSI CMD - ScsiStatus: 0x%x ", static_cast<unsigned>(status));
            throw SCSI_TOOL_FAILURE;
        }
        return ok;
    } catch (...) {
        request.reset();
        dataLength = 0;
        trace(1, "libscsitool: ERROR: CScsiTool::SendCdbToDevice() failed.");
        throw SCSI_TOOL_FAILURE;
    }
}

int CScsiTool::GetModePageInfo(CScsiDeviceHandle &handle, CScsiDeviceData *device, const uint32_t &pageCode,
                               uint32_t &length, uint32_t evpd, std::unique_ptr<uint8_t[]> &out) {
    CFiTraceLogFunction traceScope(m_traceLog, "CScsiTool::GetModePageInfo");
    length = 0;
    out.reset();
    // A code that does not fit the CDB's byte would ask for another page.
    if (pageCode > 0xFF) throw SCSI_TOOL_FAILURE;
    const bool vpd = !(pageCode == 0 && evpd != 1);
    uint8_t cdb[SCSI_INQUIRY_CDB_LENGTH];
    BuildInquiryCdb(cdb, vpd, static_cast<uint8_t>(pageCode), 0xFF);

    HANDLE raw = handle.open(device, false);
    uint8_t buffer[SCSI_INQUIRY_BUFFER_SIZE] = {};
    uint8_t sense[SCSI_SENSE_BUFFER_LENGTH] = {};
    uint32_t transfer = SCSI_INQUIRY_TRANSFER_LENGTH;
    SendCdbToDevice(raw, cdb, sizeof cdb, buffer, transfer, SCSI_DATA_IN, sense);
    length = std::min<uint32_t>(transfer, SCSI_INQUIRY_TRANSFER_LENGTH);
    if (length == 0) return SCSI_TOOL_SUCCESS;
    out.reset(new uint8_t[length]);
    std::memcpy(out.get(), buffer, length);
    return SCSI_TOOL_SUCCESS;
}

int CScsiTool::GetTargetLunPortInfo(CScsiDeviceHandle &handle, CScsiDeviceData *device) {
    CFiTraceLogFunction traceScope(m_traceLog, "CScsiTool::GetTargetLunPortInfo");
    const char *name = device != nullptr ? device->m_deviceName.c_str() : "";
    try {
        if (device == nullptr) throw SCSI_TOOL_FAILURE;
        HANDLE raw = handle.open(device, false);
        SCSI_ADDRESS address;
        std::memset(&address, 0, sizeof address);
        DWORD returned = 0;
        BOOL ok = DeviceIoControl(raw, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address, &returned,
                                  nullptr);
        if (!ok) {
            std::string error = ScsiSystemErrorText(GetLastError());
            trace(1, "libscsitool: ERROR: CScsiTool::UpdateScsiAddressInfo() DeviceIoControl failed for device %s with "
                     "error %s.",
                  name, error.c_str());
            throw SCSI_TOOL_FAILURE;
        }
        device->m_pathId = address.PathId;
        device->m_targetId = address.TargetId;
        device->m_lun = address.Lun;
        return ok;
    } catch (...) {
        trace(1, "libscsitool: ERROR: CScsiTool::UpdateScsiAddressInfo() failed for device %s.", name);
        throw SCSI_TOOL_FAILURE;
    }
}

int CScsiTool::GetScsiDeviceCapacity(CScsiDeviceHandle &handle, CScsiDeviceData *device) {
    CFiTraceLogFunction traceScope(m_traceLog, "CScsiTool::GetScsiDeviceCapacity");
    const char *name = device != nullptr ? device->m_deviceName.c_str() : "";
    try {
        if (device == nullptr) throw SCSI_TOOL_FAILURE;
        HANDLE raw = handle.open(device, false);
        DISK_GEOMETRY geometry;
        std::memset(&geometry, 0, sizeof geometry);
        DWORD returned = 0;
        BOOL ok = DeviceIoControl(raw, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry,
                                  &returned, nullptr);
        if (!ok) {
            trace(1, "ERROR: DeviceIoControl(IOCTL_DISK_GET_DRIVE_GEOMETRY) call failed.");
            throw SCSI_TOOL_FAILURE;
        }
        device->m_capacity = static_cast<uint64_t>(geometry.BytesPerSector) * geometry.SectorsPerTrack *
                             geometry.TracksPerCylinder * static_cast<uint64_t>(geometry.Cylinders.QuadPart);
        return SCSI_TOOL_SUCCESS;
    } catch (...) {
        trace(1, "libscsitool: ERROR: CScsiTool::GetScsiDeviceCapacity() failed for device %s.", name);
        return SCSI_TOOL_FAILURE;
    }
}

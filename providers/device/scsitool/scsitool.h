// The SCSI tool's shared pieces: its status values, the INQUIRY command
// builder, the system error text, and CScsiDeviceHandle, the owner of one
// open handle to a disk.
#ifndef PROVIDERS_DEVICE_SCSITOOL_SCSITOOL_H
#define PROVIDERS_DEVICE_SCSITOOL_SCSITOOL_H

#include "pdk/cfibase.h"
#include "pdk/cfitracelog.h"
#include "platform/windows.h"
#include "scsitool/device_scsi_data.h"

#include <cstdint>
#include <string>

// Status values of the tool's operations. Low-level steps throw the failure
// value as a plain int; the update operations catch it and return it.
constexpr int SCSI_TOOL_SUCCESS = 0;
constexpr int SCSI_TOOL_NOT_SUPPORTED = 4;
constexpr int SCSI_TOOL_FAILURE = 6;

// Directions of SendCdbToDevice.
constexpr uint8_t SCSI_DATA_OUT = 0;
constexpr uint8_t SCSI_DATA_IN = 1;

constexpr uint32_t SCSI_SENSE_BUFFER_LENGTH = 64;
constexpr uint8_t SCSI_OP_INQUIRY = 0x12;
constexpr uint8_t SCSI_INQUIRY_CDB_LENGTH = 6;
// Standard inquiry data shorter than this cannot hold vendor and product.
constexpr uint32_t SCSI_STD_INQUIRY_MIN_LENGTH = 32;

// INQUIRY: byte 1 bit 0 is EVPD; the page code is sent only with EVPD.
void BuildInquiryCdb(uint8_t (&cdb)[SCSI_INQUIRY_CDB_LENGTH], bool vpd, uint8_t pageCode, uint8_t allocationLength);

// "%ld (0x%x): <system text>" for a Windows error number, at most 511
// characters, without the text's trailing line break; when the system has
// no text, "Format message for %ld failed.  Error: %ld".
std::string ScsiSystemErrorText(DWORD error);

// One open handle to a disk; closed by the destructor. Not copyable.
class CScsiDeviceHandle : public virtual kelm_pdk_4_4::CFiTraceable {
public:
    CScsiDeviceHandle();
    // Opens the device at once and throws SCSI_TOOL_FAILURE (an int) when
    // neither its name nor its alternate path opens. The log, when given, is
    // set before the open, so the open's own trace lines are not lost.
    explicit CScsiDeviceHandle(CScsiDeviceData *device,
                               const kelm_pdk_4_4::CFiTraceLogPtr &log = kelm_pdk_4_4::CFiTraceLogPtr());
    ~CScsiDeviceHandle() override;
    CScsiDeviceHandle(const CScsiDeviceHandle &) = delete;
    CScsiDeviceHandle &operator=(const CScsiDeviceHandle &) = delete;

    // The open handle; otherwise opens the record's device afresh. In quiet
    // mode a failed open returns INVALID_HANDLE_VALUE; otherwise it throws.
    HANDLE open(CScsiDeviceData *device, bool quiet);
    HANDLE getHandle() const { return m_handle; }
    bool isValid() const { return isValidHandle(m_handle); }
    const std::string &getDeviceName() const { return m_deviceName; }

    // Neither 0 nor INVALID_HANDLE_VALUE.
    static bool isValidHandle(HANDLE handle);

protected:
    // Opens m_deviceName, then m_alternateDevicePath when that differs and is
    // not empty. Returns the handle, INVALID_HANDLE_VALUE (quiet) or throws.
    HANDLE openDevice(CScsiDeviceData *device, bool quiet);
    void closeDevice(HANDLE handle);

private:
    std::string m_deviceName;
    HANDLE m_handle;
};

#endif // PROVIDERS_DEVICE_SCSITOOL_SCSITOOL_H

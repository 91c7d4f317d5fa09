// The Windows half of the SCSI tool: INQUIRY through IOCTL_SCSI_PASS_THROUGH,
// the SCSI address and the drive geometry.
#ifndef PROVIDERS_DEVICE_SCSITOOL_SCSITOOL_WIN32_H
#define PROVIDERS_DEVICE_SCSITOOL_SCSITOOL_WIN32_H

#include "scsitool/scsitoolbase.h"

// Layout of the pass-through request: the SCSI_PASS_THROUGH header, the
// sense bytes, then the data.
constexpr uint32_t SCSI_PT_SENSE_OFFSET = 60;
constexpr uint32_t SCSI_PT_DATA_OFFSET = 124;
constexpr uint32_t SCSI_PT_REQUEST_SLACK = 128;  // request size = data length + this
constexpr uint32_t SCSI_PT_TIMEOUT_SECONDS = 20;
// INQUIRY requests read into a buffer of 4096 bytes, asking for 4094.
constexpr uint32_t SCSI_INQUIRY_BUFFER_SIZE = 4096;
constexpr uint32_t SCSI_INQUIRY_TRANSFER_LENGTH = 4094;
// Where IOCTL_SCSI_GET_INQUIRY_DATA's answer holds the first logical unit's
// inquiry data.
constexpr uint32_t SCSI_ADAPTER_INQUIRY_OFFSET = 24;

class CScsiTool : public CScsiToolBase {
public:
    CScsiTool();
    ~CScsiTool() override;

    int GetScsiDeviceCapacity(CScsiDeviceHandle &handle, CScsiDeviceData *device) override;
    int GetTargetLunPortInfo(CScsiDeviceHandle &handle, CScsiDeviceData *device) override;
    int GetModePageInfo(CScsiDeviceHandle &handle, CScsiDeviceData *device, const uint32_t &pageCode,
                        uint32_t &length, uint32_t evpd, std::unique_ptr<uint8_t[]> &out) override;
    // For data in, the stored length is the request's returned byte count
    // (data offset 124 plus the bytes transferred) capped at the requested
    // length; the bytes past the transferred data are zeros. When the
    // pass-through IOCTL itself fails, a standard INQUIRY falls back to
    // IOCTL_SCSI_GET_INQUIRY_DATA; other commands fail.
    int SendCdbToDevice(HANDLE device, const uint8_t *cdb, uint8_t cdbLength, uint8_t *data, uint32_t &dataLength,
                        uint8_t direction, uint8_t *sense) override;
};

#endif // PROVIDERS_DEVICE_SCSITOOL_SCSITOOL_WIN32_H

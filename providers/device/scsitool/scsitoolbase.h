// The platform-independent half of the SCSI tool: reads a disk's standard
// inquiry data, vendor, product and firmware strings, supported VPD pages and
// selected VPD pages into a CScsiDeviceData. The platform half (opening,
// pass-through, address, capacity) comes from CScsiTool.
#ifndef PROVIDERS_DEVICE_SCSITOOL_SCSITOOLBASE_H
#define PROVIDERS_DEVICE_SCSITOOL_SCSITOOLBASE_H

#include "scsitool/scsitool.h"

#include <cstdint>
#include <memory>

class CScsiToolBase : public virtual kelm_pdk_4_4::CFiTraceable {
public:
    CScsiToolBase();
    ~CScsiToolBase() override;

    // The VPD pages UpdateDevice reads, in this order, when the device lists them.
    static const uint32_t kUpdatedPages[7];

    // Appends the codes of VPD page 0x00 to m_supportedModePageList (replacing
    // an earlier list). Returns 0, or the status of a failed request.
    virtual int UpdateSupportedModePageList(CScsiDeviceHandle &handle, CScsiDeviceData *device);
    // 1 for peripheral byte 0 (qualifier 0, direct-access block device), else 0.
    virtual int CheckForDiskDevice(uint8_t peripheral);
    // Fills the record from the device through one handle. 0 on success, 6
    // (or a thrown status) on failure; fields filled before a failure stay.
    virtual int UpdateDevice(CScsiDeviceData *device);
    // Always 4; removal is not done here.
    virtual int RemoveDevice(CScsiDeviceData *device);
    // Reads and stores the standard inquiry data (key 0). 0 when it holds at
    // least 32 bytes and describes a disk; 6 otherwise. Throws 6 when the
    // request fails.
    virtual int UpdateStdInquiryString(CScsiDeviceHandle &handle, CScsiDeviceData *device);
    // Fields of the stored standard inquiry data; throw 6 when none is stored.
    virtual int UpdateVendorId(CScsiDeviceData *device);
    virtual int UpdateProductId(CScsiDeviceData *device);
    virtual int UpdateFirmwareLevel(CScsiDeviceData *device);
    // Reads VPD page pageCode and stores it when something came back. Returns
    // 0; throws the status of a failed request.
    virtual int UpdateModePageString(CScsiDeviceHandle &handle, uint32_t pageCode, CScsiDeviceData *device);
    // Sets m_capacity; 0 on success. This version does nothing and returns 0.
    virtual int GetScsiDeviceCapacity(CScsiDeviceHandle &handle, CScsiDeviceData *device);
    // Sets m_pathId, m_targetId and m_lun; non-zero on success, throws 6.
    virtual int GetTargetLunPortInfo(CScsiDeviceHandle &handle, CScsiDeviceData *device) = 0;
    // Sends INQUIRY (standard when pageCode is 0 and evpd is not 1, else VPD
    // page pageCode) and hands back the stored bytes in out with their length
    // (0 and no buffer when nothing came back). Returns 0; throws 6.
    virtual int GetModePageInfo(CScsiDeviceHandle &handle, CScsiDeviceData *device, const uint32_t &pageCode,
                                uint32_t &length, uint32_t evpd, std::unique_ptr<uint8_t[]> &out) = 0;
    // Sends one CDB through the open handle. direction: SCSI_DATA_IN or
    // SCSI_DATA_OUT. dataLength: in, the bytes to transfer; out, for data in,
    // the bytes stored in data (0 after a failure). sense: 64 bytes or null.
    // Returns non-zero on success; throws 6 on any failure, including a
    // non-GOOD SCSI status.
    virtual int SendCdbToDevice(HANDLE device, const uint8_t *cdb, uint8_t cdbLength, uint8_t *data,
                                uint32_t &dataLength, uint8_t direction, uint8_t *sense) = 0;

private:
    // One field of the stored standard inquiry data as text; throws 6 when
    // none is stored.
    static std::string inquiryField(const CScsiDeviceData *device, uint32_t offset, uint32_t width);
};

#endif // PROVIDERS_DEVICE_SCSITOOL_SCSITOOLBASE_H

// Everything learned about one SCSI disk path: its names, inquiry strings,
// SCSI address, capacity and the raw inquiry and VPD pages it returned.
//
// Readers of the stored pages (the UDID generators) get them through
// CScsiPageView, whose every accessor is bounded by the stored length: a
// byte past the end reads as 0, a text stops at the end, and has() says
// whether a field lies wholly inside the data. Stored pages come from the
// pass-through and end in zero bytes: their stored length is at least the
// page itself (header included) and usually more.
#ifndef PROVIDERS_DEVICE_SCSITOOL_DEVICE_SCSI_DATA_H
#define PROVIDERS_DEVICE_SCSITOOL_DEVICE_SCSI_DATA_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Keys of CScsiDeviceData's page map, which are VPD page codes except key 0.
enum : uint32_t {
    SCSI_STD_INQUIRY_KEY = 0x00,    // standard inquiry data (not VPD page 0x00)
    SCSI_VPD_SUPPORTED_PAGES = 0x00,
    SCSI_VPD_UNIT_SERIAL = 0x80,
    SCSI_VPD_DEVICE_ID = 0x83,
    SCSI_VPD_VENDOR_C0 = 0xC0,
    SCSI_VPD_VENDOR_C8 = 0xC8,
    SCSI_VPD_VENDOR_D0 = 0xD0,
};

// A read-only, bounded window on one stored page. Does not own the bytes: it
// is valid until the page is replaced or the record destroyed.
class CScsiPageView {
public:
    CScsiPageView() = default;
    CScsiPageView(const uint8_t *data, uint32_t length);

    // False for a page that is not stored.
    bool present() const { return m_data != nullptr && m_length > 0; }
    const uint8_t *data() const { return m_data; }
    uint32_t length() const { return m_length; }

    // True when bytes [offset, offset + count) lie inside the stored length.
    bool has(uint64_t offset, uint64_t count) const;
    // The byte at offset, 0 past the stored length.
    uint8_t byte(uint64_t offset) const;
    // Big-endian fields; 0 unless every byte of the field is stored.
    uint16_t be16(uint64_t offset) const;
    uint32_t be32(uint64_t offset) const;
    // At most maxChars characters from offset, stopping at the first zero
    // byte or at the end of the stored data.
    std::string text(uint64_t offset, uint64_t maxChars) const;
    // Each byte of [offset, offset + count) as two hexadecimal digits
    // ("%02x", or "%02X" when upper), clipped to the stored data.
    std::string hex(uint64_t offset, uint64_t count, bool upper = false) const;

private:
    const uint8_t *m_data = nullptr;
    uint32_t m_length = 0;
};

class CScsiDeviceData {
public:
    // Discovery passes the path twice, the computer name, zeros for the
    // address, 0xFFFFFFFF for the port, three empty strings and 0.
    CScsiDeviceData(const std::wstring &deviceName, const std::wstring &alternateDevicePath,
                    const std::wstring &hostName, uint32_t targetId, uint32_t pathId, uint32_t lun,
                    uint32_t portNumber, const std::wstring &vendorId, const std::wstring &productId,
                    const std::wstring &firmwareLevel, uint64_t capacity);
    virtual ~CScsiDeviceData();

    // ---- stored pages ----
    // The stored buffer of a page code and its length, or null and 0 when the
    // page is not stored. Code 0 is the standard inquiry data.
    const uint8_t *getModePage(uint32_t pageCode, uint32_t &length) const;
    const uint8_t *getStdInquiryData(uint32_t &length) const { return getModePage(SCSI_STD_INQUIRY_KEY, length); }
    const uint8_t *getModePage80(uint32_t &length) const { return getModePage(SCSI_VPD_UNIT_SERIAL, length); }
    const uint8_t *getModePage83(uint32_t &length) const { return getModePage(SCSI_VPD_DEVICE_ID, length); }
    const uint8_t *getModePageC0(uint32_t &length) const { return getModePage(SCSI_VPD_VENDOR_C0, length); }
    const uint8_t *getModePageC8(uint32_t &length) const { return getModePage(SCSI_VPD_VENDOR_C8, length); }
    const uint8_t *getModePageD0(uint32_t &length) const { return getModePage(SCSI_VPD_VENDOR_D0, length); }
    // The same as bounded views (not present when the page is not stored).
    CScsiPageView modePage(uint32_t pageCode) const;
    CScsiPageView stdInquiry() const { return modePage(SCSI_STD_INQUIRY_KEY); }
    // Whether the device listed pageCode in its VPD page 0x00.
    bool isModePageSupported(uint32_t pageCode) const;

    // Stores a copy of length bytes under pageCode, replacing an older page;
    // a null or empty buffer removes the page.
    void setModePage(uint32_t pageCode, const uint8_t *data, uint32_t length);
    void removeModePage(uint32_t pageCode);
    // The stored page codes in ascending order.
    std::vector<uint32_t> storedModePages() const;

    std::string m_deviceName;          // "\\.\PHYSICALDRIVEn": opens the disk, names it in messages
    std::string m_alternateDevicePath; // tried when opening by m_deviceName fails
    std::string m_hostName;            // computer name at discovery
    std::string m_vendorId;            // inquiry bytes 8-15, trailing blanks removed
    std::string m_productId;           // inquiry bytes 16-31, trailing blanks removed
    std::string m_firmwareLevel;       // inquiry bytes 32-35 as they are
    uint32_t m_targetId;
    uint32_t m_lun;
    uint32_t m_pathId;
    uint32_t m_portNumber;

private:
    // Key 0: standard inquiry data; other keys: the VPD page of that code as
    // returned, header included. Private so that readers go through the
    // bounded accessors above.
    std::map<uint32_t, std::vector<uint8_t>> m_modePages;

public:
    std::vector<uint32_t> m_supportedModePageList; // VPD page 0x00's list, in the device's order
    uint64_t m_capacity;                           // bytes; 0 when the geometry request failed
    std::string m_osName;                          // "Windows" once updated
};

#endif // PROVIDERS_DEVICE_SCSITOOL_DEVICE_SCSI_DATA_H

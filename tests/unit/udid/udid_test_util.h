// Device records for the UDID tests, built byte by byte as a disk would
// answer: standard inquiry data and VPD pages, header included.
#ifndef TESTS_UNIT_UDID_UDID_TEST_UTIL_H
#define TESTS_UNIT_UDID_UDID_TEST_UTIL_H

#include "scsitool/device_scsi_data.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace udid_test {

using Bytes = std::vector<uint8_t>;

Bytes hexBytes(const std::string &hex);  // "60 05 08" or "600508"

// A record as the SCSI tool leaves it after UpdateDevice.
class Device {
public:
    Device(const std::string &vendor, const std::string &product, const std::string &path = "\\\\.\\PHYSICALDRIVE1");
    // Standard inquiry data of `length` bytes with vendor and product in place.
    Device &inquiry(size_t length);
    Device &inquiryAt(size_t offset, const Bytes &bytes);
    Device &inquiryText(size_t offset, const std::string &text);
    // A zeroed VPD page of `length` bytes (header included, length field
    // length - 4), listed in page 0x00.
    Device &page(uint8_t code, size_t length);
    Device &pageAt(uint8_t code, size_t offset, const Bytes &bytes);
    Device &pageText(uint8_t code, size_t offset, const std::string &text);
    // Page 0x83 of 24 bytes holding one NAA designator (header 01 03 00 10).
    Device &naa(const std::string &hex);

    CScsiDeviceData *get() { return m_record.get(); }
    CScsiDeviceData *operator->() { return m_record.get(); }

private:
    Bytes bytes(uint8_t code) const;
    void put(uint8_t code, const Bytes &b) { m_record->setModePage(code, b.data(), uint32_t(b.size())); }
    std::unique_ptr<CScsiDeviceData> m_record;
};

} // namespace udid_test

#endif // TESTS_UNIT_UDID_UDID_TEST_UTIL_H

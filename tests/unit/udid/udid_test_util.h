// Device records for the UDID tests, built byte by byte as a disk would
// answer: standard inquiry data and VPD pages, header included.
#ifndef TESTS_UNIT_UDID_UDID_TEST_UTIL_H
#define TESTS_UNIT_UDID_UDID_TEST_UTIL_H

#include "scsitool/device_scsi_data.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace udid_test {

using Bytes = std::vector<uint8_t>;

// "60 05 08" or "600508".
inline Bytes hexBytes(const std::string &hex) {
    Bytes out;
    std::string digits;
    for (char c : hex)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(uint8_t(std::stoul(digits.substr(i, 2), 0, 16)));
    return out;
}

// A record as the SCSI tool leaves it after UpdateDevice; page code 0 is the
// standard inquiry data.
class Device {
public:
    Device(const std::string &vendor, const std::string &product, const std::string &path = "\\\\.\\PHYSICALDRIVE1") {
        std::wstring wpath(path.begin(), path.end());
        m_record = std::make_unique<CScsiDeviceData>(wpath, wpath, L"HOSTA", 0, 0, 0, 0xFFFFFFFFu, L"", L"", L"", 0);
        m_record->m_vendorId = vendor;
        m_record->m_productId = product;
        m_record->m_supportedModePageList = {0x00};
        inquiry(96);
    }
    // Standard inquiry data of `length` bytes with vendor and product in place.
    Device &inquiry(size_t length) {
        Bytes d(length, 0);
        if (length > 4) d[4] = uint8_t(std::min<size_t>(length - 5, 255));  // additional length
        const std::string &v = m_record->m_vendorId, &p = m_record->m_productId;
        for (size_t i = 0; i < 8 && 8 + i < length; ++i) d[8 + i] = i < v.size() ? uint8_t(v[i]) : ' ';
        for (size_t i = 0; i < 16 && 16 + i < length; ++i) d[16 + i] = i < p.size() ? uint8_t(p[i]) : ' ';
        return put(0, d);
    }
    // A zeroed VPD page of `length` bytes (header included, length field
    // length - 4), listed in page 0x00.
    Device &page(uint8_t code, size_t length) {
        Bytes d(length, 0);
        if (length > 1) d[1] = code;
        if (length > 3) d[2] = uint8_t((length - 4) >> 8), d[3] = uint8_t(length - 4);
        auto &list = m_record->m_supportedModePageList;
        if (std::find(list.begin(), list.end(), code) == list.end()) list.push_back(code);
        return put(code, d);
    }
    // Bytes written into a stored page at offset (past its end the page grows,
    // its length field stays).
    Device &pageAt(uint8_t code, size_t offset, const Bytes &b) {
        uint32_t length = 0;
        const uint8_t *p = m_record->getModePage(code, length);
        Bytes d = p ? Bytes(p, p + length) : Bytes();
        if (d.size() < offset + b.size()) d.resize(offset + b.size(), 0);
        std::copy(b.begin(), b.end(), d.begin() + std::ptrdiff_t(offset));
        return put(code, d);
    }
    Device &pageText(uint8_t code, size_t at, const std::string &s) { return pageAt(code, at, {s.begin(), s.end()}); }
    Device &inquiryAt(size_t offset, const Bytes &b) { return pageAt(0, offset, b); }
    Device &inquiryText(size_t offset, const std::string &text) { return pageText(0, offset, text); }
    // Page 0x83 of 24 bytes holding one NAA designator (header 01 03 00 10).
    Device &naa(const std::string &hex) {
        return page(0x83, 24).pageAt(0x83, 4, hexBytes("01 03 00 10")).pageAt(0x83, 8, hexBytes(hex));
    }

    CScsiDeviceData *get() { return m_record.get(); }
    CScsiDeviceData *operator->() { return m_record.get(); }

private:
    Device &put(uint8_t code, const Bytes &b) {
        m_record->setModePage(code, b.data(), uint32_t(b.size()));
        return *this;
    }
    std::unique_ptr<CScsiDeviceData> m_record;
};

} // namespace udid_test

#endif // TESTS_UNIT_UDID_UDID_TEST_UTIL_H

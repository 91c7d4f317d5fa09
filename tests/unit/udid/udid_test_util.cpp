#include "udid_test_util.h"

#include <algorithm>
#include <cctype>

namespace udid_test {

Bytes hexBytes(const std::string &hex) {
    Bytes out;
    std::string digits;
    for (char c : hex)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

Device::Device(const std::string &vendor, const std::string &product, const std::string &path) {
    std::wstring wpath(path.begin(), path.end());
    m_record = std::make_unique<CScsiDeviceData>(wpath, wpath, L"HOSTA", 0, 0, 0, 0xFFFFFFFFu, L"", L"", L"", 0);
    m_record->m_vendorId = vendor;
    m_record->m_productId = product;
    m_record->m_supportedModePageList = {0x00};
    inquiry(96);
}

Bytes Device::bytes(uint8_t code) const {
    uint32_t length = 0;
    const uint8_t *p = m_record->getModePage(code, length);
    return p ? Bytes(p, p + length) : Bytes();
}

Device &Device::inquiry(size_t length) {
    Bytes d(length, 0);
    if (length > 4) d[4] = uint8_t(std::min<size_t>(length - 5, 255));  // additional length
    const std::string &v = m_record->m_vendorId, &p = m_record->m_productId;
    for (size_t i = 0; i < 8 && 8 + i < length; ++i) d[8 + i] = i < v.size() ? uint8_t(v[i]) : ' ';
    for (size_t i = 0; i < 16 && 16 + i < length; ++i) d[16 + i] = i < p.size() ? uint8_t(p[i]) : ' ';
    put(0, d);
    return *this;
}

Device &Device::inquiryAt(size_t offset, const Bytes &b) {
    Bytes d = bytes(0);
    if (d.size() < offset + b.size()) d.resize(offset + b.size(), 0);
    std::copy(b.begin(), b.end(), d.begin() + std::ptrdiff_t(offset));
    put(0, d);
    return *this;
}

Device &Device::inquiryText(size_t offset, const std::string &text) {
    return inquiryAt(offset, Bytes(text.begin(), text.end()));
}

Device &Device::page(uint8_t code, size_t length) {
    Bytes d(length, 0);
    if (length > 1) d[1] = code;
    if (length > 3) { d[2] = uint8_t((length - 4) >> 8); d[3] = uint8_t(length - 4); }
    put(code, d);
    auto &list = m_record->m_supportedModePageList;
    if (std::find(list.begin(), list.end(), code) == list.end()) list.push_back(code);
    return *this;
}

Device &Device::pageAt(uint8_t code, size_t offset, const Bytes &b) {
    Bytes d = bytes(code);
    if (d.size() < offset + b.size()) {
        page(code, offset + b.size());
        Bytes grown = bytes(code);
        std::copy(d.begin() + std::min<std::ptrdiff_t>(4, std::ptrdiff_t(d.size())), d.end(),
                  grown.begin() + std::min<std::ptrdiff_t>(4, std::ptrdiff_t(d.size())));
        d = grown;
    }
    std::copy(b.begin(), b.end(), d.begin() + std::ptrdiff_t(offset));
    put(code, d);
    return *this;
}

Device &Device::pageText(uint8_t code, size_t offset, const std::string &text) {
    return pageAt(code, offset, Bytes(text.begin(), text.end()));
}

Device &Device::naa(const std::string &hex) {
    page(0x83, 24);
    pageAt(0x83, 4, hexBytes("01 03 00 10"));
    return pageAt(0x83, 8, hexBytes(hex));
}

} // namespace udid_test

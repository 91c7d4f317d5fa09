// The parsed form of a unique disk identifier text.
#ifndef PDK_CFIUDID_H
#define PDK_CFIUDID_H

#include <cstdint>
#include <string>

namespace kelm_pdk_4_4 {

class CFiUdidException {
public:
    enum : uint32_t { NOTHING_AFTER_PRODUCT = 1, NO_PREFIX = 2, NO_VENDOR_END = 3, NO_PRODUCT_END = 4 };
    CFiUdidException(const std::string &udid, uint32_t code) : m_udid(udid), m_code(code) {}
    const std::string &text() const { return m_udid; }
    uint32_t code() const { return m_code; }

private:
    std::string m_udid;
    uint32_t m_code;
};

// "UDID##" vendor "##" product "##" enclosure "##" LUN; a four-field text
// (the default generator's) has no enclosure and is not complete.
class CFiUdid {
public:
    explicit CFiUdid(const std::string &udid); // throws CFiUdidException
    std::string m_vendor;
    std::string m_product;
    std::string m_enclosure;
    std::string m_lun;
    bool m_complete = false;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFIUDID_H

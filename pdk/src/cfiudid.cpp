#include "pdk/cfiudid.h"

namespace kelm_pdk_4_4 {

namespace {
const char kPrefix[] = "UDID##";
const char kSeparator[] = "##";
} // namespace

CFiUdid::CFiUdid(const std::string &udid) {
    std::string::size_type start = udid.find(kPrefix);
    if (start == std::string::npos) throw CFiUdidException(udid, CFiUdidException::NO_PREFIX);
    std::string rest = udid.substr(start + sizeof(kPrefix) - 1);

    std::string::size_type sep = rest.find(kSeparator);
    if (sep == std::string::npos) throw CFiUdidException(udid, CFiUdidException::NO_VENDOR_END);
    m_vendor = rest.substr(0, sep);
    rest.erase(0, sep + 2);

    sep = rest.find(kSeparator);
    if (sep == std::string::npos) throw CFiUdidException(udid, CFiUdidException::NO_PRODUCT_END);
    m_product = rest.substr(0, sep);
    rest.erase(0, sep + 2);

    if (rest.empty()) throw CFiUdidException(udid, CFiUdidException::NOTHING_AFTER_PRODUCT);

    sep = rest.find(kSeparator);
    if (sep == std::string::npos) {
        // The default generator's identifiers carry no enclosure.
        m_lun = rest;
        return;
    }
    m_enclosure = rest.substr(0, sep);
    m_lun = rest.substr(sep + 2);
    m_complete = true;
}

} // namespace kelm_pdk_4_4

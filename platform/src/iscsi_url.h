// Parsing of the URL that names an iSCSI logical unit behind a simulated
// disk: "iscsi://host[:port]/target-name/lun". The text comes from host
// description files, so the parser accepts only that one shape and bounds
// every part; anything else is refused with a reason.
#ifndef PLATFORM_ISCSI_URL_H
#define PLATFORM_ISCSI_URL_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace rendo_sim {

struct IscsiUrl {
    std::string host;      // name or dotted IPv4; IPv6 without its brackets
    uint16_t port = 3260;
    std::string target;    // iSCSI name: iqn./eui./naa. form
    uint32_t lun = 0;

    // "host:port", IPv6 bracketed: what libiscsi connects to.
    std::string portal() const;
    // The canonical text of the URL; parses back to the same value.
    std::string text() const;
};

constexpr size_t kIscsiUrlMaxLength = 512;
constexpr size_t kIscsiHostMaxLength = 253;
constexpr size_t kIscsiNameMaxLength = 223;   // longest iSCSI name
constexpr uint32_t kIscsiMaxLun = 16383;      // flat LUN addressing

// REQUIRES: error may be null. Returns false and says why for any text
// outside the accepted shape; never reads past text.
bool parseIscsiUrl(const std::string &text, IscsiUrl *url, std::string *error);

} // namespace rendo_sim

#endif // PLATFORM_ISCSI_URL_H

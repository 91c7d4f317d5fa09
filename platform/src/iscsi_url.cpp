#include "iscsi_url.h"

namespace rendo_sim {
namespace {

constexpr char kScheme[] = "iscsi://";
constexpr size_t kSchemeLength = sizeof(kScheme) - 1;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlnum(char c) { return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool fail(std::string *error, const std::string &text, const char *why)
{
    if (error) {
        // Quote at most a bounded prefix: the text may be huge or binary.
        std::string shown;
        for (size_t i = 0; i < text.size() && i < 80; ++i) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            shown += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
        }
        if (text.size() > 80)
            shown += "...";
        *error = std::string("invalid iSCSI URL \"") + shown + "\": " + why +
                 " (expected iscsi://host:port/target-iqn/lun)";
    }
    return false;
}

// Decimal without sign or leading zeros (except "0"), at most max.
bool parseNumber(const std::string &s, uint32_t max, uint32_t &value)
{
    if (s.empty() || s.size() > 5 || (s.size() > 1 && s[0] == '0'))
        return false;
    uint32_t v = 0;
    for (char c : s) {
        if (!isDigit(c))
            return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    if (v > max)
        return false;
    value = v;
    return true;
}

bool validHostName(const std::string &h)
{
    if (h.empty() || h.size() > kIscsiHostMaxLength)
        return false;
    size_t label = 0;
    for (size_t i = 0; i < h.size(); ++i) {
        char c = h[i];
        if (c == '.') {
            if (label == 0)
                return false;
            label = 0;
        } else if (isAlnum(c) || (c == '-' && label > 0)) {
            if (++label > 63)
                return false;
        } else {
            return false;
        }
    }
    return label > 0;
}

bool validIpv6(const std::string &h)
{
    if (h.size() < 2 || h.size() > 45)
        return false;
    size_t colons = 0;
    for (char c : h) {
        if (c == ':')
            ++colons;
        else if (!isHexDigit(c) && c != '.')
            return false;
    }
    return colons >= 2 && colons <= 7;
}

bool hasNamePrefix(const std::string &t)
{
    if (t.size() < 5)
        return false;
    std::string p = t.substr(0, 4);
    for (char &c : p)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return p == "iqn." || p == "eui." || p == "naa.";
}

bool validTargetName(const std::string &t)
{
    if (t.size() > kIscsiNameMaxLength || !hasNamePrefix(t))
        return false;
    for (char c : t)
        if (!isAlnum(c) && c != '.' && c != '-' && c != ':')
            return false;
    return true;
}

} // namespace

std::string IscsiUrl::portal() const
{
    bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string IscsiUrl::text() const
{
    return std::string(kScheme) + portal() + "/" + target + "/" + std::to_string(lun);
}

bool parseIscsiUrl(const std::string &text, IscsiUrl *url, std::string *error)
{
    if (text.size() > kIscsiUrlMaxLength)
        return fail(error, text, "too long");
    if (text.compare(0, kSchemeLength, kScheme) != 0)
        return fail(error, text, "it does not start with iscsi://");

    IscsiUrl parsed;
    size_t pos = kSchemeLength;
    size_t slash = text.find('/', pos);
    if (slash == std::string::npos)
        return fail(error, text, "no target name");
    std::string authority = text.substr(pos, slash - pos);
    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']');
        if (close == std::string::npos)
            return fail(error, text, "unterminated IPv6 address");
        parsed.host = authority.substr(1, close - 1);
        if (!validIpv6(parsed.host))
            return fail(error, text, "bad IPv6 address");
        std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return fail(error, text, "text after the IPv6 address");
            portText = rest.substr(1);
            if (portText.empty())
                return fail(error, text, "empty port");
        }
    } else {
        size_t colon = authority.find(':');
        parsed.host = authority.substr(0, colon);
        if (!validHostName(parsed.host))
            return fail(error, text, "bad host name");
        if (colon != std::string::npos) {
            portText = authority.substr(colon + 1);
            if (portText.empty())
                return fail(error, text, "empty port");
        }
    }
    if (!portText.empty()) {
        uint32_t port = 0;
        if (!parseNumber(portText, 65535, port) || port == 0)
            return fail(error, text, "bad port");
        parsed.port = static_cast<uint16_t>(port);
    }

    pos = slash + 1;
    size_t lunSlash = text.find('/', pos);
    if (lunSlash == std::string::npos)
        return fail(error, text, "no LUN");
    parsed.target = text.substr(pos, lunSlash - pos);
    if (parsed.target.empty())
        return fail(error, text, "empty target name");
    if (!validTargetName(parsed.target))
        return fail(error, text, "bad target name (an iqn., eui. or naa. name of at most 223 characters)");

    std::string lunText = text.substr(lunSlash + 1);
    if (!parseNumber(lunText, kIscsiMaxLun, parsed.lun))
        return fail(error, text, "bad LUN (a decimal number from 0 to 16383)");

    if (url)
        *url = parsed;
    return true;
}

} // namespace rendo_sim

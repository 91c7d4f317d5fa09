#include "pdk/cfinetwork.h"

#include "pdk/cfistringtool.h"
#include "platform/windows.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <vector>

namespace kelm_pdk_4_4 {

namespace {

// Size of the computer-name buffer handed to the platform, in characters.
constexpr DWORD kComputerNameChars = 254;

// The first IPv4 address of a resolver answer as dotted text; empty when it
// has none. The answer lives in the calling thread's storage of the socket
// layer and is copied out at once.
std::string firstAddress(const hostent *host) {
    if (host->h_addrtype != AF_INET || host->h_length != 4 || host->h_addr_list == nullptr ||
        host->h_addr_list[0] == nullptr)
        return std::string();
    const auto *b = reinterpret_cast<const unsigned char *>(host->h_addr_list[0]);
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return text;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Splits at every '.', keeping empty tokens so that "1..2.3" is not read as
// "1.2.3".
std::vector<std::string> splitDots(const std::string &s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t dot = s.find('.', start);
        if (dot == std::string::npos) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, dot - start));
        start = dot + 1;
    }
}

bool allDigits(const std::string &s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (!isDigit(c)) return false;
    }
    return true;
}

} // namespace

std::string CFiNetwork::getComputerName() {
    wchar_t name[kComputerNameChars] = {};
    DWORD size = kComputerNameChars;
    GetComputerNameW(name, &size);
    name[kComputerNameChars - 1] = L'\0';
    return CFiStringTool::toNarrow(name);
}

int CFiNetwork::getHostbyName(const char *name, std::string &address) {
    if (name == nullptr) return kFailure;
    const hostent *host = gethostbyname(name);
    if (host == nullptr) return kFailure;
    std::string first = firstAddress(host);
    if (first.empty()) return kFailure;
    address = first;
    return kSuccess;
}

int CFiNetwork::getHostbyAddr(const char *address, std::string &hostName) {
    if (address == nullptr) return kFailure;
    in_addr_t addr = inet_addr(address);
    if (addr == INADDR_NONE) {
        hostName = address;
        return kFailure;
    }
    const hostent *host = gethostbyaddr(&addr, sizeof addr, AF_INET);
    if (host == nullptr) return kFailure;
    hostName = host->h_name != nullptr ? host->h_name : "";
    return kSuccess;
}

int CFiNetwork::getFQDN(const char *nameOrAddress, std::string &fqdn) {
    if (nameOrAddress == nullptr) return kFailure;
    std::string text = CFiStringTool::toLower(nameOrAddress);
    if (text.empty()) return kFailure;
    std::string name;
    if (isDigit(text[0])) {
        int rc = getHostbyAddr(text.c_str(), name);
        if (rc != kSuccess) return rc;
    } else {
        std::string address;
        int rc = getHostbyName(text.c_str(), address);
        if (rc != kSuccess) return rc;
        rc = getHostbyAddr(address.c_str(), name);
        if (rc != kSuccess) return rc;
    }
    fqdn = CFiStringTool::toLower(name);
    return kSuccess;
}

int CFiNetwork::getFQDN(std::string &fqdn) { return getFQDN(getComputerName().c_str(), fqdn); }

int CFiNetwork::IsTokenValid(const std::string &token) {
    if (token.empty()) return kFailure;
    unsigned value = 0;
    for (char c : token) {
        if (!isDigit(c)) return kFailure;
        value = value * 10 + static_cast<unsigned>(c - '0');
        // Stop before the value can overflow, however long the token.
        if (value > 255) return kFailure;
    }
    return kSuccess;
}

bool CFiNetwork::validateIPAddress(const char *text) {
    if (text == nullptr) return false;
    std::vector<std::string> tokens = splitDots(text);
    if (tokens.size() != 4) return false;
    for (const std::string &t : tokens) {
        if (IsTokenValid(t) != kSuccess) return false;
    }
    return true;
}

bool CFiNetwork::isIpAddress(const std::string &text) {
    std::vector<std::string> tokens = splitDots(text);
    if (tokens.size() != 4) return false;
    for (const std::string &t : tokens) {
        if (!allDigits(t)) return false;
    }
    return true;
}

CFiHostInfo CFiNetwork::resolve(const char *nameOrAddress) {
    CFiHostInfo info;
    if (nameOrAddress == nullptr || *nameOrAddress == '\0') return info;
    if (validateIPAddress(nameOrAddress)) {
        info.setIpAddress(nameOrAddress);
        std::string name;
        getHostbyAddr(nameOrAddress, name);
        info.setHostName(name);
        std::string fqdn;
        getFQDN(nameOrAddress, fqdn);
        info.setFqdn(fqdn);
        return info;
    }
    info.setHostName(nameOrAddress);
    std::string address;
    getHostbyName(nameOrAddress, address);
    if (address.empty()) return info;
    info.setIpAddress(address);
    std::string fqdn;
    getFQDN(address.c_str(), fqdn);
    info.setFqdn(fqdn);
    return info;
}

CFiHostInfo CFiNetwork::resolve() { return resolve(getComputerName().c_str()); }

bool CFiNetwork::compare(const CFiHostInfo &a, const CFiHostInfo &b) {
    if (!a.ipAddress().empty() && CFiStringTool::equalsNoCase(a.ipAddress(), b.ipAddress())) return true;
    if (!a.hostName().empty() && CFiStringTool::equalsNoCase(a.hostName(), b.hostName())) return true;
    if (!a.fqdn().empty() && CFiStringTool::equalsNoCase(a.fqdn(), b.fqdn())) return true;
    return false;
}

bool CFiNetwork::compare(const char *text, const CFiHostInfo &info) {
    if (text == nullptr || *text == '\0') return false;
    std::string t(text);
    return CFiStringTool::equalsNoCase(t, info.ipAddress()) || CFiStringTool::equalsNoCase(t, info.fqdn()) ||
           CFiStringTool::equalsNoCase(t, info.hostName());
}

} // namespace kelm_pdk_4_4

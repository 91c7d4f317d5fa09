#include "pgr/pgrtool.h"

#include "pdk/cfinetwork.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

using namespace kelm_pdk_4_4;

const char *const CPGRTool::kNoAddressKey = "00000000";
const char *const CPGRTool::kUnknownHost = "UnknownHost";

namespace {

constexpr size_t kKeyLength = 8;
const char kPhysicalDrivePrefix[] = "\\\\.\\PHYSICALDRIVE";

void traceTo(const CFiTraceLogPtr &log, int level, const char *format, ...) __attribute__((format(printf, 3, 4)));
void traceTo(const CFiTraceLogPtr &log, int level, const char *format, ...) {
    if (log.isNull()) return;
    va_list ap;
    va_start(ap, format);
    log->vtrace(level, format, ap);
    va_end(ap);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Splits at every occurrence of sep, keeping empty tokens, so that a doubled
// or trailing separator is seen rather than silently skipped.
std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t at = s.find(sep, start);
        if (at == std::string::npos) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, at - start));
        start = at + 1;
    }
}

// A token of decimal digits as a byte value. False for an empty token, a
// non-digit, or a value above 255 (parsing stops there, so no length of
// digits can overflow).
enum class ByteToken { kValid, kNotDigits, kOutOfRange };
ByteToken parseByte(const std::string &token, unsigned &value) {
    if (token.empty()) return ByteToken::kNotDigits;
    for (char c : token) {
        if (!isDigit(c)) return ByteToken::kNotDigits;
    }
    value = 0;
    for (char c : token) {
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 255) return ByteToken::kOutOfRange;
    }
    return ByteToken::kValid;
}

// The numeric key's byte values; the first bad token and its kind when the
// text is not a numeric key.
ByteToken parseNumericKey(const std::string &text, std::vector<unsigned> &codes, std::string &badToken) {
    for (const std::string &token : split(text, ',')) {
        unsigned value = 0;
        ByteToken kind = parseByte(token, value);
        if (kind != ByteToken::kValid) {
            badToken = token;
            return kind;
        }
        codes.push_back(value);
    }
    return ByteToken::kValid;
}

} // namespace

CPGRTool::CPGRTool() = default;
CPGRTool::~CPGRTool() = default;

void CPGRTool::setTraceLog(const CFiTraceLogPtr &log) {
    CFiTraceLogPtr old;
    {
        ACE_Guard<ACE_Thread_Mutex> g(m_logLock);
        old = m_traceLog;
        m_traceLog = log;
    }
    // old is dropped here, outside the lock: the last reference to a log
    // may run its destructor.
}

CFiTraceLogPtr CPGRTool::currentLog() const {
    ACE_Guard<ACE_Thread_Mutex> g(m_logLock);
    return m_traceLog;
}

bool CPGRTool::addressToKey(const std::string &address, std::string &key) {
    if (!CFiNetwork::isIpAddress(address)) return false;
    std::vector<std::string> octets = split(address, '.');
    if (octets.size() < 4) return false;
    std::string out;
    for (size_t i = 0; i < 4; ++i) {
        unsigned value = 0;
        // An octet above 255 would give more than two hex digits and a key
        // longer than the 8 bytes of the SCSI field.
        if (parseByte(octets[i], value) != ByteToken::kValid) return false;
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", value);
        out += pair;
    }
    key = out;
    return true;
}

bool CPGRTool::keyToAddress(const std::string &key, std::string &address) {
    if (key.size() != kKeyLength) return false;
    std::string out;
    for (size_t i = 0; i < kKeyLength; i += 2) {
        // Both characters must be hex digits: a scan that stops at the first
        // non-digit would read "0g" as 0 and "-1" as a huge value.
        int high = hexValue(key[i]);
        int low = hexValue(key[i + 1]);
        if (high < 0 || low < 0) return false;
        if (i != 0) out += '.';
        out += std::to_string(high * 16 + low);
    }
    address = out;
    return true;
}

std::string CPGRTool::getKeyForHost() {
    CFiTraceLogPtr log = currentLog();
    CFiTraceLogFunction scope(log, "CPGRTool::getKeyForHost");

    std::string host = CFiNetwork::getComputerName();
    std::string address;
    CFiNetwork::getHostbyName(host.c_str(), address);

    std::string key;
    if (!addressToKey(address, key)) {
        traceTo(log, 2, "Invaild IP address [%s] found for host '%s'.", address.c_str(), host.c_str());
        return kNoAddressKey;
    }
    traceTo(log, 3, "Generated Key [%s] from IP[%s] for host [%s].", key.c_str(), address.c_str(), host.c_str());
    return key;
}

std::string CPGRTool::getHostForKey(const std::string &key, std::string &ipAddress) {
    CFiTraceLogPtr log = currentLog();
    CFiTraceLogFunction scope(log, "CPGRTool::getHostForKey");

    std::string host = kUnknownHost;
    std::string address;
    if (!keyToAddress(key, address)) {
        traceTo(log, 2, "Invaild key format [%s].", key.c_str());
        return host;
    }
    ipAddress = address;
    if (CFiNetwork::getHostbyAddr(address.c_str(), host) != CFiNetwork::kSuccess) {
        traceTo(log, 2, "Could not find host for IP address [%s].", address.c_str());
    }
    return host;
}

bool CPGRTool::isNumericKey(const std::string &numericKey) {
    CFiTraceLogPtr log = currentLog();
    CFiTraceLogFunction scope(log, "CPGRTool::isNumericKey");
    traceTo(log, 3, "PGRTool::getKeyForHost -  numericKey = %s", numericKey.c_str());
    if (numericKey.empty()) return false;

    std::vector<unsigned> codes;
    std::string bad;
    switch (parseNumericKey(numericKey, codes, bad)) {
    case ByteToken::kValid:
        return true;
    case ByteToken::kNotDigits:
        std::printf("Invalid key format detected! '%s' is not an code.\n", bad.c_str());
        break;
    case ByteToken::kOutOfRange:
        std::printf("Invalid key format detected! '%s' is not an ASCII code.\n", bad.c_str());
        break;
    }
    std::fflush(stdout);
    return false;
}

std::string CPGRTool::getCharKey(const std::string &numericKey) {
    CFiTraceLogPtr log = currentLog();
    CFiTraceLogFunction scope(log, "CPGRTool::getCharKey");
    traceTo(log, 3, "PGRTool::getKeyForHost -  numericKey = %s", numericKey.c_str());

    std::string key;
    std::vector<unsigned> codes;
    std::string bad;
    // Unchecked text would turn "300" or "x" into some unrelated byte.
    if (!numericKey.empty() && parseNumericKey(numericKey, codes, bad) == ByteToken::kValid) {
        for (unsigned code : codes) key.push_back(static_cast<char>(static_cast<unsigned char>(code)));
    }
    traceTo(log, 3, "PGRTool::getKeyForHost -  returning character key  = %s", key.c_str());
    return key;
}

std::string CPGRTool::getNumKey(const std::string &charKey) {
    CFiTraceLogPtr log = currentLog();
    CFiTraceLogFunction scope(log, "CPGRTool::getNumKey");
    traceTo(log, 3, "PGRTool::getKeyForHost -  charKey = %s", charKey.c_str());

    std::string numeric;
    for (size_t i = 0; i < charKey.size(); ++i) {
        if (i != 0) numeric += ',';
        // Byte codes, not signed chars: a non-ASCII byte is 200, not -56.
        numeric += std::to_string(static_cast<unsigned char>(charKey[i]));
    }
    traceTo(log, 3, "PGRTool::getKeyForHost -  returning numeric key  = %s", numeric.c_str());
    return numeric;
}

int CPGRTool::formatKey(std::string &key) {
    CFiTraceLogPtr log = currentLog();
    CFiTraceLogFunction scope(log, "CPGRTool::formatKey");
    traceTo(log, 3, "PGRTool::getKeyForHost -  key = %s", key.c_str());
    if (key.size() < kKeyLength) key.append(kKeyLength - key.size(), '-');
    traceTo(log, 3, "PGRTool::getKeyForHost -  Returning modified key = %s", key.c_str());
    return 0;
}

bool CPGRTool::isValidDevice(const std::string &devicePath) {
    CFiTraceLogPtr log = currentLog();
    CFiTraceLogFunction scope(log, "CPGRTool::isValidDevice");
    return devicePath.compare(0, sizeof kPhysicalDrivePrefix - 1, kPhysicalDrivePrefix) == 0;
}

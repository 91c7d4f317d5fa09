// Fuzzes the reservation key parsers: key <-> address, the numeric key form
// and its conversions, padding and the device path test. Well-formed keys
// are not looked up, so no input reaches a name server.
#include "pdk/cfinetwork.h"
#include "pgr/pgrtool.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool isLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

std::string lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The numeric key with each code written without leading zeros.
std::string canonicalCodes(const std::string &s) {
    std::string out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t comma = s.find(',', start);
        if (comma == std::string::npos) comma = s.size();
        std::string tok = s.substr(start, comma - start);
        size_t first = tok.find_first_not_of('0');
        if (!out.empty()) out += ',';
        out += first == std::string::npos ? "0" : tok.substr(first);
        start = comma + 1;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static CPGRTool *tool = [] {
        // isNumericKey reports bad tokens on standard output.
        if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
        return new CPGRTool;
    }();
    std::string text(reinterpret_cast<const char *>(data), size);

    std::string address;
    if (CPGRTool::keyToAddress(text, address)) {
        std::string key;
        if (text.size() != 8 || !kelm_pdk_4_4::CFiNetwork::validateIPAddress(address.c_str())) std::abort();
        if (!CPGRTool::addressToKey(address, key) || key != lower(text)) std::abort();
    } else {
        std::string ip = "untouched";
        if (tool->getHostForKey(text, ip) != CPGRTool::kUnknownHost || ip != "untouched") std::abort();
    }

    std::string key;
    if (CPGRTool::addressToKey(text, key)) {
        if (key.size() != 8) std::abort();
        for (char c : key)
            if (!isLowerHex(c)) std::abort();
        std::string back;
        if (!CPGRTool::keyToAddress(key, back) || !kelm_pdk_4_4::CFiNetwork::validateIPAddress(text.c_str()))
            std::abort();
        if (!CPGRTool::addressToKey(back, key)) std::abort();
    }

    bool numeric = tool->isNumericKey(text);
    std::string chars = tool->getCharKey(text);
    if (numeric != !chars.empty() && !text.empty()) std::abort();
    if (numeric && tool->getNumKey(chars) != canonicalCodes(text)) std::abort();
    if (!text.empty() && tool->getCharKey(tool->getNumKey(text)) != text) std::abort();

    std::string padded = text;
    if (tool->formatKey(padded) != 0 || padded.size() < 8 || padded.compare(0, text.size(), text) != 0) std::abort();
    if (tool->isValidDevice(text) != (text.rfind("\\\\.\\PHYSICALDRIVE", 0) == 0)) std::abort();
    return 0;
}

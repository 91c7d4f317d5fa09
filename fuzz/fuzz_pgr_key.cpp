// Fuzzes the reservation key parsers: key <-> address, the numeric key form
// and its conversions, padding and the device path test. Well-formed keys
// are not looked up, so no input reaches a name server.
#include "fuzz_target.h"
#include "pdk/cfinetwork.h"
#include "pgr/pgrtool.h"

#include <cstdio>

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

FUZZ_TEXT_TARGET(text) {
    static CPGRTool *tool = [] {
        // isNumericKey reports bad tokens on standard output.
        require(std::freopen("/dev/null", "w", stdout) != nullptr);
        return new CPGRTool;
    }();
    std::string address, key, back, ip = "untouched";
    if (CPGRTool::keyToAddress(text, address)) {
        require(text.size() == 8 && kelm_pdk_4_4::CFiNetwork::validateIPAddress(address.c_str()));
        require(CPGRTool::addressToKey(address, key) && key == lower(text));
    } else {
        require(tool->getHostForKey(text, ip) == CPGRTool::kUnknownHost && ip == "untouched");
    }
    if (CPGRTool::addressToKey(text, key)) {
        require(key.size() == 8);
        for (char c : key) require(isLowerHex(c));
        require(CPGRTool::keyToAddress(key, back) && kelm_pdk_4_4::CFiNetwork::validateIPAddress(text.c_str()));
        require(CPGRTool::addressToKey(back, key));
    }
    bool numeric = tool->isNumericKey(text);
    std::string chars = tool->getCharKey(text);
    require(numeric == !chars.empty() || text.empty());
    require(!numeric || tool->getNumKey(chars) == canonicalCodes(text));
    require(text.empty() || tool->getCharKey(tool->getNumKey(text)) == text);
    std::string padded = text;
    require(tool->formatKey(padded) == 0 && padded.size() >= 8 && padded.compare(0, text.size(), text) == 0);
    require(tool->isValidDevice(text) == (text.rfind("\\\\.\\PHYSICALDRIVE", 0) == 0));
}

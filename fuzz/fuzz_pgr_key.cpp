// Fuzzes the reservation key parsers: key <-> address, the numeric key form
// and its conversions, padding and the device path test. Well-formed keys
// are not looked up, so no input reaches a name server.
#include "fuzz_target.h"
#include "pdk/cfinetwork.h"
#include "pgr/pgrtool.h"

#include <cctype>
#include <cstdio>

// The numeric key with each code written without leading zeros.
static std::string canonicalCodes(const std::string &s) {
    std::string out;
    for (size_t i = 0, lead = 1; i < s.size(); lead = s[i] == ',' || (lead && s[i] == '0'), ++i)
        if (!(lead && s[i] == '0' && i + 1 < s.size() && s[i + 1] != ',')) out += s[i];
    return out;
}

FUZZ_TEXT_TARGET(text) {
    static CPGRTool *tool = [] {
        // isNumericKey reports bad tokens on standard output.
        require(std::freopen("/dev/null", "w", stdout) != nullptr);
        return new CPGRTool;
    }();
    std::string address, key, back, ip = "untouched";
    if (CPGRTool::keyToAddress(text, address)) {
        require(text.size() == 8 && kelm_pdk_4_4::CFiNetwork::validateIPAddress(address.c_str()));
        std::string lower = text;
        for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        require(CPGRTool::addressToKey(address, key) && key == lower);
    } else {
        require(tool->getHostForKey(text, ip) == CPGRTool::kUnknownHost && ip == "untouched");
    }
    if (CPGRTool::addressToKey(text, key)) {
        require(key.size() == 8 && key.find_first_not_of("0123456789abcdef") == std::string::npos);
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

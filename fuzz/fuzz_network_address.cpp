// Fuzzes the dotted-address checks of the network helpers against a plain
// reference, and the text-to-record comparison. The resolver is never
// called, so no input reaches a name server.
#include "fuzz_target.h"
#include "pdk/cfinetwork.h"

#include <cstdlib>
#include <vector>

using kelm_pdk_4_4::CFiHostInfo;
using kelm_pdk_4_4::CFiNetwork;

namespace {

std::vector<std::string> splitAll(const std::string &s, char sep) {
    std::vector<std::string> out(1);
    for (char c : s) {
        if (c == sep)
            out.emplace_back();
        else
            out.back().push_back(c);
    }
    return out;
}

// Four dot-separated runs of digits; with range set, each 0..255.
bool reference(const std::string &s, bool range) {
    std::vector<std::string> t = splitAll(s, '.');
    for (const std::string &tok : t)
        if (tok.empty() || tok.find_first_not_of("0123456789") != std::string::npos ||
            (range && std::strtoul(tok.c_str(), nullptr, 10) > 255))
            return false;
    return t.size() == 4;
}

} // namespace

FUZZ_TEXT_TARGET(bytes) {
    std::string text = bytes.c_str(); // the helpers take C strings
    bool valid = CFiNetwork::validateIPAddress(text.c_str());
    bool shaped = CFiNetwork::isIpAddress(text);
    require(valid == reference(text, true) && shaped == reference(text, false) && (shaped || !valid));

    // Records built from the lines of the input: the text matches a record
    // exactly when it equals one of its fields, case ignored.
    std::vector<std::string> lines = splitAll(bytes, '\n');
    lines.resize(4);
    for (std::string &l : lines) l = l.c_str();
    CFiHostInfo a(lines[1], lines[2], lines[3]);
    CFiHostInfo b(lines[3], lines[2], lines[1]);
    bool byText = CFiNetwork::compare(lines[0].c_str(), a);
    require(!lines[0].empty() || !byText);
    require(lines[0].empty() || (lines[0] != lines[1] && lines[0] != lines[2] && lines[0] != lines[3]) || byText);
    require(lines[2].empty() || CFiNetwork::compare(a, b));
}

#include "pdk/cfistringtool.h"

namespace kelm_pdk_4_4 {

std::string CFiStringTool::xmlBracket(const std::string &name, bool opening, bool newline) {
    std::string out;
    out.reserve(name.size() + 4);
    out += '<';
    if (!opening) out += '/';
    out += name;
    out += '>';
    if (newline) out += '\n';
    return out;
}

std::string CFiStringTool::xmlBracketValue(const std::string &name, const std::string &value) {
    std::string out = "\t";
    out += xmlBracket(name, true, false);
    out += convertToXmlSpecialCharacters(value);
    out += xmlBracket(name, false, true);
    return out;
}

std::string CFiStringTool::convertToXmlSpecialCharacters(const std::string &s) {
    std::string out = s;
    // "&" first: the later replacements introduce ampersands of their own.
    searchreplace(out, "&", "&amp;");
    searchreplace(out, "<", "&lt;");
    searchreplace(out, ">", "&gt;");
    searchreplace(out, "\"", "&quot;");
    searchreplace(out, "'", "&#39;");
    return out;
}

std::string CFiStringTool::convertFromXmlSpecialCharacters(const std::string &s) {
    std::string out = s;
    searchreplace(out, "&#39;", "'");
    searchreplace(out, "&quot;", "\"");
    searchreplace(out, "&gt;", ">");
    searchreplace(out, "&lt;", "<");
    // "&amp;" last, so an escaped escape decodes only one level.
    searchreplace(out, "&amp;", "&");
    return out;
}

} // namespace kelm_pdk_4_4

#include "pdk/cficonfiguration.h"

#include "kelm/kelm_util.h"
#include "pdk/cfistringtool.h"

#include <cwchar>
#include <limits>

namespace kelm_pdk_4_4 {

namespace {

const int kEmptyBlob = 31;

// Strips one pair of surrounding double quotes; false when s is not quoted.
bool unquote(const std::string &s, std::string &out) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') return false;
    out = s.substr(1, s.size() - 2);
    return true;
}

bool isDecimalPort(const std::string &s, int32_t &port) {
    if (s.empty() || s.size() > 10) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    long long v = 0;
    if (!CFiStringTool::toInt64(s, v) || v > std::numeric_limits<int32_t>::max()) return false;
    port = static_cast<int32_t>(v);
    return true;
}

} // namespace

int CFiCredentialsParser::parse(const std::string &vendor, const std::string &product, std::list<SFiCredential> &out,
                                bool openArray) {
    wchar_t *blob = nullptr;
    kelm_get_credential_blob(&blob);
    if (blob == nullptr) return 0;
    size_t length = std::wcslen(blob);
    std::string text = CFiStringTool::toNarrow(blob);
    kelm_free_buf(blob, static_cast<uint32_t>((length + 1) * sizeof(wchar_t)));
    if (text.empty()) return kEmptyBlob;
    return parseText(text, vendor, product, out, openArray);
}

int CFiCredentialsParser::parseText(const std::string &text, const std::string &vendor, const std::string &product,
                                    std::list<SFiCredential> &out, bool openArray) {
    SFiCredential current;
    bool wanted = false;

    auto finish = [&](bool atEnd) {
        if (openArray || current.complete()) {
            trace(3, "INFO: adding array credentials for: vendor %s, product %s, server %S, username %S",
                  vendor.c_str(), product.c_str(), current.hostName.c_str(), current.userName.c_str());
            out.push_back(current);
        } else if (atEnd) {
            trace(2, "WARNING: skipping invalid credentials for vendor %s", vendor.c_str());
        }
        current = SFiCredential();
    };

    std::string::size_type pos = 0;
    while (pos <= text.size()) {
        std::string::size_type end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        // Texts written on Windows end their lines with "\r\n".
        if (!line.empty() && line.back() == '\r') line.pop_back();

        if (line.find('[') != std::string::npos && line.find(']') != std::string::npos) {
            if (wanted) finish(false);
            current = SFiCredential();
            wanted = false;
            std::vector<std::string> tokens = CFiStringTool::tokenize(line, "\t\r[]\\ \n");
            if (tokens.size() != 3 || !CFiStringTool::equalsNoCase(tokens[0], "STORAGE_MANAGEMENT_SERVICE")) continue;
            const std::string &array = tokens[1];
            if (!vendor.empty() && array.find(vendor) == std::string::npos) continue;
            if (!product.empty() && array.find(product) == std::string::npos) continue;
            bool isOpenArray = array.find("OPENARRAY") != std::string::npos;
            if (openArray && !isOpenArray) {
                trace(3, "INFO: Skipping non OPENARRAY credentials section '%s'", array.c_str());
                continue;
            }
            if (!openArray && isOpenArray) {
                trace(3, "INFO: Skipping OPENARRAY credentials section '%s'", array.c_str());
                continue;
            }
            wanted = true;
            continue;
        }

        if (!wanted) continue;
        std::string::size_type eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string name;
        if (!unquote(line.substr(0, eq), name)) {
            trace(2, "WARNING: Invalid credentials section '%s'", line.c_str());
            continue;
        }
        std::string raw = line.substr(eq + 1);
        std::string value;
        std::string::size_type dword = raw.find("dword:");
        if (dword != std::string::npos) {
            value = raw.substr(dword + 6);
        } else if (!unquote(raw, value)) {
            trace(2, "WARNING: Invalid value '%s' for key section '%s'", raw.c_str(), name.c_str());
            continue;
        }

        if (name == "HOSTNAME") {
            current.hostName = CFiStringTool::toWide(value);
        } else if (name == "USERNAME") {
            current.userName = CFiStringTool::toWide(value);
        } else if (name == "PASSWORD") {
            current.password = CFiStringTool::toWide(value);
        } else if (name == "DATA") {
            current.data = CFiStringTool::toWide(value);
        } else if (name == "PORT") {
            if (!isDecimalPort(value, current.port))
                trace(2, "WARNING: Invalid dword value '%s' for key section '%s'", value.c_str(), name.c_str());
        }
    }
    if (wanted) finish(true);
    return 0;
}

} // namespace kelm_pdk_4_4

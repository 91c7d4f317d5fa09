#include "pdk/cfistringtool.h"

#include "kelm/kelm_util.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <locale.h>

namespace kelm_pdk_4_4 {

namespace {

// One code point or, for a wide character that is none (beyond U+10FFFF or
// a surrogate), U+FFFD.
void appendUtf8(std::string &out, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string narrowOf(const wchar_t *s, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) appendUtf8(out, static_cast<uint32_t>(s[i]));
    return out;
}

// Decodes UTF-8; a byte that does not start a valid sequence stands for
// itself (Latin-1), so no input is lost.
std::wstring wideOf(const char *s, size_t n) {
    std::wstring out;
    out.reserve(n);
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        bool ok = len != 0 && i + len <= n;
        uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1Fu) : len == 3 ? (c & 0x0Fu) : (c & 0x07u);
        for (size_t k = 1; ok && k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (p[i + k] & 0x3Fu);
        }
        if (!ok) {
            out.push_back(static_cast<wchar_t>(c));
            ++i;
            continue;
        }
        out.push_back(static_cast<wchar_t>(cp));
        i += len;
    }
    return out;
}

// A per-thread UTF-8 locale for formatting, so %S never fails on text the
// process locale cannot represent.
locale_t utf8Locale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l;
    }();
    return loc;
}

} // namespace

std::string CFiStringTool::toNarrow(const wchar_t *s) { return s == nullptr ? std::string() : narrowOf(s, std::wcslen(s)); }
std::string CFiStringTool::toNarrow(const WString &s) { return narrowOf(s.c_str(), s.length()); }
std::string CFiStringTool::toNarrow(const std::wstring &s) { return narrowOf(s.data(), s.size()); }
WString CFiStringTool::toWide(const char *s) { return s == nullptr ? WString() : toWide(std::string(s)); }
WString CFiStringTool::toWide(const std::string &s) {
    std::wstring w = wideOf(s.data(), s.size());
    return WString(w.data(), w.size());
}
std::wstring CFiStringTool::toStdWide(const std::string &s) { return wideOf(s.data(), s.size()); }
std::wstring CFiStringTool::toStdWide(const WString &s) { return std::wstring(s.c_str(), s.length()); }

std::string CFiStringTool::toNarrow(const char16_t *s, size_t n) {
    std::string out;
    if (s == nullptr) return out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(s[i + 1]) - 0xDC00);
            ++i;
        }
        appendUtf8(out, c); // a surrogate left over here is a lone one
    }
    return out;
}

int CFiStringTool::vsnprintfUtf8(char *buf, size_t size, const char *fmt, va_list ap) {
    locale_t loc = utf8Locale();
    locale_t old = loc != nullptr ? uselocale(loc) : nullptr;
    int n = std::vsnprintf(buf, size, fmt, ap);
    if (loc != nullptr) uselocale(old);
    return n;
}

std::string CFiStringTool::vformat(const char *fmt, va_list ap) {
    if (fmt == nullptr) return std::string();
    char small[512];
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintfUtf8(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    va_copy(copy, ap);
    vsnprintfUtf8(&out[0], out.size(), fmt, copy);
    va_end(copy);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string CFiStringTool::format(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = vformat(fmt, ap);
    va_end(ap);
    return s;
}

std::string CFiStringTool::toUpper(std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}
std::string CFiStringTool::toLower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
WString CFiStringTool::toUpper(const WString &s) {
    std::wstring w = toStdWide(s);
    for (wchar_t &c : w) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return WString(w.data(), w.size());
}
WString CFiStringTool::toLower(const WString &s) {
    std::wstring w = toStdWide(s);
    for (wchar_t &c : w) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return WString(w.data(), w.size());
}
bool CFiStringTool::equalsNoCase(const std::string &a, const std::string &b) { return toUpper(a) == toUpper(b); }
bool CFiStringTool::equalsNoCase(const WString &a, const WString &b) { return toUpper(a) == toUpper(b); }

std::string CFiStringTool::trim(const std::string &s) {
    const char *ws = " \t\r\n\f\v";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

std::vector<std::string> CFiStringTool::tokenize(const std::string &s, const std::string &delimiters) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < s.size()) {
        size_t b = s.find_first_not_of(delimiters, pos);
        if (b == std::string::npos) break;
        size_t e = s.find_first_of(delimiters, b);
        if (e == std::string::npos) e = s.size();
        out.push_back(s.substr(b, e - b));
        pos = e;
    }
    return out;
}

int CFiStringTool::searchreplace(std::string &s, const std::string &from, const std::string &to) {
    if (s.empty() || from.empty()) return 0;
    int count = 0;
    size_t pos = 0;
    while ((pos = s.find(from, pos)) != std::string::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
        ++count;
    }
    return count;
}

int CFiStringTool::searchreplace(WString &s, const WString &from, const WString &to) {
    std::wstring w = toStdWide(s);
    std::wstring f = toStdWide(from);
    std::wstring t = toStdWide(to);
    if (w.empty() || f.empty()) return 0;
    int count = 0;
    size_t pos = 0;
    while ((pos = w.find(f, pos)) != std::wstring::npos) {
        w.replace(pos, f.size(), t);
        pos += t.size();
        ++count;
    }
    s = WString(w.data(), w.size());
    return count;
}

std::string CFiStringTool::toString(long long v) { return std::to_string(v); }

std::string CFiStringTool::toHex(unsigned long long v, bool upper) {
    char buf[32];
    std::snprintf(buf, sizeof buf, upper ? "%llX" : "%llx", v);
    return buf;
}

bool CFiStringTool::toInt64(const std::string &s, long long &out) {
    std::string t = trim(s);
    if (t.empty()) return false;
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(t.c_str(), &end, 10);
    if (errno != 0 || end == t.c_str() || *end != '\0') return false;
    out = v;
    return true;
}

std::string CFiStringTool::doubleToString(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

wchar_t *CFiStringTool::tstrdup(const wchar_t *s) {
    if (s == nullptr) return nullptr;
    size_t n = std::wcslen(s) + 1;
    auto *out = static_cast<wchar_t *>(kelm_alloc_buf(static_cast<uint32_t>(n * sizeof(wchar_t))));
    if (out != nullptr) std::wmemcpy(out, s, n);
    return out;
}

wchar_t *CFiStringTool::tstrdup(const WString &s) { return tstrdup(s.c_str()); }

void CFiStringTool::tstrfree(wchar_t *s) {
    if (s != nullptr) kelm_free_buf(s, static_cast<uint32_t>((std::wcslen(s) + 1) * sizeof(wchar_t)));
}

} // namespace kelm_pdk_4_4

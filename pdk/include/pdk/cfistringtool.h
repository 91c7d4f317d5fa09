// String helpers of the kit: narrow/wide conversion, formatting, case,
// trimming, tokenising, search-and-replace and the XML text functions.
#ifndef PDK_CFISTRINGTOOL_H
#define PDK_CFISTRINGTOOL_H

#include "pdk/cfibase.h"

#include <cstdarg>
#include <string>
#include <vector>

namespace kelm_pdk_4_4 {

class CFiStringTool {
public:
    // Conversions use UTF-8 for narrow text, whatever the process locale.
    static std::string toNarrow(const wchar_t *s);
    static std::string toNarrow(const WString &s);
    static std::string toNarrow(const std::wstring &s);
    static WString toWide(const char *s);
    static WString toWide(const std::string &s);
    static std::wstring toStdWide(const std::string &s);
    static std::wstring toStdWide(const WString &s);
    // UTF-16 text (the XML parser's) to UTF-8; a lone surrogate becomes U+FFFD.
    static std::string toNarrow(const char16_t *s, size_t n);

    // printf into a std::string; %S takes a wide string, converted to UTF-8.
    static std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
    static std::string vformat(const char *fmt, va_list ap);
    // vsnprintf with %S always converting wide text as UTF-8. Same result
    // convention as vsnprintf: the length needed, or -1 on error.
    static int vsnprintfUtf8(char *buf, size_t size, const char *fmt, va_list ap);

    static std::string toUpper(std::string s);
    static std::string toLower(std::string s);
    static WString toUpper(const WString &s);
    static WString toLower(const WString &s);
    static bool equalsNoCase(const std::string &a, const std::string &b);
    static bool equalsNoCase(const WString &a, const WString &b);

    static std::string trim(const std::string &s);
    // Splits at any of the delimiter characters; empty tokens are dropped.
    static std::vector<std::string> tokenize(const std::string &s, const std::string &delimiters);
    // Replaces every occurrence of from by to; returns the number replaced.
    static int searchreplace(std::string &s, const std::string &from, const std::string &to);
    static int searchreplace(WString &s, const WString &from, const WString &to);

    static std::string toString(long long v);
    static std::string toHex(unsigned long long v, bool upper = true);
    // Decimal text to the widest integer; false when the text is not a number.
    static bool toInt64(const std::string &s, long long &out);
    // The kit's double-to-string conversion used by serialised messages.
    static std::string doubleToString(double v);

    // A framework-owned copy of s: (length + 1) * sizeof(wchar_t) bytes from
    // kelm_alloc_buf. Null when s is null or the allocation fails.
    static wchar_t *tstrdup(const wchar_t *s);
    static wchar_t *tstrdup(const WString &s);
    // Frees a tstrdup result (the framework's job; used by tools and tests).
    static void tstrfree(wchar_t *s);

    // ---- XML text functions (configuration parameter lists) ----
    // "<" ["/"] name ">" ["\n"]: an opening tag unless opening is false,
    // followed by a line feed when newline is set.
    static std::string xmlBracket(const std::string &name, bool opening, bool newline);
    // "\t<name>" escaped value "</name>\n".
    static std::string xmlBracketValue(const std::string &name, const std::string &value);
    // Escapes & < > " ' (in that order, so no escape is escaped twice).
    static std::string convertToXmlSpecialCharacters(const std::string &s);
    // Undoes the five escapes, "&amp;" last, so "&amp;lt;" yields "&lt;".
    static std::string convertFromXmlSpecialCharacters(const std::string &s);
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFISTRINGTOOL_H

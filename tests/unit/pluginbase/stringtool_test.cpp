// The kit's one text conversion serves wide text and the XML parser's UTF-16.
#include "pdk/cfistringtool.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kelm_pdk_4_4::CFiStringTool;

TEST(StringTool, Utf16AndWideTextGiveTheSameUtf8) {
    const struct {
        std::u16string utf16;
        std::wstring wide;
        const char *utf8;
    } cases[] = {
        {u"plain", L"plain", "plain"},
        {u"\u00e9\u4e2d", L"\u00e9\u4e2d", "\xC3\xA9\xE4\xB8\xAD"},
        {u"\U0001F600!", L"\U0001F600!", "\xF0\x9F\x98\x80!"},  // a surrogate pair in UTF-16
        // Lone surrogates (and, in wide text, values beyond Unicode) become U+FFFD.
        {std::u16string(u"a") + char16_t(0xD800) + u"b", std::wstring(L"a") + wchar_t(0xD800) + L"b",
         "a\xEF\xBF\xBD" "b"},
        {std::u16string(1, char16_t(0xDC00)), std::wstring(1, wchar_t(0x110000)), "\xEF\xBF\xBD"},
        {std::u16string(1, char16_t(0xDBFF)), std::wstring(1, wchar_t(0xDFFF)), "\xEF\xBF\xBD"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.utf8, CFiStringTool::toNarrow(c.utf16.data(), c.utf16.size()));
        EXPECT_EQ(c.utf8, CFiStringTool::toNarrow(c.wide));
    }
    EXPECT_EQ("", CFiStringTool::toNarrow(static_cast<const char16_t *>(nullptr), 3));
}

} // namespace

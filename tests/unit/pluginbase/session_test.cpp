// Sessions, the session registry, the objctl argument text and the kit's
// one text conversion (wide text and the XML parser's UTF-16).
#include "pdk/cfisession.h"
#include "pdk/cfistringtool.h"

#include "wide.h"

#include <gtest/gtest.h>

#include <string>

using namespace kelm_pdk_4_4;
using pbtest::W;

namespace {

using pbtest::str;

// ---- sessions ----

// Sharing a session per context is checked through the select/make entry
// points and the concurrency test; creating missing node records empty, and
// no session for a null context, through the entry points.
TEST(Session, RecordingAgainStartsAfreshAndNamesAreKeyedByUtf8) {
    CFiSession s("ctx");
    s.addNode(W(L"disk1"), "key1");
    s.getNode("disk1").targetName = W(L"snap1");
    s.addNode(W(L"disk1"), "key9");
    EXPECT_EQ(s.getNode("disk1").key, "key9");
    EXPECT_EQ(s.getNode("disk1").targetName.length(), 0u);
    EXPECT_EQ(s.nodes().size(), 1u);
    s.addNode(W(L"d\u00e9v"), "k");
    EXPECT_TRUE(s.hasNode("d\xc3\xa9v"));
    EXPECT_FALSE(s.hasNode("disk2"));
}

// ---- objctl text ----

// How many items a text gives, and the first item's three attributes.
TEST(ObjctlArgs, ReadsItemsUntilTheFirstFault) {
    struct Case {
        const wchar_t *text;
        size_t items;
        const wchar_t *first; // arg|value|type
    } cases[] = {
        {L"<OBJCTL_ARG_LIST> <OBJCTL_INPUT arg=a value=b type=c /> </OBJCTL_ARG_LIST>", 1, L"a|b|c"},
        // Runs of spaces count as one; other white space is text.
        {L"   <OBJCTL_ARG_LIST>    <X arg=a1  value=v1 type=t1 /> <Y arg=a2 value=v\t2 type=t2 />   "
         L"</OBJCTL_ARG_LIST>   ", 2, L"a1|v1|t1"},
        // Text not starting with the list tag gives nothing.
        {L"<OBJCTL_INPUT arg=a value=b type=c />", 0, L""},
        {L"<OBJCTL_ARG_LIST>x arg=a value=b type=c />", 0, L""},
        {L"", 0, L""},
        // A missing or misnamed attribute stops without storing the item.
        {L"<OBJCTL_ARG_LIST> <I arg=a value=b /> </OBJCTL_ARG_LIST>", 0, L""},
        {L"<OBJCTL_ARG_LIST> <I value=b arg=a type=c /> </OBJCTL_ARG_LIST>", 0, L""},
        {L"<OBJCTL_ARG_LIST> <I arg=a value=b", 0, L""},
        {L"<OBJCTL_ARG_LIST> <I arg=a value=b type=c /> <I arg=d valu=e type=f /> <I arg=g value=h type=i /> "
         L"</OBJCTL_ARG_LIST>", 1, L"a|b|c"},
        // A bad closing token or the end of the text stops after storing the item.
        {L"<OBJCTL_ARG_LIST> <I arg=a value=b type=c > <I arg=d value=e type=f /> </OBJCTL_ARG_LIST>", 1, L"a|b|c"},
        {L"<OBJCTL_ARG_LIST> <I arg=a value=b type=c", 1, L"a|b|c"},
        // Attributes may be empty; the closing list tag ends reading.
        {L"<OBJCTL_ARG_LIST> <I arg= value= type= /> </OBJCTL_ARG_LIST> <I arg=x value=y type=z />", 1, L"||"},
    };
    for (const Case &c : cases) {
        CFiObjctlArgs args(c.text);
        ASSERT_EQ(args.inputs.size(), c.items) << std::wstring(c.text).size();
        EXPECT_TRUE(args.outputs.empty());
        if (c.items == 0) continue;
        EXPECT_EQ(str(args.inputs[0].arg) + L"|" + str(args.inputs[0].value) + L"|" + str(args.inputs[0].type), c.first);
    }
    CFiObjctlArgs tab(cases[1].text);
    EXPECT_EQ(str(tab.inputs[1].value), L"v\t2");
    EXPECT_TRUE(CFiObjctlArgs(static_cast<const wchar_t *>(nullptr)).inputs.empty());
}

TEST(StringTool, Utf16AndWideTextGiveTheSameUtf8) {
    const struct {
        std::u16string utf16;
        std::wstring wide;
        const char *utf8;
    } cases[] = {
        {u"\u00e9\u4e2d", L"\u00e9\u4e2d", "\xC3\xA9\xE4\xB8\xAD"},
        {u"\U0001F600!", L"\U0001F600!", "\xF0\x9F\x98\x80!"},  // a surrogate pair in UTF-16
        // Lone surrogates (and, in wide text, values beyond Unicode) become U+FFFD.
        {std::u16string(u"a") + char16_t(0xD800) + u"b", std::wstring(L"a") + wchar_t(0xD800) + L"b",
         "a\xEF\xBF\xBD" "b"},
        {std::u16string(1, char16_t(0xDC00)), std::wstring(1, wchar_t(0x110000)), "\xEF\xBF\xBD"},
        {std::u16string(1, char16_t(0xDBFF)), std::wstring(1, wchar_t(0xDFFF)), "\xEF\xBF\xBD"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.utf8, kelm_pdk_4_4::CFiStringTool::toNarrow(c.utf16.data(), c.utf16.size()));
        EXPECT_EQ(c.utf8, kelm_pdk_4_4::CFiStringTool::toNarrow(c.wide));
    }
    EXPECT_EQ("", kelm_pdk_4_4::CFiStringTool::toNarrow(static_cast<const char16_t *>(nullptr), 3));
}

} // namespace

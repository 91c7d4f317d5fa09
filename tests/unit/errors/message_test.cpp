// Serialised messages: exact text, round trips and hostile input; status
// code message identifiers.
#include "pdk/cfierror.h"
#include "pdk/cfistringtool.h"

#include <gtest/gtest.h>

#include <unicode/unistr.h>

#include <climits>
#include <memory>
#include <vector>

using namespace kelm_pdk_4_4;

// Wide text from UTF-8.
static WString W(const char *s) { return CFiStringTool::toWide(s); }
using icu::Formattable;
using icu::UnicodeString;

namespace {

std::string utf8(const Formattable &f) {
    std::string out;
    UnicodeString s;
    f.getString(s).toUTF8String(out);
    return out;
}

std::string textOf(const kel_msg_info *info) { return std::string(info->text, info->length); }

// Reads a text from an exact-size heap copy, without terminator, so that
// any read past the given length is caught by the address sanitizer.
std::unique_ptr<CFiIcuMessage> readExact(const std::string &text) {
    std::vector<char> exact(text.begin(), text.end());
    kel_msg_info info{exact.data(), static_cast<uint32_t>(exact.size())};
    return std::unique_ptr<CFiIcuMessage>(new CFiIcuMessage(&info));
}

const char kTwoArgs[] =
    "<SERIALIZED_MESSAGE MSGID=MSG_ERROR_UDID_PARSING_EXCEPTION SEVERITY=3>\n"
    "\t<ARGVALUE INDEX=0 TYPE=3>abc</ARGVALUE>\n"
    "\t<ARGVALUE INDEX=1 TYPE=2>7</ARGVALUE>\n"
    "</SERIALIZED_MESSAGE>\n";

} // namespace

// Reading back is every other test's (and the entry points' last-error test's).
TEST(SerializedMessage, TwoArgumentsSerialiseExactly) {
    Formattable args[] = {Formattable(UnicodeString("abc")), Formattable(static_cast<int32_t>(7))};
    CFiIcuMessage m("MSG_ERROR_UDID_PARSING_EXCEPTION", args, 2, KEL_SEV_ERROR, "providers\\device\\device_plugin", 12);
    const kel_msg_info *info = m.serialize();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(textOf(info), kTwoArgs);
    EXPECT_EQ(m.serialize(), info) << "a second call keeps the record in place";
    EXPECT_EQ(textOf(CFiIcuMessage(info).serialize()), kTwoArgs);
}

// Every type's text, and what a reader keeps: a date comes back as a double
// (its text unchanged), the array argument is dropped, the rest exactly.
TEST(SerializedMessage, EveryArgumentTypeRoundTrips) {
    Formattable inner[] = {Formattable(static_cast<int32_t>(1))};
    Formattable args[] = {
        Formattable(1.5e300), Formattable(static_cast<UDate>(1234567890123.0), Formattable::kIsDate),
        Formattable(static_cast<int32_t>(INT32_MIN)), Formattable(static_cast<int64_t>(1) << 40),
        Formattable(UnicodeString::fromUTF8("Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x92\xBE <tag> & &lt;")),
        Formattable(inner, 1), Formattable(UnicodeString("")),
    };
    std::string text = textOf(CFiIcuMessage("ID", args, 7, KEL_SEV_INFO, "f", 1).serialize());
    // Seventeen digits: a double that read back differently would print differently.
    const std::string head = "<SERIALIZED_MESSAGE MSGID=ID SEVERITY=1>\n"
                             "\t<ARGVALUE INDEX=0 TYPE=1>1.5000000000000001e+300</ARGVALUE>\n";
    const std::string middle = "\t<ARGVALUE INDEX=2 TYPE=2>-2147483648</ARGVALUE>\n"
                               "\t<ARGVALUE INDEX=3 TYPE=5>1099511627776</ARGVALUE>\n"
                               "\t<ARGVALUE INDEX=4 TYPE=3>Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x92\xBE &lt;tag> & &amp;lt;</ARGVALUE>\n";
    EXPECT_EQ(text, head + "\t<ARGVALUE INDEX=1 TYPE=0>1234567890123</ARGVALUE>\n" + middle +
                        "\t<ARGVALUE INDEX=5 TYPE=4></ARGVALUE>\n\t<ARGVALUE INDEX=6 TYPE=3></ARGVALUE>\n</SERIALIZED_MESSAGE>\n");
    EXPECT_EQ(textOf(readExact(text)->serialize()), head + "\t<ARGVALUE INDEX=1 TYPE=1>1234567890123</ARGVALUE>\n" +
                                                        middle + "\t<ARGVALUE INDEX=5 TYPE=3></ARGVALUE>\n</SERIALIZED_MESSAGE>\n");
}

TEST(SerializedMessage, ReaderKeepsDocumentOrderAndSkipsWhatItCannotRead) {
    auto m = readExact(
        "noise <SERIALIZED_MESSAGE MSGID=X SEVERITY=4>\n"
        "\t<ARGVALUE INDEX=5 TYPE=2>1</ARGVALUE>\n"
        "\t<ARGVALUE INDEX=0 TYPE=9>dropped</ARGVALUE>\n"
        "\t<ARGVALUE INDEX=x TYPE=2>bad tag</ARGVALUE>\n"
        "\t<ARGVALUE INDEX=1 TYPE=2>abc</ARGVALUE>\n"
        "\t<ARGVALUE INDEX=2 TYPE=2>99999999999999</ARGVALUE>\n"
        "\t<ARGVALUE INDEX=3 TYPE=1>2.5</ARGVALUE>\n"
        "</SERIALIZED_MESSAGE>\n");
    EXPECT_EQ(m->messageId(), "X");
    EXPECT_EQ(m->severity(), KEL_SEV_DEBUG);
    std::vector<Formattable> a = m->arguments();
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(a[0].getLong(), 1);
    EXPECT_EQ(a[1].getLong(), 0) << "non-numeric text reads as 0";
    EXPECT_EQ(a[2].getLong(), INT32_MAX) << "out of range saturates";
    EXPECT_EQ(a[3].getDouble(), 2.5);
}

TEST(SerializedMessage, HostileTextsGiveEmptyOrPartialMessages) {
    auto none = readExact("MSGID=X SEVERITY=3> <ARGVALUE INDEX=0 TYPE=2>1</ARGVALUE>");
    EXPECT_EQ(none->messageId(), "");
    EXPECT_EQ(none->severity(), KEL_SEV_NONE);
    EXPECT_TRUE(none->arguments().empty());

    auto huge = readExact("<SERIALIZED_MESSAGE MSGID=" + std::string(5000, 'A') + " SEVERITY=3>\n");
    EXPECT_EQ(huge->messageId(), std::string(CFiIcuMessage::kMaxIdLength, 'A'));
    EXPECT_EQ(huge->severity(), KEL_SEV_NONE) << "the rest of the identifier is not a severity";

    // A severity the enum cannot hold is kept as a number and written back.
    auto odd = readExact("<SERIALIZED_MESSAGE MSGID=X SEVERITY=99>\n");
    EXPECT_EQ(odd->severity(), KEL_SEV_NONE);
    EXPECT_EQ(odd->severityNumber(), 99);
    EXPECT_EQ(textOf(odd->serialize()), "<SERIALIZED_MESSAGE MSGID=X SEVERITY=99>\n</SERIALIZED_MESSAGE>\n");
    EXPECT_EQ(readExact("<SERIALIZED_MESSAGE MSGID=X SEVERITY=-99999999999>")->severityNumber(), INT32_MIN);

    auto noLt = readExact("<SERIALIZED_MESSAGE MSGID=X SEVERITY=3>\n\t<ARGVALUE INDEX=0 TYPE=3>unterminated");
    EXPECT_EQ(noLt->messageId(), "X");
    EXPECT_TRUE(noLt->arguments().empty());

    CFiIcuMessage fromNull(static_cast<const kel_msg_info *>(nullptr));
    EXPECT_EQ(fromNull.messageId(), "");
    kel_msg_info nullText{nullptr, 100};
    EXPECT_TRUE(CFiIcuMessage(&nullText).arguments().empty());

    // The record's length bounds the read even when the text goes on.
    std::string full = kTwoArgs;
    kel_msg_info shortInfo{full.c_str(), static_cast<uint32_t>(full.find("\t<ARGVALUE INDEX=1"))};
    EXPECT_EQ(CFiIcuMessage(&shortInfo).arguments().size(), 1u);
    // And a terminator bounds it when the length claims more.
    std::string withNul = std::string(kTwoArgs, full.find("\t<ARGVALUE INDEX=1")) + '\0' + "\t<ARGVALUE INDEX=1 TYPE=2>7<";
    kel_msg_info longInfo{withNul.c_str(), 100000};
    EXPECT_EQ(CFiIcuMessage(&longInfo).arguments().size(), 1u);
}

// A '<' in a string value would end it early, so it is written "&lt;"; a
// value without '<' is written exactly as it is, '&' included, and texts of
// older peers (no escapes at all) read back as written.
TEST(SerializedMessage, StringValuesEscapeOnlyWhatBreaksTheReader) {
    Formattable args[] = {Formattable(UnicodeString("vol=/dev/a&b;q=1 & x&y"))};
    CFiIcuMessage m("MSG_ERROR_DEVICE_NOT_FOUND", args, 1, KEL_SEV_ERROR, "f", 1);
    EXPECT_EQ(textOf(m.serialize()),
              "<SERIALIZED_MESSAGE MSGID=MSG_ERROR_DEVICE_NOT_FOUND SEVERITY=3>\n"
              "\t<ARGVALUE INDEX=0 TYPE=3>vol=/dev/a&b;q=1 & x&y</ARGVALUE>\n"
              "</SERIALIZED_MESSAGE>\n");

    struct Case { const char *value, *written; } cases[] = {
        {"a<b", "a&lt;b"},       {"<", "&lt;"},           {"&lt;", "&amp;lt;"},   {"&amp;", "&amp;amp;"},
        {"&&lt;<", "&&amp;lt;&lt;"}, {"x&", "x&"},         {"&l", "&l"},           {"&am;p", "&am;p"},
        // A string cannot inject an argument of its own.
        {"x</ARGVALUE>\n\t<ARGVALUE INDEX=1 TYPE=2>666</ARGVALUE>",
         "x&lt;/ARGVALUE>\n\t&lt;ARGVALUE INDEX=1 TYPE=2>666&lt;/ARGVALUE>"},
    };
    for (const Case &c : cases) {
        Formattable arg[] = {Formattable(UnicodeString::fromUTF8(c.value))};
        CFiIcuMessage out("ID", arg, 1, KEL_SEV_INFO, "f", 1);
        std::string text = textOf(out.serialize());
        EXPECT_NE(text.find(std::string(">") + c.written + "</ARGVALUE>"), std::string::npos) << text;
        std::vector<Formattable> back = readExact(text)->arguments();
        ASSERT_EQ(back.size(), 1u) << c.value;
        EXPECT_EQ(utf8(back[0]), c.value);
    }

    auto old = readExact("<SERIALIZED_MESSAGE MSGID=X SEVERITY=3>\n\t<ARGVALUE INDEX=0 TYPE=3>R&D &amp co; a&b</ARGVALUE>\n");
    ASSERT_EQ(old->arguments().size(), 1u);
    EXPECT_EQ(utf8(old->arguments()[0]), "R&D &amp co; a&b");
}

TEST(SerializedMessage, EveryTruncationReadsSafely) {
    Formattable args[] = {Formattable(UnicodeString("abc")), Formattable(static_cast<int32_t>(7)),
                          Formattable(3.25)};
    CFiIcuMessage m("MSG_ERROR_UNHANDLED_INT_EXCEPTION", args, 3, KEL_SEV_ERROR, "f", 1);
    std::string text = textOf(m.serialize());
    size_t previous = 0;
    for (size_t n = 0; n <= text.size(); ++n) {
        auto back = readExact(text.substr(0, n));
        size_t count = back->arguments().size();
        EXPECT_GE(count, previous) << "prefix " << n;
        previous = count;
    }
    EXPECT_EQ(previous, 3u);
}

TEST(StatusMessageId, CodesAboveTheOffsetShareTheCommonRange) {
    const std::pair<int, const char *> cases[] = {
        {5, "MSG_ERROR_RENDO_0005"}, {6005, "MSG_ERROR_RENDO_0005"}, {6000, "MSG_ERROR_RENDO_6000"},
        {1098, "MSG_ERROR_RENDO_1098"}};
    for (const auto &c : cases) EXPECT_EQ(CFiError::messageIdFor(c.first, W("rendo"), 6000), c.second);
    EXPECT_EQ(CFiError::messageIdFor(12345, W("MiXed"), 6000), "MSG_ERROR_MIXED_6345");
    EXPECT_EQ(CFiError(29, W("boom"), W("x"), 17, W("ns::f")).messageId(W("rendo"), 6000), "MSG_ERROR_RENDO_0029");
}

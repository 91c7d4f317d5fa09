// Parameter description, value and format option lists: their XML text, the
// SAX readers and the string helpers they rest on.
#include "pdk/cficonfigparam.h"
#include "pdk/cfisaxparser.h"
#include "pdk/cfistringtool.h"

#include <gtest/gtest.h>

#include <string>

using namespace kelm_pdk_4_4;

namespace {

std::string narrow(const WString &w) { return CFiStringTool::toNarrow(w); }
WString wide(const std::string &s) { return CFiStringTool::toWide(s); }

const char kHeader[] = "<?xml version=\"1.0\" standalone=\"yes\" ?>\n";

} // namespace

TEST(XmlText, EscapingOrderNeverDoubleEscapes) {
    EXPECT_EQ(CFiStringTool::convertToXmlSpecialCharacters("&<>\"'"), "&amp;&lt;&gt;&quot;&#39;");
    // Text that already looks escaped is escaped once more, not left alone.
    EXPECT_EQ(CFiStringTool::convertToXmlSpecialCharacters("&lt;"), "&amp;lt;");
    // "&amp;" is undone last, so one decode removes exactly one level.
    EXPECT_EQ(CFiStringTool::convertFromXmlSpecialCharacters("&amp;lt;&#39;&quot;&gt;&lt;&amp;"), "&lt;'\"><&");
}

TEST(ConfigParamInfoList, WritesTheDialectExactly) {
    CFiConfigParamInfoList list;
    CFiConfigParamInfo choice("mode", std::string("fast"), CFiConfigParamInfo::SELECT, "MSG_MODE", true, false);
    choice.selectionItems = {"fast", "a<b"};
    list.addParamInfo(choice);
    list.addParamInfo(CFiConfigParamInfo("count", 3, CFiConfigParamInfo::NO_MODIFY, 0, -1, "MSG_COUNT", false, true));
    std::string expected = std::string(kHeader) +
                           "<ConfigParamList>\n"
                           "<ConfigParam>\n"
                           "\t<key>count</key>\n"
                           "\t<usageType>NO_MODIFY</usageType>\n"
                           "\t<messageId>MSG_COUNT</messageId>\n"
                           "\t<isSharedParam>true</isSharedParam>\n"
                           "\t<dataType>int</dataType>\n"
                           "<dataRange>\n"
                           "\t<rangeMin>0</rangeMin>\n"
                           "\t<rangeMax>-1</rangeMax>\n"
                           "</dataRange>\n"
                           "\t<defaultValue>3</defaultValue>\n"
                           "</ConfigParam>\n"
                           "<ConfigParam>\n"
                           "\t<key>mode</key>\n"
                           "\t<usageType>SELECT</usageType>\n"
                           "\t<messageId>MSG_MODE</messageId>\n"
                           "\t<isSharedParam>false</isSharedParam>\n"
                           "\t<dataType>string_list</dataType>\n"
                           "<selectionList>\n"
                           "\t<selectionItem>fast</selectionItem>\n"
                           "\t<selectionItem>a&lt;b</selectionItem>\n"
                           "</selectionList>\n"
                           "\t<defaultValue>fast</defaultValue>\n"
                           "</ConfigParam>\n"
                           "</ConfigParamList>\n";
    EXPECT_EQ(narrow(list.getXML()), expected);
}

TEST(ConfigParamInfoList, RoundTripAndDefaults) {
    CFiConfigParamInfoList list;
    // A literal default must not fall into the boolean constructor.
    CFiConfigParamInfo sel("z\"q'", "1 & 2", CFiConfigParamInfo::AUTO, "M<1>", true, true);
    sel.selectionItems = {"b", "a", "b"};
    list.addParamInfo(sel);
    list.addParamInfo(CFiConfigParamInfo("n", -5, 0, -100, 100, "M2", true, false));
    list.addParamInfo(CFiConfigParamInfo("f", false, 2, "M3", false, false));
    list.addParamInfo(CFiConfigParamInfo("w", L"\u00e9t\u00e9", 0, "", true, false));
    EXPECT_EQ(list.getParamInfo("w")->dataType, CFiConfigParamInfo::STRING); // the wide form is never a list
    CFiConfigParamInfoList back(list.getXML());
    EXPECT_EQ(back.items(), list.items());
    EXPECT_EQ(back.getXML(), list.getXML());

    CFiConfigParamDataList defaults = list.getDefaultDataList();
    EXPECT_EQ(defaults.getKeys(), (std::vector<std::string>{"f", "n", "w", "z\"q'"}));
    EXPECT_EQ(defaults.getValue("z\"q'") + "|" + defaults.getValue("n") + "|" + defaults.getValue("w"),
              "1 & 2|-5|\xc3\xa9t\xc3\xa9");
    EXPECT_TRUE(CFiConfigParamInfoList().getDefaultDataList().getXML().empty());
}

TEST(ConfigParamInfoList, ReaderMapsUnknownTexts) {
    std::string xml = std::string(kHeader) +
                      "<ConfigParamList><ConfigParam><key>k</key><usageType>auto</usageType>"
                      "<dataType>float</dataType><isSharedParam>yes</isSharedParam>"
                      "<dataRange><rangeMin>12abc</rangeMin><rangeMax>x</rangeMax></dataRange>"
                      "<extra>ignored</extra></ConfigParam></ConfigParamList>";
    CFiConfigParamInfoList list;
    ASSERT_EQ(list.parse(wide(xml)), 0);
    const CFiConfigParamInfo *k = list.getParamInfo("k");
    ASSERT_NE(k, nullptr);
    // Names are case-sensitive; numbers read up to the first non-digit.
    EXPECT_EQ(std::vector<int>({k->usageType, k->dataType, k->rangeMin, k->rangeMax}),
              std::vector<int>({CFiConfigParamInfo::UNKNOWN_USAGE, CFiConfigParamInfo::UNKNOWN_TYPE, 12, 0}));
}

TEST(ConfigParamDataList, KeysInOrderAndExactText) {
    CFiConfigParamDataList list;
    list.addParamData(CFiConfigParamData("b", "2"));
    CFiConfigParamData a("a", "");
    a.addValue("x<y & z");
    a.addValue("w");
    list.addParamData(a);
    std::string expected = std::string(kHeader) +
                           "<ConfigValueList>\n"
                           "<ConfigValue>\n"
                           "\t<dataType></dataType>\n"
                           "\t<key>a</key>\n"
                           "<valueList>\n"
                           "\t<value>x&lt;y &amp; z</value>\n"
                           "\t<value>w</value>\n"
                           "</valueList>\n"
                           "</ConfigValue>\n"
                           "<ConfigValue>\n"
                           "\t<dataType></dataType>\n"
                           "\t<key>b</key>\n"
                           "\t<value>2</value>\n"
                           "</ConfigValue>\n"
                           "</ConfigValueList>\n";
    EXPECT_EQ(narrow(list.getXML()), expected);
    CFiConfigParamDataList back(list.getXML());
    EXPECT_EQ(back.items(), list.items());

    CFiFormatOptionList options;
    options.setValue("o", "v");
    std::string opt = narrow(options.getXML());
    EXPECT_NE(opt.find("<FormatOptionValueList>\n<FormatOptionValue>\n"), std::string::npos);
    EXPECT_EQ(opt.find("ConfigValue"), std::string::npos);
    EXPECT_EQ(CFiFormatOptionList(options.getXML()).items(), options.items());
}

// Integers parse their leading digits and clamp what overflows; a list comes back as the value split.
TEST(ConfigParamDataList, Getters) {
    CFiConfigParamDataList list;
    list.setValue("num", "  -12abc");
    list.setValue("empty", "");
    list.setValue("huge", "99999999999999");
    const struct {
        const char *key;
        int rc, value;
    } cases[] = {{"num", 0, -12}, {"huge", 0, INT32_MAX}, {"empty", 3, 77}, {"absent", 3, 77}};
    for (const auto &c : cases) {
        int v = 77, rc = list.getValue(c.key, v);
        EXPECT_EQ(std::make_pair(rc, v), std::make_pair(c.rc, c.value)) << c.key;
    }
    std::list<std::string> l{"keep"};
    EXPECT_EQ(list.getValue("absent", l), 3);
    EXPECT_EQ(list.getValue("num", l), 0);
    EXPECT_TRUE(l.empty());
}

// Malformed or hostile input: 3, and the list is exactly as before.
TEST(ConfigParamDataList, FailedParseChangesNothing) {
    CFiConfigParamDataList list;
    list.setValue("keep", "me");
    const WString before = list.getXML();
    const char *bad[] = {
        "",
        "<ConfigValueList><ConfigValue><key>k</key>",
        "<a>&undefined;</a>",
        "<ConfigValueList><ConfigValue><key>k</key><value>\x01</value></ConfigValue></ConfigValueList>",
        "<ConfigValueList></ConfigValueList><second/>",
    };
    for (const char *text : bad) {
        SCOPED_TRACE(text);
        EXPECT_EQ(list.parse(wide(text)), 3);
        EXPECT_EQ(list.getXML(), before);
    }
    CFiConfigParamInfoList info;
    info.addParamInfo(CFiConfigParamInfo("k", 1, 0, -1, -1, "", false, false));
    const WString infoBefore = info.getXML();
    EXPECT_EQ(info.parse(wide("<ConfigParamList><ConfigParam>")), 3);
    EXPECT_EQ(info.getXML(), infoBefore);
    EXPECT_NE(info.getParamInfo("k"), nullptr);
}

TEST(ConfigParamDataList, EveryEscapeAndLargeValues) {
    std::string nasty = "&<>\"'&amp;&#39;]]>\t \xc3\xa9\xf0\x9f\x98\x80";
    CFiConfigParamDataList list;
    list.setValue(nasty, nasty);
    std::string big(1 << 20, 'v');
    // Thousands of escapes: the predefined entities do not count against the
    // entity expansion limit.
    for (size_t i = 0; i < big.size(); i += 97) big[i] = "&<>\"'"[i % 5];
    list.setValue("big", big);
    CFiConfigParamDataList back;
    ASSERT_EQ(back.parse(list.getXML()), 0);
    EXPECT_EQ(back.getValue(nasty), nasty);
    EXPECT_EQ(back.getValue("big"), big);
    // Character references and CDATA are read as text.
    CFiConfigParamDataList refs(wide("<ConfigValueList><ConfigValue><key>r</key><value>&#65;&#x42;<![CDATA[<&>]]>"
                                     "</value></ConfigValue></ConfigValueList>"));
    EXPECT_EQ(refs.getValue("r"), "AB<&>");
}

TEST(SaxParser, HostileDocumentsReadNothingFromOutside) {
    // External entities and DTDs must not be fetched.
    std::string xxe = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>"
                      "<ConfigValueList><ConfigValue><key>k</key><value>&x;</value></ConfigValue></ConfigValueList>";
    CFiConfigParamDataList list;
    EXPECT_EQ(list.parse(wide(xxe)), 0);
    EXPECT_EQ(list.getValue("k"), ""); // the entity resolves to nothing
    std::string dtd = "<?xml version=\"1.0\"?><!DOCTYPE r SYSTEM \"file:///nonexistent/x.dtd\"><r/>";
    EXPECT_EQ(CFiConfigParamDataList().parse(wide(dtd)), 0);

    // Exponential entity expansion stops at the expansion limit.
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">";
    for (char c = 'b'; c <= 'k'; ++c) {
        laughs += std::string("<!ENTITY ") + c + " \"";
        for (int i = 0; i < 10; ++i) laughs += std::string("&") + static_cast<char>(c - 1) + ";";
        laughs += "\">";
    }
    laughs += "]><ConfigValueList><ConfigValue><key>k</key><value>&k;</value></ConfigValue></ConfigValueList>";
    EXPECT_EQ(CFiConfigParamDataList().parse(wide(laughs)), 3);
}


// Parsers of outside text: credential sections and UDIDs.
#include "pdk/cficonfiguration.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfiudid.h"

#include <gtest/gtest.h>

using namespace kelm_pdk_4_4;

namespace {

std::string narrow(const WString &s) { return CFiStringTool::toNarrow(s); }

std::list<SFiCredential> parse(const std::string &text, const std::string &vendor, const std::string &product,
                               bool openArray) {
    std::list<SFiCredential> out;
    EXPECT_EQ(CFiCredentialsParser().parseText(text, vendor, product, out, openArray), 0);
    return out;
}

const char kBody[] = "\"HOSTNAME\"=\"h\"\n\"USERNAME\"=\"u\"\n\"PASSWORD\"=\"p\"\n";

} // namespace

TEST(CredentialsParser, HeaderIsWantedOnlyWithThreeTokensAndMatchingArray) {
    struct Case {
        const char *header, *vendor, *product;
        bool openArray;
        size_t found;
    } cases[] = {
        {"STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\server1", "EMC", "CLARIION", false, 1},
        {"storage_management_service\\EMC_CLARIION\\server1", "EMC", "", false, 1},
        {"STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\s", "", "", false, 1},
        {"STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION", "EMC", "", false, 0},
        {"STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\a\\b", "EMC", "", false, 0},
        {"OTHER_SERVICE\\EMC_CLARIION\\s", "EMC", "", false, 0},
        {"STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\s", "HITACHI", "", false, 0},
        {"STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\s", "EMC", "SYMMETRIX", false, 0},
        {"STORAGE_MANAGEMENT_SERVICE\\OPENARRAY_X\\s", "", "", false, 0},
        {"STORAGE_MANAGEMENT_SERVICE\\OPENARRAY_X\\s", "", "", true, 1},
        {"STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\s", "", "", true, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(parse(std::string("[") + c.header + "]\n" + kBody, c.vendor, c.product, c.openArray).size(), c.found)
            << c.header << " " << c.vendor << c.product;
    // Values outside any wanted section are ignored.
    EXPECT_EQ(parse(kBody, "", "", false).size(), 0u);
    // An incomplete set is kept only for open arrays.
    std::string two = "\"HOSTNAME\"=\"h\"\n\"USERNAME\"=\"u\"\n";
    EXPECT_EQ(parse("[STORAGE_MANAGEMENT_SERVICE\\EMC_X\\s]\n" + two, "EMC", "", false).size(), 0u);
    std::list<SFiCredential> open =
        parse("[STORAGE_MANAGEMENT_SERVICE\\OPENARRAY_A\\s]\n" + two + "[unrelated]\n", "", "", true);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_TRUE(open.front().password.empty());
}

// Lines ending "\r\n" read as if they ended "\n"; otherwise no quoted value
// of such a text would be accepted and every credential in it lost.
TEST(CredentialsParser, ValuesPortsAndMalformedLines) {
    std::list<SFiCredential> list = parse("[STORAGE_MANAGEMENT_SERVICE\\EMC_X\\s]\r\n"
                                          "\"HOSTNAME\"=\"host=a\"\r\n\"USERNAME\"=\"u\"\r\n\"PASSWORD\"=\"\"\"\r\n"
                                          "\"PORT\"=dword:5989\r\n\"DATA\"=\"d\"\r\nno equals sign here\r\n"
                                          "\"USERNAME\"=unquoted\r\n\"=\r\n\"OTHER\"=\"x\"\r\n",
                                          "EMC", "", false);
    ASSERT_EQ(list.size(), 1u);
    const SFiCredential &c = list.front();
    EXPECT_EQ(narrow(c.hostName) + "|" + narrow(c.password) + "|" + narrow(c.data), "host=a|\"|d");
    EXPECT_EQ(c.port, 5989);
    const std::pair<const char *, int> ports[] = {
        {"\"443\"", 443}, {"dword:12ab", -1}, {"dword:99999999999999999999", -1} /* would overflow */,
        {"dword:2147483647", 2147483647}};
    for (const auto &p : ports) {
        std::list<SFiCredential> l = parse(
            std::string("[STORAGE_MANAGEMENT_SERVICE\\EMC_X\\s]\n") + kBody + "\"PORT\"=" + p.first + "\n", "EMC", "", false);
        EXPECT_EQ(l.empty() ? -2 : l.front().port, p.second) << p.first;
    }
}

TEST(UdidParse, FieldsOfWellFormedTextsAndCodesOfMalformedOnes) {
    struct Case {
        const char *text, *fields; // vendor|product|enclosure|lun|complete, or the code thrown
    } cases[] = {
        {"UDID##EMC##SYMMETRIX##000001879005##01A2", "EMC|SYMMETRIX|000001879005|01A2|1"},
        // The default generator's form has no enclosure; case is kept.
        {"UDID##Vendor##Prod##600a0b80", "Vendor|Prod||600a0b80|0"},
        // The LUN keeps further separators; the prefix may be embedded.
        {"xxUDID##V##P##E##L1##L2", "V|P|E|L1##L2|1"},
        {"UDID########", "||||1"},
        {"UDID##EMC##SYMMETRIX##", "code 1"},
        {"", "code 2"},
        {"udid##EMC##SYM##E##L", "code 2"},
        {"UDID##EMC#SYM", "code 3"},
        {"UDID##EMC##SYMMETRIX#", "code 4"},
    };
    for (const Case &c : cases) {
        std::string got;
        try {
            CFiUdid u(c.text);
            got = u.m_vendor + "|" + u.m_product + "|" + u.m_enclosure + "|" + u.m_lun + "|" + (u.m_complete ? "1" : "0");
        } catch (const CFiUdidException &e) {
            got = "code " + std::to_string(e.code());
            EXPECT_EQ(e.text(), c.text);
        }
        EXPECT_EQ(got, c.fields) << c.text;
    }
}

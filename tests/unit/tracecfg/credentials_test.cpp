#include "pdk/cficonfiguration.h"
#include "pdk/cfistringtool.h"

#include <gtest/gtest.h>

using namespace kelm_pdk_4_4;

namespace {

std::string narrow(const WString &s) { return CFiStringTool::toNarrow(s); }

std::list<SFiCredential> parse(const std::string &text, const std::string &vendor, const std::string &product,
                               bool openArray) {
    std::list<SFiCredential> out;
    CFiCredentialsParser parser;
    EXPECT_EQ(parser.parseText(text, vendor, product, out, openArray), 0);
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
}

TEST(CredentialsParser, IncompleteSetIsKeptOnlyForOpenArrays) {
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
                                          "\"HOSTNAME\"=\"host=a\"\r\n"
                                          "\"USERNAME\"=\"u\"\r\n"
                                          "\"PASSWORD\"=\"\"\"\r\n"
                                          "\"PORT\"=dword:5989\r\n"
                                          "\"DATA\"=\"d\"\r\n"
                                          "no equals sign here\r\n"
                                          "\"USERNAME\"=unquoted\r\n"
                                          "\"=\r\n"
                                          "\"OTHER\"=\"x\"\r\n",
                                          "EMC", "", false);
    ASSERT_EQ(list.size(), 1u);
    const SFiCredential &c = list.front();
    EXPECT_EQ(narrow(c.hostName), "host=a");
    EXPECT_EQ(narrow(c.password), "\"");
    EXPECT_EQ(c.port, 5989);
    EXPECT_EQ(narrow(c.data), "d");

    auto portOf = [](const std::string &value) {
        std::list<SFiCredential> l =
            parse(std::string("[STORAGE_MANAGEMENT_SERVICE\\EMC_X\\s]\n") + kBody + "\"PORT\"=" + value + "\n", "EMC",
                  "", false);
        return l.empty() ? -2 : l.front().port;
    };
    EXPECT_EQ(portOf("\"443\""), 443);
    EXPECT_EQ(portOf("dword:12ab"), -1);
    EXPECT_EQ(portOf("dword:99999999999999999999"), -1); // would overflow
    EXPECT_EQ(portOf("dword:2147483647"), 2147483647);
}

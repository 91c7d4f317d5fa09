#include "kelm/kelm_util.h"
#include "pdk/cficonfiguration.h"
#include "pdk/cfistringtool.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>

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
    std::string body = kBody;
    EXPECT_EQ(parse("[STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\server1]\n" + body, "EMC", "CLARIION", false).size(),
              1u);
    EXPECT_EQ(parse("[storage_management_service\\EMC_CLARIION\\server1]\n" + body, "EMC", "", false).size(), 1u);
    EXPECT_EQ(parse("[STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\s]\n" + body, "", "", false).size(), 1u);
    EXPECT_EQ(parse("[STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION]\n" + body, "EMC", "", false).size(), 0u);
    EXPECT_EQ(parse("[STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\a\\b]\n" + body, "EMC", "", false).size(), 0u);
    EXPECT_EQ(parse("[OTHER_SERVICE\\EMC_CLARIION\\s]\n" + body, "EMC", "", false).size(), 0u);
    EXPECT_EQ(parse("[STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\s]\n" + body, "HITACHI", "", false).size(), 0u);
    EXPECT_EQ(parse("[STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\s]\n" + body, "EMC", "SYMMETRIX", false).size(), 0u);
    EXPECT_EQ(parse("[STORAGE_MANAGEMENT_SERVICE\\OPENARRAY_X\\s]\n" + body, "", "", false).size(), 0u);
    EXPECT_EQ(parse("[STORAGE_MANAGEMENT_SERVICE\\OPENARRAY_X\\s]\n" + body, "", "", true).size(), 1u);
    EXPECT_EQ(parse("[STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\s]\n" + body, "", "", true).size(), 0u);
    // Values outside any wanted section are ignored.
    EXPECT_EQ(parse(body, "", "", false).size(), 0u);
}

TEST(CredentialsParser, IncompleteSetIsKeptOnlyForOpenArrays) {
    std::string two = "\"HOSTNAME\"=\"h\"\n\"USERNAME\"=\"u\"\n";
    EXPECT_EQ(parse("[STORAGE_MANAGEMENT_SERVICE\\EMC_X\\s]\n" + two, "EMC", "", false).size(), 0u);
    EXPECT_EQ(parse("[STORAGE_MANAGEMENT_SERVICE\\EMC_X\\s]\n" + two + "[STORAGE_MANAGEMENT_SERVICE\\EMC_Y\\t]\n" +
                        kBody,
                    "EMC", "", false)
                  .size(),
              1u);
    std::list<SFiCredential> open =
        parse("[STORAGE_MANAGEMENT_SERVICE\\OPENARRAY_A\\s]\n" + two + "[unrelated]\n", "", "", true);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(narrow(open.front().hostName), "h");
    EXPECT_TRUE(open.front().password.empty());
}

TEST(CredentialsParser, ValuesPortsAndMalformedLines) {
    std::list<SFiCredential> list = parse("[STORAGE_MANAGEMENT_SERVICE\\EMC_X\\s]\r\n"
                                          "\"HOSTNAME\"=\"host=a\"\r\n"
                                          "\"USERNAME\"=\"u\"\r\n"
                                          "\"PASSWORD\"=\"\"\"\r\n"
                                          "\"PORT\"=dword:5989\r\n"
                                          "\"DATA\"=\"d\"\r\n"
                                          "no equals sign here\r\n"
                                          "HOSTNAME=\"unquoted name\"\r\n"
                                          "\"USERNAME\"=unquoted\r\n"
                                          "\"\"=\"\r\n"
                                          "\"=\r\n"
                                          "=\r\n"
                                          "\"OTHER\"=\"x\"\r\n",
                                          "EMC", "", false);
    ASSERT_EQ(list.size(), 1u);
    const SFiCredential &c = list.front();
    EXPECT_EQ(narrow(c.hostName), "host=a");
    EXPECT_EQ(narrow(c.userName), "u");
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
    EXPECT_EQ(portOf("dword:"), -1);
    EXPECT_EQ(portOf("dword:12ab"), -1);
    EXPECT_EQ(portOf("dword:-5"), -1);
    EXPECT_EQ(portOf("dword:99999999999999999999"), -1); // would overflow
    EXPECT_EQ(portOf("dword:2147483647"), 2147483647);
}

TEST(CredentialsParser, FrameworkBlobIsReadAndItsBufferFreed) {
    std::string root = rendo_test::makeInstallRoot("creds");
    kelm_reset_buf_stats();
    CFiCredentialsParser parser;
    std::list<SFiCredential> out;
    EXPECT_EQ(parser.parse("EMC", "", out, false), 0); // no blob at all
    EXPECT_TRUE(out.empty());

    std::string file = root + "blob";
    rendo_test::writeFile(file, "");
    setenv("KELM_CREDENTIALS_FILE", file.c_str(), 1);
    EXPECT_EQ(parser.parse("EMC", "", out, false), 31);

    rendo_test::writeFile(file, std::string("[STORAGE_MANAGEMENT_SERVICE\\EMC_X\\s]\n") + kBody);
    EXPECT_EQ(parser.parse("EMC", "", out, false), 0);
    EXPECT_EQ(out.size(), 1u);
    EXPECT_EQ(kelm_get_buf_stats().live, 0u);
    EXPECT_EQ(kelm_get_buf_stats().size_mismatch, 0u);
    unsetenv("KELM_CREDENTIALS_FILE");
    unsetenv("KELM_INSTALL_ROOT");
    rendo_test::removeTree(root);
}

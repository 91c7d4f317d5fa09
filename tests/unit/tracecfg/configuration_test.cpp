#include "kelm/kelm_testkit.h"
#include "pdk/cficonfiguration.h"
#include "pdk/cfistringtool.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kelm_pdk_4_4;

namespace {

std::string narrow(const WString &s) { return CFiStringTool::toNarrow(s); }
WString wide(const char *s) { return CFiStringTool::toWide(s); }

class Configuration : public ::testing::Test {
protected:
    void SetUp() override {
        root = rendo_test::makeInstallRoot("config");
        ASSERT_FALSE(root.empty());
        WString dir, file;
        CFiConfigurationPathTool::getConfigFileInfo(WString(L"comp"), dir, file);
        confDir = narrow(dir);
        confPath = confDir + "comp.conf";
    }
    void TearDown() override {
        unsetenv("KELM_INSTALL_ROOT");
        unsetenv("KELM_CREDENTIALS_FILE");
        rendo_test::removeTree(root);
    }
    std::string root, confDir, confPath;
};

} // namespace

TEST_F(Configuration, ImportFailuresAreRecordedWithTheirLines) {
    CFiConfiguration noDir(wide("/no/such/dir/"), wide("x.conf"), true);
    ASSERT_EQ(noDir.recordedErrors().size(), 1u);
    EXPECT_EQ(narrow(noDir.recordedErrors()[0].text()), "Configuration path verification failed");

    CFiConfiguration noFile(WString(L"comp"));
    ASSERT_EQ(noFile.recordedErrors().size(), 1u);
    EXPECT_EQ(narrow(noFile.recordedErrors()[0].text()),
              "Configuration path succeeded but no configuration file exists.");
    EXPECT_EQ(narrow(noFile.path()), confPath);

    // A file ACE cannot read: a value line before any section.
    rendo_test::writeFile(confPath, "\"A\"=\"1\"\n");
    CFiConfiguration bad;
    EXPECT_NE(bad.importConfig(wide(confDir.c_str()), wide("comp.conf")), 0);
    ASSERT_EQ(bad.recordedErrors().size(), 1u);
    EXPECT_EQ(narrow(bad.recordedErrors()[0].text()), "Import of configuration file failed.");
}

TEST_F(Configuration, ValuesSurviveExportAndImport) {
    {
        CFiConfiguration out(wide(confDir.c_str()), wide("comp.conf"), false);
        ACE_Configuration_Section_Key key;
        ASSERT_EQ(out.openSection(WString(L"TUNING_PARAMS"), key, 1), 0);
        EXPECT_EQ(out.setIntegerValue(WString(L"RETRIES"), 4), 0);
        EXPECT_EQ(out.setStringValue(WString(L"NAME"), CFiStringTool::toWide("d\xc3\xa9j\xc3\xa0")), 0);
        EXPECT_EQ(out.exportConfig(), 0);
    }
    CFiConfiguration in(WString(L"comp"));
    EXPECT_TRUE(in.recordedErrors().empty());
    unsigned int retries = 0;
    WString name;
    EXPECT_EQ(in.getIntegerValue(WString(L"TUNING_PARAMS"), WString(L"RETRIES"), retries), 0);
    EXPECT_EQ(retries, 4u);
    EXPECT_EQ(in.getStringValue(WString(L"TUNING_PARAMS"), WString(L"NAME"), name), 0);
    EXPECT_EQ(narrow(name), "d\xc3\xa9j\xc3\xa0");
    // The other kind or a missing name is an error, and the output is untouched.
    EXPECT_NE(in.getStringValue(WString(L"RETRIES"), name), 0);
    EXPECT_NE(in.getIntegerValue(WString(L"NAME"), retries), 0);
    EXPECT_NE(in.getIntegerValue(WString(L"NOPE"), retries), 0);
    EXPECT_EQ(retries, 4u);
}

// The framework's blob is read through a buffer of its own, which must be freed.
TEST_F(Configuration, FrameworkCredentialsComeFirstAndWinOverSections) {
    kelm_reset_buf_stats();
    std::string blob = root + "blob.txt";
    rendo_test::writeFile(blob, "[STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\s1]\n"
                                "\"HOSTNAME\"=\"Array1\"\n\"USERNAME\"=\"fw\"\n\"PASSWORD\"=\"pw\"\n");
    setenv("KELM_CREDENTIALS_FILE", blob.c_str(), 1);
    // Sections: a duplicate host in another spelling, an incomplete set, an
    // open array that is not wanted, and one new host.
    rendo_test::writeFile(confPath, "[CREDS\\a]\n\"HOSTNAME\"=\"array1\"\n\"USERNAME\"=\"u\"\n\"PASSWORD\"=\"p\"\n"
                                    "[CREDS\\d]\n\"HOSTNAME\"=\"array4\"\n\"USERNAME\"=\"u\"\n"
                                    "[CREDS\\OPENARRAY_x]\n\"HOSTNAME\"=\"open1\"\n\"USERNAME\"=\"u\"\n\"PASSWORD\"=\"p\"\n"
                                    "[CREDS\\b]\n\"HOSTNAME\"=\"array2\"\n\"USERNAME\"=\"u\"\n\"PASSWORD\"=\"p\"\n");
    CFiConfiguration config(WString(L"comp"));
    std::list<SFiCredential> list = config.importCredentials("EMC", "CLARIION", WString(L"CREDS"), false);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(narrow(list.front().userName), "fw");
    EXPECT_EQ(narrow(list.back().hostName), "array2");
    EXPECT_EQ(list.back().port, -1);
    std::list<SFiCredential> open = config.importCredentials("", "", WString(L"CREDS"), true);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(narrow(open.front().hostName), "open1");
    EXPECT_TRUE(config.importCredentials("EMC", "X", WString(L"NO_SUCH"), false).empty());
    EXPECT_EQ(kelm_get_buf_stats().live, 0u);
    EXPECT_EQ(kelm_get_buf_stats().size_mismatch, 0u);
}

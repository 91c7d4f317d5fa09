#include "kelm/kelm_util.h"
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
    EXPECT_EQ(noDir.recordedErrors()[0].line(), 161);
    EXPECT_EQ(noDir.recordedErrors()[0].code(), -1);
    EXPECT_EQ(narrow(noDir.recordedErrors()[0].file()), "pdk\\src\\cficonfiguration");
    EXPECT_EQ(narrow(noDir.recordedErrors()[0].function()), "kelm_pdk_4_4::CFiConfiguration::importConfig");

    CFiConfiguration noFile(WString(L"comp"));
    ASSERT_EQ(noFile.recordedErrors().size(), 1u);
    EXPECT_EQ(narrow(noFile.recordedErrors()[0].text()),
              "Configuration path succeeded but no configuration file exists.");
    EXPECT_EQ(noFile.recordedErrors()[0].line(), 166);
    EXPECT_EQ(narrow(noFile.path()), confPath);

    // A file ACE cannot read: a value line before any section.
    rendo_test::writeFile(confPath, "\"A\"=\"1\"\n");
    CFiConfiguration bad;
    EXPECT_NE(bad.importConfig(wide(confDir.c_str()), wide("comp.conf")), 0);
    ASSERT_EQ(bad.recordedErrors().size(), 1u);
    EXPECT_EQ(narrow(bad.recordedErrors()[0].text()), "Import of configuration file failed.");
    EXPECT_EQ(bad.recordedErrors()[0].line(), 172);

    // Without the import flag nothing is read or recorded.
    CFiConfiguration quiet(wide(confDir.c_str()), wide("missing.conf"), false);
    EXPECT_TRUE(quiet.recordedErrors().empty());
    EXPECT_EQ(narrow(quiet.path()), confDir + "missing.conf");
}

TEST_F(Configuration, ValuesSurviveExportAndImport) {
    {
        CFiConfiguration out(wide(confDir.c_str()), wide("comp.conf"), false);
        ACE_Configuration_Section_Key key;
        ASSERT_EQ(out.openSection(WString(L"TUNING_PARAMS"), key, 1), 0);
        EXPECT_EQ(out.setIntegerValue(WString(L"RETRIES"), 4), 0);
        EXPECT_EQ(out.setStringValue(WString(L"NAME"), CFiStringTool::toWide("d\xc3\xa9j\xc3\xa0")), 0);
        ACE_Configuration_Section_Key child;
        ASSERT_EQ(out.openSection(key, WString(L"CHILD"), child, 1), 0);
        EXPECT_EQ(out.setStringValue(WString(L"X"), WString(L"y")), 0);
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

    ACE_Configuration_Section_Key key;
    ASSERT_EQ(in.openSection(WString(L"TUNING_PARAMS"), key, 0), 0);
    std::list<WString> sections = in.enumerateSections(key);
    ASSERT_EQ(sections.size(), 1u);
    EXPECT_EQ(narrow(sections.front()), "CHILD");
    EXPECT_NE(in.openSection(WString(L"ABSENT"), key, 0), 0);
}

TEST_F(Configuration, GarbageFileDoesNotCrash) {
    std::string garbage = "[unterminated\n\"=\n\"A\"=dword:zz\n[S]\n\"B\"=hex:1,2,3,\n\"C\"=\"x\n";
    garbage += std::string(5000, '[') + "\n" + std::string(3, '\0') + "\xff\xfe\n";
    rendo_test::writeFile(confPath, garbage);
    CFiConfiguration config(WString(L"comp"));
    unsigned int v = 0;
    WString s;
    config.getIntegerValue(WString(L"S"), WString(L"A"), v);
    config.getStringValue(WString(L"S"), WString(L"C"), s);
    SUCCEED();
}

TEST_F(Configuration, CredentialSectionsFollowTheOpenArrayFlagAndDropDuplicates) {
    rendo_test::writeFile(confPath,
                          "[CREDS]\n"
                          "[CREDS\\a]\n\"HOSTNAME\"=\"array1\"\n\"USERNAME\"=\"u\"\n\"PASSWORD\"=\"p\"\n"
                          "[CREDS\\b]\n\"HOSTNAME\"=\"ARRAY1\"\n\"USERNAME\"=\"u2\"\n\"PASSWORD\"=\"p2\"\n"
                          "[CREDS\\c]\n\"HOSTNAME\"=\"array3\"\n\"USERNAME\"=\"<none>\"\n\"PASSWORD\"=\"p\"\n"
                          "[CREDS\\d]\n\"HOSTNAME\"=\"array4\"\n\"USERNAME\"=\"u\"\n"
                          "[CREDS\\OPENARRAY_x]\n\"HOSTNAME\"=\"open1\"\n\"USERNAME\"=\"u\"\n\"PASSWORD\"=\"p\"\n");
    CFiConfiguration config(WString(L"comp"));
    std::list<SFiCredential> normal = config.importCredentials("EMC", "CLARIION", WString(L"CREDS"), false);
    // ACE enumerates in hash order: either spelling of the host may come first.
    ASSERT_EQ(normal.size(), 1u);
    EXPECT_TRUE(CFiStringTool::equalsNoCase(narrow(normal.front().hostName), "array1"));
    EXPECT_EQ(normal.front().port, -1);

    std::list<SFiCredential> open = config.importCredentials("", "", WString(L"CREDS"), true);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(narrow(open.front().hostName), "open1");

    EXPECT_TRUE(config.importCredentials("EMC", "X", WString(L"NO_SUCH"), false).empty());
}

TEST_F(Configuration, FrameworkCredentialsComeFirstAndWinOverSections) {
    std::string blob = root + "blob.txt";
    rendo_test::writeFile(blob, "[STORAGE_MANAGEMENT_SERVICE\\EMC_CLARIION\\s1]\n"
                                "\"HOSTNAME\"=\"Array1\"\n\"USERNAME\"=\"fw\"\n\"PASSWORD\"=\"pw\"\n");
    setenv("KELM_CREDENTIALS_FILE", blob.c_str(), 1);
    rendo_test::writeFile(confPath, "[CREDS\\a]\n\"HOSTNAME\"=\"array1\"\n\"USERNAME\"=\"u\"\n\"PASSWORD\"=\"p\"\n"
                                    "[CREDS\\b]\n\"HOSTNAME\"=\"array2\"\n\"USERNAME\"=\"u\"\n\"PASSWORD\"=\"p\"\n");
    CFiConfiguration config(WString(L"comp"));
    std::list<SFiCredential> list = config.importCredentials("EMC", "CLARIION", WString(L"CREDS"), false);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(narrow(list.front().userName), "fw");
    EXPECT_EQ(narrow(list.back().hostName), "array2");
}

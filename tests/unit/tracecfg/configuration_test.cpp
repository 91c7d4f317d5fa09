// Configuration files, the credential sections and the install paths.
#include "kelm/kelm_testkit.h"
#include "pdk/cficonfiguration.h"
#include "pdk/cfistringtool.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace kelm_pdk_4_4;

namespace {

std::string narrow(const WString &s) { return CFiStringTool::toNarrow(s); }
WString wide(const std::string &s) { return CFiStringTool::toWide(s); }

// A private install root; every framework buffer handed out is given back.
class Configuration : public ::testing::Test {
protected:
    void SetUp() override {
        root = rendo_test::makeInstallRoot("config");
        ASSERT_FALSE(root.empty());
        WString dir, file;
        CFiConfigurationPathTool::getConfigFileInfo(WString(L"comp"), dir, file);
        confDir = narrow(dir);
        confPath = confDir + "comp.conf";
        kelm_reset_buf_stats();
    }
    void TearDown() override {
        EXPECT_EQ(kelm_get_buf_stats().live, 0u);
        EXPECT_EQ(kelm_get_buf_stats().size_mismatch, 0u);
        rendo_test::removeTree(root);
    }
    std::string errorOf(const CFiConfiguration &c) {
        return c.recordedErrors().size() == 1 ? narrow(c.recordedErrors()[0].text()) : "not one error";
    }
    std::string root, confDir, confPath;
};

using PathTool = Configuration;

} // namespace

TEST_F(Configuration, ImportFailuresAreRecordedWithTheirLines) {
    EXPECT_EQ(errorOf(CFiConfiguration(wide("/no/such/dir/"), wide("x.conf"), true)),
              "Configuration path verification failed");
    CFiConfiguration noFile(WString(L"comp"));
    EXPECT_EQ(errorOf(noFile), "Configuration path succeeded but no configuration file exists.");
    EXPECT_EQ(narrow(noFile.path()), confPath);
    // A file ACE cannot read: a value line before any section.
    rendo_test::writeFile(confPath, "\"A\"=\"1\"\n");
    CFiConfiguration bad;
    EXPECT_NE(bad.importConfig(wide(confDir), wide("comp.conf")), 0);
    EXPECT_EQ(errorOf(bad), "Import of configuration file failed.");
}

TEST_F(Configuration, ValuesSurviveExportAndImport) {
    {
        CFiConfiguration out(wide(confDir), wide("comp.conf"), false);
        ACE_Configuration_Section_Key key;
        ASSERT_EQ(out.openSection(WString(L"TUNING_PARAMS"), key, 1), 0);
        EXPECT_EQ(out.setIntegerValue(WString(L"RETRIES"), 4), 0);
        EXPECT_EQ(out.setStringValue(WString(L"NAME"), wide("d\xc3\xa9j\xc3\xa0")), 0);
        EXPECT_EQ(out.exportConfig(), 0);
    }
    CFiConfiguration in(WString(L"comp"));
    EXPECT_TRUE(in.recordedErrors().empty());
    unsigned int retries = 0;
    WString name;
    EXPECT_EQ(in.getIntegerValue(WString(L"TUNING_PARAMS"), WString(L"RETRIES"), retries), 0);
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
    EXPECT_EQ(narrow(list.front().userName) + " " + narrow(list.back().hostName), "fw array2");
    EXPECT_EQ(list.back().port, -1);
    std::list<SFiCredential> open = config.importCredentials("", "", WString(L"CREDS"), true);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(narrow(open.front().hostName), "open1");
    EXPECT_TRUE(config.importCredentials("EMC", "X", WString(L"NO_SUCH"), false).empty());
}

// The folders' paths are the other tests': the trace log's defaults under
// Logs/, its settings under ConfigFiles/, the bundles under Messages/, the
// cache keys below.
TEST_F(PathTool, InstallRootAndFolderFailures) {
    setenv("KELM_CONSUMER_NAME", "backup", 1); // selects a registry key that does not exist
    WString path, dir, file;
    // The registry's failure is the result even though the path was found.
    EXPECT_NE(CFiConfigurationPathTool::getInstallPath(path), 0);
    EXPECT_EQ(narrow(path), root);
    EXPECT_EQ(CFiConfigurationPathTool::verify(WString(L"/no/such/dir")), -1);
    rendo_test::removeTree(root + "Logs");
    rendo_test::writeFile(root + "Logs", "a file where the folder should be");
    EXPECT_NE(CFiConfigurationPathTool::getTraceFileInfo(WString(L"rendo"), dir, file), 0);
}

// Colons become '_' in the file name only; path separators and dot-dot never
// leave the folder. An identifier the parser rejects (each of its four codes)
// gives -1 and no path, not an exception.
TEST_F(PathTool, CacheKeys) {
    auto devKey = &CFiConfigurationPathTool::getDevKey;
    auto lunKey = &CFiConfigurationPathTool::getLunKey;
    const struct {
        decltype(devKey) key;
        const char *udid;
        int status;
        std::string path;
    } cases[] = {
        {devKey, "UDID##V##P##ENC1##0A", 0, root + "CacheFiles/devHandle/ENC1/UDID##V##P##ENC1##0A"},
        {lunKey, "UDID##HP##HSV##50:01:43##1:2", 0, root + "CacheFiles/luns/50:01:43/UDID##HP##HSV##50_01_43##1_2"},
        {devKey, "UDID##V##P##..##a/../../b", 0, root + "CacheFiles/devHandle/__/UDID##V##P##..##a_.._.._b"},
        {lunKey, "UDID##V##P##x/y##1", 0, root + "CacheFiles/luns/x_y/UDID##V##P##x_y##1"},
        {devKey, "not a udid", -1, ""}, {devKey, "UDID##V", -1, ""}, {devKey, "UDID##V##P", -1, ""},
        {devKey, "UDID##V##P##", -1, ""}, {lunKey, "not a udid", -1, ""}, {lunKey, "UDID##V", -1, ""},
        {lunKey, "UDID##V##P", -1, ""}, {lunKey, "UDID##V##P##", -1, ""},
    };
    for (const auto &c : cases) {
        WString path(L"stale");
        int status = 1;
        EXPECT_NO_THROW(status = c.key(c.udid, path)) << c.udid;
        EXPECT_EQ(status, c.status) << c.udid;
        EXPECT_EQ(narrow(path), c.path) << c.udid;
    }
    EXPECT_TRUE(std::filesystem::is_directory(root + "CacheFiles/devHandle/ENC1"));
}

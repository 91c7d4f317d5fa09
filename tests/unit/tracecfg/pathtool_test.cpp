#include "kelm/kelm_testkit.h"
#include "pdk/cficonfiguration.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfiudid.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace kelm_pdk_4_4;

namespace {

std::string narrow(const WString &s) { return CFiStringTool::toNarrow(s); }

class PathTool : public ::testing::Test {
protected:
    void SetUp() override {
        root = rendo_test::makeInstallRoot("paths");
        ASSERT_FALSE(root.empty());
        kelm_reset_buf_stats();
    }
    void TearDown() override {
        EXPECT_EQ(kelm_get_buf_stats().live, 0u);
        EXPECT_EQ(kelm_get_buf_stats().size_mismatch, 0u);
        unsetenv("KELM_INSTALL_ROOT");
        unsetenv("KELM_CONSUMER_NAME");
        rendo_test::removeTree(root);
    }
    std::string root;
};

} // namespace

TEST_F(PathTool, InstallRootAndTheFoldersBuiltOnIt) {
    setenv("KELM_CONSUMER_NAME", "backup", 1); // selects a registry key that does not exist
    WString path;
    // The registry's failure is the result even though the path was found.
    EXPECT_NE(CFiConfigurationPathTool::getInstallPath(path), 0);
    EXPECT_EQ(narrow(path), root);

    WString dir, file;
    EXPECT_EQ(CFiConfigurationPathTool::getTraceFileInfo(WString(L"rendo"), dir, file), 0);
    EXPECT_EQ(narrow(dir) + narrow(file), root + "Logs/rendo.log");
    EXPECT_TRUE(std::filesystem::is_directory(narrow(dir)));
    EXPECT_EQ(CFiConfigurationPathTool::getConfigFileInfo(WString(L"rendo"), dir, file), 0);
    EXPECT_EQ(narrow(dir) + narrow(file), root + "ConfigFiles/rendo.conf");
    EXPECT_EQ(CFiConfigurationPathTool::getMessageFileInfo(WString(L"rendo"), dir, file), 0);
    EXPECT_EQ(narrow(dir) + narrow(file), root + "Messages/librendo");
    EXPECT_EQ(CFiConfigurationPathTool::getCacheLocationInfo(dir), 0);
    EXPECT_EQ(narrow(dir), root + "CacheFiles/");
    EXPECT_TRUE(std::filesystem::is_directory(narrow(dir)));
    EXPECT_EQ(CFiConfigurationPathTool::verify(WString(L"/no/such/dir")), -1);

    rendo_test::removeTree(root + "Logs");
    rendo_test::writeFile(root + "Logs", "a file where the folder should be");
    EXPECT_NE(CFiConfigurationPathTool::getTraceFileInfo(WString(L"rendo"), dir, file), 0);
}

TEST_F(PathTool, CacheKeysReplaceColonsInTheFileNameOnly) {
    WString path;
    EXPECT_EQ(CFiConfigurationPathTool::getDevKey("UDID##V##P##ENC1##0A", path), 0);
    EXPECT_EQ(narrow(path), root + "CacheFiles/devHandle/ENC1/UDID##V##P##ENC1##0A");
    EXPECT_TRUE(std::filesystem::is_directory(root + "CacheFiles/devHandle/ENC1"));

    EXPECT_EQ(CFiConfigurationPathTool::getLunKey("UDID##HP##HSV##50:01:43##1:2", path), 0);
    EXPECT_EQ(narrow(path), root + "CacheFiles/luns/50:01:43/UDID##HP##HSV##50_01_43##1_2");

    // Path separators and dot-dot never leave the folder.
    CFiConfigurationPathTool::getDevKey("UDID##V##P##..##a/../../b", path);
    EXPECT_EQ(narrow(path), root + "CacheFiles/devHandle/__/UDID##V##P##..##a_.._.._b");
    CFiConfigurationPathTool::getLunKey("UDID##V##P##x/y##1", path);
    EXPECT_EQ(narrow(path), root + "CacheFiles/luns/x_y/UDID##V##P##x_y##1");
}

// The path tool reports by status only: an identifier the parser rejects
// (each of its four codes) gives -1 and no path, from both functions.
TEST_F(PathTool, MalformedIdentifiersGiveAStatusNotAnException) {
    for (const char *udid : {"not a udid", "UDID##V", "UDID##V##P", "UDID##V##P##"}) {
        for (auto key : {&CFiConfigurationPathTool::getDevKey, &CFiConfigurationPathTool::getLunKey}) {
            WString path(L"stale");
            int status = 0;
            EXPECT_NO_THROW(status = key(udid, path)) << udid;
            EXPECT_EQ(status, -1) << udid;
            EXPECT_TRUE(path.empty()) << udid;
        }
    }
}

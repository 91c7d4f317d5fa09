#include "kelm/kelm_util.h"
#include "pdk/cficonfiguration.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfiudid.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

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

TEST_F(PathTool, InstallRootComesFromTheFrameworkWhenTheRegistryHasNone) {
    setenv("KELM_CONSUMER_NAME", "backup", 1); // selects a key that does not exist either
    WString path;
    // The registry's failure is the result even though the path was found.
    EXPECT_NE(CFiConfigurationPathTool::getInstallPath(path), 0);
    EXPECT_EQ(narrow(path), root);

    WString preset(L"/kept/");
    CFiConfigurationPathTool::getInstallPath(preset);
    EXPECT_EQ(narrow(preset), "/kept/");
    EXPECT_EQ(kelm_get_buf_stats().freed, kelm_get_buf_stats().allocated);
}

TEST_F(PathTool, DirectoryFunctionsBuildAndCreateTheirFolders) {
    WString dir, file;
    EXPECT_EQ(CFiConfigurationPathTool::getTraceFileInfo(WString(L"rendo"), dir, file), 0);
    EXPECT_EQ(narrow(dir), root + "Logs/");
    EXPECT_EQ(narrow(file), "rendo.log");
    EXPECT_TRUE(std::filesystem::is_directory(narrow(dir)));

    EXPECT_EQ(CFiConfigurationPathTool::getConfigFileInfo(WString(L"rendo"), dir, file), 0);
    EXPECT_EQ(narrow(dir), root + "ConfigFiles/");
    EXPECT_EQ(narrow(file), "rendo.conf");
    EXPECT_TRUE(std::filesystem::is_directory(narrow(dir)));

    EXPECT_EQ(CFiConfigurationPathTool::getMessageFileInfo(WString(L"rendo"), dir, file), 0);
    EXPECT_EQ(narrow(dir), root + "Messages/");
    EXPECT_EQ(narrow(file), "librendo");

    EXPECT_EQ(CFiConfigurationPathTool::getCacheLocationInfo(dir), 0);
    EXPECT_EQ(narrow(dir), root + "CacheFiles/");
    EXPECT_TRUE(std::filesystem::is_directory(narrow(dir)));

    EXPECT_EQ(CFiConfigurationPathTool::verify(WString(L"/no/such/dir")), -1);
    EXPECT_EQ(CFiConfigurationPathTool::verify(dir), 0);
}

TEST_F(PathTool, UncreatableDirectoryIsReported) {
    rendo_test::writeFile(root + "Logs", "a file where the folder should be");
    WString dir, file;
    EXPECT_NE(CFiConfigurationPathTool::getTraceFileInfo(WString(L"rendo"), dir, file), 0);
    EXPECT_EQ(narrow(dir), root + "Logs/");
}

TEST_F(PathTool, WithoutInstallRootPathsAreRelative) {
    unsetenv("KELM_INSTALL_ROOT");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(root.c_str()), 0);
    WString dir, file;
    int status = CFiConfigurationPathTool::getTraceFileInfo(WString(L"x"), dir, file);
    bool created = std::filesystem::is_directory(root + "Logs");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(narrow(dir), "Logs/");
    EXPECT_EQ(narrow(file), "x.log");
    EXPECT_TRUE(created);
}

TEST_F(PathTool, CacheKeysReplaceColonsInTheFileNameOnly) {
    WString path;
    EXPECT_EQ(CFiConfigurationPathTool::getDevKey("UDID##V##P##ENC1##0A", path), 0);
    EXPECT_EQ(narrow(path), root + "CacheFiles/devHandle/ENC1/UDID##V##P##ENC1##0A");
    EXPECT_TRUE(std::filesystem::is_directory(root + "CacheFiles/devHandle/ENC1"));

    EXPECT_EQ(CFiConfigurationPathTool::getLunKey("UDID##HP##HSV##50:01:43##1:2", path), 0);
    EXPECT_EQ(narrow(path), root + "CacheFiles/luns/50:01:43/UDID##HP##HSV##50_01_43##1_2");
    EXPECT_TRUE(std::filesystem::is_directory(root + "CacheFiles/luns/50:01:43"));

    // Path separators and dot-dot never leave the folder.
    CFiConfigurationPathTool::getDevKey("UDID##V##P##..##a/../../b", path);
    EXPECT_EQ(narrow(path), root + "CacheFiles/devHandle/__/UDID##V##P##..##a_.._.._b");
    CFiConfigurationPathTool::getLunKey("UDID##V##P##x/y##1", path);
    EXPECT_EQ(narrow(path), root + "CacheFiles/luns/x_y/UDID##V##P##x_y##1");
    EXPECT_THROW(CFiConfigurationPathTool::getDevKey("not a udid", path), CFiUdidException);
}

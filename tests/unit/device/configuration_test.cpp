// The provider's tuning settings. That init reads them, registers the
// message catalogs, and what the defaults are (no file), is the entry-point
// tests' case.
#include "device_configuration.h"

#include "pdk/cfitracelog.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace {

using namespace kelm_pdk_4_4;

class DeviceConfiguration : public ::testing::Test {
protected:
    void SetUp() override { root = rendo_test::makeInstallRoot("devconf"); }
    void TearDown() override { rendo_test::removeTree(root); }

    void writeConfig(const std::string &text) {
        std::filesystem::create_directories(root + "ConfigFiles");
        rendo_test::writeFile(root + "ConfigFiles/rendo.conf", text);
    }
    // importRetryDelay, importRetryAttempts, scsiRetryDelay, scsiRetryAttempts, importInitialDelay.
    static std::vector<uint32_t> values(const CDeviceConfiguration &c) {
        return {c.importRetryDelayInSec, c.importRetryAttempts, c.scsiRetryDelayInSec, c.scsiRetryAttempts,
                c.importInitialDelayInSec};
    }
    const std::vector<uint32_t> defaults{10, 4, 0, 1, 5};

    std::string root;
};

TEST_F(DeviceConfiguration, OnlyTheDwordKeysOfTheTuningSectionChangeWithoutRangeCheck) {
    const std::pair<const char *, std::vector<uint32_t>> cases[] = {
        // String values and keys of other sections are ignored, as is a broken file.
        {"[TUNING_PARAMS]\n\"IMPORT_RETRY_DELAY_IN_SEC\"=\"7\"\n"
         "[DEBUG_TRACE_INFO]\n\"IMPORT_RETRY_ATTEMPTS\"=dword:00000009\n", defaults},
        {"[TUNING_PARAMS\n\"IMPORT_RETRY_ATTEMPTS\"=dword:zz\n\x01\x02", defaults},
        {"[TUNING_PARAMS]\n\"IMPORT_RETRY_ATTEMPTS\"=dword:00000000\n\"SCSI_INQ_RETRY_DELAY_IN_SEC\"=dword:00000003\n"
         "\"IMPORT_INITIAL_DELAY_IN_SEC\"=dword:ffffffff\n", {10, 0, 3, 1, 0xffffffffu}},
    };
    for (const auto &c : cases) {
        writeConfig(c.first);
        CDeviceConfiguration imported;
        EXPECT_EQ(0, imported.importTuningSettings(CFiTraceLogPtr(), WString(L"rendo")));
        EXPECT_EQ(c.second, values(imported)) << c.first;
    }
}

} // namespace

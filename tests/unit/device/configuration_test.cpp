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

TEST(DeviceConfiguration, OnlyTheDwordKeysOfTheTuningSectionChangeWithoutRangeCheck) {
    const std::string root = rendo_test::makeInstallRoot("devconf");
    std::filesystem::create_directories(root + "ConfigFiles");
    const std::vector<uint32_t> defaults{10, 4, 0, 1, 5};
    const std::pair<const char *, std::vector<uint32_t>> cases[] = {
        // String values and keys of other sections are ignored, as is a broken file.
        {"[TUNING_PARAMS]\n\"IMPORT_RETRY_DELAY_IN_SEC\"=\"7\"\n"
         "[DEBUG_TRACE_INFO]\n\"IMPORT_RETRY_ATTEMPTS\"=dword:00000009\n", defaults},
        {"[TUNING_PARAMS\n\"IMPORT_RETRY_ATTEMPTS\"=dword:zz\n\x01\x02", defaults},
        {"[TUNING_PARAMS]\n\"IMPORT_RETRY_ATTEMPTS\"=dword:00000000\n\"SCSI_INQ_RETRY_DELAY_IN_SEC\"=dword:00000003\n"
         "\"IMPORT_INITIAL_DELAY_IN_SEC\"=dword:ffffffff\n", {10, 0, 3, 1, 0xffffffffu}},
    };
    for (const auto &c : cases) {
        rendo_test::writeFile(root + "ConfigFiles/rendo.conf", c.first);
        CDeviceConfiguration t;
        EXPECT_EQ(0, t.importTuningSettings(CFiTraceLogPtr(), WString(L"rendo")));
        // importRetryDelay, importRetryAttempts, scsiRetryDelay, scsiRetryAttempts, importInitialDelay.
        EXPECT_EQ(c.second, (std::vector<uint32_t>{t.importRetryDelayInSec, t.importRetryAttempts, t.scsiRetryDelayInSec,
                                                   t.scsiRetryAttempts, t.importInitialDelayInSec}))
            << c.first;
    }
    rendo_test::removeTree(root);
}

} // namespace

// The provider's tuning settings and its start-up.
#include "device_configuration.h"
#include "device_plugin.h"

#include "test_env.h"

#include "pdk/cfimessagecatalog.h"

#include <gtest/gtest.h>

#include <filesystem>

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
    CDeviceConfiguration imported() {
        CDeviceConfiguration c;
        EXPECT_EQ(0, c.importTuningSettings(CFiTraceLogPtr(), WString(L"rendo")));
        return c;
    }
    static void expectDefaults(const CDeviceConfiguration &c) {
        EXPECT_EQ(10u, c.importRetryDelayInSec);
        EXPECT_EQ(4u, c.importRetryAttempts);
        EXPECT_EQ(0u, c.scsiRetryDelayInSec);
        EXPECT_EQ(1u, c.scsiRetryAttempts);
        EXPECT_EQ(5u, c.importInitialDelayInSec);
    }

    std::string root;
};

TEST_F(DeviceConfiguration, DefaultsWithoutAFileOrWithAnUnusableOne) {
    expectDefaults(CDeviceConfiguration());
    expectDefaults(imported());
    // String values and keys of other sections are ignored.
    writeConfig("[TUNING_PARAMS]\n\"IMPORT_RETRY_DELAY_IN_SEC\"=\"7\"\n"
                "[DEBUG_TRACE_INFO]\n\"IMPORT_RETRY_ATTEMPTS\"=dword:00000009\n");
    expectDefaults(imported());
    writeConfig("[TUNING_PARAMS\n\"IMPORT_RETRY_ATTEMPTS\"=dword:zz\n\x01\x02");
    expectDefaults(imported());
}

TEST_F(DeviceConfiguration, OnlyTheKeysPresentChangeWithoutRangeCheck) {
    writeConfig("[TUNING_PARAMS]\n\"IMPORT_RETRY_ATTEMPTS\"=dword:00000000\n");
    CDeviceConfiguration one = imported();
    EXPECT_EQ(0u, one.importRetryAttempts);
    EXPECT_EQ(10u, one.importRetryDelayInSec);

    writeConfig("[TUNING_PARAMS]\n"
                "\"IMPORT_RETRY_DELAY_IN_SEC\"=dword:00000001\n"
                "\"IMPORT_RETRY_ATTEMPTS\"=dword:00000002\n"
                "\"SCSI_INQ_RETRY_DELAY_IN_SEC\"=dword:00000003\n"
                "\"SCSI_INQ_RETRY_ATTEMPTS\"=dword:00000000\n"
                "\"IMPORT_INITIAL_DELAY_IN_SEC\"=dword:ffffffff\n");
    CDeviceConfiguration c = imported();
    EXPECT_EQ(1u, c.importRetryDelayInSec);
    EXPECT_EQ(2u, c.importRetryAttempts);
    EXPECT_EQ(3u, c.scsiRetryDelayInSec);
    EXPECT_EQ(0u, c.scsiRetryAttempts);
    EXPECT_EQ(0xffffffffu, c.importInitialDelayInSec);
}

TEST_F(DeviceConfiguration, PluginInitReadsSettingsAndRegistersTheCatalogs) {
    writeConfig("[TUNING_PARAMS]\n\"IMPORT_RETRY_DELAY_IN_SEC\"=dword:00000002\n");
    CFiSmartPtr<CDevicePlugin> plugin(new CDevicePlugin);
    CFiMessageCatalogManagerPtr catalogs(new CFiMessageCatalogManager);
    plugin->setProviderName(WString(L"rendo"));
    plugin->registerCatalogManager(catalogs);
    EXPECT_EQ(0, plugin->init());
    EXPECT_EQ(2u, plugin->tuningSettings().importRetryDelayInSec);
    EXPECT_EQ(L"rendo: The initialisation of the provider failed. See the trace file for the cause.",
              std::wstring(catalogs->getMessage("MSG_ERROR_RENDO_0029", nullptr, "").c_str()));
    EXPECT_EQ(0, plugin->delayedInit());
    plugin->fini();
}

TEST_F(DeviceConfiguration, PluginInitWithoutManagersStillSucceeds) {
    CFiSmartPtr<CDevicePlugin> plugin(new CDevicePlugin);
    EXPECT_EQ(0, plugin->init());
    expectDefaults(plugin->tuningSettings());
    std::string scsiName;
    EXPECT_EQ(0, plugin->getScsiToolDeviceName("\\\\.\\PHYSICALDRIVE3", scsiName));
    EXPECT_EQ("\\\\.\\PHYSICALDRIVE3", scsiName);
}

} // namespace

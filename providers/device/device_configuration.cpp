#include "device_configuration.h"

#include "pdk/cficonfiguration.h"
#include "pdk/cfitracelog.h"

using namespace kelm_pdk_4_4;

namespace {

// Only a successful read replaces the field.
void readSetting(CFiConfiguration &config, const wchar_t *key, uint32_t &field) {
    unsigned int value = 0;
    if (config.getIntegerValue(WString(key), value) == 0) field = value;
}

} // namespace

int CDeviceConfiguration::importTuningSettings(const CFiTraceLogPtr &log, const WString &componentName) {
    CFiTraceLogFunction traceScope(log, "CDeviceConfiguration::importTuningSettings");
    try {
        CFiConfiguration config;
        config.setTraceLog(log);
        WString directory;
        WString fileName;
        CFiConfigurationPathTool::getConfigFileInfo(componentName, directory, fileName);
        config.importConfig(directory, fileName);
        ACE_Configuration_Section_Key section;
        if (config.openSection(WString(L"TUNING_PARAMS"), section, 1) != 0) return 0;
        readSetting(config, L"IMPORT_RETRY_DELAY_IN_SEC", importRetryDelayInSec);
        readSetting(config, L"IMPORT_RETRY_ATTEMPTS", importRetryAttempts);
        readSetting(config, L"SCSI_INQ_RETRY_DELAY_IN_SEC", scsiRetryDelayInSec);
        readSetting(config, L"SCSI_INQ_RETRY_ATTEMPTS", scsiRetryAttempts);
        readSetting(config, L"IMPORT_INITIAL_DELAY_IN_SEC", importInitialDelayInSec);
    } catch (...) {
        // Settings are optional: whatever went wrong, the values read so far
        // and the defaults stand.
    }
    return 0;
}

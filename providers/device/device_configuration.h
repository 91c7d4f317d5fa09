// The provider's tuning settings, read from the section TUNING_PARAMS of its
// configuration file.
#ifndef PROVIDERS_DEVICE_DEVICE_CONFIGURATION_H
#define PROVIDERS_DEVICE_DEVICE_CONFIGURATION_H

#include "pdk/cfibase.h"

#include <cstdint>

class CDeviceConfiguration {
public:
    // The defaults hold until importTuningSettings finds a value.
    uint32_t importRetryDelayInSec = 10;  // IMPORT_RETRY_DELAY_IN_SEC
    uint32_t importRetryAttempts = 4;     // IMPORT_RETRY_ATTEMPTS
    uint32_t scsiRetryDelayInSec = 0;     // SCSI_INQ_RETRY_DELAY_IN_SEC
    uint32_t scsiRetryAttempts = 1;       // SCSI_INQ_RETRY_ATTEMPTS
    uint32_t importInitialDelayInSec = 5; // IMPORT_INITIAL_DELAY_IN_SEC

    // Reads the five keys from the configuration file of the named component.
    // A missing file, section or key, or a value stored as a string, leaves the
    // field as it was; no range check (0 is a valid value). Never throws;
    // always returns 0. Traces through log when it is set.
    int importTuningSettings(const kelm_pdk_4_4::CFiTraceLogPtr &log, const kelm_pdk_4_4::WString &componentName);
};

#endif // PROVIDERS_DEVICE_DEVICE_CONFIGURATION_H

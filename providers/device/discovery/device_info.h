// The value record of every device map, and the device map itself.
#ifndef PROVIDERS_DEVICE_DISCOVERY_DEVICE_INFO_H
#define PROVIDERS_DEVICE_DISCOVERY_DEVICE_INFO_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct SDeviceInfo {
    uint32_t dmpClaimLevel = 0;                 // multipath claim level of this path; 0 from the factory
    std::string deviceName;                     // native device path, as CScsiDeviceData::m_deviceName
    std::string udid;                           // the disk's UDID, or empty
    std::vector<std::string> nativeDevicePaths; // further paths of the same disk (multipath discovery)
};

// Device name (ordinary byte-wise order) to its record.
typedef std::map<std::string, SDeviceInfo> DeviceMap;

#endif // PROVIDERS_DEVICE_DISCOVERY_DEVICE_INFO_H

// Fault injection on the simulated host: paths that fail to open, IOCTLs
// that fail, short inquiry data, disks that vanish after listing, and
// Configuration Manager / SetupAPI calls that fail. (Faults of the logical
// unit itself, SCSI answers and SAN transport, are the Disk's: sim_disk.cpp.)
#include "sim_host_impl.h"

#include <algorithm>
#include <stdexcept>

namespace rendo_sim {

// A scripted failure of `function`: its code, or 0 when none is due.
uint32_t Host::Impl::callFault(const char *function) {
    auto it = callFaults.find(function);
    if (it == callFaults.end() || it->second.second == 0) return 0;
    if (it->second.second > 0) --it->second.second;
    return it->second.first;
}

Lun &Lun::vanishAfterListing() {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_vanishAfterListing = true;
    return *this;
}

Lun &Lun::failOpen(uint32_t error, int times) {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_openError = error;
    m_openFailures = times;
    return *this;
}

Lun &Lun::failIoctl(uint32_t code, uint32_t error, int times) {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_ioctlFaults[code] = {error, times};
    return *this;
}

Lun &Lun::shortInquiryData(size_t bytes) {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_inquiryDataLimit = bytes;
    return *this;
}

Lun &Lun::clearFaults() {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_openFailures = 0;
    m_ioctlFaults.clear();
    m_inquiryDataLimit = SIZE_MAX;
    m_vanishAfterListing = false;
    return *this;
}

void Host::failCall(const std::string &function, uint32_t code, int times) {
    static const char *const known[] = {
        "CM_Get_Device_ID_List_Size", "CM_Get_Device_ID_List", "CM_Locate_DevNode", "CM_Get_Device_ID",
        "CM_Get_DevNode_Registry_Property", "CM_Reenumerate_DevNode", "SetupDiGetClassDevs",
        "SetupDiGetDeviceInfoListDetail", "SetupDiEnumDeviceInfo", "SetupDiGetDeviceRegistryProperty",
        "SetupDiSetClassInstallParams", "SetupDiCallClassInstaller", "SetupDiGetDeviceInstallParams",
        "QueryDosDeviceW"};
    if (std::find(std::begin(known), std::end(known), function) == std::end(known))
        throw std::invalid_argument("no scripted failure for " + function);
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->callFaults[function] = {code, times};
}

} // namespace rendo_sim

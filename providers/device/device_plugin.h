// The disk-LUN snapshot provider: the plug-in object behind the entry points.
#ifndef PROVIDERS_DEVICE_DEVICE_PLUGIN_H
#define PROVIDERS_DEVICE_DEVICE_PLUGIN_H

#include "device_configuration.h"
#include "pgr/pgrtool.h"

#include "pdk/cfipluginbase.h"

#include <cstdint>
#include <string>

class CDevicePlugin : public kelm_pdk_4_4::CFiPluginBase {
public:
    // Source lines named by the messages of init's and delayedInit's guards.
    static constexpr int32_t kInitGuardLine = 99;
    static constexpr int32_t kInitFailedLine = 100;
    static constexpr int32_t kDelayedInitGuardLine = 112;
    static constexpr int32_t kDelayedInitFailedLine = 113;

    CDevicePlugin();
    ~CDevicePlugin() override;

    // Called once by rendo_fi_pgn_init after the managers are registered:
    // reads the tuning settings and registers the message catalog factory.
    // Never touches the disks. 0, or 29 when its guard caught an exception.
    int init() override;
    // Called once through invokeDelayedInit by the first entry point that
    // needs the disks. 0, or 29 when its guard caught an exception.
    int delayedInit() override;
    void fini() override;

    // ---- operations the provider adds after the base's last ----
    // The operations below keep simple defaults until the device map, the
    // multipath claim library and the reservation commands are in place;
    // each states what it does now.

    // Now: the name unchanged. Will strip the partition suffix through the
    // multipath claim library.
    virtual int getDeviceNameFromPartition(const std::string &rawprtName, std::string &deviceName);
    // Now: no device found (empty name). Will wait, rescan and retry until the
    // disk carrying udid appears.
    virtual std::string importDevice(kelm_pdk_4_4::WString udid, uint32_t rescanMode, uint32_t flags);
    // The name under which the SCSI tool knows a device: this provider's is
    // the device name itself.
    virtual int getScsiToolDeviceName(const std::string &deviceName, std::string &scsiName);
    // Now: 1098 (not reserved). Will take a persistent reservation for key.
    virtual int diskReserve(const std::string &diskPath, const std::string &key, int flags);
    // Now: 1096 (not released). Will release the reservation held with key.
    virtual int diskRelease(const std::string &diskPath, const std::string &key, int flags);

    // The reservation key for this call: key converted to narrow text and
    // used unchanged (no padding or validation) when the caller gave one,
    // else the key derived for this host by the reservation tool.
    std::string getKeyForHost(const wchar_t *key);

    const CDeviceConfiguration &tuningSettings() const { return m_tuning; }
    // The reservation tool obtained by init (empty before).
    const CPGRToolPtr &reservationTool() const { return m_pgrTool; }

private:
    // The identifier factory, the two device maps, the multipath discovery
    // manager, the reservation log manager and the pre-deport map join the
    // tuning settings and the reservation tool as their subsystems arrive.
    CDeviceConfiguration m_tuning;
    CPGRToolPtr m_pgrTool;
};

#endif // PROVIDERS_DEVICE_DEVICE_PLUGIN_H

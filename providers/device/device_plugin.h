// The disk-LUN snapshot provider: the plug-in object behind the entry points.
#ifndef PROVIDERS_DEVICE_DEVICE_PLUGIN_H
#define PROVIDERS_DEVICE_DEVICE_PLUGIN_H

#include "device_configuration.h"
#include "pgr/pgrlogmanager.h"
#include "pgr/pgrtool.h"
#include "pgr/reservationdisk.h"

#include "pdk/cfipluginbase.h"

#include <cstdint>
#include <memory>
#include <string>

class CDevicePlugin : public kelm_pdk_4_4::CFiPluginBase {
public:
    // Source lines named by the messages of init's and delayedInit's guards.
    static constexpr int32_t kInitGuardLine = 99;
    static constexpr int32_t kInitFailedLine = 100;
    static constexpr int32_t kDelayedInitGuardLine = 112;
    static constexpr int32_t kDelayedInitFailedLine = 113;
    // Source lines named by the messages of the reservation flows' handlers.
    static constexpr int32_t kReserveGuardLine = 2847;
    static constexpr int32_t kReleaseGuardLine = 3023;

    // Statuses of the reservation flows.
    static constexpr int kStatusReleaseFailed = 1096;       // a release step failed or threw
    static constexpr int kStatusReservedByOtherHost = 1097; // release: another host holds it
    static constexpr int kStatusReserveFailed = 1098;       // a reserve step failed or threw
    static constexpr int kStatusReservedByOther = 1099;     // reserve: held under another key, no preemption
    static constexpr int kStatusNoReservation = 1100;       // release: verification found none for this host

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
    // Registers key on the disk (flag 0x4000) and takes a type-5 persistent
    // reservation (Write Exclusive, Registrants Only), preempting the first
    // holder when flag 0x2000 allows it. 0, 1098 (a step failed or threw) or
    // 1099 (held under another key and no preemption; a registration made
    // by this call is removed again).
    virtual int diskReserve(const std::string &diskPath, const std::string &key, int flags);
    // Verifies (0x10000) that key holds the reservation, releases it
    // (0x800) and removes key's registration (0x4000, only with 0x800). 0,
    // 1096 (a step failed or threw), 1097 (another key holds it) or 1100
    // (verification found no reservation for key).
    virtual int diskRelease(const std::string &diskPath, const std::string &key, int flags);

    // The reservation key for this call: key converted to narrow text and
    // used unchanged (no padding or validation) when the caller gave one,
    // else the key derived for this host by the reservation tool.
    std::string getKeyForHost(const wchar_t *key);

    const CDeviceConfiguration &tuningSettings() const { return m_tuning; }
    // The reservation tool obtained by init (empty before).
    const CPGRToolPtr &reservationTool() const { return m_pgrTool; }
    // The reservation log manager obtained by init (empty before).
    const CPGRLogManagerPtr &reservationLogManager() const { return m_pgrLogManager; }

    // What the flows make their command object with; null restores
    // ReservationDiskWin. For tests that script the commands' outcomes.
    using ReservationDiskFactory = ReservationDisk *(*)(const std::string &path);
    static void setReservationDiskFactory(ReservationDiskFactory factory);

private:
    // The command object for diskPath, writing to the provider's trace log.
    std::unique_ptr<ReservationDisk> createReservationDisk(const std::string &diskPath);
    // Runs steps() under the flows' handlers; failureStatus when one caught.
    template <class Steps>
    int runReservationFlow(const std::string &diskPath, int32_t guardLine, int failureStatus, Steps &&steps);

    // The identifier factory, the two device maps, the multipath discovery
    // manager and the pre-deport map join the tuning settings and the
    // reservation members as their subsystems arrive.
    CDeviceConfiguration m_tuning;
    CPGRToolPtr m_pgrTool;
    CPGRLogManagerPtr m_pgrLogManager;
};

#endif // PROVIDERS_DEVICE_DEVICE_PLUGIN_H

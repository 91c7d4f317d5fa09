// The disk-LUN snapshot provider: the plug-in object behind the entry points.
#ifndef PROVIDERS_DEVICE_DEVICE_PLUGIN_H
#define PROVIDERS_DEVICE_DEVICE_PLUGIN_H

#include "device_configuration.h"
#include "discovery/device_info.h"
#include "discovery/dmp_discovery.h"
#include "pgr/pgrlogmanager.h"
#include "pgr/pgrtool.h"
#include "pgr/reservationdisk.h"

#include "udid/device_udid_factory.h"

#include "pdk/cfipluginbase.h"
#include "platform/windows.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

// What preDeportResource keeps for deportResource: the disk's device
// information set and its element in that set.
struct SPreDeportInfo {
    HDEVINFO deviceInfoSet = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA deviceInfoData{};
};

class CDevicePlugin : public kelm_pdk_4_4::CFiPluginBase {
public:
    // Source lines named by the messages of init's and delayedInit's guards.
    static constexpr int32_t kInitGuardLine = 99;
    static constexpr int32_t kInitFailedLine = 100;
    static constexpr int32_t kDelayedInitGuardLine = 112;
    static constexpr int32_t kDelayedInitFailedLine = 113;
    // Source lines named by the other operations' handlers.
    static constexpr int32_t kClaimGuardLine = 176;
    static constexpr int32_t kProviderInfoGuardLine = 1284;
    static constexpr int32_t kEnumerateNodesGuardLine = 1347;
    static constexpr int32_t kFillMappingGuardLine = 2196;
    static constexpr int32_t kDeviceForUdidGuardLine = 2287;
    // Source lines named by the messages of the reservation flows' handlers.
    static constexpr int32_t kReserveGuardLine = 2847;
    static constexpr int32_t kReleaseGuardLine = 3023;

    // Statuses of the reservation flows.
    static constexpr int kStatusReleaseFailed = 1096;       // a release step failed or threw
    static constexpr int kStatusReservedByOtherHost = 1097; // release: another host holds it
    static constexpr int kStatusReserveFailed = 1098;       // a reserve step failed or threw
    static constexpr int kStatusReservedByOther = 1099;     // reserve: held under another key, no preemption
    static constexpr int kStatusNoReservation = 1100;       // release: verification found none for this host

    // Selection bits of enumerateNodes (0 selects both).
    static constexpr int kSelectLocal = 0x4;
    static constexpr int kSelectGlobal = 0x8;

    CDevicePlugin();
    ~CDevicePlugin() override;

    // ---- overrides, in the order of the base's operation table ----

    // Called once through invokeDelayedInit by the first entry point that
    // needs the disks: the first full discovery fills the device map. 0, or
    // 29 when its guard caught an exception (the map then stays empty).
    int delayedInit() override;
    // Called once by rendo_fi_pgn_init after the managers are registered:
    // reads the tuning settings, registers the message catalog factory,
    // obtains the reservation singletons and creates the identifier factory.
    // Never touches the disks. 0, or 29 when its guard caught an exception.
    int init() override;
    void fini() override;
    // 2 (KEL_CLAIM_SECONDARY) for a device the claim library claims that is
    // not a partition; 3 (KEL_CLAIM_TERTIARY) for a name the library does not
    // claim that begins with "UDID##"; 0 otherwise. *claimed is set to null
    // and *level to 0; the level is only the result.
    int claim(kelm_objid *object, kelm_objid ***claimed, int *level) override;
    int deportTree(kel_domain *domain, kel_domain *alt, kel_accessnode *access) override;
    int importTreeNode(kel_domain *domain, kelm_objid **a, kelm_objid **b, int n, kelm_objid **c) override;
    int initNode(kel_domain *domain, kel_domain **alt, int flags, kelm_objid *id) override;
    int initAltNode(kel_domain *a, kel_domain *b, kel_domain *c, bool remote) override;
    int online(kel_domain *a, kel_domain *b, int n, kel_disposition disp) override;
    int buildAltTree(kel_domain *domain, char *type, kelm_objid **a, kelm_objid **b, int n,
                     kelm_objid **c) override;
    // One provider-list node ("rendo", 1, 1, version 7.0.0.0, "device" then
    // "jbod") on a list that starts empty. 0; 3 for a null list pointer; 6
    // through the guard.
    int getProviderInfo(kel_provider_list **list) override;
    // The disks as local nodes (one per device name longer than 3
    // characters, identified by its UDID) and global nodes (one per UDID
    // longer than 7 characters), locals first; selection bit 0x4 asks for
    // local, 0x8 for global nodes, 0 for both. Fills an empty device map
    // first, never refreshes it. 0; 3 for a null list pointer; 6 through the
    // guard (nodes appended before stay in the list).
    int enumerateNodes(kel_node_list **list, int *count, int selection, wchar_t *text) override;
    int checkNodeExistence(kel_domain *domain, int *exists) override;
    int enableAccess(kel_node_subobj_list *list, long a, int b, int c) override;
    int disableAccess(kel_node_subobj_list *list, long a) override;
    int importResource(wchar_t **a, wchar_t *b, wchar_t *c, wchar_t *d, int e, wchar_t **f, wchar_t *g) override;
    int onlineResource(wchar_t **a, int b, wchar_t *c, wchar_t *d, wchar_t *e, wchar_t *f, int g, wchar_t ***h,
                       int *i) override;
    int deportResource(wchar_t *a, wchar_t *b, wchar_t *c, wchar_t *d, int e) override;
    int preDeportResource(wchar_t *a, int b, wchar_t *c) override;

    // ---- operations the provider adds after the base's last ----

    // The disk name of a partition name (the claim library removes the
    // suffix; a disk name comes back unchanged). 0; throws CFiError (6) for
    // an empty name or one that reduces to an empty disk name.
    virtual int getDeviceNameFromPartition(const std::string &rawprtName, std::string &deviceName);
    // The device carrying udid: from the device-UDID map when flags have a bit
    // of 0x700, else (or when that fails) after the initial delay, under the
    // import semaphore "kelm-sem-9000", up to IMPORT_RETRY_ATTEMPTS
    // enumerations with doubling delays and a device-tree rescan before the
    // last. Empty when none appeared (at once after the delay with
    // KEL_RESCAN_SKIP). rescanMode 1 asks for the bus flag of the rescans.
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

    // ---- the device-UDID map ----

    // Rebuilds m_deviceudidMap from the device map, first re-enumerating the
    // disks when refresh is set or the device map is empty (a bus rescan
    // when rescan is set, handing rescanOption on). Each UDID's primary
    // device is the one with the highest claim level, the later one in map
    // order on a tie. 0, or 6 when the guard caught an exception.
    int FillDeviceUdidMapping(bool refresh, bool rescan, bool rescanOption);
    // The primary device carrying udid, validated: up to three lookups, the
    // second after a re-enumeration, the third after a bus rescan (only when
    // rescan is set). 0 found; 6 otherwise (deviceName unchanged).
    int getDeviceNameForUDID(const std::string &udid, std::string &deviceName, bool rescan);
    // valid: the claim library claims deviceName and a fresh read of it
    // gives exactly udid, within SCSI_INQ_RETRY_ATTEMPTS reads, sleeping
    // SCSI_INQ_RETRY_DELAY_IN_SEC after each mismatch. Always 0.
    int isValidDisk(const std::string &udid, const std::string &deviceName, bool &valid);

    // The reservation key for this call: key converted to narrow text and
    // used unchanged (no padding or validation) when the caller gave one,
    // else the key derived for this host by the reservation tool.
    std::string getKeyForHost(const wchar_t *key);

    const CDeviceConfiguration &tuningSettings() const { return m_tuning; }
    // The reservation tool obtained by init (empty before).
    const CPGRToolPtr &reservationTool() const { return m_pgrTool; }
    // The reservation log manager obtained by init (empty before).
    const CPGRLogManagerPtr &reservationLogManager() const { return m_pgrLogManager; }
    const DeviceMap &deviceMap() const { return m_deviceMap; }
    const DeviceMap &deviceUdidMap() const { return m_deviceudidMap; }
    // The multipath discovery manager, the provider's handle on the claim
    // library (tests register modules on it).
    CDmpDiscoveryManager &dmpManager() { return m_dmpManager; }

    // What the flows make their command object with; null restores
    // ReservationDiskWin. For tests that script the commands' outcomes.
    using ReservationDiskFactory = ReservationDisk *(*)(const std::string &path);
    static void setReservationDiskFactory(ReservationDiskFactory factory);

private:
    // The identifier factory made by init (made here, with the provider's
    // trace log, when an entry point arrives before init).
    CUDIDFactory &udidFactory();
    // Replaces the device map with a fresh enumeration (the factory's
    // enumerateDeviceMap with the three flags) on which the multipath
    // discovery modules have set the claim levels. The map is untouched
    // when the enumeration throws.
    void enumerateDevices(bool rescanBus, bool busFlag, bool removeFlag);
    // Sleeps for seconds on the host's clock, in pieces short of INFINITE.
    static void sleepSeconds(uint32_t seconds);

    // The command object for diskPath, writing to the provider's trace log.
    std::unique_ptr<ReservationDisk> createReservationDisk(const std::string &diskPath);
    // Runs steps() under the flows' handlers; failureStatus when one caught.
    template <class Steps>
    int runReservationFlow(const std::string &diskPath, int32_t guardLine, int failureStatus, Steps &&steps);

    std::unique_ptr<CUDIDFactory> m_udidFactory;
    DeviceMap m_deviceMap;
    DeviceMap m_deviceudidMap; // UDID -> its primary device and every path
    CDmpDiscoveryManager m_dmpManager;
    CDeviceConfiguration m_tuning;
    CPGRToolPtr m_pgrTool;
    CPGRLogManagerPtr m_pgrLogManager;
    std::map<std::string, SPreDeportInfo> m_predeportDeviceInfo; // UDID -> what removal needs
};

#endif // PROVIDERS_DEVICE_DEVICE_PLUGIN_H

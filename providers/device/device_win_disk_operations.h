// CWindowsDeviceManager: the Windows device operations around import and
// deport. It finds the device path of a UDID, identifies a disk in the
// device-installation database (SetupAPI) so that it can be uninstalled
// later, uninstalls it, and asks Plug and Play to re-enumerate the whole
// device tree. Stateless apart from the identifier factory it works on.
#ifndef PROVIDERS_DEVICE_DEVICE_WIN_DISK_OPERATIONS_H
#define PROVIDERS_DEVICE_DEVICE_WIN_DISK_OPERATIONS_H

#include "pdk/cfibase.h"
#include "platform/windows.h"

#include <string>

class CUDIDFactory;

class CWindowsDeviceManager : public virtual kelm_pdk_4_4::CFiTraceable {
public:
    // Status values.
    static const int kSuccess = 0;
    static const int kNoInstanceId = 6;     // the disk's instance ID could not be read
    static const int kPnpFailure = 11;      // a Plug and Play or SetupAPI call failed
    static const int kNoDevice = 20;        // no device matches (KEL_ENODEV)
    static const int kRebootRequired = 33;  // the removal finishes at the next reboot

    // factory is not owned; its trace log becomes this object's.
    explicit CWindowsDeviceManager(CUDIDFactory *factory);
    ~CWindowsDeviceManager() override;
    CWindowsDeviceManager(const CWindowsDeviceManager &) = delete;
    CWindowsDeviceManager &operator=(const CWindowsDeviceManager &) = delete;

    // The device path carrying udid (letter case ignored) in a fresh device
    // map enumerated without rescan; the path of the highest claim level, the
    // first in key order among equals. 0, or 20 when none carries it
    // (devicePath is then unchanged).
    int getDevicePathForUDID(const std::string &udid, std::string &devicePath);

    // Finds the SetupAPI element of a disk named by its device path or its
    // UDID ("UDID##..."). On 0 *set holds a device information set the caller
    // owns (removeDiskFromSystem destroys it) and *element its disk. On 20
    // *set is INVALID_HANDLE_VALUE and no set is left open. *set need not be
    // initialised on entry: its value is never used. Throws CFiUdidException
    // when the disk's UDID is malformed (an empty one included).
    int getDiskIdentification(const wchar_t *device, HDEVINFO *set, SP_DEVINFO_DATA *element);

    // Uninstalls the element (DIF_REMOVE, global scope) and destroys set,
    // unless it is INVALID_HANDLE_VALUE. 0, 6, 11 or 33.
    int removeDiskFromSystem(HDEVINFO set, SP_DEVINFO_DATA *element);

    // Asks Plug and Play to re-enumerate the device tree from its root,
    // asynchronously: devices may appear after this returns. 0 or 11. Traces
    // through the process's trace log.
    static int rescanDevices();

private:
    CUDIDFactory *m_factory;
};

#endif // PROVIDERS_DEVICE_DEVICE_WIN_DISK_OPERATIONS_H

// Windows disk discovery through the Plug-and-Play configuration manager and
// the DOS device namespace.
#ifndef PROVIDERS_DEVICE_DISCOVERY_PNP_MANAGER_H
#define PROVIDERS_DEVICE_DISCOVERY_PNP_MANAGER_H

#include "discovery/device_discovery_base.h"
#include "platform/windows.h"

#include <string>
#include <vector>

class CPnpManager : public CDeviceDiscoveryBase {
public:
    // First capacity, in characters, of the DOS device list buffer; it grows
    // tenfold each time the list does not fit.
    static const DWORD kInitialDosListCapacity = 32768;
    // The last capacity tried (three growths); a list that does not fit then
    // is given up with an error.
    static const DWORD kMaxDosListCapacity = 3276800;

    CPnpManager();
    ~CPnpManager() override;

    // One record per "\\.\PHYSICALDRIVEn" path, not yet updated.
    std::vector<CScsiDeviceData *> enumerateDevices() override;
    // One record for deviceName, whether or not it exists.
    std::vector<CScsiDeviceData *> validateEnumerateDevices(const std::string &deviceName) override;
    // Re-enumerates every SCSI adapter synchronously. 0, or 6 when the device
    // list cannot be read. busFlag is not used.
    int rescanScsiBus(bool busFlag) override;
    // "\\.\" + each DOS device name beginning with "PhysicalDrive" (exactly
    // that case), upper-cased, in the order of the DOS device list.
    std::vector<std::string> enumerateNativeDevicePaths() override;

    // Every device instance ID as a heap multi-string (free with HeapFree).
    // CR_SUCCESS, a Configuration Manager status, or 1 when memory ran out;
    // *list is null unless CR_SUCCESS.
    CONFIGRET GetDeviceIDList(wchar_t **list);
    // The device instance of an ID, 0 when it cannot be located. A null ID
    // throws 6.
    DEVINST DeviceIdToDeviceInstance(const wchar_t *deviceId);
    // A registry property of a device instance as a heap string (free with
    // HeapFree). CR_SUCCESS or the Configuration Manager status, *value null
    // unless CR_SUCCESS. Throws 6 when memory runs out.
    CONFIGRET GetDevicePropertyString(DEVINST devInst, ULONG property, wchar_t **value);
    // True when text is "{" + 36-character UUID + "}" and parses.
    bool GuidFromString(const wchar_t *text, GUID *guid);
    bool GuidEqual(const GUID &a, const GUID &b);
    // Synchronous re-enumeration of one device; deviceId names it in messages.
    bool ReenumerateDevNode(DEVINST devInst, const wchar_t *deviceId);

protected:
    // The computer name, empty when it cannot be read.
    std::wstring computerName();
    std::vector<CScsiDeviceData *> recordsFor(const std::vector<std::string> &paths);
};

#endif // PROVIDERS_DEVICE_DISCOVERY_PNP_MANAGER_H

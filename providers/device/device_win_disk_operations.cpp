#include "device_win_disk_operations.h"

#include "discovery/pnp_manager.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"
#include "pdk/cfiudid.h"
#include "scsitool/device_scsi_data.h"
#include "udid/device_udid_factory.h"

#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <vector>

using kelm_pdk_4_4::CFiSingleton;
using kelm_pdk_4_4::CFiStringTool;
using kelm_pdk_4_4::CFiTraceLog;
using kelm_pdk_4_4::CFiTraceLogFunction;
using kelm_pdk_4_4::CFiTraceLogPtr;
using kelm_pdk_4_4::CFiUdid;

namespace {

const wchar_t kUdidPrefix[] = L"UDID##";
const ULONG kInstanceIdLength = 200;        // wide characters
const DWORD kLocationBufferBytes = 1024;

// Frees the discovery records on every path.
struct Records {
    std::vector<CScsiDeviceData *> v;
    ~Records() {
        for (CScsiDeviceData *d : v) delete d;
    }
};

// Closes the disk handle on every path.
struct DiskHandle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~DiskHandle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

std::string lowerAscii(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The pieces between commas, empty ones included.
std::vector<std::string> splitAtCommas(const std::string &text) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type comma = text.find(',', start);
        pieces.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return pieces;
        start = comma + 1;
    }
}

// The decimal number following keyword in piece. False when the keyword is
// missing or no digit follows it: a location without a number names no
// address, and reading it as 0 could match (and so uninstall) another disk.
bool numberAfter(const std::string &piece, const char *keyword, long long &value) {
    std::string::size_type at = piece.find(keyword);
    if (at == std::string::npos) return false;
    std::string::size_type i = at + std::strlen(keyword);
    while (i < piece.size() && (piece[i] == ' ' || piece[i] == '\t')) ++i;
    bool negative = false;
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) negative = piece[i++] == '-';
    bool any = false;
    long long v = 0;
    for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
        any = true;
        if (v < 10000000000LL) v = v * 10 + (piece[i] - '0');  // saturates far above any SCSI address
    }
    value = negative ? -v : v;
    return any;
}

bool sameAddress(long long fromLocation, uint32_t fromDisk) {
    return fromLocation >= 0 && static_cast<unsigned long long>(fromLocation) == fromDisk;
}

void traceProcess(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));
void traceProcess(int level, const char *format, ...) {
    CFiTraceLogPtr log = CFiSingleton<CFiTraceLog>::instance(false);
    if (log.isNull()) return;
    va_list ap;
    va_start(ap, format);
    log->vtrace(level, format, ap);
    va_end(ap);
}

} // namespace

CWindowsDeviceManager::CWindowsDeviceManager(CUDIDFactory *factory) : m_factory(factory) {
    if (m_factory != nullptr) m_traceLog = m_factory->traceLog();
}

CWindowsDeviceManager::~CWindowsDeviceManager() = default;

int CWindowsDeviceManager::getDevicePathForUDID(const std::string &udid, std::string &devicePath) {
    CFiTraceLogFunction traceScope(m_traceLog, "CWindowsDeviceManager::getDevicePathForUDID");
    DeviceMap map;
    if (m_factory != nullptr) map = m_factory->enumerateDeviceMap(false, false, false);
    bool found = false;
    uint32_t best = 0;
    for (const DeviceMap::value_type &entry : map) {
        const SDeviceInfo &info = entry.second;
        if (!CFiStringTool::equalsNoCase(info.udid, udid)) continue;
        if (found && info.dmpClaimLevel <= best) continue;
        best = info.dmpClaimLevel;
        devicePath = entry.first;
        trace(3, "predeport::found device match [%s][%s] == [%s]", entry.first.c_str(), info.udid.c_str(),
              devicePath.c_str());
        found = true;
    }
    if (!found) {
        trace(2, "getDevicePathForUDID - UDID-Device match failed for UDID  [%s]", udid.c_str());
        return kNoDevice;
    }
    trace(3, "getDevicePathForUDID - UDID-Device match found for UDID [%s] as [%s]", udid.c_str(),
          devicePath.c_str());
    return kSuccess;
}

int CWindowsDeviceManager::getDiskIdentification(const wchar_t *device, HDEVINFO *set, SP_DEVINFO_DATA *element) {
    CFiTraceLogFunction traceScope(m_traceLog, "CWindowsDeviceManager::getDiskIdentification");
    if (set == nullptr) return kNoDevice;
    *set = INVALID_HANDLE_VALUE;
    if (device == nullptr || element == nullptr) return kNoDevice;

    std::string udid;
    std::string path;
    std::wstring openPath;
    if (std::wcsstr(device, kUdidPrefix) != nullptr) {
        udid = CFiStringTool::toNarrow(device);
        if (getDevicePathForUDID(udid, path) == kNoDevice) {
            trace(2, "getDiskIdentification - Failed to get a device for UDID [%s]", udid.c_str());
            return kNoDevice;
        }
        openPath = CFiStringTool::toStdWide(path);
    } else {
        path = CFiStringTool::toNarrow(device);
        if (m_factory != nullptr) udid = m_factory->getCachedUniqueDeviceID(path.c_str(), true);
        openPath = device;
    }
    CFiUdid parsed(udid);  // a malformed UDID is the caller's to handle
    const std::string &vendor = parsed.m_vendor;
    const std::string &product = parsed.m_product;

    Records records;
    DiskHandle disk;
    bool identified = false;
    do {
        disk.h = CreateFileW(openPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
        if (disk.h == INVALID_HANDLE_VALUE) {
            trace(2, "getDiskIdentification - unable to open handle for device  [%S]", device);
            break;
        }

        CPnpManager pnp;
        pnp.registerTraceLog(m_traceLog);
        records.v = pnp.validateDevice(path);
        // The inquiry strings are filled after the SCSI address; a record
        // without any did not get its address either, and its default address
        // fields could match (and so uninstall) another disk.
        const CScsiDeviceData *first = records.v.empty() ? nullptr : records.v[0];
        if (first == nullptr ||
            (first->m_vendorId.empty() && first->m_productId.empty() && first->m_firmwareLevel.empty())) {
            trace(2, "getDiskIdentification unable to get SCSI data for device [%s]", path.c_str());
            break;
        }
        const CScsiDeviceData &data = *records.v[0];
        trace(6,
              "Following information was found for device [%S]:\nLUN = [%d], Target = [%d], BUS = [%d], Adapter = "
              "[%d]VendorId = [%s], ProductId = [%s], FirmwareLevel = [%s], ",
              device, static_cast<int>(data.m_lun), static_cast<int>(data.m_targetId), static_cast<int>(data.m_pathId),
              static_cast<int>(data.m_portNumber), data.m_vendorId.c_str(), data.m_productId.c_str(),
              data.m_firmwareLevel.c_str());

        *set = SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES, nullptr, nullptr, nullptr);
        if (*set == INVALID_HANDLE_VALUE) {
            trace(2, "getDiskIdentification::SetupDiGetClassDevsEx - failed ");
            break;
        }
        SP_DEVINFO_LIST_DETAIL_DATA_W detail;
        std::memset(&detail, 0, sizeof detail);
        detail.cbSize = sizeof detail;
        if (!SetupDiGetDeviceInfoListDetailW(*set, &detail)) {
            trace(2, "getDiskIdentification::SetupDiGetDeviceInfoListDetail - failed for device  [%S]", device);
            break;
        }

        SP_DEVINFO_DATA candidate;
        std::memset(&candidate, 0, sizeof candidate);
        candidate.cbSize = sizeof(SP_DEVINFO_DATA);
        for (DWORD index = 0; SetupDiEnumDeviceInfo(*set, index, &candidate); ++index) {
            wchar_t id[kInstanceIdLength + 1] = {};  // Windows need not terminate a full buffer
            if (CM_Get_Device_ID_ExW(candidate.DevInst, id, kInstanceIdLength, 0, nullptr) != CR_SUCCESS) continue;
            std::string instanceId = CFiStringTool::toNarrow(id);

            BYTE buffer[kLocationBufferBytes] = {};
            DWORD type = 0;
            DWORD size = 0;
            if (!SetupDiGetDeviceRegistryPropertyW(*set, &candidate, SPDRP_LOCATION_INFORMATION, &type, buffer,
                                                   sizeof buffer, &size))
                continue;
            // The low byte of each character, up to a 0 or the returned size.
            std::string location;
            size_t units = (size < sizeof buffer ? size : sizeof buffer) / sizeof(WCHAR);
            for (size_t i = 0; i < units; ++i) {
                WCHAR unit;
                std::memcpy(&unit, buffer + i * sizeof(WCHAR), sizeof unit);
                if (unit == 0) break;
                location.push_back(static_cast<char>(static_cast<unsigned char>(unit & 0xFF)));
            }
            std::vector<std::string> pieces = splitAtCommas(location);
            if (pieces.size() != 3) continue;
            for (std::string &piece : pieces) piece = lowerAscii(piece);
            long long bus = 0, target = 0, lun = 0;
            if (!numberAfter(pieces[0], "bus number ", bus) || !numberAfter(pieces[1], "target id ", target) ||
                !numberAfter(pieces[2], "lun ", lun))
                continue;

            if (instanceId.find(vendor) != std::string::npos && instanceId.find(product) != std::string::npos &&
                sameAddress(lun, data.m_lun) && sameAddress(target, data.m_targetId) &&
                sameAddress(bus, data.m_pathId)) {
                trace(3, "getDiskIdentification - InstanceID found for the device");
                *element = candidate;
                identified = true;
                break;
            }
        }
    } while (false);

    if (identified) return kSuccess;
    if (*set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(*set);
    *set = INVALID_HANDLE_VALUE;
    return kNoDevice;
}

int CWindowsDeviceManager::removeDiskFromSystem(HDEVINFO set, SP_DEVINFO_DATA *element) {
    CFiTraceLogFunction traceScope(m_traceLog, "CWindowsDeviceManager::removeDiskFromSystem");
    int status = kSuccess;
    do {
        SP_DEVINFO_LIST_DETAIL_DATA_W detail;
        std::memset(&detail, 0, sizeof detail);
        detail.cbSize = sizeof detail;
        BOOL result = SetupDiGetDeviceInfoListDetailW(set, &detail);
        if (!result) {
            trace(2, "removeDiskFromSystem::SetupDiGetDeviceInfoListDetail - failed for device with value [%d]",
                  static_cast<int>(result));
            status = kPnpFailure;
            break;
        }

        wchar_t id[kInstanceIdLength + 1] = {};
        DEVINST instance = element != nullptr ? element->DevInst : 0;  // 0 names no device
        if (CM_Get_Device_ID_ExW(instance, id, kInstanceIdLength, 0, detail.RemoteMachineHandle) != CR_SUCCESS) {
            trace(2, "removeDiskFromSystem::CM_Get_Device_ID_Ex - failed for device with error [%u]",
                  static_cast<unsigned>(GetLastError()));
            status = kNoInstanceId;
            break;
        }
        trace(3, "removeDiskFromSystem::CM_Get_Device_ID_Ex - Device InstanceID to be removed is %S", id);

        SP_REMOVEDEVICE_PARAMS params;
        std::memset(&params, 0, sizeof params);
        params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
        params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
        params.Scope = DI_REMOVEDEVICE_GLOBAL;
        params.HwProfile = 0;
        if (!SetupDiSetClassInstallParamsW(set, element, &params.ClassInstallHeader, sizeof params))
            trace(2, "removeDiskFromSystem::SetupDiSetClassInstallParams - failed for device with error [%u]",
                  static_cast<unsigned>(GetLastError()));

        if (!SetupDiCallClassInstaller(DIF_REMOVE, set, element)) {
            trace(2, "removeDiskFromSystem::SetupDiCallClassInstaller - failed for device with error [%u]",
                  static_cast<unsigned>(GetLastError()));
            status = kPnpFailure;
            break;
        }

        SP_DEVINSTALL_PARAMS_W install;
        std::memset(&install, 0, sizeof install);
        install.cbSize = sizeof install;
        result = SetupDiGetDeviceInstallParamsW(set, element, &install);
        if (!result) {
            trace(2, "removeDiskFromSystem::SetupDiGetDeviceInstallParams - failed for device with value [%d]",
                  static_cast<int>(result));
        } else if ((install.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0) {
            trace(2, "removeDiskFromSystem - System requires reboot after uninstalling the specified device");
            status = kRebootRequired;
            break;
        }
        trace(3, "removeDiskFromSystem - dif_remove on device was successfull");
    } while (false);

    if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
    return status;
}

int CWindowsDeviceManager::rescanDevices() {
    DEVINST root = 0;
    if (CM_Locate_DevNode_ExW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL, nullptr) != CR_SUCCESS) {
        traceProcess(2, "rescanDevices::CM_Locate_DevNode_Ex - Failed to get the root of the device tree");
        return kPnpFailure;
    }
    traceProcess(3, "rescanDevices: Found the root of the device tree");
    CONFIGRET result = CM_Reenumerate_DevNode_Ex(root, CM_REENUMERATE_NORMAL, nullptr);
    if (result != CR_SUCCESS) {
        traceProcess(5, "rescanDevices::CM_Reenumerate_DevNode_Ex - rescanning at root failed with error %d",
                     static_cast<int>(result));
        return kPnpFailure;
    }
    traceProcess(5, "rescanDevices - Successful rescaned the device tree");
    return kSuccess;
}

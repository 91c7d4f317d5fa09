#include "discovery/pnp_manager.h"

#include "pdk/cfitracelog.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cwchar>
#include <memory>

namespace {

// Setup class of SCSI adapters: their re-enumeration finds new disks.
const wchar_t kScsiAdapterClass[] = L"{4D36E97B-E325-11CE-BFC1-08002BE10318}";
const size_t kGuidTextLength = 38;   // "{" + 36 + "}"
const DWORD kComputerNameLength = 256;
const size_t kMaxNarrowPath = 32768;
const wchar_t kDrivePrefix[] = L"PhysicalDrive";
const size_t kDrivePrefixLength = 13;

// Frees a process-heap block on every path.
struct HeapBlock {
    void *p = nullptr;
    ~HeapBlock() {
        if (p != nullptr) HeapFree(GetProcessHeap(), 0, p);
    }
};

std::string narrowOf(const wchar_t *text, size_t maxBytes) {
    std::string out;
    for (size_t i = 0; text[i] != L'\0' && out.size() < maxBytes; ++i) {
        wchar_t c = text[i];
        out.push_back(c >= 0 && c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

std::wstring widen(const std::string &text) {
    std::wstring out;
    for (unsigned char c : text) out.push_back(static_cast<wchar_t>(c));
    return out;
}

} // namespace

CPnpManager::CPnpManager() = default;
CPnpManager::~CPnpManager() = default;

// --------------------------------------------------- Configuration Manager

CONFIGRET CPnpManager::GetDeviceIDList(wchar_t **list) {
    trace(5, "libscsitool: DEBUG: Entering CPnpManager::GetDeviceIDList()");
    if (list == nullptr) return CR_INVALID_POINTER;
    *list = nullptr;
    ULONG size = 0;
    CONFIGRET status = CM_Get_Device_ID_List_Size_ExW(&size, nullptr, 0, nullptr);
    if (status != CR_SUCCESS) {
        trace(1, "libscsitool: ERROR: Unable to rescan, cannot get buffer size.");
        return status;
    }
    void *buffer = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<SIZE_T>(size) * sizeof(wchar_t));
    if (buffer == nullptr) {
        trace(1, "libscsitool: ERROR: Memory allocation failed");
        trace(5, "libscsitool: DEBUG: Exiting CPnpManager::GetDeviceIDList()");
        return 1;
    }
    status = CM_Get_Device_ID_List_ExW(nullptr, static_cast<wchar_t *>(buffer), size, 0, nullptr);
    if (status != CR_SUCCESS) {
        HeapFree(GetProcessHeap(), 0, buffer);
        trace(1, "libscsitool: ERROR: CPnpManager::GetDeviceIDList() failed.");
        return status;
    }
    *list = static_cast<wchar_t *>(buffer);
    trace(5, "libscsitool: DEBUG: Exiting CPnpManager::GetDeviceIDList()");
    return CR_SUCCESS;
}

DEVINST CPnpManager::DeviceIdToDeviceInstance(const wchar_t *deviceId) {
    try {
        if (deviceId == nullptr) {
            trace(1, "libscsitool: ERROR: Invalid DeviceId.");
            throw 6;
        }
        // The platform call takes a non-const ID it does not change.
        std::wstring id(deviceId);
        DEVINST inst = 0;
        if (CM_Locate_DevNodeW(&inst, &id[0], CM_LOCATE_DEVNODE_PHANTOM) != CR_SUCCESS) return 0;
        return inst;
    } catch (...) {
        trace(1, "libscsitool: ERROR: CPnpManager::DeviceIdToDeviceInstance() failed.");
        throw 6;
    }
}

CONFIGRET CPnpManager::GetDevicePropertyString(DEVINST devInst, ULONG property, wchar_t **value) {
    if (value == nullptr) return CR_INVALID_POINTER;
    *value = nullptr;
    void *buffer = nullptr;
    try {
        ULONG length = 0;
        CONFIGRET status =
            CM_Get_DevNode_Registry_Property_ExW(devInst, property, nullptr, nullptr, &length, 0, nullptr);
        if (status != CR_SUCCESS && status != CR_BUFFER_SMALL) return status;
        // The length is in bytes; one more character keeps the text terminated
        // whatever the registry held.
        SIZE_T bytes = (static_cast<SIZE_T>(length) + 1) * sizeof(wchar_t);
        buffer = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
        if (buffer == nullptr) {
            trace(1, "libscsitool: ERROR: HeapAlloc() failed.");
            throw 6;
        }
        status = CM_Get_DevNode_Registry_Property_ExW(devInst, property, nullptr, buffer, &length, 0, nullptr);
        if (status != CR_SUCCESS) {
            HeapFree(GetProcessHeap(), 0, buffer);
            *value = nullptr;
            return status;
        }
        *value = static_cast<wchar_t *>(buffer);
        return CR_SUCCESS;
    } catch (...) {
        if (buffer != nullptr) HeapFree(GetProcessHeap(), 0, buffer);
        *value = nullptr;
        trace(1, "libscsitool: ERROR: CPnpManager::GetDevicePropertyString() failed.");
        throw 6;
    }
}

bool CPnpManager::GuidFromString(const wchar_t *text, GUID *guid) {
    if (text == nullptr || guid == nullptr || text[0] != L'{') return false;
    // Up to 38 characters after the brace: exactly 37 means 36 plus "}".
    wchar_t copy[kGuidTextLength + 1] = {};
    size_t n = 0;
    while (n < kGuidTextLength && text[1 + n] != L'\0') {
        copy[n] = text[1 + n];
        ++n;
    }
    if (n != kGuidTextLength - 1 || copy[n - 1] != L'}') return false;
    copy[n - 1] = L'\0';
    return UuidFromStringW(copy, guid) == RPC_S_OK;
}

bool CPnpManager::GuidEqual(const GUID &a, const GUID &b) {
    GUID x = a, y = b;
    RPC_STATUS status = RPC_S_OK;
    return UuidEqual(&x, &y, &status) != 0;
}

bool CPnpManager::ReenumerateDevNode(DEVINST devInst, const wchar_t *deviceId) {
    trace(5, "libscsitool: DEBUG: Entering CPnpManager::ReenumerateDevNode()");
    CONFIGRET status = CM_Reenumerate_DevNode_Ex(devInst, CM_REENUMERATE_SYNCHRONOUS, nullptr);
    if (status != CR_SUCCESS) {
        trace(5, "libscsitool: INFO: CPnpManager::ReenumerateDevNode() failed for device [%S] with error [%d].",
              deviceId != nullptr ? deviceId : L"", static_cast<int>(status));
        return false;
    }
    trace(5, "libscsitool: DEBUG: Exiting CPnpManager::ReenumerateDevNode()");
    return true;
}

// ---------------------------------------------------------- the platform half

int CPnpManager::rescanScsiBus(bool busFlag) {
    (void)busFlag;
    trace(5, "libscsitool: DEBUG: Entering CPnpManager::rescanScsiBus()");
    HeapBlock list;
    try {
        wchar_t *ids = nullptr;
        if (GetDeviceIDList(&ids) != CR_SUCCESS) {
            trace(1, "libscsitool: ERROR: GetDeviceIDList() failed.");
            trace(1, "libscsitool: ERROR: CPnpManager::rescanScsiBus() failed.");
            return 6;
        }
        list.p = ids;
        GUID adapterClass;
        GuidFromString(kScsiAdapterClass, &adapterClass);
        for (const wchar_t *id = ids; *id != L'\0'; id += std::wcslen(id) + 1) {
            DEVINST inst = DeviceIdToDeviceInstance(id);
            HeapBlock property;
            wchar_t *classGuid = nullptr;
            if (GetDevicePropertyString(inst, CM_DRP_CLASSGUID, &classGuid) != CR_SUCCESS) continue;
            property.p = classGuid;
            GUID guid;
            if (GuidFromString(classGuid, &guid) && GuidEqual(guid, adapterClass)) ReenumerateDevNode(inst, id);
        }
    } catch (...) {
        trace(1, "libscsitool: ERROR: CPnpManager::rescanScsiBus() failed.");
        return 6;
    }
    trace(5, "libscsitool: DEBUG: Exiting CPnpManager::rescanScsiBus()");
    return 0;
}

std::vector<std::string> CPnpManager::enumerateNativeDevicePaths() {
    std::vector<std::string> paths;
    try {
        DWORD capacity = kInitialDosListCapacity;
        for (;;) {
            std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[capacity]);
            if (!buffer) {
                trace(1, "ERROR: KEL_EMALLOC, Bad allocation for targetPaths in "
                         "CPnpManager::enumerateNativeDevicePaths");
                return paths;
            }
            std::memset(buffer.get(), 0, static_cast<size_t>(capacity) * sizeof(wchar_t));
            DWORD returned = QueryDosDeviceW(nullptr, buffer.get(), capacity);
            if (returned == 0) {
                DWORD error = GetLastError();
                if (error == ERROR_INSUFFICIENT_BUFFER) {
                    // A list that still does not fit after three tenfold
                    // growths is not a DOS device list: give up rather than
                    // grow without bound.
                    if (capacity >= kMaxDosListCapacity) {
                        trace(1, "ERROR: QueryDosDevice failed in CPnpManager::enumerateNativeDevicePaths with "
                                 "lasterror %ul",
                              static_cast<unsigned>(error));
                        return paths;
                    }
                    capacity *= 10;
                    trace(2, "WARNING: insufficient buffer for getting device list in "
                             "CPnpManager::enumerateNativeDevicePaths");
                    continue;
                }
                trace(1, "ERROR: QueryDosDevice failed in CPnpManager::enumerateNativeDevicePaths with lasterror %ul",
                      static_cast<unsigned>(error));
                return paths;
            }
            // Never read past what the call filled, nor past the buffer.
            size_t limit = std::min<size_t>(returned, capacity);
            buffer[capacity - 1] = L'\0';
            size_t pos = 0;
            while (pos < limit && buffer[pos] != L'\0') {
                const wchar_t *name = &buffer[pos];
                size_t length = std::wcslen(name);
                if (std::wcsncmp(name, kDrivePrefix, kDrivePrefixLength) == 0) {
                    std::string path = "\\\\.\\" + narrowOf(name, kMaxNarrowPath);
                    std::transform(path.begin(), path.end(), path.begin(),
                                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
                    trace(3, "INFO: adding device [%s]", path.c_str());
                    paths.push_back(path);
                }
                pos += length + 1;
            }
            return paths;
        }
    } catch (...) {
        trace(1, "ERROR: Unhandled Exception occured in CPnpManager::enumerateNativeDevicePaths");
    }
    return paths;
}

std::wstring CPnpManager::computerName() {
    wchar_t name[kComputerNameLength] = {};
    DWORD size = kComputerNameLength;
    if (!GetComputerNameW(name, &size)) return std::wstring();
    name[kComputerNameLength - 1] = L'\0';
    return std::wstring(name);
}

std::vector<CScsiDeviceData *> CPnpManager::recordsFor(const std::vector<std::string> &paths) {
    std::wstring host = computerName();
    std::vector<CScsiDeviceData *> records;
    try {
        records.reserve(paths.size());
        for (const std::string &path : paths) {
            std::wstring wide = widen(path);
            records.push_back(new CScsiDeviceData(wide, wide, host, 0, 0, 0, 0xFFFFFFFFu, L"", L"", L"", 0));
        }
    } catch (...) {
        for (CScsiDeviceData *r : records) delete r;
        throw;
    }
    return records;
}

std::vector<CScsiDeviceData *> CPnpManager::enumerateDevices() {
    trace(5, "libscsitool: DEBUG: Enetering CPnpManager::enumerateDevices().");
    std::vector<CScsiDeviceData *> records = recordsFor(enumerateNativeDevicePaths());
    trace(5, "libscsitool: DEBUG: Exiting CPnpManager::enumerateDevices().");
    return records;
}

std::vector<CScsiDeviceData *> CPnpManager::validateEnumerateDevices(const std::string &deviceName) {
    trace(5, "libscsitool: DEBUG: Enetering CPnpManager::validateenumerateDevices().");
    std::vector<CScsiDeviceData *> records = recordsFor(std::vector<std::string>{deviceName});
    trace(5, "libscsitool: DEBUG: Exiting CPnpManager::enumerateDevices().");
    return records;
}

// Configuration Manager (CM_*) and SetupAPI (SetupDi*) calls over the
// simulated host's device tree.
#include "sim_host_impl.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

using namespace rendo_sim;
using namespace rendo_sim::detail;

namespace {

struct DevInfoSet : HandleObject {
    bool closable() const override { return false; }  // SetupDiDestroyDeviceInfoList only
    std::shared_ptr<Host> host;
    std::vector<uint32_t> devInsts;
    std::map<uint32_t, SP_REMOVEDEVICE_PARAMS> removeParams;
    std::map<uint32_t, DWORD> installFlags;
};

// Copies a string (and its terminator) into a wide buffer of `capacity` characters.
bool copyWide(const std::string &s, wchar_t *buf, size_t capacity) {
    if (buf == nullptr || capacity < s.size() + 1) return false;
    for (size_t i = 0; i < s.size(); ++i) buf[i] = static_cast<wchar_t>(static_cast<unsigned char>(s[i]));
    buf[s.size()] = L'\0';
    return true;
}

// A registry property: its value as REG_SZ / REG_MULTI_SZ wide text, false when absent.
bool nodeProperty(const Node &n, ULONG spdrp, std::wstring &value, DWORD &type) {
    type = REG_SZ;
    std::string v;
    switch (spdrp) {
    case SPDRP_DEVICEDESC: v = n.description; break;
    case SPDRP_FRIENDLYNAME: v = n.lun ? n.description : ""; break;
    case SPDRP_HARDWAREID:
        v = n.hardwareId;
        type = REG_MULTI_SZ;
        break;
    case SPDRP_CLASS: v = n.className; break;
    case SPDRP_CLASSGUID: v = n.classGuid; break;
    case SPDRP_LOCATION_INFORMATION: v = n.location; break;
    case SPDRP_PHYSICAL_DEVICE_OBJECT_NAME: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "\\Device\\%08x", n.devInst + 0x40u);
        v = buf;
        break;
    }
    case SPDRP_SERVICE: v = n.lun ? "disk" : (n.port >= 0 ? "ql2300" : ""); break;
    default: return false;
    }
    if (v.empty()) return false;
    value = widen(v);
    if (type == REG_MULTI_SZ) value.push_back(L'\0');
    return true;
}

// ------------------------------------------------------ Configuration Manager

bool localMachine(HMACHINE m) { return m == nullptr; }

CONFIGRET idList(std::vector<wchar_t> &list) {
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    im.settle();
    for (auto &kv : im.nodes) {
        std::wstring w = widen(kv.second.instanceId);
        list.insert(list.end(), w.begin(), w.end());
        list.push_back(L'\0');
    }
    list.push_back(L'\0');
    return CR_SUCCESS;
}

CONFIGRET cmFault(const char *name) {
    auto host = hostNow();
    std::lock_guard<std::mutex> lock(host->mutex());
    return HostAccess::impl(*host).callFault(name);
}

} // namespace

extern "C" {

CONFIGRET CM_Get_Device_ID_List_Size_ExW(PULONG pulLen, PCWSTR pszFilter, ULONG ulFlags, HMACHINE hMachine) {
    if (pulLen == nullptr) return CR_INVALID_POINTER;
    *pulLen = 0;
    if (!localMachine(hMachine) || pszFilter != nullptr || ulFlags != 0) return CR_INVALID_FLAG;
    if (CONFIGRET c = cmFault("CM_Get_Device_ID_List_Size")) return c;
    std::vector<wchar_t> list;
    idList(list);
    *pulLen = static_cast<ULONG>(list.size());
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_ID_List_SizeW(PULONG pulLen, PCWSTR pszFilter, ULONG ulFlags) {
    return CM_Get_Device_ID_List_Size_ExW(pulLen, pszFilter, ulFlags, nullptr);
}

CONFIGRET CM_Get_Device_ID_List_ExW(PCWSTR pszFilter, PZZWSTR Buffer, ULONG BufferLen, ULONG ulFlags,
                                    HMACHINE hMachine) {
    if (Buffer == nullptr || BufferLen == 0) return CR_INVALID_POINTER;
    if (!localMachine(hMachine) || pszFilter != nullptr || ulFlags != 0) return CR_INVALID_FLAG;
    if (CONFIGRET c = cmFault("CM_Get_Device_ID_List")) return c;
    std::vector<wchar_t> list;
    idList(list);
    if (list.size() > BufferLen) return CR_BUFFER_SMALL;
    std::wmemcpy(Buffer, list.data(), list.size());
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_ID_ListW(PCWSTR pszFilter, PZZWSTR Buffer, ULONG BufferLen, ULONG ulFlags) {
    return CM_Get_Device_ID_List_ExW(pszFilter, Buffer, BufferLen, ulFlags, nullptr);
}

CONFIGRET CM_Locate_DevNode_ExW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID, ULONG ulFlags, HMACHINE hMachine) {
    if (pdnDevInst == nullptr) return CR_INVALID_POINTER;
    *pdnDevInst = 0;
    if (!localMachine(hMachine) || (ulFlags & ~0x7u) != 0) return CR_INVALID_FLAG;
    if (CONFIGRET c = cmFault("CM_Locate_DevNode")) return c;
    if (pDeviceID == nullptr || *pDeviceID == L'\0') {
        *pdnDevInst = 1;
        return CR_SUCCESS;
    }
    std::string wanted = upper(narrow(pDeviceID));
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    im.settle();
    auto found = im.byInstanceId.lower_bound(wanted);  // the first of equal IDs: the lowest device instance
    if (found == im.byInstanceId.end() || found->first != wanted) return CR_NO_SUCH_DEVNODE;
    *pdnDevInst = found->second;
    return CR_SUCCESS;
}

CONFIGRET CM_Locate_DevNodeW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID, ULONG ulFlags) {
    return CM_Locate_DevNode_ExW(pdnDevInst, pDeviceID, ulFlags, nullptr);
}

CONFIGRET CM_Get_Device_ID_ExW(DEVINST dnDevInst, PWSTR Buffer, ULONG BufferLen, ULONG, HMACHINE hMachine) {
    if (Buffer == nullptr || BufferLen == 0) return CR_INVALID_POINTER;
    if (!localMachine(hMachine)) return CR_INVALID_FLAG;
    if (CONFIGRET c = cmFault("CM_Get_Device_ID")) return c;
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    auto it = im.nodes.find(dnDevInst);
    if (it == im.nodes.end()) return CR_INVALID_DEVNODE;
    const std::string &id = it->second.instanceId;
    if (id.size() > BufferLen) return CR_BUFFER_SMALL;
    // Windows terminates when there is room and succeeds without it.
    for (size_t i = 0; i < id.size(); ++i) Buffer[i] = static_cast<wchar_t>(static_cast<unsigned char>(id[i]));
    if (id.size() < BufferLen) Buffer[id.size()] = L'\0';
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_IDW(DEVINST dnDevInst, PWSTR Buffer, ULONG BufferLen, ULONG ulFlags) {
    return CM_Get_Device_ID_ExW(dnDevInst, Buffer, BufferLen, ulFlags, nullptr);
}

CONFIGRET CM_Get_Device_ID_Size(PULONG pulLen, DEVINST dnDevInst, ULONG) {
    if (pulLen == nullptr) return CR_INVALID_POINTER;
    *pulLen = 0;
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    auto it = im.nodes.find(dnDevInst);
    if (it == im.nodes.end()) return CR_INVALID_DEVNODE;
    *pulLen = static_cast<ULONG>(it->second.instanceId.size());
    return CR_SUCCESS;
}

CONFIGRET CM_Get_DevNode_Registry_Property_ExW(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                               PVOID Buffer, PULONG pulLength, ULONG ulFlags, HMACHINE hMachine) {
    if (pulLength == nullptr || (Buffer == nullptr && *pulLength != 0)) return CR_INVALID_POINTER;
    if (!localMachine(hMachine) || ulFlags != 0) return CR_INVALID_FLAG;
    if (ulProperty == 0 || ulProperty > 0x24) return CR_INVALID_PROPERTY;
    if (CONFIGRET c = cmFault("CM_Get_DevNode_Registry_Property")) return c;
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    auto it = im.nodes.find(dnDevInst);
    if (it == im.nodes.end()) return CR_INVALID_DEVNODE;
    std::wstring value;
    DWORD type = REG_SZ;
    if (!nodeProperty(it->second, ulProperty - 1, value, type)) return CR_NO_SUCH_VALUE;
    ULONG bytes = static_cast<ULONG>((value.size() + 1) * sizeof(wchar_t));
    if (pulRegDataType) *pulRegDataType = type;
    if (Buffer == nullptr || *pulLength < bytes) {
        *pulLength = bytes;
        return CR_BUFFER_SMALL;
    }
    std::memcpy(Buffer, value.c_str(), bytes);
    *pulLength = bytes;
    return CR_SUCCESS;
}

CONFIGRET CM_Get_DevNode_Registry_PropertyW(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType, PVOID Buffer,
                                            PULONG pulLength, ULONG ulFlags) {
    return CM_Get_DevNode_Registry_Property_ExW(dnDevInst, ulProperty, pulRegDataType, Buffer, pulLength, ulFlags,
                                                nullptr);
}

CONFIGRET CM_Reenumerate_DevNode_Ex(DEVINST dnDevInst, ULONG ulFlags, HMACHINE hMachine) {
    if (!localMachine(hMachine) || (ulFlags & ~0x7u) != 0) return CR_INVALID_FLAG;
    if (CONFIGRET c = cmFault("CM_Reenumerate_DevNode")) return c;
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    im.settle();
    auto it = im.nodes.find(dnDevInst);
    if (it == im.nodes.end()) return CR_INVALID_DEVNODE;
    bool synchronous = (ulFlags & CM_REENUMERATE_SYNCHRONOUS) != 0;
    if (dnDevInst == 1) {
        if (synchronous) im.rescanRoot();
        else im.pendingRoot.push_back(im.now() + im.rootDelayMs);  // lands at the next call after the delay
    } else if (it->second.port >= 0) {
        // An adapter finds what its bus holds before the call returns either way.
        im.rescanPort(static_cast<uint8_t>(it->second.port));
    }
    return CR_SUCCESS;
}

CONFIGRET CM_Reenumerate_DevNode(DEVINST dnDevInst, ULONG ulFlags) {
    return CM_Reenumerate_DevNode_Ex(dnDevInst, ulFlags, nullptr);
}

static CONFIGRET relative(PDEVINST out, DEVINST node, int which) {
    if (out == nullptr) return CR_INVALID_POINTER;
    *out = 0;
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    im.settle();
    auto it = im.nodes.find(node);
    if (it == im.nodes.end()) return CR_INVALID_DEVNODE;
    if (which == 0) {
        if (it->second.parent == 0) return CR_NO_SUCH_DEVNODE;
        *out = it->second.parent;
        return CR_SUCCESS;
    }
    uint32_t parent = which == 1 ? node : it->second.parent;
    if (which == 2 && parent == 0) return CR_NO_SUCH_DEVNODE;
    auto start = which == 1 ? im.nodes.begin() : std::next(it);
    for (auto j = start; j != im.nodes.end(); ++j)
        if (j->second.parent == parent && j->first != 1) {
            *out = j->first;
            return CR_SUCCESS;
        }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG) { return relative(pdnDevInst, dnDevInst, 0); }
CONFIGRET CM_Get_Child(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG) { return relative(pdnDevInst, dnDevInst, 1); }
CONFIGRET CM_Get_Sibling(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG) { return relative(pdnDevInst, dnDevInst, 2); }

// ------------------------------------------------------------------ SetupAPI

HDEVINFO SetupDiGetClassDevsExW(const GUID *ClassGuid, PCWSTR Enumerator, HWND, DWORD Flags, HDEVINFO DeviceInfoSet,
                                PCWSTR MachineName, PVOID) {
    if (Enumerator != nullptr || DeviceInfoSet != nullptr || (MachineName != nullptr && *MachineName != L'\0')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (ClassGuid == nullptr && (Flags & DIGCF_ALLCLASSES) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    auto set = std::make_shared<DevInfoSet>();
    set->host = host;
    {
        std::lock_guard<std::mutex> lock(host->mutex());
        im.settle();
        if (uint32_t e = im.callFault("SetupDiGetClassDevs")) {
            SetLastError(e);
            return INVALID_HANDLE_VALUE;
        }
        char want[40] = {};
        if (ClassGuid != nullptr && (Flags & DIGCF_ALLCLASSES) == 0)
            std::snprintf(want, sizeof want, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", ClassGuid->Data1,
                          ClassGuid->Data2, ClassGuid->Data3, ClassGuid->Data4[0], ClassGuid->Data4[1],
                          ClassGuid->Data4[2], ClassGuid->Data4[3], ClassGuid->Data4[4], ClassGuid->Data4[5],
                          ClassGuid->Data4[6], ClassGuid->Data4[7]);
        for (auto &kv : im.nodes) {
            if (kv.first == 1) continue;  // the root is not an installed device
            if (want[0] != '\0' && kv.second.classGuid != want) continue;
            set->devInsts.push_back(kv.first);
        }
        ++im.openSets;
    }
    SetLastError(ERROR_SUCCESS);
    return addHandle(set);
}

HDEVINFO SetupDiGetClassDevsW(const GUID *ClassGuid, PCWSTR Enumerator, HWND hwndParent, DWORD Flags) {
    return SetupDiGetClassDevsExW(ClassGuid, Enumerator, hwndParent, Flags, nullptr, nullptr, nullptr);
}

BOOL SetupDiGetDeviceInfoListDetailW(HDEVINFO set, PSP_DEVINFO_LIST_DETAIL_DATA_W detail) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (detail == nullptr || detail->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA_W))
        return fail(ERROR_INVALID_USER_BUFFER);
    {
        std::lock_guard<std::mutex> lock(s->host->mutex());
        if (uint32_t e = HostAccess::impl(*s->host).callFault("SetupDiGetDeviceInfoListDetail")) return fail(e);
    }
    std::memset(&detail->ClassGuid, 0, sizeof detail->ClassGuid);
    detail->RemoteMachineHandle = nullptr;
    detail->RemoteMachineName[0] = L'\0';
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
    if (index >= s->devInsts.size()) return fail(ERROR_NO_MORE_ITEMS);
    Host::Impl &im = HostAccess::impl(*s->host);
    std::lock_guard<std::mutex> lock(s->host->mutex());
    if (uint32_t e = im.callFault("SetupDiEnumDeviceInfo")) return fail(e);
    std::memset(&data->ClassGuid, 0, sizeof data->ClassGuid);
    auto it = im.nodes.find(s->devInsts[index]);
    if (it != im.nodes.end() && it->second.classGuid.size() == 38) {
        std::wstring g = widen(it->second.classGuid.substr(1, 36));
        UuidFromStringW(&g[0], &data->ClassGuid);
    }
    data->DevInst = s->devInsts[index];
    data->Reserved = 0;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                       PBYTE buffer, DWORD size, PDWORD required) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_PARAMETER);
    if (buffer == nullptr && size != 0) return fail(ERROR_INVALID_USER_BUFFER);
    Host::Impl &im = HostAccess::impl(*s->host);
    std::lock_guard<std::mutex> lock(s->host->mutex());
    if (uint32_t e = im.callFault("SetupDiGetDeviceRegistryProperty")) return fail(e);
    auto it = im.nodes.find(data->DevInst);
    if (it == im.nodes.end()) return fail(ERROR_NO_SUCH_DEVINST);
    std::wstring value;
    DWORD t = REG_SZ;
    if (property > SPDRP_PHYSICAL_DEVICE_OBJECT_NAME + 0x20) return fail(ERROR_INVALID_REG_PROPERTY);
    if (!nodeProperty(it->second, property, value, t)) return fail(ERROR_INVALID_DATA);
    DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    if (required) *required = bytes;
    if (type) *type = t;
    if (buffer == nullptr || size < bytes) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, value.c_str(), bytes);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO set, PSP_DEVINFO_DATA data, PWSTR id, DWORD size, PDWORD required) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_PARAMETER);
    Host::Impl &im = HostAccess::impl(*s->host);
    std::lock_guard<std::mutex> lock(s->host->mutex());
    auto it = im.nodes.find(data->DevInst);
    if (it == im.nodes.end()) return fail(ERROR_NO_SUCH_DEVINST);
    const std::string &v = it->second.instanceId;
    if (required) *required = static_cast<DWORD>(v.size() + 1);
    if (!copyWide(v, id, size)) return fail(ERROR_INSUFFICIENT_BUFFER);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiSetClassInstallParamsW(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER params, DWORD size) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_PARAMETER);
    {
        std::lock_guard<std::mutex> lock(s->host->mutex());
        if (uint32_t e = HostAccess::impl(*s->host).callFault("SetupDiSetClassInstallParams")) return fail(e);
    }
    if (params == nullptr) {
        s->removeParams.erase(data->DevInst);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    if (params->cbSize != sizeof(SP_CLASSINSTALL_HEADER)) return fail(ERROR_INVALID_USER_BUFFER);
    if (params->InstallFunction == DIF_REMOVE) {
        if (size != sizeof(SP_REMOVEDEVICE_PARAMS)) return fail(ERROR_INVALID_PARAMETER);
        SP_REMOVEDEVICE_PARAMS p;
        std::memcpy(&p, params, sizeof p);
        if (p.Scope != DI_REMOVEDEVICE_GLOBAL && p.Scope != DI_REMOVEDEVICE_CONFIGSPECIFIC)
            return fail(ERROR_INVALID_FLAGS);
        s->removeParams[data->DevInst] = p;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_PARAMETER);
    Host::Impl &im = HostAccess::impl(*s->host);
    std::lock_guard<std::mutex> lock(s->host->mutex());
    if (uint32_t e = im.callFault("SetupDiCallClassInstaller")) return fail(e);
    auto it = im.nodes.find(data->DevInst);
    if (it == im.nodes.end()) return fail(ERROR_NO_SUCH_DEVINST);
    if (function == DIF_REMOVE) {
        // Without parameters the default is a global removal, as on Windows.
        RemovalRecord record;
        record.instanceId = it->second.instanceId;
        auto p = s->removeParams.find(data->DevInst);
        if (p != s->removeParams.end()) {
            record.withParameters = true;
            record.scope = p->second.Scope;
            record.hwProfile = p->second.HwProfile;
        }
        im.removals.push_back(record);
        im.removedIds.push_back(it->second.instanceId);
        if (Lun *l = it->second.lun) {
            // Uninstalled for good: a deported LUN is taken away by the array,
            // so rescans do not bring it back until it is presented again.
            im.makeGone(*l);
            l->m_removed = true;
        } else {
            im.eraseNode(it->first);
        }
        if (im.rebootOnRemove) s->installFlags[data->DevInst] |= DI_NEEDREBOOT;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_DEVINSTALL_PARAMS_W params) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (params == nullptr || params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) return fail(ERROR_INVALID_USER_BUFFER);
    {
        std::lock_guard<std::mutex> lock(s->host->mutex());
        if (uint32_t e = HostAccess::impl(*s->host).callFault("SetupDiGetDeviceInstallParams")) return fail(e);
    }
    DWORD cb = params->cbSize;
    std::memset(params, 0, sizeof *params);
    params->cbSize = cb;
    if (data != nullptr) {
        auto f = s->installFlags.find(data->DevInst);
        if (f != s->installFlags.end()) params->Flags = f->second;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s || !removeHandle(set)) return fail(ERROR_INVALID_HANDLE);
    {
        std::lock_guard<std::mutex> lock(s->host->mutex());
        --HostAccess::impl(*s->host).openSets;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

} // extern "C"

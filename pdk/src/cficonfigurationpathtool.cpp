#include "pdk/cficonfiguration.h"

#include "kelm/kelm_util.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfiudid.h"
#include "platform/windows.h"

#include <ace/OS_NS_sys_stat.h>
#include <ace/OS_NS_unistd.h>

#include <cwchar>
#include <vector>

namespace kelm_pdk_4_4 {

namespace {

#ifdef _WIN32
const wchar_t kSep[] = L"\\";
#else
const wchar_t kSep[] = L"/";
#endif

// Registry paths keep the backslash on every platform: they name registry
// keys, not files.
const wchar_t kKelmKey[] = L"SOFTWARE\\Ostrel\\Kelm";
const wchar_t kWindowsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// Frees a wide string handed out by the framework utility library.
void freeKelmString(wchar_t *s) {
    if (s != nullptr) kelm_free_buf(s, static_cast<uint32_t>((std::wcslen(s) + 1) * sizeof(wchar_t)));
}

// Reads a REG_SZ value of a key under HKEY_LOCAL_MACHINE. The value is only
// stored when the whole read succeeded.
LONG readRegistryString(const wchar_t *key, const wchar_t *valueName, WString &out) {
    HKEY h = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &h);
    if (status != ERROR_SUCCESS) return status;
    DWORD type = 0;
    DWORD size = 0;
    status = RegQueryValueExW(h, valueName, nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS && type != REG_SZ) status = ERROR_FILE_NOT_FOUND;
    if (status == ERROR_SUCCESS) {
        // One spare character: registry strings need not be terminated.
        std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
        DWORD bytes = static_cast<DWORD>((buf.size() - 1) * sizeof(wchar_t));
        status = RegQueryValueExW(h, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(buf.data()), &bytes);
        if (status == ERROR_SUCCESS) {
            buf.back() = L'\0';
            out = WString(buf.data());
        }
    }
    RegCloseKey(h);
    return status;
}

// Creates dir when it is missing; 0 when it exists afterwards.
int ensureDirectory(const WString &dir) {
    if (CFiConfigurationPathTool::verify(dir) == 0) return 0;
    ACE_OS::mkdir(CFiStringTool::toNarrow(dir).c_str(), 0755);
    return CFiConfigurationPathTool::verify(dir);
}

WString installPath() {
    WString install;
    CFiConfigurationPathTool::getInstallPath(install);
    return install;
}

// A UDID field used as a directory or file name must stay one path component.
std::string asPathComponent(std::string s) {
    for (char &c : s)
        if (c == '/' || c == '\\') c = '_';
    if (s == "." || s == "..") s.assign(s.size(), '_');
    return s;
}

int cacheKey(const std::string &udid, const wchar_t *kind, WString &path) {
    // The path tool reports by status and never throws: an identifier the
    // parser rejects has no enclosure and so no cache file.
    std::string enclosure;
    try {
        enclosure = CFiUdid(udid).m_enclosure;
    } catch (const CFiUdidException &) {
        path.clear();
        return -1;
    }
    WString dir = installPath() + WString(L"CacheFiles") + WString(kSep);
    ensureDirectory(dir);
    dir += WString(kind) + WString(kSep);
    ensureDirectory(dir);
    dir += CFiStringTool::toWide(asPathComponent(enclosure)) + WString(kSep);
    int status = ensureDirectory(dir);

    std::string file = udid;
    CFiStringTool::searchreplace(file, ":", "_");
    path = dir + CFiStringTool::toWide(asPathComponent(file));
    return status;
}

} // namespace

int CFiConfigurationPathTool::getInstallPath(WString &path) {
    wchar_t *consumer = nullptr;
    kelm_get_consumer_name(&consumer);
    WString key(kKelmKey);
    if (consumer != nullptr) {
        key += WString(L"\\") + WString(consumer);
        freeKelmString(consumer);
    }

    LONG status = readRegistryString(key.c_str(), L"InstallDir64", path);
    if (status == ERROR_SUCCESS) return 0;

    if (path.empty()) {
        wchar_t *root = nullptr;
        kelm_get_install_root(&root);
        if (root != nullptr) {
            path = WString(root);
            freeKelmString(root);
        }
    }
    // Callers get the registry's verdict even when the framework supplied
    // the directory; every caller builds paths from whatever is in `path`.
    return static_cast<int>(status);
}

int CFiConfigurationPathTool::getProgramFilesDir(WString &path) {
    return static_cast<int>(readRegistryString(kWindowsKey, L"ProgramFilesDir", path));
}

int CFiConfigurationPathTool::getProgramFilesX86Dir(WString &path) {
    return static_cast<int>(readRegistryString(kWindowsKey, L"ProgramFilesDir (x86)", path));
}

int CFiConfigurationPathTool::getTraceFileInfo(const WString &name, WString &dir, WString &file) {
    dir = installPath() + WString(L"Logs") + WString(kSep);
    file = name + WString(L".log");
    return ensureDirectory(dir);
}

int CFiConfigurationPathTool::getConfigFileInfo(const WString &name, WString &dir, WString &file) {
    dir = installPath() + WString(L"ConfigFiles") + WString(kSep);
    file = name + WString(L".conf");
    return ensureDirectory(dir);
}

int CFiConfigurationPathTool::getMessageFileInfo(const WString &name, WString &dir, WString &file) {
    dir = installPath() + WString(L"Messages") + WString(kSep);
    file = WString(L"lib") + name;
    return ensureDirectory(dir);
}

int CFiConfigurationPathTool::getCacheLocationInfo(WString &dir) {
    dir = installPath() + WString(L"CacheFiles") + WString(kSep);
    return ensureDirectory(dir);
}

int CFiConfigurationPathTool::getDevKey(const std::string &udid, WString &path) {
    return cacheKey(udid, L"devHandle", path);
}

int CFiConfigurationPathTool::getLunKey(const std::string &udid, WString &path) {
    return cacheKey(udid, L"luns", path);
}

int CFiConfigurationPathTool::verify(const WString &path) {
    return ACE_OS::access(CFiStringTool::toNarrow(path).c_str(), F_OK) == 0 ? 0 : -1;
}

} // namespace kelm_pdk_4_4

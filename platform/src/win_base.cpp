// Basic services of the Windows subset: last error, computer name, the
// absent registry.
#include "sim_internal.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;

// A simulated host that names itself nowhere is called this: the build
// machine's name would make identifiers and keys differ from one machine to
// the next.
constexpr const char *kUnnamedHost = "RENDOSIM";

// The computer name of the simulated host: its own when it names one, else KELM_COMPUTER_NAME, else
// kUnnamedHost, upper-cased and cut to 15 characters as Windows does.
std::wstring computerName() {
    std::string name = rendo_sim::detail::simulatedComputerName();
    if (!name.empty()) {
    } else if (const char *env = std::getenv("KELM_COMPUTER_NAME"); env != nullptr && *env != '\0') {
        name = env;
    } else {
        name = kUnnamedHost;
    }
    if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
    std::wstring w;
    for (char c : name) w.push_back(static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(c))));
    return w;
}
} // namespace

extern "C" {

DWORD GetLastError(void) { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size) {
    if (size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring name = computerName();
    if (buffer == nullptr || *size < name.size() + 1) {
        *size = static_cast<DWORD>(name.size() + 1);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    std::wmemcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return TRUE;
}

LONG RegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, HKEY *result) {
    if (result != nullptr) *result = nullptr;
    return ERROR_FILE_NOT_FOUND;
}

LONG RegQueryValueExW(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) { return ERROR_FILE_NOT_FOUND; }

LONG RegCloseKey(HKEY) { return ERROR_INVALID_HANDLE; }

BOOL DisableThreadLibraryCalls(HMODULE) { return TRUE; }

} // extern "C"

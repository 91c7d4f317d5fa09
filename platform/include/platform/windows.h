// The Windows API subset the provider uses. On Windows this header would
// include the SDK; on Linux it declares the same names, constants and
// structure layouts and the platform library implements them over a
// simulated Windows host.
#ifndef PLATFORM_WINDOWS_H
#define PLATFORM_WINDOWS_H

#include <cstddef>
#include <cstdint>
#include <cwchar>

extern "C" {

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef void *HANDLE;
typedef void *HMODULE;
typedef void *HKEY;
typedef wchar_t WCHAR;
typedef const wchar_t *LPCWSTR;
typedef wchar_t *LPWSTR;
typedef DWORD *LPDWORD;
typedef BYTE *LPBYTE;
typedef uint32_t REGSAM;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MORE_DATA 234L
#define ERROR_BUFFER_OVERFLOW 111L

#define MAX_COMPUTERNAME_LENGTH 15

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define KEY_READ 0x20019u
#define KEY_WOW64_64KEY 0x0100u
#define REG_SZ 1u

DWORD GetLastError(void);
void SetLastError(DWORD code);

// The simulated host's computer name; ERROR_BUFFER_OVERFLOW with the needed
// size (including the terminator) in *size when the buffer is too small.
BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size);

// There is no registry on Linux: every open fails with ERROR_FILE_NOT_FOUND,
// so callers take their documented fallbacks.
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, HKEY *result);
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LONG RegCloseKey(HKEY key);

BOOL DisableThreadLibraryCalls(HMODULE module);

} // extern "C"

#endif // PLATFORM_WINDOWS_H

// The Windows API subset the provider uses. On Windows this header would
// include the SDK; on Linux it declares the same names, constants and
// structure layouts and the platform library implements them over a
// simulated Windows host (see platform/simhost.h).
//
// Layouts are those of x86-64 Windows and are pinned below. The one
// difference that shows is WCHAR: it is wchar_t, 4 bytes on Linux. Counts
// given "in characters" (device-ID lists, QueryDosDeviceW, CM_Get_Device_IDW)
// are characters here too; byte counts (registry properties) are
// characters * sizeof(WCHAR). Text arrays embedded in structures
// (SP_DEVINSTALL_PARAMS_W, SP_DEVINFO_LIST_DETAIL_DATA_W) are UTF-16 units
// (UTF16UNIT), so those structures keep their Windows sizes; set their
// cbSize with sizeof all the same.
//
// May be included before or after ACE headers. ACE on Linux defines
// GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING and FILE_ATTRIBUTE_NORMAL as
// 0 when they are missing and uses them nowhere; this header replaces them
// with the Windows values. LPSECURITY_ATTRIBUTES is ACE's (an int macro), so
// the prototypes here take `SECURITY_ATTRIBUTES *` instead: pass nullptr.
#ifndef PLATFORM_WINDOWS_H
#define PLATFORM_WINDOWS_H

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cwchar>

extern "C" {

// ---------------------------------------------------------------- base types
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint16_t USHORT;
typedef uint8_t UCHAR;
typedef uint8_t BOOLEAN;
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef unsigned int UINT;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef uint64_t ULONGLONG;
typedef int64_t LONGLONG;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef void *PVOID;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef void *HANDLE;
typedef HANDLE *PHANDLE;
typedef void *HMODULE;
typedef void *HKEY;
typedef void *HWND;
typedef void *HLOCAL;
typedef const wchar_t *LPCWSTR;
typedef const wchar_t *PCWSTR;
typedef wchar_t *LPWSTR;
typedef wchar_t *PWSTR;
typedef wchar_t *PZZWSTR;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef DWORD *LPDWORD;
typedef DWORD *PDWORD;
typedef ULONG *PULONG;
typedef LONG *LPLONG;
typedef BYTE *LPBYTE;
typedef BYTE *PBYTE;
typedef uint32_t REGSAM;
// One UTF-16 code unit: the WCHAR of Windows inside fixed-layout structures.
typedef uint16_t UTF16UNIT;

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES;

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        } s;
        PVOID Pointer;
    } u;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID UUID;
typedef GUID *LPGUID;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
#define MAX_PATH 260
#define MAX_COMPUTERNAME_LENGTH 15
#define INFINITE 0xFFFFFFFFu

// ------------------------------------------------------------ error numbers
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_READY 21L
#define ERROR_CRC 23L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_DEV_NOT_EXIST 55L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BUFFER_OVERFLOW 111L
#define ERROR_SEM_TIMEOUT 121L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_TOO_MANY_POSTS 298L
#define ERROR_IO_PENDING 997L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_IO_DEVICE 1117L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_NOT_FOUND 1168L
#define ERROR_INVALID_USER_BUFFER 1784L
// SetupAPI errors carry the customer bit and the error severity.
#define ERROR_NO_SUCH_DEVINST 0xE000020Bu
#define ERROR_INVALID_CLASS_INSTALLER 0xE000020Du
#define ERROR_DI_DO_DEFAULT 0xE000020Eu
#define ERROR_INVALID_REG_PROPERTY 0xE0000209u

// ------------------------------------------------------------- files, I/O
#ifdef GENERIC_READ
#undef GENERIC_READ
#endif
#ifdef FILE_SHARE_READ
#undef FILE_SHARE_READ
#endif
#ifdef OPEN_EXISTING
#undef OPEN_EXISTING
#endif
#ifdef FILE_ATTRIBUTE_NORMAL
#undef FILE_ATTRIBUTE_NORMAL
#endif
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

// Device-control codes: CTL_CODE(type, function, method, access).
#define CTL_CODE(DeviceType, Function, Method, Access) \
    (((DWORD)(DeviceType) << 16) | ((DWORD)(Access) << 14) | ((DWORD)(Function) << 2) | (DWORD)(Method))
#define METHOD_BUFFERED 0
#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 1
#define FILE_WRITE_ACCESS 2
#define FILE_DEVICE_CONTROLLER 0x00000004
#define FILE_DEVICE_DISK 0x00000007
#define FILE_DEVICE_MASS_STORAGE 0x0000002d
#define IOCTL_SCSI_BASE FILE_DEVICE_CONTROLLER
#define IOCTL_DISK_BASE FILE_DEVICE_DISK
#define IOCTL_STORAGE_BASE FILE_DEVICE_MASS_STORAGE

#define IOCTL_SCSI_PASS_THROUGH 0x0004D004u         // CTL_CODE(4, 0x401, BUFFERED, READ|WRITE)
#define IOCTL_SCSI_MINIPORT 0x0004D008u
#define IOCTL_SCSI_GET_INQUIRY_DATA 0x0004100Cu     // CTL_CODE(4, 0x403, BUFFERED, ANY)
#define IOCTL_SCSI_GET_CAPABILITIES 0x00041010u
#define IOCTL_SCSI_PASS_THROUGH_DIRECT 0x0004D014u  // CTL_CODE(4, 0x405, BUFFERED, READ|WRITE)
#define IOCTL_SCSI_GET_ADDRESS 0x00041018u          // CTL_CODE(4, 0x406, BUFFERED, ANY)
#define IOCTL_SCSI_RESCAN_BUS 0x0004101Cu
#define IOCTL_DISK_GET_DRIVE_GEOMETRY 0x00070000u   // CTL_CODE(7, 0, BUFFERED, ANY)
#define IOCTL_STORAGE_QUERY_PROPERTY 0x002D1400u    // CTL_CODE(0x2d, 0x500, BUFFERED, ANY)

#define SCSI_IOCTL_DATA_OUT 0
#define SCSI_IOCTL_DATA_IN 1
#define SCSI_IOCTL_DATA_UNSPECIFIED 2

// SCSI status bytes a pass-through request may return.
#define SCSISTAT_GOOD 0x00
#define SCSISTAT_CHECK_CONDITION 0x02
#define SCSISTAT_BUSY 0x08
#define SCSISTAT_RESERVATION_CONFLICT 0x18

typedef struct _SCSI_PASS_THROUGH {
    USHORT Length;
    UCHAR ScsiStatus;
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    UCHAR CdbLength;
    UCHAR SenseInfoLength;
    UCHAR DataIn;
    ULONG DataTransferLength;
    ULONG TimeOutValue;
    ULONG_PTR DataBufferOffset;
    ULONG SenseInfoOffset;
    UCHAR Cdb[16];
} SCSI_PASS_THROUGH, *PSCSI_PASS_THROUGH;

typedef struct _SCSI_PASS_THROUGH_DIRECT {
    USHORT Length;
    UCHAR ScsiStatus;
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    UCHAR CdbLength;
    UCHAR SenseInfoLength;
    UCHAR DataIn;
    ULONG DataTransferLength;
    ULONG TimeOutValue;
    PVOID DataBuffer;
    ULONG SenseInfoOffset;
    UCHAR Cdb[16];
} SCSI_PASS_THROUGH_DIRECT, *PSCSI_PASS_THROUGH_DIRECT;

typedef struct _SCSI_ADDRESS {
    ULONG Length;
    UCHAR PortNumber;
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
} SCSI_ADDRESS, *PSCSI_ADDRESS;

typedef enum _MEDIA_TYPE { RemovableMedia = 11, FixedMedia = 12 } MEDIA_TYPE;

typedef struct _DISK_GEOMETRY {
    LARGE_INTEGER Cylinders;
    MEDIA_TYPE MediaType;
    DWORD TracksPerCylinder;
    DWORD SectorsPerTrack;
    DWORD BytesPerSector;
} DISK_GEOMETRY, *PDISK_GEOMETRY;

// IOCTL_SCSI_GET_INQUIRY_DATA answer: the bus table, then one
// SCSI_INQUIRY_DATA record per logical unit chained by NextInquiryDataOffset
// (offsets from the start of the buffer). A disk handle answers for its own
// logical unit only: one bus, the record at offset 12, its inquiry bytes at 24.
typedef struct _SCSI_BUS_DATA {
    UCHAR NumberOfLogicalUnits;
    UCHAR InitiatorBusId;
    ULONG InquiryDataOffset;
} SCSI_BUS_DATA, *PSCSI_BUS_DATA;

typedef struct _SCSI_ADAPTER_BUS_INFO {
    UCHAR NumberOfBuses;
    SCSI_BUS_DATA BusData[1];
} SCSI_ADAPTER_BUS_INFO, *PSCSI_ADAPTER_BUS_INFO;

typedef struct _SCSI_INQUIRY_DATA {
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    BOOLEAN DeviceClaimed;
    ULONG InquiryDataLength;
    ULONG NextInquiryDataOffset;
    UCHAR InquiryData[1];
} SCSI_INQUIRY_DATA, *PSCSI_INQUIRY_DATA;

typedef enum _STORAGE_PROPERTY_ID { StorageDeviceProperty = 0, StorageAdapterProperty = 1 } STORAGE_PROPERTY_ID;
typedef enum _STORAGE_QUERY_TYPE { PropertyStandardQuery = 0, PropertyExistsQuery = 1 } STORAGE_QUERY_TYPE;
typedef enum _STORAGE_BUS_TYPE {
    BusTypeUnknown = 0,
    BusTypeScsi = 1,
    BusTypeAtapi = 2,
    BusTypeAta = 3,
    BusType1394 = 4,
    BusTypeSsa = 5,
    BusTypeFibre = 6,
    BusTypeUsb = 7,
    BusTypeRAID = 8,
    BusTypeiScsi = 9,
    BusTypeSas = 10
} STORAGE_BUS_TYPE;

typedef struct _STORAGE_PROPERTY_QUERY {
    STORAGE_PROPERTY_ID PropertyId;
    STORAGE_QUERY_TYPE QueryType;
    UCHAR AdditionalParameters[1];
} STORAGE_PROPERTY_QUERY, *PSTORAGE_PROPERTY_QUERY;

typedef struct _STORAGE_DESCRIPTOR_HEADER {
    ULONG Version;
    ULONG Size;
} STORAGE_DESCRIPTOR_HEADER, *PSTORAGE_DESCRIPTOR_HEADER;

typedef struct _STORAGE_ADAPTER_DESCRIPTOR {
    ULONG Version;
    ULONG Size;
    ULONG MaximumTransferLength;
    ULONG MaximumPhysicalPages;
    ULONG AlignmentMask;
    BOOLEAN AdapterUsesPio;
    BOOLEAN AdapterScansDown;
    BOOLEAN CommandQueueing;
    BOOLEAN AcceleratedTransfer;
    UCHAR BusType;
    USHORT BusMajorVersion;
    USHORT BusMinorVersion;
    UCHAR SrbType;
    UCHAR AddressType;
} STORAGE_ADAPTER_DESCRIPTOR, *PSTORAGE_ADAPTER_DESCRIPTOR;

typedef struct _STORAGE_DEVICE_DESCRIPTOR {
    ULONG Version;
    ULONG Size;
    UCHAR DeviceType;
    UCHAR DeviceTypeModifier;
    BOOLEAN RemovableMedia;
    BOOLEAN CommandQueueing;
    ULONG VendorIdOffset;
    ULONG ProductIdOffset;
    ULONG ProductRevisionOffset;
    ULONG SerialNumberOffset;
    STORAGE_BUS_TYPE BusType;
    ULONG RawPropertiesLength;
    UCHAR RawDeviceProperties[1];
} STORAGE_DEVICE_DESCRIPTOR, *PSTORAGE_DEVICE_DESCRIPTOR;

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   SECURITY_ATTRIBUTES *lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   SECURITY_ATTRIBUTES *lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Closes device, semaphore and registry-less handles alike; a closed or
// unknown handle fails with ERROR_INVALID_HANDLE (handle values are never reused).
BOOL CloseHandle(HANDLE hObject);
// Overlapped I/O is not supported: lpOverlapped must be null.
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);
// lpDeviceName null: every DOS device name, each terminated, the list ended
// by an empty name. Too small a buffer: 0 and ERROR_INSUFFICIENT_BUFFER.
DWORD QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax);

// ------------------------------------------------------------------ errors
DWORD GetLastError(void);
void SetLastError(DWORD dwErrCode);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu
#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_ENGLISH_US 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

// Only FORMAT_MESSAGE_FROM_SYSTEM is supported (with IGNORE_INSERTS and
// ALLOCATE_BUFFER, the latter freed with LocalFree). The text ends in
// "\r\n" as on Windows. Unknown numbers: 0 and ERROR_MR_MID_NOT_FOUND (317).
// nSize is in characters; too small: 0 and ERROR_INSUFFICIENT_BUFFER.
#define ERROR_MR_MID_NOT_FOUND 317L
DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPWSTR lpBuffer, DWORD nSize, va_list *Arguments);
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list *Arguments);

// -------------------------------------------------------------------- memory
#define HEAP_ZERO_MEMORY 0x00000008u
#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
HANDLE GetProcessHeap(void);
LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL LocalFree(HLOCAL hMem);

// ---------------------------------------------------- synchronisation, time
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define SYNCHRONIZE 0x00100000u
#define SEMAPHORE_MODIFY_STATE 0x0002u
#define SEMAPHORE_ALL_ACCESS 0x001F0003u

// A named semaphore is host-wide: with a maximum count of 1 it also excludes
// other processes (a lock the kernel drops when its holder dies); larger
// counts are counted within the process only. Creating an existing name
// opens it and sets ERROR_ALREADY_EXISTS.
HANDLE CreateSemaphoreW(SECURITY_ATTRIBUTES *lpSemaphoreAttributes, LONG lInitialCount, LONG lMaximumCount,
                        LPCWSTR lpName);
HANDLE CreateSemaphoreA(SECURITY_ATTRIBUTES *lpSemaphoreAttributes, LONG lInitialCount, LONG lMaximumCount,
                        LPCSTR lpName);
HANDLE OpenSemaphoreW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
BOOL ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LPLONG lpPreviousCount);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// Sleeps for real, or on the simulated host's virtual clock when enabled
// (recorded, time advanced, no wait).
void Sleep(DWORD dwMilliseconds);
// Milliseconds of the simulated host's clock (virtual when enabled).
DWORD GetTickCount(void);
ULONGLONG GetTickCount64(void);

// ------------------------------------------------------------ computer name
// The simulated host's computer name; ERROR_BUFFER_OVERFLOW with the needed
// size (including the terminator) in *size when the buffer is too small.
BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size);

// ----------------------------------------------------------- Windows sockets
// gethostname, gethostbyname and gethostbyaddr answer from the simulated
// host's network identity (its computer name and addresses, "localhost" and
// dotted IPv4 text), never from a name server. They keep the C library's
// prototypes (<unistd.h>, <netdb.h>) so both headers may be included; the
// platform library's definitions take their place in every program it is
// linked into. As with Windows sockets, a hostent result lives in storage of
// the calling thread, valid until that thread's next lookup; a failed lookup
// returns null with h_errno HOST_NOT_FOUND. inet_addr, ntohl and ntohs are
// the C library's own.

// ---------------------------------------------------------------- registry
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define KEY_READ 0x20019u
#define KEY_WOW64_64KEY 0x0100u
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

// There is no registry on Linux: every open fails with ERROR_FILE_NOT_FOUND,
// so callers take their documented fallbacks.
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, HKEY *result);
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LONG RegCloseKey(HKEY key);

BOOL DisableThreadLibraryCalls(HMODULE module);

// ----------------------------------------------------------------- RPC UUID
typedef LONG RPC_STATUS;
typedef wchar_t *RPC_WSTR;
#define RPC_S_OK 0
#define RPC_S_INVALID_STRING_UUID 1705
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" without braces; null gives the nil UUID.
RPC_STATUS UuidFromStringW(RPC_WSTR StringUuid, UUID *Uuid);
int UuidEqual(UUID *Uuid1, UUID *Uuid2, RPC_STATUS *Status);

// ---------------------------------------------------- Configuration Manager
typedef DWORD CONFIGRET;
typedef DWORD DEVINST;
typedef DWORD DEVNODE;
typedef DEVINST *PDEVINST;
typedef wchar_t *DEVINSTID_W;
typedef HANDLE HMACHINE;

#define CR_SUCCESS 0x00000000u
#define CR_DEFAULT 0x00000001u
#define CR_OUT_OF_MEMORY 0x00000002u
#define CR_INVALID_POINTER 0x00000003u
#define CR_INVALID_FLAG 0x00000004u
#define CR_INVALID_DEVNODE 0x00000005u
#define CR_INVALID_DEVINST CR_INVALID_DEVNODE
#define CR_NO_SUCH_DEVNODE 0x0000000Du
#define CR_NO_SUCH_DEVINST CR_NO_SUCH_DEVNODE
#define CR_FAILURE 0x00000013u
#define CR_REMOVE_VETOED 0x00000017u
#define CR_BUFFER_SMALL 0x0000001Au
#define CR_REGISTRY_ERROR 0x0000001Du
#define CR_INVALID_DEVICE_ID 0x0000001Eu
#define CR_INVALID_DATA 0x0000001Fu
#define CR_NEED_RESTART 0x00000022u
#define CR_DEVICE_NOT_THERE 0x00000024u
#define CR_NO_SUCH_VALUE 0x00000025u
#define CR_INVALID_PROPERTY 0x00000035u
#define CR_ACCESS_DENIED 0x00000033u
#define CR_CALL_NOT_IMPLEMENTED 0x00000034u

#define CM_LOCATE_DEVNODE_NORMAL 0x00000000u
#define CM_LOCATE_DEVNODE_PHANTOM 0x00000001u
#define CM_LOCATE_DEVNODE_CANCELREMOVE 0x00000002u
#define CM_LOCATE_DEVNODE_NOVALIDATION 0x00000004u
#define CM_REENUMERATE_NORMAL 0x00000000u
#define CM_REENUMERATE_SYNCHRONOUS 0x00000001u
#define CM_REENUMERATE_RETRY_INSTALLATION 0x00000002u
#define CM_REENUMERATE_ASYNCHRONOUS 0x00000004u
#define CM_GETIDLIST_FILTER_NONE 0x00000000u

// CM_DRP_x is SPDRP_x + 1.
#define CM_DRP_DEVICEDESC 0x00000001u
#define CM_DRP_HARDWAREID 0x00000002u
#define CM_DRP_COMPATIBLEIDS 0x00000003u
#define CM_DRP_SERVICE 0x00000005u
#define CM_DRP_CLASS 0x00000008u
#define CM_DRP_CLASSGUID 0x00000009u
#define CM_DRP_DRIVER 0x0000000Au
#define CM_DRP_MFG 0x0000000Cu
#define CM_DRP_FRIENDLYNAME 0x0000000Du
#define CM_DRP_LOCATION_INFORMATION 0x0000000Eu
#define CM_DRP_PHYSICAL_DEVICE_OBJECT_NAME 0x0000000Fu

// Sizes and buffer lengths are in characters; the list is a multi-string.
CONFIGRET CM_Get_Device_ID_List_SizeW(PULONG pulLen, PCWSTR pszFilter, ULONG ulFlags);
CONFIGRET CM_Get_Device_ID_List_Size_ExW(PULONG pulLen, PCWSTR pszFilter, ULONG ulFlags, HMACHINE hMachine);
CONFIGRET CM_Get_Device_ID_ListW(PCWSTR pszFilter, PZZWSTR Buffer, ULONG BufferLen, ULONG ulFlags);
CONFIGRET CM_Get_Device_ID_List_ExW(PCWSTR pszFilter, PZZWSTR Buffer, ULONG BufferLen, ULONG ulFlags,
                                    HMACHINE hMachine);
// A null or empty device ID locates the root of the device tree.
CONFIGRET CM_Locate_DevNodeW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID, ULONG ulFlags);
CONFIGRET CM_Locate_DevNode_ExW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID, ULONG ulFlags, HMACHINE hMachine);
CONFIGRET CM_Get_Device_IDW(DEVINST dnDevInst, PWSTR Buffer, ULONG BufferLen, ULONG ulFlags);
CONFIGRET CM_Get_Device_ID_ExW(DEVINST dnDevInst, PWSTR Buffer, ULONG BufferLen, ULONG ulFlags, HMACHINE hMachine);
CONFIGRET CM_Get_Device_ID_Size(PULONG pulLen, DEVINST dnDevInst, ULONG ulFlags);
// *pulLength is in bytes; a null or short buffer gives CR_BUFFER_SMALL with
// the needed size.
CONFIGRET CM_Get_DevNode_Registry_PropertyW(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                            PVOID Buffer, PULONG pulLength, ULONG ulFlags);
CONFIGRET CM_Get_DevNode_Registry_Property_ExW(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                               PVOID Buffer, PULONG pulLength, ULONG ulFlags, HMACHINE hMachine);
CONFIGRET CM_Reenumerate_DevNode(DEVINST dnDevInst, ULONG ulFlags);
CONFIGRET CM_Reenumerate_DevNode_Ex(DEVINST dnDevInst, ULONG ulFlags, HMACHINE hMachine);
CONFIGRET CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);
CONFIGRET CM_Get_Child(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);
CONFIGRET CM_Get_Sibling(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);

// ----------------------------------------------------------------- SetupAPI
typedef PVOID HDEVINFO;
typedef UINT DI_FUNCTION;

#define DIGCF_DEFAULT 0x00000001u
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_ALLCLASSES 0x00000004u
#define DIGCF_PROFILE 0x00000008u
#define DIGCF_DEVICEINTERFACE 0x00000010u

#define DIF_SELECTDEVICE 0x00000001u
#define DIF_INSTALLDEVICE 0x00000002u
#define DIF_REMOVE 0x00000005u
#define DIF_PROPERTYCHANGE 0x00000012u
#define DI_REMOVEDEVICE_GLOBAL 0x00000001u
#define DI_REMOVEDEVICE_CONFIGSPECIFIC 0x00000002u
#define DI_NEEDRESTART 0x00000080u
#define DI_NEEDREBOOT 0x00000100u

#define SPDRP_DEVICEDESC 0x00000000u
#define SPDRP_HARDWAREID 0x00000001u
#define SPDRP_COMPATIBLEIDS 0x00000002u
#define SPDRP_SERVICE 0x00000004u
#define SPDRP_CLASS 0x00000007u
#define SPDRP_CLASSGUID 0x00000008u
#define SPDRP_DRIVER 0x00000009u
#define SPDRP_MFG 0x0000000Bu
#define SPDRP_FRIENDLYNAME 0x0000000Cu
#define SPDRP_LOCATION_INFORMATION 0x0000000Du
#define SPDRP_PHYSICAL_DEVICE_OBJECT_NAME 0x0000000Eu

#define SP_MAX_MACHINENAME_LENGTH (MAX_PATH + 3)

typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVINFO_LIST_DETAIL_DATA_W {
    DWORD cbSize;
    GUID ClassGuid;
    HANDLE RemoteMachineHandle;
    UTF16UNIT RemoteMachineName[SP_MAX_MACHINENAME_LENGTH];
} SP_DEVINFO_LIST_DETAIL_DATA_W, *PSP_DEVINFO_LIST_DETAIL_DATA_W;

typedef struct _SP_CLASSINSTALL_HEADER {
    DWORD cbSize;
    DI_FUNCTION InstallFunction;
} SP_CLASSINSTALL_HEADER, *PSP_CLASSINSTALL_HEADER;

typedef struct _SP_REMOVEDEVICE_PARAMS {
    SP_CLASSINSTALL_HEADER ClassInstallHeader;
    DWORD Scope;
    DWORD HwProfile;
} SP_REMOVEDEVICE_PARAMS, *PSP_REMOVEDEVICE_PARAMS;

typedef struct _SP_DEVINSTALL_PARAMS_W {
    DWORD cbSize;
    DWORD Flags;
    DWORD FlagsEx;
    HWND hwndParent;
    PVOID InstallMsgHandler;
    PVOID InstallMsgHandlerContext;
    PVOID FileQueue;
    ULONG_PTR ClassInstallReserved;
    DWORD Reserved;
    UTF16UNIT DriverPath[MAX_PATH];
} SP_DEVINSTALL_PARAMS_W, *PSP_DEVINSTALL_PARAMS_W;

// Sets hold every device node of the host (or of one class) at the moment
// they are made; flags other than DIGCF_ALLCLASSES/DIGCF_PRESENT are ignored.
// Enumerator, window and machine name must be null (local machine).
HDEVINFO SetupDiGetClassDevsW(const GUID *ClassGuid, PCWSTR Enumerator, HWND hwndParent, DWORD Flags);
HDEVINFO SetupDiGetClassDevsExW(const GUID *ClassGuid, PCWSTR Enumerator, HWND hwndParent, DWORD Flags,
                                HDEVINFO DeviceInfoSet, PCWSTR MachineName, PVOID Reserved);
BOOL SetupDiGetDeviceInfoListDetailW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_LIST_DETAIL_DATA_W DeviceInfoSetDetailData);
// Past the last element: FALSE and ERROR_NO_MORE_ITEMS.
BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData);
// Sizes in bytes; a short buffer gives FALSE, ERROR_INSUFFICIENT_BUFFER and *RequiredSize.
BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                       PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize);
// Sizes in characters.
BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, PWSTR DeviceInstanceId,
                                 DWORD DeviceInstanceIdSize, PDWORD RequiredSize);
BOOL SetupDiSetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                   PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize);
// DIF_REMOVE removes the device from the host (after the class-install
// parameters named it); other functions succeed without effect.
BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                    PSP_DEVINSTALL_PARAMS_W DeviceInstallParams);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

// ------------------------------------------- processes, pipes, events, accounts
// Carried out with real POSIX processes (platform/src/win_process.cpp):
// - A named pipe ("\\.\pipe\NAME") is a connected socket pair: CreateNamedPipeA
//   makes the server end, CreateFileA on the name takes the one client end.
//   Handles are never inherited by accident: only the three standard handles
//   of STARTUPINFOA reach a child.
// - ReadFile with an OVERLAPPED completes at once when data (or the end) is
//   there; otherwise it returns ERROR_IO_PENDING and the read is carried out
//   when the event is waited for, or by GetOverlappedResult. CancelIo drops
//   a read that has not happened, so no byte is lost by cancelling.
// - CreateProcessA runs "/bin/sh -c COMMANDLINE" in a process group of its
//   own (the shell reads the line as Windows hands it to the program; a
//   line that is one simple command is exec'ed, so the child is the program
//   itself and no shell stays in between holding its output). The
//   first word must name an executable file (as given, or found on PATH),
//   else ERROR_FILE_NOT_FOUND; a missing current directory gives
//   ERROR_DIRECTORY. A child killed by signal s exits with 128 + s.
// - GenerateConsoleCtrlEvent sends SIGINT (CTRL_C_EVENT) or SIGTERM
//   (CTRL_BREAK_EVENT) to a child's group; group 0 (this process's own
//   console) is refused. TerminateProcess kills the group with SIGKILL, reaps
//   the child and records the given exit code.
// - Waits follow the host's clock. On the virtual clock a wait that is not
//   satisfied once the children have settled (every process of their groups
//   asleep and using no CPU time for a moment; at most 10 s of real time)
//   advances the clock by its whole time-out and times out; each wait with a finite, non-zero time-out is recorded
//   (Host::waits()).
// - Accounts, passwords and rights are the host's (Host::addAccount, the
//   description's "user" lines). Batch logon (type 4) needs
//   "SeBatchLogonRight". CreateProcessAsUserA starts the child as the calling
//   Linux user and the host records the account (Host::processes()).
#define STILL_ACTIVE 259u
#define ERROR_BROKEN_PIPE 109L
#define ERROR_PIPE_BUSY 231L
#define ERROR_DIRECTORY 267L
#define ERROR_OPERATION_ABORTED 995L
#define ERROR_IO_INCOMPLETE 996L
#define ERROR_LOGON_FAILURE 1326L
#define ERROR_LOGON_TYPE_NOT_GRANTED 1385L

// ACE on Linux defines these as 0 when they are missing (unused there).
#undef PIPE_TYPE_BYTE
#undef PIPE_READMODE_BYTE
#undef PIPE_WAIT
#undef FILE_FLAG_OVERLAPPED
#undef MAXIMUM_WAIT_OBJECTS
#define PIPE_ACCESS_INBOUND 0x00000001u
#define PIPE_ACCESS_OUTBOUND 0x00000002u
#define PIPE_ACCESS_DUPLEX 0x00000003u
#define PIPE_TYPE_BYTE 0x00000000u
#define PIPE_READMODE_BYTE 0x00000000u
#define PIPE_WAIT 0x00000000u
#define PIPE_UNLIMITED_INSTANCES 255u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define WRITE_DAC 0x00040000u
#define WRITE_OWNER 0x00080000u
#define DUPLICATE_CLOSE_SOURCE 0x00000001u
#define DUPLICATE_SAME_ACCESS 0x00000002u
#define STARTF_USESTDHANDLES 0x00000100u
#define NORMAL_PRIORITY_CLASS 0x00000020u
#define CREATE_NEW_PROCESS_GROUP 0x00000200u
#define CREATE_NO_WINDOW 0x08000000u
#define CTRL_C_EVENT 0u
#define CTRL_BREAK_EVENT 1u
#define MAXIMUM_WAIT_OBJECTS 64u
#define LOGON32_LOGON_NETWORK 3u
#define LOGON32_LOGON_BATCH 4u
#define LOGON32_PROVIDER_DEFAULT 0u
#define VER_PLATFORM_WIN32_NT 2u

typedef struct _STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;

// Set dwOSVersionInfoSize with sizeof (the WCHAR array makes it larger than on Windows).
typedef struct _OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
} OSVERSIONINFOW, *LPOSVERSIONINFOW;

// Security identifiers in their Windows binary form (revision 1, authority 5,
// sub-authorities 21, three machine parts and the account's RID).
typedef void *PSID;
typedef DWORD ACCESS_MASK;
typedef LONG NTSTATUS;
typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES;
typedef struct _TOKEN_USER {
    SID_AND_ATTRIBUTES User;
} TOKEN_USER, *PTOKEN_USER;
typedef enum _TOKEN_INFORMATION_CLASS { TokenUser = 1 } TOKEN_INFORMATION_CLASS;

// LSA strings count bytes: characters * sizeof(WCHAR).
typedef struct _LSA_UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
} LSA_UNICODE_STRING, *PLSA_UNICODE_STRING;
typedef struct _LSA_OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PLSA_UNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
} LSA_OBJECT_ATTRIBUTES, *PLSA_OBJECT_ATTRIBUTES;
typedef PVOID LSA_HANDLE;
typedef LSA_HANDLE *PLSA_HANDLE;
#define POLICY_CREATE_ACCOUNT 0x00000010u
#define POLICY_LOOKUP_NAMES 0x00000800u
#define STATUS_SUCCESS 0
#define STATUS_INVALID_HANDLE (static_cast<NTSTATUS>(0xC0000008u))
#define STATUS_INVALID_PARAMETER (static_cast<NTSTATUS>(0xC000000Du))
#define STATUS_NO_SUCH_USER (static_cast<NTSTATUS>(0xC0000064u))
#define STATUS_OBJECT_NAME_NOT_FOUND (static_cast<NTSTATUS>(0xC0000034u))

HANDLE CreateNamedPipeA(LPCSTR lpName, DWORD dwOpenMode, DWORD dwPipeMode, DWORD nMaxInstances, DWORD nOutBufferSize,
                        DWORD nInBufferSize, DWORD nDefaultTimeOut, SECURITY_ATTRIBUTES *lpSecurityAttributes);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);
BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL bWait);
BOOL CancelIo(HANDLE hFile);
HANDLE CreateEventA(SECURITY_ATTRIBUTES *lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
// Waits on processes and events (WaitForSingleObject also on semaphores).
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);
HANDLE GetCurrentProcess(void);
BOOL DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                     PHANDLE lpTargetHandle, DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions);
BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, SECURITY_ATTRIBUTES *lpProcessAttributes,
                    SECURITY_ATTRIBUTES *lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation);
BOOL CreateProcessAsUserA(HANDLE hToken, LPCSTR lpApplicationName, LPSTR lpCommandLine,
                          SECURITY_ATTRIBUTES *lpProcessAttributes, SECURITY_ATTRIBUTES *lpThreadAttributes,
                          BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                          LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                          LPPROCESS_INFORMATION lpProcessInformation);
BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode);
BOOL GenerateConsoleCtrlEvent(DWORD dwCtrlEvent, DWORD dwProcessGroupId);
BOOL SwitchToThread(void);
// Real time (the virtual clock does not move it), in 100 ns units since 1601.
void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation);
BOOL LogonUserA(LPCSTR lpszUsername, LPCSTR lpszDomain, LPCSTR lpszPassword, DWORD dwLogonType,
                DWORD dwLogonProvider, PHANDLE phToken);
BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass, LPVOID TokenInformation,
                         DWORD TokenInformationLength, PDWORD ReturnLength);
BOOL IsValidSid(PSID pSid);
DWORD GetLengthSid(PSID pSid);
BOOL CopySid(DWORD nDestinationSidLength, PSID pDestinationSid, PSID pSourceSid);
NTSTATUS LsaOpenPolicy(PLSA_UNICODE_STRING SystemName, PLSA_OBJECT_ATTRIBUTES ObjectAttributes,
                       ACCESS_MASK DesiredAccess, PLSA_HANDLE PolicyHandle);
// STATUS_OBJECT_NAME_NOT_FOUND when the account holds no rights.
NTSTATUS LsaEnumerateAccountRights(LSA_HANDLE PolicyHandle, PSID AccountSid, PLSA_UNICODE_STRING *UserRights,
                                   PULONG CountOfRights);
NTSTATUS LsaAddAccountRights(LSA_HANDLE PolicyHandle, PSID AccountSid, PLSA_UNICODE_STRING UserRights,
                             ULONG CountOfRights);
NTSTATUS LsaRemoveAccountRights(LSA_HANDLE PolicyHandle, PSID AccountSid, BOOLEAN AllRights,
                                PLSA_UNICODE_STRING UserRights, ULONG CountOfRights);
NTSTATUS LsaFreeMemory(PVOID Buffer);
NTSTATUS LsaClose(LSA_HANDLE ObjectHandle);
ULONG LsaNtStatusToWinError(NTSTATUS Status);

} // extern "C"

// ------------------------------------------------------------------ layouts
static_assert(sizeof(GUID) == 16, "GUID");
static_assert(sizeof(LARGE_INTEGER) == 8, "LARGE_INTEGER");
static_assert(sizeof(OVERLAPPED) == 32, "OVERLAPPED");
static_assert(sizeof(SCSI_PASS_THROUGH) == 56, "SCSI_PASS_THROUGH");
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == 12, "SCSI_PASS_THROUGH.DataTransferLength");
static_assert(offsetof(SCSI_PASS_THROUGH, TimeOutValue) == 16, "SCSI_PASS_THROUGH.TimeOutValue");
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == 24, "SCSI_PASS_THROUGH.DataBufferOffset");
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == 32, "SCSI_PASS_THROUGH.SenseInfoOffset");
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == 36, "SCSI_PASS_THROUGH.Cdb");
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56, "SCSI_PASS_THROUGH_DIRECT");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24, "SCSI_PASS_THROUGH_DIRECT.DataBuffer");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 32, "SCSI_PASS_THROUGH_DIRECT.SenseInfoOffset");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 36, "SCSI_PASS_THROUGH_DIRECT.Cdb");
static_assert(sizeof(SCSI_ADDRESS) == 8, "SCSI_ADDRESS");
static_assert(sizeof(DISK_GEOMETRY) == 24, "DISK_GEOMETRY");
static_assert(offsetof(DISK_GEOMETRY, BytesPerSector) == 20, "DISK_GEOMETRY.BytesPerSector");
static_assert(sizeof(SCSI_BUS_DATA) == 8, "SCSI_BUS_DATA");
static_assert(sizeof(SCSI_ADAPTER_BUS_INFO) == 12, "SCSI_ADAPTER_BUS_INFO");
static_assert(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) == 4, "SCSI_ADAPTER_BUS_INFO.BusData");
static_assert(sizeof(SCSI_INQUIRY_DATA) == 16, "SCSI_INQUIRY_DATA");
static_assert(offsetof(SCSI_INQUIRY_DATA, InquiryData) == 12, "SCSI_INQUIRY_DATA.InquiryData");
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12, "STORAGE_PROPERTY_QUERY");
static_assert(sizeof(STORAGE_DESCRIPTOR_HEADER) == 8, "STORAGE_DESCRIPTOR_HEADER");
static_assert(sizeof(STORAGE_ADAPTER_DESCRIPTOR) == 32, "STORAGE_ADAPTER_DESCRIPTOR");
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, AlignmentMask) == 16, "STORAGE_ADAPTER_DESCRIPTOR.AlignmentMask");
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, BusType) == 24, "STORAGE_ADAPTER_DESCRIPTOR.BusType");
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, BusMajorVersion) == 26, "STORAGE_ADAPTER_DESCRIPTOR.BusMajorVersion");
static_assert(sizeof(STORAGE_DEVICE_DESCRIPTOR) == 40, "STORAGE_DEVICE_DESCRIPTOR");
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == 12, "STORAGE_DEVICE_DESCRIPTOR.VendorIdOffset");
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties) == 36, "STORAGE_DEVICE_DESCRIPTOR.Raw");
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA");
static_assert(offsetof(SP_DEVINFO_DATA, DevInst) == 20, "SP_DEVINFO_DATA.DevInst");
static_assert(sizeof(SP_CLASSINSTALL_HEADER) == 8, "SP_CLASSINSTALL_HEADER");
static_assert(sizeof(SP_REMOVEDEVICE_PARAMS) == 16, "SP_REMOVEDEVICE_PARAMS");
static_assert(sizeof(SP_DEVINFO_DATA) == 32 && alignof(SP_DEVINFO_DATA) == 8, "SP_DEVINFO_DATA alignment");
static_assert(offsetof(SP_DEVINFO_DATA, ClassGuid) == 4, "SP_DEVINFO_DATA.ClassGuid");
static_assert(offsetof(SP_DEVINFO_DATA, Reserved) == 24, "SP_DEVINFO_DATA.Reserved");
static_assert(offsetof(SP_REMOVEDEVICE_PARAMS, Scope) == 8, "SP_REMOVEDEVICE_PARAMS.Scope");
static_assert(offsetof(SP_REMOVEDEVICE_PARAMS, HwProfile) == 12, "SP_REMOVEDEVICE_PARAMS.HwProfile");
static_assert(sizeof(SP_DEVINSTALL_PARAMS_W) == 584, "SP_DEVINSTALL_PARAMS_W");
static_assert(offsetof(SP_DEVINSTALL_PARAMS_W, Flags) == 4, "SP_DEVINSTALL_PARAMS_W.Flags");
static_assert(offsetof(SP_DEVINSTALL_PARAMS_W, FlagsEx) == 8, "SP_DEVINSTALL_PARAMS_W.FlagsEx");
static_assert(offsetof(SP_DEVINSTALL_PARAMS_W, ClassInstallReserved) == 48, "SP_DEVINSTALL_PARAMS_W.ClassInstallReserved");
static_assert(offsetof(SP_DEVINSTALL_PARAMS_W, Reserved) == 56, "SP_DEVINSTALL_PARAMS_W.Reserved");
static_assert(offsetof(SP_DEVINSTALL_PARAMS_W, hwndParent) == 16, "SP_DEVINSTALL_PARAMS_W.hwndParent");
static_assert(offsetof(SP_DEVINSTALL_PARAMS_W, DriverPath) == 60, "SP_DEVINSTALL_PARAMS_W.DriverPath");
static_assert(offsetof(SP_DEVINFO_LIST_DETAIL_DATA_W, RemoteMachineHandle) == 24, "SP_DEVINFO_LIST_DETAIL_DATA_W.Handle");
static_assert(offsetof(SP_DEVINFO_LIST_DETAIL_DATA_W, RemoteMachineName) == 32, "SP_DEVINFO_LIST_DETAIL_DATA_W.Name");
static_assert(sizeof(SP_DEVINFO_LIST_DETAIL_DATA_W) == 560, "SP_DEVINFO_LIST_DETAIL_DATA_W");
static_assert(offsetof(SP_DEVINFO_LIST_DETAIL_DATA_W, ClassGuid) == 4, "SP_DEVINFO_LIST_DETAIL_DATA_W.ClassGuid");

static_assert(sizeof(STARTUPINFOA) == 104, "STARTUPINFOA");
static_assert(offsetof(STARTUPINFOA, dwFlags) == 60, "STARTUPINFOA.dwFlags");
static_assert(offsetof(STARTUPINFOA, hStdInput) == 80, "STARTUPINFOA.hStdInput");
static_assert(sizeof(PROCESS_INFORMATION) == 24, "PROCESS_INFORMATION");
static_assert(sizeof(LSA_UNICODE_STRING) == 16, "LSA_UNICODE_STRING");
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24, "SECURITY_ATTRIBUTES");

#endif // PLATFORM_WINDOWS_H

#include "pgr/reservationdiskwin.h"

#include "pgr/pgrexception.h"
#include "pgr/reservationdisk_wire.h"

#include "pdk/cfitracelog.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using kelm_pdk_4_4::CFiTraceLogFunction;
using namespace pgr_wire;

namespace {

constexpr UCHAR kDataOut = 0; // SCSI_IOCTL_DATA_OUT
constexpr UCHAR kDataIn = 1;  // SCSI_IOCTL_DATA_IN
constexpr DWORD kErrorInvalidData = 13;
// Property descriptors larger than this are read only this far: the size
// comes from the device and sizes an allocation.
constexpr size_t kMaxDescriptorSize = 64 * 1024;

// Failures of a property query that still let the buffer be set up.
bool toleratedQueryError(DWORD error) {
    return error == ERROR_MORE_DATA || error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED;
}

// One property: its header, then (when the header gives a size) the whole
// descriptor. False on an error that is not tolerated; otherwise
// descriptor holds the descriptor, or nothing when the device has none.
// The buffer is never smaller than minimumSize (zero-filled), so the
// caller's fields stay inside it whatever size the device reported.
bool queryDescriptor(HANDLE handle, STORAGE_PROPERTY_ID property, size_t minimumSize,
                     std::vector<uint8_t> &descriptor) {
    descriptor.clear();
    STORAGE_PROPERTY_QUERY query;
    std::memset(&query, 0, sizeof query);
    query.PropertyId = property;
    query.QueryType = PropertyStandardQuery;

    STORAGE_DESCRIPTOR_HEADER header;
    std::memset(&header, 0, sizeof header);
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &header, sizeof header,
                         &returned, nullptr)) {
        if (!toleratedQueryError(GetLastError())) return false;
        std::memset(&header, 0, sizeof header);
    }
    if (header.Size == 0) return true;

    size_t asked = std::min<size_t>(header.Size, kMaxDescriptorSize);
    std::vector<uint8_t> buffer(std::max(asked, minimumSize), 0);
    if (!DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer.data(),
                         static_cast<DWORD>(asked), &returned, nullptr)) {
        return toleratedQueryError(GetLastError());
    }
    descriptor.swap(buffer);
    return true;
}

// The device handle and data buffer of one command, released on every path.
struct CommandResources {
    HANDLE handle = INVALID_HANDLE_VALUE;
    unsigned char *allocated = nullptr;
    unsigned char *aligned = nullptr;
    ~CommandResources() {
        ReservationDiskWin::freeAlignmentBuffer(allocated);
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

const char *trueFalse(BOOLEAN value) { return value ? "True" : "False"; }

} // namespace

ReservationDiskWin::ReservationDiskWin(const std::string &path) : m_path(path) {
    std::strncpy(m_devicePath, path.c_str(), sizeof m_devicePath - 1);
    m_devicePath[sizeof m_devicePath - 1] = '\0';
    std::memset(&m_lastFailedRequest, 0, sizeof m_lastFailedRequest);
}

ReservationDiskWin::~ReservationDiskWin() = default;

int ReservationDiskWin::getDeviceHandle(const char *path, HANDLE &handle) {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::getDeviceHandle");
    handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        trace(3, "Error opening %s. Error: %d\n", path, static_cast<int>(error));
        PrintError(error);
        return 1;
    }
    return 0;
}

bool ReservationDiskWin::GetAlignmentMaskForDevice(HANDLE handle, DWORD &mask) {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::GetAlignmentMaskForDevice");
    mask = 0;
    std::vector<uint8_t> adapter;
    std::vector<uint8_t> device;
    if (!queryDescriptor(handle, StorageAdapterProperty, sizeof(STORAGE_ADAPTER_DESCRIPTOR), adapter)) return false;
    if (!queryDescriptor(handle, StorageDeviceProperty, sizeof(STORAGE_DEVICE_DESCRIPTOR), device)) return false;

    if (adapter.empty()) {
        trace(3, "   ***** No adapter descriptor supported on the device *****\n");
    } else {
        STORAGE_ADAPTER_DESCRIPTOR descriptor;
        std::memcpy(&descriptor, adapter.data(), sizeof descriptor);
        if (descriptor.AlignmentMask > kMaxAlignmentMask) {
            SetLastError(kErrorInvalidData);
            return false;
        }
        mask = descriptor.AlignmentMask;
    }
    if (device.empty()) trace(3, "   ***** No device descriptor supported on the device  *****\n");
    return true;
}

int ReservationDiskWin::getAlignmentBuffer(HANDLE handle, unsigned char *&allocated, unsigned char *&aligned) {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::getAlignmentBuffer");
    allocated = nullptr;
    aligned = nullptr;
    DWORD mask = 0;
    if (!GetAlignmentMaskForDevice(handle, mask)) {
        DWORD error = GetLastError();
        trace(3, "Error getting device and/or adapter properties; error was %d\n", static_cast<int>(error));
        PrintError(error);
        return 1;
    }
    allocated = static_cast<unsigned char *>(std::malloc(kDataBufferSize + mask));
    if (allocated == nullptr) {
        DWORD error = GetLastError();
        trace(3, "Error in allocating buffer %d\n", static_cast<int>(error));
        PrintError(error);
        return 1;
    }
    // Round up to the next multiple of mask + 1; the mask extra bytes leave
    // room for the whole 512 after it.
    uintptr_t unit = uintptr_t{mask} + 1;
    uintptr_t start = (reinterpret_cast<uintptr_t>(allocated) + mask) / unit * unit;
    aligned = allocated + (start - reinterpret_cast<uintptr_t>(allocated));
    std::memset(aligned, 0, kDataBufferSize);
    return 0;
}

void ReservationDiskWin::freeAlignmentBuffer(unsigned char *allocated) { std::free(allocated); }

void ReservationDiskWin::PrintError(DWORD error) {
    char text[80];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    if (length == 0) {
        trace(3, "Format message failed.  Error: %d\n", static_cast<int>(GetLastError()));
        return;
    }
    text[std::min<size_t>(length, sizeof text - 1)] = '\0';
    trace(3, "%s\n", text);
}

template <class Failure>
void ReservationDiskWin::runCommand(const uint8_t *cdb, const uint8_t *parameters, std::vector<uint8_t> *received,
                                    const char *failureLine) {
    CommandResources resources;
    if (getDeviceHandle(m_devicePath, resources.handle) != 0) {
        trace(3, "Error opening file");
        throw Failure(kPGRErrorOpenDevice);
    }
    if (getAlignmentBuffer(resources.handle, resources.allocated, resources.aligned) != 0) {
        trace(3, "Error allocating buffer");
        throw Failure(kPGRErrorBufferSetup);
    }
    const bool dataIn = received != nullptr;
    if (!dataIn) std::memcpy(resources.aligned, parameters, kProutParameterLength);

    SPGRPassThroughRequest request;
    std::memset(&request, 0, sizeof request);
    request.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    request.sptd.PathId = 0;
    request.sptd.TargetId = 0;
    request.sptd.Lun = 0;
    request.sptd.CdbLength = static_cast<UCHAR>(kCdbLength);
    request.sptd.SenseInfoLength = sizeof request.senseBuffer;
    request.sptd.DataIn = dataIn ? kDataIn : kDataOut;
    request.sptd.DataTransferLength = static_cast<ULONG>(dataIn ? kPrinAllocationLength : kProutParameterLength);
    request.sptd.TimeOutValue = kTimeoutSeconds;
    request.sptd.DataBuffer = resources.aligned;
    request.sptd.SenseInfoOffset = offsetof(SPGRPassThroughRequest, senseBuffer);
    std::memcpy(request.sptd.Cdb, cdb, kCdbLength);

    DWORD returned = 0;
    BOOL ok = DeviceIoControl(resources.handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request,
                              sizeof request, &returned, nullptr);
    if (!ok || request.sptd.ScsiStatus != 0) {
        DWORD error = ok ? 0 : GetLastError();
        m_lastFailedRequest = request;
        m_lastFailedRequest.sptd.DataBuffer = nullptr; // freed with this command
        trace(3, "%s", failureLine);
        // The flows' own lines give only the failing step and code 3; say
        // what the SAN did (time-out, lost link, BUSY, unit attention...).
        size_t senseLength = ok ? std::min<size_t>(request.sptd.SenseInfoLength, sizeof request.senseBuffer) : 0;
        trace(1, "%s",
              describeFailure(cdb, m_path, kTimeoutSeconds, ok != FALSE, error, request.sptd.ScsiStatus,
                              request.senseBuffer, senseLength)
                  .c_str());
        throw Failure(kPGRErrorCommand);
    }
    if (dataIn) {
        // The count comes back from the adapter; never trust it beyond what
        // was asked for.
        size_t delivered = std::min<size_t>(request.sptd.DataTransferLength, kPrinAllocationLength);
        received->assign(resources.aligned, resources.aligned + delivered);
    }
}

template <class Failure>
int ReservationDiskWin::proutCommand(uint8_t action, int type, const std::string &key,
                                     const std::string &serviceActionKey, const char *successLine,
                                     const char *failureLine) {
    uint8_t cdb[kCdbLength];
    uint8_t parameters[kProutParameterLength];
    buildProutCdb(action, type, cdb);
    buildProutParameters(key, serviceActionKey, parameters);
    runCommand<Failure>(cdb, parameters, nullptr, failureLine);
    trace(3, "%s", successLine);
    return 0;
}

int ReservationDiskWin::reserveDisk(const std::string &key, bool exclusiveAccess, bool registrantsOnly,
                                    bool allRegistrants) {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::reserveDisk");
    int type = reservationType(exclusiveAccess, registrantsOnly, allRegistrants);
    trace(6, "ReservationDiskWin::reserveDisk -  reservationType = %d", type);
    return proutCommand<CPGRReserveFail>(kActionReserve, type, key, std::string(),
                                         "Reserve operation was successful.", "Failed to complete reserve operation.");
}

int ReservationDiskWin::registerDisk(const std::string &key, bool ignoreExistingKey) {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::registerDisk");
    // REGISTER names the current key, none here; REGISTER AND IGNORE
    // EXISTING KEY ignores that field, which carries the key all the same.
    return proutCommand<CPGRRegisterFail>(ignoreExistingKey ? kActionRegisterIgnoreExisting : kActionRegister, 0,
                                          ignoreExistingKey ? key : std::string(), key,
                                          "Register operation was successful.",
                                          "Failed to complete register operation.");
}

int ReservationDiskWin::premptDisk(const std::string &key, const std::string &victimKey, bool abort,
                                   bool exclusiveAccess, bool registrantsOnly, bool allRegistrants) {
    int type = reservationType(exclusiveAccess, registrantsOnly, allRegistrants);
    trace(6, "ReservationDiskWin::premptDisk -  reservationType = %d", type);
    return proutCommand<CPGRPreemptFail>(abort ? kActionPreemptAndAbort : kActionPreempt, type, key, victimKey,
                                         "Preempt operation was successful.", "Failed to complete preempt operation.");
}

int ReservationDiskWin::releaseDisk(const std::string &key, bool exclusiveAccess, bool registrantsOnly,
                                    bool allRegistrants) {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::releaseDisk");
    int type = reservationType(exclusiveAccess, registrantsOnly, allRegistrants);
    trace(6, "ReservationDiskWin::releaseDisk -  reservationType = %d", type);
    return proutCommand<CPGRReleaseFail>(kActionRelease, type, key, std::string(),
                                         "Release operation was successful.", "Failed to complete release operation.");
}

int ReservationDiskWin::unregisterDisk(const std::string &key) {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::unregisterDisk");
    // Registering the zero key over our own removes the registration.
    return proutCommand<CPGRUnregisterFail>(kActionRegister, 0, key, std::string(),
                                            "Unregistration operation was successful.",
                                            "Failed to complete unregister operation.");
}

int ReservationDiskWin::clearDisk(const std::string &key) {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::clearDisk");
    return proutCommand<CPGRClearFail>(kActionClear, 0, key, std::string(), "Clear operation was successful.",
                                       "Failed to complete clear operation.");
}

int ReservationDiskWin::testUnitReady() {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::testUnitReady");
    return 0;
}

std::vector<std::string> ReservationDiskWin::readDiskRegistration() {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::readDiskRegistration");
    uint8_t cdb[kCdbLength];
    buildPrinCdb(kActionReadKeys, cdb);
    std::vector<uint8_t> data;
    runCommand<CPGRReadRegistrationFail>(cdb, nullptr, &data, "Failed to complete read registration operation.");
    trace(3, "keyCount = %d\n", static_cast<int>(data.size() / kKeyLength));
    std::vector<std::string> keys = parseReadKeys(data.data(), data.size());
    trace(3, "Read registration operation was successful.");
    return keys;
}

std::vector<SReservationRecord> ReservationDiskWin::readDiskReservation() {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::readDiskReservation");
    uint8_t cdb[kCdbLength];
    buildPrinCdb(kActionReadReservation, cdb);
    std::vector<uint8_t> data;
    runCommand<CPGRReadReservationFail>(cdb, nullptr, &data, "Failed to complete read reservation operation.");
    std::vector<SReservationRecord> records = parseReadReservation(data.data(), data.size());
    trace(3, "Read reservation operation was successful.");
    return records;
}

void ReservationDiskWin::PrintAdapterDescriptor(const STORAGE_ADAPTER_DESCRIPTOR &descriptor) {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::PrintAdapterDescriptor");
    static const char *const kBusTypes[] = {"Unknown", "Scsi", "Atapi", "Ata",  "1394",
                                            "Ssa",     "Fibre", "Usb",  "RAID", "Not Defined"};
    constexpr size_t kBusTypeCount = sizeof kBusTypes / sizeof kBusTypes[0];
    uint64_t pages = descriptor.MaximumPhysicalPages;
    uint64_t byPages = 4096 * (pages > 1 ? pages - 1 : 1);
    uint64_t trueMaximum = std::min<uint64_t>(descriptor.MaximumTransferLength, byPages);
    size_t busType = static_cast<size_t>(descriptor.BusType);
    trace(3, "\n            ***** STORAGE ADAPTER DESCRIPTOR DATA *****");
    trace(3,
          "              Version: %08x\n            TotalSize: %08x\nMaximumTransferLength: %08x (bytes)\n "
          "MaximumPhysicalPages: %08x\n  TrueMaximumTransfer: %08x (bytes)\n        AlignmentMask: %08x\n       "
          "AdapterUsesPio: %s\n     AdapterScansDown: %s\n      CommandQueueing: %s\n  AcceleratedTransfer: %s\n    "
          "         Bus Type: %s\n    Bus Major Version: %04x\n    Bus Minor Version: %04x\n",
          static_cast<unsigned>(descriptor.Version), static_cast<unsigned>(descriptor.Size),
          static_cast<unsigned>(descriptor.MaximumTransferLength),
          static_cast<unsigned>(descriptor.MaximumPhysicalPages), static_cast<unsigned>(trueMaximum),
          static_cast<unsigned>(descriptor.AlignmentMask), trueFalse(descriptor.AdapterUsesPio),
          trueFalse(descriptor.AdapterScansDown), trueFalse(descriptor.CommandQueueing),
          trueFalse(descriptor.AcceleratedTransfer), kBusTypes[std::min(busType, kBusTypeCount - 1)],
          static_cast<unsigned>(descriptor.BusMajorVersion), static_cast<unsigned>(descriptor.BusMinorVersion));
}

void ReservationDiskWin::PrintSenseInfo(const SPGRPassThroughRequest &request) {
    CFiTraceLogFunction scope(m_traceLog, "ReservationDiskWin::PrintSenseInfo");
    trace(3, "Scsi status: %02Xh\n\n", static_cast<unsigned>(request.sptd.ScsiStatus));
    if (request.sptd.SenseInfoLength == 0) return;
    // The length comes back from the adapter; the buffer holds 32 bytes.
    size_t length = std::min<size_t>(request.sptd.SenseInfoLength, sizeof request.senseBuffer);
    trace(3, "Sense Info -- consult SCSI spec for details\n");
    trace(3, "-------------------------------------------------------------\n");
    for (size_t i = 0; i < length; ++i) trace(3, "%02X ", static_cast<unsigned>(request.senseBuffer[i]));
    trace(3, "\n\n");
    trace(3, "Sense code Interpretation\n");
    trace(3, "Major (0x%.02X):\n", static_cast<unsigned>(request.senseBuffer[0]));
    trace(3, "=============\n");
    trace(3, "Minor (0x%.02X 0x%.02X):\n", static_cast<unsigned>(request.senseBuffer[12]),
          static_cast<unsigned>(request.senseBuffer[13]));
    trace(3, "==================\n");
    trace(3, "\n\n");
}

#include "scsitool/scsitool.h"

#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

using namespace kelm_pdk_4_4;

namespace {

constexpr DWORD kMessageBufferChars = 1024;
constexpr size_t kErrorTextMaxBytes = 512;  // terminator included

// Cuts s to at most max bytes without splitting a UTF-8 sequence.
void cutUtf8(std::string &s, size_t max) {
    if (s.size() <= max) return;
    size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    s.resize(end);
}

HANDLE createDevice(const std::string &path) {
    std::wstring wide = CFiStringTool::toStdWide(path);
    return CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

} // namespace

void BuildInquiryCdb(uint8_t (&cdb)[SCSI_INQUIRY_CDB_LENGTH], bool vpd, uint8_t pageCode, uint8_t allocationLength) {
    cdb[0] = SCSI_OP_INQUIRY;
    cdb[1] = vpd ? 0x01 : 0x00;
    cdb[2] = vpd ? pageCode : 0x00;
    cdb[3] = 0x00;
    cdb[4] = allocationLength;
    cdb[5] = 0x00;
}

std::string ScsiSystemErrorText(DWORD error) {
    wchar_t message[kMessageBufferChars] = {};
    DWORD chars = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                 message, kMessageBufferChars, nullptr);
    std::string text;
    if (chars == 0) {
        DWORD formatError = GetLastError();
        text = CFiStringTool::format("Format message for %ld failed.  Error: %ld", static_cast<long>(error),
                                     static_cast<long>(formatError));
    } else {
        message[kMessageBufferChars - 1] = L'\0';
        text = CFiStringTool::format("%ld (0x%x): %S", static_cast<long>(error), static_cast<unsigned>(error), message);
    }
    cutUtf8(text, kErrorTextMaxBytes - 1);
    for (int i = 0; i < 2 && !text.empty() && (text.back() == '\r' || text.back() == '\n'); ++i) text.pop_back();
    return text;
}

CScsiDeviceHandle::CScsiDeviceHandle() : m_handle(INVALID_HANDLE_VALUE) {}

CScsiDeviceHandle::CScsiDeviceHandle(CScsiDeviceData *device, const CFiTraceLogPtr &log)
    : m_handle(INVALID_HANDLE_VALUE) {
    setTraceLog(log);
    if (device != nullptr) m_deviceName = device->m_deviceName;
    m_handle = openDevice(device, false);
}

CScsiDeviceHandle::~CScsiDeviceHandle() {
    closeDevice(m_handle);
    m_deviceName.clear();
}

bool CScsiDeviceHandle::isValidHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

HANDLE CScsiDeviceHandle::open(CScsiDeviceData *device, bool quiet) {
    if (isValid()) return m_handle;
    if (device != nullptr) m_deviceName = device->m_deviceName;
    m_handle = openDevice(device, quiet);
    return m_handle;
}

HANDLE CScsiDeviceHandle::openDevice(CScsiDeviceData *device, bool quiet) {
    CFiTraceLogFunction traceScope(m_traceLog, "CScsiDeviceHandle::openDevice");
    try {
        if (device == nullptr) {
            if (quiet) return INVALID_HANDLE_VALUE;
            throw SCSI_TOOL_FAILURE;
        }
        HANDLE handle = createDevice(device->m_deviceName);
        if (isValidHandle(handle)) return handle;
        std::string firstError = ScsiSystemErrorText(GetLastError());
        trace(3, "INFO: CreateFile() failed opening device %s, retrying with alternate device path",
              device->m_deviceName.c_str());

        const std::string &alternate = device->m_alternateDevicePath;
        if (alternate.empty() || alternate == device->m_deviceName) {
            if (quiet) return INVALID_HANDLE_VALUE;
            throw SCSI_TOOL_FAILURE;
        }
        trace(1, "libscsitool: DEBUG: Trying Alternate DevicePath name %s.", alternate.c_str());
        handle = createDevice(alternate);
        if (isValidHandle(handle)) return handle;
        if (quiet) return INVALID_HANDLE_VALUE;
        std::string secondError = ScsiSystemErrorText(GetLastError());
        trace(1, "ERROR: CScsiDeviceHandle::openDevice() CreateFile() failed. Error opening device %s, with error %s",
              device->m_deviceName.c_str(), firstError.c_str());
        trace(1, "ERROR: CScsiDeviceHandle::openDevice() CreateFile() failed. Error opening device %s, with error %s",
              alternate.c_str(), secondError.c_str());
        throw SCSI_TOOL_FAILURE;
    } catch (int) {
        throw;
    } catch (...) {
        trace(1, "ERROR: CScsiDeviceHandle::openDevice() caught unhandled exception.");
        throw SCSI_TOOL_FAILURE;
    }
}

void CScsiDeviceHandle::closeDevice(HANDLE handle) {
    if (isValidHandle(handle)) CloseHandle(handle);
    if (handle == m_handle) m_handle = INVALID_HANDLE_VALUE;
}

// Helpers for the platform tests: send one CDB the way the provider does.
#ifndef TESTS_UNIT_PLATFORM_SIM_TEST_UTIL_H
#define TESTS_UNIT_PLATFORM_SIM_TEST_UTIL_H

#include "platform/simhost.h"
#include "platform/windows.h"
#include "scsitool/scsi_bytes.h"

#include <cstring>
#include <string>
#include <vector>

namespace simtest {

struct Answer {
    BOOL ok = FALSE;
    DWORD error = 0;
    DWORD returned = 0;
    uint8_t status = 0xFF;
    std::vector<uint8_t> data;   // the data-in bytes the request reports transferred
    std::vector<uint8_t> sense;
};

inline HANDLE open(const std::string &path) {
    std::wstring w(path.begin(), path.end());
    return CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// IOCTL_SCSI_PASS_THROUGH laid out as the SCSI tool does: sense at 60, data at 124.
inline Answer passThrough(HANDLE h, const std::vector<uint8_t> &cdb, size_t length, bool in,
                          const std::vector<uint8_t> &out = {}) {
    std::vector<uint8_t> buf(124 + length + 4, 0);
    SCSI_PASS_THROUGH spt{};
    spt.Length = sizeof spt;
    spt.CdbLength = static_cast<UCHAR>(cdb.size());
    spt.SenseInfoLength = 64;
    spt.DataIn = in ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
    spt.DataTransferLength = static_cast<ULONG>(length);
    spt.TimeOutValue = 20;
    spt.DataBufferOffset = 124;
    spt.SenseInfoOffset = 60;
    std::memcpy(spt.Cdb, cdb.data(), cdb.size());
    std::memcpy(buf.data(), &spt, sizeof spt);
    if (!in && !out.empty()) std::memcpy(buf.data() + 124, out.data(), std::min(out.size(), length));
    Answer a;
    a.ok = DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH, buf.data(), static_cast<DWORD>(buf.size()), buf.data(),
                           static_cast<DWORD>(buf.size()), &a.returned, nullptr);
    a.error = GetLastError();
    if (!a.ok) return a;
    std::memcpy(&spt, buf.data(), sizeof spt);
    a.status = spt.ScsiStatus;
    if (in) a.data.assign(buf.begin() + 124, buf.begin() + 124 + spt.DataTransferLength);
    a.sense.assign(buf.begin() + 60, buf.begin() + 60 + spt.SenseInfoLength);
    return a;
}

inline Answer inquiry(HANDLE h, int page = -1, uint8_t allocation = 255) {
    std::vector<uint8_t> cdb{0x12, uint8_t(page >= 0 ? 1 : 0), uint8_t(page >= 0 ? page : 0), 0, allocation, 0};
    return passThrough(h, cdb, 4094, true);
}

// PERSISTENT RESERVE OUT with a 24-byte parameter list; flags is its byte 20
// (0x04 ALL_TG_PT).
inline Answer prOut(HANDLE h, uint8_t action, uint8_t type, uint64_t resKey, uint64_t saKey, uint8_t flags = 0) {
    std::vector<uint8_t> params(24, 0);
    StoreBe64(&params[0], resKey);
    StoreBe64(&params[8], saKey);
    params[20] = flags;
    return passThrough(h, {0x5F, action, type, 0, 0, 0, 0, 0, 24, 0}, 24, false, params);
}

inline Answer prIn(HANDLE h, uint8_t action) { return passThrough(h, {0x5E, action, 0, 0, 0, 0, 0, 0, 255, 0}, 255, true); }

// The status, then the sense key, ASC and ASCQ when there is sense data.
inline std::vector<uint8_t> statusAndSense(const Answer &a) {
    if (a.sense.size() < 14) return {a.status};
    return {a.status, uint8_t(a.sense[2] & 0x0F), a.sense[12], a.sense[13]};
}

inline uint32_t be32(const std::vector<uint8_t> &d, size_t at) { return d.size() < at + 4 ? 0 : LoadBe32(&d[at]); }

inline std::wstring w(const std::string &s) { return std::wstring(s.begin(), s.end()); }

} // namespace simtest

#endif

// ReservationDisk over the Windows SCSI pass-through interface of one disk.
//
// Each command opens the device, sets up its own 512-byte data buffer
// aligned to the adapter's alignment mask (direct pass-through hands that
// buffer to the adapter without copying), sends one 10-byte command block
// with IOCTL_SCSI_PASS_THROUGH_DIRECT, and closes the device and frees the
// buffer before it returns or throws. No handle is kept between commands.
//
// Trace lines go through the CFiTraceable log, which starts empty: until
// setTraceLog gives it one, the object writes nothing.
#ifndef PROVIDERS_DEVICE_PGR_RESERVATIONDISKWIN_H
#define PROVIDERS_DEVICE_PGR_RESERVATIONDISKWIN_H

#include "pgr/reservationdisk.h"

#include "platform/windows.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The request handed to IOCTL_SCSI_PASS_THROUGH_DIRECT, in and out: the
// pass-through record, a filler and the sense buffer (96 bytes on x86-64).
struct SPGRPassThroughRequest {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR senseBuffer[32];
};
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56, "SCSI_PASS_THROUGH_DIRECT is 56 bytes on x86-64");
static_assert(offsetof(SPGRPassThroughRequest, senseBuffer) == 60, "sense buffer follows the filler");
static_assert(sizeof(SPGRPassThroughRequest) == 96, "the request is 96 bytes");

class ReservationDiskWin : public ReservationDisk {
public:
    // Size of the data buffer of every command.
    static constexpr size_t kDataBufferSize = 512;
    // Pass-through time-out of every command, seconds.
    static constexpr ULONG kTimeoutSeconds = 10;
    // Alignment masks above this are not taken from an adapter descriptor:
    // no adapter needs more than page alignment, and the mask sizes the
    // buffer allocation.
    static constexpr DWORD kMaxAlignmentMask = 0xFFFF;

    // path: the Windows device path of the disk (\\.\PHYSICALDRIVEn). At most
    // 4096 characters of it are used to open the device.
    explicit ReservationDiskWin(const std::string &path);
    ~ReservationDiskWin() override;

    int reserveDisk(const std::string &key, bool exclusiveAccess, bool registrantsOnly,
                    bool allRegistrants) override;
    int registerDisk(const std::string &key, bool ignoreExistingKey) override;
    int premptDisk(const std::string &key, const std::string &victimKey, bool abort, bool exclusiveAccess,
                   bool registrantsOnly, bool allRegistrants) override;
    int releaseDisk(const std::string &key, bool exclusiveAccess, bool registrantsOnly,
                    bool allRegistrants) override;
    int unregisterDisk(const std::string &key) override;
    int clearDisk(const std::string &key) override;
    int testUnitReady() override;
    std::vector<SReservationRecord> readDiskReservation() override;
    std::vector<std::string> readDiskRegistration() override;

    // Diagnostic dumps at level 3; no command calls them.
    void PrintAdapterDescriptor(const STORAGE_ADAPTER_DESCRIPTOR &descriptor);
    void PrintSenseInfo(const SPGRPassThroughRequest &request);

    // The request of the last command that failed with code 3 (status and
    // sense data as the device left them); all zero before any such failure.
    const SPGRPassThroughRequest &lastFailedRequest() const { return m_lastFailedRequest; }

    const std::string &devicePath() const { return m_path; }

    // 0 and the handle, or 1 after tracing why (GetLastError and its text).
    int getDeviceHandle(const char *path, HANDLE &handle);
    // 0 and a zero-filled 512-byte buffer aligned to the adapter's mask in
    // aligned (release with freeAlignmentBuffer(allocated)), or 1.
    int getAlignmentBuffer(HANDLE handle, unsigned char *&allocated, unsigned char *&aligned);
    static void freeAlignmentBuffer(unsigned char *allocated);
    // Asks the adapter and device property descriptors; true and the
    // adapter's alignment mask (0 without an adapter descriptor), or false.
    bool GetAlignmentMaskForDevice(HANDLE handle, DWORD &mask);
    // The system's text for error, at level 3.
    void PrintError(DWORD error);

private:
    // Runs one command through the frame above. For PERSISTENT RESERVE OUT,
    // parameters holds the 24-byte list; for IN, *received gets the bytes
    // delivered (at most the allocation length). Throws Failure with code
    // 2, 4 or 3; returns after a GOOD status.
    template <class Failure>
    void runCommand(const uint8_t *cdb, const uint8_t *parameters, std::vector<uint8_t> *received,
                    const char *failureLine);
    template <class Failure>
    int proutCommand(uint8_t action, int type, const std::string &key, const std::string &serviceActionKey,
                     const char *successLine, const char *failureLine);

    std::string m_path;
    char m_devicePath[4097];
    SPGRPassThroughRequest m_lastFailedRequest;
};

#endif // PROVIDERS_DEVICE_PGR_RESERVATIONDISKWIN_H

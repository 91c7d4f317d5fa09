// What stands behind one simulated disk: either the built-in model (inquiry
// data and VPD pages from the host description, an SPC-3 reservation model)
// or a real SCSI logical unit reached over iSCSI. The pass-through IOCTLs
// hand every CDB to the backend and copy its answer back into the caller's
// SCSI_PASS_THROUGH(_DIRECT) record.
#ifndef PLATFORM_DISK_BACKEND_H
#define PLATFORM_DISK_BACKEND_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rendo_sim {

enum class DataDirection { None, In, Out };  // In: device to host

struct ScsiRequest {
    const uint8_t *cdb = nullptr;
    size_t cdbLength = 0;
    DataDirection direction = DataDirection::None;
    uint8_t *data = nullptr;     // In: filled by the backend; Out: read by it
    size_t dataLength = 0;       // size of data
    uint32_t timeoutSeconds = 0;
};

struct ScsiResult {
    uint8_t status = 0;             // SCSI status byte: 0x00 GOOD, 0x02 CHECK CONDITION, 0x18 RESERVATION CONFLICT
    size_t dataTransferred = 0;     // bytes actually moved
    std::vector<uint8_t> sense;     // fixed-format sense data when status is CHECK CONDITION
    bool transportError = false;    // the command never reached the logical unit
    std::string transportMessage;   // why, for traces and tests
    bool timedOut = false;          // no answer within the request's time-out (with transportError)
};

class DiskBackend {
public:
    virtual ~DiskBackend() = default;
    virtual ScsiResult execute(const ScsiRequest &request) = 0;
    // Capacity for the geometry IOCTL; false when unknown.
    virtual bool capacity(uint64_t &blocks, uint32_t &blockSize) = 0;
};

// Identity a simulated host presents to real targets: every host logs in
// with its own initiator name and ISID so that a target sees distinct
// I_T nexuses, as it would for two machines.
struct InitiatorIdentity {
    std::string initiatorName;   // e.g. "iqn.2026-12.org.rendo:host-a"
    uint8_t isid[6] = {0x80, 0, 0, 0, 0, 0};
};

// A backend for "iscsi://host:port/target-iqn/lun". One logged-in session per
// (initiator identity, logical unit) is kept for the life of the process, so
// reservations bound to the session survive the disk being opened and closed.
// Returns null and sets *error when the URL is malformed or login fails.
std::shared_ptr<DiskBackend> openIscsiBackend(const std::string &url,
                                              const InitiatorIdentity &who,
                                              std::string *error);

} // namespace rendo_sim

#endif // PLATFORM_DISK_BACKEND_H

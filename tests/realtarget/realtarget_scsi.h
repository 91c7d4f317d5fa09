// CDB builders and answer decoders shared by the real-target tests. Every
// decoder takes the bytes actually transferred and never reads past them.
#ifndef RENDO_REALTARGET_SCSI_H
#define RENDO_REALTARGET_SCSI_H

#include "scsitool/scsi_bytes.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace rendo_realtarget {

inline uint32_t be32(const std::vector<uint8_t> &d, size_t at) { return at + 4 > d.size() ? 0 : LoadBe32(&d[at]); }

inline std::vector<uint8_t> inquiryCdb(uint8_t allocation) { return {0x12, 0, 0, 0, allocation, 0}; }
inline std::vector<uint8_t> vpdCdb(uint8_t page, uint8_t allocation) { return {0x12, 1, page, 0, allocation, 0}; }
inline std::vector<uint8_t> testUnitReadyCdb() { return {0, 0, 0, 0, 0, 0}; }

constexpr uint8_t kGood = 0x00, kReservationConflict = 0x18;
enum : uint8_t { kReadKeys = 0, kRegister = 0 };

inline std::vector<uint8_t> persistentReserveInCdb(uint8_t serviceAction, uint16_t allocation) {
    std::vector<uint8_t> cdb = {0x5E, serviceAction, 0, 0, 0, 0, 0, 0, 0, 0};
    StoreBe16(&cdb[7], allocation);
    return cdb;
}

inline std::vector<uint8_t> rw10Cdb(uint8_t opcode, uint32_t lba, uint16_t blocks) {
    std::vector<uint8_t> cdb = {opcode, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    StoreBe32(&cdb[2], lba);
    StoreBe16(&cdb[7], blocks);
    return cdb;
}

// READ KEYS: the keys listed within what was transferred.
inline std::vector<uint64_t> readKeys(const std::vector<uint8_t> &d) {
    std::vector<uint64_t> keys;
    for (size_t at = 8; at + 8 <= std::min<size_t>(d.size(), 8 + size_t{be32(d, 4)}); at += 8)
        keys.push_back(LoadBe64(&d[at]));
    return keys;
}

}  // namespace rendo_realtarget

#endif  // RENDO_REALTARGET_SCSI_H

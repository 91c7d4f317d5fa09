// CDB builders and answer decoders shared by the real-target tests. Every
// decoder takes the bytes actually transferred and never reads past them.
#ifndef RENDO_REALTARGET_SCSI_H
#define RENDO_REALTARGET_SCSI_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace rendo_realtarget {

inline uint32_t be32(const std::vector<uint8_t> &d, size_t at)
{
    if (at + 4 > d.size())
        return 0;
    return static_cast<uint32_t>(d[at]) << 24 | static_cast<uint32_t>(d[at + 1]) << 16 |
           static_cast<uint32_t>(d[at + 2]) << 8 | d[at + 3];
}

inline uint64_t be64(const std::vector<uint8_t> &d, size_t at)
{
    return static_cast<uint64_t>(be32(d, at)) << 32 | be32(d, at + 4);
}

inline std::vector<uint8_t> inquiryCdb(uint8_t allocation) { return {0x12, 0, 0, 0, allocation, 0}; }
inline std::vector<uint8_t> vpdCdb(uint8_t page, uint8_t allocation) { return {0x12, 1, page, 0, allocation, 0}; }
inline std::vector<uint8_t> testUnitReadyCdb() { return {0, 0, 0, 0, 0, 0}; }

constexpr uint8_t kGood = 0x00, kCheckCondition = 0x02, kReservationConflict = 0x18;
enum : uint8_t { kReadKeys = 0, kReadReservation = 1 };
enum : uint8_t { kRegister = 0, kReserve = 1, kRelease = 2, kPreemptAndAbort = 5 };
enum : uint8_t { kWriteExclusive = 1, kExclusiveAccess = 3 };

inline std::vector<uint8_t> persistentReserveInCdb(uint8_t serviceAction, uint16_t allocation)
{
    return {0x5E, serviceAction, 0, 0, 0, 0, 0, static_cast<uint8_t>(allocation >> 8),
            static_cast<uint8_t>(allocation), 0};
}

inline std::vector<uint8_t> rw10Cdb(uint8_t opcode, uint32_t lba, uint16_t blocks)
{
    return {opcode, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16), static_cast<uint8_t>(lba >> 8),
            static_cast<uint8_t>(lba), 0, static_cast<uint8_t>(blocks >> 8), static_cast<uint8_t>(blocks), 0};
}

// READ KEYS: generation and the keys listed within what was transferred.
struct ReadKeys {
    uint32_t generation = 0;
    uint32_t additionalLength = 0;
    std::vector<uint64_t> keys;
};

inline ReadKeys decodeReadKeys(const std::vector<uint8_t> &d)
{
    ReadKeys k;
    k.generation = be32(d, 0);
    k.additionalLength = be32(d, 4);
    for (size_t at = 8; at + 8 <= d.size() && at + 8 <= 8 + static_cast<size_t>(k.additionalLength); at += 8)
        k.keys.push_back(be64(d, at));
    return k;
}

} // namespace rendo_realtarget

#endif // RENDO_REALTARGET_SCSI_H

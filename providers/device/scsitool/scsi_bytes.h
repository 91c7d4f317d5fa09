// Big-endian loads and stores for SCSI data. Every multi-byte field of a CDB
// or of returned data goes through these; no hand shifts elsewhere.
#ifndef PROVIDERS_DEVICE_SCSITOOL_SCSI_BYTES_H
#define PROVIDERS_DEVICE_SCSITOOL_SCSI_BYTES_H

#include <cstdint>

inline uint16_t LoadBe16(const uint8_t *p) {
    return static_cast<uint16_t>((static_cast<uint16_t>(p[0]) << 8) | p[1]);
}

inline uint32_t LoadBe32(const uint8_t *p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

inline uint64_t LoadBe64(const uint8_t *p) {
    return (static_cast<uint64_t>(LoadBe32(p)) << 32) | LoadBe32(p + 4);
}

inline void StoreBe16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

inline void StoreBe32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline void StoreBe64(uint8_t *p, uint64_t v) {
    StoreBe32(p, static_cast<uint32_t>(v >> 32));
    StoreBe32(p + 4, static_cast<uint32_t>(v));
}

#endif // PROVIDERS_DEVICE_SCSITOOL_SCSI_BYTES_H

// The bytes of the persistent-reservation commands: command blocks, the
// PERSISTENT RESERVE OUT parameter list, key fields, and the parsers of the
// READ KEYS and READ RESERVATION data. Pure functions, no I/O.
#ifndef PROVIDERS_DEVICE_PGR_RESERVATIONDISK_WIRE_H
#define PROVIDERS_DEVICE_PGR_RESERVATIONDISK_WIRE_H

#include "pgr/reservationdisk.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pgr_wire {

constexpr uint8_t kOpPersistentReserveIn = 0x5E;
constexpr uint8_t kOpPersistentReserveOut = 0x5F;

// PERSISTENT RESERVE OUT service actions (CDB byte 1).
constexpr uint8_t kActionRegister = 0x00;
constexpr uint8_t kActionReserve = 0x01;
constexpr uint8_t kActionRelease = 0x02;
constexpr uint8_t kActionClear = 0x03;
constexpr uint8_t kActionPreempt = 0x04;
constexpr uint8_t kActionPreemptAndAbort = 0x05;
constexpr uint8_t kActionRegisterIgnoreExisting = 0x06;
// PERSISTENT RESERVE IN service actions.
constexpr uint8_t kActionReadKeys = 0x00;
constexpr uint8_t kActionReadReservation = 0x01;

constexpr size_t kCdbLength = 10;
constexpr size_t kKeyLength = 8;
// PERSISTENT RESERVE OUT parameter list: reservation key, service action
// key, then 8 bytes of scope-specific address and flags (all zero here).
constexpr size_t kParamKeyOffset = 0;
constexpr size_t kParamServiceActionKeyOffset = 8;
constexpr size_t kProutParameterLength = 24;
// PERSISTENT RESERVE IN: the allocation length asked for, and the data's
// layout: PRGENERATION (4 bytes), ADDITIONAL LENGTH (4 bytes), then 8-byte
// keys (READ KEYS) or 16-byte descriptors (READ RESERVATION) whose key is at
// 0 and whose scope/type byte is at 13.
constexpr size_t kPrinAllocationLength = 255;
constexpr size_t kPrinHeaderLength = 8;
constexpr size_t kAdditionalLengthOffset = 4;
constexpr size_t kDescriptorLength = 16;
constexpr size_t kDescriptorTypeOffset = 13;

inline uint32_t LoadBe32(const uint8_t *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline void StoreBe16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

// The type of the reservation table in reservationdisk.h.
int reservationType(bool exclusiveAccess, bool registrantsOnly, bool allRegistrants);

// PERSISTENT RESERVE OUT: 5Fh, action, type in the low four bits of byte 2
// (scope 0), parameter list length 24 in byte 8.
void buildProutCdb(uint8_t action, int type, uint8_t cdb[kCdbLength]);
// PERSISTENT RESERVE IN: 5Eh, action, allocation length 255 in bytes 7-8.
void buildPrinCdb(uint8_t action, uint8_t cdb[kCdbLength]);

// Writes key into an 8-byte field: its first 8 bytes as they are, zeros
// after a shorter text. An empty text is the zero key.
void putKey(const std::string &key, uint8_t field[kKeyLength]);
// The text of an 8-byte key field: up to the first zero byte.
std::string keyText(const uint8_t field[kKeyLength]);
// The text a disk reports back for a key written with putKey.
std::string wireKeyText(const std::string &key);

// The 24-byte parameter list (bytes 16-23 zero).
void buildProutParameters(const std::string &key, const std::string &serviceActionKey,
                          uint8_t list[kProutParameterLength]);

// The keys of a READ KEYS answer. transferred is the number of bytes the
// device delivered; nothing at or beyond it is read. The list holds as many
// keys as both ADDITIONAL LENGTH and the delivered bytes cover; an answer
// shorter than the header has none.
std::vector<std::string> parseReadKeys(const uint8_t *data, size_t transferred);

// The reservations of a READ RESERVATION answer: ADDITIONAL LENGTH / 16
// descriptors, as far as the delivered bytes hold whole descriptors.
std::vector<SReservationRecord> parseReadReservation(const uint8_t *data, size_t transferred);

// Why a command failed, for the trace: the command's name and path, then
// the cause: a time-out, a lost connection, BUSY, a reservation conflict, a
// unit attention (power on or reset, reservations or registrations
// preempted)... delivered is false when the pass-through call itself failed
// (error is then its last error); otherwise status and at most senseLength
// sense bytes are what the device answered.
std::string describeFailure(const uint8_t cdb[kCdbLength], const std::string &path, uint32_t timeoutSeconds,
                            bool delivered, uint32_t error, uint8_t status, const uint8_t *sense,
                            size_t senseLength);

} // namespace pgr_wire

#endif // PROVIDERS_DEVICE_PGR_RESERVATIONDISK_WIRE_H

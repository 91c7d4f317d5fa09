#include "pgr/reservationdisk_wire.h"

#include <algorithm>
#include <cstring>

namespace pgr_wire {

int reservationType(bool exclusiveAccess, bool registrantsOnly, bool allRegistrants) {
    if (allRegistrants) return exclusiveAccess ? 8 : 7;
    if (registrantsOnly) return exclusiveAccess ? 6 : 5;
    return exclusiveAccess ? 3 : 1;
}

void buildProutCdb(uint8_t action, int type, uint8_t cdb[kCdbLength]) {
    std::memset(cdb, 0, kCdbLength);
    cdb[0] = kOpPersistentReserveOut;
    cdb[1] = action;
    cdb[2] = static_cast<uint8_t>(type & 0x0F); // scope 0: logical unit
    cdb[8] = static_cast<uint8_t>(kProutParameterLength);
}

void buildPrinCdb(uint8_t action, uint8_t cdb[kCdbLength]) {
    std::memset(cdb, 0, kCdbLength);
    cdb[0] = kOpPersistentReserveIn;
    cdb[1] = action;
    StoreBe16(cdb + 7, static_cast<uint16_t>(kPrinAllocationLength));
}

void putKey(const std::string &key, uint8_t field[kKeyLength]) {
    std::memset(field, 0, kKeyLength);
    std::memcpy(field, key.data(), std::min(key.size(), kKeyLength));
}

std::string keyText(const uint8_t field[kKeyLength]) {
    const uint8_t *end = static_cast<const uint8_t *>(std::memchr(field, 0, kKeyLength));
    size_t length = end == nullptr ? kKeyLength : static_cast<size_t>(end - field);
    return std::string(reinterpret_cast<const char *>(field), length);
}

std::string wireKeyText(const std::string &key) {
    uint8_t field[kKeyLength];
    putKey(key, field);
    return keyText(field);
}

void buildProutParameters(const std::string &key, const std::string &serviceActionKey,
                          uint8_t list[kProutParameterLength]) {
    std::memset(list, 0, kProutParameterLength);
    putKey(key, list + kParamKeyOffset);
    putKey(serviceActionKey, list + kParamServiceActionKeyOffset);
}

std::vector<std::string> parseReadKeys(const uint8_t *data, size_t transferred) {
    std::vector<std::string> keys;
    if (data == nullptr || transferred < kPrinHeaderLength) return keys;
    size_t claimed = LoadBe32(data + kAdditionalLengthOffset) / kKeyLength;
    size_t delivered = (transferred - kPrinHeaderLength) / kKeyLength;
    size_t count = std::min(claimed, delivered);
    keys.reserve(count);
    for (size_t i = 0; i < count; ++i) keys.push_back(keyText(data + kPrinHeaderLength + i * kKeyLength));
    return keys;
}

std::vector<SReservationRecord> parseReadReservation(const uint8_t *data, size_t transferred) {
    std::vector<SReservationRecord> records;
    if (data == nullptr || transferred < kPrinHeaderLength) return records;
    size_t claimed = LoadBe32(data + kAdditionalLengthOffset) / kDescriptorLength;
    size_t delivered = (transferred - kPrinHeaderLength) / kDescriptorLength;
    size_t count = std::min(claimed, delivered);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t *descriptor = data + kPrinHeaderLength + i * kDescriptorLength;
        SReservationRecord record;
        record.key = keyText(descriptor);
        record.type = descriptor[kDescriptorTypeOffset] & 0x0F;
        records.push_back(record);
    }
    return records;
}

} // namespace pgr_wire

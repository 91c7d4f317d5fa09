#include "pgr/reservationdisk_wire.h"

#include <algorithm>
#include <cstdio>
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

namespace {

std::string commandName(const uint8_t cdb[kCdbLength]) {
    static const char *const kOut[] = {"REGISTER", "RESERVE", "RELEASE", "CLEAR", "PREEMPT", "PREEMPT AND ABORT",
                                       "REGISTER AND IGNORE EXISTING KEY"};
    static const char *const kIn[] = {"READ KEYS", "READ RESERVATION"};
    uint8_t action = cdb[1] & 0x1F;
    if (cdb[0] == kOpPersistentReserveOut && action < sizeof kOut / sizeof kOut[0])
        return std::string("PERSISTENT RESERVE OUT (") + kOut[action] + ")";
    if (cdb[0] == kOpPersistentReserveIn && action < sizeof kIn / sizeof kIn[0])
        return std::string("PERSISTENT RESERVE IN (") + kIn[action] + ")";
    char text[40];
    std::snprintf(text, sizeof text, "command %02Xh/%02Xh", cdb[0], cdb[1]);
    return text;
}

std::string unitAttention(uint8_t asc, uint8_t ascq) {
    if (asc == 0x29) return "power on or reset occurred";
    if (asc == 0x2A && ascq == 0x03) return "reservations preempted";
    if (asc == 0x2A && ascq == 0x04) return "reservations released";
    if (asc == 0x2A && ascq == 0x05) return "registrations preempted";
    char text[40];
    std::snprintf(text, sizeof text, "ASC %02Xh ASCQ %02Xh", asc, ascq);
    return text;
}

} // namespace

std::string describeFailure(const uint8_t cdb[kCdbLength], const std::string &path, uint32_t timeoutSeconds,
                            bool delivered, uint32_t error, uint8_t status, const uint8_t *sense,
                            size_t senseLength) {
    char cause[160];
    if (!delivered) {
        if (error == 121) // ERROR_SEM_TIMEOUT: the port driver gave up waiting
            std::snprintf(cause, sizeof cause, "got no answer within %u seconds (time-out, error %u)",
                          timeoutSeconds, error);
        else if (error == 1117 || error == 1167) // ERROR_IO_DEVICE, ERROR_DEVICE_NOT_CONNECTED
            std::snprintf(cause, sizeof cause,
                          "was lost with the connection to the device (transport failure, error %u)", error);
        else
            std::snprintf(cause, sizeof cause, "could not be sent (error %u)", error);
    } else if (status == 0x08) {
        std::snprintf(cause, sizeof cause, "was refused: the device is busy (SCSI status BUSY)");
    } else if (status == 0x18) {
        std::snprintf(cause, sizeof cause, "was refused: reservation conflict (SCSI status RESERVATION CONFLICT)");
    } else if (status == 0x28) {
        std::snprintf(cause, sizeof cause, "was refused: the device's task set is full (SCSI status TASK SET FULL)");
    } else if (status == 0x02) {
        // Fixed format keeps the key in byte 2 and ASC/ASCQ in 12/13;
        // descriptor format in bytes 1, 2 and 3.
        int key = -1;
        uint8_t asc = 0, ascq = 0;
        uint8_t format = sense != nullptr && senseLength > 0 ? sense[0] & 0x7F : 0;
        if ((format == 0x70 || format == 0x71) && senseLength >= 14) {
            key = sense[2] & 0x0F;
            asc = sense[12];
            ascq = sense[13];
        } else if ((format == 0x72 || format == 0x73) && senseLength >= 4) {
            key = sense[1] & 0x0F;
            asc = sense[2];
            ascq = sense[3];
        }
        if (key == 6)
            std::snprintf(cause, sizeof cause, "was refused: unit attention, %s (CHECK CONDITION)",
                          unitAttention(asc, ascq).c_str());
        else if (key >= 0)
            std::snprintf(cause, sizeof cause, "ended with CHECK CONDITION, sense key %Xh, ASC %02Xh, ASCQ %02Xh",
                          static_cast<unsigned>(key), asc, ascq);
        else
            std::snprintf(cause, sizeof cause, "ended with CHECK CONDITION without usable sense data");
    } else {
        std::snprintf(cause, sizeof cause, "ended with SCSI status %02Xh", status);
    }
    return commandName(cdb) + " on [" + path + "] " + cause + ".";
}

} // namespace pgr_wire

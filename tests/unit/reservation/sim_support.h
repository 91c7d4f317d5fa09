// Simulated disks for the reservation tests, and an independent decoder of
// what a disk holds: READ KEYS and READ RESERVATION sent straight to the
// disk and decoded here, byte by byte, not by the provider's parsers.
#ifndef TESTS_UNIT_RESERVATION_SIM_SUPPORT_H
#define TESTS_UNIT_RESERVATION_SIM_SUPPORT_H

#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pgr_test {

// What a disk holds, as an observer initiator reads it.
struct DiskView {
    uint32_t keysGeneration = 0;
    std::vector<std::string> keys;   // registered keys, as 8-byte texts up to the first zero byte
    bool reserved = false;
    std::string holderKey;
    int type = -1;
};

inline std::vector<uint8_t> persistentReserveIn(rendo_sim::Disk &disk, uint8_t action) {
    const uint8_t cdb[10] = {0x5E, action, 0, 0, 0, 0, 0, 0x01, 0x00, 0}; // allocation length 256
    std::vector<uint8_t> data(256, 0);
    rendo_sim::ScsiRequest request;
    request.cdb = cdb;
    request.cdbLength = sizeof cdb;
    request.direction = rendo_sim::DataDirection::In;
    request.data = data.data();
    request.dataLength = data.size();
    rendo_sim::ScsiResult result = disk.execute(request, "iqn.2026-12.org.rendo:test-observer", nullptr);
    EXPECT_EQ(0, result.status);
    data.resize(result.dataTransferred);
    return data;
}

inline std::string fieldText(const uint8_t *field) {
    std::string text;
    for (int i = 0; i < 8 && field[i] != 0; ++i) text += static_cast<char>(field[i]);
    return text;
}

inline uint32_t be32(const std::vector<uint8_t> &d, size_t at) {
    return (uint32_t{d.at(at)} << 24) | (uint32_t{d.at(at + 1)} << 16) | (uint32_t{d.at(at + 2)} << 8) |
           uint32_t{d.at(at + 3)};
}

inline DiskView look(rendo_sim::Disk &disk) {
    DiskView view;
    std::vector<uint8_t> keys = persistentReserveIn(disk, 0x00);
    EXPECT_GE(keys.size(), 8u);
    if (keys.size() < 8) return view;
    view.keysGeneration = be32(keys, 0);
    uint32_t length = be32(keys, 4);
    EXPECT_EQ(0u, length % 8);
    EXPECT_GE(keys.size(), 8 + length) << "the observer's buffer holds every key";
    for (size_t at = 8; at + 8 <= 8 + length && at + 8 <= keys.size(); at += 8) view.keys.push_back(fieldText(&keys[at]));

    std::vector<uint8_t> reservation = persistentReserveIn(disk, 0x01);
    EXPECT_GE(reservation.size(), 8u);
    if (reservation.size() < 8) return view;
    uint32_t descriptors = be32(reservation, 4);
    EXPECT_TRUE(descriptors == 0 || descriptors == 16) << "one reservation at most";
    if (descriptors == 16 && reservation.size() >= 24) {
        view.reserved = true;
        view.holderKey = fieldText(&reservation[8]);
        EXPECT_EQ(0, reservation[8 + 13] & 0xF0) << "scope: logical unit";
        view.type = reservation[8 + 13] & 0x0F;
    }
    return view;
}

// The key text as the disk's 64-bit key value.
inline uint64_t keyValue(const std::string &key) {
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i) v = (v << 8) | (i < key.size() ? static_cast<uint8_t>(key[i]) : 0);
    return v;
}

inline std::vector<uint8_t> ascii(const std::string &text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// The PERSISTENT RESERVE OUT commands a disk received from one initiator.
inline std::vector<rendo_sim::CommandRecord> proutFrom(rendo_sim::Disk &disk, const std::string &initiator) {
    std::vector<rendo_sim::CommandRecord> out;
    for (const rendo_sim::CommandRecord &c : disk.commandsFrom(initiator))
        if (c.opcode() == 0x5F) out.push_back(c);
    return out;
}

} // namespace pgr_test

#endif // TESTS_UNIT_RESERVATION_SIM_SUPPORT_H

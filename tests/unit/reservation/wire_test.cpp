// Command blocks, parameter lists and the PR IN parsers, byte for byte.
#include "pgr/reservationdisk_wire.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace pgr_wire;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ascii(const std::string &text) { return Bytes(text.begin(), text.end()); }

// A READ KEYS answer as a device builds it: generation, additional length,
// then the keys.
Bytes readKeysAnswer(const std::vector<std::string> &keys, uint32_t generation = 7) {
    Bytes data = {uint8_t(generation >> 24), uint8_t(generation >> 16), uint8_t(generation >> 8), uint8_t(generation)};
    uint32_t length = static_cast<uint32_t>(keys.size() * 8);
    data.insert(data.end(), {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)});
    for (const std::string &key : keys) {
        uint8_t field[8];
        putKey(key, field);
        data.insert(data.end(), field, field + 8);
    }
    return data;
}

// A READ RESERVATION answer with one descriptor per (key, scope/type byte).
Bytes readReservationAnswer(const std::vector<std::pair<std::string, uint8_t>> &holders) {
    Bytes data = {0, 0, 0, 3};
    uint32_t length = static_cast<uint32_t>(holders.size() * 16);
    data.insert(data.end(), {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)});
    for (const auto &holder : holders) {
        Bytes descriptor(16, 0);
        putKey(holder.first, descriptor.data());
        descriptor[13] = holder.second;
        data.insert(data.end(), descriptor.begin(), descriptor.end());
    }
    return data;
}

void setAdditionalLength(Bytes &data, uint32_t length) {
    data[4] = uint8_t(length >> 24);
    data[5] = uint8_t(length >> 16);
    data[6] = uint8_t(length >> 8);
    data[7] = uint8_t(length);
}

} // namespace

TEST(PgrWire, ReservationTypeTable) {
    EXPECT_EQ(reservationType(false, false, false), 1);
    EXPECT_EQ(reservationType(true, false, false), 3);
    EXPECT_EQ(reservationType(false, true, false), 5);
    EXPECT_EQ(reservationType(true, true, false), 6);
    // allRegistrants overrides registrantsOnly.
    for (bool registrantsOnly : {false, true}) {
        EXPECT_EQ(reservationType(false, registrantsOnly, true), 7);
        EXPECT_EQ(reservationType(true, registrantsOnly, true), 8);
    }
}

TEST(PgrWire, CommandBlocks) {
    uint8_t cdb[kCdbLength];
    buildProutCdb(kActionPreemptAndAbort, 5, cdb);
    EXPECT_EQ(Bytes(cdb, cdb + 10), (Bytes{0x5F, 0x05, 0x05, 0, 0, 0, 0, 0, 24, 0}));
    buildProutCdb(kActionRegisterIgnoreExisting, 0, cdb);
    EXPECT_EQ(Bytes(cdb, cdb + 10), (Bytes{0x5F, 0x06, 0x00, 0, 0, 0, 0, 0, 24, 0}));
    // Only the type nibble reaches byte 2: the scope stays logical unit.
    buildProutCdb(kActionReserve, 0x38, cdb);
    EXPECT_EQ(cdb[2], 0x08);

    buildPrinCdb(kActionReadKeys, cdb);
    EXPECT_EQ(Bytes(cdb, cdb + 10), (Bytes{0x5E, 0x00, 0, 0, 0, 0, 0, 0x00, 0xFF, 0}));
    buildPrinCdb(kActionReadReservation, cdb);
    EXPECT_EQ(Bytes(cdb, cdb + 10), (Bytes{0x5E, 0x01, 0, 0, 0, 0, 0, 0x00, 0xFF, 0}));
}

TEST(PgrWire, KeyFieldsCarryTheTextAsAscii) {
    uint8_t list[kProutParameterLength];
    buildProutParameters("0a0b0c0d", "c0a80001", list);
    Bytes expected = ascii("0a0b0c0dc0a80001");
    expected.resize(24, 0);
    EXPECT_EQ(Bytes(list, list + 24), expected);
    EXPECT_EQ(list[0], 0x30); // the digit 0
    EXPECT_EQ(list[1], 0x61); // the letter a

    // An empty key is the zero field.
    buildProutParameters("", "hostkey1", list);
    EXPECT_EQ(Bytes(list, list + 8), Bytes(8, 0));
    EXPECT_EQ(Bytes(list + 8, list + 16), ascii("hostkey1"));
}

TEST(PgrWire, ShortLongAndNonAsciiKeys) {
    uint8_t field[kKeyLength];
    putKey("abc", field);
    EXPECT_EQ(Bytes(field, field + 8), (Bytes{'a', 'b', 'c', 0, 0, 0, 0, 0}));
    EXPECT_EQ(keyText(field), "abc");

    putKey("0123456789", field);
    EXPECT_EQ(Bytes(field, field + 8), ascii("01234567"));
    EXPECT_EQ(wireKeyText("0123456789"), "01234567");

    // Bytes of non-ASCII text travel unchanged, cut at 8 bytes even inside
    // a character.
    const std::string accented = "h\xC3\xA9h\xC3\xA9h\xC3\xA9"; // 3 x "hé", 9 bytes
    putKey(accented, field);
    EXPECT_EQ(Bytes(field, field + 8), Bytes(accented.begin(), accented.begin() + 8));

    // A zero byte inside the text ends the key read back.
    EXPECT_EQ(wireKeyText(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(wireKeyText(""), "");
}

TEST(PgrWire, ReadKeysWholeAnswers) {
    EXPECT_TRUE(parseReadKeys(readKeysAnswer({}).data(), 8).empty());
    Bytes two = readKeysAnswer({"c0a80001", "c0a80002"});
    ASSERT_EQ(two.size(), 24u);
    EXPECT_EQ(parseReadKeys(two.data(), two.size()), (std::vector<std::string>{"c0a80001", "c0a80002"}));
    // A short key reads back as its text.
    Bytes shortKey = readKeysAnswer({"ab"});
    EXPECT_EQ(parseReadKeys(shortKey.data(), shortKey.size()), std::vector<std::string>{"ab"});
}

TEST(PgrWire, ReadKeysEveryTruncation) {
    Bytes answer = readKeysAnswer({"key00001", "key00002", "key00003", "key00004"});
    for (size_t length = 0; length <= answer.size(); ++length) {
        // Copy exactly the delivered bytes so that ASan sees any read beyond.
        Bytes delivered(answer.begin(), answer.begin() + length);
        std::vector<std::string> keys = parseReadKeys(delivered.data(), delivered.size());
        size_t whole = length < 8 ? 0 : (length - 8) / 8;
        ASSERT_EQ(keys.size(), whole) << "length " << length;
        for (size_t i = 0; i < whole; ++i) EXPECT_EQ(keys[i], "key0000" + std::to_string(i + 1));
    }
    EXPECT_TRUE(parseReadKeys(nullptr, 100).empty());
}

TEST(PgrWire, ReadKeysLyingAdditionalLength) {
    Bytes answer = readKeysAnswer({"key00001", "key00002"});
    // Claims more than delivered: only the delivered keys.
    setAdditionalLength(answer, 0xFFFFFFF8u);
    EXPECT_EQ(parseReadKeys(answer.data(), answer.size()).size(), 2u);
    // Claims fewer: the rest is padding, not keys.
    setAdditionalLength(answer, 8);
    EXPECT_EQ(parseReadKeys(answer.data(), answer.size()), std::vector<std::string>{"key00001"});
    // Not a multiple of 8: whole keys only.
    setAdditionalLength(answer, 15);
    EXPECT_EQ(parseReadKeys(answer.data(), answer.size()).size(), 1u);
    setAdditionalLength(answer, 0);
    EXPECT_TRUE(parseReadKeys(answer.data(), answer.size()).empty());
}

TEST(PgrWire, ReadReservationAnswers) {
    Bytes none = readReservationAnswer({});
    EXPECT_TRUE(parseReadReservation(none.data(), none.size()).empty());

    // The type is the low nibble of the scope/type byte.
    Bytes one = readReservationAnswer({{"c0a80001", 0x25}});
    std::vector<SReservationRecord> records = parseReadReservation(one.data(), one.size());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].key, "c0a80001");
    EXPECT_EQ(records[0].type, 5);

    Bytes two = readReservationAnswer({{"first___", 0x05}, {"second__", 0x08}});
    records = parseReadReservation(two.data(), two.size());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].key, "second__");
    EXPECT_EQ(records[1].type, 8);
}

TEST(PgrWire, ReadReservationCorruptAndShort) {
    Bytes answer = readReservationAnswer({{"first___", 0x05}, {"second__", 0x06}});
    // Odd additional lengths count whole descriptors only.
    setAdditionalLength(answer, 17);
    EXPECT_EQ(parseReadReservation(answer.data(), answer.size()).size(), 1u);
    setAdditionalLength(answer, 15);
    EXPECT_TRUE(parseReadReservation(answer.data(), answer.size()).empty());
    // A length beyond the data: only what was delivered.
    setAdditionalLength(answer, 0x7FFFFFF0u);
    EXPECT_EQ(parseReadReservation(answer.data(), answer.size()).size(), 2u);

    setAdditionalLength(answer, 32);
    for (size_t length = 0; length <= answer.size(); ++length) {
        Bytes delivered(answer.begin(), answer.begin() + length);
        size_t whole = length < 8 ? 0 : (length - 8) / 16;
        ASSERT_EQ(parseReadReservation(delivered.data(), delivered.size()).size(), whole) << "length " << length;
    }
}

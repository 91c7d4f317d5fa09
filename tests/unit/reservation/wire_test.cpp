// Key fields and the PR IN parsers on answers a simulated disk will not
// give: every truncation, lying lengths, odd lengths.
#include "pgr/reservationdisk_wire.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace pgr_wire;
using Bytes = std::vector<uint8_t>;

namespace {

// A PR IN answer: generation 7, ADDITIONAL LENGTH, then body.
Bytes answer(uint32_t length, const Bytes &body) {
    Bytes data(8 + body.size(), 0);
    data[3] = 7;
    for (int i = 0; i < 4; ++i) data[4 + i] = uint8_t(length >> (24 - 8 * i));
    std::copy(body.begin(), body.end(), data.begin() + 8);
    return data;
}
Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

} // namespace

TEST(PgrWire, KeyFields) {
    uint8_t field[8];
    putKey("abc", field); // zero-filled after a short key
    EXPECT_EQ((Bytes{'a', 'b', 'c', 0, 0, 0, 0, 0}), Bytes(field, field + 8));
    putKey("0123456789", field); // the first 8 characters of a long one
    EXPECT_EQ(text("01234567"), Bytes(field, field + 8));
    EXPECT_EQ("01234567", wireKeyText("0123456789"));
    EXPECT_EQ("ab", wireKeyText(std::string("ab\0cd", 5)));
}

TEST(PgrWire, ReadKeysNeverPastTheDataOrTheClaim) {
    const Bytes whole = answer(32, text("key00001key00002key00003key00004"));
    for (size_t length = 0; length <= whole.size(); ++length) {
        Bytes delivered(whole.begin(), whole.begin() + length); // exact size: ASan sees any overread
        std::vector<std::string> keys = parseReadKeys(delivered.data(), delivered.size());
        ASSERT_EQ(length < 8 ? 0 : (length - 8) / 8, keys.size()) << "length " << length;
        for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ("key0000" + std::to_string(i + 1), keys[i]);
    }
    const Bytes body = text("key00001key00002");
    EXPECT_EQ(2u, parseReadKeys(answer(0xFFFFFFF8u, body).data(), 24).size()); // claims more than delivered
    EXPECT_EQ(1u, parseReadKeys(answer(8, body).data(), 24).size());           // the rest is padding
    EXPECT_EQ(1u, parseReadKeys(answer(15, body).data(), 24).size());          // whole keys only
    EXPECT_TRUE(parseReadKeys(nullptr, 24).empty());
}

TEST(PgrWire, ReadReservationNeverPastTheDataOrTheClaim) {
    Bytes descriptors(32, 0);
    std::memcpy(&descriptors[0], "first___", 8);
    descriptors[13] = 0x25; // scope bits above the type are dropped
    std::memcpy(&descriptors[16], "second__", 8);
    descriptors[29] = 0x08;
    const Bytes whole = answer(32, descriptors);
    std::vector<SReservationRecord> records = parseReadReservation(whole.data(), whole.size());
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("first___", records[0].key);
    EXPECT_EQ(5, records[0].type);
    EXPECT_EQ(8, records[1].type);
    for (size_t length = 0; length <= whole.size(); ++length) {
        Bytes delivered(whole.begin(), whole.begin() + length);
        ASSERT_EQ(length < 8 ? 0 : (length - 8) / 16, parseReadReservation(delivered.data(), length).size());
    }
    EXPECT_EQ(1u, parseReadReservation(answer(17, descriptors).data(), 40).size()); // odd length
    EXPECT_TRUE(parseReadReservation(answer(15, descriptors).data(), 40).empty());
    EXPECT_EQ(2u, parseReadReservation(answer(0x7FFFFFF0u, descriptors).data(), 40).size());
}

#include "pdk/cfiudid.h"

#include <gtest/gtest.h>

using kelm_pdk_4_4::CFiUdid;
using kelm_pdk_4_4::CFiUdidException;

namespace {

uint32_t codeOf(const std::string &text) {
    try {
        CFiUdid udid(text);
    } catch (const CFiUdidException &e) {
        EXPECT_EQ(e.text(), text);
        return e.code();
    }
    return 0;
}

} // namespace

TEST(UdidParse, FiveFieldsAreComplete) {
    CFiUdid u("UDID##EMC##SYMMETRIX##000001879005##01A2");
    EXPECT_EQ(u.m_vendor, "EMC");
    EXPECT_EQ(u.m_product, "SYMMETRIX");
    EXPECT_EQ(u.m_enclosure, "000001879005");
    EXPECT_EQ(u.m_lun, "01A2");
    EXPECT_TRUE(u.m_complete);
}

TEST(UdidParse, DefaultGeneratorFormHasNoEnclosure) {
    CFiUdid u("UDID##Vendor##Prod##600a0b80");
    EXPECT_EQ(u.m_vendor, "Vendor"); // case is kept
    EXPECT_EQ(u.m_product, "Prod");
    EXPECT_EQ(u.m_enclosure, "");
    EXPECT_EQ(u.m_lun, "600a0b80");
    EXPECT_FALSE(u.m_complete);
}

TEST(UdidParse, LunKeepsFurtherSeparatorsAndPrefixMayBeEmbedded) {
    CFiUdid u("xxUDID##V##P##E##L1##L2");
    EXPECT_EQ(u.m_vendor, "V");
    EXPECT_EQ(u.m_enclosure, "E");
    EXPECT_EQ(u.m_lun, "L1##L2");
    EXPECT_TRUE(u.m_complete);

    CFiUdid empty("UDID########");
    EXPECT_EQ(empty.m_vendor, "");
    EXPECT_EQ(empty.m_product, "");
    EXPECT_EQ(empty.m_enclosure, "");
    EXPECT_EQ(empty.m_lun, "");
    EXPECT_TRUE(empty.m_complete);
}

TEST(UdidParse, MalformedTextsThrowTheirCodes) {
    EXPECT_EQ(codeOf("UDID##EMC##SYMMETRIX##"), CFiUdidException::NOTHING_AFTER_PRODUCT);
    EXPECT_EQ(codeOf(""), CFiUdidException::NO_PREFIX);
    EXPECT_EQ(codeOf("udid##EMC##SYM##E##L"), CFiUdidException::NO_PREFIX);
    EXPECT_EQ(codeOf("UDID#"), CFiUdidException::NO_PREFIX);
    EXPECT_EQ(codeOf("UDID##EMC"), CFiUdidException::NO_VENDOR_END);
    EXPECT_EQ(codeOf("UDID##EMC#SYM"), CFiUdidException::NO_VENDOR_END);
    EXPECT_EQ(codeOf("UDID##EMC##SYMMETRIX"), CFiUdidException::NO_PRODUCT_END);
    EXPECT_EQ(codeOf("UDID##EMC##SYMMETRIX#"), CFiUdidException::NO_PRODUCT_END);
}

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

TEST(UdidParse, FieldsOfWellFormedTexts) {
    struct Case {
        const char *text, *vendor, *product, *enclosure, *lun;
        bool complete;
    } cases[] = {
        {"UDID##EMC##SYMMETRIX##000001879005##01A2", "EMC", "SYMMETRIX", "000001879005", "01A2", true},
        // The default generator's form has no enclosure; case is kept.
        {"UDID##Vendor##Prod##600a0b80", "Vendor", "Prod", "", "600a0b80", false},
        // The LUN keeps further separators; the prefix may be embedded.
        {"xxUDID##V##P##E##L1##L2", "V", "P", "E", "L1##L2", true},
        {"UDID########", "", "", "", "", true},
    };
    for (const Case &c : cases) {
        CFiUdid u(c.text);
        EXPECT_EQ(u.m_vendor, c.vendor) << c.text;
        EXPECT_EQ(u.m_product, c.product) << c.text;
        EXPECT_EQ(u.m_enclosure, c.enclosure) << c.text;
        EXPECT_EQ(u.m_lun, c.lun) << c.text;
        EXPECT_EQ(u.m_complete, c.complete) << c.text;
    }
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

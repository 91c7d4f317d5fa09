#include "pdk/cfiudid.h"

#include <gtest/gtest.h>

using kelm_pdk_4_4::CFiUdid;
using kelm_pdk_4_4::CFiUdidException;

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
        EXPECT_EQ(u.m_vendor + "|" + u.m_product + "|" + u.m_enclosure + "|" + u.m_lun,
                  std::string(c.vendor) + "|" + c.product + "|" + c.enclosure + "|" + c.lun);
        EXPECT_EQ(u.m_complete, c.complete) << c.text;
    }
}

TEST(UdidParse, MalformedTextsThrowTheirCodes) {
    const std::pair<const char *, uint32_t> cases[] = {
        {"UDID##EMC##SYMMETRIX##", CFiUdidException::NOTHING_AFTER_PRODUCT},
        {"", CFiUdidException::NO_PREFIX},
        {"udid##EMC##SYM##E##L", CFiUdidException::NO_PREFIX},
        {"UDID#", CFiUdidException::NO_PREFIX},
        {"UDID##EMC#SYM", CFiUdidException::NO_VENDOR_END},
        {"UDID##EMC##SYMMETRIX#", CFiUdidException::NO_PRODUCT_END},
    };
    for (const auto &c : cases) {
        try {
            CFiUdid udid(c.first);
            ADD_FAILURE() << c.first;
        } catch (const CFiUdidException &e) {
            EXPECT_EQ(e.text(), c.first);
            EXPECT_EQ(e.code(), c.second) << c.first;
        }
    }
}

// Fuzzes the UDID text parser: any text either throws one of the four codes
// or parses into fields that rebuild the text after its "UDID##" prefix.
#include "fuzz_target.h"
#include "pdk/cfiudid.h"

FUZZ_TEXT_TARGET(text) {
    try {
        kelm_pdk_4_4::CFiUdid udid(text);
        std::string rebuilt = "UDID##" + udid.m_vendor + "##" + udid.m_product + "##";
        rebuilt += udid.m_complete ? udid.m_enclosure + "##" + udid.m_lun : udid.m_lun;
        require(text.size() >= rebuilt.size() && text.compare(text.size() - rebuilt.size(), rebuilt.size(), rebuilt) == 0);
        require(!udid.m_lun.empty() || udid.m_complete);
    } catch (const kelm_pdk_4_4::CFiUdidException &e) {
        require(e.code() >= 1 && e.code() <= 4 && e.text() == text);
    }
}

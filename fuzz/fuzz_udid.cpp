// Fuzzes the UDID text parser: any text either throws one of the four codes
// or parses into fields that rebuild the text after its "UDID##" prefix.
#include "pdk/cfiudid.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using kelm_pdk_4_4::CFiUdid;
using kelm_pdk_4_4::CFiUdidException;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    try {
        CFiUdid udid(text);
        std::string rebuilt = "UDID##" + udid.m_vendor + "##" + udid.m_product + "##";
        rebuilt += udid.m_complete ? udid.m_enclosure + "##" + udid.m_lun : udid.m_lun;
        if (text.size() < rebuilt.size() || text.compare(text.size() - rebuilt.size(), rebuilt.size(), rebuilt) != 0)
            std::abort();
        if (udid.m_lun.empty() && !udid.m_complete) std::abort();
    } catch (const CFiUdidException &e) {
        if (e.code() < 1 || e.code() > 4 || e.text() != text) std::abort();
    }
    return 0;
}

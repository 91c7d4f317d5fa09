// Fuzzes the credential text parser. The first byte picks the open-array
// flag and the vendor/product filter; the rest is the credential text.
#include "pdk/cficonfiguration.h"

#include <cstdint>
#include <cstdlib>
#include <list>
#include <string>

using kelm_pdk_4_4::CFiCredentialsParser;
using kelm_pdk_4_4::SFiCredential;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    static const char *const kFilters[][2] = {{"", ""}, {"EMC", ""}, {"EMC", "CLARIION"}, {"", "OPENARRAY"}};
    const bool openArray = (data[0] & 1) != 0;
    const char *const *filter = kFilters[(data[0] >> 1) & 3];
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

    CFiCredentialsParser parser;
    std::list<SFiCredential> out;
    if (parser.parseText(text, filter[0], filter[1], out, openArray) != 0) std::abort();
    for (const SFiCredential &c : out)
        if (!openArray && !c.complete()) std::abort();
    return 0;
}

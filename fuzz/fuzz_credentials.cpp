// Fuzzes the credential text parser. The first byte picks the open-array
// flag and the vendor/product filter; the rest is the credential text.
#include "fuzz_target.h"
#include "pdk/cficonfiguration.h"

#include <list>

using kelm_pdk_4_4::SFiCredential;

FUZZ_TEXT_TARGET(input) {
    if (input.empty()) return;
    static const char *const kFilters[][2] = {{"", ""}, {"EMC", ""}, {"EMC", "CLARIION"}, {"", "OPENARRAY"}};
    const bool openArray = (input[0] & 1) != 0;
    const char *const *filter = kFilters[(input[0] >> 1) & 3];
    std::list<SFiCredential> out;
    require(kelm_pdk_4_4::CFiCredentialsParser().parseText(input.substr(1), filter[0], filter[1], out, openArray) == 0);
    for (const SFiCredential &c : out) require(openArray || c.complete());
}

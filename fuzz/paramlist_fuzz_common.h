// Shared body of the three parameter list fuzz targets: bytes are read as
// UTF-8 text and parsed; a list that parsed must write a text that parses
// again, and a failed parse must leave the list exactly as it was.
#ifndef FUZZ_PARAMLIST_FUZZ_COMMON_H
#define FUZZ_PARAMLIST_FUZZ_COMMON_H

#include "pdk/cficonfigparam.h"
#include "pdk/cfistringtool.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace paramlist_fuzz {

// One extra platform reference for the life of the process: each parser's
// Initialize/Terminate pair then only counts, and an input costs a parse
// rather than a platform start-up.
struct KeepPlatformStarted {
    KeepPlatformStarted() { xercesc::XMLPlatformUtils::Initialize(); }
};
inline KeepPlatformStarted keepPlatformStarted;

template <class List, class Seed>
int run(const uint8_t *data, size_t size, Seed seed) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    List list;
    seed(list);
    const auto before = list.items();
    const kelm_pdk_4_4::WString xmlBefore = list.getXML();
    int rc = list.parse(kelm_pdk_4_4::CFiStringTool::toWide(text));
    if (rc != 0 && rc != 3) std::abort();
    if (rc == 3) {
        if (!(list.items() == before) || !(list.getXML() == xmlBefore)) std::abort();
        return 0;
    }
    // The normalised text is well-formed whatever the values hold.
    List again;
    if (again.parse(list.getXML()) != 0) std::abort();
    if (again.items().size() > list.items().size()) std::abort();
    return 0;
}

} // namespace paramlist_fuzz

#endif // FUZZ_PARAMLIST_FUZZ_COMMON_H

// Shared body of the three parameter list fuzz targets: bytes are read as
// UTF-8 text and parsed; a list that parsed must write a text that parses
// again, and a failed parse must leave the list exactly as it was.
#ifndef FUZZ_PARAMLIST_FUZZ_COMMON_H
#define FUZZ_PARAMLIST_FUZZ_COMMON_H

#include "fuzz_target.h"
#include "pdk/cficonfigparam.h"
#include "pdk/cfistringtool.h"

#include <xercesc/util/PlatformUtils.hpp>

namespace paramlist_fuzz {

// One extra platform reference for the life of the process: each parser's
// Initialize/Terminate pair then only counts, and an input costs a parse
// rather than a platform start-up.
struct KeepPlatformStarted {
    KeepPlatformStarted() { xercesc::XMLPlatformUtils::Initialize(); }
};
inline KeepPlatformStarted keepPlatformStarted;

template <class List>
void run(const std::string &text, List &list) {
    const auto before = list.items();
    const kelm_pdk_4_4::WString xmlBefore = list.getXML();
    int rc = list.parse(kelm_pdk_4_4::CFiStringTool::toWide(text));
    require(rc == 0 || (rc == 3 && list.items() == before && list.getXML() == xmlBefore));
    if (rc == 3) return;
    // The normalised text is well-formed whatever the values hold.
    List again;
    require(again.parse(list.getXML()) == 0 && again.items().size() <= list.items().size());
}

} // namespace paramlist_fuzz

#endif // FUZZ_PARAMLIST_FUZZ_COMMON_H

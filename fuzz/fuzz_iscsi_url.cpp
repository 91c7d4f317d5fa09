// Fuzzes the iSCSI URL parser: any text is either refused with a reason or
// parses into bounded fields whose canonical text parses back unchanged.
#include "../platform/src/iscsi_url.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using rendo_sim::IscsiUrl;
using rendo_sim::parseIscsiUrl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    IscsiUrl url;
    std::string error;
    if (!parseIscsiUrl(text, &url, &error)) {
        if (error.empty() || error.size() > 400) std::abort();
        return 0;
    }
    if (text.size() > rendo_sim::kIscsiUrlMaxLength) std::abort();
    if (url.host.empty() || url.host.size() > rendo_sim::kIscsiHostMaxLength) std::abort();
    if (url.target.size() > rendo_sim::kIscsiNameMaxLength || url.port == 0) std::abort();
    if (url.lun > rendo_sim::kIscsiMaxLun) std::abort();
    IscsiUrl again;
    if (!parseIscsiUrl(url.text(), &again, nullptr)) std::abort();
    if (again.host != url.host || again.port != url.port || again.target != url.target || again.lun != url.lun)
        std::abort();
    return 0;
}

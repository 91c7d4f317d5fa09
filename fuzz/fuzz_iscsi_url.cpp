// Fuzzes the iSCSI URL parser: any text is either refused with a reason or
// parses into bounded fields whose canonical text parses back unchanged.
#include "../platform/src/iscsi_url.h"
#include "fuzz_target.h"

using rendo_sim::IscsiUrl;

FUZZ_TEXT_TARGET(text) {
    IscsiUrl url, again;
    std::string error;
    if (!rendo_sim::parseIscsiUrl(text, &url, &error)) return require(!error.empty() && error.size() <= 400);
    require(text.size() <= rendo_sim::kIscsiUrlMaxLength && !url.host.empty() &&
            url.host.size() <= rendo_sim::kIscsiHostMaxLength && url.target.size() <= rendo_sim::kIscsiNameMaxLength &&
            url.port != 0 && url.lun <= rendo_sim::kIscsiMaxLun);
    require(rendo_sim::parseIscsiUrl(url.text(), &again, nullptr));
    require(again.host == url.host && again.port == url.port && again.target == url.target && again.lun == url.lun);
}

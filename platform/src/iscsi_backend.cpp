// Placeholder until the libiscsi backend lands: every iSCSI disk fails to
// open with a clear reason, so a host description naming one still loads.
#include "platform/disk_backend.h"

namespace rendo_sim {

std::shared_ptr<DiskBackend> openIscsiBackend(const std::string &url, const InitiatorIdentity &,
                                              std::string *error)
{
    if (error)
        *error = "iSCSI disks are not available in this build: " + url;
    return nullptr;
}

} // namespace rendo_sim

// What the framework receives from the provider's information and node
// operations, printed for a person. Shared by the info, nodes and demo
// commands.
#ifndef KELM_HOST_PROVIDER_VIEWS_H
#define KELM_HOST_PROVIDER_VIEWS_H

#include "provider_host.h"

namespace kelm_host {

// rendo_fi_pgn_get_provider_info, its list printed and freed as the
// framework frees it. The entry point's status.
int showProviderInfo(ProviderHost &host);

// rendo_fi_pgn_enumerate_nodes with selection (0 all, 0x4 local, 0x8
// global): one line per node (type words, name, object identifier), then the
// count; the list is freed as the framework frees it. The entry point's status.
int showNodes(ProviderHost &host, int selection);

} // namespace kelm_host

#endif // KELM_HOST_PROVIDER_VIEWS_H

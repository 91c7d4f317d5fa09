// Where kelm-host finds the provider library and the install root when the
// command line and the environment do not say.
#ifndef KELM_HOST_INSTALL_PATHS_H
#define KELM_HOST_INSTALL_PATHS_H

#include <string>

namespace kelm_host {

struct InstallPaths {
    std::string library;     // provider library to load
    std::string installRoot; // for KELM_INSTALL_ROOT, ending with '/'
};

// Run from the directory it was built in, kelm-host uses the build's library
// and install root. Anywhere else it is an installed copy: both are found
// relative to the program itself (bin/../lib/librendo.so and lib/kelm/ with
// the default layout), so an installation works wherever it is moved and
// never reaches back into a build tree.
InstallPaths defaultInstallPaths();

} // namespace kelm_host

#endif // KELM_HOST_INSTALL_PATHS_H

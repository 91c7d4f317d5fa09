#include "install_paths.h"

#include <filesystem>
#include <system_error>

namespace kelm_host {

InstallPaths defaultInstallPaths() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    const fs::path dir = program.parent_path();
    // equivalent() is false when the build directory is gone, which is right:
    // then this cannot be the built program.
    if (ec || program.empty() || fs::equivalent(dir, RENDO_BUILD_PROGRAM_DIR, ec))
        return {RENDO_BUILD_LIBRARY, std::string(RENDO_BUILD_INSTALL_ROOT) + "/"};
    std::string root = (dir / RENDO_INSTALLED_ROOT_FROM_BIN).lexically_normal().string();
    if (root.back() != '/') root += '/';
    return {(dir / RENDO_INSTALLED_LIBRARY_FROM_BIN).lexically_normal().string(), root};
}

} // namespace kelm_host

// kelm-host: a command-line stand-in for the Kelm framework. It loads a
// provider library as the framework does and drives it through its entry
// points.
#include "commands.h"
#include "install_paths.h"

#include "platform/simhost.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int usageError(const char *what) {
    std::fprintf(stderr, "kelm-host: %s\nRun \"kelm-host help\" for the commands.\n", what);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    using namespace kelm_host;
    const InstallPaths defaults = defaultInstallPaths();
    std::string library = defaults.library;
    CallbackVerbosity verbosity = CallbackVerbosity::Messages;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--lib") {
            if (++i >= argc) return usageError("--lib needs a path");
            library = argv[i];
        } else if (arg == "--quiet-callback") {
            verbosity = CallbackVerbosity::None;
        } else if (arg == "--callback") {
            if (++i >= argc) return usageError("--callback needs none, messages or all");
            std::string mode = argv[i];
            if (mode == "none") verbosity = CallbackVerbosity::None;
            else if (mode == "messages") verbosity = CallbackVerbosity::Messages;
            else if (mode == "all") verbosity = CallbackVerbosity::All;
            else return usageError("--callback needs none, messages or all");
        } else {
            rest.push_back(arg);
        }
    }
    if (rest.empty()) rest.push_back("help");
    if (rest.front() == "--help" || rest.front() == "-h") rest.front() = "help";

    // Every command but help acts on the host RENDO_SIM_HOST describes.
    bool helpOnly = rest.front() == "help";
    for (const std::string &word : rest) helpOnly = helpOnly || word == "--help" || word == "-h";
    const char *description = std::getenv("RENDO_SIM_HOST");
    if (!helpOnly && !checkHostDescription(description ? description : "")) return 2;

    // Without a framework installation, kelm-host's own install root serves.
    setenv("KELM_INSTALL_ROOT", defaults.installRoot.c_str(), 0);
    // The simulated SAN's state directory is fixed now: commands that give the
    // provider a scratch install root must not move the array with it.
    setenv("RENDO_SIM_STATE", rendo_sim::sanStateDirectory().c_str(), 0);

    ProviderHost host(library, verbosity);
    return dispatch(host, rest);
}

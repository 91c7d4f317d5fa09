// kelm-host: a command-line stand-in for the Kelm framework. It loads a
// provider library as the framework does and drives it through its entry
// points.
#include "commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef RENDO_DEFAULT_LIBRARY
#define RENDO_DEFAULT_LIBRARY "librendo.so"
#endif

namespace {

int usageError(const char *what) {
    std::fprintf(stderr, "kelm-host: %s\nRun \"kelm-host help\" for the commands.\n", what);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    using namespace kelm_host;
    std::string library = RENDO_DEFAULT_LIBRARY;
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

    auto found = commands().find(rest.front());
    if (found == commands().end()) return usageError(("unknown command \"" + rest.front() + "\"").c_str());
    const Command &command = found->second;
    for (size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] == "--help" || rest[i] == "-h") {
            printCommandUsage(command);
            return 0;
        }
    }

    // Every command but help acts on the host RENDO_SIM_HOST describes.
    const char *description = std::getenv("RENDO_SIM_HOST");
    if (std::strcmp(command.name, "help") != 0 && !checkHostDescription(description ? description : "")) return 2;

#ifdef RENDO_DEFAULT_INSTALL_ROOT
    // Without a framework installation, the build's own install root serves.
    setenv("KELM_INSTALL_ROOT", RENDO_DEFAULT_INSTALL_ROOT, 0);
#endif

    ProviderHost host(library, verbosity);
    if (command.needsLibrary && !host.load()) {
        std::fprintf(stderr, "kelm-host: %s\n", host.error().c_str());
        return 1;
    }
    std::vector<std::string> args(rest.begin() + 1, rest.end());
    int status = command.run(host, args);
    std::fflush(stdout);
    return status;
}

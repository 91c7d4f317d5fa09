#include "commands.h"

#include <cstdio>
#include <cstdlib>

namespace kelm_host {

namespace {
// Filled by the static registrations before main runs; constructed on first
// use so their order across files does not matter.
std::map<std::string, Command> &registry() {
    static std::map<std::string, Command> r;
    return r;
}
} // namespace

const std::map<std::string, Command> &commands() { return registry(); }

CommandRegistration::CommandRegistration(const Command &command) {
    if (!registry().emplace(command.name, command).second) {
        std::fprintf(stderr, "kelm-host: command %s registered twice\n", command.name);
        std::abort();
    }
}

const char *const kGlobalOptionsHelp =
    "  --lib PATH           provider library to load (default: the built librendo)\n"
    "  --callback MODE      what the provider forwards to the error callback is printed:\n"
    "                       none, messages (default; trace lines only counted) or all\n"
    "  --quiet-callback     the same as --callback none\n";

} // namespace kelm_host

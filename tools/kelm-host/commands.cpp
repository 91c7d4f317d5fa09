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

int dispatch(ProviderHost &host, const std::vector<std::string> &words) {
    auto found = words.empty() ? commands().end() : commands().find(words.front());
    if (found == commands().end()) {
        std::fprintf(stderr, "kelm-host: unknown command \"%s\"\nRun \"kelm-host help\" for the commands.\n",
                     words.empty() ? "" : words.front().c_str());
        return 2;
    }
    const Command &command = found->second;
    for (size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "--help" || words[i] == "-h") {
            printCommandUsage(command);
            if (command.details != nullptr) std::printf("\n%s", command.details);
            return 0;
        }
    }
    if (command.needsLibrary && !host.load()) {
        std::fprintf(stderr, "kelm-host: %s\n", host.error().c_str());
        return 1;
    }
    int status = command.run(host, std::vector<std::string>(words.begin() + 1, words.end()));
    std::fflush(stdout);
    return status;
}

const char *reservationTypeName(int type) {
    switch (type) {
    case 1: return "Write Exclusive";
    case 3: return "Exclusive Access";
    case 5: return "Write Exclusive, Registrants Only";
    case 6: return "Exclusive Access, Registrants Only";
    case 7: return "Write Exclusive, All Registrants";
    case 8: return "Exclusive Access, All Registrants";
    default: return "other";
    }
}

const char *const kGlobalOptionsHelp =
    "  --lib PATH           provider library to load (default: ../lib/librendo.so\n"
    "                       beside kelm-host, or the build's own in the build tree)\n"
    "  --callback MODE      what the provider forwards to the error callback is printed:\n"
    "                       none, messages (default; trace lines only counted) or all\n"
    "  --quiet-callback     the same as --callback none\n";

} // namespace kelm_host

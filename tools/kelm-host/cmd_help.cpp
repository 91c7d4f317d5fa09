// kelm-host help: the commands and options.
#include "commands.h"

#include <cstdio>

namespace kelm_host {
namespace {

int runHelp(ProviderHost &, const std::vector<std::string> &) {
    std::printf("kelm-host: drives a snapshot provider library through its entry points, as the Kelm\n"
                "framework does.\n\nUsage: kelm-host [options] COMMAND [arguments]\n\nCommands:\n");
    for (const auto &entry : commands()) {
        const Command &c = entry.second;
        std::printf("  %-40s %s\n", c.usage, c.summary);
    }
    std::printf("\nOptions:\n%s\nThe provider finds its install root in KELM_INSTALL_ROOT.\n", kGlobalOptionsHelp);
    return 0;
}

const CommandRegistration registration{{"help", "this text (also --help and -h)", "help", &runHelp, false}};

} // namespace

void printCommandUsage(const Command &command) {
    std::printf("Usage: kelm-host [options] %s\n  %s\n\nRun \"kelm-host help\" for the options.\n", command.usage,
                command.summary);
}
} // namespace kelm_host

// kelm-host's commands. Each command lives in a source file of its own and
// registers itself with a static CommandRegistration:
//
//     static const kelm_host::CommandRegistration reg{
//         {"disks", "list the disks the provider sees", "disks", &runDisks}};
//
// The library is loaded only for commands that ask for it.
#ifndef KELM_HOST_COMMANDS_H
#define KELM_HOST_COMMANDS_H

#include "provider_host.h"

#include <map>
#include <string>
#include <vector>

namespace kelm_host {

struct Command {
    const char *name;
    const char *summary; // one line for "help"
    const char *usage;   // arguments after the name
    // Runs the command with the arguments after its name; the process exit
    // status. host is loaded when needsLibrary is set.
    int (*run)(ProviderHost &host, const std::vector<std::string> &args);
    bool needsLibrary = true;
    const char *details = nullptr; // more text for COMMAND --help, or none
};

// Commands by name.
const std::map<std::string, Command> &commands();

struct CommandRegistration {
    explicit CommandRegistration(const Command &command);
};

// "Usage: kelm-host USAGE" and the command's summary, for COMMAND --help.
void printCommandUsage(const Command &command);

// Runs one command line (the command's name, then its arguments) as the
// command line of the tool and a line of a script both do: --help or -h
// among the arguments prints the usage, the library is loaded when the
// command needs it. The command's status; 2 for an unknown command.
int dispatch(ProviderHost &host, const std::vector<std::string> &words);

// The provider's main job in-process on a host made for it (a snapshot LUN
// that appears after a rescan is imported, reserved, released and removed);
// part of "demo". 0, or 1 when a step failed.
int showImportJob();

// Parses the host description at path (none when empty): true when it is
// good, else false after "kelm-host: FILE:LINE: reason" on standard error.
bool checkHostDescription(const std::string &path);

// The name of a persistent-reservation type ("Write Exclusive, Registrants
// Only"), "other" for a type SPC-3 does not define.
const char *reservationTypeName(int type);

// Options of the whole tool, shown by "help".
extern const char *const kGlobalOptionsHelp;

} // namespace kelm_host

#endif // KELM_HOST_COMMANDS_H

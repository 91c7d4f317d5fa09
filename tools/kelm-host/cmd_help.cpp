// kelm-host help: the commands, options and environment; with --man the same
// texts as a manual page, so the installed page never drifts from --help.
#include "commands.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace kelm_host {
namespace {

const char kPurpose[] = "drives a snapshot provider library through its entry points, as the Kelm\n"
                        "framework does.";

struct EnvVariable {
    const char *name;
    const char *meaning; // lines of the help text
};

const EnvVariable kEnvironment[] = {
    {"KELM_INSTALL_ROOT", "the provider's install root: Messages/, ConfigFiles/rendo.conf, Logs/,\n"
                          "CacheFiles/. Unset, kelm-host sets it: to PREFIX/" RENDO_INSTALL_ROOT_DIR "/ when it\n"
                          "runs as PREFIX/bin/kelm-host, in the build tree to the build's install-root"},
    {"KELM_CONSUMER_NAME", "the framework's consumer name, if any"},
    {"KELM_CREDENTIALS_FILE", "file holding the storage-array credential text, if any"},
    {"RENDO_SIM_HOST", "description of the simulated Windows host (empty or unset: the\n"
                       "embedded default host)"},
    {"RENDO_SIM_STATE", "the simulated SAN's state directory, shared by every process that names\n"
                        "the same logical units (unset: SimState under the install root; empty:\n"
                        "this process only)"},
};

// Column where the help's descriptions start; the options text lines up there too.
const int kTermWidth = 23;

void printHelp() {
    std::printf("kelm-host: %s\n\nUsage: kelm-host [options] COMMAND [arguments]\n\nCommands:\n", kPurpose);
    for (const auto &entry : commands()) {
        const Command &c = entry.second;
        std::printf("  %-40s %s\n", c.usage, c.summary);
    }
    std::printf("\nOptions:\n%s\nEnvironment:\n", kGlobalOptionsHelp);
    for (const EnvVariable &v : kEnvironment) {
        std::printf("  %-*s", kTermWidth - 3, v.name);
        for (const char *line = v.meaning; *line != '\0';) {
            const char *nl = std::strchr(line, '\n');
            size_t n = nl != nullptr ? static_cast<size_t>(nl - line) : std::strlen(line);
            std::printf(" %.*s\n", static_cast<int>(n), line);
            line += n + (nl != nullptr ? 1 : 0);
            if (*line != '\0') std::printf("%*s", kTermWidth - 1, "");
        }
    }
}

// Text as roff: backslashes kept, a line never taken for a request, and the
// dashes of a word that starts with one (an option) kept minus signs, so that
// it can be copied from the page.
std::string roff(const std::string &text) {
    std::string out;
    char previous = '\n';
    bool option = false;
    for (char c : text) {
        if (previous == '\n' && (c == '.' || c == '\'')) out += "\\&";
        if (std::strchr("\n [|(", c) != nullptr) option = false;
        if (c == '-' && std::strchr("\n [|(", previous) != nullptr) option = true;
        if (c == '\\')
            out += "\\e";
        else if (c == '-' && option)
            out += "\\-";
        else
            out += c;
        previous = c;
    }
    return out;
}

// "NAME REST" as a tagged paragraph's tag: the name in bold.
void printTag(const std::string &usage) {
    size_t space = usage.find(' ');
    std::printf(".TP\n\\fB%s\\fR", roff(usage.substr(0, space)).c_str());
    if (space != std::string::npos) std::printf("%s", roff(usage.substr(space)).c_str());
    std::printf("\n");
}

// The options of the help text, "  --opt ARG   text" with indented
// continuation lines, as tagged paragraphs.
void printOptionsAsRoff() {
    for (const char *line = kGlobalOptionsHelp; *line != '\0';) {
        const char *nl = std::strchr(line, '\n');
        std::string text(line, nl != nullptr ? static_cast<size_t>(nl - line) : std::strlen(line));
        line += text.size() + (nl != nullptr ? 1 : 0);
        size_t start = text.find_first_not_of(' ');
        if (start == std::string::npos) continue;
        if (start < static_cast<size_t>(kTermWidth)) {
            size_t gap = text.find("  ", start);
            printTag(text.substr(start, gap - start));
            if (gap == std::string::npos || (start = text.find_first_not_of(' ', gap)) == std::string::npos) continue;
        }
        std::printf("%s\n", roff(text.substr(start)).c_str());
    }
}

void printManPage() {
    std::string summary = kPurpose; // whatis wants the name line on one line
    for (char &c : summary)
        if (c == '\n') c = ' ';
    std::printf(".TH KELM\\-HOST 1 \"\" \"rendo %s\" \"User Commands\"\n.nh\n"
                ".SH NAME\nkelm\\-host \\- %s\n"
                ".SH SYNOPSIS\n.B kelm\\-host\n[\\fIoptions\\fR] \\fICOMMAND\\fR [\\fIarguments\\fR]\n"
                ".SH DESCRIPTION\n.B kelm\\-host\n%s\nEvery command takes \\-\\-help.\n.SH COMMANDS\n",
                RENDO_VERSION, roff(summary).c_str(), roff(kPurpose).c_str());
    for (const auto &entry : commands()) {
        printTag(entry.second.usage);
        std::printf("%s\n", roff(entry.second.summary).c_str());
    }
    std::printf(".SH OPTIONS\n");
    printOptionsAsRoff();
    std::printf(".SH ENVIRONMENT\n");
    for (const EnvVariable &v : kEnvironment) {
        printTag(v.name);
        std::printf("%s\n", roff(v.meaning).c_str());
    }
}

int runHelp(ProviderHost &, const std::vector<std::string> &args) {
    for (const std::string &arg : args) {
        if (arg != "--man") {
            std::fprintf(stderr, "kelm-host help: unexpected argument \"%s\"\n", arg.c_str());
            return 2;
        }
    }
    if (args.empty())
        printHelp();
    else
        printManPage();
    return 0;
}

const CommandRegistration registration{
    {"help", "this text (also --help and -h); --man: the same as a manual page", "help [--man]", &runHelp, false}};

} // namespace

void printCommandUsage(const Command &command) {
    std::printf("Usage: kelm-host [options] %s\n  %s\n\nRun \"kelm-host help\" for the options.\n", command.usage,
                command.summary);
}
} // namespace kelm_host

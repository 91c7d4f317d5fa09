// kelm-host exec [--timeout S] [--user U --password P] -- COMMAND...: runs a
// command through the kit's command runner and prints its output lines and
// the runner's status, so that the runner can be tried by hand.
//
// One word after "--" is the command line as it stands ("ls -l | wc -l");
// several words are joined into one, each quoted for the shell where needed.
// Accounts come from the simulated host's description ("user" lines, see
// examples/host-description.md).
#include "commands.h"

#include "pdk/cfiexecpipewindows.h"
#include "pdk/cfistringtool.h"
#include "platform/simhost.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace kelm_host {
namespace {

constexpr unsigned long kDefaultTimeout = 60;

bool parseSeconds(const std::string &text, unsigned long &seconds) {
    if (text.empty() || text[0] == '-') return false;
    errno = 0;
    char *end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || value > UINT_MAX / 1000) return false;
    seconds = value;
    return true;
}

// A word the shell reads back as the same single word.
std::string shellWord(const std::string &word) {
    bool plain = !word.empty();
    for (char c : word) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  std::string("_./=:,+-@%").find(c) != std::string::npos;
        plain = plain && ok;
    }
    if (plain) return word;
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int runExec(ProviderHost &, const std::vector<std::string> &args) {
    unsigned long seconds = kDefaultTimeout;
    std::string user, password;
    bool havePassword = false;
    size_t i = 0;
    for (; i < args.size() && args[i] != "--"; ++i) {
        const std::string &a = args[i];
        if ((a == "--timeout" || a == "--user" || a == "--password") && i + 1 >= args.size()) {
            std::fprintf(stderr, "kelm-host exec: %s needs a value\n", a.c_str());
            return 2;
        }
        if (a == "--timeout") {
            if (!parseSeconds(args[++i], seconds)) {
                std::fprintf(stderr, "kelm-host exec: --timeout needs whole seconds\n");
                return 2;
            }
        } else if (a == "--user") {
            user = args[++i];
        } else if (a == "--password") {
            password = args[++i];
            havePassword = true;
        } else {
            std::fprintf(stderr, "kelm-host exec: unexpected argument \"%s\" (the command follows --)\n", a.c_str());
            return 2;
        }
    }
    if (i + 1 >= args.size()) {
        std::fprintf(stderr, "kelm-host exec: no command after --\n");
        return 2;
    }
    if (!user.empty() && !havePassword) {
        std::fprintf(stderr, "kelm-host exec: --user needs --password\n");
        return 2;
    }
    std::string command;
    if (i + 2 == args.size()) {
        command = args[i + 1];
    } else {
        for (size_t k = i + 1; k < args.size(); ++k) command += (command.empty() ? "" : " ") + shellWord(args[k]);
    }

    kelm_pdk_4_4::CFiExecPipeWindows runner(1);
    std::vector<std::string> lines;
    int status = runner.Exec(command, lines, "", seconds, "", user, password);
    for (const std::string &line : lines) std::printf("%s\n", line.c_str());
    if (!user.empty() && status == 0) {
        auto started = rendo_sim::currentHost()->processes();
        if (!started.empty()) std::printf("ran under account %s\n", started.back().account.c_str());
    }
    std::printf("status %d (%s)", status, kelm_pdk_4_4::execPipeStatusName(status));
    if (status != 0) {
        kelm_pdk_4_4::EFiExecPipe e = runner.getLastError();
        std::printf("; last error %d (%s) for \"%s\"", e.code(), e.statusName(), e.command().c_str());
        if (!e.message().empty()) std::printf(": %s", kelm_pdk_4_4::CFiStringTool::toNarrow(e.message()).c_str());
    }
    std::printf("\n");
    return status == 0 ? 0 : 1;
}

const CommandRegistration registration{{"exec", "run a command through the kit's command runner",
                                        "exec [--timeout S] [--user U --password P] -- COMMAND...", &runExec,
                                        false}};

} // namespace
} // namespace kelm_host

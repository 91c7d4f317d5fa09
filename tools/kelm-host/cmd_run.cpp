// kelm-host run FILE|-: kelm-host commands from a script, in one process and
// one provider session, as the framework runs its job on a machine. A line
// may change the acting host, so that two machines contending for one disk
// replay from one file, with every iSCSI login (to which a target such as
// tgtd binds registrations) kept for the whole script.
//
// Sessions. The library keeps its provider as a process-wide singleton, so
// one loaded library can be one machine's framework session at a time: the
// first line that needs the library starts the session and the end of the
// script stops it; a line that changes the acting host stops it first, and
// the next line that needs the library starts one on the new host. Carrying
// a session over would answer host B from host A's device map. What the
// array holds (registrations, reservations) and the iSCSI logins, which are
// per initiator, outlive the switch.
//
// Hosts. Acting as a host is naming its description in RENDO_SIM_HOST; the
// platform layer reads the variable again when it changes and keeps one host
// per description file for the life of the process, so switching back finds
// the host as it was left (disks removed stay removed).
#include "commands.h"

#include "platform/simhost.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace kelm_host {
namespace {

// An environment variable's value; false when it is unset.
using VariableLookup = std::function<bool(const std::string &name, std::string *value)>;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool validName(const std::string &name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

// text[*at] is '$'. "${NAME}" (closed before end) appends NAME's value and
// moves past the '}'; any other '$' is itself.
bool expandAt(const std::string &text, size_t end, size_t *at, const VariableLookup &lookup, std::string *out,
              std::string *error) {
    if (*at + 1 >= end || text[*at + 1] != '{') {
        *out += '$';
        ++*at;
        return true;
    }
    size_t close = text.find('}', *at + 2);
    if (close == std::string::npos || close >= end) {
        *error = "unterminated ${";
        return false;
    }
    std::string name = text.substr(*at + 2, close - *at - 2);
    if (!validName(name)) {
        *error = "bad variable name \"" + name + "\"";
        return false;
    }
    std::string value;
    if (!lookup(name, &value)) {
        *error = "${" + name + "} is not set";
        return false;
    }
    *out += value;
    *at = close + 1;
    return true;
}

// One script line into words: blanks separate words; '...' and "..." quote
// all or part of a word; a backslash is an ordinary character everywhere;
// ${NAME} is expanded outside quotes and inside "...", never split; a '#'
// that starts a word begins a comment. False with *error on an unterminated
// quote or ${, a bad variable name or an unset variable.
bool splitScriptLine(const std::string &line, const VariableLookup &lookup, std::vector<std::string> *words,
                     std::string *error) {
    words->clear();
    std::string word;
    bool inWord = false;
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (isBlank(c)) {
            if (inWord) words->push_back(word);
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        if (c == '#' && !inWord) break;
        inWord = true;
        if (c == '\'' || c == '"') {
            size_t close = line.find(c, i + 1);
            if (close == std::string::npos) {
                *error = c == '"' ? "unterminated double quote" : "unterminated single quote";
                return false;
            }
            for (size_t k = i + 1; k < close;) {
                if (c == '"' && line[k] == '$') {
                    if (!expandAt(line, close, &k, lookup, &word, error)) return false;
                } else {
                    word += line[k++];
                }
            }
            i = close + 1;
        } else if (c == '$') {
            if (!expandAt(line, line.size(), &i, lookup, &word, error)) return false;
        } else {
            word += c;
            ++i;
        }
    }
    if (inWord) words->push_back(word);
    return true;
}

bool environmentLookup(const std::string &name, std::string *value) {
    const char *v = std::getenv(name.c_str());
    if (v == nullptr) return false;
    *value = v;
    return true;
}

struct Step {
    unsigned line = 0;
    std::string text; // as written, for the echo
    char mode = 0;    // 0, '-' (may fail) or '!' (must fail)
    std::vector<std::string> words;
};

// Reads, checks and runs one script.
class Script {
public:
    explicit Script(std::string label) : m_label(std::move(label)) {}
    ~Script() {
        if (m_scratch.empty()) return;
        std::error_code ec;
        std::filesystem::remove_all(m_scratch, ec);
    }

    // Every line parsed and checked, host files read; false after reporting
    // the first mistake.
    bool prepare(std::istream &in, const std::filesystem::path &baseDir) {
        std::string raw;
        unsigned number = 0;
        while (std::getline(in, raw)) {
            ++number;
            size_t first = 0, last = raw.size();
            while (first < last && isBlank(raw[first])) ++first;
            while (last > first && isBlank(raw[last - 1])) --last;
            Step step;
            step.line = number;
            step.text = raw.substr(first, last - first);
            if (step.text.empty() || step.text[0] == '#') continue;
            std::string rest = step.text;
            if (rest[0] == '-' || rest[0] == '!') {
                step.mode = rest[0];
                rest.erase(0, 1);
            }
            std::string error;
            if (!splitScriptLine(rest, &environmentLookup, &step.words, &error)) return mistake(number, error);
            if (step.words.empty()) {
                if (step.mode != 0) return mistake(number, std::string("nothing to run after '") + step.mode + "'");
                continue;
            }
            const std::string &name = step.words[0];
            if (name == "host") {
                if (!checkHostLine(step, baseDir)) return false;
            } else if (name == "run") {
                return mistake(number, "a script cannot run another script");
            } else if (commands().count(name) == 0) {
                return mistake(number, "unknown command \"" + name + "\"");
            }
            m_steps.push_back(step);
        }
        if (in.bad()) return mistake(number, "read error");
        return true;
    }

    // 0 when every line did as it was told, 1 otherwise.
    int run(ProviderHost &host) {
        host.keepSession(true);
        int result = 0;
        for (const Step &step : m_steps) {
            std::printf("> %s\n", step.text.c_str());
            std::fflush(stdout);
            int status = 0;
            if (step.words[0] == "host")
                actAs(host, step.words[1]);
            else
                status = dispatch(host, step.words);
            std::fflush(stdout);
            if (step.mode == '!' && status == 0) {
                std::fprintf(stderr, "%s:%u: command succeeded but must fail\n", m_label.c_str(), step.line);
                result = 1;
                break;
            }
            if (step.mode == '!') {
                std::printf("%s:%u: command failed with status %d, as it must\n", m_label.c_str(), step.line, status);
            } else if (status != 0 && step.mode == '-') {
                std::printf("%s:%u: command failed with status %d; going on\n", m_label.c_str(), step.line, status);
            } else if (status != 0) {
                std::fprintf(stderr, "%s:%u: command failed with status %d\n", m_label.c_str(), step.line, status);
                result = 1;
                break;
            }
        }
        host.keepSession(false);
        host.fini();
        std::fflush(stdout);
        return result;
    }

private:
    bool mistake(unsigned line, const std::string &what) {
        std::fprintf(stderr, "%s:%u: %s\n", m_label.c_str(), line, what.c_str());
        return false;
    }

    // host NAME [FILE]: NAME must be defined before it is used, and only once.
    bool checkHostLine(const Step &step, const std::filesystem::path &baseDir) {
        if (step.mode != 0) return mistake(step.line, "a host line cannot be prefixed with - or !");
        if (step.words.size() < 2 || step.words.size() > 3) return mistake(step.line, "usage: host NAME [FILE]");
        const std::string &name = step.words[1];
        auto known = m_hosts.find(name);
        if (step.words.size() == 2) {
            if (known == m_hosts.end())
                return mistake(step.line, "host " + name + " is not defined (\"host " + name + " FILE\" defines it)");
            return true;
        }
        if (known != m_hosts.end()) return mistake(step.line, "host " + name + " is already defined");
        std::filesystem::path file = step.words[2];
        if (file.is_relative()) file = baseDir / file;
        std::string description;
        std::ifstream in(file);
        if (!in) return mistake(step.line, "cannot read the host description " + file.string());
        if (!describe(in, file, &description)) return false;
        m_hosts[name] = description;
        return true;
    }

    // The description file to name for file: the file itself, or, when it
    // uses ${NAME}, an expanded copy of it (comment lines are left alone).
    bool describe(std::istream &in, const std::filesystem::path &file, std::string *description) {
        std::string text, raw, error;
        bool expanded = false;
        unsigned number = 0;
        while (std::getline(in, raw)) {
            ++number;
            size_t first = raw.find_first_not_of(" \t");
            if (raw.find("${") == std::string::npos || first == std::string::npos || raw[first] == '#') {
                text += raw + "\n";
                continue;
            }
            std::string line;
            for (size_t i = 0; i < raw.size();) {
                if (raw[i] != '$') {
                    line += raw[i++];
                } else if (!expandAt(raw, raw.size(), &i, &environmentLookup, &line, &error)) {
                    std::fprintf(stderr, "%s:%u: %s\n", file.string().c_str(), number, error.c_str());
                    return false;
                }
            }
            text += line + "\n";
            expanded = true;
        }
        // A bad description stops the script before its first line runs, at
        // the host line and at the description's own line.
        std::string parseError;
        if (!rendo_sim::parseHostDescription(text, &parseError)) {
            if (parseError.rfind("line ", 0) == 0) parseError = parseError.substr(5);
            std::fprintf(stderr, "%s:%s\n", file.string().c_str(), parseError.c_str());
            return false;
        }
        std::error_code ec;
        if (!expanded) {
            *description = std::filesystem::absolute(file, ec).string();
            return true;
        }
        if (m_scratch.empty()) {
            std::string pattern = (std::filesystem::temp_directory_path(ec) / "kelm-host-run-XXXXXX").string();
            if (mkdtemp(pattern.data()) == nullptr) {
                std::fprintf(stderr, "kelm-host run: cannot create a scratch directory: %s\n", std::strerror(errno));
                return false;
            }
            m_scratch = pattern;
        }
        // One copy per defined host, named by its order: a stable path for
        // the life of the script.
        *description = m_scratch + "/host" + std::to_string(m_hosts.size() + 1) + ".txt";
        std::ofstream out(*description);
        out << text;
        if (!out.flush()) {
            std::fprintf(stderr, "kelm-host run: cannot write %s\n", description->c_str());
            return false;
        }
        return true;
    }

    void actAs(ProviderHost &host, const std::string &name) {
        if (name == m_acting) return;
        if (host.running()) {
            // The provider's session belongs to the machine it started on.
            host.keepSession(false);
            host.fini();
            host.keepSession(true);
        }
        setenv("RENDO_SIM_HOST", m_hosts[name].c_str(), 1);
        m_acting = name;
    }

    std::string m_label;
    std::vector<Step> m_steps;
    std::map<std::string, std::string> m_hosts; // name, description file
    std::string m_acting;                       // empty: the host the script started on
    std::string m_scratch;
};

const char kDetails[] =
    "A script holds one kelm-host command a line, with its arguments as on the command\n"
    "line (global options such as --lib go before \"run\"). FILE \"-\" reads standard input.\n"
    "\n"
    "  Words are separated by blanks. '...' and \"...\" quote a word or part of one; a\n"
    "  backslash is an ordinary character, so \\\\.\\PHYSICALDRIVE0 needs no quotes.\n"
    "  ${NAME} is the environment variable NAME, outside quotes and inside \"...\" (not\n"
    "  inside '...'); an unset one is an error. A '#' that starts a word begins a\n"
    "  comment (UDIDs keep their \"##\"); blank lines are skipped.\n"
    "  - LINE          the line may fail: its status is printed and the script goes on\n"
    "  ! LINE          the line must fail: success stops the script\n"
    "  host NAME FILE  define host NAME from a host-description file (a relative FILE is\n"
    "                  found from the script's directory; ${NAME} in it is expanded\n"
    "                  too) and act as that host from the next line on\n"
    "  host NAME       act as host NAME again\n"
    "\n"
    "The whole script is checked first (quotes, variables, command names, host files);\n"
    "a mistake is reported as FILE:LINE and nothing runs (exit status 2). Each line is\n"
    "printed as \"> LINE\" before it runs. The first line that fails stops the script\n"
    "with \"FILE:LINE: command failed with status N\" on standard error (exit status 1).\n"
    "\n"
    "One framework session: the first line that needs the provider library starts it\n"
    "(rendo_fi_pgn_init) and the end of the script stops it (rendo_fi_pgn_fini), so the\n"
    "library's device map and last error carry from line to line. A host line that\n"
    "changes the acting host stops the session first; the next line that needs the\n"
    "library starts one on that host. Disks, their reservations and the iSCSI logins\n"
    "last for the whole script. (disks, reserve, release, keys, import and deport run\n"
    "the provider in-process for each line, as on the command line.)\n";

int usage(const std::string &what) {
    std::fprintf(stderr, "kelm-host run: %s\nusage: kelm-host run FILE|-\n", what.c_str());
    return 2;
}

int runScript(ProviderHost &host, const std::vector<std::string> &args) {
    if (args.size() != 1) return usage("one script file (or - for standard input) is needed");
    const std::string &file = args[0];
    if (file == "-") {
        Script script("<stdin>");
        std::error_code ec;
        if (!script.prepare(std::cin, std::filesystem::current_path(ec))) return 2;
        return script.run(host);
    }
    std::ifstream in(file);
    if (!in) return usage("cannot read " + file);
    std::filesystem::path dir = std::filesystem::path(file).parent_path();
    Script script(file);
    if (!script.prepare(in, dir.empty() ? std::filesystem::path(".") : dir)) return 2;
    return script.run(host);
}

const CommandRegistration registration{
    {"run", "run kelm-host commands from a script in one provider session; lines may change the host",
     "run FILE|-", &runScript, false, kDetails}};

} // namespace
} // namespace kelm_host

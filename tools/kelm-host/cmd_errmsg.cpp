// kelm-host errmsg CODE [--lang L]: the provider's text for a status code.
#include "commands.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace kelm_host {
namespace {

bool parseCode(const std::string &text, int &code) {
    if (text.empty()) return false;
    errno = 0;
    char *end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || value < INT_MIN || value > INT_MAX) return false;
    code = static_cast<int>(value);
    return true;
}

int runErrmsg(ProviderHost &host, const std::vector<std::string> &args) {
    std::string language;
    bool haveCode = false;
    int code = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--lang") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "kelm-host errmsg: --lang needs a language\n");
                return 2;
            }
            language = args[++i];
        } else if (!haveCode && parseCode(args[i], code)) {
            haveCode = true;
        } else {
            std::fprintf(stderr, "kelm-host errmsg: unexpected argument \"%s\"\n", args[i].c_str());
            return 2;
        }
    }
    if (!haveCode) {
        std::fprintf(stderr, "kelm-host errmsg: a status code is needed\n");
        return 2;
    }
    // errmsg answers in the native language, which the init record names.
    int rc = host.init(language);
    if (rc != 0) {
        host.fini();
        return 1;
    }
    const wchar_t *text = nullptr;
    rc = host.entry().errmsg(code, &text);
    std::printf("rendo_fi_pgn_errmsg(%d) = %d: %s\n", code, rc, text != nullptr ? narrow(text).c_str() : "(no text)");
    host.fini();
    return rc == 0 ? 0 : 1;
}

const CommandRegistration registration{
    {"errmsg", "the provider's text for a status code", "errmsg CODE [--lang L]", &runErrmsg}};

} // namespace
} // namespace kelm_host

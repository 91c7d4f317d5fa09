// kelm-host demo: one start-to-stop conversation with the provider.
#include "commands.h"
#include "provider_views.h"

#include "kelm/kelm_testkit.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace kelm_host {
namespace {

const int kDemoCodes[] = {0, 5, 29, 6029};

void section(const char *title) { std::printf("\n-- %s\n", title); }

void showStatusTexts(ProviderHost &host) {
    for (int code : kDemoCodes) {
        const wchar_t *text = nullptr;
        int rc = host.entry().errmsg(code, &text);
        std::printf("  errmsg(%d) = %d: %s\n", code, rc, text != nullptr ? narrow(text).c_str() : "(no text)");
    }
}

// A message in the form the framework stores last errors in.
void localize(ProviderHost &host, kel_msg_info *info, const char *language) {
    wchar_t *text = nullptr;
    int code = 0;
    int rc = host.entry().get_locale_message(&code, info, language, &text);
    std::printf("  get_locale_message(%s) = %d: %s\n", language, rc,
                text != nullptr ? narrow(text).c_str() : "(no text)");
    if (text != nullptr) host.entry().del_locale_message(&text);
}

void showLastError(ProviderHost &host, const std::string &native) {
    kel_msg_info *last = nullptr;
    int rc = host.entry().get_last_error(&last);
    std::printf("  rendo_fi_pgn_get_last_error = %d\n", rc);
    // No operation has failed on this thread; a message kept by the framework
    // from an earlier call serves to show the localisation.
    static const char kKept[] = "<SERIALIZED_MESSAGE MSGID=MSG_ERROR_INITIALIZATION_FAILED SEVERITY=2>\n"
                                "</SERIALIZED_MESSAGE>\n";
    kel_msg_info kept{kKept, static_cast<uint32_t>(std::strlen(kKept))};
    kel_msg_info *info = last;
    if (info == nullptr || info->text == nullptr) {
        std::printf("  (no last error on this thread; using a message the framework kept earlier)\n");
        info = &kept;
    }
    std::printf("  serialised:\n");
    for (const char *p = info->text; *p != '\0';) {
        const char *nl = std::strchr(p, '\n');
        size_t n = nl != nullptr ? static_cast<size_t>(nl - p) : std::strlen(p);
        std::printf("    %.*s\n", static_cast<int>(n), p);
        p += n + (nl != nullptr ? 1 : 0);
    }
    localize(host, info, native.c_str());
    localize(host, info, "root");
    if (last != nullptr) host.entry().del_last_error(&last);
}

void showTraceFile() {
    std::string path = traceFilePath();
    std::ifstream in(path);
    if (!in) {
        std::printf("  %s: not written. A fresh install root gets its trace settings at the first start\n"
                    "  (ConfigFiles/rendo.conf) and traces from the next one on.\n",
                    path.c_str());
        return;
    }
    long lines = 0;
    std::string line;
    while (std::getline(in, line)) ++lines;
    std::printf("  %s (%ld lines)\n", path.c_str(), lines);
    if (lines == 0) {
        std::printf("  Only lines up to TRACELEVEL in ConfigFiles/rendo.conf reach the file (1: errors);\n"
                    "  6 adds every entry and exit.\n");
    }
}

int runDemo(ProviderHost &host, const std::vector<std::string> &args) {
    std::string native = "de";
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--native" && i + 1 < args.size()) {
            native = args[++i];
        } else {
            std::fprintf(stderr, "kelm-host demo: unexpected argument \"%s\"\n", args[i].c_str());
            return 2;
        }
    }
    std::printf("library      : %s\ninstall root : %s\n", host.libraryPath().c_str(), installRoot().c_str());

    section(("start, native language " + native).c_str());
    if (host.init(native) != 0) {
        host.fini();
        return 1;
    }
    section("provider information");
    showProviderInfo(host);
    section("nodes of the host");
    showNodes(host, 0);
    section(("status texts in the native language (" + native + ")").c_str());
    showStatusTexts(host);
    section("last error");
    showLastError(host, native);
    section("stop");
    host.fini();

    section("restart without a native language: the default texts");
    if (host.init("") != 0) {
        host.fini();
        return 1;
    }
    showStatusTexts(host);
    host.fini();

    section("the main job: import (waiting for the LUN), reserve, deport with release and removal");
    const int job = showImportJob();

    section("error callback");
    std::printf("  %ld messages and %ld trace lines forwarded\n", host.forwardedMessages(),
                host.forwardedTraceLines());
    section("trace file");
    showTraceFile();
    return job;
}

const CommandRegistration registration{
    {"demo", "start the provider, show its information, nodes and texts, stop it", "demo [--native LANG]", &runDemo}};

} // namespace
} // namespace kelm_host

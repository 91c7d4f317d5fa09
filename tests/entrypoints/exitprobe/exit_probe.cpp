// A framework that stops the provider from an exit handler, run as its own
// process: exit_probe LIBRARY. The handler is registered before the library
// is loaded, so it runs after the library's static objects are destroyed;
// every call must return its failure status and touch nothing.
// It links no part of the provider or the framework's test kit, so loading
// with RTLD_NOW also proves the library needs nothing beyond the utility
// library's eight functions. Exit status 0 means every check held.
#include "rendo/rendo_fi_pgn.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct Calls {
#define EXIT_PROBE_MEMBER_(ret, name, params) rendo_fi_pgn_##name##_fn name;
    RENDO_FI_PGN_ENTRY_POINTS(EXIT_PROBE_MEMBER_)
#undef EXIT_PROBE_MEMBER_
};

Calls g_calls{};

void check(bool ok, const char *what) {
    if (ok) return;
    std::fprintf(stderr, "exit_probe: %s\n", what);
    std::fflush(stderr);
    _exit(3);
}

void stopFromExitHandler() {
    g_calls.fini();
    g_calls.fini();
    const wchar_t *sentinel = L"untouched";
    const wchar_t *text = sentinel;
    check(g_calls.errmsg(0, &text) == KEL_EFAIL, "errmsg after static destruction: not the failure status");
    check(text == sentinel, "errmsg after static destruction wrote its out-argument");
    kel_msg_info *info = nullptr;
    check(g_calls.get_last_error(&info) == KEL_EFAIL && info == nullptr, "get_last_error after static destruction");
    wchar_t name[] = L"\\\\.\\PHYSICALDRIVE0";
    kelm_objid object{name, sizeof name, 0};
    kelm_objid **claimed = nullptr;
    int level = -1;
    check(g_calls.claim(&object, &claimed, &level) == KEL_CLAIM_NONE && claimed == nullptr && level == -1,
          "claim after static destruction");
    kel_provider_list *list = nullptr;
    check(g_calls.get_provider_info(&list) == KEL_EFAIL && list == nullptr, "get_provider_info after static destruction");
    kel_version version{};
    check(g_calls.init(nullptr, &version) == KEL_EINITFAILED, "init after static destruction");
}

} // namespace

int main(int argc, char **argv) {
    check(argc == 2, "usage: exit_probe LIBRARY");
    std::atexit(stopFromExitHandler);
    void *lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    check(lib != nullptr, lib == nullptr ? dlerror() : "");
#define EXIT_PROBE_RESOLVE_(ret, name, params)                                                                   \
    g_calls.name = reinterpret_cast<rendo_fi_pgn_##name##_fn>(dlsym(lib, "rendo_fi_pgn_" #name));              \
    check(g_calls.name != nullptr, "rendo_fi_pgn_" #name);
    RENDO_FI_PGN_ENTRY_POINTS(EXIT_PROBE_RESOLVE_)
#undef EXIT_PROBE_RESOLVE_

    kel_version version{};
    check(g_calls.init(nullptr, &version) == 0, "init failed");
    const wchar_t *text = nullptr;
    g_calls.errmsg(0, &text);
    return 0; // the library stays loaded, as a framework leaves it
}

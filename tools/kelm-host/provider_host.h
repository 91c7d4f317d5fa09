// The framework's side of the conversation with a provider library: loading
// it, resolving its entry points, the init record with its error callback,
// and start/stop.
#ifndef KELM_HOST_PROVIDER_HOST_H
#define KELM_HOST_PROVIDER_HOST_H

#include "rendo/rendo_fi_pgn.h"

#include <cstdio>
#include <string>

namespace kelm_host {

// How much of what the provider forwards to the callback is printed.
enum class CallbackVerbosity {
    None,     // nothing
    Messages, // messages (they carry a native-language text); trace lines are only counted
    All,      // messages and every forwarded trace line
};

// The resolved entry points, one member per name: entry.claim, entry.init...
struct EntryPoints {
#define KELM_HOST_MEMBER_(ret, name, params) rendo_fi_pgn_##name##_fn name = nullptr;
    RENDO_FI_PGN_ENTRY_POINTS(KELM_HOST_MEMBER_)
#undef KELM_HOST_MEMBER_
};

class ProviderHost {
public:
    ProviderHost(std::string libraryPath, CallbackVerbosity verbosity);
    ~ProviderHost();
    ProviderHost(const ProviderHost &) = delete;
    ProviderHost &operator=(const ProviderHost &) = delete;

    // dlopen and dlsym of all entry points. False with error() set when the
    // library or one of the names is missing.
    bool load();
    const std::string &error() const { return m_error; }
    const std::string &libraryPath() const { return m_libraryPath; }
    const EntryPoints &entry() const { return m_entry; }

    // rendo_fi_pgn_init with a record naming the native language (empty: none).
    int init(const std::string &nativeLanguage);
    // rendo_fi_pgn_fini, when init was called.
    void fini();

    // A script runs its commands in one provider session, as the framework
    // does: while the session is kept, init starts the provider only the
    // first time (and again only for another native language) and fini
    // leaves it running. Ending the keep does not stop a running session.
    void keepSession(bool keep) { m_keep = keep; }
    bool running() const { return m_started; }

    long forwardedMessages() const { return m_messages; }
    long forwardedTraceLines() const { return m_traceLines; }

private:
    static void callback(kel_pgn_init *init, const wchar_t *nativeText, const wchar_t *defaultText, int severity);

    std::string m_libraryPath;
    CallbackVerbosity m_verbosity;
    void *m_handle = nullptr;
    EntryPoints m_entry;
    std::string m_error;
    kel_pgn_init m_init{};
    std::string m_nativeLanguage;
    char *m_nativeLanguagePtr = nullptr;
    bool m_started = false;
    bool m_keep = false;
    int m_initStatus = 0;
    long m_messages = 0;
    long m_traceLines = 0;
};

// UTF-8 text of a wide string ("" for null).
std::string narrow(const wchar_t *text);

// The install root the provider sees (KELM_INSTALL_ROOT), ending with '/'.
std::string installRoot();

// Where the provider's trace file for today is, from its configuration file.
std::string traceFilePath();

} // namespace kelm_host

#endif // KELM_HOST_PROVIDER_HOST_H

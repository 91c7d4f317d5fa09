// Shared pieces of the entry-point tests: the provider libraries loaded as
// the framework loads them, an error callback that records what it is given,
// and a fixture with a private install root.
#ifndef TESTS_ENTRYPOINTS_EP_FIXTURE_H
#define TESTS_ENTRYPOINTS_EP_FIXTURE_H

#include "rendo/rendo_fi_pgn.h"
#include "test_plugin_control.h"

#include "kelm/kelm_testkit.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace ep_test {

struct EntryPoints {
#define EP_TEST_MEMBER_(ret, name, params) rendo_fi_pgn_##name##_fn name = nullptr;
    RENDO_FI_PGN_ENTRY_POINTS(EP_TEST_MEMBER_)
#undef EP_TEST_MEMBER_
};

// One provider library, loaded once per process with RTLD_NOW | RTLD_LOCAL
// and never unloaded (its unload hook cleans up ICU for the whole process).
class ProviderLibrary {
public:
    static ProviderLibrary &rendo();   // librendo.so
    static ProviderLibrary &testpgn(); // librendo_testpgn.so, the scripted plug-in
    const EntryPoints &ep() const { return m_ep; }
    void *handle() const { return m_handle; }
    // The test library's script and observations; null for librendo.
    RendoTestPgnControl *control() const { return m_control; }

private:
    explicit ProviderLibrary(const char *path);
    void *m_handle = nullptr;
    EntryPoints m_ep;
    RendoTestPgnControl *m_control = nullptr;
};

struct Forwarded {
    kel_pgn_init *init;
    std::string nativeText; // empty for a forwarded trace line
    std::string defaultText;
    int severity;
};

// Records every call of the error callback.
class CallbackRecorder {
public:
    static void callback(kel_pgn_init *init, const wchar_t *nativeText, const wchar_t *defaultText, int severity);
    static std::vector<Forwarded> all();
    static void clear();
};

// An init record whose native language stays valid as long as the record.
class InitRecord {
public:
    explicit InitRecord(const char *nativeLanguage = nullptr);
    kel_pgn_init *get() { return &m_record; }

private:
    kel_pgn_init m_record{};
    std::string m_language;
    char *m_languagePtr = nullptr;
};

std::string narrow(const wchar_t *text);
// The default texts of the messages (not trace lines) the callback received.
std::vector<std::string> forwardedMessages();
// No framework buffer left live, freed twice or freed with another size since before.
void expectNothingLeft(const kelm_buf_stats &before);

// A fresh install root per test; the provider is stopped at the end of a test
// that started it.
class EntryPointTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the trace settings so that the next start traces at level.
    void traceAtLevel(int level);
    // rendo_fi_pgn_init with a recording callback; returns its result.
    int start(ProviderLibrary &lib, const char *nativeLanguage = nullptr);
    void stop();
    // The trace file lines of today.
    std::vector<std::string> traceLines() const;
    // The messages of today's trace lines that contain part.
    std::vector<std::string> traced(const std::string &part) const;

    std::string m_root;
    ProviderLibrary *m_started = nullptr;
    InitRecord *m_init = nullptr;
};

} // namespace ep_test

#endif // TESTS_ENTRYPOINTS_EP_FIXTURE_H

// Shared pieces of the entry-point tests: the provider libraries loaded as
// the framework loads them, an error callback that records what it is given,
// and a fixture with a private install root.
#ifndef TESTS_ENTRYPOINTS_EP_FIXTURE_H
#define TESTS_ENTRYPOINTS_EP_FIXTURE_H

#include "rendo/rendo_fi_pgn.h"
#include "test_env.h"
#include "test_plugin_control.h"

#include "kelm/kelm_testkit.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <tuple>
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
    static ProviderLibrary &rendo() { static auto *lib = new ProviderLibrary(RENDO_LIBRARY); return *lib; }
    // librendo_testpgn.so, the scripted plug-in.
    static ProviderLibrary &testpgn() { static auto *lib = new ProviderLibrary(RENDO_TESTPGN_LIBRARY); return *lib; }
    const EntryPoints &ep() const { return m_ep; }
    // The test library's script and observations; null for librendo.
    RendoTestPgnControl *control() const { return m_control; }

private:
    explicit ProviderLibrary(const char *path) {
        void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            ADD_FAILURE() << "cannot load " << path << ": " << dlerror();
            return;
        }
#define EP_TEST_RESOLVE_(ret, name, params)                                                                   \
    m_ep.name = reinterpret_cast<rendo_fi_pgn_##name##_fn>(dlsym(handle, "rendo_fi_pgn_" #name));
        RENDO_FI_PGN_ENTRY_POINTS(EP_TEST_RESOLVE_)
#undef EP_TEST_RESOLVE_
        auto control = reinterpret_cast<rendo_testpgn_control_fn>(dlsym(handle, "rendo_testpgn_control"));
        if (control != nullptr) m_control = control();
    }
    EntryPoints m_ep;
    RendoTestPgnControl *m_control = nullptr;
};

// ASCII as it stands; anything else as its code point, enough to compare texts.
inline std::string narrow(const wchar_t *text) {
    std::string out;
    for (; text != nullptr && *text != L'\0'; ++text)
        out += *text < 0x80 ? std::string(1, static_cast<char>(*text)) : "&#" + std::to_string(*text) + ";";
    return out;
}

struct Forwarded {
    kel_pgn_init *init;
    std::string nativeText; // empty for a forwarded trace line
    std::string defaultText;
    int severity;
};

// Records every call of the error callback.
struct CallbackRecorder {
    static void callback(kel_pgn_init *init, const wchar_t *nativeText, const wchar_t *defaultText, int severity) {
        std::lock_guard<std::mutex> g(lock);
        forwarded.push_back({init, narrow(nativeText), narrow(defaultText), severity});
    }
    static std::vector<Forwarded> all() {
        std::lock_guard<std::mutex> g(lock);
        return forwarded;
    }
    static void clear() {
        std::lock_guard<std::mutex> g(lock);
        forwarded.clear();
    }
    static inline std::mutex lock;
    static inline std::vector<Forwarded> forwarded;
};

// The default texts of the messages (not trace lines) the callback received.
inline std::vector<std::string> forwardedMessages() {
    std::vector<std::string> out;
    for (const Forwarded &f : CallbackRecorder::all())
        if (!f.nativeText.empty()) out.push_back(f.defaultText);
    return out;
}

// An init record whose native language stays valid as long as the record.
struct InitRecord {
    explicit InitRecord(const char *nativeLanguage = nullptr) : language(nativeLanguage ? nativeLanguage : "") {
        record.callback = &CallbackRecorder::callback;
        if (nativeLanguage != nullptr) record.native_language = &(languagePtr = language.data());
    }
    kel_pgn_init *get() { return &record; }
    kel_pgn_init record{};
    std::string language;
    char *languagePtr = nullptr;
};

// No framework buffer left live, freed twice or freed with another size since before.
inline void expectNothingLeft(const kelm_buf_stats &before) {
    const kelm_buf_stats a = kelm_get_buf_stats();
    EXPECT_EQ(std::make_tuple(before.live, before.bad_frees, before.size_mismatch),
              std::make_tuple(a.live, a.bad_frees, a.size_mismatch));
}

// A fresh install root per test; the provider is stopped at the end of a test
// that started it.
class EntryPointTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = rendo_test::makeInstallRoot("ep");
        ASSERT_FALSE(m_root.empty());
        CallbackRecorder::clear();
        if (RendoTestPgnControl *c = ProviderLibrary::testpgn().control()) c->reset();
    }
    void TearDown() override {
        stop();
        kelm_fail_allocations_after(-1);
        rendo_test::removeTree(m_root);
    }

    // Writes the trace settings so that the next start traces at level.
    void traceAtLevel(int level) {
        std::filesystem::create_directories(m_root + "ConfigFiles");
        std::filesystem::create_directories(m_root + "Logs");
        char text[512];
        std::snprintf(text, sizeof text,
                      "[DEBUG_TRACE_INFO]\n\"TRACEDIR\"=\"%sLogs/\"\n\"TRACEFILE\"=\"rendo.log\"\n\"TRACELEVEL\"=dword:%08x\n"
                      "\"TRACESTDOUT\"=dword:00000000\n\"TRACERUNTIMEUPDATE\"=dword:00000000\n",
                      m_root.c_str(), level);
        rendo_test::writeFile(m_root + "ConfigFiles/rendo.conf", text);
    }
    // rendo_fi_pgn_init with a recording callback; returns its result.
    int start(ProviderLibrary &lib, const char *nativeLanguage = nullptr) {
        stop();
        m_init = new InitRecord(nativeLanguage);
        kel_version version{};
        m_started = &lib;
        return lib.ep().init(m_init->get(), &version);
    }
    void stop() {
        if (m_started != nullptr) m_started->ep().fini();
        m_started = nullptr;
        delete m_init; // the provider no longer forwards to it
        m_init = nullptr;
    }
    // The messages of today's trace file lines that contain part.
    std::vector<std::string> traced(const std::string &part) const {
        char date[16] = {};
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        std::strftime(date, sizeof date, "%m%d%y", &local);
        std::vector<std::string> out;
        std::istringstream in(rendo_test::readFile(m_root + "Logs/rendo.log." + date));
        for (std::string line; std::getline(in, line);) {
            size_t at = line.find("> ");
            if (at != std::string::npos && line.find(part, at) != std::string::npos) out.push_back(line.substr(at + 2));
        }
        return out;
    }

    std::string m_root;
    ProviderLibrary *m_started = nullptr;
    InitRecord *m_init = nullptr;
};

} // namespace ep_test

#endif // TESTS_ENTRYPOINTS_EP_FIXTURE_H

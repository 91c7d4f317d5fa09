#include "ep_fixture.h"

#include "test_env.h"

#include "kelm/kelm_testkit.h"

#include <dlfcn.h>

#include <ctime>
#include <filesystem>
#include <sstream>

namespace ep_test {

namespace {
std::mutex g_forwardedLock;
std::vector<Forwarded> g_forwarded;
} // namespace

ProviderLibrary::ProviderLibrary(const char *path) {
    m_handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        ADD_FAILURE() << "cannot load " << path << ": " << dlerror();
        return;
    }
#define EP_TEST_RESOLVE_(ret, name, params)                                                                   \
    m_ep.name = reinterpret_cast<rendo_fi_pgn_##name##_fn>(dlsym(m_handle, "rendo_fi_pgn_" #name));
    RENDO_FI_PGN_ENTRY_POINTS(EP_TEST_RESOLVE_)
#undef EP_TEST_RESOLVE_
    if (auto fn = reinterpret_cast<rendo_testpgn_control_fn>(dlsym(m_handle, "rendo_testpgn_control"))) {
        m_control = fn();
    }
}

ProviderLibrary &ProviderLibrary::rendo() {
    static ProviderLibrary *lib = new ProviderLibrary(RENDO_LIBRARY);
    return *lib;
}

ProviderLibrary &ProviderLibrary::testpgn() {
    static ProviderLibrary *lib = new ProviderLibrary(RENDO_TESTPGN_LIBRARY);
    return *lib;
}

void CallbackRecorder::callback(kel_pgn_init *init, const wchar_t *nativeText, const wchar_t *defaultText,
                                int severity) {
    std::lock_guard<std::mutex> g(g_forwardedLock);
    g_forwarded.push_back({init, narrow(nativeText), narrow(defaultText), severity});
}

std::vector<Forwarded> CallbackRecorder::all() {
    std::lock_guard<std::mutex> g(g_forwardedLock);
    return g_forwarded;
}

void CallbackRecorder::clear() {
    std::lock_guard<std::mutex> g(g_forwardedLock);
    g_forwarded.clear();
}

InitRecord::InitRecord(const char *nativeLanguage) {
    m_record.callback = &CallbackRecorder::callback;
    if (nativeLanguage != nullptr) {
        m_language = nativeLanguage;
        m_languagePtr = m_language.data();
        m_record.native_language = &m_languagePtr;
    }
}

// ASCII as it stands; anything else as its code point, enough to compare texts.
std::string narrow(const wchar_t *text) {
    std::string out;
    for (; text != nullptr && *text != L'\0'; ++text)
        out += *text < 0x80 ? std::string(1, static_cast<char>(*text)) : "&#" + std::to_string(*text) + ";";
    return out;
}

std::vector<std::string> forwardedMessages() {
    std::vector<std::string> out;
    for (const Forwarded &f : CallbackRecorder::all())
        if (!f.nativeText.empty()) out.push_back(f.defaultText);
    return out;
}

void expectNothingLeft(const kelm_buf_stats &before) {
    kelm_buf_stats after = kelm_get_buf_stats();
    EXPECT_EQ(before.live, after.live);
    EXPECT_EQ(before.bad_frees, after.bad_frees);
    EXPECT_EQ(before.size_mismatch, after.size_mismatch);
}

void EntryPointTest::SetUp() {
    m_root = rendo_test::makeInstallRoot("ep");
    ASSERT_FALSE(m_root.empty());
    CallbackRecorder::clear();
    if (RendoTestPgnControl *c = ProviderLibrary::testpgn().control()) c->reset();
}

void EntryPointTest::TearDown() {
    stop();
    kelm_fail_allocations_after(-1);
    rendo_test::removeTree(m_root);
}

void EntryPointTest::traceAtLevel(int level) {
    std::error_code ec;
    std::filesystem::create_directories(m_root + "ConfigFiles", ec);
    std::filesystem::create_directories(m_root + "Logs", ec);
    char text[512];
    std::snprintf(text, sizeof text,
                  "[DEBUG_TRACE_INFO]\n\"TRACEDIR\"=\"%sLogs/\"\n\"TRACEFILE\"=\"rendo.log\"\n\"TRACELEVEL\"=dword:%08x\n"
                  "\"TRACESTDOUT\"=dword:00000000\n\"TRACERUNTIMEUPDATE\"=dword:00000000\n",
                  m_root.c_str(), level);
    rendo_test::writeFile(m_root + "ConfigFiles/rendo.conf", text);
}

int EntryPointTest::start(ProviderLibrary &lib, const char *nativeLanguage) {
    stop();
    m_init = new InitRecord(nativeLanguage);
    kel_version version{};
    int rc = lib.ep().init(m_init->get(), &version);
    m_started = &lib;
    return rc;
}

void EntryPointTest::stop() {
    if (m_started != nullptr) m_started->ep().fini();
    m_started = nullptr;
    delete m_init; // the provider no longer forwards to it
    m_init = nullptr;
}

std::vector<std::string> EntryPointTest::traceLines() const {
    char date[16] = {};
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%m%d%y", &local);
    std::vector<std::string> out;
    std::istringstream in(rendo_test::readFile(m_root + "Logs/rendo.log." + date));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> EntryPointTest::traced(const std::string &part) const {
    std::vector<std::string> out;
    for (const std::string &line : traceLines()) {
        size_t at = line.find("> ");
        if (at != std::string::npos && line.find(part, at) != std::string::npos) out.push_back(line.substr(at + 2));
    }
    return out;
}

} // namespace ep_test

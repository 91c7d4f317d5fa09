#include "provider_host.h"

#include "pdk/cfistringtool.h"

#include <dlfcn.h>

#include <cstdlib>
#include <ctime>
#include <fstream>

namespace kelm_host {

namespace {

const char *severityName(int severity) {
    switch (severity) {
    case KEL_SEV_INFO: return "info";
    case KEL_SEV_WARNING: return "warning";
    case KEL_SEV_ERROR: return "error";
    case KEL_SEV_DEBUG: return "debug";
    default: return "none";
    }
}

// Trace lines end with a line feed; the printout adds its own.
std::string chomp(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

// The value of "KEY"="value" in a section of an ACE registry-export file.
std::string configValue(const std::string &file, const std::string &section, const std::string &key) {
    std::ifstream in(file);
    std::string line;
    bool inSection = false;
    const std::string prefix = "\"" + key + "\"=\"";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
            inSection = line == "[" + section + "]";
            continue;
        }
        if (inSection && line.compare(0, prefix.size(), prefix) == 0 && line.size() > prefix.size() &&
            line.back() == '"') {
            return line.substr(prefix.size(), line.size() - prefix.size() - 1);
        }
    }
    return std::string();
}

} // namespace

std::string narrow(const wchar_t *text) { return kelm_pdk_4_4::CFiStringTool::toNarrow(text); }

std::string installRoot() {
    const char *root = std::getenv("KELM_INSTALL_ROOT");
    std::string r = root != nullptr ? root : "";
    if (!r.empty() && r.back() != '/') r += '/';
    return r;
}

std::string traceFilePath() {
    std::string conf = installRoot() + "ConfigFiles/rendo.conf";
    std::string dir = configValue(conf, "DEBUG_TRACE_INFO", "TRACEDIR");
    std::string file = configValue(conf, "DEBUG_TRACE_INFO", "TRACEFILE");
    if (dir.empty()) dir = installRoot() + "Logs/";
    if (file.empty()) file = "rendo.log";
    char date[16] = {};
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%m%d%y", &local);
    if (dir.back() != '/') dir += '/';
    return dir + file + "." + date;
}

ProviderHost::ProviderHost(std::string libraryPath, CallbackVerbosity verbosity)
    : m_libraryPath(std::move(libraryPath)), m_verbosity(verbosity) {}

ProviderHost::~ProviderHost() {
    m_keep = false;
    fini();
    // The library stays loaded until the process ends: its unload hook cleans
    // up ICU, which is safe only once nothing uses it any more.
}

bool ProviderHost::load() {
    if (m_handle != nullptr) return true;
    // As the framework loads its plug-ins: everything resolved now, nothing
    // made visible to other libraries.
    m_handle = dlopen(m_libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char *why = dlerror();
        m_error = "cannot load " + m_libraryPath + ": " + (why != nullptr ? why : "unknown error");
        return false;
    }
    std::string missing;
#define KELM_HOST_RESOLVE_(ret, name, params)                                                                  \
    m_entry.name = reinterpret_cast<rendo_fi_pgn_##name##_fn>(dlsym(m_handle, "rendo_fi_pgn_" #name));        \
    if (m_entry.name == nullptr) missing += std::string(missing.empty() ? "" : ", ") + "rendo_fi_pgn_" #name;
    RENDO_FI_PGN_ENTRY_POINTS(KELM_HOST_RESOLVE_)
#undef KELM_HOST_RESOLVE_
    if (!missing.empty()) {
        m_error = m_libraryPath + " lacks entry points: " + missing;
        return false;
    }
    return true;
}

int ProviderHost::init(const std::string &nativeLanguage) {
    if (m_keep && m_started) {
        // A command that names no language takes the session as it is.
        if (nativeLanguage.empty() || nativeLanguage == m_nativeLanguage) return m_initStatus;
        m_keep = false;
        fini();
        m_keep = true;
    }
    m_init = kel_pgn_init{};
    m_init.callback = &ProviderHost::callback;
    m_init.user = this;
    m_nativeLanguage = nativeLanguage;
    m_nativeLanguagePtr = m_nativeLanguage.empty() ? nullptr : m_nativeLanguage.data();
    m_init.native_language = m_nativeLanguagePtr != nullptr ? &m_nativeLanguagePtr : nullptr;
    kel_version version{};
    int rc = m_entry.init(&m_init, &version);
    m_started = true;
    m_initStatus = rc;
    std::printf("rendo_fi_pgn_init(native language %s) = %d, result version %u.%u.%u.%u\n",
                nativeLanguage.empty() ? "(none)" : nativeLanguage.c_str(), rc, version.word[0], version.word[1],
                version.word[2], version.word[3]);
    return rc;
}

void ProviderHost::fini() {
    if (!m_started || m_keep) return;
    m_entry.fini();
    m_started = false;
    std::printf("rendo_fi_pgn_fini()\n");
}

void ProviderHost::callback(kel_pgn_init *init, const wchar_t *nativeText, const wchar_t *defaultText,
                            int severity) {
    if (init == nullptr || init->user == nullptr) return;
    auto *host = static_cast<ProviderHost *>(init->user);
    // Trace lines come without a native-language text; messages with one.
    bool traceLine = nativeText == nullptr || *nativeText == L'\0';
    if (traceLine) {
        ++host->m_traceLines;
        if (host->m_verbosity == CallbackVerbosity::All) {
            std::printf("    [trace, %s] %s\n", severityName(severity), chomp(narrow(defaultText)).c_str());
        }
        return;
    }
    ++host->m_messages;
    if (host->m_verbosity == CallbackVerbosity::None) return;
    std::printf("    [message, %s]\n      native : %s\n      default: %s\n", severityName(severity),
                chomp(narrow(nativeText)).c_str(), chomp(narrow(defaultText)).c_str());
}

} // namespace kelm_host

#include "pdk/cfitracelog.h"

#include "pdk/cficonfiguration.h"
#include "pdk/cfistringtool.h"

#include <ace/ACE.h>
#include <ace/OS_NS_Thread.h>
#include <ace/OS_NS_fcntl.h>
#include <ace/OS_NS_unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>

namespace kelm_pdk_4_4 {

namespace {

const wchar_t kSection[] = L"DEBUG_TRACE_INFO";
const wchar_t kTraceDir[] = L"TRACEDIR";
const wchar_t kTraceFile[] = L"TRACEFILE";
const wchar_t kTraceLevel[] = L"TRACELEVEL";
const wchar_t kTraceStdout[] = L"TRACESTDOUT";
const wchar_t kTraceRuntimeUpdate[] = L"TRACERUNTIMEUPDATE";

#ifdef _WIN32
const wchar_t kSep[] = L"\\";
#else
const wchar_t kSep[] = L"/";
#endif

const size_t kFirstBufferSize = 1024;
const size_t kMaxBufferSize = 8192;
const int kInitialTraceLevel = 12345;

// Set while this thread hands a line to the error manager, so a manager
// that traces cannot recurse through us forever.
thread_local bool t_forwarding = false;

kel_eseverity severityOf(int level) {
    switch (level) {
    case 1: return KEL_SEV_ERROR;
    case 2: return KEL_SEV_WARNING;
    case 3: return KEL_SEV_INFO;
    default: return KEL_SEV_DEBUG;
    }
}

// Writes all of text to the end of the file at path; false when the file
// cannot be opened. O_APPEND with one write keeps lines of concurrent
// writers (threads or processes) from interleaving.
bool appendToFile(const std::string &path, const std::string &text) {
    ACE_HANDLE h = ACE_OS::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (h == ACE_INVALID_HANDLE) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ACE_OS::write(h, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ACE_OS::close(h);
    return true;
}

} // namespace

struct CFiTraceLog::Impl {
    // Guards the text fields and the error manager pointer. Never held while
    // a file is written or the configuration file is read.
    mutable ACE_Thread_Mutex lock;
    WString name;
    WString traceFileName;
    WString traceDirectory;
    WString tracePath;
    WString currentDate;
    CFiErrorManagerPtr errorManager;

    std::atomic<bool> initialized{false};
    std::atomic<bool> standardOutput{false};
    std::atomic<bool> runtimeUpdate{false};
    std::atomic<int> traceLevel{kInitialTraceLevel};
    std::atomic<long long> fixedNow{0};

    time_t now() const {
        long long fixed = fixedNow.load();
        return fixed != 0 ? static_cast<time_t>(fixed) : std::time(nullptr);
    }

    WString today() const {
        time_t t = now();
        struct tm tmv {};
        char buf[16] = {0};
        if (localtime_r(&t, &tmv) != nullptr) std::strftime(buf, sizeof buf, "%m%d%y", &tmv);
        return CFiStringTool::toWide(buf);
    }

    WString nameCopy() const {
        ACE_Guard<ACE_Thread_Mutex> g(lock);
        return name;
    }

    // REQUIRES: lock held.
    void rebuildPathLocked() {
        tracePath = traceDirectory;
        // The default directory already ends with a separator.
        if (tracePath.empty() || tracePath[tracePath.length() - 1] != kSep[0]) tracePath += WString(kSep);
        tracePath += traceFileName + WString(L".") + currentDate;
    }
};

CFiTraceLog::CFiTraceLog() : m_impl(new Impl) {}

CFiTraceLog::~CFiTraceLog() { delete m_impl; }

void CFiTraceLog::initialize(const WString &name, WString directory, WString fileName, int level,
                             bool standardOutput) {
    {
        ACE_Guard<ACE_Thread_Mutex> g(m_impl->lock);
        m_impl->name = name;
    }
    m_impl->standardOutput = standardOutput;

    try {
        initTraceSettings(directory, fileName, level);
    } catch (...) {
        std::printf("ERROR: CFiTraceLog: Failed to initialize log settings\n");
    }

    WString path;
    {
        ACE_Guard<ACE_Thread_Mutex> g(m_impl->lock);
        m_impl->traceFileName = fileName;
        m_impl->traceDirectory = directory;
        m_impl->currentDate = m_impl->today();
        m_impl->rebuildPathLocked();
        path = m_impl->tracePath;
    }
    m_impl->traceLevel = level;
    if (level == 0) return;

    if (appendToFile(CFiStringTool::toNarrow(path), std::string())) {
        m_impl->initialized = true;
        updateTraceLevelFromConfigFile();
    } else {
        std::printf("%s", CFiStringTool::format("[CFiTraceLog] Error: Tracefile [%S] initialization failed.[%S][%S]\n",
                                                path.c_str(), fileName.c_str(), directory.c_str())
                              .c_str());
    }
}

bool CFiTraceLog::isInitialized() const { return m_impl->initialized; }

void CFiTraceLog::registerErrorManager(const CFiErrorManagerPtr &errors) {
    ACE_Guard<ACE_Thread_Mutex> g(m_impl->lock);
    m_impl->errorManager = errors;
}

void CFiTraceLog::trace(int level, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    vtrace(level, format, ap);
    va_end(ap);
}

void CFiTraceLog::vtrace(int level, const char *format, va_list ap) {
    if (m_impl->runtimeUpdate) updateTraceLevelFromConfigFile();
    if (format == nullptr || format[0] == '\0' || !m_impl->initialized) return;

    // Grow from 1 KiB up to the 8 KiB cap; a longer message is cut at the cap.
    size_t size = kFirstBufferSize;
    char *buf = nullptr;
    for (;;) {
        buf = static_cast<char *>(std::malloc(size));
        if (buf == nullptr) return;
        va_list copy;
        va_copy(copy, ap);
        int n = CFiStringTool::vsnprintfUtf8(buf, size, format, copy);
        va_end(copy);
        buf[size - 1] = '\0';
        if (n < 0) buf[0] = '\0';

        size_t next = 0;
        if (n < 0 || static_cast<size_t>(n) == size || static_cast<size_t>(n) == size - 1)
            next = size * 2;
        else if (static_cast<size_t>(n) > size)
            next = static_cast<size_t>(n) + 2;
        if (next == 0 || size >= kMaxBufferSize) break;
        if (next > kMaxBufferSize) next = kMaxBufferSize;
        std::free(buf);
        size = next;
    }
    const char *message = buf;

    unsigned threadId = static_cast<unsigned>(ACE_OS::thr_gettid());
    unsigned long pid = static_cast<unsigned long>(ACE_OS::getpid());
    char stamp[258];
    const char *ts = ACE::timestamp(stamp, sizeof stamp, true);
    WString timestamp = CFiStringTool::toWide(ts != nullptr ? ts : "<time error>");

    int traceLevel = m_impl->traceLevel;
    if (traceLevel != 0 && level <= traceLevel) {
        WString path;
        WString date = m_impl->today();
        {
            ACE_Guard<ACE_Thread_Mutex> g(m_impl->lock);
            if (!(date == m_impl->currentDate)) {
                m_impl->currentDate = date;
                m_impl->rebuildPathLocked();
            }
            path = m_impl->tracePath;
        }
        appendToFile(CFiStringTool::toNarrow(path),
                     CFiStringTool::format("%S <Pid - %lu / Thread id - %u> %s\n", timestamp.c_str(), pid,
                                           threadId, message));
        if (m_impl->standardOutput) {
            std::string line = CFiStringTool::format("%S:%S <Pid - %lu / Thread id - %u> %s\n",
                                                     m_impl->nameCopy().c_str(), timestamp.c_str(), pid,
                                                     threadId, message);
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
    }

    CFiErrorManagerPtr errors;
    WString name;
    {
        ACE_Guard<ACE_Thread_Mutex> g(m_impl->lock);
        errors = m_impl->errorManager;
        name = m_impl->name;
    }
    if (!errors.isNull() && !t_forwarding) {
        t_forwarding = true;
        try {
            errors->pushError(CFiStringTool::format("%S:%S <Thread id - %u> %s\n", name.c_str(),
                                                    timestamp.c_str(), threadId, message),
                              severityOf(level));
        } catch (...) {
            // A failing handler must not take the traced operation down.
        }
        t_forwarding = false;
    }
    std::free(buf);
}

void CFiTraceLog::GetTraceLevels(int &level) const { level = m_impl->traceLevel; }

void CFiTraceLog::updateTraceLevelFromConfigFile() {
    WString dir;
    WString file;
    CFiConfigurationPathTool::getConfigFileInfo(m_impl->nameCopy(), dir, file);
    CFiConfiguration config(dir, file, true);
    ACE_Configuration_Section_Key key;
    if (config.openSection(WString(kSection), key, 1) != 0) {
        m_impl->traceLevel = 1;
        return;
    }
    unsigned int value = 0;
    if (config.getIntegerValue(WString(kTraceLevel), value) == 0) m_impl->traceLevel = static_cast<int>(value);
}

void CFiTraceLog::initTraceSettings(WString &directory, WString &fileName, int &level) {
    if (!directory.empty() && !fileName.empty()) updateConfigFile(directory, fileName, level);
    try {
        loadFromConfigFile(directory, fileName, level);
    } catch (const CFiError &) {
        // The values as they stand are used.
    }
}

void CFiTraceLog::loadFromConfigFile(WString &directory, WString &fileName, int &level) {
    WString name = m_impl->nameCopy();
    WString configDir;
    WString configFile;
    CFiConfigurationPathTool::getConfigFileInfo(name, configDir, configFile);
    CFiConfiguration config(configDir, configFile, true);
    CFiConfigurationPathTool::getTraceFileInfo(name, directory, fileName);

    unsigned int readLevel = 0;
    ACE_Configuration_Section_Key key;
    if (config.openSection(WString(kSection), key, 0) != 0) {
        updateConfigFile(directory, fileName, level);
    } else {
        WString text;
        if (config.getStringValue(WString(kTraceDir), text) == 0) {
            directory = text;
        } else {
            config.setStringValue(WString(kTraceDir), directory);
            config.exportConfig();
        }
        if (config.getStringValue(WString(kTraceFile), text) == 0) {
            fileName = text;
        } else {
            config.setStringValue(WString(kTraceFile), fileName);
            config.exportConfig();
        }
        if (config.getIntegerValue(WString(kTraceLevel), readLevel) != 0) {
            readLevel = 0;
            config.setIntegerValue(WString(kTraceLevel), static_cast<unsigned int>(level));
            config.exportConfig();
        }
        unsigned int flag = 0;
        if (config.getIntegerValue(WString(kTraceStdout), flag) == 0) {
            if (flag == 1) m_impl->standardOutput = true;
        } else {
            config.setIntegerValue(WString(kTraceStdout), m_impl->standardOutput ? 1u : 0u);
            config.exportConfig();
        }
        if (config.getIntegerValue(WString(kTraceRuntimeUpdate), flag) == 0) {
            if (flag == 1) m_impl->runtimeUpdate = true;
        } else {
            config.setIntegerValue(WString(kTraceRuntimeUpdate), m_impl->runtimeUpdate ? 1u : 0u);
            config.exportConfig();
        }
    }
    // Only on/off is decided here; the effective level is read once the file
    // is known to be writable.
    level = readLevel <= 1 ? static_cast<int>(readLevel) : 1;
}

int CFiTraceLog::updateConfigFile(const WString &directory, const WString &fileName, const int &level) {
    WString configDir;
    WString configFile;
    CFiConfigurationPathTool::getConfigFileInfo(m_impl->nameCopy(), configDir, configFile);
    CFiConfiguration config(configDir, configFile, true);
    ACE_Configuration_Section_Key key;
    config.openSection(WString(kSection), key, 1);
    config.setStringValue(WString(kTraceDir), directory);
    config.setStringValue(WString(kTraceFile), fileName);
    config.setIntegerValue(WString(kTraceLevel), static_cast<unsigned int>(level));
    config.setIntegerValue(WString(kTraceStdout), 0);
    config.setIntegerValue(WString(kTraceRuntimeUpdate), 0);
    return config.exportConfig();
}

WString CFiTraceLog::tracePath() const {
    ACE_Guard<ACE_Thread_Mutex> g(m_impl->lock);
    return m_impl->tracePath;
}

WString CFiTraceLog::name() const { return m_impl->nameCopy(); }

void CFiTraceLog::setNowForTesting(time_t now) { m_impl->fixedNow = static_cast<long long>(now); }

CFiTraceLogFunction::CFiTraceLogFunction(const CFiTraceLogPtr &log, const char *name)
    : m_log(log), m_name(name != nullptr ? name : "") {
    if (!m_log.isNull()) m_log->trace(6, "Entering Function %s", m_name);
}

CFiTraceLogFunction::~CFiTraceLogFunction() {
    if (m_log.isNull()) return;
    if (m_status != 0)
        m_log->trace(6, "Exiting Function %s [%d, %s]", m_name, m_status, m_statusText.c_str());
    else
        m_log->trace(6, "Exiting Function %s", m_name);
}

void CFiTraceLogFunction::setStatus(int32_t status, const std::string &text) {
    m_status = status;
    m_statusText = text;
}

} // namespace kelm_pdk_4_4

// kelm-host import UDID [--flags F] [--reserve] [--key K] [--json]
// kelm-host deport NAME [--flags F] [--release] [--remove] [--json]
//
// The provider's main job, run in-process on a device provider of its own
// (a simulated disk keeps its state only for the life of the process):
// import waits for the disk that carries a UDID, printing a line per attempt
// as it waits, and hands out its name, reserving it when asked; deport notes
// the disk (preDeportResource) and releases and/or removes it
// (deportResource). "demo" runs both on a host made for the purpose. --json
// prints each as one object (docs/kelm-host-json.md). On a real clock, with
// standard error a terminal, a live line there shows how long the wait has
// lasted.
#include "commands.h"
#include "json_output.h"

#include "device_plugin.h"

#include "pdk/cfierror.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"
#include "platform/simhost.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

namespace kelm_host {

namespace {

using namespace kelm_pdk_4_4;

constexpr int kFlagRemove = 0x10;
constexpr int kFlagSkipPreDeport = 0x400;
constexpr int kFlagRelease = 0x800;
constexpr int kFlagReserve = 0x1000;
constexpr int kFlagRegister = 0x4000; // register before reserving, unregister after releasing

// Reads "(n)" and "(w)" / "[w]" numbers following the given marks.
bool numberAfter(const std::string &line, const char *mark, long *value) {
    size_t at = line.find(mark);
    if (at == std::string::npos) return false;
    *value = std::strtol(line.c_str() + at + std::strlen(mark), nullptr, 10);
    return true;
}

// One step of a wait as the trace lines tell it.
struct WaitEvent {
    const char *event; // not_found, does_not_open, found, gave_up, no_rescan, found_in_map
    long attempt;      // 0: none
    long waited;       // seconds; -1: not told
};

// Turns the import's trace lines into a line per attempt, printed as the
// import waits (or kept for --json), and keeps a live line on a terminal's
// standard error while a wait on a real clock lasts.
class Progress : public CFiErrorHandlerBase {
public:
    Progress(unsigned attempts, uint64_t maxWait, bool human)
        : m_attempts(attempts), m_maxWait(maxWait), m_human(human) {}
    ~Progress() override { end(); }

    int handleText(const std::string &text, kel_eseverity) override {
        size_t start = text.find("> ");
        std::string line = start == std::string::npos ? text : text.substr(start + 2);
        long attempt = 0, waited = 0;
        const char *clock = m_clock;
        if (line.rfind("WARNING : import failed for UDID", 0) == 0 && numberAfter(line, "retry attempt (", &attempt) &&
            numberAfter(line, "total time waited (", &waited)) {
            failed(attempt, {"not_found", attempt, waited});
            say("  attempt %ld of %u: no disk carries the UDID yet, %ld s waited so far (%s clock)\n", attempt,
                m_attempts, waited, clock);
        } else if (line.rfind("WARNING : CreateFileW failed for UDID", 0) == 0 &&
                   numberAfter(line, "retry attempt (", &attempt) && numberAfter(line, "total waiting time (", &waited)) {
            failed(attempt, {"does_not_open", attempt, waited});
            say("  attempt %ld of %u: found but it does not open yet, %ld s waited so far (%s clock)\n", attempt,
                m_attempts, waited, clock);
        } else if (line.rfind("importDevice: device found successful returning device [", 0) == 0 &&
                   numberAfter(line, "total time waited [", &waited)) {
            long found = record({"found", 0, waited});
            say("  attempt %ld of %u: found, %ld s waited (%s clock)\n", found, m_attempts, waited, clock);
        } else if (line.rfind("Giving Up for UDID", 0) == 0 && numberAfter(line, "waited for (", &waited)) {
            record({"gave_up", 0, waited});
            say("  gave up after %u attempt(s), %ld s waited (%s clock)\n", m_attempts, waited, clock);
        } else if (line.rfind("KEL_RESCAN_SKIP is set", 0) == 0) {
            record({"no_rescan", 0, -1});
            say("  no rescan allowed (0x100) and the provider's map does not know the UDID: gave up after "
                "the initial delay\n");
        } else if (line.find("which is validated from m_deviceudidMap") != std::string::npos) {
            record({"found_in_map", 0, 0});
            say("  found in the provider's map, no wait\n");
        }
        return 0;
    }
    int handleMessage(const CFiMessagePtr &) override { return 0; }

    // A new import counts its attempts from 1 again; the live line starts
    // when it is wanted.
    void begin() {
        end();
        std::lock_guard<std::mutex> guard(m_lock);
        m_failed = 0;
        m_events.clear();
        std::shared_ptr<rendo_sim::Host> host = rendo_sim::currentHost();
        const bool virtualClock = host && host->virtualClock();
        m_clock = virtualClock ? "virtual" : "real";
        if (virtualClock || !isatty(STDERR_FILENO)) return;
        m_start = std::chrono::steady_clock::now();
        m_stop = false;
        m_ticker = std::thread([this] {
            std::unique_lock<std::mutex> lock(m_lock);
            while (!m_cv.wait_for(lock, std::chrono::seconds(1), [this] { return m_stop; })) drawLive();
        });
    }
    // Stops and clears the live line.
    void end() {
        if (!m_ticker.joinable()) return;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stop = true;
        }
        m_cv.notify_all();
        m_ticker.join();
        std::lock_guard<std::mutex> guard(m_lock);
        clearLive();
    }

    // A line of the human form on stdout, the live line cleared first.
    void say(const char *format, ...) __attribute__((format(printf, 2, 3))) {
        if (!m_human) return;
        std::lock_guard<std::mutex> guard(m_lock);
        clearLive();
        va_list ap;
        va_start(ap, format);
        std::vprintf(format, ap);
        va_end(ap);
        std::fflush(stdout);
    }

    std::vector<WaitEvent> events() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_events;
    }
    const char *clock() const { return m_clock; }

private:
    void failed(long attempt, const WaitEvent &e) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_failed = attempt;
        m_events.push_back(e);
    }
    // Records e (a found event gets the attempt that found); the attempt.
    long record(WaitEvent e) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (std::strcmp(e.event, "found") == 0) e.attempt = m_failed + 1;
        m_events.push_back(e);
        return e.attempt;
    }
    // Under m_lock.
    void drawLive() {
        long seconds = static_cast<long>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_start).count());
        long attempt = std::min<long>(m_failed + 1, static_cast<long>(m_attempts));
        std::fprintf(stderr, "\r\033[K  waiting: %ld s of up to %llu s, attempt %ld of %u", seconds,
                     static_cast<unsigned long long>(m_maxWait), attempt, m_attempts);
        std::fflush(stderr);
        m_drawn = true;
    }
    void clearLive() {
        if (!m_drawn) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_drawn = false;
    }

    unsigned m_attempts;
    uint64_t m_maxWait;
    bool m_human;
    std::atomic<const char *> m_clock{"real"}; // trace lines may come from other threads
    std::mutex m_lock;
    long m_failed = 0;
    std::vector<WaitEvent> m_events;
    std::thread m_ticker;
    std::condition_variable m_cv;
    bool m_stop = false;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_start;
};

// An in-process provider with a scratch install root, its trace lines going
// to a Progress printer.
class Session {
public:
    // human: print the human form as it goes (--json keeps it quiet).
    explicit Session(bool human = true) {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelm-host-import-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            m_error = std::string("cannot create a scratch directory: ") + std::strerror(errno);
            if (human) std::printf("%s\n", m_error.c_str());
            return;
        }
        m_scratch = pattern + "/";
        mkdir((m_scratch + "ConfigFiles").c_str(), 0755);
        mkdir((m_scratch + "Logs").c_str(), 0755);
        const char *oldRoot = std::getenv("KELM_INSTALL_ROOT");
        m_hadRoot = oldRoot != nullptr;
        if (m_hadRoot) {
            m_savedRoot = oldRoot;
            // The tuning settings of the install root the user chose.
            std::error_code ec;
            std::filesystem::copy_file(m_savedRoot + "/ConfigFiles/rendo.conf", m_scratch + "ConfigFiles/rendo.conf", ec);
        }
        setenv("KELM_INSTALL_ROOT", m_scratch.c_str(), 1);

        m_errors = CFiErrorManagerPtr(new CFiErrorManager);
        m_log = CFiTraceLogPtr(new CFiTraceLog);
        m_log->initialize(WString(L"rendo"), CFiStringTool::toWide(m_scratch + "Logs"), WString(L"import.log"), 6,
                          false);
        m_log->registerErrorManager(m_errors);
        m_provider = CFiSmartPtr<CDevicePlugin>(new CDevicePlugin);
        m_provider->setProviderName(WString(L"rendo"));
        m_provider->setTraceLog(m_log);
        m_provider->registerErrorManager(m_errors);
        m_provider->init();
        m_progress.reset(new Progress(m_provider->tuningSettings().importRetryAttempts, maxWait(), human));
        m_errors->registerHandler(m_progress.get());
    }
    ~Session() {
        if (!m_provider.isNull()) {
            m_errors->unregisterHandler(m_progress.get());
            m_provider->fini();
            m_provider.reset();
            m_log.reset();
            m_errors.reset();
        }
        if (m_scratch.empty()) return;
        if (m_hadRoot)
            setenv("KELM_INSTALL_ROOT", m_savedRoot.c_str(), 1);
        else
            unsetenv("KELM_INSTALL_ROOT");
        std::error_code ec;
        std::filesystem::remove_all(m_scratch, ec);
    }
    bool ready() const { return !m_provider.isNull(); }
    const std::string &error() const { return m_error; }
    CDevicePlugin &provider() { return *m_provider; }
    Progress &progress() { return *m_progress; }
    // The longest an import can wait: the initial delay, then a delay after
    // each attempt, doubling in 32 bits as the provider doubles it (so from
    // the 33rd attempt on it adds nothing).
    uint64_t maxWait() const {
        const CDeviceConfiguration &t = m_provider->tuningSettings();
        uint64_t wait = t.importInitialDelayInSec;
        uint32_t delay = t.importRetryDelayInSec;
        for (uint32_t i = 0; i < t.importRetryAttempts && i < 33; ++i, delay *= 2) wait += delay;
        return wait;
    }

    // importResource; the device name on success.
    int import(const std::string &udid, int flags, const std::string *key, std::string *device) {
        const CDeviceConfiguration &t = m_provider->tuningSettings();
        m_progress->say("import %s, flags 0x%x: initial delay %u s, %u attempt(s), first retry delay %u s\n",
                        udid.c_str(), static_cast<unsigned>(flags), static_cast<unsigned>(t.importInitialDelayInSec),
                        static_cast<unsigned>(t.importRetryAttempts), static_cast<unsigned>(t.importRetryDelayInSec));
        m_progress->begin();
        std::wstring wideUdid = CFiStringTool::toStdWide(udid);
        std::wstring wideKey = key != nullptr ? CFiStringTool::toStdWide(*key) : std::wstring();
        wchar_t *name = nullptr;
        int rc = m_provider->importResource(&name, &wideUdid[0], nullptr, key != nullptr ? &wideKey[0] : nullptr,
                                            flags, nullptr, nullptr);
        m_progress->end();
        device->clear();
        if (name != nullptr) {
            *device = CFiStringTool::toNarrow(name);
            CFiStringTool::tstrfree(name);
        }
        if (rc == 0)
            m_progress->say("imported: %s\n", device->c_str());
        else
            m_progress->say("import failed: status %d (%s)\n", rc, statusText(rc));
        return rc;
    }
    // preDeportResource (its status in *pre) then deportResource.
    int deport(const std::string &name, int flags, const std::string *key, int *pre) {
        m_progress->say("deport %s, flags 0x%x\n", name.c_str(), static_cast<unsigned>(flags));
        m_progress->begin();
        std::wstring wideName = CFiStringTool::toStdWide(name);
        std::wstring wideKey = key != nullptr ? CFiStringTool::toStdWide(*key) : std::wstring();
        *pre = m_provider->preDeportResource(&wideName[0], flags, nullptr);
        if (*pre != 0)
            m_progress->say(
                "  preDeportResource: status %d (the disk could not be identified; it will not be removed)\n", *pre);
        else if ((flags & kFlagSkipPreDeport) == 0)
            m_progress->say("  preDeportResource: noted the disk's device-installation entry\n");
        int rc = m_provider->deportResource(&wideName[0], nullptr, nullptr, key != nullptr ? &wideKey[0] : nullptr,
                                            flags);
        m_progress->end();
        m_progress->say("deportResource: status %d (%s)\n", rc, statusText(rc));
        return rc;
    }

    static const char *statusText(int status) {
        switch (status) {
        case 0: return "done";
        case 3: return "invalid argument";
        case 6: return "failed";
        case 20: return "no device carries the UDID";
        case 1096: return "a release step failed";
        case 1097: return "another host holds the reservation";
        case 1098: return "a reserve step failed";
        case 1099: return "reserved under another key; preemption not allowed";
        case 1100: return "this host holds no reservation";
        default: return "unexpected status";
        }
    }

private:
    std::string m_error;
    std::string m_scratch;
    std::string m_savedRoot;
    bool m_hadRoot = false;
    CFiErrorManagerPtr m_errors;
    CFiTraceLogPtr m_log;
    CFiSmartPtr<CDevicePlugin> m_provider;
    std::unique_ptr<Progress> m_progress;
};

// A usage error on stderr, and as an object on stdout under --json. 2.
int usage(const char *command, const std::string &what, const char *form, bool asJson) {
    std::fprintf(stderr, "kelm-host %s: %s\nusage: kelm-host %s\n", command, what.c_str(), form);
    if (asJson) printJsonFailure(command, what, form);
    return 2;
}

struct Parsed {
    std::string name;
    std::string key;
    bool haveKey = false;
    int flags = 0;
    bool json = false;
};

// NAME, --flags F (decimal or 0x hex), --key K, --json and the flag words.
bool parse(const char *command, const char *form, const std::vector<std::string> &given,
           const std::vector<std::pair<const char *, int>> &words, Parsed *out, int *status) {
    std::vector<std::string> args = given;
    out->json = takeJsonFlag(args);
    bool haveName = false;
    for (size_t i = 0; i < args.size(); ++i) {
        bool matched = false;
        for (const auto &word : words)
            if (args[i] == word.first) {
                out->flags |= word.second;
                matched = true;
            }
        if (matched) continue;
        if (args[i] == "--flags" || args[i] == "--key") {
            if (i + 1 >= args.size()) {
                *status = usage(command, args[i] + " needs a value", form, out->json);
                return false;
            }
            const std::string &value = args[++i];
            if (args[i - 1] == "--key") {
                out->key = value;
                out->haveKey = true;
                continue;
            }
            char *end = nullptr;
            errno = 0;
            unsigned long flags = std::strtoul(value.c_str(), &end, 0);
            if (value.empty() || *end != '\0' || errno != 0 || flags > 0xFFFFFFFFul) {
                *status = usage(command, "--flags needs a number, not \"" + value + "\"", form, out->json);
                return false;
            }
            out->flags |= static_cast<int>(static_cast<uint32_t>(flags));
        } else if (!haveName && args[i].compare(0, 2, "--") != 0) {
            out->name = args[i];
            haveName = true;
        } else {
            *status = usage(command, "unexpected argument \"" + args[i] + "\"", form, out->json);
            return false;
        }
    }
    if (!haveName) {
        *status = usage(command, std::string(command) == "import" ? "a UDID is needed" : "a device name is needed",
                        form, out->json);
        return false;
    }
    return true;
}

// The members every import and deport object opens with.
void beginJson(JsonWriter &json, const char *command, const char *nameKey, const Parsed &p, bool ok) {
    json.beginObject();
    json.member("command", command);
    json.member("ok", ok);
    json.member(nameKey, p.name);
    json.member("flags", static_cast<unsigned>(p.flags));
    json.key("key");
    if (p.haveKey) writeKey(json, p.key);
    else json.null();
}

// An object for a session that did not start. 1.
int sessionFailed(const char *command, const char *nameKey, const Parsed &p, const Session &session) {
    JsonWriter json(stdout);
    beginJson(json, command, nameKey, p, false);
    json.member("error", session.error().empty() ? std::string("the provider did not start") : session.error());
    json.endObject();
    return 1;
}

void writeStatus(JsonWriter &json, int status) {
    json.member("status", status);
    json.member("status_name", statusName(status));
    json.member("status_text", Session::statusText(status));
}

void writeEvents(JsonWriter &json, Session &session) {
    json.member("clock", session.progress().clock());
    json.key("events");
    json.beginArray();
    for (const WaitEvent &e : session.progress().events()) {
        json.beginObject();
        json.member("event", e.event);
        json.key("attempt");
        if (e.attempt > 0) json.value(e.attempt);
        else json.null();
        json.key("waited_s");
        if (e.waited >= 0) json.value(e.waited);
        else json.null();
        json.endObject();
    }
    json.endArray();
}

const char *const kImportForm = "import UDID [--flags F] [--reserve] [--key K] [--json]";
const char *const kDeportForm = "deport NAME [--flags F] [--release] [--remove] [--json]";

int runImport(ProviderHost &, const std::vector<std::string> &args) {
    Parsed p;
    int status = 0;
    if (!parse("import", kImportForm, args, {{"--reserve", kFlagReserve | kFlagRegister}}, &p, &status)) return status;
    Session session(!p.json);
    if (!session.ready()) return p.json ? sessionFailed("import", "udid", p, session) : 1;
    std::string device;
    int rc = session.import(p.name, p.flags, p.haveKey ? &p.key : nullptr, &device);
    if (p.json) {
        const CDeviceConfiguration &t = session.provider().tuningSettings();
        JsonWriter json(stdout);
        beginJson(json, "import", "udid", p, rc == 0);
        writeStatus(json, rc);
        json.key("device");
        if (device.empty()) json.null();
        else json.value(device);
        json.member("initial_delay_s", t.importInitialDelayInSec);
        json.member("retry_attempts", t.importRetryAttempts);
        json.member("first_retry_delay_s", t.importRetryDelayInSec);
        json.member("max_wait_s", session.maxWait());
        writeEvents(json, session);
        json.endObject();
    }
    return rc == 0 ? 0 : 1;
}

int runDeport(ProviderHost &, const std::vector<std::string> &args) {
    Parsed p;
    int status = 0;
    if (!parse("deport", kDeportForm, args,
               {{"--release", kFlagRelease | kFlagRegister}, {"--remove", kFlagRemove}}, &p, &status))
        return status;
    Session session(!p.json);
    if (!session.ready()) return p.json ? sessionFailed("deport", "name", p, session) : 1;
    int pre = 0;
    int rc = session.deport(p.name, p.flags, p.haveKey ? &p.key : nullptr, &pre);
    if (p.json) {
        JsonWriter json(stdout);
        beginJson(json, "deport", "name", p, rc == 0);
        writeStatus(json, rc);
        json.member("pre_deport_status", pre);
        json.member("pre_deport_status_name", statusName(pre));
        json.member("pre_deport_noted", pre == 0 && (p.flags & kFlagSkipPreDeport) == 0);
        writeEvents(json, session);
        json.endObject();
    }
    return rc == 0 ? 0 : 1;
}

const CommandRegistration importRegistration{
    {"import",
     "wait for the disk carrying UDID, one line per attempt; --reserve registers and reserves it (exit 1: status)",
     kImportForm, &runImport, false}};
const CommandRegistration deportRegistration{
    {"deport",
     "deport a disk (UDID or device path): --release releases and unregisters, --remove removes it (exit 1: status)",
     kDeportForm, &runDeport, false}};

// The scenario of examples/host-snapshot-import.txt.
const char kSnapshotHost[] = R"(computer-name snaphost
ip-address 192.0.2.20
virtual-clock on
adapter 0
disk local-data
  vendor ACME
  product "STORAGE ARRAY"
  serial DATA0001
  naa 6001405a1b2c3d4e5f60718293a4b502
  address 0 0 0 0
disk snapshot
  vendor ACME
  product "STORAGE ARRAY"
  serial SNAP0001
  naa 6001405a1b2c3d4e5f60718293a4b501
  address 0 0 1 0
  appear-after-rescans 2
)";
const char kSnapshotUdid[] = "UDID##ACME##STORAGE_ARRAY##00830014010300106001405A1B2C3D4E5F60718293A4B501";

void listDisks(CDevicePlugin &, rendo_sim::Host &host) {
    unsigned shown = 0;
    for (rendo_sim::Lun *lun : host.luns()) {
        if (!lun->present()) continue;
        rendo_sim::ReservationState r = lun->disk()->reservation();
        std::printf("  %-22s %zu registration(s)%s\n", lun->devicePath().c_str(), r.registrations.size(),
                    r.reserved ? ", reserved" : "");
        ++shown;
    }
    std::printf("  %u disk(s)\n", shown);
}

} // namespace

int showImportJob() {
    std::string error;
    std::shared_ptr<rendo_sim::Host> host = rendo_sim::parseHostDescription(kSnapshotHost, &error);
    if (!host) {
        std::printf("  cannot build the demo host: %s\n", error.c_str());
        return 1;
    }
    rendo_sim::ScopedHost use(host);
    Session session;
    if (!session.ready()) return 1;
    std::printf("  host %s (examples/host-snapshot-import.txt): the array has unmasked a snapshot LUN that\n"
                "  shows only after the second bus rescan\n  disks before:\n",
                host->computerName().c_str());
    listDisks(session.provider(), *host);
    std::string device;
    if (session.import(kSnapshotUdid, kFlagReserve | kFlagRegister, nullptr, &device) != 0) return 1;
    std::printf("  disks after the import:\n");
    listDisks(session.provider(), *host);
    int pre = 0;
    int rc = session.deport(kSnapshotUdid, kFlagRelease | kFlagRegister | kFlagRemove, nullptr, &pre);
    std::printf("  disks after the deport:\n");
    listDisks(session.provider(), *host);
    return rc == 0 ? 0 : 1;
}

} // namespace kelm_host

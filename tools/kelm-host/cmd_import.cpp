// kelm-host import UDID [--flags F] [--reserve] [--key K]
// kelm-host deport NAME [--flags F] [--release] [--remove]
//
// The provider's main job, run in-process on a device provider of its own
// (a simulated disk keeps its state only for the life of the process):
// import waits for the disk that carries a UDID, printing a line per attempt
// as it waits, and hands out its name, reserving it when asked; deport notes
// the disk (preDeportResource) and releases and/or removes it
// (deportResource). "demo" runs both on a host made for the purpose.
#include "commands.h"

#include "device_plugin.h"

#include "pdk/cfierror.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"
#include "platform/simhost.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace kelm_host {
namespace {

using namespace kelm_pdk_4_4;

constexpr int kFlagRemove = 0x10;
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

// Turns the import's trace lines into a line per attempt, printed as the
// import waits.
class Progress : public CFiErrorHandlerBase {
public:
    explicit Progress(unsigned attempts) : m_attempts(attempts) {}
    int handleText(const std::string &text, kel_eseverity) override {
        size_t start = text.find("> ");
        std::string line = start == std::string::npos ? text : text.substr(start + 2);
        long attempt = 0, waited = 0;
        const char *clock = clockName();
        if (line.rfind("WARNING : import failed for UDID", 0) == 0 && numberAfter(line, "retry attempt (", &attempt) &&
            numberAfter(line, "total time waited (", &waited)) {
            m_failed = attempt;
            std::printf("  attempt %ld of %u: no disk carries the UDID yet, %ld s waited so far (%s clock)\n", attempt,
                        m_attempts, waited, clock);
        } else if (line.rfind("WARNING : CreateFileW failed for UDID", 0) == 0 &&
                   numberAfter(line, "retry attempt (", &attempt) && numberAfter(line, "total waiting time (", &waited)) {
            m_failed = attempt;
            std::printf("  attempt %ld of %u: found but it does not open yet, %ld s waited so far (%s clock)\n",
                        attempt, m_attempts, waited, clock);
        } else if (line.rfind("importDevice: device found successful returning device [", 0) == 0 &&
                   numberAfter(line, "total time waited [", &waited)) {
            std::printf("  attempt %ld of %u: found, %ld s waited (%s clock)\n", m_failed + 1, m_attempts, waited,
                        clock);
        } else if (line.rfind("Giving Up for UDID", 0) == 0 && numberAfter(line, "waited for (", &waited)) {
            std::printf("  gave up after %u attempt(s), %ld s waited (%s clock)\n", m_attempts, waited, clock);
        } else if (line.rfind("KEL_RESCAN_SKIP is set", 0) == 0) {
            std::printf("  no rescan allowed (0x100) and the provider's map does not know the UDID: gave up after "
                        "the initial delay\n");
        } else if (line.find("which is validated from m_deviceudidMap") != std::string::npos) {
            std::printf("  found in the provider's map, no wait\n");
        }
        std::fflush(stdout);
        return 0;
    }
    int handleMessage(const CFiMessagePtr &) override { return 0; }
    // A new import counts its attempts from 1 again.
    void restart() { m_failed = 0; }

private:
    static const char *clockName() {
        std::shared_ptr<rendo_sim::Host> host = rendo_sim::currentHost();
        return host && host->virtualClock() ? "virtual" : "real";
    }
    unsigned m_attempts;
    long m_failed = 0;
};

// An in-process provider with a scratch install root, its trace lines going
// to a Progress printer.
class Session {
public:
    Session() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelm-host-import-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::printf("cannot create a scratch directory: %s\n", std::strerror(errno));
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
        m_progress.reset(new Progress(m_provider->tuningSettings().importRetryAttempts));
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
    CDevicePlugin &provider() { return *m_provider; }

    // importResource; the device name on success.
    int import(const std::string &udid, int flags, const std::string *key, std::string *device) {
        const CDeviceConfiguration &t = m_provider->tuningSettings();
        std::printf("import %s, flags 0x%x: initial delay %u s, %u attempt(s), first retry delay %u s\n", udid.c_str(),
                    static_cast<unsigned>(flags), static_cast<unsigned>(t.importInitialDelayInSec),
                    static_cast<unsigned>(t.importRetryAttempts), static_cast<unsigned>(t.importRetryDelayInSec));
        std::fflush(stdout);
        m_progress->restart();
        std::wstring wideUdid = CFiStringTool::toStdWide(udid);
        std::wstring wideKey = key != nullptr ? CFiStringTool::toStdWide(*key) : std::wstring();
        wchar_t *name = nullptr;
        int rc = m_provider->importResource(&name, &wideUdid[0], nullptr, key != nullptr ? &wideKey[0] : nullptr,
                                            flags, nullptr, nullptr);
        device->clear();
        if (name != nullptr) {
            *device = CFiStringTool::toNarrow(name);
            CFiStringTool::tstrfree(name);
        }
        if (rc == 0)
            std::printf("imported: %s\n", device->c_str());
        else
            std::printf("import failed: status %d (%s)\n", rc, statusText(rc));
        return rc;
    }
    // preDeportResource then deportResource.
    int deport(const std::string &name, int flags, const std::string *key) {
        std::printf("deport %s, flags 0x%x\n", name.c_str(), static_cast<unsigned>(flags));
        m_progress->restart();
        std::wstring wideName = CFiStringTool::toStdWide(name);
        std::wstring wideKey = key != nullptr ? CFiStringTool::toStdWide(*key) : std::wstring();
        int pre = m_provider->preDeportResource(&wideName[0], flags, nullptr);
        if (pre != 0)
            std::printf("  preDeportResource: status %d (the disk could not be identified; it will not be removed)\n",
                        pre);
        else if ((flags & 0x400) == 0)
            std::printf("  preDeportResource: noted the disk's device-installation entry\n");
        int rc = m_provider->deportResource(&wideName[0], nullptr, nullptr, key != nullptr ? &wideKey[0] : nullptr,
                                            flags);
        std::printf("deportResource: status %d (%s)\n", rc, statusText(rc));
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
    std::string m_scratch;
    std::string m_savedRoot;
    bool m_hadRoot = false;
    CFiErrorManagerPtr m_errors;
    CFiTraceLogPtr m_log;
    CFiSmartPtr<CDevicePlugin> m_provider;
    std::unique_ptr<Progress> m_progress;
};

int usage(const char *command, const std::string &what, const char *form) {
    std::fprintf(stderr, "kelm-host %s: %s\nusage: kelm-host %s\n", command, what.c_str(), form);
    return 2;
}

struct Parsed {
    std::string name;
    std::string key;
    bool haveKey = false;
    int flags = 0;
};

// NAME, --flags F (decimal or 0x hex), --key K and the flag words.
bool parse(const char *command, const char *form, const std::vector<std::string> &args,
           const std::vector<std::pair<const char *, int>> &words, Parsed *out, int *status) {
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
                *status = usage(command, args[i] + " needs a value", form);
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
                *status = usage(command, "--flags needs a number, not \"" + value + "\"", form);
                return false;
            }
            out->flags |= static_cast<int>(static_cast<uint32_t>(flags));
        } else if (!haveName && args[i].compare(0, 2, "--") != 0) {
            out->name = args[i];
            haveName = true;
        } else {
            *status = usage(command, "unexpected argument \"" + args[i] + "\"", form);
            return false;
        }
    }
    if (!haveName) {
        *status = usage(command, std::string(command) == "import" ? "a UDID is needed" : "a device name is needed",
                        form);
        return false;
    }
    return true;
}

const char *const kImportForm = "import UDID [--flags F] [--reserve] [--key K]";
const char *const kDeportForm = "deport NAME [--flags F] [--release] [--remove]";

int runImport(ProviderHost &, const std::vector<std::string> &args) {
    Parsed p;
    int status = 0;
    if (!parse("import", kImportForm, args, {{"--reserve", kFlagReserve | kFlagRegister}}, &p, &status)) return status;
    Session session;
    if (!session.ready()) return 1;
    std::string device;
    return session.import(p.name, p.flags, p.haveKey ? &p.key : nullptr, &device) == 0 ? 0 : 1;
}

int runDeport(ProviderHost &, const std::vector<std::string> &args) {
    Parsed p;
    int status = 0;
    if (!parse("deport", kDeportForm, args,
               {{"--release", kFlagRelease | kFlagRegister}, {"--remove", kFlagRemove}}, &p, &status))
        return status;
    Session session;
    if (!session.ready()) return 1;
    return session.deport(p.name, p.flags, p.haveKey ? &p.key : nullptr) == 0 ? 0 : 1;
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
    int rc = session.deport(kSnapshotUdid, kFlagRelease | kFlagRegister | kFlagRemove, nullptr);
    std::printf("  disks after the deport:\n");
    listDisks(session.provider(), *host);
    return rc == 0 ? 0 : 1;
}

} // namespace kelm_host

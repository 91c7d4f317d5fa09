// kelm-host reserve PATH [--key K] [--preempt] [--register]
// kelm-host release PATH [--key K] [--verify] [--release] [--unregister]
// kelm-host keys PATH
//
// The SCSI-3 persistent reservation flows on one disk, and what the disk
// holds. Until import and deport reach the flows through their entry
// points, kelm-host runs the provider's diskReserve and diskRelease
// in-process on a device provider of its own, whose trace lines (from a
// private trace log in a scratch install root) it prints. Without --key the
// key is this host's, derived from its address as the provider derives it.
// A simulated disk keeps its reservations only for the life of the process,
// so reserve and release show what the disk holds afterwards.
#include "commands.h"

#include "device_plugin.h"
#include "pgr/pgrexception.h"
#include "pgr/reservationdiskwin.h"

#include "pdk/cfierror.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace kelm_host {
namespace {

using namespace kelm_pdk_4_4;

constexpr int kFlagRelease = 0x800;
constexpr int kFlagPreempt = 0x2000;
constexpr int kFlagRegister = 0x4000; // register before reserving, unregister after releasing
constexpr int kFlagVerify = 0x10000;

const char *statusMeaning(int status) {
    switch (status) {
    case 0: return "done";
    case 1096: return "a release step failed";
    case 1097: return "another host holds the reservation";
    case 1098: return "a reserve step failed";
    case 1099: return "reserved under another key; preemption not allowed";
    case 1100: return "this host holds no reservation";
    default: return "unexpected status";
    }
}

const char *typeName(int type) {
    switch (type) {
    case 1: return "Write Exclusive";
    case 3: return "Exclusive Access";
    case 5: return "Write Exclusive, Registrants Only";
    case 6: return "Exclusive Access, Registrants Only";
    case 7: return "Write Exclusive, All Registrants";
    case 8: return "Exclusive Access, All Registrants";
    default: return "other";
    }
}

// The provider's trace lines as its log forwards them to the error manager.
class TraceLines : public CFiErrorHandlerBase {
public:
    int handleText(const std::string &text, kel_eseverity) override {
        // "name:time <Thread id - n> message\n": keep the message.
        size_t start = text.find("> ");
        std::string line = start == std::string::npos ? text : text.substr(start + 2);
        while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
        if (line.rfind("Entering Function ", 0) == 0 || line.rfind("Exiting Function ", 0) == 0) return 0;
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back(line);
        return 0;
    }
    int handleMessage(const CFiMessagePtr &) override { return 0; }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_lines;
};

// Prints the registered keys and the reservation of path. 0, or 1 when the
// disk could not be read.
int showDisk(const std::string &path) {
    ReservationDiskWin disk(path);
    try {
        std::vector<std::string> keys = disk.readDiskRegistration();
        std::printf("registered keys (%zu):%s\n", keys.size(), keys.empty() ? " none" : "");
        for (const std::string &key : keys) std::printf("  [%s]\n", key.c_str());
        std::vector<SReservationRecord> records = disk.readDiskReservation();
        if (records.empty()) std::printf("reservation: none\n");
        for (const SReservationRecord &record : records)
            std::printf("reservation: key [%s], type %d (%s)\n", record.key.c_str(), record.type,
                        typeName(record.type));
    } catch (const CPGRReadRegistrationFail &e) {
        std::printf("cannot read the registrations of %s (error %d)\n", path.c_str(), e.getErrorCode());
        return 1;
    } catch (const CPGRException &e) {
        std::printf("cannot read the reservation of %s (error %d)\n", path.c_str(), e.getErrorCode());
        return 1;
    }
    return 0;
}

// Runs one flow on an in-process provider and prints its trace lines.
int runFlow(bool reserve, const std::string &path, const std::string *givenKey, int flags) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelm-host-pgr-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::printf("cannot create a scratch directory: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string scratch = pattern + "/";
    mkdir((scratch + "ConfigFiles").c_str(), 0755);
    mkdir((scratch + "Logs").c_str(), 0755);
    const char *oldRoot = std::getenv("KELM_INSTALL_ROOT");
    const std::string savedRoot = oldRoot != nullptr ? oldRoot : "";
    setenv("KELM_INSTALL_ROOT", scratch.c_str(), 1);

    TraceLines collector;
    int status = 0;
    std::string key;
    {
        CFiErrorManagerPtr errors(new CFiErrorManager);
        errors->registerHandler(&collector);
        CFiTraceLogPtr log(new CFiTraceLog);
        log->initialize(WString(L"rendo"), CFiStringTool::toWide(scratch + "Logs"), WString(L"pgr.log"), 6, false);
        log->registerErrorManager(errors);

        CFiSmartPtr<CDevicePlugin> provider(new CDevicePlugin);
        provider->setProviderName(WString(L"rendo"));
        provider->setTraceLog(log);
        provider->registerErrorManager(errors);
        provider->init();
        if (givenKey != nullptr) {
            std::wstring wide = CFiStringTool::toStdWide(*givenKey);
            key = provider->getKeyForHost(wide.c_str());
        } else {
            key = provider->getKeyForHost(nullptr);
        }
        status = reserve ? provider->diskReserve(path, key, flags) : provider->diskRelease(path, key, flags);
        provider->fini();
        provider.reset();
        log.reset();
        errors->unregisterHandler(&collector);
    }
    if (oldRoot != nullptr)
        setenv("KELM_INSTALL_ROOT", savedRoot.c_str(), 1);
    else
        unsetenv("KELM_INSTALL_ROOT");
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);

    for (const std::string &line : collector.lines()) std::printf("  %s\n", line.c_str());
    std::printf("%s %s with key [%s], flags 0x%x: %d (%s)\n", reserve ? "diskReserve" : "diskRelease", path.c_str(),
                key.c_str(), static_cast<unsigned>(flags), status, statusMeaning(status));
    showDisk(path);
    return status == 0 ? 0 : 1;
}

int usage(const char *command, const char *what, const char *form) {
    std::fprintf(stderr, "kelm-host %s: %s\nusage: kelm-host %s\n", command, what, form);
    return 2;
}

// Parses PATH, --key K and the flag words of one command.
struct FlagWord {
    const char *word;
    int bit;
};

int runCommand(const char *command, const char *form, const std::vector<std::string> &args,
               const std::vector<FlagWord> &words, bool reserve) {
    std::string path;
    std::string key;
    bool haveKey = false;
    bool havePath = false;
    int flags = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        bool matched = false;
        for (const FlagWord &word : words) {
            if (args[i] == word.word) {
                flags |= word.bit;
                matched = true;
            }
        }
        if (matched) continue;
        if (args[i] == "--key") {
            if (i + 1 >= args.size()) return usage(command, "--key needs a key", form);
            key = args[++i];
            haveKey = true;
        } else if (!havePath && args[i].compare(0, 2, "--") != 0) {
            path = args[i];
            havePath = true;
        } else {
            return usage(command, ("unexpected argument \"" + args[i] + "\"").c_str(), form);
        }
    }
    if (!havePath) return usage(command, "a disk path is needed", form);
    return runFlow(reserve, path, haveKey ? &key : nullptr, flags);
}

const char *const kReserveForm = "reserve PATH [--key K] [--preempt] [--register]";
const char *const kReleaseForm = "release PATH [--key K] [--verify] [--release] [--unregister]";

int runReserve(ProviderHost &, const std::vector<std::string> &args) {
    return runCommand("reserve", kReserveForm, args, {{"--preempt", kFlagPreempt}, {"--register", kFlagRegister}},
                      true);
}

int runRelease(ProviderHost &, const std::vector<std::string> &args) {
    return runCommand("release", kReleaseForm, args,
                      {{"--verify", kFlagVerify}, {"--release", kFlagRelease}, {"--unregister", kFlagRegister}},
                      false);
}

int runKeys(ProviderHost &, const std::vector<std::string> &args) {
    if (args.size() != 1 || args[0].compare(0, 2, "--") == 0) return usage("keys", "one disk path is needed", "keys PATH");
    return showDisk(args[0]);
}

const CommandRegistration reserveRegistration{
    {"reserve", "register and reserve a disk for this host, preempting if allowed (exit 1: status)",
     kReserveForm, &runReserve, false}};
const CommandRegistration releaseRegistration{
    {"release", "verify, release and unregister this host's reservation (exit 1: status)",
     kReleaseForm, &runRelease, false}};
const CommandRegistration keysRegistration{
    {"keys", "the registered keys and the reservation of a disk", "keys PATH", &runKeys, false}};

} // namespace
} // namespace kelm_host

// kelm-host reserve PATH [--key K] [--preempt] [--register] [--json]
// kelm-host release PATH [--key K] [--verify] [--release] [--unregister] [--json]
// kelm-host keys PATH [--json]
//
// The SCSI-3 persistent reservation flows on one disk, and what the disk
// holds. Until import and deport reach the flows through their entry
// points, kelm-host runs the provider's diskReserve and diskRelease
// in-process on a device provider of its own, whose trace lines (from a
// private trace log in a scratch install root) it prints. Without --key the
// key is this host's, derived from its address as the provider derives it.
// A simulated disk keeps its reservations only for the life of the process,
// so reserve and release show what the disk holds afterwards. --json prints
// each as one object (docs/kelm-host-json.md).
#include "commands.h"
#include "json_output.h"

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

// What a disk holds, or why it could not be read.
struct DiskState {
    bool keysRead = false;
    std::vector<std::string> keys;
    std::vector<SReservationRecord> reservations;
    std::string error; // empty when the disk was read
    int errorCode = 0;
};

DiskState readDisk(const std::string &path) {
    DiskState state;
    ReservationDiskWin disk(path);
    try {
        state.keys = disk.readDiskRegistration();
        state.keysRead = true;
        state.reservations = disk.readDiskReservation();
    } catch (const CPGRReadRegistrationFail &e) {
        state.error = "cannot read the registrations of " + path;
        state.errorCode = e.getErrorCode();
    } catch (const CPGRException &e) {
        state.error = "cannot read the reservation of " + path;
        state.errorCode = e.getErrorCode();
    }
    return state;
}

// Prints the registered keys and the reservation of a disk. 0, or 1 when
// the disk could not be read.
int showDisk(const DiskState &state) {
    if (state.keysRead) {
        std::printf("registered keys (%zu):%s\n", state.keys.size(), state.keys.empty() ? " none" : "");
        for (const std::string &key : state.keys) std::printf("  [%s]\n", key.c_str());
    }
    if (!state.error.empty()) {
        std::printf("%s (error %d)\n", state.error.c_str(), state.errorCode);
        return 1;
    }
    if (state.reservations.empty()) std::printf("reservation: none\n");
    for (const SReservationRecord &record : state.reservations)
        std::printf("reservation: key [%s], type %d (%s)\n", record.key.c_str(), record.type, reservationTypeName(record.type));
    return 0;
}

// The members that say what a disk holds.
void writeDiskMembers(JsonWriter &json, const DiskState &state) {
    json.member("read", state.error.empty());
    if (!state.error.empty()) {
        json.member("error", state.error);
        json.member("error_code", state.errorCode);
    }
    json.key("registered_keys");
    json.beginArray();
    for (const std::string &key : state.keys) writeKey(json, key);
    json.endArray();
    json.member("registration_count", state.keys.size());
    json.key("reservations");
    json.beginArray();
    for (const SReservationRecord &record : state.reservations) {
        json.beginObject();
        json.key("key");
        writeKey(json, record.key);
        json.member("type", record.type);
        json.member("type_name", reservationTypeName(record.type));
        json.endObject();
    }
    json.endArray();
}

// What one flow did: the key it used, its status and the provider's trace
// lines; error says why it did not run.
struct Flow {
    std::string error;
    std::string key;
    int status = 0;
    std::vector<std::string> lines;
};

// Runs one flow on an in-process provider with a scratch install root.
Flow runProvider(bool reserve, const std::string &path, const std::string *givenKey, int flags) {
    Flow flow;
    std::string pattern = (std::filesystem::temp_directory_path() / "kelm-host-pgr-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        flow.error = std::string("cannot create a scratch directory: ") + std::strerror(errno);
        return flow;
    }
    const std::string scratch = pattern + "/";
    mkdir((scratch + "ConfigFiles").c_str(), 0755);
    mkdir((scratch + "Logs").c_str(), 0755);
    const char *oldRoot = std::getenv("KELM_INSTALL_ROOT");
    const std::string savedRoot = oldRoot != nullptr ? oldRoot : "";
    setenv("KELM_INSTALL_ROOT", scratch.c_str(), 1);

    TraceLines collector;
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
            flow.key = provider->getKeyForHost(wide.c_str());
        } else {
            flow.key = provider->getKeyForHost(nullptr);
        }
        flow.status = reserve ? provider->diskReserve(path, flow.key, flags) : provider->diskRelease(path, flow.key, flags);
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
    flow.lines = collector.lines();
    return flow;
}

// Runs one flow and prints its trace lines, its status and what the disk
// holds afterwards, or all of it as one object.
int runFlow(bool reserve, const std::string &path, const std::string *givenKey, int flags, bool asJson) {
    const char *command = reserve ? "reserve" : "release";
    Flow flow = runProvider(reserve, path, givenKey, flags);
    if (!flow.error.empty() && !asJson) {
        std::printf("%s\n", flow.error.c_str());
        return 1;
    }
    DiskState state;
    if (flow.error.empty()) state = readDisk(path);
    if (!asJson) {
        for (const std::string &line : flow.lines) std::printf("  %s\n", line.c_str());
        std::printf("%s %s with key [%s], flags 0x%x: %d (%s)\n", reserve ? "diskReserve" : "diskRelease",
                    path.c_str(), flow.key.c_str(), static_cast<unsigned>(flags), flow.status,
                    statusMeaning(flow.status));
        showDisk(state);
        return flow.status == 0 ? 0 : 1;
    }
    JsonWriter json(stdout);
    json.beginObject();
    json.member("command", command);
    json.member("ok", flow.error.empty() && flow.status == 0);
    json.member("path", path);
    if (!flow.error.empty()) {
        json.member("error", flow.error);
        json.endObject();
        return 1;
    }
    json.key("key");
    writeKey(json, flow.key);
    json.member("flags", flags);
    json.member("status", flow.status);
    json.member("status_name", statusName(flow.status));
    json.member("status_text", statusMeaning(flow.status));
    json.key("trace");
    json.beginArray();
    for (const std::string &line : flow.lines) json.value(line);
    json.endArray();
    json.key("disk");
    json.beginObject();
    writeDiskMembers(json, state);
    json.endObject();
    json.endObject();
    return flow.status == 0 ? 0 : 1;
}

// A usage error on stderr, and as an object on stdout under --json. 2.
int usage(const char *command, const std::string &what, const char *form, bool asJson) {
    std::fprintf(stderr, "kelm-host %s: %s\nusage: kelm-host %s\n", command, what.c_str(), form);
    if (asJson) printJsonFailure(command, what, form);
    return 2;
}

// Parses PATH, --key K and the flag words of one command.
struct FlagWord {
    const char *word;
    int bit;
};

int runCommand(const char *command, const char *form, const std::vector<std::string> &given,
               const std::vector<FlagWord> &words, bool reserve) {
    std::vector<std::string> args = given;
    const bool asJson = takeJsonFlag(args);
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
            if (i + 1 >= args.size()) return usage(command, "--key needs a key", form, asJson);
            key = args[++i];
            haveKey = true;
        } else if (!havePath && args[i].compare(0, 2, "--") != 0) {
            path = args[i];
            havePath = true;
        } else {
            return usage(command, "unexpected argument \"" + args[i] + "\"", form, asJson);
        }
    }
    if (!havePath) return usage(command, "a disk path is needed", form, asJson);
    return runFlow(reserve, path, haveKey ? &key : nullptr, flags, asJson);
}

const char *const kReserveForm = "reserve PATH [--key K] [--preempt] [--register] [--json]";
const char *const kReleaseForm = "release PATH [--key K] [--verify] [--release] [--unregister] [--json]";

int runReserve(ProviderHost &, const std::vector<std::string> &args) {
    return runCommand("reserve", kReserveForm, args, {{"--preempt", kFlagPreempt}, {"--register", kFlagRegister}},
                      true);
}

int runRelease(ProviderHost &, const std::vector<std::string> &args) {
    return runCommand("release", kReleaseForm, args,
                      {{"--verify", kFlagVerify}, {"--release", kFlagRelease}, {"--unregister", kFlagRegister}},
                      false);
}

int runKeys(ProviderHost &, const std::vector<std::string> &given) {
    std::vector<std::string> args = given;
    const bool asJson = takeJsonFlag(args);
    if (args.size() != 1 || args[0].compare(0, 2, "--") == 0)
        return usage("keys", "one disk path is needed", "keys PATH [--json]", asJson);
    DiskState state = readDisk(args[0]);
    if (!asJson) return showDisk(state);
    JsonWriter json(stdout);
    json.beginObject();
    json.member("command", "keys");
    json.member("ok", state.error.empty());
    json.member("path", args[0]);
    writeDiskMembers(json, state);
    json.endObject();
    return state.error.empty() ? 0 : 1;
}

const CommandRegistration reserveRegistration{
    {"reserve", "register and reserve a disk for this host, preempting if allowed (exit 1: status)",
     kReserveForm, &runReserve, false}};
const CommandRegistration releaseRegistration{
    {"release", "verify, release and unregister this host's reservation (exit 1: status)",
     kReleaseForm, &runRelease, false}};
const CommandRegistration keysRegistration{
    {"keys", "the registered keys and the reservation of a disk", "keys PATH [--json]", &runKeys, false}};

} // namespace
} // namespace kelm_host

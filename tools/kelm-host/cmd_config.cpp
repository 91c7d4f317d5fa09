// kelm-host config NODE [--set FILE] [--list N]: a node's configuration as the
// framework handles it. The node gets its private data (reaccess_tmpobj), the
// value list is set from an XML file (config mode 2), read back (mode 1), the
// parameter descriptions are listed (mode 4), and snapshot target selection
// runs on the values of list 1, printing the target UDID or why there is none.
//
// Target selection has no entry point of its own (the provider runs it while
// it builds a snapshot), so kelm-host runs the kit's selection in-process on
// the values the provider handed back, with a private trace log whose lines
// it prints.
#include "commands.h"

#include "kelm/kelm_testkit.h"
#include "pdk/cfierror.h"
#include "pdk/cfiprivatedata.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

namespace kelm_host {
namespace {

using namespace kelm_pdk_4_4;

const int kGetValues = 1;
const int kSetValues = 2;
const int kGetParams = 4;
char kSession[] = "kelm-host-config";

std::string readWholeFile(const std::string &path, bool &ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void printText(const char *title, const wchar_t *text) {
    std::printf("%s:\n", title);
    if (text == nullptr) {
        std::printf("  (none)\n");
        return;
    }
    std::string s = narrow(text);
    size_t pos = 0;
    while (pos < s.size()) {
        size_t nl = s.find('\n', pos);
        if (nl == std::string::npos) nl = s.size();
        std::printf("  %s\n", s.substr(pos, nl - pos).c_str());
        pos = nl + 1;
    }
}

// Frees a text the provider handed back, as the framework does.
void freeText(wchar_t *&text) {
    if (text != nullptr) kelm_free_buf(text, static_cast<uint32_t>((std::wcslen(text) + 1) * sizeof(wchar_t)));
    text = nullptr;
}

// One config call; the returned text (or null) goes to out, owned by caller.
int configCall(ProviderHost &host, kel_domain *node, int mode, int list, const wchar_t *in, wchar_t **out) {
    kel_confspec confspec{list, 1, const_cast<wchar_t *>(in)};
    int rc = host.entry().config(node, mode, kSession, &confspec);
    *out = confspec.text != in ? confspec.text : nullptr;
    return rc;
}

// Trace lines of the selection, as the error manager forwards them.
class LineCollector : public CFiErrorHandlerBase {
public:
    int handleText(const std::string &text, kel_eseverity severity) override {
        // "name:time <Thread id - n> message\n": keep the message.
        size_t start = text.find("> ");
        std::string msg = start == std::string::npos ? text : text.substr(start + 2);
        while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
        std::lock_guard<std::mutex> g(m_lock);
        m_lines.push_back({msg, severity});
        return 0;
    }
    int handleMessage(const CFiMessagePtr &) override { return 0; }
    struct Line {
        std::string text;
        kel_eseverity severity;
    };
    std::vector<Line> lines() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_lines;
    }

private:
    std::mutex m_lock;
    std::vector<Line> m_lines;
};

// Restores an environment variable when it goes out of scope.
class EnvOverride {
public:
    EnvOverride(const char *name, const std::string &value) : m_name(name) {
        const char *old = std::getenv(name);
        m_had = old != nullptr;
        if (m_had) m_old = old;
        setenv(name, value.c_str(), 1);
    }
    ~EnvOverride() {
        if (m_had)
            setenv(m_name, m_old.c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had = false;
    std::string m_old;
};

// Runs target selection for a node named name whose list-1 values are xml.
int selectTarget(const std::string &name, const wchar_t *xml) {
    std::printf("target selection:\n");
    // The selection's trace log lives in a scratch install root, so it leaves
    // nothing behind in the provider's.
    std::string pattern = (std::filesystem::temp_directory_path() / "kelm-host-select-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::printf("  cannot create a scratch directory: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string scratch = pattern + "/";
    mkdir((scratch + "ConfigFiles").c_str(), 0755);
    mkdir((scratch + "Logs").c_str(), 0755);

    LineCollector collector;
    int rc = 6;
    std::string target;
    {
        EnvOverride root("KELM_INSTALL_ROOT", scratch);
        CFiErrorManagerPtr errors(new CFiErrorManager);
        errors->registerHandler(&collector);
        CFiTraceLogPtr log(new CFiTraceLog);
        log->initialize(WString(L"kelm-host"), CFiStringTool::toWide(scratch + "Logs"), WString(L"select.log"), 6,
                        false);
        log->registerErrorManager(errors);

        std::wstring wideName = CFiStringTool::toStdWide(name);
        kelm_objid object{};
        object.name = const_cast<wchar_t *>(wideName.c_str());
        CFiPrivateDataPtr data(new CFiPrivateData(&object, false));
        data->setTraceLog(log);
        if (xml != nullptr && data->configDataList(1).parse(WString(xml)) != 0)
            std::printf("  (the values handed back do not parse)\n");
        if (xml == nullptr) data->configDataList(1); // an empty list: the parameter is missing
        rc = data->selectTargetFromConfigData();
        target = data->getConfiguredTarget();
        data.reset();
        log.reset();
        errors->unregisterHandler(&collector);
    }
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);

    std::string reason;
    for (const LineCollector::Line &line : collector.lines()) {
        if (line.text.rfind("Entering Function ", 0) == 0 || line.text.rfind("Exiting Function ", 0) == 0) continue;
        std::printf("  %s %s\n", line.severity == KEL_SEV_ERROR ? "error:" : "trace:", line.text.c_str());
        if (line.severity == KEL_SEV_ERROR) reason = line.text;
    }
    if (rc == 0) {
        std::printf("target UDID: %s\n", target.c_str());
        return 0;
    }
    std::printf("no target (status %d): %s\n", rc, reason.empty() ? "(no reason traced)" : reason.c_str());
    return 1;
}

int usage(const char *what) {
    std::fprintf(stderr, "kelm-host config: %s\nusage: kelm-host config NODE [--set FILE] [--list 0|1]\n", what);
    return 2;
}

int runConfig(ProviderHost &host, const std::vector<std::string> &args) {
    std::string nodeName;
    std::string setFile;
    int list = 1;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--set") {
            if (i + 1 >= args.size()) return usage("--set needs a file");
            setFile = args[++i];
        } else if (args[i] == "--list") {
            if (i + 1 >= args.size() || (args[i + 1] != "0" && args[i + 1] != "1")) return usage("--list needs 0 or 1");
            list = args[++i] == "1" ? 1 : 0;
        } else if (nodeName.empty() && args[i].compare(0, 2, "--") != 0) {
            nodeName = args[i];
        } else {
            return usage(("unexpected argument \"" + args[i] + "\"").c_str());
        }
    }
    if (nodeName.empty()) return usage("a node name is needed");
    std::wstring xmlIn;
    if (!setFile.empty()) {
        bool ok = false;
        std::string text = readWholeFile(setFile, ok);
        if (!ok) {
            std::fprintf(stderr, "kelm-host config: cannot read %s\n", setFile.c_str());
            return 1;
        }
        xmlIn = CFiStringTool::toStdWide(text);
    }

    if (host.init("") != 0) {
        host.fini();
        return 1;
    }
    // The node as the framework builds it: an object record from the utility
    // library, and the domain that points at it.
    std::wstring wideName = CFiStringTool::toStdWide(nodeName);
    kelm_objid *object =
        kelm_get_objid(wideName.c_str(), static_cast<uint32_t>((wideName.size() + 1) * sizeof(wchar_t)), 0);
    kel_domain node{};
    node.obj = object;
    node.name = object != nullptr ? object->name : nullptr;
    int status = 0;

    int rc = host.entry().reaccess_tmpobj(&node, object, nullptr, nullptr, kSession, KEL_INTENT_NONE);
    std::printf("node %s: rendo_fi_pgn_reaccess_tmpobj = %d\n", nodeName.c_str(), rc);

    wchar_t *out = nullptr;
    if (!setFile.empty()) {
        rc = configCall(host, &node, kSetValues, list, xmlIn.c_str(), &out);
        std::printf("config mode %d (set values, list %d) = %d\n", kSetValues, list, rc);
        if (rc != 0) status = 1;
        printText("  values as stored", out);
        freeText(out);
    }
    rc = configCall(host, &node, kGetValues, list, nullptr, &out);
    std::printf("config mode %d (get values, list %d) = %d\n", kGetValues, list, rc);
    printText("  values", out);
    freeText(out);
    rc = configCall(host, &node, kGetParams, list, nullptr, &out);
    std::printf("config mode %d (parameter descriptions, list %d) = %d\n", kGetParams, list, rc);
    printText("  descriptions", out);
    freeText(out);

    // Selection reads list 1.
    wchar_t *values = nullptr;
    configCall(host, &node, kGetValues, 1, nullptr, &values);
    if (selectTarget(nodeName, values) != 0 && status == 0) status = 3;
    freeText(values);

    host.entry().deinit_node(&node);
    kelm_free_objid(object);
    host.fini();
    return status;
}

const CommandRegistration registration{
    {"config",
     "set, read and describe a node's configuration; run snapshot target selection (exit 3: no target)",
     "config NODE [--set FILE] [--list 0|1]", &runConfig}};

} // namespace
} // namespace kelm_host

// kelm-host info, claim and nodes: the provider's answers to the questions
// the framework asks before it builds a snapshot tree. info and nodes take
// --json (docs/kelm-host-json.md).
#include "commands.h"
#include "json_output.h"
#include "provider_views.h"

#include "kelm/kelm_testkit.h"
#include "kelm/kelm_util.h"
#include "pdk/cfistringtool.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace kelm_host {

int showProviderInfo(ProviderHost &host) {
    kel_provider_list *list = nullptr;
    int rc = host.entry().get_provider_info(&list);
    std::printf("  rendo_fi_pgn_get_provider_info = %d\n", rc);
    if (list == nullptr) std::printf("  (no provider information)\n");
    for (kel_provider_list *p = list; p != nullptr; p = p->next) {
        std::printf("  provider %s, values %llu %llu", narrow(p->provider_name).c_str(),
                    static_cast<unsigned long long>(p->value1), static_cast<unsigned long long>(p->value2));
        if (p->version != nullptr)
            std::printf(", version %u.%u.%u.%u", p->version->word[0], p->version->word[1], p->version->word[2],
                        p->version->word[3]);
        std::printf("\n  object types:");
        for (wchar_t **t = p->object_types; t != nullptr && *t != nullptr; ++t) std::printf(" %s", narrow(*t).c_str());
        std::printf("\n");
    }
    kelm_free_providerlist(list); // the framework's job once it has read the list
    return rc;
}

int showNodes(ProviderHost &host, int selection) {
    kel_node_list *list = nullptr;
    int count = 0;
    int rc = host.entry().enumerate_nodes(&list, &count, selection, nullptr);
    std::printf("  rendo_fi_pgn_enumerate_nodes(0x%x) = %d, %d node(s)\n", static_cast<unsigned>(selection), rc, count);
    for (kel_node_list *n = list; n != nullptr; n = n->next) {
        const char *kind = n->lead1 == 1 ? "local device " : n->lead1 == 2 ? "global device" : "node         ";
        std::printf("  %s %-24s %s\n", kind, narrow(n->node_name).c_str(),
                    n->objid != nullptr ? narrow(n->objid->name).c_str() : "(no identifier)");
    }
    kelm_free_nodelist(list);
    return rc;
}

namespace {

const char *claimName(int level) {
    switch (level) {
    case KEL_CLAIM_NONE: return "KEL_CLAIM_NONE";
    case KEL_CLAIM_SECONDARY: return "KEL_CLAIM_SECONDARY";
    case KEL_CLAIM_TERTIARY: return "KEL_CLAIM_TERTIARY";
    default: return "unknown";
    }
}

// Starts the provider quietly for one question; false when it will not start.
bool start(ProviderHost &host, int *status = nullptr) {
    int rc = host.init("");
    if (status != nullptr) *status = rc;
    if (rc == 0) return true;
    host.fini();
    return false;
}

// While it lives, what would go to stdout (the host's init and fini lines,
// the provider's messages) goes to stderr, so that stdout carries only JSON.
class StdoutToStderr {
public:
    StdoutToStderr() {
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        if (m_saved >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    ~StdoutToStderr() {
        std::fflush(stdout);
        if (m_saved < 0) return;
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
    }
    StdoutToStderr(const StdoutToStderr &) = delete;
    StdoutToStderr &operator=(const StdoutToStderr &) = delete;

private:
    int m_saved = -1;
};

// Starts the provider with stdout sent to stderr, runs query and stops it;
// whether it started (*initStatus: what init returned).
template <typename Query> bool askQuietly(ProviderHost &host, int *initStatus, Query query) {
    StdoutToStderr quiet;
    if (!start(host, initStatus)) return false;
    query();
    host.fini();
    return true;
}

// The opening members of info's and nodes' objects; false when the
// provider did not start (the object is then closed).
bool beginJson(JsonWriter &json, const char *command, bool started, int initStatus, int status) {
    json.beginObject();
    json.member("command", command);
    json.member("ok", started && status == 0);
    json.member("init_status", initStatus);
    json.member("status", started ? status : initStatus);
    json.member("status_name", statusName(started ? status : initStatus));
    if (started) return true;
    json.member("error", "the provider did not start");
    json.endObject();
    return false;
}

struct ProviderRow {
    std::string name;
    unsigned long long value1 = 0, value2 = 0;
    bool hasVersion = false;
    unsigned version[4] = {};
    std::vector<std::string> objectTypes;
};

int infoJson(ProviderHost &host) {
    int initStatus = 0, rc = 0;
    std::vector<ProviderRow> rows;
    bool started = askQuietly(host, &initStatus, [&] {
        kel_provider_list *list = nullptr;
        rc = host.entry().get_provider_info(&list);
        for (kel_provider_list *p = list; p != nullptr; p = p->next) {
            ProviderRow row;
            row.name = narrow(p->provider_name);
            row.value1 = p->value1;
            row.value2 = p->value2;
            row.hasVersion = p->version != nullptr;
            for (int i = 0; i < 4 && row.hasVersion; ++i) row.version[i] = p->version->word[i];
            for (wchar_t **t = p->object_types; t != nullptr && *t != nullptr; ++t)
                row.objectTypes.push_back(narrow(*t));
            rows.push_back(row);
        }
        kelm_free_providerlist(list);
    });
    JsonWriter json(stdout);
    if (!beginJson(json, "info", started, initStatus, rc)) return 1;
    json.key("providers");
    json.beginArray();
    for (const ProviderRow &row : rows) {
        json.beginObject();
        json.member("name", row.name);
        json.member("value1", row.value1);
        json.member("value2", row.value2);
        json.key("version");
        if (!row.hasVersion) {
            json.null();
        } else {
            json.beginArray();
            for (unsigned word : row.version) json.value(word);
            json.endArray();
        }
        json.key("object_types");
        json.beginArray();
        for (const std::string &t : row.objectTypes) json.value(t);
        json.endArray();
        json.endObject();
    }
    json.endArray();
    json.member("count", rows.size());
    json.endObject();
    return rc == 0 ? 0 : 1;
}

struct NodeRow {
    const char *kind;
    std::string name;
    std::string objectId;
    bool hasObjectId;
};

int nodesJson(ProviderHost &host, int selection) {
    int initStatus = 0, rc = 0, count = 0;
    std::vector<NodeRow> rows;
    bool started = askQuietly(host, &initStatus, [&] {
        kel_node_list *list = nullptr;
        rc = host.entry().enumerate_nodes(&list, &count, selection, nullptr);
        for (kel_node_list *n = list; n != nullptr; n = n->next) {
            const char *kind = n->lead1 == 1 ? "local_device" : n->lead1 == 2 ? "global_device" : "node";
            bool hasId = n->objid != nullptr;
            rows.push_back({kind, narrow(n->node_name), hasId ? narrow(n->objid->name) : "", hasId});
        }
        kelm_free_nodelist(list);
    });
    JsonWriter json(stdout);
    if (!beginJson(json, "nodes", started, initStatus, rc)) return 1;
    json.member("selection", selection);
    json.key("nodes");
    json.beginArray();
    for (const NodeRow &row : rows) {
        json.beginObject();
        json.member("kind", row.kind);
        json.member("name", row.name);
        json.key("object_id");
        if (row.hasObjectId) json.value(row.objectId);
        else json.null();
        json.endObject();
    }
    json.endArray();
    json.member("count", count);
    json.endObject();
    return rc == 0 ? 0 : 1;
}

// A usage error on stderr, and as an object on stdout under --json. 2.
int usage(const char *command, const std::string &what, bool asJson) {
    std::fprintf(stderr, "kelm-host %s: %s\n", command, what.c_str());
    if (asJson) printJsonFailure(command, what, nullptr);
    return 2;
}

int runInfo(ProviderHost &host, const std::vector<std::string> &given) {
    std::vector<std::string> args = given;
    const bool asJson = takeJsonFlag(args);
    if (!args.empty()) return usage("info", "takes no arguments", asJson);
    if (asJson) return infoJson(host);
    if (!start(host)) return 1;
    int rc = showProviderInfo(host);
    host.fini();
    return rc == 0 ? 0 : 1;
}

int runClaim(ProviderHost &host, const std::vector<std::string> &args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "kelm-host claim: needs one object name\n");
        return 2;
    }
    if (!start(host)) return 1;
    // The framework names the object by an identifier of its own making.
    std::wstring name = kelm_pdk_4_4::CFiStringTool::toStdWide(args[0]);
    kelm_objid *object =
        kelm_get_objid(name.c_str(), static_cast<uint32_t>((name.size() + 1) * sizeof(wchar_t)), 1);
    if (object == nullptr) {
        std::fprintf(stderr, "kelm-host claim: no identifier for \"%s\"\n", args[0].c_str());
        host.fini();
        return 1;
    }
    kelm_objid **claimed = nullptr;
    int level = -1;
    int result = host.entry().claim(object, &claimed, &level);
    std::printf("  rendo_fi_pgn_claim(%s) = %d (%s)\n", args[0].c_str(), result, claimName(result));
    kelm_free_objid(object);
    host.fini();
    return 0;
}

int runNodes(ProviderHost &host, const std::vector<std::string> &given) {
    std::vector<std::string> args = given;
    const bool asJson = takeJsonFlag(args);
    int selection = 0;
    for (const std::string &a : args) {
        if (a == "--local") selection |= 0x4;
        else if (a == "--global") selection |= 0x8;
        else return usage("nodes", "unexpected argument \"" + a + "\"", asJson);
    }
    if (asJson) return nodesJson(host, selection);
    if (!start(host)) return 1;
    int rc = showNodes(host, selection);
    host.fini();
    return rc == 0 ? 0 : 1;
}

const CommandRegistration info{{"info", "the provider information the framework receives", "info [--json]", &runInfo}};
const CommandRegistration claim{
    {"claim", "how strongly the provider claims an object (disk path, partition or UDID)", "claim NAME", &runClaim}};
const CommandRegistration nodes{{"nodes", "the provider's local and global disk nodes: type, name, identifier",
                                 "nodes [--local|--global] [--json]", &runNodes}};

} // namespace
} // namespace kelm_host

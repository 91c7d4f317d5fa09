// kelm-host info, claim and nodes: the provider's answers to the questions
// the framework asks before it builds a snapshot tree.
#include "commands.h"
#include "provider_views.h"

#include "kelm/kelm_testkit.h"
#include "kelm/kelm_util.h"
#include "pdk/cfistringtool.h"

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
bool start(ProviderHost &host) {
    if (host.init("") == 0) return true;
    host.fini();
    return false;
}

int runInfo(ProviderHost &host, const std::vector<std::string> &args) {
    if (!args.empty()) {
        std::fprintf(stderr, "kelm-host info: takes no arguments\n");
        return 2;
    }
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

int runNodes(ProviderHost &host, const std::vector<std::string> &args) {
    int selection = 0;
    for (const std::string &a : args) {
        if (a == "--local") selection |= 0x4;
        else if (a == "--global") selection |= 0x8;
        else {
            std::fprintf(stderr, "kelm-host nodes: unexpected argument \"%s\"\n", a.c_str());
            return 2;
        }
    }
    if (!start(host)) return 1;
    int rc = showNodes(host, selection);
    host.fini();
    return rc == 0 ? 0 : 1;
}

const CommandRegistration info{{"info", "the provider information the framework receives", "info", &runInfo}};
const CommandRegistration claim{
    {"claim", "how strongly the provider claims an object (disk path, partition or UDID)", "claim NAME", &runClaim}};
const CommandRegistration nodes{{"nodes", "the provider's local and global disk nodes: type, name, identifier",
                                 "nodes [--local|--global]", &runNodes}};

} // namespace
} // namespace kelm_host

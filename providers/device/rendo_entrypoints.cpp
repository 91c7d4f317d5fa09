// The exported entry points. Each runs the same frame around one operation of
// the plug-in object: an entry/exit trace scope named by the entry point, the
// provider's delayed initialisation where the operation needs the disks, the
// entry point's argument guard, then the operation. Behaviour lives in the
// plug-in; what is here is only the frame, the start-up and tear-down order,
// and the session-based variants of make, prepare and select.
#include "rendo/rendo_fi_pgn.h"
#include "rendo_plugin.h"

#include "kelm/kelm_util.h"
#include "pdk/cfibase.h"
#include "pdk/cfierror.h"
#include "pdk/cfimessagecatalog.h"
#include "pdk/cfipluginbase.h"
#include "pdk/cfiprivatedata.h"
#include "pdk/cfisession.h"
#include "pdk/cfinodelist.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

#include <cstdint>
#include <cwchar>
#include <limits>
#include <mutex>
#include <vector>

using namespace kelm_pdk_4_4;

namespace {

constexpr uint16_t kResultVersion = 7;
const wchar_t *const kProviderName = L"rendo";
constexpr long kMessageIndexOffset = 6000;
constexpr int kInitialTraceLevel = 1;

CFiTraceLogPtr traceLog() { return CFiSingleton<CFiTraceLog>::instance(false); }

// Thrown when the plug-in holder hands out nothing: the library's static
// objects are already destroyed (a framework exit handler calling in late).
struct ProviderGone {};

RendoPluginPtr livePlugin() {
    RendoPluginPtr plugin = rendoPlugin(false);
    if (plugin.isNull()) throw ProviderGone();
    return plugin;
}

// Steps 1, 2 and 4 of the frame: the trace scope comes first and its exit
// line last; the plug-in reference is held for the whole call.
class EntryFrame {
public:
    explicit EntryFrame(const char *name) : m_trace(traceLog(), name), m_plugin(livePlugin()) {}
    EntryFrame(const EntryFrame &) = delete;
    EntryFrame &operator=(const EntryFrame &) = delete;

    CFiPluginBase *plugin() const { return m_plugin.get(); }
    // The provider's one-time delayed initialisation failed on this call.
    // A failure is not retried: later calls find the flag set and go on.
    bool delayedInitFailed() const { return m_plugin->invokeDelayedInit() != 0; }

private:
    CFiTraceLogFunction m_trace;
    RendoPluginPtr m_plugin;
};

// The single-node convention: a lone node stands for a one-element array
// when the array is null and the count 0; otherwise array and count pass
// unchanged.
template <class Node>
class NodeArray {
public:
    NodeArray(Node *lone, Node **nodes, int count) : m_nodes(nodes), m_count(count) {
        if (nodes == nullptr && count == 0 && lone != nullptr) {
            m_one[0] = lone;
            m_nodes = m_one;
            m_count = 1;
        }
    }
    NodeArray(const NodeArray &) = delete;
    NodeArray &operator=(const NodeArray &) = delete;

    Node **nodes() const { return m_nodes; }
    int count() const { return m_count; }
    // The number of elements that can be read: none when the array is null.
    size_t readable() const { return (m_nodes == nullptr || m_count <= 0) ? 0 : static_cast<size_t>(m_count); }

private:
    Node *m_one[1] = {nullptr};
    Node **m_nodes;
    int m_count;
};

// An exception that escapes the plug-in would unwind into the framework's C
// frames and end the process; it stops here as a failed call instead.
void noteEscapedException(const char *name) {
    try {
        CFiTraceLogPtr log = traceLog();
        if (!log.isNull()) log->trace(1, "ERROR: %s: unexpected exception stopped at the entry point", name);
    } catch (...) {
    }
}

// A call that arrives after the library's static objects were destroyed (an
// exit handler the framework registered before it loaded us) gets the entry
// point's failure status and touches nothing.
bool libraryGone() { return cfiStaticsGone().load(std::memory_order_acquire); }

template <class Body>
int atBoundary(const char *name, int failure, Body &&body) noexcept {
    if (libraryGone()) return failure;
    try {
        return body(name);
    } catch (const ProviderGone &) {
        return failure;
    } catch (...) {
        noteEscapedException(name);
        return failure;
    }
}

template <class Body>
void atBoundaryVoid(const char *name, Body &&body) noexcept {
    if (libraryGone()) return;
    try {
        body(name);
    } catch (const ProviderGone &) {
    } catch (...) {
        noteEscapedException(name);
    }
}

// ---- the framework's error handler ----
//
// The error manager only points at its handlers, so the handler must outlive
// every use the manager makes of it, including the exit line of
// rendo_fi_pgn_fini, which is written after the manager was released. The slot
// therefore keeps a reference to the manager the handler is registered with,
// and the handler goes only after it has been unregistered from exactly that
// manager (which waits for calls still under way). The slot itself is never
// destroyed, so no static destructor can pull the handler from under a late
// trace line.
struct HandlerSlot {
    std::mutex lock;
    CFiErrorHandler *handler = nullptr;
    CFiErrorManagerPtr manager;
};

HandlerSlot &handlerSlot() {
    static HandlerSlot *slot = new HandlerSlot;
    return *slot;
}

// Caller holds slot.lock.
void detachHandler(HandlerSlot &slot) {
    if (slot.handler == nullptr) return;
    if (!slot.manager.isNull()) slot.manager->unregisterHandler(slot.handler);
    delete slot.handler;
    slot.handler = nullptr;
    slot.manager.reset();
}

void installErrorHandler(kel_pgn_init *init, const CFiErrorManagerPtr &errors,
                         const CFiMessageCatalogManagerPtr &catalogs) {
    HandlerSlot &slot = handlerSlot();
    std::lock_guard<std::mutex> guard(slot.lock);
    detachHandler(slot); // a repeated init replaces the earlier handler
    slot.handler = new CFiErrorHandler(init, catalogs);
    slot.manager = errors;
    errors->registerHandler(slot.handler);
}

// Runs at the very end of rendo_fi_pgn_fini, after its exit line.
struct ErrorHandlerRelease {
    ErrorHandlerRelease() = default;
    ErrorHandlerRelease(const ErrorHandlerRelease &) = delete;
    ErrorHandlerRelease &operator=(const ErrorHandlerRelease &) = delete;
    ~ErrorHandlerRelease() {
        HandlerSlot &slot = handlerSlot();
        std::lock_guard<std::mutex> guard(slot.lock);
        detachHandler(slot);
    }
};

// ---- sessions of make, prepare and select ----

CFiSessionPtr sessionFor(const char *context) {
    return CFiSingleton<CFiSessionManager>::instance(false)->getSession(context);
}

// A split node's name: its domain's wide name ("" when it has none).
WString nodeName(const kel_splitnode *node) {
    if (node == nullptr || node->domain == nullptr || node->domain->name == nullptr) return WString();
    return WString(node->domain->name);
}

void recordNodes(const CFiSessionPtr &session, const NodeArray<kel_splitnode> &split) {
    for (size_t i = 0; i < split.readable(); ++i) {
        const kel_splitnode *node = split.nodes()[i];
        if (node == nullptr) continue;
        session->addNode(nodeName(node), node->key != nullptr ? std::string(node->key) : std::string());
    }
}

void releaseObjid(kelm_objid *id) { freeObjectId(id); }

// Hands the session's target names back as an array of object identifiers,
// one per split node in order, and marks each node's domain as split.
int copySessionTargets(const CFiSessionPtr &session, const NodeArray<kel_splitnode> &split, kelm_objid ***out,
                       int *outCount) {
    std::vector<WString> targets;
    for (size_t i = 0; i < split.readable(); ++i) {
        kel_splitnode *node = split.nodes()[i];
        if (node != nullptr && node->domain != nullptr) node->domain->flags |= KEL_DOMAIN_SPLIT_DONE;
        targets.push_back(session->getNode(CFiStringTool::toNarrow(nodeName(node))).targetName);
    }
    if (out == nullptr) return KEL_OK; // no place for results was asked for
    *out = nullptr;
    if (outCount != nullptr) *outCount = 0;
    if (targets.empty()) return KEL_OK;

    if (targets.size() > std::numeric_limits<uint32_t>::max() / sizeof(kelm_objid *)) return KEL_EMALLOC;
    const auto size = static_cast<uint32_t>(targets.size() * sizeof(kelm_objid *));
    auto **ids = static_cast<kelm_objid **>(kelm_alloc_buf(size));
    if (ids == nullptr) return KEL_EMALLOC;
    for (size_t i = 0; i < targets.size(); ++i) {
        const WString &name = targets[i];
        ids[i] = kelm_get_objid(name.c_str(), static_cast<uint32_t>((name.length() + 1) * sizeof(wchar_t)), 1);
        if (ids[i] == nullptr) {
            // Nothing half-built reaches the framework. The utility library
            // offers no identifier free of its own: an identifier is its name
            // and its record, each a buffer of that library.
            for (size_t j = 0; j < i; ++j) releaseObjid(ids[j]);
            kelm_free_buf(ids, size);
            return KEL_EMALLOC;
        }
    }
    *out = ids;
    if (outCount != nullptr) *outCount = static_cast<int>(targets.size());
    return KEL_OK;
}

} // namespace

extern "C" {

// ---- start and stop ----

RENDO_API int rendo_fi_pgn_init(kel_pgn_init *init, kel_version *version) {
    return atBoundary(__func__, KEL_EINITFAILED, [&](const char *) {
        if (version == nullptr) return KEL_ENOVERSION;
        version->word[0] = kResultVersion;
        version->word[1] = 0;
        version->word[2] = 0;
        version->word[3] = 0;

        RendoPluginPtr plugin = livePlugin();
        plugin->setProviderName(WString(kProviderName));
        plugin->setMessageIndexOffset(kMessageIndexOffset);

        CFiMessageCatalogManagerPtr catalogs = CFiSingleton<CFiMessageCatalogManager>::instance(false);
        CFiTraceLogPtr log = CFiSingleton<CFiTraceLog>::instance(false);
        CFiErrorManagerPtr errors = CFiSingleton<CFiErrorManager>::instance(false);
        CFiPrivateDataManagerPtr privateData = CFiSingleton<CFiPrivateDataManager>::instance(false);
        CFiSessionManagerPtr sessions = CFiSingleton<CFiSessionManager>::instance(false);

        log->registerErrorManager(errors);
        privateData->setTraceLog(log);
        if (!log->isInitialized()) {
            log->initialize(WString(kProviderName), WString(), WString(), kInitialTraceLevel, false);
        }
        if (init != nullptr && init->native_language != nullptr && *init->native_language != nullptr) {
            catalogs->setNativeLanguage(*init->native_language);
        }
        installErrorHandler(init, errors, catalogs);

        plugin->setTraceLog(log);
        plugin->registerErrorManager(errors);
        plugin->registerCatalogManager(catalogs);
        plugin->registerPrivateDataManager(privateData);
        plugin->registerSessionManager(sessions);
        return plugin->init();
    });
}

RENDO_API void rendo_fi_pgn_fini(void) {
    atBoundaryVoid(__func__, [&](const char *name) {
        ErrorHandlerRelease handlerRelease; // destroyed after the exit line below
        CFiTraceLogFunction traceScope(traceLog(), name);
        CFiPluginBase::isShuttingDown(true);
        if (RendoPluginPtr plugin = rendoPlugin(false)) plugin->fini();
        rendoPlugin(true);
        CFiSingleton<CFiMessageCatalogManager>::instance(true);
        CFiSingleton<CFiTraceLog>::instance(true);
        CFiSingleton<CFiErrorManager>::instance(true);
        CFiSingleton<CFiPrivateDataManager>::instance(true);
        // The session manager stays: sessions outlive a restart of the provider.
    });
}

// ---- messages ----

RENDO_API int rendo_fi_pgn_errmsg(int code, const wchar_t **text) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        return frame.plugin()->errMsg(code, text);
    });
}

RENDO_API int rendo_fi_pgn_get_last_error(kel_msg_info **out) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        return frame.plugin()->getLastError(out);
    });
}

RENDO_API int rendo_fi_pgn_del_last_error(kel_msg_info **out) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        return frame.plugin()->delLastError(out);
    });
}

RENDO_API int rendo_fi_pgn_get_locale_message(int *code, kel_msg_info *info, const char *language, wchar_t **out) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        return frame.plugin()->getLocaleMessage(code, info, language, out);
    });
}

RENDO_API int rendo_fi_pgn_del_locale_message(wchar_t **text) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        return frame.plugin()->delLocaleMessage(text);
    });
}

// ---- claiming and nodes ----

RENDO_API int rendo_fi_pgn_claim(kelm_objid *object, kelm_objid ***claimed, int *level) {
    return atBoundary(__func__, KEL_CLAIM_NONE, [&](const char *name) {
        EntryFrame frame(name);
        if (object == nullptr || claimed == nullptr || level == nullptr) return KEL_CLAIM_NONE;
        return frame.plugin()->claim(object, claimed, level);
    });
}

RENDO_API int rendo_fi_pgn_supports_fitype(kel_domain *domain, char *type) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        return frame.plugin()->supportsFiType(domain, type);
    });
}

RENDO_API int rendo_fi_pgn_init_node(kel_domain *domain, kel_domain **alt, int flags, kelm_objid *id) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->initNode(domain, alt, flags, id);
    });
}

RENDO_API int rendo_fi_pgn_init_altnode(kel_domain *a, kel_domain *b, kel_domain *c) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->initAltNode(a, b, c, false);
    });
}

RENDO_API int rendo_fi_pgn_init_remnode(kel_domain *a, kel_domain *b, kel_domain *c) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->initAltNode(a, b, c, true);
    });
}

RENDO_API int rendo_fi_pgn_deport_tree(kel_domain *domain, kel_domain *alt, kel_accessnode *access) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->deportTree(domain, alt, access);
    });
}

RENDO_API int rendo_fi_pgn_import_tree(kel_domain *domain, kelm_objid **a, kelm_objid **b, int n, kelm_objid **c) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->importTreeNode(domain, a, b, n, c);
    });
}

RENDO_API int rendo_fi_pgn_pre_prepare(kel_domain *domain) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->prePrepare(domain);
    });
}

RENDO_API int rendo_fi_pgn_reaccess_tmpobj(kel_domain *domain, kelm_objid *id, char *splitType, kel_domain *tmp,
                                           char *sessionId, kel_intent intent) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        return frame.plugin()->reAccessTmpObj(domain, id, splitType, tmp, sessionId, intent);
    });
}

RENDO_API int rendo_fi_pgn_reaccess_altnode(kel_domain *domain, kelm_objid *a, kelm_objid *b, char *sessionId,
                                            kelm_objid **c, kelm_objid **d, int n, kel_intent intent) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->reAccessAltNode(domain, a, b, sessionId, c, d, n, intent);
    });
}

RENDO_API int rendo_fi_pgn_config(kel_domain *domain, int mode, char *sessionId, kel_confspec *confspec) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        if (domain == nullptr || confspec == nullptr) return KEL_EINVAL;
        return frame.plugin()->config(domain, mode, sessionId, confspec);
    });
}

RENDO_API void rendo_fi_pgn_deinit_node(kel_domain *domain) {
    atBoundaryVoid(__func__, [&](const char *name) {
        EntryFrame frame(name);
        frame.plugin()->deInitNode(domain);
    });
}

RENDO_API int rendo_fi_pgn_dispose(kel_domain *a, kel_domain *b, kel_splitnode *split, kel_disposition disp) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->dispose(a, b, split, disp);
    });
}

RENDO_API int rendo_fi_pgn_online(kel_domain *a, kel_domain *b, int n, kel_disposition disp) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->online(a, b, n, disp);
    });
}

RENDO_API int rendo_fi_pgn_subobj_list(kel_domain *domain, kelm_objid ***list, int *count) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        if (domain == nullptr || list == nullptr || count == nullptr) return KEL_EINVAL;
        return frame.plugin()->subobjList(domain, list, count);
    });
}

RENDO_API int rendo_fi_pgn_build_alttree(kel_domain *domain, char *type, kelm_objid **a, kelm_objid **b, int n,
                                         kelm_objid **c) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->buildAltTree(domain, type, a, b, n, c);
    });
}

// ---- quiesce, snapshot and split ----

RENDO_API int rendo_fi_pgn_quiesce(kel_quiescenode *lone, kel_quiescenode **nodes, int count, char *context) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        NodeArray<kel_quiescenode> q(lone, nodes, count);
        return frame.plugin()->quiesce(q.nodes(), q.count(), context);
    });
}

RENDO_API void rendo_fi_pgn_unquiesce(kel_quiescenode *lone, kel_quiescenode **nodes, int count) {
    atBoundaryVoid(__func__, [&](const char *name) {
        EntryFrame frame(name);
        NodeArray<kel_quiescenode> q(lone, nodes, count);
        frame.plugin()->unquiesce(q.nodes(), q.count());
    });
}

RENDO_API int rendo_fi_pgn_make(kel_splitnode *lone, char *context, kel_splitnode **nodes, int count,
                                kelm_objid ***out, int *outCount) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        NodeArray<kel_splitnode> split(lone, nodes, count);
        int rc = frame.plugin()->make(context, split.nodes(), split.count(), out, outCount);
        if (rc != KEL_ENOTSUP) return rc;
        // The provider works per session: the context names it.
        CFiSessionPtr session = sessionFor(context);
        if (session.isNull()) return KEL_EINVAL;
        rc = frame.plugin()->makeSnapshots(session);
        if (rc != KEL_OK) return rc;
        return copySessionTargets(session, split, out, outCount);
    });
}

RENDO_API int rendo_fi_pgn_prepare(kel_splitnode *lone, char *context, kel_splitnode **nodes, int count, int flag) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        NodeArray<kel_splitnode> split(lone, nodes, count);
        int rc = frame.plugin()->prepare(context, split.nodes(), split.count(), flag);
        if (rc != KEL_ENOTSUP) return rc;
        CFiSessionPtr session = sessionFor(context);
        if (session.isNull()) return KEL_EINVAL;
        return frame.plugin()->prepareSnapshots(session);
    });
}

RENDO_API int rendo_fi_pgn_select(kel_splitnode *lone, char *context, kel_splitnode **nodes, int count) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        NodeArray<kel_splitnode> split(lone, nodes, count);
        int rc = frame.plugin()->select(context, split.nodes(), split.count());
        if (rc == KEL_ENOTSUP) {
            CFiSessionPtr session = sessionFor(context);
            if (session.isNull()) return KEL_EINVAL;
            recordNodes(session, split);
            return frame.plugin()->selectSnapshots(session);
        }
        if (rc == KEL_OK) {
            // Remembered for a session-based make that may follow.
            CFiSessionPtr session = sessionFor(context);
            if (!session.isNull()) recordNodes(session, split);
        }
        return rc;
    });
}

RENDO_API int rendo_fi_pgn_isready(kel_splitnode *lone, char *context, kel_splitnode **nodes, int count) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        NodeArray<kel_splitnode> split(lone, nodes, count);
        return frame.plugin()->isReady(context, split.nodes(), split.count());
    });
}

RENDO_API int rendo_fi_pgn_cache_disable(kel_domain *domain) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->cacheDisable(domain, 0);
    });
}

RENDO_API void rendo_fi_pgn_cache_enable(kel_domain *domain) {
    atBoundaryVoid(__func__, [&](const char *name) {
        EntryFrame frame(name);
        frame.plugin()->cacheEnable(domain, 0);
    });
}

RENDO_API int rendo_fi_pgn_interpose(kel_domain *domain, kelm_objid **a, kelm_objid ***b, int *n) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        CFiMutexWrapper lock(frame.plugin()->getMutex());
        return frame.plugin()->interpose(domain, a, b, n);
    });
}

RENDO_API int rendo_fi_pgn_getattr(kel_domain *a, kel_domain *b, kel_splitnode *split, kel_attributes *attrs) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->getAttr(a, b, split, attrs);
    });
}

RENDO_API int rendo_fi_pgn_process_providerstate(kel_domain *domain, kel_blob *blob, kel_op_providerstate op) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->processProviderState(domain, blob, op);
    });
}

// ---- provider information and enumeration ----

RENDO_API int rendo_fi_pgn_get_provider_info(kel_provider_list **list) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (list == nullptr) return KEL_EINVAL;
        *list = nullptr;
        return frame.plugin()->getProviderInfo(list);
    });
}

RENDO_API int rendo_fi_pgn_enumerate_nodes(kel_node_list **list, int *count, int selection, wchar_t *text) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (list == nullptr) return KEL_EINVAL;
        return frame.plugin()->enumerateNodes(list, count, selection, text);
    });
}

RENDO_API int rendo_fi_pgn_enumerate_group_nodes(kel_group_node_list **list) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->enumerateGroupNodes(list);
    });
}

RENDO_API int rendo_fi_pgn_enumerate_fims(kel_fim_list **list) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        return frame.plugin()->enumerateFims(list);
    });
}

RENDO_API int rendo_fi_pgn_enumerate_associations(kel_assoc_list **list) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->enumerateAssociations(list);
    });
}

RENDO_API int rendo_fi_pgn_isvalid_node_association(kel_assoc *assoc, int *valid) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->isValidNodeAssociation(assoc, valid);
    });
}

RENDO_API int rendo_fi_pgn_get_associated_nodes(kel_node *node, kel_node_list **list) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->getAssociatedNodes(node, list);
    });
}

RENDO_API int rendo_fi_pgn_check_node_existence(kel_domain *domain, int *exists) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->checkNodeExistence(domain, exists);
    });
}

// ---- objctl ----

RENDO_API int rendo_fi_pgn_objctl(const wchar_t *command, const wchar_t *input, wchar_t **output,
                                  uint32_t *result) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        CFiObjctlArgs args(input != nullptr ? input : L"");
        long rc = frame.plugin()->objctl(WString(command != nullptr ? command : L""), args);
        if (result != nullptr) *result = static_cast<uint32_t>(rc);
        if (output != nullptr) {
            // The framework frees this text with free(), so it comes from the C runtime.
            WString xml = args.toXML();
            *output = wcsdup(xml.c_str());
            if (*output == nullptr) return KEL_EMALLOC;
        }
        return KEL_OK;
    });
}

// ---- access, restore and status ----

RENDO_API int rendo_fi_pgn_enable_access(kel_node_subobj_list *list, long a, int b, int c) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->enableAccess(list, a, b, c);
    });
}

RENDO_API int rendo_fi_pgn_disable_access(kel_node_subobj_list *list, long a) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->disableAccess(list, a);
    });
}

RENDO_API int rendo_fi_pgn_restore(kelm_objid **a, kelm_objid **b, long n, wchar_t *c, wchar_t *d, long e, long *f) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->restore(a, b, n, c, d, e, f);
    });
}

RENDO_API int rendo_fi_pgn_resync(kelm_objid **a, kelm_objid **b, long n, wchar_t *c, wchar_t *d, long e, long *f) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->resync(a, b, n, c, d, e, f);
    });
}

RENDO_API int rendo_fi_pgn_get_status(kelm_objid **a, kelm_objid **b, long count, wchar_t *c, long d,
                                      long *statuses) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->getStatus(a, b, count, c, d, statuses);
    });
}

RENDO_API int rendo_fi_pgn_query_valid_secondaries(wchar_t *nodeName, kelm_objid ***list, long *count) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->queryValidSecondaries(nodeName, list, count);
    });
}

RENDO_API int rendo_fi_pgn_res_status(kelm_objid *id, long a, long *b, kel_msg_info **info) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->resourceStatus(id, a, b, info);
    });
}

RENDO_API int rendo_fi_pgn_revisit_pgn_nodes(kel_pgn_node_list *list) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        return frame.plugin()->revisitPluginNodes(list);
    });
}

RENDO_API int rendo_fi_pgn_verify_qscombos(kel_splitnode *lone, kel_splitnode **nodes, int count) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        NodeArray<kel_splitnode> split(lone, nodes, count);
        return frame.plugin()->verifyQSCombos(split.nodes(), split.count());
    });
}

RENDO_API int rendo_fi_pgn_set_import_options(kel_splitnode *lone, kel_splitnode **nodes, int count,
                                              kel_host_infn *hosts, int transportable, void *extra) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        NodeArray<kel_splitnode> split(lone, nodes, count);
        return frame.plugin()->setImportOptions(split.nodes(), split.count(), hosts, transportable, extra);
    });
}

RENDO_API int rendo_fi_pgn_start_build_alttree(kel_domain *domain, kelm_objid **a, void *b) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->startBuildAltTree(domain, a, b);
    });
}

RENDO_API int rendo_fi_pgn_translate_resource_names(wchar_t **names, int count, wchar_t **out) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        if (names == nullptr || out == nullptr || count != 0) return KEL_EINVAL;
        return frame.plugin()->translateResourceNames(names, count, out);
    });
}

// ---- resources ----

RENDO_API int rendo_fi_pgn_enumerate_enclosures(kel_enclosure_node_list **list, int *count, wchar_t *text) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        return frame.plugin()->enumerateEnclosures(list, count, text);
    });
}

RENDO_API int rendo_fi_pgn_import_resource(wchar_t **outName, wchar_t *udid, wchar_t *a, wchar_t *hostKey, int flags,
                                           wchar_t **newUdid, wchar_t *b) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->importResource(outName, udid, a, hostKey, flags, newUdid, b);
    });
}

RENDO_API int rendo_fi_pgn_format(wchar_t **a, int b, wchar_t *c, wchar_t *d, wchar_t *e, int f, wchar_t ***g,
                                  int *h) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->format(a, b, c, d, e, f, g, h);
    });
}

RENDO_API int rendo_fi_pgn_enumerate_host_nodes(kel_host_node_list **list, int *count, wchar_t *text) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        return frame.plugin()->enumerateHostNodes(list, count, text);
    });
}

RENDO_API int rendo_fi_pgn_online_resource(wchar_t **a, int b, wchar_t *c, wchar_t *d, wchar_t *e, wchar_t *f,
                                           int g, wchar_t ***h, int *i) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->onlineResource(a, b, c, d, e, f, g, h, i);
    });
}

RENDO_API int rendo_fi_pgn_deport_resource(wchar_t *device, wchar_t *host, wchar_t *options, wchar_t *hostKey,
                                           int flags) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->deportResource(device, host, options, hostKey, flags);
    });
}

RENDO_API int rendo_fi_pgn_is_parent_pgn(wchar_t *a, int *b, int c) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->isParentPgn(a, b, c);
    });
}

RENDO_API int rendo_fi_pgn_unformat(wchar_t **a, int b, int c) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->unformat(a, b, c);
    });
}

RENDO_API int rendo_fi_pgn_pre_deport_resource(wchar_t *a, int b, wchar_t *c) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->preDeportResource(a, b, c);
    });
}

// ---- trees, backup sets and application status ----

RENDO_API int rendo_fi_pgn_refresh_tree(kel_domain *domain, int a, int b, kel_resource *r, int c, int *d, void *e,
                                        int f) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->refreshTree(domain, a, b, r, c, d, e, f);
    });
}

RENDO_API int rendo_fi_pgn_get_backupset(kel_domain *domain, int a, wchar_t **b, int c, kel_bkupset *set) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->getBackupset(domain, a, b, c, set);
    });
}

RENDO_API int rendo_fi_pgn_get_app_status(kel_domain *domain, int a, void *b) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->getAppStatus(domain, a, b);
    });
}

RENDO_API int rendo_fi_pgn_set_op_status(kel_domain *domain, int a) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->setOpStatus(domain, a);
    });
}

RENDO_API int rendo_fi_pgn_set_comp_status(kel_domain *domain, int a, wchar_t *b, int c) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->setCompStatus(domain, a, b, c);
    });
}

RENDO_API int rendo_fi_pgn_set_restorepaths(kel_domain *domain, wchar_t *a, int b) {
    return atBoundary(__func__, KEL_EFAIL, [&](const char *name) {
        EntryFrame frame(name);
        if (frame.delayedInitFailed()) return KEL_EDELAYEDINIT;
        return frame.plugin()->setRestorepaths(domain, a, b);
    });
}

} // extern "C"

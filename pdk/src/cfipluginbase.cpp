#include "pdk/cfipluginbase.h"

#include "pdk/cfistringtool.h"

namespace kelm_pdk_4_4 {

// Scope trace of a default operation.
#define PLUGINBASE_TRACE(op) CFiTraceLogFunction traceScope_(m_traceLog, "kelm_pdk_4_4::CFiPluginBase::" op)

namespace {
std::atomic<bool> g_shuttingDown{false};
} // namespace

CFiPluginBase::CFiPluginBase() = default;

CFiPluginBase::~CFiPluginBase() = default;

// ---- virtual operations ----

int CFiPluginBase::delayedInit() { return 0; }

CFiConfigParamInfoList &CFiPluginBase::globalConfigInfoList(int index, bool alternate) {
    int i = index != 0 ? 1 : 0;
    return alternate ? m_altLists[i] : m_globalLists[i];
}

int CFiPluginBase::init() {
    PLUGINBASE_TRACE("init");
    return 0;
}

void CFiPluginBase::fini() { PLUGINBASE_TRACE("fini"); }

int CFiPluginBase::claim(kelm_objid *, kelm_objid ***, int *) {
    PLUGINBASE_TRACE("claim");
    return 0;
}

int CFiPluginBase::supportsFiType(kel_domain *domain, char *) {
    PLUGINBASE_TRACE("supportsFiType");
    if (domain != nullptr && domain->fitype_out != nullptr) *domain->fitype_out = 0;
    return 0;
}

int CFiPluginBase::deportTree(kel_domain *, kel_domain *, kel_accessnode *) {
    PLUGINBASE_TRACE("deportTree");
    return 0;
}

int CFiPluginBase::importTreeNode(kel_domain *, kelm_objid **, kelm_objid **, int, kelm_objid **) {
    PLUGINBASE_TRACE("importTreeNode");
    return 0;
}

int CFiPluginBase::initNode(kel_domain *, kel_domain **, int, kelm_objid *) {
    PLUGINBASE_TRACE("initNode");
    return 0;
}

int CFiPluginBase::initAltNode(kel_domain *, kel_domain *, kel_domain *, bool) {
    PLUGINBASE_TRACE("initAltNode");
    return 0;
}

int CFiPluginBase::dispose(kel_domain *, kel_domain *, kel_splitnode *, kel_disposition) {
    PLUGINBASE_TRACE("dispose");
    return 0;
}

int CFiPluginBase::online(kel_domain *, kel_domain *, int, kel_disposition) {
    PLUGINBASE_TRACE("online");
    return 0;
}

int CFiPluginBase::errMsg(int code, const wchar_t **text) {
    PLUGINBASE_TRACE("errMsg");
    if (text == nullptr) return KEL_EINVAL;
    *text = nullptr;
    if (m_catalogManager.isNull()) return KEL_EINVAL;
    std::string id = CFiError::messageIdFor(code, m_providerName, m_messageIndexOffset);
    // The store of the catalog manager owns the text, so the pointer outlives
    // this call (until the framework deletes it or the manager goes).
    wchar_t *stored = nullptr;
    m_catalogManager->getLocalizedMessage(id.c_str(), "native", &stored);
    *text = stored;
    return 0;
}

int CFiPluginBase::buildAltTree(kel_domain *, char *, kelm_objid **, kelm_objid **, int, kelm_objid **) {
    PLUGINBASE_TRACE("buildAltTree");
    return 0;
}

int CFiPluginBase::quiesce(kel_quiescenode **, int, char *) {
    PLUGINBASE_TRACE("quiesce");
    return 0;
}

void CFiPluginBase::unquiesce(kel_quiescenode **, int) { PLUGINBASE_TRACE("unquiesce"); }

int CFiPluginBase::make(char *, kel_splitnode **, int, kelm_objid ***, int *) {
    PLUGINBASE_TRACE("make");
    return KEL_ENOTSUP;
}

int CFiPluginBase::makeSnapshots(CFiSessionPtr) {
    PLUGINBASE_TRACE("makeSnapshots");
    return KEL_ENOTSUP;
}

int CFiPluginBase::prepare(char *, kel_splitnode **, int, int) {
    PLUGINBASE_TRACE("prepare");
    return KEL_ENOTSUP;
}

int CFiPluginBase::prepareSnapshots(CFiSessionPtr) {
    PLUGINBASE_TRACE("prepareSnapshots");
    return 0;
}

int CFiPluginBase::select(char *, kel_splitnode **, int) {
    PLUGINBASE_TRACE("select");
    return KEL_ENOTSUP;
}

int CFiPluginBase::selectSnapshots(CFiSessionPtr) {
    PLUGINBASE_TRACE("selectSnapshots");
    return 0;
}

int CFiPluginBase::isReady(char *, kel_splitnode **, int) {
    PLUGINBASE_TRACE("isReady");
    return 0;
}

int CFiPluginBase::cacheDisable(kel_domain *, int) {
    PLUGINBASE_TRACE("cacheDisable");
    return 0;
}

void CFiPluginBase::cacheEnable(kel_domain *, int) { PLUGINBASE_TRACE("cacheEnable"); }

void CFiPluginBase::cacheFlush(kel_domain *, int) { PLUGINBASE_TRACE("cacheFlush"); }

int CFiPluginBase::interpose(kel_domain *, kelm_objid **, kelm_objid ***, int *) {
    PLUGINBASE_TRACE("interpose");
    return 0;
}

int CFiPluginBase::getAttr(kel_domain *, kel_domain *, kel_splitnode *, kel_attributes *) {
    PLUGINBASE_TRACE("getAttr");
    return 0;
}

int CFiPluginBase::getProviderInfo(kel_provider_list **) {
    PLUGINBASE_TRACE("getProviderInfo");
    return 0;
}

int CFiPluginBase::enumerateNodes(kel_node_list **list, int *, int, wchar_t *) {
    PLUGINBASE_TRACE("enumerateNodes");
    if (list == nullptr) return KEL_EINVAL;
    *list = nullptr;
    return 0;
}

int CFiPluginBase::enumerateAssociations(kel_assoc_list **list) {
    PLUGINBASE_TRACE("enumerateAssociations");
    if (list == nullptr) return KEL_EINVAL;
    *list = nullptr;
    return 0;
}

int CFiPluginBase::enumerateGroupNodes(kel_group_node_list **list) {
    PLUGINBASE_TRACE("enumerateGroupNodes");
    if (list == nullptr) return KEL_EINVAL;
    *list = nullptr;
    return 0;
}

int CFiPluginBase::enumerateFims(kel_fim_list **list) {
    PLUGINBASE_TRACE("enumerateFims");
    if (list != nullptr) *list = nullptr;
    return 0;
}

int CFiPluginBase::isValidNodeAssociation(kel_assoc *, int *) {
    PLUGINBASE_TRACE("isValidNodeAssociation");
    return KEL_ENOTSUP;
}

int CFiPluginBase::getAssociatedNodes(kel_node *, kel_node_list **list) {
    PLUGINBASE_TRACE("getAssociatedNodes");
    if (list == nullptr) return KEL_EINVAL;
    *list = nullptr;
    return 0;
}

int CFiPluginBase::checkNodeExistence(kel_domain *, int *) {
    PLUGINBASE_TRACE("checkNodeExistence");
    return KEL_ENOTSUP;
}

long CFiPluginBase::objctl(const WString &, CFiObjctlArgs &) {
    PLUGINBASE_TRACE("objctl");
    return 0;
}

int CFiPluginBase::processProviderState(kel_domain *, kel_blob *blob, kel_op_providerstate op) {
    PLUGINBASE_TRACE("processProviderState");
    if (op == KEL_PSTATE_RESET && blob != nullptr) {
        blob->data = nullptr;
        blob->size = nullptr;
    }
    return 0;
}

int CFiPluginBase::getLastError(kel_msg_info **out) {
    PLUGINBASE_TRACE("getLastError");
    if (out == nullptr) return KEL_EINVAL;
    // The record belongs to the error manager's message; the framework only reads it.
    *out = m_errorManager.isNull() ? nullptr : const_cast<kel_msg_info *>(m_errorManager->getLastError());
    return 0;
}

int CFiPluginBase::delLastError(kel_msg_info **out) {
    PLUGINBASE_TRACE("delLastError");
    if (!m_errorManager.isNull()) m_errorManager->deleteLastError(out);
    return 0;
}

int CFiPluginBase::getLocaleMessage(int *, kel_msg_info *info, const char *language, wchar_t **out) {
    PLUGINBASE_TRACE("getLocaleMessage");
    if (out == nullptr) return KEL_EINVAL;
    *out = nullptr;
    if (info == nullptr || m_catalogManager.isNull()) return KEL_EINVAL;
    m_catalogManager->getLocalizedMessage(info, language, out);
    return 0;
}

int CFiPluginBase::delLocaleMessage(wchar_t **text) {
    PLUGINBASE_TRACE("delLocaleMessage");
    if (text != nullptr && *text != nullptr && !m_catalogManager.isNull())
        m_catalogManager->deleteLocalizedMessage(text);
    return 0;
}

int CFiPluginBase::enableAccess(kel_node_subobj_list *list, long, int, int) {
    PLUGINBASE_TRACE("enableAccess");
    if (list == nullptr) return KEL_EINVAL;
    for (kel_node_subobj_list *e = list; e != nullptr; e = e->next)
        if (e->obj != nullptr) e->obj->flags &= ~KEL_OBJ_ACCESS_DISABLED;
    return 0;
}

int CFiPluginBase::disableAccess(kel_node_subobj_list *list, long) {
    PLUGINBASE_TRACE("disableAccess");
    if (list == nullptr) return KEL_EINVAL;
    for (kel_node_subobj_list *e = list; e != nullptr; e = e->next)
        if (e->obj != nullptr) e->obj->flags |= KEL_OBJ_ACCESS_DISABLED;
    return 0;
}

int CFiPluginBase::restore(kelm_objid **, kelm_objid **, long, wchar_t *, wchar_t *, long, long *) {
    PLUGINBASE_TRACE("restore");
    return KEL_ENOTSUP;
}

int CFiPluginBase::resync(kelm_objid **, kelm_objid **, long, wchar_t *, wchar_t *, long, long *) {
    PLUGINBASE_TRACE("resync");
    return 0;
}

int CFiPluginBase::getStatus(kelm_objid **, kelm_objid **, long count, wchar_t *, long, long *statuses) {
    PLUGINBASE_TRACE("getStatus");
    if (count != 0 && statuses != nullptr)
        for (long i = 0; i < count; ++i) statuses[i] = 8;
    return 0;
}

int CFiPluginBase::prePrepare(kel_domain *) {
    PLUGINBASE_TRACE("prePrepare");
    return 0;
}

int CFiPluginBase::queryValidSecondaries(wchar_t *, kelm_objid ***, long *count) {
    PLUGINBASE_TRACE("queryValidSecondaries");
    if (count != nullptr) *count = 0;
    return 0;
}

int CFiPluginBase::resourceStatus(kelm_objid *, long, long *, kel_msg_info **) {
    PLUGINBASE_TRACE("resourceStatus");
    return 0;
}

int CFiPluginBase::revisitPluginNodes(kel_pgn_node_list *) {
    PLUGINBASE_TRACE("revisitPluginNodes");
    return 0;
}

int CFiPluginBase::verifyQSCombos(kel_splitnode **, int) {
    PLUGINBASE_TRACE("verifyQSCombos");
    return 0;
}

int CFiPluginBase::startBuildAltTree(kel_domain *, kelm_objid **, void *) {
    PLUGINBASE_TRACE("startBuildAltTree");
    return 0;
}

int CFiPluginBase::translateResourceNames(wchar_t **, int, wchar_t **) {
    PLUGINBASE_TRACE("translateResourceNames");
    return 0;
}

int CFiPluginBase::enumerateEnclosures(kel_enclosure_node_list **, int *, wchar_t *) {
    PLUGINBASE_TRACE("enumerateEnclosures");
    return 0;
}

int CFiPluginBase::importResource(wchar_t **, wchar_t *, wchar_t *, wchar_t *, int, wchar_t **, wchar_t *) {
    PLUGINBASE_TRACE("importResource");
    return 0;
}

int CFiPluginBase::format(wchar_t **, int, wchar_t *, wchar_t *, wchar_t *, int, wchar_t ***, int *) {
    PLUGINBASE_TRACE("format");
    return 0;
}

int CFiPluginBase::enumerateHostNodes(kel_host_node_list **, int *, wchar_t *) {
    PLUGINBASE_TRACE("enumerateHostNodes");
    return 0;
}

int CFiPluginBase::onlineResource(wchar_t **, int, wchar_t *, wchar_t *, wchar_t *, wchar_t *, int, wchar_t ***,
                                  int *) {
    PLUGINBASE_TRACE("onlineResource");
    return 0;
}

int CFiPluginBase::deportResource(wchar_t *, wchar_t *, wchar_t *, wchar_t *, int) {
    PLUGINBASE_TRACE("deportResource");
    return 0;
}

int CFiPluginBase::isParentPgn(wchar_t *, int *, int) {
    PLUGINBASE_TRACE("isParentPgn");
    return 0;
}

int CFiPluginBase::unformat(wchar_t **, int, int) {
    PLUGINBASE_TRACE("unformat");
    return 0;
}

int CFiPluginBase::preDeportResource(wchar_t *, int, wchar_t *) {
    PLUGINBASE_TRACE("preDeportResource");
    return 0;
}

int CFiPluginBase::refreshTree(kel_domain *, int, int, kel_resource *, int, int *, void *, int) {
    PLUGINBASE_TRACE("refreshTree");
    return 0;
}

int CFiPluginBase::getBackupset(kel_domain *, int, wchar_t **, int, kel_bkupset *) {
    PLUGINBASE_TRACE("getBackupset");
    return 0;
}

int CFiPluginBase::getAppStatus(kel_domain *, int, void *) {
    PLUGINBASE_TRACE("getAppStatus");
    return 0;
}

int CFiPluginBase::setOpStatus(kel_domain *, int) {
    PLUGINBASE_TRACE("setOpStatus");
    return 0;
}

int CFiPluginBase::setCompStatus(kel_domain *, int, wchar_t *, int) {
    PLUGINBASE_TRACE("setCompStatus");
    return 0;
}

int CFiPluginBase::setRestorepaths(kel_domain *, wchar_t *, int) {
    PLUGINBASE_TRACE("setRestorepaths");
    return 0;
}

// ---- non-virtual operations ----

void CFiPluginBase::setProviderName(const WString &name) { m_providerName = name; }

WString CFiPluginBase::getProviderName() const { return m_providerName; }

void CFiPluginBase::setMessageIndexOffset(long offset) { m_messageIndexOffset = offset; }

void CFiPluginBase::registerErrorManager(const CFiErrorManagerPtr &p) { m_errorManager = p; }

void CFiPluginBase::registerCatalogManager(const CFiMessageCatalogManagerPtr &p) { m_catalogManager = p; }

void CFiPluginBase::registerPrivateDataManager(const CFiPrivateDataManagerPtr &p) { m_privateDataManager = p; }

void CFiPluginBase::registerSessionManager(const CFiSessionManagerPtr &p) { m_sessionManager = p; }

int CFiPluginBase::invokeDelayedInit() {
    CFiMutexWrapper lock(m_mutex);
    if (m_delayedInitDone) return 0;
    // Set first: a failing delayed initialisation is not run again.
    m_delayedInitDone = true;
    return delayedInit();
}

bool CFiPluginBase::isDelayedInitDone() {
    CFiMutexWrapper lock(m_mutex);
    return m_delayedInitDone;
}

bool CFiPluginBase::isShuttingDown(bool set) {
    if (set) g_shuttingDown.store(true);
    return g_shuttingDown.load();
}

void CFiPluginBase::addDefaultConfigInfoParam(CFiConfigParamInfo &info, int index, bool alternate) {
    CFiMutexWrapper lock(m_configMutex);
    globalConfigInfoList(index, alternate).addParamInfo(info);
}

int CFiPluginBase::setOwnerIds(const std::string &, long, long) {
    trace(3, "INFO: setOwnerIds done");
    return 0;
}

} // namespace kelm_pdk_4_4

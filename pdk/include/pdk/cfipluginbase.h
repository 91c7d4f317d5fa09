// Base class of a snapshot provider: one virtual operation per framework
// request with its default, and what every provider holds (name, mutex,
// registered managers, global parameter descriptions, delayed-init flag).
//
// Every default except delayedInit and globalConfigInfoList opens a trace
// scope "kelm_pdk_4_4::CFiPluginBase::<operation>". Defaults that write
// through an out-pointer skip a null one; defaults that need a manager that
// was never registered act as if it had nothing to give (no last error, no
// private data).
#ifndef PDK_CFIPLUGINBASE_H
#define PDK_CFIPLUGINBASE_H

#include "kelm/kel_types.h"
#include "pdk/cfibase.h"
#include "pdk/cficonfigparam.h"
#include "pdk/cfierror.h"
#include "pdk/cfimessagecatalog.h"
#include "pdk/cfiprivatedata.h"
#include "pdk/cfisession.h"
#include "pdk/cfitracelog.h"

#include <ace/Recursive_Thread_Mutex.h>

#include <atomic>
#include <string>

namespace kelm_pdk_4_4 {

class CFiPluginBase : public virtual CFiRefCount, public virtual CFiTraceable {
public:
    CFiPluginBase();
    ~CFiPluginBase() override;

    // ---- virtual operations, in the order of the operation table ----
    virtual int delayedInit();
    // The alternate-node list when alternate is true, else the global list.
    // Any non-zero index selects list 1.
    virtual CFiConfigParamInfoList &globalConfigInfoList(int index, bool alternate);
    virtual int init();
    virtual void fini();
    virtual int claim(kelm_objid *object, kelm_objid ***claimed, int *level);
    virtual int supportsFiType(kel_domain *domain, char *type);
    virtual int deportTree(kel_domain *domain, kel_domain *alt, kel_accessnode *access);
    virtual int importTreeNode(kel_domain *domain, kelm_objid **a, kelm_objid **b, int n, kelm_objid **c);
    virtual int initNode(kel_domain *domain, kel_domain **alt, int flags, kelm_objid *id);
    // Modes: 1 get values, 2 and 5 set values, 3 clear values, 4 get parameter
    // descriptions. 3 when the node has no private data. Texts handed back
    // are CFiStringTool::tstrdup copies that the framework frees; 5 when such
    // a copy cannot be allocated. A text that fails to parse leaves the
    // node's values as they were.
    virtual int config(kel_domain *domain, int mode, char *sessionId, kel_confspec *confspec);
    virtual int initAltNode(kel_domain *a, kel_domain *b, kel_domain *c, bool remote);
    virtual int reAccessTmpObj(kel_domain *domain, kelm_objid *id, char *splitType, kel_domain *tmp,
                               char *sessionId, kel_intent intent);
    virtual int reAccessAltNode(kel_domain *domain, kelm_objid *a, kelm_objid *b, char *sessionId,
                                kelm_objid **c, kelm_objid **d, int n, kel_intent intent);
    virtual void deInitNode(kel_domain *domain);
    virtual int dispose(kel_domain *a, kel_domain *b, kel_splitnode *split, kel_disposition disp);
    virtual int online(kel_domain *a, kel_domain *b, int n, kel_disposition disp);
    virtual int subobjList(kel_domain *domain, kelm_objid ***list, int *count);
    // *text is owned by the catalog manager's localized-text store and stays
    // valid until deleted there. 3 (and *text null) when no catalog manager is
    // registered or text is null.
    virtual int errMsg(int code, const wchar_t **text);
    virtual int buildAltTree(kel_domain *domain, char *type, kelm_objid **a, kelm_objid **b, int n,
                             kelm_objid **c);
    virtual int quiesce(kel_quiescenode **nodes, int count, char *context);
    virtual void unquiesce(kel_quiescenode **nodes, int count);
    virtual int make(char *context, kel_splitnode **nodes, int count, kelm_objid ***out, int *outCount);
    virtual int makeSnapshots(CFiSessionPtr session);
    virtual int prepare(char *context, kel_splitnode **nodes, int count, int flag);
    virtual int prepareSnapshots(CFiSessionPtr session);
    virtual int select(char *context, kel_splitnode **nodes, int count);
    virtual int selectSnapshots(CFiSessionPtr session);
    virtual int isReady(char *context, kel_splitnode **nodes, int count);
    virtual int cacheDisable(kel_domain *domain, int flag);
    virtual void cacheEnable(kel_domain *domain, int flag);
    virtual void cacheFlush(kel_domain *domain, int flag);
    virtual int interpose(kel_domain *domain, kelm_objid **a, kelm_objid ***b, int *n);
    virtual int getAttr(kel_domain *a, kel_domain *b, kel_splitnode *split, kel_attributes *attrs);
    virtual int getProviderInfo(kel_provider_list **list);
    virtual int enumerateNodes(kel_node_list **list, int *count, int selection, wchar_t *text);
    virtual int enumerateAssociations(kel_assoc_list **list);
    virtual int enumerateGroupNodes(kel_group_node_list **list);
    virtual int enumerateFims(kel_fim_list **list);
    virtual int isValidNodeAssociation(kel_assoc *assoc, int *valid);
    virtual int getAssociatedNodes(kel_node *node, kel_node_list **list);
    virtual int checkNodeExistence(kel_domain *domain, int *exists);
    virtual long objctl(const WString &command, CFiObjctlArgs &args);
    virtual int processProviderState(kel_domain *domain, kel_blob *blob, kel_op_providerstate op);
    virtual int getLastError(kel_msg_info **out);
    virtual int delLastError(kel_msg_info **out);
    virtual int getLocaleMessage(int *code, kel_msg_info *info, const char *language, wchar_t **out);
    virtual int delLocaleMessage(wchar_t **text);
    virtual int enableAccess(kel_node_subobj_list *list, long a, int b, int c);
    virtual int disableAccess(kel_node_subobj_list *list, long a);
    virtual int restore(kelm_objid **a, kelm_objid **b, long n, wchar_t *c, wchar_t *d, long e, long *f);
    virtual int resync(kelm_objid **a, kelm_objid **b, long n, wchar_t *c, wchar_t *d, long e, long *f);
    virtual int getStatus(kelm_objid **a, kelm_objid **b, long count, wchar_t *c, long d, long *statuses);
    virtual int prePrepare(kel_domain *domain);
    virtual int queryValidSecondaries(wchar_t *name, kelm_objid ***list, long *count);
    virtual int resourceStatus(kelm_objid *id, long a, long *b, kel_msg_info **info);
    virtual int revisitPluginNodes(kel_pgn_node_list *list);
    virtual int verifyQSCombos(kel_splitnode **nodes, int count);
    virtual int setImportOptions(kel_splitnode **nodes, int count, kel_host_infn *hosts, int transportable,
                                 void *extra);
    virtual int startBuildAltTree(kel_domain *domain, kelm_objid **a, void *b);
    virtual int translateResourceNames(wchar_t **names, int count, wchar_t **out);
    virtual int enumerateEnclosures(kel_enclosure_node_list **list, int *count, wchar_t *text);
    virtual int importResource(wchar_t **a, wchar_t *b, wchar_t *c, wchar_t *d, int e, wchar_t **f, wchar_t *g);
    virtual int format(wchar_t **a, int b, wchar_t *c, wchar_t *d, wchar_t *e, int f, wchar_t ***g, int *h);
    virtual int enumerateHostNodes(kel_host_node_list **list, int *count, wchar_t *text);
    virtual int onlineResource(wchar_t **a, int b, wchar_t *c, wchar_t *d, wchar_t *e, wchar_t *f, int g,
                               wchar_t ***h, int *i);
    virtual int deportResource(wchar_t *a, wchar_t *b, wchar_t *c, wchar_t *d, int e);
    virtual int isParentPgn(wchar_t *a, int *b, int c);
    virtual int unformat(wchar_t **a, int b, int c);
    virtual int preDeportResource(wchar_t *a, int b, wchar_t *c);
    virtual int refreshTree(kel_domain *domain, int a, int b, kel_resource *r, int c, int *d, void *e, int f);
    virtual int getBackupset(kel_domain *domain, int a, wchar_t **b, int c, kel_bkupset *set);
    virtual int getAppStatus(kel_domain *domain, int a, void *b);
    virtual int setOpStatus(kel_domain *domain, int a);
    virtual int setCompStatus(kel_domain *domain, int a, wchar_t *b, int c);
    virtual int setRestorepaths(kel_domain *domain, wchar_t *a, int b);

    // ---- non-virtual operations ----
    void setProviderName(const WString &name);
    WString getProviderName() const;
    void setMessageIndexOffset(long offset);
    long getMessageIndexOffset() const { return m_messageIndexOffset; }
    void registerErrorManager(const CFiErrorManagerPtr &p);
    void registerCatalogManager(const CFiMessageCatalogManagerPtr &p);
    void registerPrivateDataManager(const CFiPrivateDataManagerPtr &p);
    void registerSessionManager(const CFiSessionManagerPtr &p);
    ACE_Recursive_Thread_Mutex &getMutex() { return m_mutex; }
    // Runs delayedInit once per object under the plug-in mutex; the flag is
    // set before the call, so a failure is never retried (later calls get 0).
    int invokeDelayedInit();
    bool isDelayedInitDone();
    // Sets the process-wide flag when set is true; returns the flag.
    static bool isShuttingDown(bool set);
    void addDefaultConfigInfoParam(CFiConfigParamInfo &info, int index, bool alternate);
    int setOwnerIds(const std::string &owner, long a, long b);

    const CFiErrorManagerPtr &errorManager() const { return m_errorManager; }
    const CFiMessageCatalogManagerPtr &catalogManager() const { return m_catalogManager; }
    const CFiPrivateDataManagerPtr &privateDataManager() const { return m_privateDataManager; }
    const CFiSessionManagerPtr &sessionManager() const { return m_sessionManager; }

protected:
    WString m_providerName;
    ACE_Recursive_Thread_Mutex m_mutex;
    CFiErrorManagerPtr m_errorManager;
    CFiMessageCatalogManagerPtr m_catalogManager;
    CFiPrivateDataManagerPtr m_privateDataManager;
    CFiSessionManagerPtr m_sessionManager;
    CFiConfigParamInfoList m_globalLists[2];
    CFiConfigParamInfoList m_altLists[2];
    long m_messageIndexOffset = 6000;
    bool m_delayedInitDone = false; // guarded by m_mutex
    // Serialises config and addDefaultConfigInfoParam: the parameter lists
    // and a private data shared by same-named nodes are reached by several
    // framework threads.
    ACE_Recursive_Thread_Mutex m_configMutex;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFIPLUGINBASE_H

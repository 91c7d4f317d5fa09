// What the provider remembers about a framework node between calls, and the
// factory that shares it between nodes of the same name.
#ifndef PDK_CFIPRIVATEDATA_H
#define PDK_CFIPRIVATEDATA_H

#include "kelm/kel_types.h"
#include "pdk/cfibase.h"
#include "pdk/cficonfigparam.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kelm_pdk_4_4 {

class CFiUdid;

// Per-node memory of the provider. Lists are selected by index 0 or 1; any
// non-zero index selects list 1, as the configuration operation does.
// The scalar fields and the creation of lists are locked; the lists returned
// by reference are used by one operation at a time (the framework does not run
// two operations on one node at once).
class CFiPrivateData : public virtual CFiRefCount, public virtual CFiTraceable {
public:
    // The configuration parameter target selection reads (list index 1).
    static constexpr const char *kSnapshotResourceSpec = "snapshot_resource_spec";

    // object: the node's object record; its name is copied here, because
    // nodes that share this private data may outlive the record.
    CFiPrivateData(kelm_objid *object, bool isAltNode);
    ~CFiPrivateData() override;

    virtual bool hasConfigInfoList(int index) const;
    virtual bool hasConfigDataList(int index) const;
    // Completes value list index with the defaults of descriptions (or of this
    // private data's own description list when null). A default key counts as
    // present when a key the list held before the call contains it.
    virtual void addDefaultConfigParamsToDataList(int index, CFiConfigParamInfoList *descriptions);
    // Create the list when absent.
    virtual CFiConfigParamInfoList &configInfoList(int index);
    virtual CFiConfigParamDataList &configDataList(int index);
    virtual void setIntent(kel_intent intent);
    virtual kel_intent getIntent() const;
    virtual void setSplitType(const char *type);
    virtual std::string getSplitType() const;
    virtual void setSessionId(const char *id);
    virtual std::string getSessionId() const;
    virtual std::vector<WString> getHostList() const;
    virtual void setHostList(kel_host_infn *hosts);
    virtual bool getTransportable() const;
    virtual void setTransportable(bool t);
    // Accepts the blob and ignores it; 0.
    virtual int setNodeState(kel_blob *blob);
    // Fills blob with the node state text (wide, framework-owned buffer).
    // 0; 3 for a null blob; 5 when the buffer cannot be allocated.
    virtual int getNodeState(kel_blob *blob);
    virtual WString getObjName() const;
    virtual void addSubObject(kelm_objid *id);
    virtual kelm_objid **getSubObjectList();
    virtual int getSubObjectListLength() const;
    virtual void setIsAltNode(bool alt);
    virtual bool getIsAltNode() const;
    virtual std::string getConfiguredTarget() const;
    virtual std::vector<std::string> getTargets() const;
    virtual void addTarget(const std::string &target);
    virtual void setConfiguredTarget(const std::string &target);
    // Chooses the target from "snapshot_resource_spec": 0 and the configured
    // target set, or 6 with one level-1 trace line. Never throws.
    virtual int selectTargetFromConfigData();

    // The node state text before its conversion to wide.
    std::string nodeStateText() const;

private:
    static int slot(int index) { return index != 0 ? 1 : 0; }
    int selectTarget(const CFiUdid &udid, const std::string &udidText, const std::string &resourceSpec);

    mutable ACE_Thread_Mutex m_lock;
    // The name of the node's object record, copied: the record belongs to the
    // node that created this private data, which may go before the others.
    WString m_name;
    std::vector<kelm_objid *> m_subObjects;
    bool m_isAltNode;
    std::string m_sessionId;
    std::string m_splitType;
    std::string m_configuredTarget;
    std::vector<std::string> m_targets;
    bool m_transportable = false;
    std::vector<WString> m_hostList;
    kel_intent m_intent = KEL_INTENT_NONE;
    std::unique_ptr<CFiConfigParamInfoList> m_infoLists[2];
    std::unique_ptr<CFiConfigParamDataList> m_dataLists[2];
};
using CFiPrivateDataPtr = CFiSmartPtr<CFiPrivateData, CFiNullAllocator>;

// Creates private data on demand and shares it between nodes of one name.
// A node holds its private data in its nineteenth field (pgn_private): a heap
// cell holding a CFiPrivateDataPtr, made and freed only by the factory.
class CFiPrivateDataFactory : public virtual CFiTraceable {
public:
    ~CFiPrivateDataFactory() override;
    // The node's private data, or empty (null node, none yet).
    virtual CFiPrivateDataPtr get(kel_domain *node) = 0;
    // The node's private data, made or shared by name when absent. Empty for a
    // null node or a node without an object record or name.
    virtual CFiPrivateDataPtr getOrCreate(kel_domain *node, bool alternate) = 0;
    // Drops the node's reference; the map entry goes when it was the last.
    virtual void release(kel_domain *node) = 0;
};

// All operations (and setTraceLog) take one lock, which also covers the
// nodes' private-data fields.
class CFiPrivateDataConcreteFactory : public CFiPrivateDataFactory {
public:
    CFiPrivateDataConcreteFactory();
    ~CFiPrivateDataConcreteFactory() override;
    void setTraceLog(const CFiTraceLogPtr &log) override;
    CFiPrivateDataPtr get(kel_domain *node) override;
    CFiPrivateDataPtr getOrCreate(kel_domain *node, bool alternate) override;
    void release(kel_domain *node) override;
    // Entries of the ordinary or the alternate-node map (for tests and tools).
    size_t mapSize(bool alternate) const;

private:
    struct Impl;
    Impl *m_impl;
};

// Singleton that owns the private data factory.
class CFiPrivateDataManager : public virtual CFiRefCount, public virtual CFiTraceable {
public:
    CFiPrivateDataManager();
    ~CFiPrivateDataManager() override;
    void setTraceLog(const CFiTraceLogPtr &log) override; // passes it on to the factory
    CFiPrivateDataFactory *getFactory();

private:
    std::unique_ptr<CFiPrivateDataFactory> m_factory;
};
using CFiPrivateDataManagerPtr = CFiSmartPtr<CFiPrivateDataManager, CFiContextSingletonAllocator>;

} // namespace kelm_pdk_4_4

#endif // PDK_CFIPRIVATEDATA_H

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

class CFiPrivateData : public virtual CFiRefCount, public virtual CFiTraceable {
public:
    CFiPrivateData(kelm_objid *object, bool isAltNode);
    ~CFiPrivateData() override;

    virtual bool hasConfigInfoList(int index) const;
    virtual bool hasConfigDataList(int index) const;
    virtual void addDefaultConfigParamsToDataList(int index, CFiConfigParamInfoList *descriptions);
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
    virtual int setNodeState(kel_blob *blob);
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
    virtual int selectTargetFromConfigData();

private:
    kelm_objid *m_object;
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

class CFiPrivateDataFactory : public virtual CFiTraceable {
public:
    ~CFiPrivateDataFactory() override;
    virtual CFiPrivateDataPtr get(kel_domain *node) = 0;
    virtual CFiPrivateDataPtr getOrCreate(kel_domain *node, bool alternate) = 0;
    virtual void release(kel_domain *node) = 0;
};

class CFiPrivateDataConcreteFactory : public CFiPrivateDataFactory {
public:
    CFiPrivateDataConcreteFactory();
    ~CFiPrivateDataConcreteFactory() override;
    CFiPrivateDataPtr get(kel_domain *node) override;
    CFiPrivateDataPtr getOrCreate(kel_domain *node, bool alternate) override;
    void release(kel_domain *node) override;

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

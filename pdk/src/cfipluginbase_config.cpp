// The configuration operation of the plug-in base and the defaults that work
// on a node's private data.
#include "pdk/cfipluginbase.h"

#include "pdk/cfistringtool.h"

namespace kelm_pdk_4_4 {

#define PLUGINBASE_TRACE(op) CFiTraceLogFunction traceScope_(m_traceLog, "kelm_pdk_4_4::CFiPluginBase::" op)

namespace {

enum ConfigMode { kGetValues = 1, kSetValues = 2, kClearValues = 3, kGetParams = 4, kSetValues2 = 5 };

const wchar_t *orEmpty(const wchar_t *s) { return s != nullptr ? s : L""; }

// The node is an alternate node when its link is set and active and the
// link's back record points at the node itself.
bool isAlternateNode(const kel_domain *domain) {
    const kel_altlink *link = domain->altlink;
    return link != nullptr && link->active != 0 && link->back != nullptr && link->back->node == domain;
}

// Hands xml to the framework as a tstrdup copy, or null when xml is empty.
// False when the copy could not be allocated.
bool handOut(const WString &xml, wchar_t *&out) {
    out = nullptr;
    if (xml.length() == 0) return true;
    out = CFiStringTool::tstrdup(xml);
    return out != nullptr;
}

CFiPrivateDataFactory *pluginFactory(const CFiPrivateDataManagerPtr &manager) {
    return manager.isNull() ? nullptr : manager->getFactory();
}

} // namespace

int CFiPluginBase::config(kel_domain *domain, int mode, char *sessionId, kel_confspec *confspec) {
    PLUGINBASE_TRACE("config");
    CFiPrivateDataFactory *factory = pluginFactory(m_privateDataManager);
    if (domain == nullptr || confspec == nullptr || factory == nullptr) return KEL_EINVAL;
    CFiMutexWrapper lock(m_configMutex);

    CFiPrivateDataPtr pd = factory->get(domain);
    if (pd.isNull()) return KEL_EINVAL;
    trace(3, " config str %S \n", orEmpty(confspec->text));
    pd->setSessionId(sessionId != nullptr ? sessionId : "");
    const bool alternate = isAlternateNode(domain);

    if (confspec->list_select == 0 && confspec->active == 0) {
        confspec->text = nullptr;
        return 0;
    }
    const int index = confspec->list_select != 0 ? 1 : 0;
    wchar_t *out = nullptr;
    bool copied = true;

    switch (mode) {
    case kGetValues: {
        if (!pd->hasConfigDataList(index)) {
            if (pd->hasConfigInfoList(index)) {
                CFiConfigParamInfoList &info = pd->configInfoList(index);
                if (!info.empty()) {
                    CFiConfigParamDataList &data = pd->configDataList(index);
                    data = info.getDefaultDataList();
                    data.updateXML();
                    copied = handOut(data.getXML(), out);
                }
            } else {
                CFiConfigParamDataList defaults = globalConfigInfoList(index, false).getDefaultDataList();
                if (!defaults.empty()) {
                    defaults.updateXML();
                    copied = handOut(defaults.getXML(), out);
                }
            }
        } else {
            CFiConfigParamDataList &data = pd->configDataList(index);
            if (!data.empty()) {
                data.updateXML();
                copied = handOut(data.getXML(), out);
            }
        }
        confspec->text = out;
        trace(1, "GET: Mode[%d]: %S \n", index, orEmpty(out));
        return copied ? 0 : KEL_EMALLOC;
    }
    case kSetValues:
    case kSetValues2: {
        if (confspec->text == nullptr) {
            trace(1, "ERROR: SET: Mode[%d], Invalid config string.\n", mode);
            return 0;
        }
        // Parsed aside first: a text that fails to parse must not replace the
        // node's values (nor leave the bad text as the list's XML). The set
        // still leaves the node with a data list, empty when it had none, so
        // that a later get answers null rather than the defaults.
        CFiConfigParamDataList parsed;
        int rc = parsed.parse(WString(confspec->text));
        if (rc != 0) {
            trace(1, "ERROR: SET: Mode[%d]: Invalid XML [%S] \n", mode, confspec->text);
            pd->configDataList(index);
            confspec->text = nullptr;
            return rc;
        }
        pd->configDataList(index) = parsed;
        if (pd->hasConfigInfoList(index))
            pd->addDefaultConfigParamsToDataList(index, nullptr);
        else
            pd->addDefaultConfigParamsToDataList(index, &globalConfigInfoList(index, false));
        CFiConfigParamDataList &data = pd->configDataList(index);
        data.updateXML();
        copied = handOut(data.getXML(), out);
        confspec->text = out;
        return copied ? 0 : KEL_EMALLOC;
    }
    case kClearValues:
        if (pd->hasConfigDataList(index)) pd->configDataList(index).clear();
        return 0;
    case kGetParams: {
        if (pd->hasConfigInfoList(index) && !pd->configInfoList(index).empty()) {
            CFiConfigParamInfoList &info = pd->configInfoList(index);
            info.updateXML();
            copied = handOut(info.getXML(), out);
        } else {
            CFiConfigParamInfoList &info = globalConfigInfoList(index, alternate);
            if (!info.empty()) {
                info.updateXML();
                copied = handOut(info.getXML(), out);
            }
        }
        confspec->text = out;
        trace(3, "GETPARAM: Mode[%d]: %S \n", mode, orEmpty(out));
        return copied ? 0 : KEL_EMALLOC;
    }
    default:
        return 0;
    }
}

int CFiPluginBase::reAccessTmpObj(kel_domain *domain, kelm_objid *, char *splitType, kel_domain *,
                                  char *sessionId, kel_intent intent) {
    PLUGINBASE_TRACE("reAccessTmpObj");
    CFiPrivateDataFactory *factory = pluginFactory(m_privateDataManager);
    if (domain == nullptr || factory == nullptr) return 0;
    CFiPrivateDataPtr pd = factory->getOrCreate(domain, false);
    if (pd.isNull()) return 0;
    pd->setIntent(intent);
    if (sessionId != nullptr) pd->setSessionId(sessionId);
    if (splitType != nullptr) pd->setSplitType(splitType);
    return 0;
}

int CFiPluginBase::reAccessAltNode(kel_domain *domain, kelm_objid *, kelm_objid *, char *sessionId, kelm_objid **,
                                   kelm_objid **, int, kel_intent intent) {
    PLUGINBASE_TRACE("reAccessAltNode");
    CFiPrivateDataFactory *factory = pluginFactory(m_privateDataManager);
    if (domain == nullptr || factory == nullptr) return 0;
    CFiPrivateDataPtr pd = factory->getOrCreate(domain, false);
    if (pd.isNull()) return 0;
    pd->setIntent(intent);
    if (sessionId != nullptr) pd->setSessionId(sessionId);
    return 0;
}

void CFiPluginBase::deInitNode(kel_domain *domain) {
    PLUGINBASE_TRACE("deInitNode");
    CFiPrivateDataFactory *factory = pluginFactory(m_privateDataManager);
    if (domain != nullptr && factory != nullptr) factory->release(domain);
}

int CFiPluginBase::subobjList(kel_domain *domain, kelm_objid ***list, int *count) {
    PLUGINBASE_TRACE("subobjList");
    CFiPrivateDataFactory *factory = pluginFactory(m_privateDataManager);
    if (domain == nullptr || list == nullptr || count == nullptr || factory == nullptr) return 0;
    CFiPrivateDataPtr pd = factory->get(domain);
    if (pd.isNull()) return 0;
    *list = pd->getSubObjectList();
    *count = pd->getSubObjectListLength();
    for (int i = 0; i < *count; ++i) {
        kelm_objid *id = (*list)[i];
        trace(3, "Info: subobjList, list element [%d,%S]", i, id != nullptr ? orEmpty(id->name) : L"");
    }
    return 0;
}

int CFiPluginBase::setImportOptions(kel_splitnode **nodes, int count, kel_host_infn *hosts, int transportable,
                                    void *) {
    PLUGINBASE_TRACE("setImportOptions");
    CFiPrivateDataFactory *factory = pluginFactory(m_privateDataManager);
    if (nodes == nullptr || factory == nullptr) return 0;
    for (int i = 0; i < count; ++i) {
        if (nodes[i] == nullptr || nodes[i]->domain == nullptr) continue;
        CFiPrivateDataPtr pd = factory->get(nodes[i]->domain);
        if (pd.isNull()) continue;
        pd->setHostList(hosts);
        pd->setTransportable(transportable != 0);
    }
    return 0;
}

} // namespace kelm_pdk_4_4

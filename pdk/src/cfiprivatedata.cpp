#include "pdk/cfiprivatedata.h"

#include "kelm/kelm_util.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"
#include "pdk/cfiudid.h"

#include <cstring>
#include <set>

namespace kelm_pdk_4_4 {

using Guard = ACE_Guard<ACE_Thread_Mutex>;

CFiPrivateData::CFiPrivateData(kelm_objid *object, bool isAltNode)
    : m_name(object != nullptr && object->name != nullptr ? WString(object->name) : WString()),
      m_isAltNode(isAltNode) {}

CFiPrivateData::~CFiPrivateData() = default;

bool CFiPrivateData::hasConfigInfoList(int index) const {
    Guard g(m_lock);
    return m_infoLists[slot(index)] != nullptr;
}

bool CFiPrivateData::hasConfigDataList(int index) const {
    Guard g(m_lock);
    return m_dataLists[slot(index)] != nullptr;
}

CFiConfigParamInfoList &CFiPrivateData::configInfoList(int index) {
    Guard g(m_lock);
    std::unique_ptr<CFiConfigParamInfoList> &list = m_infoLists[slot(index)];
    if (!list) list.reset(new CFiConfigParamInfoList());
    return *list;
}

CFiConfigParamDataList &CFiPrivateData::configDataList(int index) {
    Guard g(m_lock);
    std::unique_ptr<CFiConfigParamDataList> &list = m_dataLists[slot(index)];
    if (!list) list.reset(new CFiConfigParamDataList());
    return *list;
}

void CFiPrivateData::addDefaultConfigParamsToDataList(int index, CFiConfigParamInfoList *descriptions) {
    CFiConfigParamDataList defaults;
    if (descriptions != nullptr)
        defaults = descriptions->getDefaultDataList();
    else if (hasConfigInfoList(index)) // never create an empty description list as a side effect
        defaults = configInfoList(index).getDefaultDataList();
    std::vector<std::string> defaultKeys = defaults.getKeys();
    if (defaultKeys.empty()) return;

    CFiConfigParamDataList &values = configDataList(index);
    std::vector<std::string> existing = values.getKeys();
    if (existing.empty()) {
        values = defaults;
        return;
    }
    // Keys are matched against the list as it was, so one default never hides
    // another default that it happens to contain.
    for (const std::string &key : defaultKeys) {
        bool present = false;
        for (const std::string &have : existing) {
            if (have.find(key) != std::string::npos) {
                present = true;
                break;
            }
        }
        if (!present) values.addParamData(*defaults.getParamData(key));
    }
}

void CFiPrivateData::setIntent(kel_intent intent) {
    Guard g(m_lock);
    m_intent = intent;
}
kel_intent CFiPrivateData::getIntent() const {
    Guard g(m_lock);
    return m_intent;
}

void CFiPrivateData::setSplitType(const char *type) {
    Guard g(m_lock);
    m_splitType = type != nullptr ? type : "";
}
std::string CFiPrivateData::getSplitType() const {
    Guard g(m_lock);
    return m_splitType;
}

void CFiPrivateData::setSessionId(const char *id) {
    Guard g(m_lock);
    m_sessionId = id != nullptr ? id : "";
}
std::string CFiPrivateData::getSessionId() const {
    Guard g(m_lock);
    return m_sessionId;
}

std::vector<WString> CFiPrivateData::getHostList() const {
    Guard g(m_lock);
    return m_hostList;
}

// An element of the host list: first field its wide name, second the next
// element. The record is opaque in the framework header, hence the casts.
void CFiPrivateData::setHostList(kel_host_infn *hosts) {
    Guard g(m_lock);
    std::set<const kel_host_infn *> seen; // a looped list ends at the first repeat
    for (const kel_host_infn *h = hosts; h != nullptr && seen.insert(h).second;
         h = static_cast<const kel_host_infn *>(h->opaque[1])) {
        const auto *name = static_cast<const wchar_t *>(h->opaque[0]);
        if (name != nullptr) m_hostList.push_back(WString(name));
    }
}

bool CFiPrivateData::getTransportable() const {
    Guard g(m_lock);
    return m_transportable;
}
void CFiPrivateData::setTransportable(bool t) {
    Guard g(m_lock);
    m_transportable = t;
}

int CFiPrivateData::setNodeState(kel_blob * /*blob*/) { return 0; }

std::string CFiPrivateData::nodeStateText() const {
    Guard g(m_lock);
    return "<NODE_NAME>" + CFiStringTool::toNarrow(m_name) + "</NODE_NAME>\n" + "<IS_ALT_NODE>" +
           (m_isAltNode ? "true" : "false") + "</IS_ALT_NODE>\n" + "<SESSION_ID>" + m_sessionId + "</SESSION_ID>\n";
}

int CFiPrivateData::getNodeState(kel_blob *blob) {
    if (blob == nullptr) return 3;
    std::wstring text = CFiStringTool::toStdWide(nodeStateText());
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (bytes > UINT32_MAX) return 5;
    void *buf = kelm_alloc_buf(static_cast<uint32_t>(bytes));
    if (buf == nullptr) return 5;
    std::memcpy(buf, text.c_str(), bytes);
    blob->size = reinterpret_cast<void *>(static_cast<uintptr_t>(bytes));
    blob->data = buf;
    blob->kind = 1;
    return 0;
}

WString CFiPrivateData::getObjName() const {
    Guard g(m_lock);
    return m_name;
}

void CFiPrivateData::addSubObject(kelm_objid *id) {
    Guard g(m_lock);
    m_subObjects.push_back(id);
}
kelm_objid **CFiPrivateData::getSubObjectList() {
    Guard g(m_lock);
    return m_subObjects.empty() ? nullptr : m_subObjects.data();
}
int CFiPrivateData::getSubObjectListLength() const {
    Guard g(m_lock);
    return static_cast<int>(m_subObjects.size());
}

void CFiPrivateData::setIsAltNode(bool alt) {
    Guard g(m_lock);
    m_isAltNode = alt;
}
bool CFiPrivateData::getIsAltNode() const {
    Guard g(m_lock);
    return m_isAltNode;
}

std::string CFiPrivateData::getConfiguredTarget() const {
    Guard g(m_lock);
    return m_configuredTarget;
}
std::vector<std::string> CFiPrivateData::getTargets() const {
    Guard g(m_lock);
    return m_targets;
}
void CFiPrivateData::addTarget(const std::string &target) {
    Guard g(m_lock);
    m_targets.push_back(target);
}
void CFiPrivateData::setConfiguredTarget(const std::string &target) {
    Guard g(m_lock);
    m_configuredTarget = target;
}

int CFiPrivateData::selectTargetFromConfigData() {
    CFiTraceLogFunction fn(m_traceLog, "kelm_pdk_4_4::CFiPrivateData::selectTargetFromConfigData");
    const WString name = getObjName();
    const std::string udidText = CFiStringTool::toNarrow(name);
    std::unique_ptr<CFiUdid> udid;
    try {
        udid.reset(new CFiUdid(udidText));
    } catch (const CFiUdidException &e) {
        // Failures of target selection are statuses, never exceptions.
        trace(1, "Error: Node name [%S] is not a valid UDID (code %u), no target can be selected.", name.c_str(),
              static_cast<unsigned>(e.code()));
        return 6;
    }
    trace(3, "called for UDID [%s] \n", udidText.c_str());

    if (!hasConfigDataList(1)) {
        trace(1, "Error: No snapshot configuration data has been specified for [%S]", name.c_str());
        return 6;
    }
    std::string resourceSpec;
    if (configDataList(1).getValue(kSnapshotResourceSpec, resourceSpec) != 0) {
        trace(1, "Configuration data parameter \"%s\" unspecified for object [%S].", kSnapshotResourceSpec,
              name.c_str());
        return 6;
    }
    trace(3, "FI_CONFIG_PARAM_SNAPSHOT_RESOURCE_SPEC: [%s]", resourceSpec.c_str());
    return selectTarget(*udid, udidText, resourceSpec);
}

int CFiPrivateData::selectTarget(const CFiUdid &udid, const std::string &udidText, const std::string &resourceSpec) {
    const WString name = getObjName();
    std::vector<std::string> sources =
        resourceSpec.empty() ? std::vector<std::string>()
                     : CFiStringTool::tokenize(CFiStringTool::convertFromXmlSpecialCharacters(resourceSpec), "[]&\r\n");
    if (sources.empty()) {
        trace(1, "Configuration \"%s\" has no resources specified for source [%S].", resourceSpec.c_str(), name.c_str());
        return 6;
    }
    {
        Guard g(m_lock);
        m_targets.clear();
    }
    for (const std::string &source : sources) {
        trace(3, "Info: resourceSpec [%s] \n", source.c_str());
        std::vector<std::string> items = CFiStringTool::tokenize(source, ";");
        if (items.empty()) {
            trace(1, "Source configuration \"%s\" has not targets specified for [%S].", source.c_str(), name.c_str());
            return 6;
        }
        std::string enclosure;
        bool found = false;
        for (size_t i = 0; i < items.size(); ++i) {
            const std::string &item = items[i];
            trace(3, "resourceSpec [%s] \n", item.c_str());
            std::string lun;
            size_t sep = item.find("##");
            if (sep != std::string::npos) {
                enclosure = item.substr(0, sep);
                lun = item.substr(sep + 2);
            } else {
                lun = item; // the enclosure stays as the previous item left it
            }
            trace(6, "RESINFO: [%s][%s]", enclosure.c_str(), lun.c_str());
            if (lun.empty()) {
                trace(1, "Source configuration \"%s\" has no device data specified for [%S].", item.c_str(),
                      name.c_str());
                return 6;
            }
            if (i == 0 && !found) {
                if (enclosure.empty()) {
                    trace(1, "Source configuration \"%s\" has no enclosure data specified for [%S].", item.c_str(),
                          name.c_str());
                    return 6;
                }
                if (!CFiStringTool::equalsNoCase(lun, udid.m_lun) ||
                    !CFiStringTool::equalsNoCase(enclosure, udid.m_enclosure))
                    break; // not this node's source: try the next entry
                trace(3, "Source found [%s] \n", udidText.c_str());
                found = true;
            } else if (found) {
                addTarget(lun);
            }
        }
        if (!found) continue;
        std::vector<std::string> targets = getTargets();
        if (targets.empty()) {
            trace(1, "Source configuration found, but no targets are specified for [%S].", name.c_str());
            return 6;
        }
        // The LUN is the last field of the UDID text: replace that suffix, so
        // vendor, product and enclosure stay exactly as the node has them.
        std::string target = udidText.substr(0, udidText.size() - udid.m_lun.size()) + targets.front();
        setConfiguredTarget(target);
        trace(3, "Target Udid [%s] \n", target.c_str());
        return 0;
    }
    trace(1, "No matching source specification found for [%S].", name.c_str());
    return 6;
}

// ---- factory ----

CFiPrivateDataFactory::~CFiPrivateDataFactory() = default;

struct CFiPrivateDataConcreteFactory::Impl {
    mutable ACE_Thread_Mutex lock;
    std::map<std::string, CFiPrivateDataPtr> nodes;
    std::map<std::string, CFiPrivateDataPtr> altNodes;
};

namespace {
CFiPrivateDataPtr *cellOf(kel_domain *node) { return static_cast<CFiPrivateDataPtr *>(node->pgn_private); }

// The node's name as the maps key it; false when the node has none.
bool nameOf(const kel_domain *node, std::string &name) {
    if (node->obj == nullptr || node->obj->name == nullptr) return false;
    name = CFiStringTool::toNarrow(node->obj->name);
    return true;
}
} // namespace

CFiPrivateDataConcreteFactory::CFiPrivateDataConcreteFactory() : m_impl(new Impl()) {}

CFiPrivateDataConcreteFactory::~CFiPrivateDataConcreteFactory() { delete m_impl; }

void CFiPrivateDataConcreteFactory::setTraceLog(const CFiTraceLogPtr &log) {
    Guard g(m_impl->lock);
    CFiTraceable::setTraceLog(log);
}

CFiPrivateDataPtr CFiPrivateDataConcreteFactory::get(kel_domain *node) {
    if (node == nullptr) return CFiPrivateDataPtr();
    Guard g(m_impl->lock);
    CFiPrivateDataPtr *cell = cellOf(node);
    return cell != nullptr ? *cell : CFiPrivateDataPtr();
}

CFiPrivateDataPtr CFiPrivateDataConcreteFactory::getOrCreate(kel_domain *node, bool alternate) {
    if (node == nullptr) return CFiPrivateDataPtr();
    Guard g(m_impl->lock);
    if (CFiPrivateDataPtr *cell = cellOf(node)) return *cell;
    std::string name;
    if (!nameOf(node, name)) return CFiPrivateDataPtr();
    std::map<std::string, CFiPrivateDataPtr> &map = alternate ? m_impl->altNodes : m_impl->nodes;
    auto it = map.find(name);
    if (it == map.end()) {
        CFiPrivateDataPtr data(new CFiPrivateData(node->obj, alternate));
        data->setTraceLog(m_traceLog);
        it = map.emplace(name, data).first;
    }
    node->pgn_private = new CFiPrivateDataPtr(it->second);
    return it->second;
}

void CFiPrivateDataConcreteFactory::release(kel_domain *node) {
    if (node == nullptr) return;
    Guard g(m_impl->lock);
    bool alternate = false;
    if (CFiPrivateDataPtr *cell = cellOf(node)) {
        alternate = (*cell)->getIsAltNode();
        delete cell;
        node->pgn_private = nullptr;
    }
    std::string name;
    if (!nameOf(node, name)) return;
    std::map<std::string, CFiPrivateDataPtr> &map = alternate ? m_impl->altNodes : m_impl->nodes;
    auto it = map.find(name);
    if (it != map.end() && it->second->getCount() == 1) map.erase(it);
}

size_t CFiPrivateDataConcreteFactory::mapSize(bool alternate) const {
    Guard g(m_impl->lock);
    return alternate ? m_impl->altNodes.size() : m_impl->nodes.size();
}

// ---- manager ----

CFiPrivateDataManager::CFiPrivateDataManager() : m_factory(new CFiPrivateDataConcreteFactory()) {}

CFiPrivateDataManager::~CFiPrivateDataManager() = default;

void CFiPrivateDataManager::setTraceLog(const CFiTraceLogPtr &log) {
    CFiTraceable::setTraceLog(log);
    m_factory->setTraceLog(log);
}

CFiPrivateDataFactory *CFiPrivateDataManager::getFactory() { return m_factory.get(); }

} // namespace kelm_pdk_4_4

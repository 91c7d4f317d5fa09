#include "pdk/cfinodelist.h"

#include "kelm/kelm_util.h"
#include "pdk/cfierror.h"
#include "pdk/cfistringtool.h"

#include <memory>

namespace kelm_pdk_4_4 {

namespace {

const char kSourceFile[] = "pdk\\src\\cfinodelist";

[[noreturn]] void throwNoMemory(const char *what, int32_t line, const char *function) {
    throw CFiError(KEL_EMALLOC, CFiStringTool::toWide(what), CFiStringTool::toWide(kSourceFile), line,
                   CFiStringTool::toWide(function));
}

} // namespace

void freeObjectId(kelm_objid *id) {
    if (id == nullptr) return;
    if (id->name != nullptr) kelm_free_buf(id->name, id->name_bytes);
    kelm_free_buf(id, sizeof(kelm_objid));
}

void CFiNodeListFactory::append(const CFiNode &node) {
    const uint32_t bytes = static_cast<uint32_t>((node.objectText.length() + 1) * sizeof(wchar_t));
    kelm_objid *id = kelm_get_objid(node.objectText.c_str(), bytes, kObjectIdType);
    if (id == nullptr)
        throwNoMemory("Bad allocation for the object identifier of a node", 29,
                      "kelm_pdk_4_4::CFiNodeListFactory::append");
    kel_node_desc desc{};
    desc.node_name = node.name.c_str();
    desc.objid = id;
    desc.lead1 = node.lead1;
    desc.lead2 = node.lead2;
    desc.lead3 = node.lead3;
    desc.lead4 = node.lead4;
    kel_node_list *element = kelm_build_nodelist_node(&desc, node.providerName.c_str());
    if (element == nullptr) {
        freeObjectId(id); // the list never took it
        throwNoMemory("Bad allocation for a node list element", 39, "kelm_pdk_4_4::CFiNodeListFactory::append");
    }
    link(element);
}

void CFiProviderInfoList::append(const CFiProviderInfo &entry) {
    std::vector<const wchar_t *> types;
    for (const WString &t : entry.objectTypes()) types.push_back(t.c_str());
    types.push_back(nullptr);
    kel_provider_list *element = kelm_build_providerlist_node(m_providerName.c_str(), entry.value1(), entry.value2(),
                                                              &m_version, types.data());
    if (element == nullptr)
        throwNoMemory("Bad allocation for a provider list element", 53,
                      "kelm_pdk_4_4::CFiProviderInfoList::append");
    link(element);
}

} // namespace kelm_pdk_4_4

// Lists handed to the framework: node lists (enumerateNodes) and provider
// lists (getProviderInfo). The framework utility library builds each element;
// these classes link the elements at the end of the caller's list as they
// are appended, so what was appended before a failure stays in the caller's
// list, and the framework frees the whole list.
#ifndef PDK_CFINODELIST_H
#define PDK_CFINODELIST_H

#include "kelm/kel_types.h"
#include "pdk/cfibase.h"

#include <string>
#include <vector>

namespace kelm_pdk_4_4 {

// Frees an object identifier that never reached the framework. The utility
// library offers no free of its own for one: an identifier is its record and
// its name, two buffers of the library.
void freeObjectId(kelm_objid *id);

// A list of framework elements of type Element, each linked by its `next`
// field, bound to the caller's head pointer (and element count, when given).
// Binding empties the list: the head becomes null and the count 0.
template <class Element>
class CFiList {
public:
    explicit CFiList(Element **head, int *count = nullptr) : m_head(head), m_tail(head), m_count(count) {
        if (m_head != nullptr) *m_head = nullptr;
        if (m_count != nullptr) *m_count = 0;
    }
    CFiList(const CFiList &) = delete;
    CFiList &operator=(const CFiList &) = delete;

    // Links element at the end of the caller's list and counts it. A null
    // element, or a list bound to no head, changes nothing.
    void link(Element *element) {
        if (element == nullptr || m_head == nullptr) return;
        // From the last slot filled, not the head: a host's thousands of
        // nodes are linked in linear time.
        while (*m_tail != nullptr) m_tail = &(*m_tail)->next;
        *m_tail = element;
        if (m_count != nullptr) ++*m_count;
    }

private:
    Element **m_head;
    Element **m_tail;
    int *m_count;
};

// One node of a node list: its four leading values, its name, the text its
// object identifier is made from, and the provider's name.
struct CFiNode {
    uint32_t lead1 = 0;
    uint32_t lead2 = 0;
    uint64_t lead3 = 0;
    uint64_t lead4 = 0;
    WString name;
    WString objectText;
    WString providerName;
};

// Node lists. Each node becomes an element built with
// kelm_build_nodelist_node; its object identifier is made from objectText
// with kelm_get_objid (type 3).
class CFiNodeListFactory : public CFiList<kel_node_list> {
public:
    static const uint32_t kObjectIdType = 3;

    CFiNodeListFactory(kel_node_list **head, int *count) : CFiList<kel_node_list>(head, count) {}
    // Throws CFiError KEL_EMALLOC when the framework library cannot build the
    // identifier or the element (nothing is linked then, nothing leaks).
    void append(const CFiNode &node);
};

// One entry of a provider list: two values and the object types served.
class CFiProviderInfo {
public:
    CFiProviderInfo(uint64_t value1, uint64_t value2) : m_value1(value1), m_value2(value2) {}
    void addObjectType(const WString &type) { m_objectTypes.push_back(type); }

    uint64_t value1() const { return m_value1; }
    uint64_t value2() const { return m_value2; }
    const std::vector<WString> &objectTypes() const { return m_objectTypes; }

private:
    uint64_t m_value1;
    uint64_t m_value2;
    std::vector<WString> m_objectTypes;
};

// Provider lists, named by the provider and carrying its version record.
class CFiProviderInfoList : public CFiList<kel_provider_list> {
public:
    CFiProviderInfoList(kel_provider_list **head, const WString &providerName, const kel_version &version)
        : CFiList<kel_provider_list>(head), m_providerName(providerName), m_version(version) {}
    // Builds the entry's element with kelm_build_providerlist_node and links
    // it. Throws CFiError KEL_EMALLOC when the library cannot build it.
    void append(const CFiProviderInfo &entry);

private:
    WString m_providerName;
    kel_version m_version;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFINODELIST_H

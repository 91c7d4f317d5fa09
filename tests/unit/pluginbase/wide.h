// Wide-string helpers and framework nodes of the plug-in base and the
// private data tests.
#ifndef TESTS_UNIT_PLUGINBASE_WIDE_H
#define TESTS_UNIT_PLUGINBASE_WIDE_H

#include "pdk/cfibase.h"
#include "pdk/cfipluginbase.h"

#include <string>

namespace pbtest {

inline kelm_pdk_4_4::WString W(const wchar_t *s) {
    std::wstring tmp(s);
    return kelm_pdk_4_4::WString(tmp.data(), tmp.size());
}

inline std::wstring str(const kelm_pdk_4_4::WString &s) { return std::wstring(s.c_str(), s.length()); }

// A framework node with its object record. Given an owner, it de-initialises
// the node (freeing its private-data cell) when it goes, as the framework does.
struct Node {
    explicit Node(const std::wstring &n) : name(n) {
        obj.name = const_cast<wchar_t *>(name.c_str());
        obj.name_bytes = static_cast<uint32_t>((name.size() + 1) * sizeof(wchar_t));
        domain.obj = &obj;
        domain.name = obj.name;
    }
    ~Node() {
        if (owner != nullptr) owner->deInitNode(&domain);
    }
    std::wstring name;
    kelm_objid obj{};
    kel_domain domain{};
    kelm_pdk_4_4::CFiPluginBase *owner = nullptr;
};

} // namespace pbtest

#endif

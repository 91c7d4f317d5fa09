// Sessions of the session-based make, prepare and select, and their registry.
#ifndef PDK_CFISESSION_H
#define PDK_CFISESSION_H

#include "pdk/cfibase.h"

#include <map>
#include <string>
#include <vector>

namespace kelm_pdk_4_4 {

struct CFiSessionNode {
    WString name;       // the node's wide name
    WString targetName; // filled by the provider's makeSnapshots
    std::string key;    // the split node's key
    int32_t value = 0;
};

class CFiSession : public virtual CFiRefCount {
public:
    explicit CFiSession(const std::string &name);
    ~CFiSession() override;
    const std::string &getName() const { return m_name; }
    // Records (or replaces) the node under its narrow name.
    void addNode(const WString &name, const std::string &key);
    // The record for a node name, created empty when missing.
    CFiSessionNode &getNode(const std::string &name);
    bool hasNode(const std::string &name) const;
    const std::map<std::string, CFiSessionNode> &nodes() const { return m_nodes; }

private:
    std::string m_name;
    std::map<std::string, CFiSessionNode> m_nodes;
};
using CFiSessionPtr = CFiSmartPtr<CFiSession, CFiNullAllocator>;

// Singleton: sessions by the framework's context string.
class CFiSessionManager : public virtual CFiRefCount {
public:
    CFiSessionManager();
    ~CFiSessionManager() override;
    // Empty for a null name; otherwise the session of that name, created when absent.
    virtual CFiSessionPtr getSession(const char *name);

private:
    struct Impl;
    Impl *m_impl;
};
using CFiSessionManagerPtr = CFiSmartPtr<CFiSessionManager, CFiContextSingletonAllocator>;

// Arguments of objctl: input items parsed from the framework's text, output
// items serialised back to it.
struct CFiObjctlItem {
    WString arg;
    WString value;
    WString type;
};

class CFiObjctlArgs {
public:
    CFiObjctlArgs() = default;
    explicit CFiObjctlArgs(const wchar_t *input); // parses the input text
    void parse(const wchar_t *input);
    WString toXML() const; // the output text
    std::vector<CFiObjctlItem> inputs;
    std::vector<CFiObjctlItem> outputs;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFISESSION_H

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

// One session of the framework, named by its context string. The node map is
// locked because framework threads may reach one session together; records
// are never erased, so a reference from getNode stays valid for the life of
// the session (its fields are the caller's to coordinate).
class CFiSession : public virtual CFiRefCount {
public:
    explicit CFiSession(const std::string &name);
    ~CFiSession() override;
    const std::string &getName() const { return m_name; }
    // Records (or replaces) the node under its narrow name, value 0 and no
    // target name yet.
    void addNode(const WString &name, const std::string &key);
    // The record for a node name, created empty when missing.
    CFiSessionNode &getNode(const std::string &name);
    bool hasNode(const std::string &name) const;
    // A copy of the records, ordered by narrow node name.
    std::map<std::string, CFiSessionNode> nodes() const;

private:
    std::string m_name;
    mutable ACE_Thread_Mutex m_lock;
    std::map<std::string, CFiSessionNode> m_nodes;
};
using CFiSessionPtr = CFiSmartPtr<CFiSession, CFiNullAllocator>;

// Singleton: sessions by the framework's context string. The map is locked:
// framework threads share the manager.
class CFiSessionManager : public virtual CFiRefCount {
public:
    CFiSessionManager();
    ~CFiSessionManager() override;
    CFiSessionManager(const CFiSessionManager &) = delete;
    CFiSessionManager &operator=(const CFiSessionManager &) = delete;
    // Empty for a null name; otherwise the session of that name, created when absent.
    virtual CFiSessionPtr getSession(const char *name);
    // Number of sessions held.
    size_t size() const;

private:
    struct Impl;
    Impl *m_impl;
};
using CFiSessionManagerPtr = CFiSmartPtr<CFiSessionManager, CFiContextSingletonAllocator>;

// Arguments of objctl: input items parsed from the framework's text, output
// items serialised back to it.
//
// Input grammar (tokens are separated by runs of spaces; nothing else
// separates them, so a value cannot contain a space):
//   "<OBJCTL_ARG_LIST>" { item } "</OBJCTL_ARG_LIST>"
//   item = any-token "arg=" ARG "value=" VALUE "type=" TYPE "/>"
// The attribute prefix and its text form one token ("arg=a"). A missing or
// misnamed attribute ends reading without storing the item; a token other
// than "/>" after the type ends reading after storing it. Input that does not
// start with the opening tag (or is null) gives no items.
struct CFiObjctlItem {
    WString arg;
    WString value;
    WString type;
    bool operator==(const CFiObjctlItem &o) const { return arg == o.arg && value == o.value && type == o.type; }
};

class CFiObjctlArgs {
public:
    CFiObjctlArgs() = default;
    explicit CFiObjctlArgs(const wchar_t *input); // parses the input text
    // Appends the items read from input to the input list.
    void parse(const wchar_t *input);
    // "<OBJCTL_ARG_LIST>", then " <OBJCTL_OUTPUT arg=A value=V type=T />" per
    // output item, then " </OBJCTL_ARG_LIST> ".
    WString toXML() const;
    std::vector<CFiObjctlItem> inputs;
    std::vector<CFiObjctlItem> outputs;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFISESSION_H

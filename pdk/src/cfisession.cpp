#include "pdk/cfisession.h"

#include "pdk/cfistringtool.h"

#include <cwchar>

namespace kelm_pdk_4_4 {

// ---- CFiSession ----

CFiSession::CFiSession(const std::string &name) : m_name(name) {}

CFiSession::~CFiSession() = default;

void CFiSession::addNode(const WString &name, const std::string &key) {
    CFiSessionNode rec;
    rec.name = name;
    rec.key = key;
    std::string narrow = CFiStringTool::toNarrow(name);
    ACE_Guard<ACE_Thread_Mutex> g(m_lock);
    m_nodes[narrow] = rec;
}

CFiSessionNode &CFiSession::getNode(const std::string &name) {
    ACE_Guard<ACE_Thread_Mutex> g(m_lock);
    return m_nodes[name];
}

bool CFiSession::hasNode(const std::string &name) const {
    ACE_Guard<ACE_Thread_Mutex> g(m_lock);
    return m_nodes.find(name) != m_nodes.end();
}

std::map<std::string, CFiSessionNode> CFiSession::nodes() const {
    ACE_Guard<ACE_Thread_Mutex> g(m_lock);
    return m_nodes;
}

// ---- CFiSessionManager ----

struct CFiSessionManager::Impl {
    mutable ACE_Thread_Mutex lock;
    std::map<std::string, CFiSessionPtr> sessions;
};

CFiSessionManager::CFiSessionManager() : m_impl(new Impl) {}

CFiSessionManager::~CFiSessionManager() { delete m_impl; }

CFiSessionPtr CFiSessionManager::getSession(const char *name) {
    if (name == nullptr) return CFiSessionPtr();
    ACE_Guard<ACE_Thread_Mutex> g(m_impl->lock);
    auto it = m_impl->sessions.find(name);
    if (it != m_impl->sessions.end()) return it->second;
    CFiSessionPtr s(new CFiSession(name));
    m_impl->sessions.emplace(name, s);
    return s;
}

size_t CFiSessionManager::size() const {
    ACE_Guard<ACE_Thread_Mutex> g(m_impl->lock);
    return m_impl->sessions.size();
}

// ---- CFiObjctlArgs ----

namespace {

const wchar_t kListOpen[] = L"<OBJCTL_ARG_LIST>";
const wchar_t kListClose[] = L"</OBJCTL_ARG_LIST>";
const wchar_t kItemClose[] = L"/>";

// Splits at runs of spaces (only the space character separates tokens).
std::vector<std::wstring> splitAtSpaces(const wchar_t *text) {
    std::vector<std::wstring> tokens;
    const wchar_t *p = text;
    while (*p != L'\0') {
        while (*p == L' ') ++p;
        if (*p == L'\0') break;
        const wchar_t *start = p;
        while (*p != L'\0' && *p != L' ') ++p;
        tokens.emplace_back(start, static_cast<size_t>(p - start));
    }
    return tokens;
}

// The text after prefix when token starts with it.
bool attribute(const std::wstring &token, const wchar_t *prefix, WString &out) {
    size_t n = std::wcslen(prefix);
    if (token.compare(0, n, prefix) != 0) return false;
    out = WString(token.c_str() + n);
    return true;
}

} // namespace

CFiObjctlArgs::CFiObjctlArgs(const wchar_t *input) { parse(input); }

void CFiObjctlArgs::parse(const wchar_t *input) {
    if (input == nullptr) return;
    std::vector<std::wstring> tok = splitAtSpaces(input);
    if (tok.empty() || tok[0] != kListOpen) return;
    size_t i = 1;
    while (i < tok.size()) {
        if (tok[i] == kListClose) return;
        ++i; // the token that opens the item, whatever it says
        CFiObjctlItem item;
        if (i >= tok.size() || !attribute(tok[i++], L"arg=", item.arg)) return;
        if (i >= tok.size() || !attribute(tok[i++], L"value=", item.value)) return;
        if (i >= tok.size() || !attribute(tok[i++], L"type=", item.type)) return;
        inputs.push_back(item);
        if (i >= tok.size() || tok[i++] != kItemClose) return;
    }
}

WString CFiObjctlArgs::toXML() const {
    WString out(kListOpen);
    for (const CFiObjctlItem &it : outputs) {
        out += L" <OBJCTL_OUTPUT arg=";
        out += it.arg;
        out += L" value=";
        out += it.value;
        out += L" type=";
        out += it.type;
        out += L" />";
    }
    out += L" ";
    out += kListClose;
    out += L" ";
    return out;
}

} // namespace kelm_pdk_4_4

// Stand-in for the framework utility library. Every buffer it hands out is
// recorded with its size, so tests can check that the provider returns each
// one once and with the right size. It exports the eight functions of the
// contract and nothing else; the book is read through the test kit.
#include "kelm/kelm_util.h"

#include "kelm_accounting.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using kelm_stub::Accounting;

Accounting &accounting() {
    // The test kit's book when the process has the kit, else a private one;
    // never destroyed, so it outlives every static destructor.
    static Accounting *a = [] {
        auto source = reinterpret_cast<kelm_stub::AccountingSource>(dlsym(RTLD_DEFAULT, kelm_stub::kAccountingSymbol));
        return source != nullptr ? source() : new Accounting;
    }();
    return *a;
}

void *allocTracked(uint32_t size) {
    Accounting &a = accounting();
    std::lock_guard<std::mutex> g(a.lock);
    if (a.failAfter == 0) return nullptr;
    if (a.failAfter > 0) --a.failAfter;
    void *p = std::calloc(1, size == 0 ? 1 : size);
    if (p == nullptr) return nullptr;
    a.live[p] = size;
    ++a.allocated;
    return p;
}

void freeTracked(void *p, uint32_t size) {
    if (p == nullptr) return;
    Accounting &a = accounting();
    std::lock_guard<std::mutex> g(a.lock);
    auto it = a.live.find(p);
    if (it == a.live.end()) {
        ++a.badFrees; // never ours, or freed twice: leave it alone
        return;
    }
    if (it->second != size) ++a.sizeMismatch;
    a.live.erase(it);
    ++a.freed;
    std::free(p);
}

wchar_t *wideCopy(const wchar_t *s) {
    if (s == nullptr) return nullptr;
    size_t n = std::wcslen(s) + 1;
    auto *out = static_cast<wchar_t *>(allocTracked(static_cast<uint32_t>(n * sizeof(wchar_t))));
    if (out != nullptr) std::wmemcpy(out, s, n);
    return out;
}

void freeWide(wchar_t *s) {
    if (s != nullptr) freeTracked(s, static_cast<uint32_t>((std::wcslen(s) + 1) * sizeof(wchar_t)));
}

// Narrow (UTF-8) text to a tracked wide buffer.
wchar_t *wideFromUtf8(const std::string &text) {
    std::wstring w;
    w.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t cp = c;
        size_t n = 1;
        if ((c & 0xF8) == 0xF0 && i + 3 < text.size()) {
            cp = (c & 0x07u) << 18 | (text[i + 1] & 0x3Fu) << 12 | (text[i + 2] & 0x3Fu) << 6 | (text[i + 3] & 0x3Fu);
            n = 4;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < text.size()) {
            cp = (c & 0x0Fu) << 12 | (text[i + 1] & 0x3Fu) << 6 | (text[i + 2] & 0x3Fu);
            n = 3;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
            cp = (c & 0x1Fu) << 6 | (text[i + 1] & 0x3Fu);
            n = 2;
        }
        w.push_back(static_cast<wchar_t>(cp));
        i += n;
    }
    return wideCopy(w.c_str());
}

const char *envText(const char *name) {
    const char *v = std::getenv(name);
    return (v != nullptr && *v != '\0') ? v : nullptr;
}

} // namespace

extern "C" {

void *kelm_alloc_buf(uint32_t size) { return allocTracked(size); }

void kelm_free_buf(void *buf, uint32_t size) { freeTracked(buf, size); }

kelm_objid *kelm_get_objid(const wchar_t *name, uint32_t name_bytes, uint32_t flags) {
    if (name == nullptr || name_bytes < sizeof(wchar_t) || name_bytes % sizeof(wchar_t) != 0) return nullptr;
    size_t chars = name_bytes / sizeof(wchar_t);
    if (name[chars - 1] != L'\0' || std::wcslen(name) != chars - 1) return nullptr;
    auto *id = static_cast<kelm_objid *>(allocTracked(sizeof(kelm_objid)));
    if (id == nullptr) return nullptr;
    id->name = wideCopy(name);
    if (id->name == nullptr) {
        freeTracked(id, sizeof(kelm_objid));
        return nullptr;
    }
    id->name_bytes = name_bytes;
    id->flags = flags;
    return id;
}

kel_node_list *kelm_build_nodelist_node(const kel_node_desc *node, const wchar_t *provider) {
    if (node == nullptr) return nullptr;
    auto *e = static_cast<kel_node_list *>(allocTracked(sizeof(kel_node_list)));
    if (e == nullptr) return nullptr;
    e->node_name = wideCopy(node->node_name);
    e->provider_name = wideCopy(provider);
    if ((node->node_name != nullptr && e->node_name == nullptr) || (provider != nullptr && e->provider_name == nullptr)) {
        // All or nothing: the caller still owns the identifier.
        freeWide(e->node_name);
        freeWide(e->provider_name);
        freeTracked(e, sizeof(kel_node_list));
        return nullptr;
    }
    e->objid = node->objid; // ownership passes to the list
    e->lead1 = node->lead1;
    e->lead2 = node->lead2;
    e->lead3 = node->lead3;
    e->lead4 = node->lead4;
    e->next = nullptr;
    return e;
}

} // extern "C"

namespace {

// Undoes a half-built provider node; the framework frees whole ones.
void freeProviderNode(kel_provider_list *e, size_t types) {
    freeWide(e->provider_name);
    freeTracked(e->version, sizeof(kel_version));
    if (e->object_types != nullptr) {
        for (size_t i = 0; i < types; ++i) freeWide(e->object_types[i]);
        freeTracked(e->object_types, static_cast<uint32_t>((types + 1) * sizeof(wchar_t *)));
    }
    freeTracked(e, sizeof(kel_provider_list));
}

} // namespace

extern "C" {

kel_provider_list *kelm_build_providerlist_node(const wchar_t *provider, uint64_t value1, uint64_t value2,
                                                kel_version *version, const wchar_t **object_types) {
    auto *e = static_cast<kel_provider_list *>(allocTracked(sizeof(kel_provider_list)));
    if (e == nullptr) return nullptr;
    size_t n = 0;
    while (object_types != nullptr && object_types[n] != nullptr) ++n;
    e->provider_name = wideCopy(provider);
    e->value1 = value1;
    e->value2 = value2;
    // The node keeps its own copy: the caller's record need not outlive it.
    e->version = static_cast<kel_version *>(allocTracked(sizeof(kel_version)));
    if (e->version != nullptr && version != nullptr) *e->version = *version;
    e->object_types = static_cast<wchar_t **>(allocTracked(static_cast<uint32_t>((n + 1) * sizeof(wchar_t *))));
    bool complete = (provider == nullptr || e->provider_name != nullptr) && e->version != nullptr &&
                    e->object_types != nullptr;
    if (e->object_types != nullptr) {
        for (size_t i = 0; i < n; ++i) {
            e->object_types[i] = wideCopy(object_types[i]);
            complete = complete && e->object_types[i] != nullptr;
        }
        e->object_types[n] = nullptr;
    }
    e->next = nullptr;
    if (!complete) {
        freeProviderNode(e, n);
        return nullptr;
    }
    return e;
}

void kelm_get_install_root(wchar_t **root) {
    if (root == nullptr) return;
    *root = nullptr;
    const char *v = envText("KELM_INSTALL_ROOT");
    if (v == nullptr) return;
    std::string text(v);
    if (text.back() != '/') text += '/';
    *root = wideFromUtf8(text);
}

void kelm_get_consumer_name(wchar_t **name) {
    if (name == nullptr) return;
    *name = nullptr;
    const char *v = envText("KELM_CONSUMER_NAME");
    if (v != nullptr) *name = wideFromUtf8(v);
}

void kelm_get_credential_blob(wchar_t **blob) {
    if (blob == nullptr) return;
    *blob = nullptr;
    const char *file = envText("KELM_CREDENTIALS_FILE");
    if (file == nullptr) return;
    std::ifstream in(file, std::ios::binary);
    if (!in) return;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    *blob = wideFromUtf8(text);
}

} // extern "C"

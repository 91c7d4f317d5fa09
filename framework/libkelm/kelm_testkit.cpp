// The framework's side of the utility library stand-in: it frees what a
// provider hands over the way the framework does, and owns the buffer book
// that the utility library fills.
#include "kelm/kelm_testkit.h"

#include "kelm_accounting.h"

#include <cwchar>

namespace {

kelm_stub::Accounting &book() {
    static auto *a = new kelm_stub::Accounting; // outlives every static destructor
    return *a;
}

uint32_t wideBytes(const wchar_t *s) { return static_cast<uint32_t>((std::wcslen(s) + 1) * sizeof(wchar_t)); }

void freeWide(wchar_t *s) {
    if (s != nullptr) kelm_free_buf(s, wideBytes(s));
}

} // namespace

extern "C" {

// Looked up by the utility library by name (see kelm_accounting.h).
KELM_API kelm_stub::Accounting *kelm_testkit_accounting() { return &book(); }

void kelm_free_objid(kelm_objid *id) {
    if (id == nullptr) return;
    if (id->name != nullptr) kelm_free_buf(id->name, id->name_bytes);
    kelm_free_buf(id, sizeof(kelm_objid));
}

void kelm_free_nodelist(kel_node_list *list) {
    while (list != nullptr) {
        kel_node_list *next = list->next;
        freeWide(list->node_name);
        freeWide(list->provider_name);
        kelm_free_objid(list->objid);
        kelm_free_buf(list, sizeof(kel_node_list));
        list = next;
    }
}

void kelm_free_providerlist(kel_provider_list *list) {
    while (list != nullptr) {
        kel_provider_list *next = list->next;
        freeWide(list->provider_name);
        if (list->version != nullptr) kelm_free_buf(list->version, sizeof(kel_version));
        if (list->object_types != nullptr) {
            size_t n = 0;
            for (; list->object_types[n] != nullptr; ++n) freeWide(list->object_types[n]);
            kelm_free_buf(list->object_types, static_cast<uint32_t>((n + 1) * sizeof(wchar_t *)));
        }
        kelm_free_buf(list, sizeof(kel_provider_list));
        list = next;
    }
}

kelm_buf_stats kelm_get_buf_stats(void) {
    kelm_stub::Accounting &a = book();
    std::lock_guard<std::mutex> g(a.lock);
    return kelm_buf_stats{a.live.size(), a.allocated, a.freed, a.badFrees, a.sizeMismatch};
}

void kelm_reset_buf_stats(void) {
    kelm_stub::Accounting &a = book();
    std::lock_guard<std::mutex> g(a.lock);
    a.allocated = a.freed = a.badFrees = a.sizeMismatch = 0;
}

void kelm_fail_allocations_after(int64_t n) {
    kelm_stub::Accounting &a = book();
    std::lock_guard<std::mutex> g(a.lock);
    a.failAfter = n < 0 ? -1 : n;
}

} // extern "C"

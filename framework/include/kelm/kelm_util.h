/*
 * The framework utility library: the eight functions a provider may call.
 *
 * This is a stand-in for the framework's closed library. It counts the buffers
 * it hands out so that tests can prove every buffer given to the framework is
 * freed exactly once and with the size it was allocated with.
 *
 * Environment (each may be unset, then the getter stores null):
 *   KELM_INSTALL_ROOT      install root; the returned text ends with '/'
 *   KELM_CONSUMER_NAME     name of the consuming application
 *   KELM_CREDENTIALS_FILE  file whose text is the credential blob
 */
#ifndef KELM_KELM_UTIL_H
#define KELM_KELM_UTIL_H

#include "kelm/kel_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KELM_API __attribute__((visibility("default")))
#else
#define KELM_API
#endif

KELM_API void *kelm_alloc_buf(uint32_t size);
KELM_API void kelm_free_buf(void *buf, uint32_t size);
/* REQUIRES: name_bytes == (wcslen(name) + 1) * sizeof(wchar_t). */
KELM_API kelm_objid *kelm_get_objid(const wchar_t *name, uint32_t name_bytes, uint32_t flags);
/* Builds one element, all or nothing (null: nothing allocated, the caller
 * keeps node->objid). On success the element owns node->objid. */
KELM_API kel_node_list *kelm_build_nodelist_node(const kel_node_desc *node, const wchar_t *provider);
/* All or nothing, like the node builder. The element holds copies of the
 * texts and of the version record. */
KELM_API kel_provider_list *kelm_build_providerlist_node(const wchar_t *provider, uint64_t value1,
                                                         uint64_t value2, kel_version *version,
                                                         const wchar_t **object_types);
KELM_API void kelm_get_install_root(wchar_t **root);
KELM_API void kelm_get_consumer_name(wchar_t **name);
KELM_API void kelm_get_credential_blob(wchar_t **blob);

/* ---- Test and framework-side helpers (not part of the provider contract) ---- */

/* Frees an object identifier from kelm_get_objid (the framework's job). */
KELM_API void kelm_free_objid(kelm_objid *id);
/* Frees a whole list built with the two list builders. */
KELM_API void kelm_free_nodelist(kel_node_list *list);
KELM_API void kelm_free_providerlist(kel_provider_list *list);

/* Buffer accounting. */
typedef struct kelm_buf_stats {
    uint64_t live;          /* buffers handed out and not yet freed */
    uint64_t allocated;     /* all buffers ever handed out */
    uint64_t freed;         /* frees that matched a live buffer and its size */
    uint64_t bad_frees;     /* frees of unknown buffers (double or foreign) */
    uint64_t size_mismatch; /* frees with a size other than the allocated one */
} kelm_buf_stats;
KELM_API kelm_buf_stats kelm_get_buf_stats(void);
KELM_API void kelm_reset_buf_stats(void);
/* Let n more allocations succeed, then fail every one; n < 0 turns failing off. */
KELM_API void kelm_fail_allocations_after(int64_t n);

#ifdef __cplusplus
}
#endif

#endif /* KELM_KELM_UTIL_H */

/*
 * The framework utility library: the eight functions a provider may call.
 *
 * This is a stand-in for the framework's closed library and, like it, exports
 * these eight and nothing else: a provider that needs any other function of it
 * fails to load. The buffer accounting the tests read, and the frees that are
 * the framework's own job, are in kelm/kelm_testkit.h.
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
/* REQUIRES: name_bytes == (wcslen(name) + 1) * sizeof(wchar_t).
 * The identifier is two buffers of this library, released with kelm_free_buf:
 * its name (name_bytes) and the record itself (sizeof(kelm_objid)). */
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

#ifdef __cplusplus
}
#endif

#endif /* KELM_KELM_UTIL_H */

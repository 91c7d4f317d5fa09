/*
 * The framework's side of the utility library stand-in, for tests and the
 * command-line host: freeing what the provider hands over, and the buffer
 * accounting. These live in a library of their own (kelm_testkit) so that the
 * utility library exports only the eight functions a provider may call.
 */
#ifndef KELM_KELM_TESTKIT_H
#define KELM_KELM_TESTKIT_H

#include "kelm/kelm_util.h"

#ifdef __cplusplus
extern "C" {
#endif

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

#endif /* KELM_KELM_TESTKIT_H */

/*
 * The C surface of the rendo provider: the entry points the framework finds
 * by name in librendo. This table is the one list of them; the library's
 * definitions, the host tool and the tests all expand it, so a name or an
 * argument list cannot drift between them.
 *
 * X(result type, operation name, parameter list). The exported name is
 * "rendo_fi_pgn_" followed by the operation name.
 */
#ifndef RENDO_RENDO_FI_PGN_H
#define RENDO_RENDO_FI_PGN_H

#include "kelm/kel_types.h"

#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define RENDO_API __attribute__((visibility("default")))
#else
#define RENDO_API
#endif

/* Entry points marked (S) take a lone node first: it stands for a
 * one-element array when the node array is null and the count 0. */
#define RENDO_FI_PGN_ENTRY_POINTS(X)                                                                          \
    X(int, init, (kel_pgn_init *init, kel_version *version))                                                \
    X(void, fini, (void))                                                                                     \
    X(int, errmsg, (int code, const wchar_t **text))                                                          \
    X(int, claim, (kelm_objid *object, kelm_objid ***claimed, int *level))                                  \
    X(int, supports_fitype, (kel_domain *domain, char *type))                                                \
    X(int, init_node, (kel_domain *domain, kel_domain **alt, int flags, kelm_objid *id))                     \
    X(int, init_altnode, (kel_domain *a, kel_domain *b, kel_domain *c))                                      \
    X(int, init_remnode, (kel_domain *a, kel_domain *b, kel_domain *c))                                      \
    X(int, deport_tree, (kel_domain *domain, kel_domain *alt, kel_accessnode *access))                       \
    X(int, import_tree, (kel_domain *domain, kelm_objid **a, kelm_objid **b, int n, kelm_objid **c))         \
    X(int, pre_prepare, (kel_domain *domain))                                                                \
    X(int, reaccess_tmpobj, (kel_domain *domain, kelm_objid *id, char *splitType, kel_domain *tmp,           \
                             char *sessionId, kel_intent intent))                                             \
    X(int, reaccess_altnode, (kel_domain *domain, kelm_objid *a, kelm_objid *b, char *sessionId,             \
                              kelm_objid **c, kelm_objid **d, int n, kel_intent intent))                      \
    X(int, config, (kel_domain *domain, int mode, char *sessionId, kel_confspec *confspec))                      \
    X(void, deinit_node, (kel_domain *domain))                                                               \
    X(int, dispose, (kel_domain *a, kel_domain *b, kel_splitnode *split, kel_disposition disp))              \
    X(int, online, (kel_domain *a, kel_domain *b, int n, kel_disposition disp))                              \
    X(int, subobj_list, (kel_domain *domain, kelm_objid ***list, int *count))                                \
    X(int, build_alttree, (kel_domain *domain, char *type, kelm_objid **a, kelm_objid **b, int n,            \
                           kelm_objid **c))                                                                   \
    X(int, quiesce, (kel_quiescenode *lone, kel_quiescenode **nodes, int count, char *context)) /* S */      \
    X(void, unquiesce, (kel_quiescenode *lone, kel_quiescenode **nodes, int count)) /* S */                  \
    X(int, make, (kel_splitnode *lone, char *context, kel_splitnode **nodes, int count, kelm_objid ***out,   \
                  int *outCount)) /* S */                                                                     \
    X(int, prepare, (kel_splitnode *lone, char *context, kel_splitnode **nodes, int count, int flag)) /* S */ \
    X(int, select, (kel_splitnode *lone, char *context, kel_splitnode **nodes, int count)) /* S */           \
    X(int, isready, (kel_splitnode *lone, char *context, kel_splitnode **nodes, int count)) /* S */          \
    X(int, cache_disable, (kel_domain *domain))                                                              \
    X(void, cache_enable, (kel_domain *domain))                                                              \
    X(int, interpose, (kel_domain *domain, kelm_objid **a, kelm_objid ***b, int *n))                         \
    X(int, getattr, (kel_domain *a, kel_domain *b, kel_splitnode *split, kel_attributes *attrs))             \
    X(int, process_providerstate, (kel_domain *domain, kel_blob *blob, kel_op_providerstate op))             \
    X(int, get_provider_info, (kel_provider_list **list))                                                    \
    X(int, enumerate_nodes, (kel_node_list **list, int *count, int selection, wchar_t *text))                \
    X(int, enumerate_group_nodes, (kel_group_node_list **list))                                              \
    X(int, enumerate_fims, (kel_fim_list **list))                                                            \
    X(int, enumerate_associations, (kel_assoc_list **list))                                                  \
    X(int, isvalid_node_association, (kel_assoc *assoc, int *valid))                                         \
    X(int, get_associated_nodes, (kel_node *node, kel_node_list **list))                                     \
    X(int, check_node_existence, (kel_domain *domain, int *exists))                                          \
    X(int, get_last_error, (kel_msg_info **out))                                                             \
    X(int, del_last_error, (kel_msg_info **out))                                                             \
    X(int, get_locale_message, (int *code, kel_msg_info *info, const char *language, wchar_t **out))          \
    X(int, del_locale_message, (wchar_t **text))                                                             \
    X(int, objctl, (const wchar_t *command, const wchar_t *input, wchar_t **output, uint32_t *result))        \
    X(int, enable_access, (kel_node_subobj_list *list, long a, int b, int c))                                \
    X(int, disable_access, (kel_node_subobj_list *list, long a))                                             \
    X(int, restore, (kelm_objid **a, kelm_objid **b, long n, wchar_t *c, wchar_t *d, long e, long *f))       \
    X(int, resync, (kelm_objid **a, kelm_objid **b, long n, wchar_t *c, wchar_t *d, long e, long *f))        \
    X(int, get_status, (kelm_objid **a, kelm_objid **b, long count, wchar_t *c, long d, long *statuses))     \
    X(int, query_valid_secondaries, (wchar_t *name, kelm_objid ***list, long *count))                        \
    X(int, res_status, (kelm_objid *id, long a, long *b, kel_msg_info **info))                               \
    X(int, revisit_pgn_nodes, (kel_pgn_node_list *list))                                                     \
    X(int, verify_qscombos, (kel_splitnode *lone, kel_splitnode **nodes, int count)) /* S */                 \
    X(int, set_import_options, (kel_splitnode *lone, kel_splitnode **nodes, int count, kel_host_infn *hosts, \
                                int transportable, void *extra)) /* S */                                      \
    X(int, start_build_alttree, (kel_domain *domain, kelm_objid **a, void *b))                               \
    X(int, translate_resource_names, (wchar_t **names, int count, wchar_t **out))                            \
    X(int, enumerate_enclosures, (kel_enclosure_node_list **list, int *count, wchar_t *text))                \
    X(int, import_resource, (wchar_t **outName, wchar_t *udid, wchar_t *a, wchar_t *hostKey, int flags,      \
                             wchar_t **newUdid, wchar_t *b))                                                  \
    X(int, format, (wchar_t **a, int b, wchar_t *c, wchar_t *d, wchar_t *e, int f, wchar_t ***g, int *h))    \
    X(int, enumerate_host_nodes, (kel_host_node_list **list, int *count, wchar_t *text))                     \
    X(int, online_resource, (wchar_t **a, int b, wchar_t *c, wchar_t *d, wchar_t *e, wchar_t *f, int g,      \
                             wchar_t ***h, int *i))                                                           \
    X(int, deport_resource, (wchar_t *device, wchar_t *host, wchar_t *options, wchar_t *hostKey, int flags)) \
    X(int, is_parent_pgn, (wchar_t *a, int *b, int c))                                                       \
    X(int, unformat, (wchar_t **a, int b, int c))                                                            \
    X(int, pre_deport_resource, (wchar_t *a, int b, wchar_t *c))                                             \
    X(int, refresh_tree, (kel_domain *domain, int a, int b, kel_resource *r, int c, int *d, void *e, int f)) \
    X(int, get_backupset, (kel_domain *domain, int a, wchar_t **b, int c, kel_bkupset *set))                 \
    X(int, get_app_status, (kel_domain *domain, int a, void *b))                                             \
    X(int, set_op_status, (kel_domain *domain, int a))                                                       \
    X(int, set_comp_status, (kel_domain *domain, int a, wchar_t *b, int c))                                  \
    X(int, set_restorepaths, (kel_domain *domain, wchar_t *a, int b))

#define RENDO_FI_PGN_DECLARE_(ret, name, params) RENDO_API ret rendo_fi_pgn_##name params;
RENDO_FI_PGN_ENTRY_POINTS(RENDO_FI_PGN_DECLARE_)
#undef RENDO_FI_PGN_DECLARE_

/* Function pointer types for callers that resolve the names at run time:
 * rendo_fi_pgn_<name>_fn. */
#define RENDO_FI_PGN_FN_TYPE_(ret, name, params) typedef ret(*rendo_fi_pgn_##name##_fn) params;
RENDO_FI_PGN_ENTRY_POINTS(RENDO_FI_PGN_FN_TYPE_)
#undef RENDO_FI_PGN_FN_TYPE_

#define RENDO_FI_PGN_COUNT_(ret, name, params) +1
enum { RENDO_FI_PGN_ENTRY_POINT_COUNT = 0 RENDO_FI_PGN_ENTRY_POINTS(RENDO_FI_PGN_COUNT_) };
#undef RENDO_FI_PGN_COUNT_

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(RENDO_FI_PGN_ENTRY_POINT_COUNT == 70, "the framework knows the provider by exactly 70 entry points");
#endif

#endif /* RENDO_RENDO_FI_PGN_H */

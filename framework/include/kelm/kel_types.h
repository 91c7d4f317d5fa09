/*
 * Records of the Kelm framework that cross the plug-in boundary.
 *
 * The framework owns these records; a provider reads or fills only the fields
 * named below. Fields the provider never touches are opaque padding, but every
 * field that the provider does touch sits at the position the framework
 * defines, pinned by the static_asserts at the end of this file.
 */
#ifndef KELM_KEL_TYPES_H
#define KELM_KEL_TYPES_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes that cross the boundary. */
#define KEL_OK 0
#define KEL_EDELAYEDINIT 1
#define KEL_EINVAL 3
#define KEL_ENOTSUP 4
#define KEL_EMALLOC 5
#define KEL_EFAIL 6
#define KEL_ENOVERSION 7
#define KEL_ENODEV 20

/* Import flag: find the device without rescanning the host. */
#define KEL_RESCAN_SKIP 0x100u
#define KEL_ECACHE 26
#define KEL_EINITFAILED 29

/* Claim levels returned by rendo_fi_pgn_claim. */
#define KEL_CLAIM_NONE 0
#define KEL_CLAIM_SECONDARY 2
#define KEL_CLAIM_TERTIARY 3

/* Access-disabled bit in the flags word of a sub-object's domain. */
#define KEL_OBJ_ACCESS_DISABLED 0x40u
/* Set on a split node's domain by the session-based make. */
#define KEL_DOMAIN_SPLIT_DONE 0x1u

typedef enum kel_eseverity {
    KEL_SEV_NONE = 0,
    KEL_SEV_INFO = 1,
    KEL_SEV_WARNING = 2,
    KEL_SEV_ERROR = 3,
    KEL_SEV_DEBUG = 4
} kel_eseverity;

typedef enum kel_intent { KEL_INTENT_NONE = 0, KEL_INTENT_READ = 1, KEL_INTENT_WRITE = 2 } kel_intent;
typedef enum kel_disposition { KEL_DISP_NONE = 0, KEL_DISP_KEEP = 1, KEL_DISP_DESTROY = 2 } kel_disposition;
typedef enum kel_interpose { KEL_INTERPOSE_NONE = 0 } kel_interpose;
typedef enum kel_op_providerstate {
    KEL_PSTATE_NONE = 0,
    KEL_PSTATE_RESET = 1, /* the base default zeroes the blob */
    KEL_PSTATE_SAVE = 2,
    KEL_PSTATE_RESTORE = 3
} kel_op_providerstate;

/* An object identifier, made and freed by the framework utility library. */
typedef struct kelm_objid {
    wchar_t *name;       /* the object's wide name */
    uint32_t name_bytes; /* bytes of name including the terminator */
    uint32_t flags;
} kelm_objid;

struct kel_domain;

/* Target of the thirteenth field of a domain: the alternate-node link. */
typedef struct kel_altback {
    struct kel_domain *node; /* the node this link belongs to */
} kel_altback;

typedef struct kel_altlink {
    int32_t active; /* non-zero when the link is in use */
    int32_t reserved;
    kel_altback *back;
} kel_altlink;

/* The framework's node record. Field numbers are pointer-sized positions. */
typedef struct kel_domain {
    uint32_t state;             /* 1st 32-bit word: 0x1002 once prepared */
    uint32_t flags;             /* 2nd 32-bit word */
    kelm_objid *obj;            /* 2: the node's object record */
    void *opaque3;              /* 3 */
    int32_t *fitype_out;        /* 4: supportsFiType writes 0 through it */
    void *opaque5;              /* 5 */
    void *opaque6;              /* 6 */
    struct kel_domain *child;   /* 7: first child */
    struct kel_domain *altnode; /* 8: alternate node */
    void *opaque9;              /* 9 */
    void *opaque10;             /* 10 */
    void *field11;              /* 11: cleared when prepared */
    void *field12;              /* 12: cleared when prepared */
    kel_altlink *altlink;       /* 13: alternate-node link */
    void *opaque14;
    void *opaque15;
    void *opaque16;
    void *opaque17;
    void *opaque18;
    void *pgn_private;          /* 19: the plug-in's private data of the node */
    wchar_t *name;              /* 20: the node's wide name */
} kel_domain;

typedef struct kel_splitnode {
    char *key;          /* the node key */
    kel_domain *domain; /* the node's domain */
} kel_splitnode;

typedef struct kel_node_subobj_list {
    kel_domain *obj;                   /* the object whose access changes */
    kel_domain **subobjs;              /* sub-object records */
    uint32_t subobj_count;
    uint32_t reserved;
    struct kel_node_subobj_list *next; /* null ends the list */
} kel_node_subobj_list;

typedef struct kel_msg_info {
    const char *text; /* serialised message text */
    uint32_t length;  /* bytes of text */
} kel_msg_info;

typedef struct kel_confspec {
    int32_t list_select; /* non-zero selects list index 1 */
    int32_t active;      /* both fields 0: nothing to configure */
    wchar_t *text;       /* in/out configuration text */
} kel_confspec;

/* Provider state handed to the framework (the node state text). Both
 * pointer-sized fields are zeroed by a reset. */
typedef struct kel_blob {
    void *size;    /* 1: byte count of data, including the terminator (a number) */
    void *data;    /* 2: buffer from kelm_alloc_buf; the framework frees it */
    uint32_t kind; /* 3: 1 for the node state text */
    uint32_t reserved;
} kel_blob;

typedef struct kel_version {
    uint16_t word[4];
} kel_version;

struct kel_pgn_init;
typedef void (*kel_error_callback)(struct kel_pgn_init *init, const wchar_t *native_text,
                                   const wchar_t *default_text, int severity);

/* First argument of rendo_fi_pgn_init. */
typedef struct kel_pgn_init {
    kel_error_callback callback; /* 1 */
    void *opaque2;
    void *opaque3;
    char **native_language; /* 4: pointer to the native language name */
    void *user;             /* free for the framework's own use */
} kel_pgn_init;

/* Lists built by the utility library; the sixth field links elements. */
typedef struct kel_provider_list {
    wchar_t *provider_name;
    uint64_t value1;
    uint64_t value2;
    kel_version *version;
    wchar_t **object_types; /* null-terminated */
    struct kel_provider_list *next;
} kel_provider_list;

typedef struct kel_node_list {
    wchar_t *node_name;
    kelm_objid *objid;
    uint32_t lead1;
    uint32_t lead2;
    uint64_t lead3;
    uint64_t lead4;
    wchar_t *provider_name;
    struct kel_node_list *next;
} kel_node_list;

/* What kelm_build_nodelist_node is given. */
typedef struct kel_node_desc {
    const wchar_t *node_name;
    kelm_objid *objid;
    uint32_t lead1;
    uint32_t lead2;
    uint64_t lead3;
    uint64_t lead4;
} kel_node_desc;

/* Records passed through unchanged to provider operations. */
typedef struct kel_accessnode { void *opaque[4]; } kel_accessnode;
typedef struct kel_quiescenode { void *opaque[4]; } kel_quiescenode;
typedef struct kel_attributes { void *opaque[4]; } kel_attributes;
typedef struct kel_assoc { void *opaque[4]; } kel_assoc;
typedef struct kel_assoc_list { void *opaque[4]; } kel_assoc_list;
typedef struct kel_node { void *opaque[4]; } kel_node;
typedef struct kel_group_node_list { void *opaque[4]; } kel_group_node_list;
typedef struct kel_fim_list { void *opaque[4]; } kel_fim_list;
typedef struct kel_pgn_node_list { void *opaque[4]; } kel_pgn_node_list;
typedef struct kel_host_infn { void *opaque[4]; } kel_host_infn;
typedef struct kel_enclosure_node_list { void *opaque[4]; } kel_enclosure_node_list;
typedef struct kel_host_node_list { void *opaque[4]; } kel_host_node_list;
typedef struct kel_resource { void *opaque[4]; } kel_resource;
typedef struct kel_bkupset { void *opaque[4]; } kel_bkupset;

#ifdef __cplusplus
}
#endif

#define KEL_PTR_FIELD(n) (((n)-1) * sizeof(void *))

#ifdef __cplusplus
static_assert(sizeof(void *) == 8, "the framework records are laid out for 64-bit");
static_assert(offsetof(kel_domain, flags) == 4, "domain flags: second 32-bit word");
static_assert(offsetof(kel_domain, obj) == KEL_PTR_FIELD(2), "domain object record");
static_assert(offsetof(kel_domain, fitype_out) == KEL_PTR_FIELD(4), "supportsFiType target");
static_assert(offsetof(kel_domain, child) == KEL_PTR_FIELD(7), "first child");
static_assert(offsetof(kel_domain, altnode) == KEL_PTR_FIELD(8), "alternate node");
static_assert(offsetof(kel_domain, field11) == KEL_PTR_FIELD(11), "eleventh field");
static_assert(offsetof(kel_domain, field12) == KEL_PTR_FIELD(12), "twelfth field");
static_assert(offsetof(kel_domain, altlink) == KEL_PTR_FIELD(13), "alternate-node link");
static_assert(offsetof(kel_domain, pgn_private) == KEL_PTR_FIELD(19), "private data");
static_assert(offsetof(kel_domain, name) == KEL_PTR_FIELD(20), "node name");
static_assert(offsetof(kel_altlink, back) == KEL_PTR_FIELD(2), "link's second field");
static_assert(offsetof(kelm_objid, name) == 0, "objid name first");
static_assert(offsetof(kel_splitnode, domain) == KEL_PTR_FIELD(2), "split node domain");
static_assert(offsetof(kel_node_subobj_list, subobjs) == KEL_PTR_FIELD(2), "sub-object array");
static_assert(offsetof(kel_node_subobj_list, subobj_count) == KEL_PTR_FIELD(3), "sub-object count");
static_assert(offsetof(kel_node_subobj_list, next) == KEL_PTR_FIELD(4), "subobj next");
static_assert(offsetof(kel_msg_info, length) == KEL_PTR_FIELD(2), "message length");
static_assert(offsetof(kel_confspec, text) == 8, "confspec text after two ints");
static_assert(offsetof(kel_blob, data) == KEL_PTR_FIELD(2), "blob data second");
static_assert(offsetof(kel_blob, kind) == KEL_PTR_FIELD(3), "blob kind third");
static_assert(sizeof(kel_version) == 8, "four 16-bit words");
static_assert(offsetof(kel_pgn_init, native_language) == KEL_PTR_FIELD(4), "native language");
static_assert(offsetof(kel_provider_list, next) == KEL_PTR_FIELD(6), "provider list link");
static_assert(offsetof(kel_node_list, next) == KEL_PTR_FIELD(7), "node list link");
#endif

#endif /* KELM_KEL_TYPES_H */

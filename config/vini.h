/* Virtual ini ("VINI"): reads a configuration file of key-and-value lines
 * and answers lookups by key.  Understands first-column comments, " /" and
 * "\n" continuation lines, host sections and values read from another file
 * ("|file").  Declared keys go to an embedded settings list, every other key
 * to the virtual ini's own list of undeclared settings.
 */
#ifndef QUILLOR_VINI_H
#define QUILLOR_VINI_H

#include <cstddef>
#include <cstdint>
#include "config/ini.h"

constexpr uint32_t VINI_MAGIC = 32000;
constexpr int VINI_LINE_MAX = 9999;  /* characters per read line */
constexpr int VINI_VALUE_LINE = 511; /* characters per line of a value file */

enum { VINI_BAD_ARG = -10 };

struct vini_setting {
    char *name;
    static_list values;
    vini_setting *next_same_hash; /* chain in the key index */
};

/* The undeclared settings by key (case-blind), so that storing and looking
 * up stay constant-time however many settings a file holds. */
struct vini_index {
    vini_setting **buckets;
    size_t nbuckets; /* a power of two, or 0 before the first store */
    size_t count;
};

struct vini {
    uint32_t marker;
    ini_list settings;
    static_list undeclared;
    vini_index index;
};

int vini_init(vini *v, report_fn error, report_fn debug);
ini_list *vini_set_table(vini *v, const ini_definition *table, const ini_fallback *fallbacks, int apply);
int vini_load(vini *v, const char *dir, const char *file, const char *keyword, const char *host);
enum { VINI_OWN_VALUE = 0, VINI_FOLLOW = 1 }; /* vini_get: follow a declared setting's fallbacks */
const char *vini_get(vini *v, const char *key, int follow);
int vini_set(vini *v, const char *key, const char *value);
int vini_add_value(vini *v, int index, const char *value);
int vini_remove(vini *v, const char *key);
int vini_free(vini *v);

char *vini_first_word(const char *line);

#endif

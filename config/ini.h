/* Settings list ("ini"): an in-memory store of declared settings.
 *
 * A caller declares its settings in a definition table; the list keeps the
 * values of each, with fallbacks and change rules chosen by flags.  Every
 * change and refusal is reported through the debug callback as an "INI: "
 * message.
 */
#ifndef QUILLOR_INI_H
#define QUILLOR_INI_H

#include <cstdint>
#include "config/static_list.h"

constexpr uint32_t INI_MAGIC = 32000;

enum : uint8_t {
    INI_MULTI = 0x01,
    INI_LOAD_ONLY = 0x02,
    INI_BLANK_OK = 0x04,
    INI_BLANK_CLEARS = 0x08,
    INI_SECRET = 0x10,
    INI_FROM_FILE = 0x40,
};

enum {
    INI_NO_SETTING = -11,
    INI_BAD_ARG = -12,
    INI_NO_TABLE = -14,
    INI_REFUSED = -20,
};

struct ini_definition {
    const char *name; /* null ends the table */
    const char *default_value;
    uint8_t flags;
};

struct ini_fallback {
    const char *name; /* null ends the table */
    const char *fallback;
};

struct ini_node {
    static_list values;
    static_list fallbacks; /* heap int cells */
};

struct ini_list {
    uint32_t marker;
    report_fn error;
    report_fn debug;
    static_list nodes;
    const ini_fallback *fallbacks;
    int locked;
    const ini_definition *table;
};

int ini_init(ini_list *l, report_fn error, report_fn debug);
int ini_set_table(ini_list *l, const ini_definition *table, const ini_fallback *fallbacks, int apply);
int ini_apply_defaults(ini_list *l);
int ini_find(ini_list *l, const char *name);
const char *ini_name(ini_list *l, int index);
const char *ini_get(ini_list *l, int index, int follow);
int ini_add_value(ini_list *l, int index, const char *value);
int ini_remove_value(ini_list *l, int index);
int ini_clear(ini_list *l);
int ini_build(ini_list *l);
int ini_store(ini_list *l, int index, int position, const char *value);
int ini_log_error(ini_list *l, const char *fmt, ...);
int ini_log_debug(ini_list *l, const char *fmt, ...);
void ini_lock(ini_list *l, int locked); /* used by the virtual ini while it reads */

#endif

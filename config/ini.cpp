/* Settings list ("ini"): the store of declared configuration settings.
 *
 * A caller declares its settings in a definition table; the list keeps one
 * node per definition with the setting's values and its fallback settings.
 * The flags of a definition decide whether a change is kept, replaces,
 * appends, clears or is refused, and every such decision is reported through
 * the debug callback so a log shows where a value came from.  Parsing of
 * configuration files is not done here but by the virtual ini.
 */
#include "config/ini.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "text/text.h"
#include "platform/platform.h"

constexpr int INI_NODE_STEP = 10;     /* growth step of the node list */
constexpr int INI_MESSAGE_SIZE = 512; /* every message caps its texts at 100 */

/* ---- helpers ---- */

static void require_init(const ini_list *l)
{
    if (l->marker != INI_MAGIC) {
        perror("Error Using ini before Init\n");
        plat_exit(1);
    }
}

static int definition_count(const ini_list *l)
{
    int n = 0;
    if (l->table)
        while (l->table[n].name) n++;
    return n;
}

/* The flags of a declared setting; 0 for an index outside the table. */
static uint8_t setting_flags(const ini_list *l, int index)
{
    if (index < 0 || index >= definition_count(l)) return 0;
    return l->table[index].flags;
}

static int report(report_fn fn, const char *fmt, va_list ap)
{
    if (!fn) return 0;
    char text[INI_MESSAGE_SIZE];
    if (vsnprintf(text, sizeof text, fmt, ap) < 0) text[0] = '\0';
    fn("%s", text);
    return (int)strlen(text);
}

/* ---- building the nodes ---- */

static void add_fallbacks(ini_list *l, ini_node *node, const char *name)
{
    if (!l->fallbacks) return;
    for (const ini_fallback *f = l->fallbacks; f->name; f++) {
        if (text_compare_nocase(f->name, name) != 0) continue;
        int target = ini_find(l, f->fallback);
        if (target < 0) continue; /* undeclared fallback: nothing to consult */
        int *cell = (int *)malloc(sizeof(int));
        if (!cell) return;
        *cell = target;
        if (static_add(&node->fallbacks, cell) < 0) free(cell);
    }
}

/* Makes the node for definition i; 0 when it cannot be kept. */
static int build_node(ini_list *l, int i)
{
    ini_node *node = (ini_node *)malloc(sizeof(ini_node));
    if (!node) return 0;
    static_init(&node->values, l->error);
    static_init(&node->fallbacks, l->error);
    add_fallbacks(l, node, l->table[i].name);
    if (static_add(&l->nodes, node) < 0) {
        static_free(&node->fallbacks);
        free(node);
        return 0;
    }
    ini_log_debug(l, "INI: Setting #%d is %.100s", i, l->table[i].name);
    return 1;
}

static void free_nodes(ini_list *l)
{
    static_rewind(&l->nodes);
    while (ini_node *node = (ini_node *)static_next(&l->nodes)) {
        static_free(&node->values);
        static_free(&node->fallbacks);
    }
    static_free(&l->nodes);
}

/* ---- lookup ---- */

/* depth bounds a fallback chain even when a table loops back on itself */
static const char *get_value(ini_list *l, int index, int follow, int depth)
{
    ini_node *node = (ini_node *)static_get(&l->nodes, index);
    if (!node) return nullptr;
    if (static_count(&node->values) > 0) return (const char *)static_get(&node->values, 0);
    if (!follow || depth <= 0) return nullptr;
    for (int k = 0; k < static_count(&node->fallbacks); k++) {
        int *target = (int *)static_get(&node->fallbacks, k);
        const char *value = get_value(l, *target, follow, depth - 1);
        if (value) return value;
    }
    return nullptr;
}

/* ---- change rules ---- */

/* Removes every value of a setting; each removal is reported. */
static void remove_all(ini_list *l, int index)
{
    while (ini_remove_value(l, index) == 1) {
    }
}

/* 1 when a change must not be stored: a load-only setting while locked, or
 * an empty value that is not accepted (or that clears the setting). */
static int refused(ini_list *l, int index, const char *value)
{
    const char *name = l->table[index].name;
    uint8_t flags = l->table[index].flags;
    if ((flags & INI_LOAD_ONLY) && l->locked) {
        ini_log_debug(l, "INI: Setting {%.100s=%.100s} not added (INVALID CHANGE)", name, value);
        return 1;
    }
    if (value[0] != '\0') return 0;
    if (flags & INI_BLANK_CLEARS) {
        remove_all(l, index);
        ini_log_debug(l, "INI: Removed all INI Setting for {%.100s}", name);
        return 1;
    }
    if (flags & INI_BLANK_OK) return 0;
    ini_log_debug(l, "INI: Blank Setting for {%.100s} not added", name);
    return 1;
}

/* ---- public operations ---- */

int ini_init(ini_list *l, report_fn error, report_fn debug)
{
    if (!l) return INI_BAD_ARG;
    memset(l, 0, sizeof *l);
    l->marker = INI_MAGIC;
    l->error = error;
    l->debug = debug;
    static_init(&l->nodes, error);
    static_set_step(&l->nodes, INI_NODE_STEP);
    l->locked = 1;
    return 1;
}

int ini_set_table(ini_list *l, const ini_definition *table, const ini_fallback *fallbacks, int apply)
{
    if (!l) return INI_BAD_ARG;
    require_init(l);
    ini_clear(l);
    l->table = table;
    if (fallbacks) l->fallbacks = fallbacks;
    if (ini_build(l) != 0 && apply) ini_apply_defaults(l);
    return 1;
}

int ini_build(ini_list *l)
{
    if (!l) return INI_BAD_ARG;
    require_init(l);
    if (!l->table) return INI_NO_TABLE;
    int n = definition_count(l);
    /* Only missing nodes are made, so node i always belongs to definition i. */
    for (int i = static_count(&l->nodes); i < n; i++)
        if (!build_node(l, i)) break;
    return n;
}

int ini_apply_defaults(ini_list *l)
{
    if (!l) return INI_BAD_ARG;
    require_init(l);
    if (!l->table) return 0;
    int n = definition_count(l);
    l->locked = 0;
    for (int i = 0; i < n; i++)
        if (l->table[i].default_value) ini_add_value(l, i, l->table[i].default_value);
    l->locked = 1;
    return n;
}

int ini_find(ini_list *l, const char *name)
{
    if (!l) return INI_BAD_ARG;
    require_init(l);
    int n = definition_count(l);
    for (int i = 0; i < n; i++)
        if (text_compare_nocase(l->table[i].name, name) == 0) return i;
    return INI_NO_SETTING;
}

const char *ini_name(ini_list *l, int index)
{
    if (!l) return nullptr;
    require_init(l);
    if (index < 0 || index >= definition_count(l)) return nullptr;
    return l->table[index].name;
}

const char *ini_get(ini_list *l, int index, int follow)
{
    if (!l) return nullptr;
    require_init(l);
    return get_value(l, index, follow, static_count(&l->nodes));
}

int ini_add_value(ini_list *l, int index, const char *value)
{
    if (!l) return INI_BAD_ARG;
    require_init(l);
    if (!value || index == INI_NO_SETTING) return INI_BAD_ARG;
    ini_node *node = (ini_node *)static_get(&l->nodes, index);
    if (!node && index >= 0 && index < definition_count(l)) {
        ini_build(l); /* the nodes were cleared since the table was set */
        node = (ini_node *)static_get(&l->nodes, index);
    }
    if (!node) return INI_BAD_ARG;
    return ini_store(l, index, static_count(&node->values), value);
}

int ini_store(ini_list *l, int index, int position, const char *value)
{
    if (!l || !value) return INI_BAD_ARG;
    require_init(l);
    ini_node *node = (ini_node *)static_get(&l->nodes, index);
    if (!node || index >= definition_count(l)) return INI_BAD_ARG;
    const char *name = l->table[index].name;
    uint8_t flags = l->table[index].flags;
    if (refused(l, index, value)) return INI_REFUSED;
    char *copy = text_dup(value);
    if (!copy) return STATIC_NO_MEMORY; /* as when the value list cannot grow */
    if (!(flags & INI_MULTI)) {
        remove_all(l, index);
        position = 0;
    }
    int at = static_insert(&node->values, copy, position);
    if (at < 0) {
        free(copy);
        return at;
    }
    if (flags & INI_SECRET)
        ini_log_debug(l, "INI: Settings changed {%.100s=xxxxx}", name);
    else
        ini_log_debug(l, "INI: Settings changed {%.100s=%.100s}", name, copy); /* value may have been freed above */
    return at;
}

int ini_remove_value(ini_list *l, int index)
{
    if (!l) return 0;
    require_init(l);
    const char *name = ini_name(l, index);
    if ((setting_flags(l, index) & INI_LOAD_ONLY) && l->locked) {
        ini_log_debug(l, "INI: Setting {%.100s} (INVALID REMOVAL)", name);
        return 0;
    }
    ini_node *node = (ini_node *)static_get(&l->nodes, index);
    if (!node) return 0;
    char *value = (char *)static_remove_current(&node->values);
    if (!value) return 0;
    free(value);
    ini_log_debug(l, "INI: Setting %.100s removed", name);
    return 1;
}

int ini_clear(ini_list *l)
{
    if (!l) return INI_BAD_ARG;
    require_init(l);
    if (static_count(&l->nodes) > 0) free_nodes(l);
    return 1;
}

void ini_lock(ini_list *l, int locked)
{
    if (!l) return;
    require_init(l);
    l->locked = locked;
}

int ini_log_error(ini_list *l, const char *fmt, ...)
{
    if (!l || !l->error || !fmt) return 0;
    va_list ap;
    va_start(ap, fmt);
    int n = report(l->error, fmt, ap);
    va_end(ap);
    return n;
}

int ini_log_debug(ini_list *l, const char *fmt, ...)
{
    if (!l || !l->debug || !fmt) return 0;
    va_list ap;
    va_start(ap, fmt);
    int n = report(l->debug, fmt, ap);
    va_end(ap);
    return n;
}

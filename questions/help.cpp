/* Help lookup: the reader behind the "?" answer.
 *
 * install.hlp holds one section per help tag: a header line "[TAG]" and the
 * text lines below it, up to the next header.  The reader finds the first
 * header that starts with the tag, collects the section's text (comments
 * and leading tabs left out, CR LF read as LF) and caches the last lookup.
 * A missing or unreadable file is never an error here: the user is told
 * that no help is available and the question goes on.  The file is only
 * ever read.
 */
#include "questions/help.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "log/log.h"
#include "platform/platform.h"
#include "text/text.h"

static const char NO_HELP[] = "No specific help is available for this question.";

/* ---- heap strings ---- */

char *append_grow(char *s, const char *text)
{
    if (!text) return s;
    size_t old_len = s ? strlen(s) : 0;
    size_t size = old_len + strlen(text) + 5;
    if (size > (size_t)INT_MAX) return s; /* the text helpers take int sizes */
    char *grown = (char *)realloc(s, size);
    if (!grown) return s;
    if (!s) grown[0] = '\0';
    text_append(grown, text, (int)size);
    return grown;
}

/* ---- reading the file ---- */

/* Reads the next piece of at most HELP_PIECE bytes; 0 at the end of the
 * file, on a read error, or when there is no file at all. */
static int next_piece(help_reader *h, char *piece)
{
    if (!h->file) return 0;
    return plat_fgets(piece, HELP_PIECE + 1, h->file) != nullptr;
}

static int is_header_of(const char *piece, const char *tag)
{
    /* only the tag's length is compared: [WORKAREA_TRUE] matches WORKAREA */
    return piece[0] == '[' && strncmp(piece + 1, tag, strlen(tag)) == 0;
}

/* Skips to the line after the first header of the tag; 0 when there is none. */
static int find_section(help_reader *h, const char *tag)
{
    char piece[HELP_PIECE + 1];
    while (next_piece(h, piece))
        if (is_header_of(piece, tag)) return 1;
    return 0;
}

/* Turns a text line into its printed form, in place: the first carriage
 * return goes, then the tabs at its start.  Returns where the text begins. */
static char *printed_form(char *piece)
{
    char *cr = strchr(piece, '\r');
    if (cr) memmove(cr, cr + 1, strlen(cr + 1) + 1);
    while (*piece == '\t') piece++;
    return piece;
}

/* Collects the section's text after its header; null when it has none. */
static char *collect_section(help_reader *h)
{
    char piece[HELP_PIECE + 1];
    char *text = nullptr;
    while (next_piece(h, piece)) {
        int have_text = text && text[0];
        if (piece[0] == '[') {
            if (have_text) break;
            continue; /* an empty section shows the next one's text */
        }
        if (piece[0] == '#') continue;
        text = append_grow(text, printed_form(piece));
    }
    return text;
}

/* One trailing empty line of a section is not shown. */
static void drop_trailing_empty_line(char *text)
{
    size_t n = strlen(text);
    if (n >= 2 && text[n - 1] == '\n' && text[n - 2] == '\n') text[n - 1] = '\0';
}

/* ---- the reader ---- */

int help_open(help_reader *h, const char *name)
{
    if (!h) {
        log_error("help_open: unexpected NULL passed");
        return 0;
    }
    h->last_tag = nullptr;
    h->last_text = nullptr;
    h->file = name ? plat_fopen(name, "rb") : nullptr;
    if (!h->file && name && errno != ENOENT) /* a device or pipe would never end: refused */
        log_error("help_open: cannot open %s {%s}", name, strerror(errno));
    return h->file != nullptr;
}

const char *help_lookup(help_reader *h, const char *tag)
{
    if (!h || !tag) {
        log_error("help_lookup: unexpected NULL passed");
        return NO_HELP;
    }
    if (h->last_tag && text_compare(h->last_tag, tag) == 0) return h->last_text ? h->last_text : NO_HELP;
    free(h->last_tag);
    h->last_tag = text_dup(tag);
    free(h->last_text);
    h->last_text = nullptr;

    char *text = nullptr;
    if (h->file) {
        rewind(h->file);
        if (find_section(h, tag)) text = collect_section(h);
    }
    if (text && text[0]) {
        drop_trailing_empty_line(text);
        h->last_text = text;
        return text;
    }
    free(text);
    h->last_text = text_dup(NO_HELP);
    return h->last_text ? h->last_text : NO_HELP;
}

int help_close(help_reader *h)
{
    if (!h) {
        log_error("help_close: unexpected NULL passed");
        return 0;
    }
    free(h->last_tag);
    free(h->last_text);
    h->last_tag = nullptr;
    h->last_text = nullptr;
    if (!h->file) return 0; /* nothing was open */
    if (plat_fclose(h->file) != 0) return 0;
    h->file = nullptr;
    return 1;
}

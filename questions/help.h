/* Help lookup: finds the section of a help tag in install.hlp. */
#ifndef QUILLOR_HELP_H
#define QUILLOR_HELP_H

#include <cstdio>

constexpr int HELP_PIECE = 255; /* bytes per line read */

struct help_reader {
    FILE *file;
    char *last_tag;
    char *last_text;
};

int help_open(help_reader *h, const char *name);
const char *help_lookup(help_reader *h, const char *tag);
int help_close(help_reader *h);
/* Appends text to a heap string, growing it; may return a new address.
 * On allocation failure the old string comes back unchanged. */
char *append_grow(char *s, const char *text);

#endif

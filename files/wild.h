/* Wildcard matching of file names ("*.tpl", "*img*", "[a-c]?", ...).
 * Case-sensitive and byte-wise; callers lower-case both sides for
 * case-blind matching. */
#ifndef QUILLOR_WILD_H
#define QUILLOR_WILD_H

int wild_match(const char *pattern, const char *text);
int wild_match_core(const char *text, const char *pattern); /* 1, 0, or -1 abort */

#endif

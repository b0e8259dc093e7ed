/* Wildcard matching of file names.
 *
 * Decides which directory entries a pattern such as "*.tpl" or "[a-c]?"
 * selects: "*" any run, "?" any one character, "[...]" a class, "\" takes
 * the next character literally.  Matching is byte-wise and case-sensitive;
 * the tree walk lower-cases both sides itself.  A star that cannot place the
 * rest of the pattern anywhere aborts the whole match (-1), so earlier stars
 * stop retrying and a pattern with many stars stays cheap.
 */
#include "files/wild.h"

#include <cstring>

/* ---- character classes ---- */

static int in_range(char c, char lo, char hi)
{
    signed char sc = (signed char)c;
    return sc >= (signed char)lo && sc <= (signed char)hi;
}

/* Matches c against the class whose "[" *pp points at.  Leaves *pp on the
 * closing "]", or on the terminator when the class is never closed. */
static int match_class(const char **pp, char c)
{
    const char *p = *pp + 1;
    int invert = 0;
    int found = 0;
    if (*p == '^') {
        invert = 1;
        p++;
    }
    for (int first = 1; *p && (*p != ']' || first); first = 0) {
        if (p[1] == '-' && p[2] && p[2] != ']') {
            found |= in_range(c, p[0], p[2]);
            p += 3;
        } else {
            found |= (*p == c);
            p++;
        }
    }
    *pp = p;
    return found != invert;
}

/* ---- stars ---- */

/* p points just past the star run; tries the rest at every text position. */
static int match_star(const char *text, const char *p)
{
    if (!*p) return 1;
    if (!*text) return -1;
    for (; *text; text++) {
        int r = wild_match_core(text, p);
        if (r != 0) return r; /* a match, or an abort that no later start can cure */
    }
    return -1;
}

/* ---- public operations ---- */

int wild_match_core(const char *text, const char *pattern)
{
    if (!text || !pattern) return 0;
    const char *p = pattern;
    while (*p) {
        if (!*text && *p != '*') return -1;
        switch (*p) {
        case '\\':
            p++;
            if (*text != *p) return 0;
            break;
        case '?': break;
        case '*':
            while (*p == '*') p++;
            return match_star(text, p);
        case '[':
            if (!match_class(&p, *text)) return 0;
            break;
        default:
            if (*text != *p) return 0;
            break;
        }
        text++;
        if (*p) p++; /* an unclosed class has already consumed the pattern */
    }
    return *text == '\0';
}

int wild_match(const char *pattern, const char *text)
{
    if (!pattern) return 0;
    if (strcmp(pattern, "*") == 0) return 1;
    return wild_match_core(text, pattern) == 1;
}

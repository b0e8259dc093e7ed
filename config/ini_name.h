/* The configuration file's name, made from the executable's: a pure name
 * rule, shared by the configuration rewrite and the flows. */
#ifndef QUILLOR_INI_NAME_H
#define QUILLOR_INI_NAME_H

/* Turns the first ".exe" (or else ".cgi") in name into ".ini", in place,
 * and cuts what followed it.  Returns name, or null (logged) when name is
 * null or holds neither. */
char *cgi_to_ini(char *name);

#endif

/* Small probes the flows share: is the application installed, offers to
 * switch between install and update, cache clean-up, the web images
 * directory and the configuration file's name. */
#ifndef QUILLOR_PROBES_H
#define QUILLOR_PROBES_H

#include "config/ini_name.h"
#include "table/table.h"

int test_install(const char *dir, question_table *t);
int test_update(const char *dir, question_table *t);
constexpr int DEL_CACHE_REFUSED = 2; /* del_cache: the folder holds more than a cache, or a cache file stayed */
int del_cache(question_table *t);
char *url_to_dir(char *url, question_table *t); /* takes url over; caller frees result */

#endif

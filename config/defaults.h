/* Reading an existing configuration file into the question defaults. */
#ifndef QUILLOR_DEFAULTS_H
#define QUILLOR_DEFAULTS_H

#include "table/table.h"

void load_defaults(const char *dir, const char *file, question_table *t);

#endif

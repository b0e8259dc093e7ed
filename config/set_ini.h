/* Rewriting the application's configuration file from the answers. */
#ifndef QUILLOR_SET_INI_H
#define QUILLOR_SET_INI_H

#include "table/table.h"

int set_ini(const char *dir, question_table *t);

#endif

/* The three jobs of the installer and the start-up around them. */
#ifndef QUILLOR_FLOWS_H
#define QUILLOR_FLOWS_H

#include "table/table.h"

void install_flow(question_table *t);
void update_flow(question_table *t);
void remove_flow(question_table *t);

int check_install_folder(const char *program_path);
int main_menu();

#endif

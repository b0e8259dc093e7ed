/* The three jobs of the installer and the start-up around them. */
#ifndef QUILLOR_FLOWS_H
#define QUILLOR_FLOWS_H

#include "table/table.h"

void install_flow(question_table *t);
void update_flow(question_table *t);
void remove_flow(question_table *t);

int check_install_folder(const char *program_path);
/* The menu's choices, as typed: "0" to "3". */
enum { MENU_EXIT = 0, MENU_INSTALL = 1, MENU_UPDATE = 2, MENU_REMOVE = 3 };
int main_menu();

#endif

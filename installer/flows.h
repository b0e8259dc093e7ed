/* The three jobs of the installer and the start-up around them. */
#ifndef QUILLOR_FLOWS_H
#define QUILLOR_FLOWS_H

#include "table/table.h"

/* The menu's choices, as typed: "0" to "3". */
enum { MENU_EXIT = 0, MENU_INSTALL = 1, MENU_UPDATE = 2, MENU_REMOVE = 3 };

/* What a job did: the entry point decides on the record and the exit
 * status from it, and runs the job handed over to. */
struct flow_outcome {
    int reached;   /* 1 once the summary was printed */
    int errors;    /* what the summary counted */
    int copied;    /* files copied */
    int backed_up; /* files a backup saved */
    int next;      /* the job handed over to (MENU_INSTALL or MENU_UPDATE), else MENU_EXIT */
};

flow_outcome install_flow(question_table *t);
flow_outcome update_flow(question_table *t);
flow_outcome remove_flow(question_table *t);

int check_install_folder(const char *program_path);
int main_menu();

#endif

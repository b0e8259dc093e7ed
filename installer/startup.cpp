/* Start-up checks and the main menu.
 *
 * The installer must run from inside the unpacked distribution, which must
 * be the current directory: check_install_folder proves it by creating a
 * probe file here and looking for it in the program's own folder.
 */
#include <cstring>

#include "act/act.h"
#include "installer/flows.h"
#include "log/log.h"
#include "platform/platform.h"
#include "questions/answers.h"
#include "questions/question.h"

constexpr int PROBE_TEXT_SIZE = 2000; /* probe names and paths: room for any program path as started */

/* The program's own folder must be the current directory itself, by what
 * the two names are (their identity), not by how they are spelt. */
static int runs_from_here(const char *program_path)
{
    char own[PROBE_TEXT_SIZE];
    text_copy(own, program_path, PROBE_TEXT_SIZE);
    char *slash = strrchr(own, '\\');
    if (!slash) return 1; /* a bare name: found in the current directory */
    slash[1] = '\0';
    return plat_same_dir(own, ".\\") == PLAT_YES;
}

/* Write access is probed with a file that leaves nothing behind, however
 * the process ends; a dry run writes no probe at all. */
int check_install_folder(const char *program_path)
{
    char name[PROBE_TEXT_SIZE] = "XXXXXX", local[PROBE_TEXT_SIZE + 8]; /* ".\\" name ".tmp" always fits */
    if (act_dry()) return runs_from_here(program_path);
    plat_mktemp(name);
    snprintf(local, sizeof local, ".\\%s.tmp", name);
    if (!plat_probe_create(local)) {
        plat_out("\nERROR: no write access to current directory\n");
        log_error("no write access to current directory %s", local);
        return 0;
    }
    return runs_from_here(program_path);
}

int main_menu()
{
    char line[TEXT_PATH_SIZE];
    plat_out("\n\n***** Quillor Installer *****\n\n");
    for (;;) {
        plat_out("Would you like to:\n");
        plat_out("(1)\tInstall Quillor\n");
        plat_out("(2)\tUpdate an older version of Quillor\n");
        plat_out("(3)\tRemove Quillor from your system\n\n");
        plat_out("(0)\texit\n\n");
        plat_out("Enter 1,2,3?");
        if (!answers_menu_choice(line, sizeof line)) /* the job an answers file chose */
            read_answer(line, sizeof line, "the main menu");
        size_t n = strlen(line);
        if (n > 0 && line[n - 1] == '\n') line[n - 1] = '\0';
        if (line[0] == 'E' || line[0] == 'e') line[0] = '0';
        int choice = line[0] - '0';
        if (choice >= MENU_EXIT && choice <= MENU_REMOVE) {
            plat_out("\n\n");
            return choice;
        }
        plat_out("please choose a value 0,1,2 or 3\n");
    }
}

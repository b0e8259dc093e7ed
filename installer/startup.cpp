/* Start-up checks and the main menu.
 *
 * The installer must run from inside the unpacked distribution, which must
 * be the current directory: check_install_folder proves it by creating a
 * probe file here and looking for it in the program's own folder.
 */
#include <cstring>

#include "files/act.h"
#include "installer/flows.h"
#include "log/log.h"
#include "platform/platform.h"
#include "questions/answers.h"
#include "questions/question.h"

constexpr int PROBE_TEXT_SIZE = 2000; /* probe names and paths: room for any program path as started */

/* A dry run writes no probe: the program's own folder must be the
 * current directory itself. */
static int runs_from_here(const char *program_path)
{
    char own[PROBE_TEXT_SIZE];
    text_copy(own, program_path, PROBE_TEXT_SIZE);
    char *slash = strrchr(own, '\\');
    if (!slash) return 1; /* a bare name: found in the current directory */
    slash[1] = '\0';
    return plat_same_dir(own, ".\\") == PLAT_YES;
}

int check_install_folder(const char *program_path)
{
    if (act_dry()) return runs_from_here(program_path);
    char name[PROBE_TEXT_SIZE] = "XXXXXX", local[PROBE_TEXT_SIZE], own[PROBE_TEXT_SIZE];
    plat_mktemp(name);
    text_append(name, ".tmp", PROBE_TEXT_SIZE);
    text_copy(local, ".", PROBE_TEXT_SIZE);
    text_append(local, "\\", PROBE_TEXT_SIZE);
    text_append(local, name, PROBE_TEXT_SIZE);
    FILE *f = plat_fopen(local, "wx"); /* exclusive: never truncates a file that is there */
    if (!f) {
        plat_out("\nERROR: no write access to current directory\n");
        log_error("no write access to current directory %s", local);
        return 0;
    }
    plat_fclose(f);
    text_copy(own, program_path, PROBE_TEXT_SIZE);
    char *slash = strrchr(own, '\\');
    if (slash)
        slash[1] = '\0';
    else
        own[0] = '\0';
    text_append(own, name, PROBE_TEXT_SIZE);
    FILE *g = plat_fopen(own, "r");
    if (g) plat_fclose(g);
    plat_remove(local);
    return g != nullptr;
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

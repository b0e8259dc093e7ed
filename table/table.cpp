/* The question table's initial contents and the computer's name.
 *
 * The table is filled once at start-up; every flow then reads and changes
 * the records in place.  The index of a record is also its help tag's
 * position in the tag list below.
 */
#include "table/table.h"

#include <cstring>

#include "platform/platform.h"

struct question_seed {
    const char *tag;
    int mode;
    int flag;
    const char *default_answer;
    const char *prompt;
};

static const question_seed seeds[Q_COUNT] = {
    {"SCRIPTS", QMODE_DIRECTORY, 0, "\\inetpub\\scripts\\", "What is the path to your cgi-bin/scripts directory?\n"},
    {"NEWSHOST", QMODE_NONE, 0, "", "What is the IP address / name of your newshost?\n"},
    {"DOMAIN", QMODE_NONE, 0, "", "What is your domain?"},
    {"TEMPLATES", QMODE_DIRECTORY, 0, "\\quillor\\", "Where is your templates directory?\n"},
    {"WORKAREA_TRUE", QMODE_YN, 0, "n", "Have you set up a workarea directory?"},
    {"WORKAREA", QMODE_DIRECTORY, 0, "\\quillor\\users\\", "Where is your workarea directory?\n"},
    {"CACHE", QMODE_DIRECTORY, 0, "\\quillor\\cache\\", "Where is your cache directory?\n"},
    {"WWWROOT", QMODE_DIRECTORY, 0, "\\inetpub\\wwwroot\\", "What is the path to your webserver/webpages directory?\n"},
    {"QLIMG", QMODE_RELATIVE, 0, "/qlimg",
     "What do you want the relative URL to your Quillor images directory to be?\n"},
    {"AUTH_USER_POP", QMODE_YN, 0, "n", "Do you want to allow authentication via a user specified POP3/IMAP server?"},
    {"AUTH_ADMIN_POP", QMODE_YN, 0, "n", "Do you want to allow authentication via an admin specified POP3 server?"},
    {"POPHOST", QMODE_NONE, 0, "", "What is the IP address / name of this POP3 server?\n"},
    {"FORCE_LOGIN", QMODE_YN, 0, "n", "Do you want to force users to login before using Quillor?"},
    {"AUTH_NEWS", QMODE_YN, 0, "n", "Do you want to allow authentication via the news server?"},
    {"AUTHENT_LOCAL", QMODE_YN, 1, "y",
     "Do you want to allow authentication via local Quillor accounts?\n(? for help)"},
    {"AUTHENT_LOCAL_CREATE", QMODE_YN, 1, "y",
     "Do you want the cgi to automaticly create local accounts as required?\n(? for help)"},
    {"AUTHENT_COOKIE", QMODE_YN, 1, "y", "Do you want to allow cookie login? (? for help)"},
    {"CHANGE", QMODE_YN, 0, "n", "Do you want to change any of your answers"},
    {"DO_UPDATE", QMODE_YN, 1, "y",
     "Quillor is already installed on this computer\nDo you want to do update instead of install?"},
    {"DO_INSTALL", QMODE_YN, 1, "y",
     "Quillor is not installed on this computer\nDo you want to do install instead of update?"},
    {"QUILLOR_CGI", QMODE_NONE, 0, "quillor.exe", "What is the name of Quillor's EXE file?"},
    {"DEL_TEMPLATES", QMODE_YN, 0, "n", "Do you want Quillor Install to replace your current template files?"},
    {"BACK_TEMPLATES", QMODE_YN, 1, "y", "Do you want Quillor Install to backup your current template files?"},
    {"BACK_ALL", QMODE_YN, 1, "y", "Do you want Quillor Install to backup any files it deletes?"},
    {"BACKUP", QMODE_DIRECTORY, 0, "\\backup\\", "Where do you want these files to be backed up to?\n"},
    {"BACK_ORIGINALS", QMODE_YN, 1, "y", "Do you want Quillor Install to save a copy of the default templates?"},
    {"ORIGINALS", QMODE_DIRECTORY, 0, "\\quillor\\originals\\",
     "Where do you want Quillor Install to put the copy of the default templates?\n"},
    {"MAKE_DIR", QMODE_YN, 1, "y", "This directory does not exist.\nWould you like Quillor Install to create it?"},
    {"USER", QMODE_YN, 1, "y", "Shall I delete the temporary files?"},
    {"END", QMODE_YN, 1, "y", "Do you want to continue?"},
};

void table_init(question_table *t)
{
    memset(t, 0, sizeof *t);
    for (int i = 0; i < Q_COUNT; i++) {
        t->q[i].prompt = seeds[i].prompt;
        text_copy(t->q[i].default_answer, seeds[i].default_answer, TEXT_PATH_SIZE);
        t->q[i].mode = seeds[i].mode;
        t->q[i].flag = seeds[i].flag;
    }
}

const char *question_tag(int index) { return index >= 0 && index < Q_COUNT ? seeds[index].tag : nullptr; }

/* ---- the computer's name ---- */

constexpr int REGISTRY_VALUE_SIZE = 64; /* the name as the registry holds it */

static char name_cache[TEXT_PATH_SIZE];
static char registry_value[REGISTRY_VALUE_SIZE];

const char *read_computer_name()
{
    if (!plat_computer_name(registry_value, REGISTRY_VALUE_SIZE)) return "NONAME";
    return registry_value;
}

const char *computer_name()
{
    /* an unreadable name is not remembered: the next call tries again */
    if (name_cache[0] == '\0' || text_compare(name_cache, "NONAME") == 0)
        text_copy(name_cache, read_computer_name(), TEXT_PATH_SIZE);
    return name_cache;
}

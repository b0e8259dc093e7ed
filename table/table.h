/* The question table: thirty question records shared by every flow.
 *
 * The entry point owns the table for the whole run and lends it to one flow
 * at a time.  A flow reads a question's result from its default_answer and,
 * for yes/no questions, from its flag (1 yes, 0 no).  The module sits just
 * above text/, so the prompting engine and the configuration code can use
 * the table without reaching into the installer.
 */
#ifndef QUILLOR_TABLE_H
#define QUILLOR_TABLE_H

#include <cstdint>
#include "text/text.h"

enum { QMODE_YN = 0, QMODE_DIRECTORY = 1, QMODE_RELATIVE = 2, QMODE_NONE = 3 };

enum question_index {
    Q_SCRIPTS = 0,
    Q_NEWSHOST = 1,
    Q_DOMAIN = 2,
    Q_TEMPLATES = 3,
    Q_WORKAREA_TRUE = 4,
    Q_WORKAREA = 5,
    Q_CACHE = 6,
    Q_WWWROOT = 7,
    Q_QLIMG = 8,
    Q_AUTH_USER_POP = 9,
    Q_AUTH_ADMIN_POP = 10,
    Q_POPHOST = 11,
    Q_FORCE_LOGIN = 12,
    Q_AUTH_NEWS = 13,
    Q_AUTHENT_LOCAL = 14,
    Q_AUTHENT_LOCAL_CREATE = 15,
    Q_AUTHENT_COOKIE = 16,
    Q_CHANGE = 17,
    Q_DO_UPDATE = 18,
    Q_DO_INSTALL = 19,
    Q_QUILLOR_CGI = 20,
    Q_DEL_TEMPLATES = 21,
    Q_BACK_TEMPLATES = 22,
    Q_BACK_ALL = 23,
    Q_BACKUP = 24,
    Q_BACK_ORIGINALS = 25,
    Q_ORIGINALS = 26,
    Q_MAKE_DIR = 27,
    Q_USER = 28,
    Q_END = 29,
    Q_COUNT = 30
};

constexpr int QUESTION_RESOLVED_SIZE = 4096; /* a canonical native path: the platform's longest */

struct question_rec {
    const char *prompt;
    char default_answer[TEXT_PATH_SIZE];
    char answer[TEXT_PATH_SIZE];
    int32_t mode;
    int32_t flag;
    /* A directory answer and the folder it resolved to when it was
     * accepted (canonical, native), so that the name keeps naming that
     * folder; "" when none was noted. */
    char resolved_of[TEXT_PATH_SIZE];
    char resolved[QUESTION_RESOLVED_SIZE];
};

struct question_table {
    question_rec q[Q_COUNT];
    char line[TEXT_PATH_SIZE]; /* scratch for the waits for Enter */
};

/* A question's result: its flag (1 yes, 0 no) and its accepted answer. */
inline int flag_of(const question_table *t, int index) { return t->q[index].flag; }
inline char *answer_of(question_table *t, int index) { return t->q[index].default_answer; }

/* Fills the table with its initial records (answers empty). */
void table_init(question_table *t);
/* The help tag of a question index, or null outside 0..29. */
const char *question_tag(int index);

/* The computer's name: cached once read, retried while unreadable. */
const char *computer_name();
const char *read_computer_name();

#endif

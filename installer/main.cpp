/* Entry point of the console installer: builds the question table, starts
 * the log, checks the folder it runs from, shows the menu and runs the
 * chosen job. */
#include <cstdlib>
#include <initializer_list>

#include "act/act.h"
#include "act/journal.h"
#include "installer/flows.h"
#include "installer/options.h"
#include "log/log.h"
#include "platform/platform.h"
#include "questions/answers.h"
#include "questions/question.h"

constexpr int32_t LOG_SIZE_LIMIT = 100000; /* bytes before install.log is rotated */
constexpr int32_t LOG_GENERATIONS = 1;     /* install.log keeps one old generation */
constexpr int32_t LOG_NO_ECHO = 0;         /* the console shows only what the flows print */

static log_record installer_log;

constexpr const char LOCK_FILE[] = ".\\install.lck"; /* matches no clean-up pattern */
constexpr int STATUS_LOCKED = 2; /* another installer here, or a link in its files' place */

/* An interrupted run's last words: what it put back, then that it ended
 * (async-signal-safe). */
static void last_words() { log_interrupted(journal_interrupted(nullptr)); }

/* The files the installer keeps here, which it takes, writes or removes
 * at start: a link among them (one Windows does not show as one) would
 * have it act on some other file, so the run does not start. */
static int own_files_are_their_own()
{
    for (const char *own : {LOCK_FILE, ".\\install.log", ".\\install.jnl"}) {
        if (!plat_opens_elsewhere(own)) continue;
        plat_err(own + 2);
        plat_err(" is a link to another file; Quillor Install never goes through one, so it stops here\n");
        return 0;
    }
    return 1;
}

/* One installer per distribution folder, settled before anything is
 * written.  A folder where no lock file can be made cannot be written to
 * either; the folder check reports that. */
static int take_folder_lock()
{
    if (act_dry()) return 1; /* a dry run writes nothing, so it shares the folder */
    if (plat_lock_folder(LOCK_FILE) == 0) {
        plat_err("Another Quillor Install is running in this folder\n"); /* as the other start-up refusals */
        return 0;
    }
    plat_on_interrupt(last_words);
    return 1;
}

/* Reads and discards one line; the end of input ends the wait as well.
 * An unattended run does not wait: nobody is there to press Enter. */
static void wait_for_enter(question_table *t)
{
    if (answers_unattended()) {
        plat_out("\n");
        return;
    }
    log_flush(log_current());
    plat_read_line(t->line, TEXT_PATH_SIZE);
}

static void start_log()
{
    log_init(&installer_log);
    if (act_dry()) { /* a log that writes nowhere: its calls keep working */
        log_set_level(&installer_log, -1);
        log_make_current(&installer_log);
        return;
    }
    log_open(&installer_log, "", "install.log");
    log_set_limits(&installer_log, LOG_SIZE_LIMIT, LOG_GENERATIONS, LOG_NO_ECHO);
    log_set_level(&installer_log, LOG_LEVEL_DEBUG);
    log_make_current(&installer_log);
    log_info("\n\nQuillor installer log");
    log_flush(&installer_log); /* a log that cannot be written is reported before the menu */
}

/* Runs the chosen job and every job it hands over to (the install finding
 * an installation, the update finding none); returns how the last ended. */
static flow_outcome run_job(int job, question_table *t)
{
    flow_outcome (*const flows[])(question_table *) = {nullptr, install_flow, update_flow, remove_flow};
    flow_outcome out = {0, 0, 0, 0, job};
    while (out.next != MENU_EXIT) out = flows[out.next](t); /* indexed by the menu's numbers */
    return out;
}

/* The menu, the job chosen there and the end of the run; its exit status. */
static int run_chosen(question_table *t)
{
    int choice = main_menu();
    if (choice == MENU_EXIT) {
        act_run_ends(1);
        log_close(&installer_log);
        plat_out("Goodbye :-)\n");
        plat_flush();
        return options_status(nullptr);
    }
    flow_outcome out = run_job(choice, t);
    if (!out.reached) act_run_ends(0); /* a job that ended before its summary is put back */
    options_finish(choice, t, &out);   /* the record of this run, when asked for */
    if (!answers_unattended()) plat_out("\nPlease press enter to exit");
    wait_for_enter(t);
    plat_flush(); /* a console lost at this last write is still logged */
    log_close(&installer_log);
    return options_status(&out);
}

/* A run that cannot start as asked ends before the menu. */
static int end_early(question_table *t)
{
    wait_for_enter(t);
    log_close(&installer_log);
    return 2;
}

int main(int argc, char **argv)
{
    static question_table table;
    char program[TEXT_PATH_SIZE];
    plat_std_streams_ready();              /* before any file can take a closed descriptor's number */
    int early = options_start(argc, argv); /* --help, --version or a fault: nothing touched */
    if (early >= 0) return early;
    const char *problem = plat_setup_problem();
    if (problem) { /* before anything is written */
        plat_err(problem);
        plat_err("\n");
        return 2;
    }
    if (!own_files_are_their_own() || !take_folder_lock()) return STATUS_LOCKED;
    table_init(&table);
    for (int q : {Q_POPHOST, Q_NEWSHOST, Q_DOMAIN})
        text_copy(table.q[q].default_answer, computer_name(), TEXT_PATH_SIZE);
    start_log();
    if (!plat_program_path(argc > 0 ? argv[0] : "", program, sizeof program))
        text_copy(program, argc > 0 ? argv[0] : "", sizeof program);
    if (!check_install_folder(program)) {
        plat_out("\n\nQuillor Install must be run from inside the Quillor temporary files folder\n");
        plat_out("This folder must be the current directory");
        wait_for_enter(&table);
        log_close(&installer_log);
        return options_status(nullptr);
    }
    if (!act_dry()) options_recovered(act_recover()); /* a killed run's changes go first, with or without --rollback */
    if (options_rollback() && !act_rollback_start()) return end_early(&table);
    return run_chosen(&table);
}

/* The command line: --answers FILE, --defaults, --record FILE, --dry-run,
 * --help and --version, and what they change at the end of a run (the record, the
 * exit status).  Without options the installer behaves as it always has. */
#ifndef QUILLOR_OPTIONS_H
#define QUILLOR_OPTIONS_H

#include "installer/flows.h"
#include "table/table.h"

/* The installer's version, as --version and the record name it. */
constexpr char QUILLOR_INSTALL_VERSION[] = "1.0";

/* Reads the options and the answers file before anything is done.
 * Returns -1 when the run goes on; else the exit status of a run that ends
 * here (0 after --help or --version, 2 after a fault, reported on standard
 * error), having written nothing. */
int options_start(int argc, char **argv);
/* At the end of a run that went through a flow, whose last job ended as
 * out says: writes the record when one was asked for and the run reached
 * its summary, unless it would replace a file of the run (the installed
 * configuration in t's scripts folder among them). */
void options_finish(int job, question_table *t, const flow_outcome *out);
/* The exit status of a run that ends now (out null: before any job ran):
 * unchanged (0) without --answers or --defaults, except 1 for a dry run
 * whose summary foresaw errors; else 0 for a summary without errors, 1 for
 * errors counted (or a record that could not be written, or changes of a
 * killed run the start could not put back), 2 when no summary was reached;
 * a run with --rollback tells its errors as an unattended one does. */
int options_status(const flow_outcome *out);
/* How many changes of a killed run the start could not put back. */
void options_recovered(int not_put_back);
/* 1 when the run must be all or nothing (--rollback, and no dry run). */
int options_rollback();
/* Forgets every option (tests). */
void options_clear();

#endif

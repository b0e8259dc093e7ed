/* How the run ended, as the flows' summaries saw it: whether a summary was
 * reached and how many errors it counted.  The entry point turns this into
 * the exit status of an unattended run and decides on the record. */
#ifndef QUILLOR_OUTCOME_H
#define QUILLOR_OUTCOME_H

/* Called by a flow as it prints its summary, with the errors it counted. */
void outcome_summary(int errors);
/* 1 once a summary was reached. */
int outcome_reached();
/* The errors the summaries counted. */
int outcome_errors();
/* Back to "no summary yet" (tests). */
void outcome_clear();

#endif

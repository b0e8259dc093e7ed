/* How the run ended: one process-wide note kept by the flows' summaries.
 * A flow that hands over to another ends without a summary of its own, so
 * at most the one flow that finishes the job writes here. */
#include "installer/outcome.h"

static int reached;
static int errors_counted;

void outcome_summary(int errors)
{
    reached = 1;
    errors_counted += errors > 0 ? errors : 0;
}

int outcome_reached() { return reached; }
int outcome_errors() { return errors_counted; }

void outcome_clear()
{
    reached = 0;
    errors_counted = 0;
}

#pragma once

struct StatusBlock;
typedef int (*UpdateProcedure)(StatusBlock *block);

// Shows the update dialog modally; it runs `runUpdate` on a thread of its own. Returns the run's result (the
// final stage value), or 0 or less when the dialog could not start.
int ShowUpdateDialog(UpdateProcedure runUpdate);

#pragma once

// Shows the update dialog modally; it runs the update on a thread of its own. Returns the run's result
// (the final stage value), or 0 or less when the dialog could not start.
int ShowUpdateDialog();

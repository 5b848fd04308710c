// How often a file operation that another process may still block for a moment is tried: four tries, each
// failed one followed by a sleep, a little over four seconds in all for a file that stays locked.
#pragma once

const int RETRY_TRIES = 4;
const unsigned RETRY_SLEEP_MS = 1024;

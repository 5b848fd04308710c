// Which application a run is for, as a short name that every per-application resource carries: the lock, the
// run and staging folders, the archive cache and the run log. Two applications that ship Kovrel then never
// share any of them, and two runs for the same application always meet at the same lock.
//
// The name is the section's letters (lower case, at most 24, every other byte '_'), "-", then eight hex digits
// of the FNV-1a hash of the application folder and the section, ASCII letters in upper case (Windows treats
// both without regard to case). It holds only [0-9a-z._-], so it fits in a mutex name, a file name and a
// command line without quotes.
#pragma once

const unsigned IDENTITY_SECTION_BYTES = 24;
const unsigned IDENTITY_BYTES = IDENTITY_SECTION_BYTES + 1 + 8 + 1;

// Composes the identity of the application `applicationPath` (its folder is the path up to and with its last
// separator; none without one) updated from `section`. Either may be empty or null.
void ComposeApplicationIdentity(const char *section, const char *applicationPath, char (&identity)[IDENTITY_BYTES]);

// The name of the application's lock, the named mutex that orders the launcher, the worker and the cleanup
// launcher of its runs.
#define LOCK_NAME_PREFIX "Kovrel_check_period_mutex."
const unsigned LOCK_NAME_BYTES = sizeof LOCK_NAME_PREFIX - 1 + IDENTITY_BYTES;
void ComposeLockName(const char *identity, char (&name)[LOCK_NAME_BYTES]);

// True when `text` is an identity as composed above: what a cleanup request must name before any folder is
// derived from it.
bool IsApplicationIdentity(const char *text);

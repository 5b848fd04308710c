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

// Composes the identity of the application in `applicationFolder` (its path up to and with its last
// separator) updated from `section`. Either may be empty or null.
void ComposeApplicationIdentity(const char *section, const char *applicationFolder, char (&identity)[IDENTITY_BYTES]);

// True when `text` is an identity as composed above: what a cleanup request must name before any folder is
// derived from it.
bool IsApplicationIdentity(const char *text);

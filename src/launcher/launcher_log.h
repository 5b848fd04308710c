// A run that the launcher refuses before any worker starts leaves one line in the application's run log, in
// the form of a worker's first line: "0 start: <UTC time>, Kovrel <version>, launcher <path>; refused: <reason>".
#pragma once

// Logs the refusal, with the path that it concerns when there is one, for the application that the
// launcher's command line names: the section is positional token 2 and the folder token 1 up to its last
// separator (3 and 4 for an apply step, whose own two come first). Nothing is logged without a section.
void LogRefusal(const char *reason, const char *subject = 0);

// The same for what a silent run does not show, but goes on: "...; notice: <what>, <path>".
void LogNotice(const char *what, const char *subject = 0);

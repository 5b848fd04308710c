// The files that the worker keeps per user for one application section (its serial record):
// "%LOCALAPPDATA%\Kovrel\<section><extension>".
#pragma once
#include <windows.h>
#include "../../common/application_log.h"

// Composes the file's path, creating the folder when missing. A section name may hold characters that no
// file name may: they become '_'. False for an empty section, or when the path does not fit.
bool SectionFilePath(const char *section, const char *extension, char (&path)[MAX_PATH]);

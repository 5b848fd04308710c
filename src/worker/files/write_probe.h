#pragma once

// Whether this process may make files in `folder` (ending in a backslash): a probe file is made there and is
// gone again when its handle closes. Only a refusal (access denied) counts as no; any other failure is left
// for the replacement to meet and report.
bool MayWriteFolder(const char *folder);

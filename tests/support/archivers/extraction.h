// The extraction engine shared by all six stand-ins: reads the command line, decodes the archive whatever
// its extension (zip, tar, gzip, gzipped tar by content), checks every name, then writes the entries.
#pragma once

// A StandinResult code.
int RunExtraction(const char *commandLine);

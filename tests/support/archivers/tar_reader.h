// Decodes tar archives (ustar, GNU long names, pax paths) and gzip streams held in memory.
#pragma once
#include "archive_entry.h"

// True when the data starts with a tar header: the "ustar" magic or a header whose checksum matches.
bool LooksLikeTar(const std::string &data);

// False when a header's checksum or size is wrong or the content runs past the end of the data.
bool ReadTar(const std::string &data, ArchiveEntries &entries);

// The whole decompressed content of a gzip stream; false on damaged or truncated data.
bool Gunzip(const std::string &data, std::string &out);

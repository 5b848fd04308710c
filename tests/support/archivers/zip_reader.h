// Decodes a whole .zip held in memory: stored and deflated entries, read through the central directory.
#pragma once
#include "archive_entry.h"

// False when the data is not a zip this reader can decode or is damaged (bad offsets, sizes or CRC).
bool ReadZip(const std::string &data, ArchiveEntries &entries);

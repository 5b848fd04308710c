// Result codes of the stand-in archiver libraries. 0x8020 is the code the worker reads as "cancelled by the
// user"; the failure codes only need to be non-zero and distinct so that a test can tell the causes apart.
#pragma once

enum StandinResult {
    kStandinSuccess = 0,
    kStandinBadCommandLine = 0x8001,  // no archive or no destination folder in the command line
    kStandinCannotRead = 0x8002,      // the archive cannot be opened or read
    kStandinDamaged = 0x8003,         // not an archive this engine knows, or a damaged one
    kStandinUnsafeName = 0x8004,      // an entry would land outside the destination folder
    kStandinCannotWrite = 0x8005,     // a folder or file under the destination cannot be created
    kStandinInternal = 0x8006,        // out of memory and the like
    kStandinCancelled = 0x8020,
};

// Putting an unpacked tree over the application folder, with a backup of every file it replaces.
//
// It goes in two steps. The plan walks the unpacked tree once: it checks that every path the changes will
// compose fits, counts the files, and writes one journal record for each change (a folder or file to create,
// a file to replace) in the order the changes will be made. Applying the plan then makes exactly those
// changes, without a second look at the folders. So a journal can take every record at once, flushed a
// single time before the first change.
//
// The roots come in the ANSI code page; everything below them is walked with the wide calls, so names outside
// that code page are placed as they are.
#pragma once
#include <windows.h>

// Called after each file placed; a non-zero result stops the replacement.
typedef int(WINAPI *PlacementProgress)(void *context);

struct PlacementPlan {
    char *records;   // journal records, "<kind> <relative path in UTF-8>\r\n" each
    unsigned length; // bytes of records
    unsigned capacity;
    unsigned files;  // files to create or replace
    // The roots the plan was made for, each ending in a backslash; backupRoot is empty without a backup.
    wchar_t sourceRoot[MAX_PATH];
    wchar_t destinationRoot[MAX_PATH];
    wchar_t backupRoot[MAX_PATH];
    bool backupRootExists; // or could not be looked at: then every backup is looked for before the changes

    // Plans the placing of everything below source into destination. Every file the placing overwrites is
    // to be moved below backup first (none or empty: no backup). False, with an empty plan, when a path would
    // not fit in MAX_PATH characters, a folder of the tree is a file in the destination (or the other way
    // round), a backup is already in the way, or memory runs out: then nothing may be changed.
    bool Make(const char *source, const char *destination, const char *backup);
    void Free();

    // Makes the planned changes in order. A replaced original is moved into the backup (copied under a
    // temporary name when it lies on another drive, so that a backup that exists is complete). A new file
    // is moved out of the source tree when moveFiles allows and the two lie on one drive; otherwise it is
    // copied beside its target and renamed over it. The progress function runs after every file, placed or
    // not. False at the first failure or stop: the journal of the plan undoes what was done.
    bool Apply(bool moveFiles, PlacementProgress progress, void *context) const;

    // Reads the record at offset *at (0 for the first) into its kind and relative path (MAX_PATH characters)
    // and moves *at past it. False at the end of the records.
    bool NextRecord(unsigned *at, char *kind, wchar_t *relative) const;
};

// The number of files in the folder (a path ending in a backslash) and all folders below it.
int CountFiles(const char *folder);

// The worker's own unpacker: the archive is read from its file block by block and each entry is inflated
// straight into its file, so memory does not grow with the archive. Every name and size is checked before the
// first write, every file's size and CRC-32 after it; any failure leaves the destination to be removed whole.
#include "builtin_format.h"
#include "builtin_session.h"
#include "../run/run_log.h"

bool RefuseArchive(BuiltinSession &session, const char *what, const char *name)
{
    if (name) {
        // Checked names carry '\' between components; the log shows them with '/', as archives name them.
        char shown[RELATIVE_NAME_BYTES];
        unsigned i = 0;
        for (; name[i] && i < sizeof shown - 1; i++)
            shown[i] = name[i] == '\\' ? '/' : name[i];
        shown[i] = 0;
        LogRun("%s: %s", what, shown);
    } else {
        LogRun("%s", what);
    }
    session.result.cause = UNPACK_CAUSE_REFUSED;
    return false;
}

bool InputFailed(BuiltinSession &session)
{
    const ArchiveInput &input = session.input;
    if (input.state == INPUT_STOPPED) {
        session.result.outcome = UNPACK_STOPPED;
        return false;
    }
    if (input.state == INPUT_READ_FAILED) {
        LogRun("the archive could not be read (error %lu)", input.error);
        session.result.cause = UNPACK_CAUSE_READ_FAILED;
        session.result.code = static_cast<int>(input.error);
        return false;
    }
    return RefuseArchive(session, "the archive ends early", 0);
}

EntryNameVerdict AcceptEntryName(BuiltinSession &session, const char *name, unsigned length, unsigned codePage,
                                 char *relative, bool *folder)
{
    char utf8[RELATIVE_NAME_BYTES];
    unsigned utf8Length = 0;
    EntryNameVerdict verdict = ENTRY_NAME_REFUSED;
    if (EntryNameToUtf8(name, length, codePage, utf8, sizeof utf8, &utf8Length))
        verdict = CheckEntryName(utf8, utf8Length, relative, RELATIVE_NAME_BYTES, folder);
    if (verdict == ENTRY_NAME_REFUSED) {
        // The name as stored, cut to what the log takes; it may not even be text.
        char shown[256];
        unsigned shownLength = length < sizeof shown - 1 ? length : sizeof shown - 1;
        for (unsigned i = 0; i < shownLength; i++)
            shown[i] = name[i] ? name[i] : '?';
        shown[shownLength] = 0;
        LogRun("entry name refused: %s", shown);
        session.result.cause = UNPACK_CAUSE_REFUSED;
    }
    return verdict;
}

bool RoomForEntries(BuiltinSession &session, unsigned long long total)
{
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExW(session.root, &available, 0, 0) && available.QuadPart < total) {
        LogRun("the unpacked files need %lu MiB, the drive has %lu MiB free", static_cast<unsigned long>(total >> 20),
               static_cast<unsigned long>(available.QuadPart >> 20));
        session.result.cause = UNPACK_CAUSE_DISK_SPACE;
        return false;
    }
    return true;
}

static bool WriteFailed(BuiltinSession &session, const char *relative, DWORD error)
{
    LogRun("could not write %s (error %lu)", relative, error);
    NoteFailure(error, relative);
    session.result.cause = UNPACK_CAUSE_WRITE_FAILED;
    session.result.code = static_cast<int>(error);
    return false;
}

bool CreateFolderEntry(BuiltinSession &session, const char *relative)
{
    wchar_t path[MAX_PATH];
    if (!ComposeEntryPath(path, session.root, relative))
        return RefuseArchive(session, "entry name too long", relative);
    return CreateEntryFolders(path, session.rootLength, true) || WriteFailed(session, relative, GetLastError());
}

bool CreateFileEntry(BuiltinSession &session, const char *relative, unsigned long long size, bool countCrc)
{
    wchar_t path[MAX_PATH];
    if (!ComposeEntryPath(path, session.root, relative))
        return RefuseArchive(session, "entry name too long", relative);
    if (!CreateEntryFolders(path, session.rootLength, false))
        return WriteFailed(session, relative, GetLastError());
    // An existing file here is an earlier entry of the same name, perhaps differing only in case.
    if (OpenEntryFile(session.output, path, size, countCrc))
        return true;
    if (session.output.error == ERROR_FILE_EXISTS)
        return RefuseArchive(session, "entry named twice", relative);
    return WriteFailed(session, relative, session.output.error);
}

bool EntryFailed(BuiltinSession &session, EntryWrite failure, const char *relative)
{
    AbandonEntryFile(session.output);
    if (failure == ENTRY_STOPPED) {
        session.result.outcome = UNPACK_STOPPED;
        return false;
    }
    if (failure == ENTRY_TOO_LONG)
        return RefuseArchive(session, "entry larger than declared", relative);
    return WriteFailed(session, relative, session.output.error);
}

bool FinishFileEntry(BuiltinSession &session, const char *relative, const unsigned long *crc)
{
    EntryOutput &output = session.output;
    EntryWrite closed = CloseEntryFile(output);
    if (closed != ENTRY_WRITTEN)
        return EntryFailed(session, closed, relative);
    if (output.written != output.declared)
        return RefuseArchive(session, "entry smaller than declared", relative);
    if (crc && output.crc != *crc)
        return RefuseArchive(session, "CRC mismatch", relative);
    return true;
}

static bool HandlesBuiltin(const char *archive)
{
    return BuiltinFormatOf(archive) != BUILTIN_NONE;
}

static UnpackResult UnpackBuiltin(const UnpackJob &job)
{
    BuiltinSession session;
    session.job = &job;
    session.result.outcome = UNPACK_FAILED;
    session.result.cause = UNPACK_CAUSE_NONE;
    session.result.code = 0;
    ArchiveInput &input = session.input;
    input.file = INVALID_HANDLE_VALUE;
    input.ownFile = false;
    input.block = 0;
    input.stop = job.stop;
    input.progress = job.progress;
    input.progressContext = job.progressContext;
    input.readSoFar = input.plannedReads = 0;
    int rootLength = MultiByteToWideChar(CP_ACP, 0, job.destination, -1, session.root, MAX_PATH);
    session.rootLength = rootLength > 0 ? static_cast<unsigned>(rootLength - 1) : 0;
    bool allocated = AllocateEntryOutput(session.output, job.stop);
    if (!allocated || rootLength <= 0) {
        session.result.cause = UNPACK_CAUSE_WRITE_FAILED;
    } else if (!OpenArchiveInput(input, job.archive, job.archiveFile)) {
        InputFailed(session);
    } else {
        BuiltinFormat format = BuiltinFormatOf(job.archive);
        // A tar inside gzip is inflated once for the checks and once for the writing.
        input.plannedReads = format == BUILTIN_TAR_GZ ? 2 * input.size : input.size;
        bool done = format == BUILTIN_ZIP      ? UnpackZip(session)
                    : format == BUILTIN_GZIP   ? UnpackGzip(session)
                                               : UnpackTar(session, format == BUILTIN_TAR_GZ);
        if (done)
            session.result.outcome = UNPACK_DONE;
    }
    CloseArchiveInput(input);
    FreeEntryOutput(session.output);
    if (*job.stop && session.result.outcome != UNPACK_DONE)
        session.result.outcome = UNPACK_STOPPED;
    return session.result;
}

const Unpacker builtinUnpacker = {HandlesBuiltin, UnpackBuiltin};

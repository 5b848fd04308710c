// A gzip file holds one file: it is unpacked under the archive's own name without ".gz". Its declared size is
// the length in the gzip trailer, and zlib checks the trailer's CRC-32 and length as the stream ends.
#include "builtin_session.h"
#include "../../common/multibyte_path.h"
#include "../../common/text.h"
#include "zip_records.h"

static const unsigned GZIP_TRAILER_SIZE = 8;
static const unsigned GZIP_EXTENSION_LENGTH = 3; // ".gz"

static bool DeclaredLength(BuiltinSession &session, unsigned long *length)
{
    ArchiveInput &input = session.input;
    unsigned char trailer[GZIP_TRAILER_SIZE];
    if (input.size < GZIP_TRAILER_SIZE)
        return RefuseArchive(session, "the gzip data is damaged", 0);
    if (!SeekInput(input, input.size - GZIP_TRAILER_SIZE) || !ReadInput(input, trailer, GZIP_TRAILER_SIZE) ||
        !SeekInput(input, 0))
        return InputFailed(session);
    *length = ReadLittle32(trailer + 4);
    return true;
}

bool UnpackGzip(BuiltinSession &session)
{
    const char *archive = session.job->archive;
    const char *separator = FindLastSeparator(archive);
    const char *name = separator ? separator + 1 : archive;
    unsigned length = TextLength(name) - GZIP_EXTENSION_LENGTH;
    char relative[RELATIVE_NAME_BYTES];
    bool folder = false;
    EntryNameVerdict verdict = AcceptEntryName(session, name, length, CP_ACP, relative, &folder);
    if (verdict == ENTRY_NAME_REFUSED)
        return false;
    if (verdict == ENTRY_NAME_ROOT || folder)
        return RefuseArchive(session, "no file name for the gzip data", 0);
    unsigned long declared = 0;
    if (!DeclaredLength(session, &declared) || !RoomForEntries(session, declared) ||
        !CreateFileEntry(session, relative, declared, false))
        return false;
    GzipStream gzip;
    if (!OpenGzipStream(gzip, &session.input)) {
        AbandonEntryFile(session.output);
        return RefuseArchive(session, "out of memory", 0);
    }
    EntryOutput &output = session.output;
    bool good = true;
    while (good && gzip.state == GZIP_GOOD) {
        unsigned room;
        unsigned char *space = EntrySpace(output, &room);
        // One byte beyond the declared size is enough to know that the trailer lies.
        unsigned long long allowed = output.declared - output.written + 1;
        if (room > allowed)
            room = static_cast<unsigned>(allowed);
        EntryWrite written = CommitEntryBytes(output, ReadGzip(gzip, space, room));
        if (written != ENTRY_WRITTEN)
            good = EntryFailed(session, written, relative);
    }
    GzipState state = gzip.state;
    CloseGzipStream(gzip);
    if (!good)
        return false;
    if (state != GZIP_ENDED) {
        AbandonEntryFile(output);
        return state == GZIP_INPUT_FAILED ? InputFailed(session) : RefuseArchive(session, "the gzip data is damaged", 0);
    }
    return FinishFileEntry(session, relative, 0);
}

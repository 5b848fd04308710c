// Tar archives, plain or inside gzip. A tar has no directory, so it is read twice from its start: the first
// walk checks every header, name and kind and adds up the sizes; only the second one writes.
#include "builtin_session.h"
#include "tar_records.h"
#include "../../common/heap.h"
#include "../../common/text.h"
#include "../run/run_log.h"

// PAX records carry a path and a few attributes; this is far more than any real header needs.
static const unsigned EXTENDED_LIMIT = 64 * 1024;

struct TarSource {
    BuiltinSession *session;
    bool gzipped;
    GzipStream gzip;
};

// The next entry's name from a GNU long name or a PAX header, which stands in for the header's own.
struct PendingName {
    char name[ENTRY_NAME_LIMIT + 1];
    unsigned length;
    unsigned codePage;
    bool have;
    unsigned long long size; // a PAX size, which stands in for the header's
    bool haveSize;
};

static bool SourceFailed(TarSource &source)
{
    BuiltinSession &session = *source.session;
    if (!source.gzipped || source.gzip.state == GZIP_INPUT_FAILED || session.input.state != INPUT_GOOD)
        return InputFailed(session);
    return RefuseArchive(session, source.gzip.state == GZIP_ENDED ? "the archive ends early"
                                                                  : "the gzip data is damaged", 0);
}

// Up to `count` bytes of the tar; the count, short only at the end or on a failure.
static unsigned ReadSome(TarSource &source, unsigned char *to, unsigned count)
{
    if (source.gzipped)
        return ReadGzip(source.gzip, to, count);
    ArchiveInput &input = source.session->input;
    const unsigned char *bytes;
    unsigned available = PeekInput(input, &bytes);
    unsigned taken = available < count ? available : count;
    CopyBytes(to, bytes, taken);
    SkipInput(input, taken);
    return taken;
}

static bool ReadExactly(TarSource &source, unsigned char *to, unsigned count)
{
    while (count) {
        unsigned got = ReadSome(source, to, count);
        if (got == 0)
            return SourceFailed(source);
        to += got;
        count -= got;
    }
    return true;
}

// Skips data, seeking in a plain tar and inflating through the output buffer in a gzipped one.
static bool SkipBytes(TarSource &source, unsigned long long count)
{
    ArchiveInput &input = source.session->input;
    if (!source.gzipped) {
        unsigned long long to = InputPosition(input) + count;
        return (to <= input.size && SeekInput(input, to)) || SourceFailed(source);
    }
    unsigned room;
    unsigned char *scratch = EntrySpace(source.session->output, &room);
    while (count) {
        unsigned step = count < room ? static_cast<unsigned>(count) : room;
        if (!ReadExactly(source, scratch, step))
            return false;
        count -= step;
    }
    return true;
}

static bool BeginSource(TarSource &source)
{
    BuiltinSession &session = *source.session;
    if (!SeekInput(session.input, 0))
        return InputFailed(session);
    return !source.gzipped || OpenGzipStream(source.gzip, &session.input) ||
           RefuseArchive(session, "out of memory", 0);
}

// Header names are UTF-8 when they are valid UTF-8, as tar writes them today, and otherwise in the ANSI
// code page of the system that made them.
static unsigned NameCodePage(const char *name, unsigned length)
{
    return length == 0 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, static_cast<int>(length), 0, 0)
               ? CP_UTF8
               : CP_ACP;
}

// Reads a GNU long name or a PAX header's records into `pending`.
static bool ReadNameHeader(TarSource &source, const TarHeader &header, PendingName &pending)
{
    BuiltinSession &session = *source.session;
    unsigned limit = header.kind == TAR_LONG_NAME ? ENTRY_NAME_LIMIT : EXTENDED_LIMIT;
    if (header.size > limit)
        return RefuseArchive(session, "entry name too long", 0);
    unsigned size = static_cast<unsigned>(header.size);
    unsigned padded = static_cast<unsigned>(TarPadded(size));
    char *data = static_cast<char *>(AllocateBytes(padded + 1));
    if (!data)
        return RefuseArchive(session, "out of memory", 0);
    bool good = ReadExactly(source, reinterpret_cast<unsigned char *>(data), padded);
    if (good && header.kind == TAR_LONG_NAME) {
        unsigned length = 0;
        while (length < size && data[length])
            length++;
        CopyBytes(pending.name, data, length);
        pending.name[length] = 0;
        pending.length = length;
        pending.codePage = NameCodePage(data, length);
        pending.have = true;
    } else if (good) {
        PaxValues values;
        good = ReadPaxRecords(data, size, &values);
        if (!good)
            RefuseArchive(session, "damaged extended header", 0);
        if (good && values.havePath) {
            if (values.pathLength > ENTRY_NAME_LIMIT) {
                good = RefuseArchive(session, "entry name too long", 0);
            } else {
                CopyBytes(pending.name, values.path, values.pathLength);
                pending.name[values.pathLength] = 0;
                pending.length = values.pathLength;
                pending.codePage = CP_UTF8;
                pending.have = true;
            }
        }
        if (good && values.haveSize) {
            pending.size = values.size;
            pending.haveSize = true;
        }
    }
    FreeBytes(data);
    return good;
}

// Copies `size` bytes of data into the entry's file, then skips the padding.
static bool CopyData(TarSource &source, unsigned long long size, const char *relative)
{
    BuiltinSession &session = *source.session;
    unsigned long long remaining = size;
    while (remaining) {
        unsigned room;
        unsigned char *space = EntrySpace(session.output, &room);
        unsigned step = remaining < room ? static_cast<unsigned>(remaining) : room;
        unsigned got = ReadSome(source, space, step);
        if (got == 0) {
            AbandonEntryFile(session.output);
            return SourceFailed(source);
        }
        remaining -= got;
        EntryWrite written = CommitEntryBytes(session.output, got);
        if (written != ENTRY_WRITTEN)
            return EntryFailed(session, written, relative);
    }
    return FinishFileEntry(session, relative, 0) && SkipBytes(source, TarPadded(size) - size);
}

// One file or folder entry: checked on the first walk, written on the second.
static bool TakeEntry(TarSource &source, const TarHeader &header, const PendingName &pending, bool write,
                      unsigned long long *total)
{
    BuiltinSession &session = *source.session;
    const char *name = pending.have ? pending.name : header.name;
    unsigned length = pending.have ? pending.length : header.nameLength;
    unsigned codePage = pending.have ? pending.codePage : NameCodePage(name, length);
    unsigned long long size = pending.haveSize ? pending.size : header.size;
    char relative[RELATIVE_NAME_BYTES];
    bool folder = false;
    EntryNameVerdict verdict = AcceptEntryName(session, name, length, codePage, relative, &folder);
    if (verdict == ENTRY_NAME_REFUSED)
        return false;
    if (folder && header.kind == TAR_FILE && size != 0)
        return RefuseArchive(session, "damaged tar entry", relative);
    folder = folder || header.kind == TAR_FOLDER;
    if (folder) {
        // A folder's size field says nothing about data that follows it; none does.
        if (write && verdict == ENTRY_NAME_GOOD && !CreateFolderEntry(session, relative))
            return false;
        return true;
    }
    if (verdict == ENTRY_NAME_ROOT)
        return RefuseArchive(session, "damaged tar entry", name);
    if (!write) {
        if (size > ~0ull - *total)
            return RefuseArchive(session, "damaged tar entry", relative);
        *total += size;
        return SkipBytes(source, TarPadded(size));
    }
    return CreateFileEntry(session, relative, size, false) && CopyData(source, size, relative);
}

// A link is refused under its checked name; a name that fails the check is refused for that.
static bool RefuseLink(BuiltinSession &session, const TarHeader &header, const PendingName &pending)
{
    const char *name = pending.have ? pending.name : header.name;
    unsigned length = pending.have ? pending.length : header.nameLength;
    char relative[RELATIVE_NAME_BYTES];
    bool folder = false;
    unsigned codePage = pending.have ? pending.codePage : NameCodePage(name, length);
    if (AcceptEntryName(session, name, length, codePage, relative, &folder) == ENTRY_NAME_REFUSED)
        return false;
    return RefuseArchive(session, "link or device entry", relative);
}

// Walks the archive from its start to its end block.
static bool WalkTar(TarSource &source, bool write, unsigned long long *total)
{
    BuiltinSession &session = *source.session;
    PendingName pending;
    pending.have = pending.haveSize = false;
    for (;;) {
        unsigned char block[TAR_BLOCK];
        TarHeader header;
        if (!ReadExactly(source, block, TAR_BLOCK))
            return false;
        switch (ReadTarHeader(block, &header)) {
        case TAR_END:
            return !pending.have || RefuseArchive(session, "damaged tar archive", 0);
        case TAR_DAMAGED:
            return RefuseArchive(session, "damaged tar header", 0);
        case TAR_LONG_NAME:
        case TAR_EXTENDED:
            if (!ReadNameHeader(source, header, pending))
                return false;
            continue;
        case TAR_GLOBAL:
            if (!SkipBytes(source, TarPadded(header.size)))
                return false;
            continue;
        case TAR_LINK_OR_DEVICE:
            return RefuseLink(session, header, pending);
        case TAR_UNSUPPORTED:
            LogRun("tar entry type %u not supported: %s", static_cast<unsigned char>(header.type), header.name);
            session.result.cause = UNPACK_CAUSE_REFUSED;
            return false;
        default:
            if (!TakeEntry(source, header, pending, write, total))
                return false;
            pending.have = pending.haveSize = false;
        }
    }
}

// The gzip stream must end, its CRC and length checked, right after the tar's end.
static bool EndSource(TarSource &source)
{
    if (!source.gzipped)
        return true;
    unsigned room;
    unsigned char *scratch = EntrySpace(source.session->output, &room);
    while (source.gzip.state == GZIP_GOOD)
        ReadGzip(source.gzip, scratch, room);
    return source.gzip.state == GZIP_ENDED || SourceFailed(source);
}

static bool Walk(BuiltinSession &session, bool gzipped, bool write, unsigned long long *total)
{
    TarSource source;
    source.session = &session;
    source.gzipped = gzipped;
    if (!BeginSource(source))
        return false;
    bool done = WalkTar(source, write, total) && EndSource(source);
    if (gzipped)
        CloseGzipStream(source.gzip);
    return done;
}

bool UnpackTar(BuiltinSession &session, bool gzipped)
{
    unsigned long long total = 0;
    return Walk(session, gzipped, false, &total) && RoomForEntries(session, total) &&
           Walk(session, gzipped, true, &total);
}

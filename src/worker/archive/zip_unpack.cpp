// Zip archives. The central directory is the authority on what the archive holds; each entry's local header
// must agree with it before its data is read. The directory is checked whole before anything is written.
#include "builtin_session.h"
#include "zip_records.h"
#include "../../common/heap.h"
#include "../../common/text.h"
#include "../run/run_log.h"

// A directory this large would describe millions of entries; no update carries one.
static const unsigned long long DIRECTORY_LIMIT = 64ull << 20;
// A local header's name and extra field, each up to 65,535 bytes.
static const unsigned LOCAL_NAMES_SIZE = 2 * 0x10000;

struct ZipArchive {
    ZipDirectory directory;
    unsigned char *central; // the whole central directory
    unsigned char *local;   // a local header's name and extra field
};

static bool Damaged(BuiltinSession &session, const char *name)
{
    return RefuseArchive(session, name ? "damaged zip entry" : "damaged zip archive", name);
}

// Finds the end record in the archive's tail, and the zip64 end record when the end record points there.
static bool LocateDirectory(BuiltinSession &session, ZipDirectory *directory)
{
    ArchiveInput &input = session.input;
    unsigned length = input.size < ZIP_TAIL_SIZE ? static_cast<unsigned>(input.size) : ZIP_TAIL_SIZE;
    unsigned long long tailStart = input.size - length;
    unsigned char *tail = static_cast<unsigned char *>(AllocateBytes(length + 1));
    bool read = tail && SeekInput(input, tailStart) && ReadInput(input, tail, length);
    unsigned at = 0;
    bool found = read && FindZipEnd(tail, length, &at);
    ZipEndVerdict verdict = found ? ReadZipEnd(tail + at, directory) : ZIP_END_SPLIT;
    unsigned long long endOffset = tailStart + at;
    bool zip64 = found && verdict == ZIP_END_NEEDS_ZIP64 && at >= ZIP64_LOCATOR_SIZE &&
                 ReadZip64Locator(tail + at - ZIP64_LOCATOR_SIZE, &endOffset);
    FreeBytes(tail);
    if (!read)
        return tail ? InputFailed(session) : RefuseArchive(session, "out of memory", 0);
    if (!found)
        return RefuseArchive(session, "not a zip archive", 0);
    if (verdict == ZIP_END_SPLIT)
        return RefuseArchive(session, "split zip archives are not supported", 0);
    if (verdict == ZIP_END_NEEDS_ZIP64) {
        unsigned char record[ZIP64_END_SIZE];
        if (!zip64 || endOffset > input.size - ZIP64_END_SIZE)
            return Damaged(session, 0);
        if (!SeekInput(input, endOffset) || !ReadInput(input, record, ZIP64_END_SIZE))
            return InputFailed(session);
        if (!ReadZip64End(record, directory))
            return RefuseArchive(session, "split or damaged zip64 archive", 0);
    }
    // The directory lies before the records that describe it.
    if (directory->offset > endOffset || directory->size > endOffset - directory->offset)
        return Damaged(session, 0);
    if (directory->size > DIRECTORY_LIMIT)
        return RefuseArchive(session, "zip directory too large", 0);
    return true;
}

// The central directory header at `at`, with its variable fields checked to lie inside the directory.
static bool ReadCentral(BuiltinSession &session, const ZipArchive &zip, unsigned at, ZipEntry *entry)
{
    unsigned size = static_cast<unsigned>(zip.directory.size);
    if (size - at < ZIP_CENTRAL_SIZE || !ReadZipCentral(zip.central + at, entry))
        return Damaged(session, 0);
    unsigned fields = entry->nameLength + entry->extraLength + entry->commentLength;
    if (fields > size - at - ZIP_CENTRAL_SIZE)
        return Damaged(session, 0);
    const unsigned char *extra = zip.central + at + ZIP_CENTRAL_SIZE + entry->nameLength;
    return ApplyZip64Extra(extra, entry->extraLength, entry) || Damaged(session, 0);
}

static const char *CentralName(const ZipArchive &zip, unsigned at)
{
    return reinterpret_cast<const char *>(zip.central + at + ZIP_CENTRAL_SIZE);
}

static unsigned CentralSize(const ZipEntry &entry)
{
    return ZIP_CENTRAL_SIZE + entry.nameLength + entry.extraLength + entry.commentLength;
}

// Everything that can be known without the data: names, kinds, methods, places and the total size.
static bool CheckEntry(BuiltinSession &session, const ZipArchive &zip, const ZipEntry &entry, const char *name,
                       unsigned long long *total)
{
    char relative[RELATIVE_NAME_BYTES];
    bool folder = false;
    unsigned codePage = entry.flags & ZIP_FLAG_UTF8_NAME ? CP_UTF8 : CP_ACP;
    EntryNameVerdict verdict = AcceptEntryName(session, name, entry.nameLength, codePage, relative, &folder);
    if (verdict == ENTRY_NAME_REFUSED)
        return false;
    if (verdict == ENTRY_NAME_ROOT)
        relative[0] = 0;
    if (entry.flags & (ZIP_FLAG_ENCRYPTED | ZIP_FLAG_ENCRYPTED_DIRECTORY))
        return RefuseArchive(session, "encrypted entry", relative);
    if (entry.linkOrDevice)
        return RefuseArchive(session, "link or device entry", relative);
    if (entry.method != ZIP_METHOD_STORED && entry.method != ZIP_METHOD_DEFLATED) {
        LogRun("compression method %u not supported: %s", entry.method, relative);
        session.result.cause = UNPACK_CAUSE_REFUSED;
        return false;
    }
    if (folder && entry.size != 0)
        return Damaged(session, relative);
    unsigned long long dataEnd = zip.directory.offset;
    if (entry.localOffset > dataEnd || dataEnd - entry.localOffset < ZIP_LOCAL_SIZE + entry.packedSize)
        return Damaged(session, relative);
    if (entry.method == ZIP_METHOD_STORED && entry.packedSize != entry.size)
        return Damaged(session, relative);
    if (entry.size > ~0ull - *total)
        return Damaged(session, relative);
    *total += entry.size;
    return true;
}

// Stored data is copied, deflated data inflated, straight into the entry's file. The packed size bounds what
// is read, the output stops at the declared size, and the deflate stream must end exactly where the data does.
static bool CopyData(BuiltinSession &session, const ZipEntry &entry, const char *relative)
{
    ArchiveInput &input = session.input;
    EntryOutput &output = session.output;
    bool deflated = entry.method == ZIP_METHOD_DEFLATED;
    z_stream z;
    if (deflated && !BeginInflate(z, -MAX_WBITS))
        return RefuseArchive(session, "out of memory", 0);
    unsigned long long remaining = entry.packedSize;
    bool ended = !deflated && remaining == 0, good = true;
    while (good && !ended) {
        const unsigned char *bytes = 0;
        unsigned available = remaining ? PeekInput(input, &bytes) : 0;
        if (remaining && available == 0) {
            good = InputFailed(session);
            break;
        }
        if (available > remaining)
            available = static_cast<unsigned>(remaining);
        unsigned room;
        unsigned char *space = EntrySpace(output, &room);
        // One byte beyond the declared size is enough to know that the entry lies.
        unsigned long long allowed = output.declared - output.written + 1;
        if (room > allowed)
            room = static_cast<unsigned>(allowed);
        unsigned consumed, produced;
        if (deflated) {
            z.next_in = const_cast<Bytef *>(bytes);
            z.avail_in = available;
            z.next_out = space;
            z.avail_out = room;
            int status = inflate(&z, Z_NO_FLUSH);
            consumed = available - z.avail_in;
            produced = room - z.avail_out;
            ended = status == Z_STREAM_END;
            // No progress with the packed data used up means the stream is cut short.
            if ((status != Z_OK && !ended) || (!ended && consumed == 0 && produced == 0))
                good = Damaged(session, relative);
        } else {
            consumed = produced = available < room ? available : room;
            CopyBytes(space, bytes, produced);
            ended = remaining == consumed;
        }
        SkipInput(input, consumed);
        remaining -= consumed;
        EntryWrite written = CommitEntryBytes(output, produced);
        if (good && written != ENTRY_WRITTEN)
            good = EntryFailed(session, written, relative);
    }
    if (deflated)
        inflateEnd(&z);
    if (good && remaining != 0)
        good = Damaged(session, relative);
    return good;
}

// Reads the local header, checks it against the central directory and unpacks the entry's data.
static bool UnpackEntry(BuiltinSession &session, const ZipArchive &zip, const ZipEntry &entry, const char *name,
                        const char *relative)
{
    ArchiveInput &input = session.input;
    unsigned char header[ZIP_LOCAL_SIZE];
    ZipLocal local;
    if (!SeekInput(input, entry.localOffset) || !ReadInput(input, header, ZIP_LOCAL_SIZE))
        return InputFailed(session);
    if (!ReadZipLocal(header, &local) || local.nameLength != entry.nameLength)
        return RefuseArchive(session, "local header disagrees with the directory", relative);
    unsigned fields = local.nameLength + local.extraLength;
    unsigned long long dataStart = entry.localOffset + ZIP_LOCAL_SIZE + fields;
    if (dataStart > zip.directory.offset || zip.directory.offset - dataStart < entry.packedSize)
        return Damaged(session, relative);
    if (!ReadInput(input, zip.local, fields))
        return InputFailed(session);
    for (unsigned i = 0; i < local.nameLength; i++) {
        if (zip.local[i] != static_cast<unsigned char>(name[i]))
            return RefuseArchive(session, "local header disagrees with the directory", relative);
    }
    if (!ZipLocalAgrees(local, zip.local + local.nameLength, entry))
        return RefuseArchive(session, "local header disagrees with the directory", relative);
    if (!CreateFileEntry(session, relative, entry.size, true) || !CopyData(session, entry, relative))
        return false;
    return FinishFileEntry(session, relative, &entry.crc);
}

// Walks the directory: checking only, or writing (the names were checked on the first walk).
static bool WalkDirectory(BuiltinSession &session, const ZipArchive &zip, bool write, unsigned long long *total)
{
    unsigned at = 0;
    for (unsigned long long i = 0; i < zip.directory.entries; i++) {
        ZipEntry entry;
        if (!ReadCentral(session, zip, at, &entry))
            return false;
        const char *name = CentralName(zip, at);
        at += CentralSize(entry);
        if (!write) {
            if (!CheckEntry(session, zip, entry, name, total))
                return false;
            continue;
        }
        char relative[RELATIVE_NAME_BYTES];
        bool folder = false;
        unsigned codePage = entry.flags & ZIP_FLAG_UTF8_NAME ? CP_UTF8 : CP_ACP;
        EntryNameVerdict verdict = AcceptEntryName(session, name, entry.nameLength, codePage, relative, &folder);
        if (verdict == ENTRY_NAME_ROOT)
            continue;
        bool done = folder ? CreateFolderEntry(session, relative) : UnpackEntry(session, zip, entry, name, relative);
        if (!done)
            return false;
    }
    // The directory holds exactly the entries the end record counts.
    return at == zip.directory.size || Damaged(session, 0);
}

bool UnpackZip(BuiltinSession &session)
{
    ZipArchive zip;
    if (!LocateDirectory(session, &zip.directory))
        return false;
    unsigned size = static_cast<unsigned>(zip.directory.size);
    zip.central = static_cast<unsigned char *>(AllocateBytes(size + 1));
    zip.local = static_cast<unsigned char *>(AllocateBytes(LOCAL_NAMES_SIZE));
    unsigned long long total = 0;
    bool done = false;
    if (!zip.central || !zip.local)
        RefuseArchive(session, "out of memory", 0);
    else if (!SeekInput(session.input, zip.directory.offset) || !ReadInput(session.input, zip.central, size))
        InputFailed(session);
    else
        done = WalkDirectory(session, zip, false, &total) && RoomForEntries(session, total) &&
               WalkDirectory(session, zip, true, &total);
    FreeBytes(zip.central);
    FreeBytes(zip.local);
    return done;
}

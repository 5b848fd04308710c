// Archiver selection by extension and the libraries' command lines.
#include "archiver_kind.h"
#include "../../common/multibyte_path.h"
#include "../../common/text.h"

static const ArchiverLibrary LIBRARIES[ARCHIVER_KIND_COUNT] = {
    {"Unlha32.dll", "UnlhaGetRunning", "Unlha"},
    {"Unzip32.dll", "UnZipGetRunning", "UnZip"},
    {"tar32.dll", "TarGetRunning", "Tar"},
    {"cab32.dll", "CabGetRunning", "Cab"},
    {"unrar32.dll", "UnrarGetRunning", "Unrar"},
    {"7-zip32.dll", "SevenZipGetRunning", "SevenZip"},
};

// Ten slots a row; a row ends at its first empty slot.
static const char *const EXTENSIONS[ARCHIVER_KIND_COUNT][10] = {
    {"lzh", "lha", "lzs"},
    {"zip", "jar"},
    {"tar", "tgz", "taz", "gz", "z", "bz2", "cpio", "rpm", "deb"},
    {"cab"},
    {"rar"},
    {"7z"},
};

// The command line of each kind: the text before the option, the option when quiet, the text between the
// option and the archive; then the archive, a blank, the destination and the tail.
struct CommandTemplate {
    const char *head;
    const char *quietOption;
    const char *tail;
};

static const CommandTemplate TEMPLATES[ARCHIVER_KIND_COUNT] = {
    {"x -c1ga1", "n1", " *.*"},
    {"-x -o", " --i", " *.*"},
    {"-x", " --display-dialog=0", " *.*"},
    {"-x -o", " -i", " *.*"},
    {"-x -o", "", " *"},
    {"x -aoa", " -hide", ""},
};

const ArchiverLibrary &ArchiverLibraryOf(int kind)
{
    return LIBRARIES[kind];
}

static const char *FindExtension(const char *path)
{
    const char *last = 0;
    for (const char *p = path; *p;) {
        if (*p == '.')
            last = p;
        p += IsLeadByte(static_cast<unsigned char>(*p)) && p[1] ? 2 : 1;
    }
    return last ? last + 1 : path;
}

int FindArchiverKind(const char *archivePath)
{
    if (!archivePath)
        return ARCHIVER_NONE;
    const char *extension = FindExtension(archivePath);
    for (int kind = 0; kind < ARCHIVER_KIND_COUNT; kind++)
        for (int slot = 0; slot < 10 && EXTENSIONS[kind][slot]; slot++)
            if (TextEqualsIgnoringCase(extension, EXTENSIONS[kind][slot]))
                return kind;
    return ARCHIVER_NONE;
}

static char *AppendRaw(char *out, const char *text)
{
    unsigned length = TextLength(text);
    CopyBytes(out, text, length);
    return out + length;
}

static char *AppendPath(char *out, const char *path)
{
    bool quote = FindCharMultibyte(path, ' ') != 0;
    if (quote)
        *out++ = '"';
    out = AppendRaw(out, path);
    if (quote)
        *out++ = '"';
    return out;
}

bool ComposeExtractCommand(TextBuffer &commandLine, int kind, const char *archivePath, const char *destinationFolder,
                           bool quiet)
{
    if (kind < 0 || kind >= ARCHIVER_KIND_COUNT || !archivePath || !archivePath[0] || !destinationFolder ||
        !destinationFolder[0])
        return false;
    // 64 spare bytes hold the longest fixed text with its option (28), the quotes and the terminating zero.
    if (!commandLine.Reserve(TextLength(archivePath) + TextLength(destinationFolder) + 64))
        return false;
    const CommandTemplate &command = TEMPLATES[kind];
    char *out = AppendRaw(commandLine.text, command.head);
    if (quiet)
        out = AppendRaw(out, command.quietOption);
    *out++ = ' ';
    out = AppendPath(out, archivePath);
    *out++ = ' ';
    out = AppendPath(out, destinationFolder);
    out = AppendRaw(out, command.tail);
    *out = 0;
    return true;
}

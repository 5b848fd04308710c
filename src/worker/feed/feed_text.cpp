// The rules are those that the platform's profile reader applies to a file (as seen under Wine, which the
// tests compare against on real files):
// - A file that starts with a UTF-8 byte-order mark is read without it, as UTF-8; any other file is read in
//   the ANSI code page, where a lead byte takes the byte after it into one character, whatever that byte is.
// - A line ends at CR or LF; a run of them ends one line, so CRLF, LF and CR alone all end lines.
// - Blanks are tab, LF, VT, FF, CR, ^Z and space. Lines, names and values lose them at both ends.
// - A line that starts with '[' and holds a ']' opens a section named by what lies between the '[' and the
//   last ']'; without a ']' it is an ordinary line.
// - Any other line is a key: the name is what precedes the first '=', the value what follows it; a line
//   without '=' is a key without a value.
// - Names compare without regard to the case of ASCII letters. A name or a value ends at a zero byte.
// - Only the first section of a name is searched, and in it the first key of the name answers.
// - No character starts a comment: ";APP_VER=1" is a key named ";APP_VER", which nobody asks for.
// - A value enclosed in a pair of the same quotes (' or ") loses them.
// - The caller's names are ANSI text and lose blanks at both ends, and a lead byte with nothing after it.
// Not reproduced, as no well-formed information file needs it: the platform turns the text of a UTF-8 file into
// the ANSI code page (here only ASCII names and values read alike), folds the case of letters beyond ASCII,
// turns a broken double-byte character into the code page's default character, and reads UTF-16 files.
#include "feed_text.h"
#include "../../common/multibyte_path.h"
#include "../../common/text.h"

namespace {

struct Range {
    const char *start;
    const char *end;
};

struct Reader {
    bool utf8; // in UTF-8 no byte of a longer character is below 0x80, so every separator is a byte of its own
};

} // namespace

static bool IsBlank(char c)
{
    unsigned char byte = static_cast<unsigned char>(c);
    return (byte >= 0x09 && byte <= 0x0D) || byte == 0x1A || byte == 0x20;
}

static const char *NextChar(const Reader &reader, const char *at, const char *end)
{
    bool pair = !reader.utf8 && IsLeadByte(static_cast<unsigned char>(*at)) && end - at > 1;
    return at + (pair ? 2 : 1);
}

// Strips blanks at both ends. The scan runs forward so that a trail byte is never taken for a blank.
static Range Trim(const Reader &reader, const char *start, const char *end)
{
    Range kept = {end, end};
    bool any = false;
    for (const char *at = start; at < end;) {
        const char *next = NextChar(reader, at, end);
        if (next - at == 2 || !IsBlank(*at)) {
            if (!any)
                kept.start = at;
            any = true;
            kept.end = next;
        }
        at = next;
    }
    return kept;
}

// The caller's name, as the platform converts it: a lead byte with nothing after it is dropped.
static Range CallerName(const char *name)
{
    const Reader ansi = {false};
    const char *end = name + TextLength(name);
    const char *last = end;
    for (const char *at = name; at < end; at = NextChar(ansi, at, end))
        last = at;
    if (end - last == 1 && IsLeadByte(static_cast<unsigned char>(*last)))
        end = last;
    return Trim(ansi, name, end);
}

static Range CutAtZero(const Reader &reader, Range range)
{
    for (const char *at = range.start; at < range.end; at = NextChar(reader, at, range.end)) {
        if (*at == '\0') {
            range.end = at;
            break;
        }
    }
    return range;
}

static char FoldAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Double-byte characters compare whole and exactly, so that a trail byte that is an ASCII letter is not folded.
static bool SameName(const Reader &reader, Range name, Range wanted, const Reader &wantedReader)
{
    const char *a = name.start;
    const char *b = wanted.start;
    while (a < name.end && b < wanted.end) {
        const char *nextA = NextChar(reader, a, name.end);
        const char *nextB = NextChar(wantedReader, b, wanted.end);
        if (nextA - a != nextB - b)
            return false;
        if (nextA - a == 2 ? (a[0] != b[0] || a[1] != b[1]) : FoldAscii(*a) != FoldAscii(*b))
            return false;
        a = nextA;
        b = nextB;
    }
    return a == name.end && b == wanted.end;
}

static unsigned CopyValue(const Reader &reader, Range found, char *value, unsigned capacity, bool *tooLong)
{
    const char *start = found.start;
    const char *end = found.end;
    if (end - start >= 2 && (*start == '"' || *start == '\'')) {
        const char *last = start;
        for (const char *at = start; at < end; at = NextChar(reader, at, end))
            last = at;
        if (end - last == 1 && *last == *start) {
            start++;
            end--;
        }
    }
    unsigned length = static_cast<unsigned>(end - start);
    if (length >= capacity) {
        if (tooLong)
            *tooLong = true;
        return 0;
    }
    CopyBytes(value, start, length);
    value[length] = '\0';
    return length;
}

unsigned FindFeedValue(const char *text, unsigned length, const char *section, const char *key, char *value,
                       unsigned capacity, bool *tooLong)
{
    if (tooLong)
        *tooLong = false;
    if (!value || capacity == 0)
        return 0;
    value[0] = '\0';
    if ((!text && length) || !section || !key)
        return 0;
    // The caller's names are ANSI text, whatever the file's encoding.
    const Reader ansi = {false};
    Range wantedSection = CallerName(section);
    Range wantedKey = CallerName(key);
    if (wantedSection.start == wantedSection.end || wantedKey.start == wantedKey.end)
        return 0;

    const char *at = text;
    const char *end = text + length;
    Reader reader = {length >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
                     static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF};
    if (reader.utf8)
        at += 3;
    bool inSection = false;
    while (at < end) {
        const char *lineStart = at;
        const char *equals = 0;
        const char *afterBracket = 0; // just after the line's last ']'
        while (at < end && *at != '\r' && *at != '\n') {
            const char *next = NextChar(reader, at, end);
            if (next - at == 1 && *at == '=' && !equals)
                equals = at;
            if (next - at == 1 && *at == ']')
                afterBracket = next;
            at = next;
        }
        Range line = Trim(reader, lineStart, at);
        while (at < end && (*at == '\r' || *at == '\n'))
            at++;
        if (line.start == line.end)
            continue;
        if (*line.start == '[' && afterBracket) {
            if (inSection)
                return 0; // a later section of the same name is never searched
            Range name = CutAtZero(reader, Trim(reader, line.start + 1, afterBracket - 1));
            inSection = SameName(reader, name, wantedSection, ansi);
            continue;
        }
        if (!inSection)
            continue;
        Range name = CutAtZero(reader, Trim(reader, line.start, equals ? equals : line.end));
        if (!SameName(reader, name, wantedKey, ansi))
            continue;
        if (!equals)
            return 0;
        return CopyValue(reader, CutAtZero(reader, Trim(reader, equals + 1, line.end)), value, capacity, tooLong);
    }
    return 0;
}

// Composing and reading the lines of the replacement journal.
#include "journal_format.h"
#include "text.h"

bool FormatJournalLine(char *buffer, unsigned capacity, char kind, const char *text)
{
    char head[3] = {kind, ' ', 0};
    if (!text || !text[0])
        head[1] = 0;
    return CopyText(buffer, capacity, head) && AppendText(buffer, capacity, text ? text : "") &&
           AppendText(buffer, capacity, "\r\n");
}

unsigned SplitJournalLines(char *text, unsigned length, char **lines, unsigned capacity)
{
    unsigned count = 0;
    unsigned start = 0;
    for (unsigned i = 0; i < length; i++) {
        if (text[i] != '\n')
            continue;
        unsigned end = i > start && text[i - 1] == '\r' ? i - 1 : i;
        if (lines && count < capacity) {
            text[end] = 0;
            text[i] = 0;
            lines[count] = text + start;
        }
        count++;
        start = i + 1;
    }
    return count;
}

bool ReadJournalRecord(const char *line, char *kind, const char **text)
{
    if (!line || !line[0] || (line[1] && line[1] != ' '))
        return false;
    *kind = line[0];
    *text = line[1] ? line + 2 : line + 1;
    return true;
}

bool ReadJournalHeader(char **lines, unsigned count, JournalHeader *header)
{
    char kind = 0;
    const char *text = 0;
    if (count < 3)
        return false;
    header->utf8 = TextEquals(lines[0], JOURNAL_MARK);
    if (!header->utf8 && !TextEquals(lines[0], JOURNAL_MARK_ANSI))
        return false;
    if (!ReadJournalRecord(lines[1], &kind, &text) || kind != JOURNAL_APPLICATION_FOLDER || !text[0])
        return false;
    header->applicationFolder = text;
    if (!ReadJournalRecord(lines[2], &kind, &text) || kind != JOURNAL_BACKUP_FOLDER || !text[0])
        return false;
    header->backupFolder = text;
    header->firstRecord = 3;
    header->committed = false;
    for (unsigned i = 3; i < count; i++)
        if (ReadJournalRecord(lines[i], &kind, &text) && kind == JOURNAL_COMMITTED)
            header->committed = true;
    return true;
}

bool IsJournalNameInside(const char *name)
{
    if (!name[0] || name[0] == '\\' || name[0] == '/')
        return false;
    for (const char *start = name;;) {
        const char *end = start;
        while (*end && *end != '\\' && *end != '/') {
            if (*end == ':')
                return false;
            end++;
        }
        if (end - start == 2 && start[0] == '.' && start[1] == '.')
            return false;
        if (!*end)
            return true;
        start = end + 1;
    }
}

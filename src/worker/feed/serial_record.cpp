// The record is written whole under another name and renamed over the old one, so a crash leaves either.
// Where no path can be composed (no profile folder) nothing can be kept: that counts as no record.
#include "serial_record.h"
#include "feed_values.h"
#include "../run/section_files.h"
#include "../../common/heap.h"
#include "../../common/path_exists.h"
#include "../../common/whole_file.h"

static const char RECORD_EXTENSION[] = ".serial";

SerialRecord ReadSerialRecord(const char *section, unsigned *serial)
{
    char path[MAX_PATH];
    if (!SectionFilePath(section, RECORD_EXTENSION, path))
        return SERIAL_NONE;
    unsigned length = 0;
    char *text = ReadWholeFile(path, 16, &length);
    SerialRecord record = text && ParseFeedSerial(text, serial) ? SERIAL_READ
                          : PathExists(path, true)              ? SERIAL_UNREADABLE
                                                                : SERIAL_NONE;
    FreeBytes(text);
    return record;
}

bool WriteSerialRecord(const char *section, unsigned serial)
{
    char path[MAX_PATH], digits[16];
    int length = wsprintfA(digits, "%u", serial);
    return SectionFilePath(section, RECORD_EXTENSION, path) &&
           WriteWholeFile(path, digits, static_cast<unsigned>(length));
}

#include "tar_records.h"

static const unsigned long long SIZE_LIMIT = 1ull << 62;

static bool IsOctalDigit(unsigned char c)
{
    return c >= '0' && c <= '7';
}

// An octal number, perhaps after blanks, ended by a blank, a zero or the field's end; a field that starts
// with 0x80 holds a big-endian binary number instead (GNU, for sizes of 8 GiB and more).
static bool ReadNumber(const unsigned char *field, unsigned width, unsigned long long *value)
{
    unsigned long long number = 0;
    if (field[0] == 0x80) {
        for (unsigned i = 1; i < width; i++) {
            if (number >> 55)
                return false;
            number = number << 8 | field[i];
        }
        *value = number;
        return number < SIZE_LIMIT;
    }
    unsigned i = 0;
    while (i < width && field[i] == ' ')
        i++;
    unsigned digits = 0;
    for (; i < width && IsOctalDigit(field[i]); i++, digits++) {
        if (number >> 59)
            return false;
        number = number << 3 | (field[i] - '0');
    }
    for (; i < width; i++) {
        if (field[i] != ' ' && field[i] != 0)
            return false;
    }
    *value = number;
    return digits > 0 && number < SIZE_LIMIT;
}

// The sum of the header's bytes with the checksum field counted as blanks; some old writers summed signed bytes.
static bool ChecksumMatches(const unsigned char *block)
{
    unsigned long long stored;
    if (!ReadNumber(block + 148, 8, &stored))
        return false;
    unsigned long unsignedSum = 0;
    long signedSum = 0;
    for (unsigned i = 0; i < TAR_BLOCK; i++) {
        unsigned char c = i >= 148 && i < 156 ? ' ' : block[i];
        unsignedSum += c;
        signedSum += static_cast<signed char>(c);
    }
    return stored == unsignedSum || static_cast<long long>(stored) == signedSum;
}

static unsigned FieldLength(const unsigned char *field, unsigned width)
{
    unsigned length = 0;
    while (length < width && field[length])
        length++;
    return length;
}

static void AppendField(TarHeader *header, const unsigned char *field, unsigned width)
{
    unsigned length = FieldLength(field, width);
    for (unsigned i = 0; i < length; i++)
        header->name[header->nameLength++] = static_cast<char>(field[i]);
    header->name[header->nameLength] = 0;
}

static TarKind KindOf(char type)
{
    switch (type) {
    case '0': case 0: case '7':
        return TAR_FILE;
    case '5':
        return TAR_FOLDER;
    case 'L':
        return TAR_LONG_NAME;
    case 'x':
        return TAR_EXTENDED;
    case 'g':
        return TAR_GLOBAL;
    case '1': case '2': case '3': case '4': case '6': case 'K':
        return TAR_LINK_OR_DEVICE;
    default:
        return TAR_UNSUPPORTED;
    }
}

TarKind ReadTarHeader(const unsigned char *block, TarHeader *header)
{
    header->nameLength = 0;
    header->name[0] = 0;
    header->size = 0;
    header->type = static_cast<char>(block[156]);
    bool zeros = true;
    for (unsigned i = 0; i < TAR_BLOCK && zeros; i++)
        zeros = block[i] == 0;
    if (zeros)
        return header->kind = TAR_END;
    if (!ChecksumMatches(block) || !ReadNumber(block + 124, 12, &header->size))
        return header->kind = TAR_DAMAGED;
    // Only POSIX ustar ("ustar" 0 "00") has the prefix; GNU's "ustar  " keeps other fields there.
    static const unsigned char USTAR[8] = {'u', 's', 't', 'a', 'r', 0, '0', '0'};
    bool ustar = true;
    for (unsigned i = 0; i < 8 && ustar; i++)
        ustar = block[257 + i] == USTAR[i];
    if (ustar && block[345]) {
        AppendField(header, block + 345, 155);
        header->name[header->nameLength++] = '/';
    }
    AppendField(header, block, 100);
    return header->kind = KindOf(header->type);
}

unsigned long long TarPadded(unsigned long long size)
{
    return (size + TAR_BLOCK - 1) / TAR_BLOCK * TAR_BLOCK;
}

static bool SameKey(const char *key, unsigned length, const char *expected)
{
    unsigned i = 0;
    for (; i < length && expected[i]; i++) {
        if (key[i] != expected[i])
            return false;
    }
    return i == length && !expected[i];
}

bool ReadPaxRecords(const char *records, unsigned length, PaxValues *values)
{
    values->havePath = values->haveSize = false;
    for (unsigned at = 0; at < length;) {
        unsigned recordLength = 0, i = at;
        for (; i < length && records[i] >= '0' && records[i] <= '9' && i - at < 9; i++)
            recordLength = recordLength * 10 + (records[i] - '0');
        if (i == at || i >= length || records[i] != ' ' || recordLength > length - at ||
            recordLength <= i + 1 - at || records[at + recordLength - 1] != '\n')
            return false;
        const char *key = records + i + 1;
        const char *end = records + at + recordLength - 1;
        const char *equals = key;
        while (equals < end && *equals != '=')
            equals++;
        if (equals == end)
            return false;
        unsigned keyLength = static_cast<unsigned>(equals - key);
        const char *value = equals + 1;
        unsigned valueLength = static_cast<unsigned>(end - value);
        if (SameKey(key, keyLength, "path")) {
            values->path = value;
            values->pathLength = valueLength;
            values->havePath = true;
        } else if (SameKey(key, keyLength, "size")) {
            unsigned long long size = 0;
            for (unsigned k = 0; k < valueLength; k++) {
                if (value[k] < '0' || value[k] > '9' || size >= SIZE_LIMIT / 10)
                    return false;
                size = size * 10 + (value[k] - '0');
            }
            if (valueLength == 0)
                return false;
            values->size = size;
            values->haveSize = true;
        }
        at += recordLength;
    }
    return true;
}

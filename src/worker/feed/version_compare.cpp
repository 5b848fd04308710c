// Version comparison.
//
// Fields separated by '.' compare as numbers; blanks and leading zeros are ignored, so 1.02 equals 1.2 and
// a trailing zero field changes nothing (1.0 equals 1). After equal numbers, text compares character by
// character without regard to case, and a suffix counts as older than the bare number (1.0b is older than
// 1.0). Digits inside a differing suffix compare as numbers read with a leading 1, so that "05" (105) is
// greater than "5" (15). When the announced version has ended, further fields of the installed one do not
// make it older: installed 1.5.1 against announced 1.5 is current.
//
// Digit runs compare as decimal texts (length first, then digit by digit), never as machine integers, so a
// run of any length compares correctly and nothing overflows.
#include "version_compare.h"
#include "../../common/multibyte_path.h"
#include "../../common/text_buffer.h"

static bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Lower-cases single-byte capitals and the full-width Latin capitals of code page 932 (0x82 0x60..0x79),
// stepping over other double-byte characters whole.
static void LowerMultibyte(char *text)
{
    for (unsigned char *p = reinterpret_cast<unsigned char *>(text); *p;) {
        if (IsLeadByte(*p) && p[1]) {
            if (p[0] == 0x82 && p[1] >= 0x60 && p[1] <= 0x79)
                p[1] = static_cast<unsigned char>(p[1] + 0x21);
            p += 2;
        } else {
            if (*p >= 'A' && *p <= 'Z')
                *p = static_cast<unsigned char>(*p + ('a' - 'A'));
            p += 1;
        }
    }
}

// Compares the digit runs at both cursors and moves the cursors past them. The first reading of a field
// comes after its blanks and zeros are skipped, so its runs have no leading zeros: a longer run is the
// larger number, and runs of equal length compare digit by digit (an empty run reads as 0). The second
// reading is taken as if a 1 stood before each run, which keeps leading zeros significant ("05" reads as
// 105, "5" as 15, an empty run as 1) and leaves the same rule true.
static int CompareDigitRuns(const char **a, const char **b)
{
    const char *startA = *a;
    const char *startB = *b;
    while (IsDigit(**a))
        ++*a;
    while (IsDigit(**b))
        ++*b;
    long lengthA = static_cast<long>(*a - startA);
    long lengthB = static_cast<long>(*b - startB);
    if (lengthA != lengthB)
        return lengthA < lengthB ? -1 : 1;
    for (long i = 0; i < lengthA; i++)
        if (startA[i] != startB[i])
            return startA[i] < startB[i] ? -1 : 1;
    return 0;
}

static void SkipBlanksAndZeros(const char **cursor)
{
    while (**cursor == ' ' || **cursor == '0')
        ++*cursor;
}

static bool IsFieldEnd(char c)
{
    return c == 0 || c == '.';
}

static int CompareCopies(const char *a, const char *b)
{
    for (;;) {
        SkipBlanksAndZeros(&a);
        SkipBlanksAndZeros(&b);
        int numbers = CompareDigitRuns(&a, &b);
        if (numbers)
            return numbers;
        while (*a == *b && !IsFieldEnd(*a)) {
            a++;
            b++;
        }
        if (*a == *b) {
            if (!*a)
                return 0;
            a++;
            b++;
            continue;
        }
        int suffixNumbers = CompareDigitRuns(&a, &b);
        if (suffixNumbers)
            return suffixNumbers;
        if (!IsFieldEnd(*a))
            return IsFieldEnd(*b) ? -1 : static_cast<signed char>(*a) - static_cast<signed char>(*b);
        if (*b == '.')
            while (*b == '.' || *b == '0' || *b == ' ')
                b++;
        if (!*b)
            return 0;
        return IsDigit(*b) ? -1 : 1;
    }
}

int CompareVersions(const char *installed, const char *announced)
{
    if (!installed || !announced)
        return installed ? 1 : announced ? -1 : 0;
    TextBuffer a = {};
    TextBuffer b = {};
    a.Assign(installed);
    b.Assign(announced);
    // Without memory for the copies the versions cannot be told apart; the update goes ahead rather than
    // claiming that the installed version is current.
    int result = -1;
    if (a.text && b.text) {
        LowerMultibyte(a.text);
        LowerMultibyte(b.text);
        result = CompareCopies(a.text, b.text);
    }
    a.Free();
    b.Free();
    return result;
}

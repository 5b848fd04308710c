// The lead-byte test of the Windows builds: the system's ANSI code page decides.
#include <windows.h>
#include "multibyte_path.h"

bool IsLeadByte(unsigned char byte)
{
    return IsDBCSLeadByte(byte) != FALSE;
}

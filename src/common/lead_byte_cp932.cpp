// The lead-byte test of the native test build: code page 932 (Shift-JIS), the code page that the shipped
// resources use, so that the pure tests mean the same natively and under Wine.
#include "multibyte_path.h"

bool IsLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The inverse of the packer's call transform (call_transform.h).
#include "call_transform.h"

void RestoreCallOperands(unsigned char *bytes, unsigned size)
{
    for (unsigned i = 0; i + 5 <= size; i++) {
        if (bytes[i] != 0xE8)
            continue;
        unsigned char *operand = bytes + i + 1;
        unsigned value = operand[0] | operand[1] << 8 | operand[2] << 16 | static_cast<unsigned>(operand[3]) << 24;
        value -= i + 5;
        for (unsigned k = 0; k < 4; k++)
            operand[k] = static_cast<unsigned char>(value >> 8 * k);
        i += 4;
    }
}

#pragma once

// scripts/pack_worker.py stores the operand of every E8 byte (the x86 call) as the target's offset in the
// file rather than relative to the next instruction: calls to one function then repeat the same four bytes,
// which LZMA packs better. The scan takes every E8 outside the four bytes after a converted one, code or not,
// and leaves an E8 in the last four bytes alone, so each side finds the same bytes.

// Turns the stored offsets back into relative operands, in place.
void RestoreCallOperands(unsigned char *bytes, unsigned size);

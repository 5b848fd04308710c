// Blocks from the process heap. The Windows builds use the process heap itself; the native build, which
// only runs the tests of the pure code, uses the C runtime's allocator so that the sanitizers see every block.
#pragma once

void *AllocateBytes(unsigned size);
void FreeBytes(void *block);

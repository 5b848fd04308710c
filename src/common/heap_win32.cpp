// Blocks from the process heap, without zeroing.
#include <windows.h>
#include "heap.h"

void *AllocateBytes(unsigned size)
{
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void FreeBytes(void *block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

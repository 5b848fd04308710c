// Native stand-in for the process heap, used only by the native test build.
#include <stdlib.h>
#include "heap.h"

void *AllocateBytes(unsigned size)
{
    return malloc(size);
}

void FreeBytes(void *block)
{
    free(block);
}

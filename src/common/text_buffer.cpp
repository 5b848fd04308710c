// TextBuffer storage: plain blocks from the process heap.
#include "text_buffer.h"
#include "heap.h"
#include "text.h"

void TextBuffer::Free()
{
    if (text)
        FreeBytes(text);
    text = 0;
    capacity = 0;
}

bool TextBuffer::Reserve(unsigned bytes)
{
    if (capacity >= bytes && text)
        return true;
    Free();
    text = static_cast<char *>(AllocateBytes(bytes));
    if (text)
        capacity = bytes;
    return capacity != 0;
}

void TextBuffer::Assign(const char *source)
{
    unsigned length = TextLength(source);
    if (!Reserve(length + 1)) {
        Free();
        return;
    }
    CopyBytes(text, source ? source : "", length);
    text[length] = 0;
}

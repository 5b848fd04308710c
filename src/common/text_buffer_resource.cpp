// Loading string resources into a TextBuffer. The load cuts a text that does not fit without saying so,
// so the block grows by 256 bytes until the text ends with more than two bytes to spare: a margin of one
// byte could hide a double-byte character that was dropped whole.
#include <windows.h>
#include "localized_resource.h"
#include "text_buffer.h"

bool TextBuffer::LoadResourceString(void *module, unsigned id)
{
    if (text)
        text[0] = 0;
    unsigned size = 256;
    if (!Reserve(size))
        return false;
    int loaded = 0;
    for (;;) {
        loaded = LoadLocalizedString(static_cast<HMODULE>(module), id, text, static_cast<int>(size));
        if (loaded < 0)
            loaded = 0;
        if (size - static_cast<unsigned>(loaded) > 2)
            break;
        size += 256;
        if (!Reserve(size))
            break;
    }
    return loaded != 0;
}

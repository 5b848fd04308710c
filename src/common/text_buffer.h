// TextBuffer: the one owning holder of variable-length text in both executables. A buffer starts zeroed
// (`TextBuffer b = {};`), never keeps its content when it grows, and is freed explicitly by its owner.
#pragma once

struct TextBuffer {
    char *text;
    unsigned capacity;

    void Free();
    // Keeps the content when `bytes` already fit; otherwise drops it and allocates a fresh block.
    bool Reserve(unsigned bytes);
    // Copies the text; on failure the buffer is left empty.
    void Assign(const char *source);
    // Loads a string resource of `module`, growing the block until the text fits.
    bool LoadResourceString(void *module, unsigned id);
};

// Skin pictures through the platform's picture decoder.
//
// OleLoadPicture takes bitmaps, JPEG, GIF, icons and both metafile kinds from a stream and needs no COM
// initialisation of the calling thread. Its libraries are loaded only when a skin has pictures: a silent run
// or a check would pay for them at every start. The decoded picture owns its palette and deletes it on release,
// so the palette handed out is a copy that lives as long as the caller keeps it.
#include "skin_image.h"
#include <ole2.h>
#include <olectl.h>
#include "skin_path.h"
#include "../run/worker_command_line.h"
#include "../run/worker_settings.h"
#include "../../common/heap.h"
#include "../../common/system_library.h"

static const LONG HIMETRIC_PER_INCH = 2540;

typedef HRESULT(WINAPI *StreamOnBlock)(HGLOBAL, BOOL, IStream **);
typedef HRESULT(WINAPI *PictureLoader)(IStream *, LONG, BOOL, REFIID, void **);

// A copy of a palette, or none.
static HPALETTE CopyPalette(HPALETTE palette)
{
    UINT count = GetPaletteEntries(palette, 0, 0, 0);
    if (count == 0 || count > 256)
        return 0;
    unsigned size = sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY);
    LOGPALETTE *copy = static_cast<LOGPALETTE *>(AllocateBytes(size));
    if (!copy)
        return 0;
    copy->palVersion = 0x300;
    copy->palNumEntries = static_cast<WORD>(count);
    HPALETTE result = 0;
    if (GetPaletteEntries(palette, 0, count, copy->palPalEntry) == count)
        result = CreatePalette(copy);
    FreeBytes(copy);
    return result;
}

// The whole file in a movable memory block, or none.
static HGLOBAL ReadFileToGlobal(const char *path, DWORD *size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    LARGE_INTEGER length;
    *size = GetFileSizeEx(file, &length) && length.HighPart == 0 ? length.LowPart : INVALID_FILE_SIZE;
    // An empty file fails at the lock: a zero-size movable block has no memory to lock.
    HGLOBAL block = *size == INVALID_FILE_SIZE ? 0 : GlobalAlloc(GMEM_MOVEABLE, *size);
    bool read = false;
    if (block) {
        void *bytes = GlobalLock(block);
        if (bytes) {
            DWORD done = 0;
            read = ReadFile(file, bytes, *size, &done, 0) != FALSE;
            GlobalUnlock(block);
        }
    }
    CloseHandle(file);
    if (!read && block) {
        GlobalFree(block);
        block = 0;
    }
    return block;
}

// Renders the decoded picture into a new memory context and bitmap compatible with the window's display.
static bool RenderPicture(HWND window, IPicture *picture, HDC *context, HBITMAP *bitmap, HPALETTE *palette)
{
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    if (FAILED(picture->get_Width(&width)) || FAILED(picture->get_Height(&height)))
        return false;
    HDC windowContext = GetDC(window);
    if (!windowContext)
        return false;
    bool rendered = false;
    HPALETTE copied = 0;
    *context = CreateCompatibleDC(windowContext);
    int pixelWidth = MulDiv(width, GetDeviceCaps(windowContext, LOGPIXELSX), HIMETRIC_PER_INCH);
    int pixelHeight = MulDiv(height, GetDeviceCaps(windowContext, LOGPIXELSY), HIMETRIC_PER_INCH);
    // A size below one pixel would give a monochrome stand-in bitmap instead of one in the display's format.
    if (*context && pixelWidth > 0 && pixelHeight > 0)
        *bitmap = CreateCompatibleBitmap(windowContext, pixelWidth, pixelHeight);
    HGDIOBJ previous = *bitmap ? SelectObject(*context, *bitmap) : 0;
    if (previous) {
        OLE_HANDLE pictureHandle = 0;
        if (SUCCEEDED(picture->get_hPal(&pictureHandle))) {
            copied = pictureHandle ? CopyPalette(reinterpret_cast<HPALETTE>(static_cast<ULONG_PTR>(pictureHandle)))
                                   : 0;
            *palette = copied;
            if (copied) {
                SelectPalette(*context, copied, TRUE);
                RealizePalette(*context);
            }
        }
        // The HIMETRIC y axis points up: start at the top edge and go down by the whole height.
        rendered = SUCCEEDED(picture->Render(*context, 0, 0, pixelWidth, pixelHeight, 0, height, width, -height, 0));
        SelectObject(*context, previous);
    }
    ReleaseDC(window, windowContext);
    if (!rendered) {
        if (*bitmap)
            DeleteObject(*bitmap);
        if (*context) {
            SelectPalette(*context, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), TRUE);
            DeleteDC(*context);
        }
        // Nothing that this call made outlives a failure, the palette copy included.
        if (copied) {
            DeleteObject(copied);
            *palette = 0;
        }
        *bitmap = 0;
        *context = 0;
    }
    return rendered;
}

bool LoadSkinImage(HWND window, HDC *context, HBITMAP *bitmap, HPALETTE *palette, const char *fileName)
{
    if (!fileName || !fileName[0])
        return false;
    char path[MAX_PATH];
    if (!BuildSkinPath(path, sizeof path, workerArgs.launcherPath, fileName))
        return false;
    DWORD size = 0;
    HGLOBAL block = ReadFileToGlobal(path, &size);
    if (!block)
        return false;

    *context = 0;
    *bitmap = 0;
    StreamOnBlock streamOnBlock =
        reinterpret_cast<StreamOnBlock>(SystemFunction("ole32.dll", "CreateStreamOnHGlobal"));
    PictureLoader loadPicture = reinterpret_cast<PictureLoader>(SystemFunction("oleaut32.dll", "OleLoadPicture"));
    IStream *stream = 0;
    if (!streamOnBlock || !loadPicture || FAILED(streamOnBlock(block, TRUE, &stream))) {
        GlobalFree(block);
        return false;
    }
    // From here on releasing the stream frees the block.
    IPicture *picture = 0;
    bool loaded = false;
    if (SUCCEEDED(loadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                              reinterpret_cast<void **>(&picture)))) {
        loaded = RenderPicture(window, picture, context, bitmap, palette);
        picture->Release();
    }
    stream->Release();
    return loaded;
}

bool CreateColorKeyMask(HDC source, HBITMAP sourceBitmap, HDC *maskContext, HBITMAP *maskBitmap, COLORREF key)
{
    *maskContext = 0;
    *maskBitmap = 0;
    if (!source || !sourceBitmap)
        return false;
    BITMAP size;
    if (!GetObjectA(sourceBitmap, sizeof size, &size))
        return false;
    HDC mask = CreateCompatibleDC(source);
    HBITMAP bits = mask ? CreateBitmap(size.bmWidth, size.bmHeight, 1, 1, 0) : 0;
    HGDIOBJ previousSource = bits ? SelectObject(source, sourceBitmap) : 0;
    HGDIOBJ previousMask = previousSource ? SelectObject(mask, bits) : 0;
    if (!previousMask) {
        if (previousSource)
            SelectObject(source, previousSource);
        if (bits)
            DeleteObject(bits);
        if (mask)
            DeleteDC(mask);
        return false;
    }
    if (key == NO_COLOR)
        key = GetPixel(source, 0, 0);
    // A colour-to-monochrome copy turns the source context's background colour into 1 and all else into 0.
    COLORREF previousBackground = SetBkColor(source, key);
    BitBlt(mask, 0, 0, size.bmWidth, size.bmHeight, source, 0, 0, SRCCOPY);
    SetBkColor(source, previousBackground);
    SelectObject(mask, previousMask);
    SelectObject(source, previousSource);
    *maskContext = mask;
    *maskBitmap = bits;
    return true;
}

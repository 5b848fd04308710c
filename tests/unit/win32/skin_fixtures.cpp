#include "skin_fixtures.h"
#include <vector>
#include "../../../src/common/heap.h"
#include "../../../src/common/text.h"
#include "../../../src/worker/run/worker_command_line.h"

std::string BitmapFileBytes(int width, int height, const std::function<COLORREF(int x, int y)> &pixel)
{
    int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + stride * height;
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    std::string bytes(reinterpret_cast<const char *>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char *>(&info), sizeof info);
    // Rows bottom-up, pixels blue-green-red.
    for (int y = height - 1; y >= 0; y--) {
        std::string row(stride, '\0');
        for (int x = 0; x < width; x++) {
            COLORREF colour = pixel(x, y);
            row[x * 3] = static_cast<char>(GetBValue(colour));
            row[x * 3 + 1] = static_cast<char>(GetGValue(colour));
            row[x * 3 + 2] = static_cast<char>(GetRValue(colour));
        }
        bytes += row;
    }
    return bytes;
}

LauncherPathScope::LauncherPathScope(const std::string &launcher)
{
    FreeWorkerArgs();
    workerArgs.launcherPath = static_cast<char *>(AllocateBytes(static_cast<unsigned>(launcher.size()) + 1));
    CopyText(workerArgs.launcherPath, static_cast<unsigned>(launcher.size()) + 1, launcher.c_str());
}

LauncherPathScope::~LauncherPathScope()
{
    FreeWorkerArgs();
}

MemoryCanvas::MemoryCanvas(int width, int height, COLORREF fill) : width_(width), height_(height)
{
    HDC screen = GetDC(0);
    context_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(0, screen);
    previous_ = SelectObject(context_, bitmap_);
    RECT all = {0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(fill);
    FillRect(context_, &all, brush);
    DeleteObject(brush);
}

MemoryCanvas::~MemoryCanvas()
{
    SelectObject(context_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(context_);
}

COLORREF BitmapPixel(HBITMAP bitmap, int x, int y)
{
    HDC context = CreateCompatibleDC(0);
    HGDIOBJ previous = SelectObject(context, bitmap);
    COLORREF colour = previous ? GetPixel(context, x, y) : CLR_INVALID;
    if (previous)
        SelectObject(context, previous);
    DeleteDC(context);
    return colour;
}

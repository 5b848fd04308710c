// Helpers of the skin tests: pictures written by the tests themselves, the launcher path that the skin
// files are looked up beside, and pixels read back from drawing contexts.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include "../../../src/worker/run/worker_settings.h"

// A 24-bit Windows bitmap file; `pixel` gives the colour at (x, y), y counted from the top.
std::string BitmapFileBytes(int width, int height, const std::function<COLORREF(int x, int y)> &pixel);

// Points workerArgs.launcherPath at `launcher` for the life of the object; frees the worker's slots after.
class LauncherPathScope {
public:
    explicit LauncherPathScope(const std::string &launcher);
    ~LauncherPathScope();
};

// Keeps a copy of workerSettings and puts it back at the end.
class SettingsScope {
public:
    SettingsScope() : saved_(workerSettings) {}
    ~SettingsScope() { workerSettings = saved_; }

private:
    WorkerSettings saved_;
};

// A memory context with a bitmap of the display's format selected, filled with `fill`.
class MemoryCanvas {
public:
    MemoryCanvas(int width, int height, COLORREF fill);
    ~MemoryCanvas();
    HDC Context() const { return context_; }
    COLORREF Pixel(int x, int y) const { return GetPixel(context_, x, y); }
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    HDC context_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
    int width_, height_;
};

// The colour at (x, y) of a bitmap that is selected nowhere.
COLORREF BitmapPixel(HBITMAP bitmap, int x, int y);

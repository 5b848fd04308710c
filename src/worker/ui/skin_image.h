// Skin pictures: a picture file next to the launcher, decoded once into an off-screen bitmap that later
// paints only copy from, and the one-bit mask of an animation's key colour.
#pragma once
#include <windows.h>

// The three handles of a loaded picture; the caller owns all of them.
struct SkinImage {
    HDC context;      // memory context compatible with the window's display; the bitmap is not selected in it
    HBITMAP bitmap;   // the rendered picture, in the display's format
    HPALETTE palette; // the picture's palette, or none
};

// Loads `fileName` from the launcher's folder and renders it, upright and at its own pixel size, into a
// bitmap compatible with `window`'s display. A missing, empty or undecodable file is a silent false.
// Failures before the picture is decoded leave the outputs untouched; later ones set the context and the
// bitmap to none. The palette output is written only when the picture has one, so callers set it to none
// first.
bool LoadSkinImage(HWND window, HDC *context, HBITMAP *bitmap, HPALETTE *palette, const char *fileName);

// Builds a monochrome mask of the source bitmap's size: 1 where the source has the key colour, else 0.
// A key of NO_COLOR stands for the source's top-left pixel. The source context is left with the bitmap and
// background colour it had; the mask is returned selected nowhere. On false both outputs are none.
bool CreateColorKeyMask(HDC source, HBITMAP sourceBitmap, HDC *maskContext, HBITMAP *maskBitmap, COLORREF key);

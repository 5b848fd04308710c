// The animation panel: the update dialog's static control 1001, driven by AnimationPanelProc once the dialog
// has replaced the control's window procedure. It draws a background and the current frame of the strip
// "anime.vrl", double-buffered, and steps the frames with a window timer.
#pragma once
#include <windows.h>

// Sent to the panel; wParam is ANIMATION_START or ANIMATION_STOP, lParam 0.
#define WM_ANIMATION (WM_APP + 1)
#define ANIMATION_START 0
#define ANIMATION_STOP 1

#define ANIMATION_TIMER_ID 10000

// One panel per process, in static storage: all zero at start, and all zero but the previous procedure
// again once the panel is destroyed.
struct AnimationPanelState {
    WNDPROC previousProcedure; // the control's own procedure, written by the dialog when it installs ours
    HDC backBufferContext;
    HBITMAP backBufferBitmap;  // the panel's client size at start
    HBITMAP backBufferPrevious; // not none exactly when the panel is double-buffered
    HDC imageContext;
    HBITMAP imageBitmap;       // the frame strip
    HPALETTE imagePalette;
    HDC maskContext;
    HBITMAP maskBitmap;
    HBITMAP maskPrevious;      // not none exactly when the mask is in use
    HBITMAP backgroundSnapshot; // the dialog's pixels beneath the panel, taken at the first paint that needs them
    int frameSide;             // the strip's height: width and height of every frame
    UINT timerId;              // 0 when the timer is not running
    unsigned short frameCount;
    unsigned short currentFrame;
};

extern AnimationPanelState animationPanelState;

LRESULT CALLBACK AnimationPanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Fills the rectangle with the colour through an opaque text output; the context's background colour is
// left as it was.
void FillRectColor(HDC context, const RECT *rect, COLORREF color);

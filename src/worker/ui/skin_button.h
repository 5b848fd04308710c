// The update dialog's owner-drawn push button (control 2).
#pragma once
#include <windows.h>

// Where the faces start in the parts picture "parts.vrl".
#define BUTTON_FACE_NORMAL_X 0
#define BUTTON_FACE_PRESSED_X 75

// Draws the button for WM_DRAWITEM: its face from the parts picture (`partsContext`, with the picture's
// bitmap selected) or, without one, as a standard push button; then the caption in colorBtnText, moved by
// 2 pixels right and down while pressed; then the focus rectangle when the button has the focus. A change
// of focus alone only toggles the focus rectangle. A null request does nothing.
void DrawSkinButton(const DRAWITEMSTRUCT *item, HDC partsContext);

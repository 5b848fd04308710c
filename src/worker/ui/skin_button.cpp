// The skinned push button. There is no disabled look: the dialog never disables its button.
#include "skin_button.h"
#include "../run/worker_settings.h"

static const int CAPTION_BYTES = 32;
static const int FOCUS_INSET = 4;
static const int PRESSED_SHIFT = 2;

// DrawFocusRect inverts, so the same call draws the rectangle and takes it away again.
static void ToggleFocusRect(const DRAWITEMSTRUCT *item)
{
    RECT focus = item->rcItem;
    InflateRect(&focus, -FOCUS_INSET, -FOCUS_INSET);
    DrawFocusRect(item->hDC, &focus);
}

void DrawSkinButton(const DRAWITEMSTRUCT *item, HDC partsContext)
{
    if (!item)
        return;
    if (item->itemAction == ODA_FOCUS) {
        ToggleFocusRect(item);
        return;
    }
    HDC context = item->hDC;
    bool pressed = (item->itemState & ODS_SELECTED) != 0;

    HGDIOBJ previousPen = SelectObject(context, GetStockObject(BLACK_PEN));
    Rectangle(context, item->rcItem.left, item->rcItem.top, item->rcItem.right, item->rcItem.bottom);
    SelectObject(context, previousPen);

    RECT inner = item->rcItem;
    InflateRect(&inner, -1, -1);
    if (partsContext) {
        BitBlt(context, inner.left, inner.top, inner.right - inner.left, inner.bottom - inner.top, partsContext,
               pressed ? BUTTON_FACE_PRESSED_X : BUTTON_FACE_NORMAL_X, 0, SRCCOPY);
    } else {
        // The pressed look is the flat frame, not the sunken one.
        DrawFrameControl(context, &inner, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_FLAT : 0));
    }
    if (pressed) {
        inner.left += PRESSED_SHIFT;
        inner.top += PRESSED_SHIFT;
    }

    char caption[CAPTION_BYTES];
    caption[0] = 0;
    GetWindowTextA(item->hwndItem, caption, CAPTION_BYTES);
    COLORREF previousColor = SetTextColor(context, workerSettings.colorBtnText | SKIN_COLOR_FLAG);
    int previousMode = SetBkMode(context, TRANSPARENT);
    DrawTextA(context, caption, -1, &inner, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SetBkMode(context, previousMode);
    SetTextColor(context, previousColor);

    if (item->itemState & ODS_FOCUS)
        ToggleFocusRect(item);
}

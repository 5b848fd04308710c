// The animation panel's window procedure.
//
// Everything the paint needs is prepared when the animation starts (the strip, its mask, the back buffer)
// or at the first paint (the snapshot of the dialog beneath the panel), so that a timer period costs a
// handful of block copies. Nothing is ever erased: the back buffer is composed in full and copied over the
// panel, which keeps the animation free of flicker.
#include "animation_panel.h"
#include "animation_geometry.h"
#include "skin_image.h"
#include "../run/worker_settings.h"

AnimationPanelState animationPanelState;

static const DWORD ROP_SRCINVERT = 0x00660046;
static const DWORD ROP_SRCAND = 0x008800C6;

void FillRectColor(HDC context, const RECT *rect, COLORREF color)
{
    COLORREF previous = SetBkColor(context, color);
    ExtTextOutA(context, 0, 0, ETO_OPAQUE, rect, 0, 0, 0);
    SetBkColor(context, previous);
}

static LRESULT PassOn(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC previous = animationPanelState.previousProcedure;
    if (!previous)
        return DefWindowProcA(window, message, wParam, lParam);
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

static void CreateBackBuffer(HWND window)
{
    AnimationPanelState &state = animationPanelState;
    HDC panel = GetDC(window);
    if (!panel)
        return;
    RECT client;
    GetClientRect(window, &client);
    state.backBufferContext = CreateCompatibleDC(panel);
    if (state.backBufferContext && client.right > 0 && client.bottom > 0)
        state.backBufferBitmap = CreateCompatibleBitmap(panel, client.right, client.bottom);
    if (state.backBufferBitmap) {
        state.backBufferPrevious = static_cast<HBITMAP>(SelectObject(state.backBufferContext, state.backBufferBitmap));
        if (state.backBufferPrevious && state.imagePalette)
            SelectPalette(state.backBufferContext, state.imagePalette, TRUE);
    }
    ReleaseDC(window, panel);
}

static LRESULT Start(HWND window)
{
    AnimationPanelState &state = animationPanelState;
    // The timer runs even without a picture, so that the panel keeps repainting.
    state.timerId = SetTimer(window, ANIMATION_TIMER_ID, workerSettings.animationInterval, 0);
    // A repeated start keeps what the first one prepared instead of leaking it.
    if (!state.imageContext &&
        LoadSkinImage(window, &state.imageContext, &state.imageBitmap, &state.imagePalette, "anime.vrl")) {
        BITMAP strip;
        if (GetObjectA(state.imageBitmap, sizeof strip, &strip)) {
            state.frameSide = strip.bmHeight;
            state.frameCount = FrameCount(strip.bmWidth, strip.bmHeight);
        }
        if (workerSettings.transColor != NO_TRANSPARENCY &&
            CreateColorKeyMask(state.imageContext, state.imageBitmap, &state.maskContext, &state.maskBitmap,
                               workerSettings.transColor))
            state.maskPrevious = static_cast<HBITMAP>(SelectObject(state.maskContext, state.maskBitmap));
        if (!state.backBufferContext)
            CreateBackBuffer(window);
    }
    return state.timerId && state.imageContext && state.imageBitmap ? 1 : 0;
}

static void Stop(HWND window)
{
    AnimationPanelState &state = animationPanelState;
    if (state.timerId) {
        KillTimer(window, state.timerId);
        state.timerId = 0;
    }
}

// Copies what the dialog shows beneath the panel at this moment; it serves as the background from now on.
static void TakeSnapshot(HWND window, HDC target, int width, int height)
{
    AnimationPanelState &state = animationPanelState;
    HWND parent = GetParent(window);
    HDC parentContext = parent ? GetDC(parent) : 0;
    if (!parentContext)
        return;
    HBITMAP snapshot = CreateCompatibleBitmap(target, width, height);
    if (snapshot) {
        HGDIOBJ previous = SelectObject(state.imageContext, snapshot);
        if (previous) {
            POINT origin = {0, 0};
            ClientToScreen(window, &origin);
            ScreenToClient(parent, &origin);
            BitBlt(state.imageContext, 0, 0, width, height, parentContext, origin.x, origin.y, SRCCOPY);
            SelectObject(state.imageContext, previous);
            state.backgroundSnapshot = snapshot;
        } else {
            DeleteObject(snapshot);
        }
    }
    ReleaseDC(parent, parentContext);
}

static void DrawSnapshot(HDC target, int width, int height)
{
    AnimationPanelState &state = animationPanelState;
    HGDIOBJ previous = SelectObject(state.imageContext, state.backgroundSnapshot);
    if (!previous)
        return;
    BitBlt(target, 0, 0, width, height, state.imageContext, 0, 0, SRCCOPY);
    SelectObject(state.imageContext, previous);
}

static void DrawCurrentFrame(HDC target, int width, int height)
{
    AnimationPanelState &state = animationPanelState;
    BITMAP strip;
    if (!GetObjectA(state.imageBitmap, sizeof strip, &strip))
        return;
    FramePlacement frame;
    if (!PlaceFrame(width, height, state.frameSide, strip.bmWidth, state.currentFrame, &frame))
        return;
    HGDIOBJ previous = SelectObject(state.imageContext, state.imageBitmap);
    if (!previous)
        return;
    if (state.maskPrevious) {
        // Mask bit 1 (the key) must become all ones and bit 0 all zeros: black text and white background.
        COLORREF text = SetTextColor(target, RGB(0, 0, 0));
        COLORREF back = SetBkColor(target, RGB(255, 255, 255));
        BitBlt(target, frame.x, frame.y, frame.width, frame.height, state.imageContext, frame.sourceX, 0,
               ROP_SRCINVERT);
        BitBlt(target, frame.x, frame.y, frame.width, frame.height, state.maskContext, frame.sourceX, 0,
               ROP_SRCAND);
        BitBlt(target, frame.x, frame.y, frame.width, frame.height, state.imageContext, frame.sourceX, 0,
               ROP_SRCINVERT);
        SetBkColor(target, back);
        SetTextColor(target, text);
    } else {
        BitBlt(target, frame.x, frame.y, frame.width, frame.height, state.imageContext, frame.sourceX, 0,
               SRCCOPY);
    }
    SelectObject(state.imageContext, previous);
}

static void Paint(HWND window)
{
    AnimationPanelState &state = animationPanelState;
    PAINTSTRUCT paint;
    HDC paintContext = BeginPaint(window, &paint);
    if (!paintContext)
        return;
    HPALETTE previousPalette = state.imagePalette ? SelectPalette(paintContext, state.imagePalette, TRUE) : 0;
    HDC target = state.backBufferPrevious ? state.backBufferContext : paintContext;
    RECT client;
    GetClientRect(window, &client);
    int width = client.right;
    int height = client.bottom;
    unsigned background = workerSettings.colorAniBkgnd;
    if (background != NO_COLOR)
        FillRectColor(target, &client, background | SKIN_COLOR_FLAG);
    if (state.imageContext && state.imageBitmap && width > 0 && height > 0) {
        if (background == NO_COLOR) {
            if (!state.backgroundSnapshot)
                TakeSnapshot(window, target, width, height);
            if (state.backgroundSnapshot)
                DrawSnapshot(target, width, height);
        }
        DrawCurrentFrame(target, width, height);
    }
    if (state.backBufferPrevious)
        BitBlt(paintContext, client.left, client.top, width, height, state.backBufferContext, 0, 0, SRCCOPY);
    if (previousPalette)
        SelectPalette(paintContext, previousPalette, FALSE);
    EndPaint(window, &paint);
}

static void RealizeOnPaletteChange(HWND window, HWND changer)
{
    AnimationPanelState &state = animationPanelState;
    if (changer == window || !state.imagePalette)
        return;
    HDC context = GetDC(window);
    if (!context)
        return;
    HPALETTE previous = SelectPalette(context, state.imagePalette, TRUE);
    UINT changed = RealizePalette(context);
    if (changed != 0 && changed != GDI_ERROR)
        InvalidateRect(window, 0, FALSE);
    if (previous)
        SelectPalette(context, previous, FALSE);
    ReleaseDC(window, context);
}

static void Release(HWND window)
{
    AnimationPanelState &state = animationPanelState;
    HPALETTE defaultPalette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    if (state.timerId)
        KillTimer(window, state.timerId);
    if (state.imageBitmap)
        DeleteObject(state.imageBitmap);
    if (state.imageContext) {
        SelectPalette(state.imageContext, defaultPalette, TRUE);
        DeleteDC(state.imageContext);
    }
    if (state.maskPrevious)
        SelectObject(state.maskContext, state.maskPrevious);
    if (state.maskBitmap)
        DeleteObject(state.maskBitmap);
    if (state.maskContext)
        DeleteDC(state.maskContext);
    if (state.backgroundSnapshot)
        DeleteObject(state.backgroundSnapshot);
    if (state.backBufferPrevious)
        SelectObject(state.backBufferContext, state.backBufferPrevious);
    if (state.backBufferBitmap)
        DeleteObject(state.backBufferBitmap);
    if (state.backBufferContext) {
        SelectPalette(state.backBufferContext, defaultPalette, TRUE);
        DeleteDC(state.backBufferContext);
    }
    if (state.imagePalette)
        DeleteObject(state.imagePalette);
    // Back to the state of a fresh process, so that no stale handle is used or deleted twice; the previous
    // procedure stays, because the control's last messages still go there.
    WNDPROC previousProcedure = state.previousProcedure;
    state = AnimationPanelState();
    state.previousProcedure = previousProcedure;
}

LRESULT CALLBACK AnimationPanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    AnimationPanelState &state = animationPanelState;
    switch (message) {
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_TIMER:
        if (!state.timerId || wParam != state.timerId)
            break;
        state.currentFrame = NextFrame(state.currentFrame, state.frameCount);
        InvalidateRect(window, 0, FALSE);
        return 0;
    case WM_DESTROY:
        Release(window);
        break;
    case WM_PALETTECHANGED:
        RealizeOnPaletteChange(window, reinterpret_cast<HWND>(wParam));
        return 0;
    case WM_ANIMATION:
        if (wParam == ANIMATION_START)
            return Start(window);
        if (wParam == ANIMATION_STOP)
            Stop(window);
        return 1;
    }
    return PassOn(window, message, wParam, lParam);
}

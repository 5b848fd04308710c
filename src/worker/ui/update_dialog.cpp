// The update dialog: progress bar, status text in a sunken frame, animation, one skinned button and, at
// the end, the restart check box.
//
// The update thread reports only by synchronous messages, so a text it sends can be copied here while the
// thread waits. The thread is created suspended before anything it reads is set and resumed last, so it
// never sees a half-built dialog. The button requests an abort while the update runs and closes the dialog
// once it has finished; Escape, Enter and the frame's close command all arrive as the button.
#include <windows.h>
#include <commctrl.h>
#include "common_controls.h"
#include "update_dialog.h"
#include "animation_panel.h"
#include "skin_button.h"
#include "skin_image.h"
#include "../run/worker_resources.h"
#include "../run/worker_command_line.h"
#include "../run/module_instance.h"
#include "../run/worker_settings.h"
#include "worker_message.h"
#include "../run/status_channel.h"
#include "../../common/localized_resource.h"
#include "../../common/text_buffer.h"

// Positions are given in a reference client area of 364 x 176 pixels and scaled to the real one.
static const int REFERENCE_WIDTH = 364;
static const int REFERENCE_HEIGHT = 176;

struct LoadedImage {
    SkinImage image;
    HBITMAP previousBitmap; // not none exactly when the picture is loaded and selected
};

struct DialogState {
    RECT infoRect;
    TextBuffer infoText;
    HFONT infoFont;
    HPEN shadowPen;
    HPEN highlightPen;
    HANDLE updateThread;
    bool finished;
    UpdateProcedure runUpdate;
    LoadedImage backgroundImage;
    LoadedImage partsImage;
    int clientWidth;
    int clientHeight;
};

static DialogState dialog;
static StatusBlock statusBlock;

static int ScaleX(int x)
{
    return MulDiv(x, dialog.clientWidth, REFERENCE_WIDTH);
}

static int ScaleY(int y)
{
    return MulDiv(y, dialog.clientHeight, REFERENCE_HEIGHT);
}

static COLORREF SkinColor(unsigned color)
{
    return static_cast<COLORREF>(color | SKIN_COLOR_FLAG);
}

static DWORD WINAPI UpdateThread(void *block)
{
    dialog.runUpdate(static_cast<StatusBlock *>(block));
    return 0;
}

static void LoadImage(HWND window, LoadedImage &loaded, const char *fileName)
{
    loaded.image.palette = 0;
    loaded.previousBitmap = 0;
    if (LoadSkinImage(window, &loaded.image.context, &loaded.image.bitmap, &loaded.image.palette, fileName))
        loaded.previousBitmap = static_cast<HBITMAP>(SelectObject(loaded.image.context, loaded.image.bitmap));
}

static void ReleaseImage(LoadedImage &loaded)
{
    if (loaded.previousBitmap)
        SelectObject(loaded.image.context, loaded.previousBitmap);
    if (loaded.image.bitmap)
        DeleteObject(loaded.image.bitmap);
    if (loaded.image.context) {
        SelectPalette(loaded.image.context, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), TRUE);
        DeleteDC(loaded.image.context);
    }
    if (loaded.image.palette)
        DeleteObject(loaded.image.palette);
    loaded = LoadedImage();
}

static void ApplyTitleBar(HWND window)
{
    LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    LONG_PTR wanted = (workerSettings.options & OPT_CAPTION) ? (style | WS_CAPTION) : (style & ~WS_CAPTION);
    if (wanted == style)
        return;
    SetWindowLongPtrA(window, GWL_STYLE, wanted);
    // Keep the client area: the window grows or shrinks by the title bar.
    RECT frame = {0, 0, dialog.clientWidth, dialog.clientHeight};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(wanted), FALSE, static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE)));
    SetWindowPos(window, 0, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

static void CentreInWorkArea(HWND window)
{
    RECT work;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
        SetRect(&work, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    RECT bounds;
    GetWindowRect(window, &bounds);
    int width = bounds.right - bounds.left;
    int height = bounds.bottom - bounds.top;
    int x = (work.left + work.right - width) >> 1;
    int y = (work.top + work.bottom - height) >> 1;
    SetWindowPos(window, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
}

static BOOL OnInitDialog(HWND window)
{
    SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    RECT client;
    GetClientRect(window, &client);
    dialog.clientWidth = client.right;
    dialog.clientHeight = client.bottom;

    HWND panel = GetDlgItem(window, IDC_ANIMATION);
    if (!panel) {
        EndDialog(window, -1);
        return FALSE;
    }
    MoveWindow(panel, ScaleX(28), ScaleY(32), ScaleX(48), ScaleY(48), FALSE);
    animationPanelState.previousProcedure =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(panel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AnimationPanelProc)));
    SendMessageA(panel, WM_ANIMATION, ANIMATION_START, 0);

    SetRect(&dialog.infoRect, ScaleX(95), ScaleY(12), ScaleX(350), ScaleY(100));
    TextBuffer face = {};
    face.LoadResourceString(moduleInstance, IDS_INFO_FONT_FACE);
    dialog.infoFont = CreateFontA(MulDiv(-12, dialog.clientHeight, REFERENCE_HEIGHT), 0, 0, 0,
                                  MulDiv(400, dialog.clientHeight, REFERENCE_HEIGHT), FALSE, FALSE, FALSE,
                                  SHIFTJIS_CHARSET, 0, 0, 0, VARIABLE_PITCH | FF_MODERN, face.text);
    face.Free();
    dialog.shadowPen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
    dialog.highlightPen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNHIGHLIGHT));

    dialog.updateThread = CreateThread(0, 0, UpdateThread, &statusBlock, CREATE_SUSPENDED, 0);
    if (!dialog.updateThread) {
        EndDialog(window, -1);
        return FALSE;
    }

    LoadImage(window, dialog.backgroundImage, "bkgnd.vrl");
    // An unset background colour is the system's, also around a picture smaller than the dialog: left
    // unpainted, that area would show whatever lay there before.
    if (workerSettings.colorBkgnd == NO_COLOR)
        workerSettings.colorBkgnd = GetSysColor(COLOR_BTNFACE);
    LoadImage(window, dialog.partsImage, "parts.vrl");

    ApplyTitleBar(window);
    if (workerArgs.caption && workerArgs.caption[0])
        SetWindowTextA(window, workerArgs.caption);
    CentreInWorkArea(window);
    SendMessageA(window, DM_SETDEFID, IDCANCEL, 0);

    statusBlock.dialogWindow = window;
    statusBlock.state = STATE_RUNNING;
    ResumeThread(dialog.updateThread);
    UpdateWindow(window);
    return TRUE;
}

// Fills InfoRect and keeps it out of the clip region, so the background fill leaves it alone.
static void FillInfoRect(HDC context)
{
    if (workerSettings.colorInfoBkgnd == NO_COLOR)
        return;
    FillRectColor(context, &dialog.infoRect, SkinColor(workerSettings.colorInfoBkgnd));
    ExcludeClipRect(context, dialog.infoRect.left, dialog.infoRect.top, dialog.infoRect.right + 1,
                    dialog.infoRect.bottom + 1);
}

static BOOL OnEraseBackground(HWND window, HDC context)
{
    HPALETTE oldPalette = 0;
    if (dialog.backgroundImage.image.palette)
        oldPalette = SelectPalette(context, dialog.backgroundImage.image.palette, TRUE);
    RECT client;
    GetClientRect(window, &client);
    if (dialog.backgroundImage.previousBitmap) {
        BITMAP picture;
        GetObjectA(dialog.backgroundImage.image.bitmap, sizeof picture, &picture);
        RECT place = client;
        if (picture.bmWidth < client.right) {
            place.left = (client.right - picture.bmWidth) / 2;
            place.right = place.left + picture.bmWidth;
        }
        if (picture.bmHeight < client.bottom) {
            place.top = (client.bottom - picture.bmHeight) / 2;
            place.bottom = place.top + picture.bmHeight;
        }
        BitBlt(context, place.left, place.top, place.right - place.left, place.bottom - place.top,
               dialog.backgroundImage.image.context, 0, 0, SRCCOPY);
        FillInfoRect(context);
        ExcludeClipRect(context, place.left, place.top, place.right, place.bottom);
    } else {
        FillInfoRect(context);
    }
    FillRectColor(context, &client, SkinColor(workerSettings.colorBkgnd));
    SelectClipRgn(context, 0);

    const RECT &r = dialog.infoRect;
    HGDIOBJ oldPen = SelectObject(context, dialog.shadowPen);
    MoveToEx(context, r.left, r.bottom - 1, 0);
    LineTo(context, r.left, r.top);
    LineTo(context, r.right, r.top);
    SelectObject(context, dialog.highlightPen);
    LineTo(context, r.right, r.bottom);
    LineTo(context, r.left - 1, r.bottom);
    SelectObject(context, oldPen ? oldPen : GetStockObject(BLACK_PEN));
    if (oldPalette)
        SelectPalette(context, oldPalette, FALSE);
    return TRUE;
}

static BOOL OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    HDC context = BeginPaint(window, &paint);
    RECT text = dialog.infoRect;
    InflateRect(&text, -2, -2);
    HGDIOBJ oldFont = dialog.infoFont ? SelectObject(context, dialog.infoFont) : 0;
    SetTextColor(context, SkinColor(workerSettings.colorInfoText));
    SetBkMode(context, TRANSPARENT);
    if (dialog.infoText.text && dialog.infoText.text[0])
        DrawTextA(context, dialog.infoText.text, -1, &text, DT_WORDBREAK);
    if (oldFont)
        SelectObject(context, oldFont);
    EndPaint(window, &paint);
    return TRUE;
}

static void ShowStatusText(HWND window, const char *text)
{
    dialog.infoText.Assign(text);
    InvalidateRect(window, &dialog.infoRect, TRUE);
}

static void OnFinished(HWND window)
{
    TextBuffer text = {};
    if (text.LoadResourceString(moduleInstance, IDS_BUTTON_CLOSE))
        SetDlgItemTextA(window, IDCANCEL, text.text);
    if ((workerSettings.options & OPT_RESTART) && statusBlock.result == RESULT_UPDATED) {
        SendDlgItemMessageA(window, IDC_RESTART, BM_SETCHECK, BST_CHECKED, 0);
        ShowWindow(GetDlgItem(window, IDC_RESTART), SW_SHOW);
    }
    dialog.infoText.LoadResourceString(moduleInstance, statusBlock.finalMessage);
    InvalidateRect(window, &dialog.infoRect, TRUE);
    dialog.finished = true;
    SendDlgItemMessageA(window, IDC_ANIMATION, WM_ANIMATION, ANIMATION_STOP, 0);
    text.Free();
}

static BOOL OnCancel(HWND window)
{
    if (dialog.finished) {
        // A hidden check box reads as not checked.
        if (IsDlgButtonChecked(window, IDC_RESTART) == BST_CHECKED)
            workerSettings.options |= OPT_RESTART;
        else
            workerSettings.options &= ~OPT_RESTART;
        EndDialog(window, statusBlock.result);
        return TRUE;
    }
    TextBuffer text = {};
    if (text.LoadResourceString(moduleInstance, IDS_BUTTON_ABORTING))
        SetDlgItemTextA(window, IDCANCEL, text.text);
    text.Free();
    // The question is put here, on the dialog's thread, while the update goes on; the box disables the dialog,
    // so a second Cancel cannot come while it is open.
    ConfirmAbort(&statusBlock);
    return TRUE;
}

static BOOL OnPalette(HWND window, UINT message, WPARAM changer, LPARAM lParam)
{
    if (message == WM_PALETTECHANGED) {
        HWND source = reinterpret_cast<HWND>(changer);
        if (source == window || IsChild(window, source))
            return TRUE;
        PostMessageA(GetDlgItem(window, IDC_ANIMATION), message, changer, lParam);
    }
    HDC context;
    if (dialog.backgroundImage.image.palette && (context = GetDC(window)) != 0) {
        HPALETTE old = SelectPalette(context, dialog.backgroundImage.image.palette, message == WM_PALETTECHANGED);
        if (old) {
            RealizePalette(context);
            if (dialog.partsImage.image.palette && SelectPalette(context, dialog.partsImage.image.palette, TRUE))
                RealizePalette(context);
            SelectPalette(context, old, FALSE);
        }
        ReleaseDC(window, context);
    }
    InvalidateRect(window, 0, TRUE);
    return TRUE;
}

static void OnDestroy()
{
    if (dialog.updateThread) {
        statusBlock.state = STATE_FAILED;
        WaitForSingleObject(dialog.updateThread, INFINITE);
        CloseHandle(dialog.updateThread);
    }
    if (dialog.shadowPen)
        DeleteObject(dialog.shadowPen);
    if (dialog.highlightPen)
        DeleteObject(dialog.highlightPen);
    if (dialog.infoFont)
        DeleteObject(dialog.infoFont);
    ReleaseImage(dialog.partsImage);
    ReleaseImage(dialog.backgroundImage);
    dialog.infoText.Free();
    dialog = DialogState();
}

static INT_PTR CALLBACK UpdateDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window);
    case WM_ERASEBKGND:
        return OnEraseBackground(window, reinterpret_cast<HDC>(wParam));
    case WM_PAINT:
        return OnPaint(window);
    case WM_DRAWITEM:
        if (wParam != IDCANCEL)
            return FALSE;
        DrawSkinButton(reinterpret_cast<const DRAWITEMSTRUCT *>(lParam),
                       dialog.partsImage.previousBitmap ? dialog.partsImage.image.context : 0);
        return TRUE;
    case WM_CTLCOLORSTATIC:
        if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) != IDC_RESTART)
            return FALSE;
        SetTextColor(reinterpret_cast<HDC>(wParam), workerSettings.colorRebootText);
        if (workerSettings.colorRebootBkgnd == NO_COLOR) {
            SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        } else {
            SetBkMode(reinterpret_cast<HDC>(wParam), OPAQUE);
            SetBkColor(reinterpret_cast<HDC>(wParam), workerSettings.colorRebootBkgnd);
        }
        return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    case WM_LBUTTONDOWN: {
        // Any point of the client area drags the window, which matters without a title bar.
        POINT point = {static_cast<LONG>(LOWORD(lParam)), static_cast<LONG>(HIWORD(lParam))};
        ClientToScreen(window, &point);
        PostMessageA(window, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
        return FALSE;
    }
    case WM_COMMAND:
        return LOWORD(wParam) == IDCANCEL ? OnCancel(window) : FALSE;
    case WM_APP_STATUS:
        if (wParam == STATUS_PROGRESS)
            SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(lParam), 0);
        else if (wParam == STATUS_TEXT)
            ShowStatusText(window, reinterpret_cast<const char *>(lParam));
        else if (wParam == STATUS_FINISHED)
            OnFinished(window);
        return TRUE;
    case WM_PALETTECHANGED:
    case WM_QUERYNEWPALETTE:
        return OnPalette(window, message, wParam, lParam);
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    }
    return FALSE;
}

// The template in the language of the string tables, so that the dialog's own texts and the ones it loads
// agree.
int ShowUpdateDialog(UpdateProcedure runUpdate)
{
    if (!LoadCommonControls())
        return -1;
    HRSRC found = FindLocalizedResource(moduleInstance, MAKEINTRESOURCEA(IDD_UPDATE), MAKEINTRESOURCEA(5)); // RT_DIALOG
    HGLOBAL loaded = found ? LoadResource(moduleInstance, found) : 0;
    const DLGTEMPLATE *dialogTemplate = loaded ? static_cast<const DLGTEMPLATE *>(LockResource(loaded)) : 0;
    if (!dialogTemplate)
        return -1;
    dialog.runUpdate = runUpdate;
    return static_cast<int>(DialogBoxIndirectParamA(moduleInstance, dialogTemplate, 0, UpdateDialogProc, 0));
}

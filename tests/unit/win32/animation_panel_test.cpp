// The animation panel on a real window: a stand-in dialog that paints one colour and a static control
// subclassed with AnimationPanelProc, as the update dialog does it. Pixels are read back from the panel's
// own device context.
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>
#include "skin_fixtures.h"
#include "test_folder.h"
#include "../../../src/worker/run/worker_settings.h"
#include "../../../src/worker/ui/animation_panel.h"

namespace {

const COLORREF RED = RGB(255, 0, 0);
const COLORREF GREEN = RGB(0, 255, 0);
const COLORREF BLUE = RGB(0, 0, 255);
const COLORREF MAGENTA = RGB(255, 0, 255);
const COLORREF YELLOW = RGB(255, 255, 0);

COLORREF dialogColour;
WNDPROC staticProcedure;
std::vector<UINT> passedOn;  // messages that reached the control's own procedure
std::vector<WPARAM> timersPassedOn;

LRESULT CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND) {
        RECT client;
        GetClientRect(window, &client);
        HBRUSH brush = CreateSolidBrush(dialogColour);
        FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
        DeleteObject(brush);
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Stands in for the control's own procedure and records what the panel passes on.
LRESULT CALLBACK RecordingStaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    passedOn.push_back(message);
    if (message == WM_TIMER)
        timersPassedOn.push_back(wParam);
    return CallWindowProcA(staticProcedure, window, message, wParam, lParam);
}

void PumpFor(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(5);
    } while (GetTickCount() - start < milliseconds);
}

// Three frames of 16 x 16 in a strip 40 wide (the third one partial): red, green and blue, each with a
// magenta 4 x 4 square at its top-left corner.
std::string StripBytes()
{
    return BitmapFileBytes(40, 16, [](int x, int y) {
        if (x % 16 < 4 && y < 4)
            return MAGENTA;
        return x < 16 ? RED : x < 32 ? GREEN : BLUE;
    });
}

// The panel is 41 x 30, so a 16-pixel frame lands at (12, 7): 25 and 23 pixels of space, the odd one
// right and bottom.
const int PANEL_WIDTH = 41, PANEL_HEIGHT = 30;
const int FRAME_X = 12, FRAME_Y = 7;

class AnimationPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        animationPanelState = AnimationPanelState();
        passedOn.clear();
        timersPassedOn.clear();
        dialogColour = RGB(0, 128, 255);
        workerSettings.colorAniBkgnd = NO_COLOR;
        workerSettings.transColor = NO_COLOR;
        workerSettings.animationInterval = 20;
        dialog = Host();
        ASSERT_NE(nullptr, dialog);
    }
    void TearDown() override
    {
        if (panel)
            DestroyWindow(panel);
        animationPanelState = AnimationPanelState();
    }

    // One stand-in dialog for the whole suite: under Wine without a window manager, destroying a visible
    // top-level window waits two seconds for X. It must not outlive the suite, though: another test's
    // window search would ask it for its caption while this thread does not dispatch.
    static void SetUpTestSuite()
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DialogProc;
        windowClass.hInstance = GetModuleHandleA(0);
        windowClass.lpszClassName = "KovrelPanelHost";
        RegisterClassA(&windowClass);
        host = CreateWindowA("KovrelPanelHost", "panel host", WS_POPUP | WS_VISIBLE, 0, 0, 120, 90, 0, 0,
                             GetModuleHandleA(0), 0);
    }
    static void TearDownTestSuite()
    {
        DestroyWindow(host);
        host = 0;
    }
    static HWND Host() { return host; }
    static HWND host;

    void CreatePanel()
    {
        panel = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE | SS_WHITERECT, 20, 15, PANEL_WIDTH, PANEL_HEIGHT,
                              dialog, reinterpret_cast<HMENU>(1001), GetModuleHandleA(0), 0);
        ASSERT_NE(nullptr, panel);
        staticProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(panel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AnimationPanelProc)));
        animationPanelState.previousProcedure = RecordingStaticProc;
        Redraw();
    }
    LRESULT Animation(WPARAM command) { return SendMessageA(panel, WM_ANIMATION, command, 0); }
    // The dialog and then the panel paint, as on screen.
    void Redraw()
    {
        RedrawWindow(dialog, 0, 0, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        PumpFor(20);
    }
    void RedrawPanel()
    {
        InvalidateRect(panel, 0, FALSE);
        UpdateWindow(panel);
    }
    COLORREF PanelPixel(int x, int y)
    {
        HDC context = GetDC(panel);
        COLORREF colour = GetPixel(context, x, y);
        ReleaseDC(panel, context);
        return colour;
    }
    COLORREF FrameCentre() { return PanelPixel(FRAME_X + 8, FRAME_Y + 8); }

    TestFolder folder;
    LauncherPathScope launcher{folder / "Kovrel.exe"};
    SettingsScope settings;
    HWND dialog = 0;
    HWND panel = 0;
};

HWND AnimationPanelTest::host = 0;

TEST_F(AnimationPanelTest, CentredFrameWithKeyColourOverTheDialogSnapshot)
{
    ASSERT_TRUE(WriteTestFile(folder / "anime.vrl", StripBytes()));
    CreatePanel();
    EXPECT_EQ(1, Animation(ANIMATION_START));
    EXPECT_EQ(3, animationPanelState.frameCount);
    EXPECT_EQ(16, animationPanelState.frameSide);
    EXPECT_NE(nullptr, animationPanelState.backBufferPrevious) << "double-buffered";
    EXPECT_NE(nullptr, animationPanelState.maskPrevious) << "mask in use";
    Animation(ANIMATION_STOP);
    RedrawPanel();
    COLORREF dialogPixel = dialogColour;

    EXPECT_EQ(RED, FrameCentre());
    EXPECT_EQ(RED, PanelPixel(FRAME_X + 15, FRAME_Y + 15)) << "the frame's last pixel";
    EXPECT_EQ(dialogPixel, PanelPixel(FRAME_X + 3, FRAME_Y + 3)) << "the key colour shows the dialog beneath";
    EXPECT_EQ(dialogPixel, PanelPixel(FRAME_X - 1, FRAME_Y + 8)) << "left of the frame";
    EXPECT_EQ(dialogPixel, PanelPixel(FRAME_X + 16, FRAME_Y + 8)) << "right of the frame";
    EXPECT_EQ(dialogPixel, PanelPixel(FRAME_X + 8, FRAME_Y - 1)) << "above the frame";
    EXPECT_EQ(dialogPixel, PanelPixel(FRAME_X + 8, FRAME_Y + 16)) << "below the frame";

    // The snapshot was taken once: the dialog's new colour does not reach the panel's background.
    dialogColour = YELLOW;
    Redraw();
    HDC dialogContext = GetDC(dialog);
    EXPECT_EQ(YELLOW, GetPixel(dialogContext, 5, 5)) << "the dialog repainted";
    ReleaseDC(dialog, dialogContext);
    EXPECT_EQ(dialogPixel, PanelPixel(0, 0)) << "the snapshot is never refreshed";
    EXPECT_EQ(dialogPixel, PanelPixel(FRAME_X, FRAME_Y));
    EXPECT_EQ(RED, FrameCentre());
}

TEST_F(AnimationPanelTest, FillColourAndKeyColourSettings)
{
    ASSERT_TRUE(WriteTestFile(folder / "anime.vrl", StripBytes()));
    struct Row {
        const char *label;
        unsigned transColor;
        COLORREF keySquare, frameBody;
    } rows[] = {
        {"no transparency: copied opaquely", NO_TRANSPARENCY, MAGENTA, RED},
        {"an explicit key: red is transparent, the top-left colour is not", RED, MAGENTA, YELLOW},
    };
    workerSettings.colorAniBkgnd = YELLOW;
    for (const Row &row : rows) {
        workerSettings.transColor = row.transColor;
        CreatePanel();
        EXPECT_EQ(1, Animation(ANIMATION_START));
        RedrawPanel();
        EXPECT_EQ(YELLOW, PanelPixel(0, 0)) << row.label;
        EXPECT_EQ(row.keySquare, PanelPixel(FRAME_X, FRAME_Y)) << row.label;
        EXPECT_EQ(row.frameBody, FrameCentre()) << row.label;
        EXPECT_EQ(nullptr, animationPanelState.backgroundSnapshot) << "a fill colour needs no snapshot";
        DestroyWindow(panel);
        panel = 0;
    }
}

TEST_F(AnimationPanelTest, TimerStepsWrapsAndStops)
{
    ASSERT_TRUE(WriteTestFile(folder / "anime.vrl", StripBytes()));
    workerSettings.colorAniBkgnd = YELLOW;
    CreatePanel();
    ASSERT_EQ(1, Animation(ANIMATION_START));
    ASSERT_EQ(static_cast<UINT>(ANIMATION_TIMER_ID), animationPanelState.timerId);
    // Frames are stepped here by hand; the real timer is stopped so that it does not interfere.
    Animation(ANIMATION_STOP);
    animationPanelState.timerId = ANIMATION_TIMER_ID;

    EXPECT_EQ(0, SendMessageA(panel, WM_TIMER, ANIMATION_TIMER_ID, 0));
    EXPECT_EQ(1, animationPanelState.currentFrame);
    UpdateWindow(panel);
    EXPECT_EQ(GREEN, FrameCentre()) << "the timer invalidated the panel";

    SendMessageA(panel, WM_TIMER, ANIMATION_TIMER_ID, 0);
    EXPECT_EQ(2, animationPanelState.currentFrame);
    UpdateWindow(panel);
    EXPECT_EQ(BLUE, PanelPixel(FRAME_X + 6, FRAME_Y + 8)) << "the partial frame's 8 pixels";
    EXPECT_EQ(YELLOW, PanelPixel(FRAME_X + 9, FRAME_Y + 8)) << "beyond the strip's edge";

    SendMessageA(panel, WM_TIMER, ANIMATION_TIMER_ID, 0);
    EXPECT_EQ(0, animationPanelState.currentFrame) << "wraps after the last frame";
    UpdateWindow(panel);
    EXPECT_EQ(RED, FrameCentre());

    SendMessageA(panel, WM_TIMER, 7, 0);
    EXPECT_EQ(0, animationPanelState.currentFrame) << "another timer does not step";
    ASSERT_EQ(1u, timersPassedOn.size()) << "it goes to the control's own procedure";
    EXPECT_EQ(7u, timersPassedOn[0]);
    animationPanelState.timerId = 0;

    // The real timer steps the frames on its own.
    ASSERT_EQ(1, Animation(ANIMATION_START));
    unsigned short before = animationPanelState.currentFrame;
    DWORD start = GetTickCount();
    while (animationPanelState.currentFrame == before && GetTickCount() - start < 2000)
        PumpFor(10);
    EXPECT_NE(before, animationPanelState.currentFrame) << "timer messages arrive";

    EXPECT_EQ(1, Animation(ANIMATION_STOP));
    EXPECT_EQ(0u, animationPanelState.timerId);
    unsigned short stopped = animationPanelState.currentFrame;
    PumpFor(200);
    EXPECT_EQ(stopped, animationPanelState.currentFrame) << "no timer messages after the stop";
    RedrawPanel();
    EXPECT_EQ(stopped == 0 ? RED : stopped == 1 ? GREEN : BLUE, PanelPixel(FRAME_X + 6, FRAME_Y + 8))
        << "the last frame stays";
    EXPECT_EQ(1, Animation(ANIMATION_STOP)) << "a second stop";
    EXPECT_EQ(1, Animation(2)) << "an unknown command";
    EXPECT_EQ(0u, animationPanelState.timerId);
    EXPECT_EQ(stopped, animationPanelState.currentFrame);
    EXPECT_EQ(1, SendMessageA(panel, WM_ERASEBKGND, 0, 0)) << "nothing is erased";
}

TEST_F(AnimationPanelTest, WithoutPictureTheFillStillShowsAndTheTimerRuns)
{
    workerSettings.colorAniBkgnd = YELLOW;
    CreatePanel();
    EXPECT_EQ(0, Animation(ANIMATION_START));
    EXPECT_EQ(static_cast<UINT>(ANIMATION_TIMER_ID), animationPanelState.timerId);
    RedrawPanel();
    EXPECT_EQ(YELLOW, PanelPixel(0, 0));
    EXPECT_EQ(YELLOW, FrameCentre());
    SendMessageA(panel, WM_TIMER, ANIMATION_TIMER_ID, 0);
    EXPECT_EQ(0, animationPanelState.currentFrame);
}

TEST_F(AnimationPanelTest, DestroyReleasesEverything)
{
    ASSERT_TRUE(WriteTestFile(folder / "anime.vrl", StripBytes()));
    CreatePanel();
    ASSERT_EQ(1, Animation(ANIMATION_START));
    RedrawPanel();
    AnimationPanelState held = animationPanelState;
    ASSERT_NE(nullptr, held.backgroundSnapshot);
    HGDIOBJ objects[] = {held.imageContext, held.imageBitmap, held.maskContext, held.maskBitmap,
                         held.backBufferContext, held.backBufferBitmap, held.backgroundSnapshot};
    for (HGDIOBJ object : objects)
        ASSERT_NE(0u, GetObjectType(object));

    passedOn.clear();
    DestroyWindow(panel);
    panel = 0;
    for (HGDIOBJ object : objects)
        EXPECT_EQ(0u, GetObjectType(object)) << "deleted";
    EXPECT_NE(passedOn.end(), std::find(passedOn.begin(), passedOn.end(), static_cast<UINT>(WM_DESTROY)))
        << "WM_DESTROY reaches the control's own procedure";
    EXPECT_EQ(nullptr, animationPanelState.imageContext) << "nothing stale stays behind";
    EXPECT_EQ(nullptr, animationPanelState.backgroundSnapshot);
    EXPECT_EQ(0u, animationPanelState.timerId);
    EXPECT_EQ(0, animationPanelState.frameCount);
}

} // namespace

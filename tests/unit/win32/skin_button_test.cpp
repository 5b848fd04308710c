// The owner-drawn button, drawn into memory bitmaps and checked pixel by pixel. The parts picture is a
// bitmap file written by the test and loaded as the dialog loads it.
#include <gtest/gtest.h>
#include <string>
#include "skin_fixtures.h"
#include "test_folder.h"
#include "../../../src/worker/run/worker_settings.h"
#include "../../../src/worker/ui/skin_button.h"
#include "../../../src/worker/ui/skin_image.h"

namespace {

const COLORREF GREY = RGB(128, 128, 128);
const COLORREF WHITE = RGB(255, 255, 255);
// Parts picture: each face has a marker column at its left edge.
const COLORREF NORMAL_EDGE = RGB(255, 0, 0), NORMAL_FACE = RGB(0, 128, 0);
const COLORREF PRESSED_EDGE = RGB(0, 0, 255), PRESSED_FACE = RGB(255, 255, 0);
const COLORREF CAPTION = RGB(255, 255, 255);

// The button at (5, 5), 77 x 25: its inner rectangle is 75 x 23 at (6, 6).
const RECT BUTTON = {5, 5, 82, 30};

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    bool Empty() const { return right < 0; }
};

class SkinButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        workerSettings.colorBtnText = CAPTION;
        button = CreateWindowA("BUTTON", "Ab", WS_POPUP | BS_OWNERDRAW, 0, 0, 80, 30, 0, 0, GetModuleHandleA(0), 0);
        ASSERT_NE(nullptr, button);
    }
    void TearDown() override
    {
        DestroyWindow(button);
        if (partsBitmap) {
            SelectObject(partsContext, partsPrevious);
            DeleteObject(partsBitmap);
            DeleteDC(partsContext);
        }
    }
    void LoadParts()
    {
        ASSERT_TRUE(WriteTestFile(folder / "parts.vrl", BitmapFileBytes(160, 28, [](int x, int) {
            return x == 0 ? NORMAL_EDGE : x < 75 ? NORMAL_FACE : x == 75 ? PRESSED_EDGE : PRESSED_FACE;
        })));
        HPALETTE palette = 0;
        ASSERT_TRUE(LoadSkinImage(GetDesktopWindow(), &partsContext, &partsBitmap, &palette, "parts.vrl"));
        partsPrevious = SelectObject(partsContext, partsBitmap);
    }
    void Draw(HDC target, UINT action, UINT state, HDC parts, RECT rect = BUTTON)
    {
        DRAWITEMSTRUCT item = {};
        item.CtlType = ODT_BUTTON;
        item.CtlID = 2;
        item.itemAction = action;
        item.itemState = state;
        item.hwndItem = button;
        item.hDC = target;
        item.rcItem = rect;
        DrawSkinButton(&item, parts);
    }
    // Pixels inside the inner rectangle, right of the marker column, that are not the face colour.
    static Box CaptionBox(const MemoryCanvas &canvas, COLORREF face)
    {
        Box box;
        for (int y = 6; y < 29; y++)
            for (int x = 7; x < 81; x++)
                if (canvas.Pixel(x, y) != face) {
                    box.left = std::min(box.left, x), box.right = std::max(box.right, x);
                    box.top = std::min(box.top, y), box.bottom = std::max(box.bottom, y);
                }
        return box;
    }
    static int CountColour(const MemoryCanvas &canvas, COLORREF colour)
    {
        int count = 0;
        for (int y = 0; y < canvas.Height(); y++)
            for (int x = 0; x < canvas.Width(); x++)
                count += canvas.Pixel(x, y) == colour;
        return count;
    }
    // Pixels in which two canvases differ: those off the outline of `outline` when `offOutline` is set,
    // else those on it.
    static int Differences(const MemoryCanvas &a, const MemoryCanvas &b, const RECT &outline, bool offOutline)
    {
        int count = 0;
        for (int y = 0; y < a.Height(); y++)
            for (int x = 0; x < a.Width(); x++) {
                bool onOutline = (x == outline.left || x == outline.right - 1 || y == outline.top ||
                                  y == outline.bottom - 1) &&
                                 x >= outline.left && x < outline.right && y >= outline.top && y < outline.bottom;
                if (a.Pixel(x, y) != b.Pixel(x, y) && onOutline != offOutline)
                    count++;
            }
        return count;
    }

    TestFolder folder;
    LauncherPathScope launcher{folder / "Kovrel.exe"};
    SettingsScope settings;
    HWND button = 0;
    HDC partsContext = 0;
    HBITMAP partsBitmap = 0;
    HGDIOBJ partsPrevious = 0;
};

TEST_F(SkinButtonTest, FacesFromThePartsPictureAndTheCaptionShift)
{
    LoadParts();
    MemoryCanvas released(100, 40, GREY), pressed(100, 40, GREY);
    Draw(released.Context(), ODA_DRAWENTIRE, 0, partsContext);
    Draw(pressed.Context(), ODA_SELECT, ODS_SELECTED, partsContext);

    for (const MemoryCanvas *canvas : {&released, &pressed}) {
        EXPECT_EQ(RGB(0, 0, 0), canvas->Pixel(5, 5)) << "black outline";
        EXPECT_EQ(RGB(0, 0, 0), canvas->Pixel(81, 29));
        EXPECT_EQ(RGB(0, 0, 0), canvas->Pixel(40, 29));
        EXPECT_EQ(GREY, canvas->Pixel(4, 4)) << "nothing outside the button";
        EXPECT_EQ(GREY, canvas->Pixel(82, 30));
    }
    EXPECT_EQ(NORMAL_EDGE, released.Pixel(6, 15)) << "normal face from x 0";
    EXPECT_EQ(NORMAL_FACE, released.Pixel(80, 7));
    EXPECT_EQ(0, CountColour(released, PRESSED_EDGE)) << "75 pixels wide: nothing of the pressed face";
    EXPECT_EQ(PRESSED_EDGE, pressed.Pixel(6, 15)) << "pressed face from x 75";
    EXPECT_EQ(PRESSED_FACE, pressed.Pixel(80, 7));

    Box up = CaptionBox(released, NORMAL_FACE);
    Box down = CaptionBox(pressed, PRESSED_FACE);
    ASSERT_FALSE(up.Empty()) << "a caption was drawn";
    EXPECT_GT(CountColour(released, CAPTION), 0) << "in colorBtnText";
    EXPECT_EQ(up.left + 1, down.left) << "the pressed caption sits one pixel right";
    EXPECT_EQ(up.top + 1, down.top) << "and one pixel down";
    EXPECT_EQ(up.right - up.left, down.right - down.left);
    // Centred across the inner rectangle (6..80); the ink of the glyphs is a little off their cells.
    EXPECT_NEAR(up.left - 6, 80 - up.right, 3);
}

TEST_F(SkinButtonTest, StandardFrameWithoutPartsPicture)
{
    MemoryCanvas released(100, 40, GREY), pressed(100, 40, GREY);
    Draw(released.Context(), ODA_DRAWENTIRE, 0, 0);
    Draw(pressed.Context(), ODA_SELECT, ODS_SELECTED, 0);
    EXPECT_EQ(RGB(0, 0, 0), released.Pixel(5, 5)) << "black outline";
    EXPECT_EQ(RGB(0, 0, 0), pressed.Pixel(81, 29));
    // Raised: light top-left edge, darkest shadow at the bottom right.
    EXPECT_EQ(GetSysColor(COLOR_BTNHIGHLIGHT), released.Pixel(6, 15));
    EXPECT_EQ(GetSysColor(COLOR_3DDKSHADOW), released.Pixel(80, 15));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), released.Pixel(20, 10));
    // Flat: no raised edge.
    EXPECT_NE(GetSysColor(COLOR_BTNHIGHLIGHT), pressed.Pixel(6, 15));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), pressed.Pixel(20, 10));

    Box up = CaptionBox(released, GetSysColor(COLOR_BTNFACE));
    ASSERT_FALSE(up.Empty());
}

TEST_F(SkinButtonTest, FocusRectangle)
{
    LoadParts();
    const RECT outline = {9, 9, 78, 26}; // 4 pixels inside the button's edge
    MemoryCanvas blank(100, 40, WHITE), focused(100, 40, WHITE);
    Draw(focused.Context(), ODA_FOCUS, ODS_FOCUS, partsContext);
    EXPECT_GT(Differences(blank, focused, outline, false), 20) << "drawn on the outline";
    EXPECT_EQ(0, Differences(blank, focused, outline, true)) << "a focus change redraws nothing else";
    Draw(focused.Context(), ODA_FOCUS, 0, partsContext);
    EXPECT_EQ(0, Differences(blank, focused, outline, false)) << "the second call takes it away";

    MemoryCanvas plain(100, 40, GREY), withFocus(100, 40, GREY);
    Draw(plain.Context(), ODA_DRAWENTIRE, 0, partsContext);
    Draw(withFocus.Context(), ODA_DRAWENTIRE, ODS_FOCUS, partsContext);
    EXPECT_GT(Differences(plain, withFocus, outline, false), 20) << "a focused button has the rectangle";
    EXPECT_EQ(0, Differences(plain, withFocus, outline, true));
    Draw(withFocus.Context(), ODA_FOCUS, 0, partsContext);
    EXPECT_EQ(0, Differences(plain, withFocus, outline, false)) << "drawn once, so one toggle removes it";

    DrawSkinButton(nullptr, partsContext); // a null request is ignored
}

TEST_F(SkinButtonTest, CaptionIsCutAt31Bytes)
{
    const RECT wide = {0, 0, 600, 30};
    const std::string text = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    auto draw = [&](const std::string &caption, MemoryCanvas &canvas) {
        SetWindowTextA(button, caption.c_str());
        Draw(canvas.Context(), ODA_DRAWENTIRE, 0, 0, wide);
    };
    MemoryCanvas full(610, 40, GREY), first31(610, 40, GREY), first30(610, 40, GREY);
    draw(text, full);
    draw(text.substr(0, 31), first31);
    draw(text.substr(0, 30), first30);
    const RECT none = {-1, -1, -1, -1};
    EXPECT_EQ(0, Differences(full, first31, none, true)) << "only the first 31 bytes are drawn";
    EXPECT_GT(Differences(full, first30, none, true), 0) << "the 31st byte is drawn";
}

} // namespace

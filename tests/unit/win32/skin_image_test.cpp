// Skin pictures decoded by the platform's picture decoder, and the key-colour mask, on real files and
// real GDI objects. Every picture is written by the test itself.
#include <gtest/gtest.h>
#include <string>
#include "skin_fixtures.h"
#include "test_folder.h"
#include "../../../src/worker/run/worker_settings.h"
#include "../../../src/worker/ui/skin_image.h"

namespace {

const COLORREF RED = RGB(255, 0, 0);
const COLORREF GREEN = RGB(0, 255, 0);
const COLORREF BLUE = RGB(0, 0, 255);
const COLORREF MAGENTA = RGB(255, 0, 255);

// 4 x 2 GIF: red at (0, 0), blue everywhere else.
const char GIF_4X2[] = "GIF89a\x04\x00\x02\x00\xf0\x00\x00\xff\x00\x00\x00\x00\xff\x21\xf9\x04\x00\x00\x00\x00"
                       "\x00\x2c\x00\x00\x00\x00\x04\x00\x02\x00\x00\x02\x03\x44\x8e\x51\x00\x3b";

// 8 x 8 baseline JPEG of one colour, RGB(0, 192, 0).
const char JPEG_8X8[] =
    "\xff\xd8\xff\xe0\x00\x10\x4a\x46\x49\x46\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xff\xdb\x00\x43"
    "\x00\x03\x02\x02\x03\x02\x02\x03\x03\x03\x03\x04\x03\x03\x04\x05\x08\x05\x05\x04\x04\x05\x0a\x07"
    "\x07\x06\x08\x0c\x0a\x0c\x0c\x0b\x0a\x0b\x0b\x0d\x0e\x12\x10\x0d\x0e\x11\x0e\x0b\x0b\x10\x16\x10"
    "\x11\x13\x14\x15\x15\x15\x0c\x0f\x17\x18\x16\x14\x18\x12\x14\x15\x14\xff\xdb\x00\x43\x01\x03\x04"
    "\x04\x05\x04\x05\x09\x05\x05\x09\x14\x0d\x0b\x0d\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14"
    "\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14"
    "\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\x14\xff\xc0\x00\x11\x08\x00\x08\x00\x08\x03"
    "\x01\x11\x00\x02\x11\x01\x03\x11\x01\xff\xc4\x00\x14\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x06\xff\xc4\x00\x14\x10\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\xff\xc4\x00\x14\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x08\xff\xc4\x00\x14\x11\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\xff\xda\x00\x0c\x03\x01\x00\x02\x11\x03\x11\x00\x3f\x00\x2e\x2a\x05\x4f\xff\xd9";

bool Near(COLORREF a, COLORREF b, int tolerance)
{
    return abs(GetRValue(a) - GetRValue(b)) <= tolerance && abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

// A 16 x 16 icon, 32 bits per pixel, of one colour, with an all-opaque AND mask.
std::string IconFileBytes(COLORREF colour)
{
    const int side = 16;
    std::string bytes;
    auto put16 = [&](unsigned value) { bytes.append(reinterpret_cast<const char *>(&value), 2); };
    auto put32 = [&](unsigned value) { bytes.append(reinterpret_cast<const char *>(&value), 4); };
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = side;
    info.biHeight = side * 2; // colour rows and mask rows
    info.biPlanes = 1;
    info.biBitCount = 32;
    unsigned imageSize = sizeof info + side * side * 4 + side * 4;
    put16(0), put16(1), put16(1);                                   // ICONDIR: icon, one image
    bytes += static_cast<char>(side), bytes += static_cast<char>(side); // width, height
    bytes += '\0', bytes += '\0';                                   // colours, reserved
    put16(1), put16(32), put32(imageSize), put32(6 + 16);           // planes, bits, size, offset
    bytes.append(reinterpret_cast<const char *>(&info), sizeof info);
    for (int i = 0; i < side * side; i++)
        put32(0xFF000000u | (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour));
    bytes.append(side * 4, '\0');
    return bytes;
}

// An enhanced metafile of a 40 x 20 pixel green rectangle, written by GDI.
bool WriteEnhancedMetafile(const std::string &path)
{
    HDC metafile = CreateEnhMetaFileA(0, path.c_str(), 0, 0);
    if (!metafile)
        return false;
    RECT area = {0, 0, 40, 20};
    HBRUSH brush = CreateSolidBrush(GREEN);
    FillRect(metafile, &area, brush);
    DeleteObject(brush);
    HENHMETAFILE done = CloseEnhMetaFile(metafile);
    return done && DeleteEnhMetaFile(done);
}

// A placeable Windows metafile (the 22-byte header that gives the picture its size) of a blue rectangle.
std::string PlaceableMetafileBytes()
{
    HDC metafile = CreateMetaFileA(0);
    SetMapMode(metafile, MM_ANISOTROPIC);
    SetWindowExtEx(metafile, 40, 20, 0);
    RECT area = {0, 0, 40, 20};
    HBRUSH brush = CreateSolidBrush(BLUE);
    FillRect(metafile, &area, brush);
    DeleteObject(brush);
    HMETAFILE done = CloseMetaFile(metafile);
    UINT size = GetMetaFileBitsEx(done, 0, 0);
    std::string records(size, '\0');
    GetMetaFileBitsEx(done, size, &records[0]);
    DeleteMetaFile(done);
    WORD header[11] = {0xCDD7, 0x9AC6, 0, 0, 0, 40, 20, 96, 0, 0, 0}; // key, handle, box, units per inch
    for (int i = 0; i < 10; i++)
        header[10] ^= header[i];
    return std::string(reinterpret_cast<const char *>(header), sizeof header) + records;
}

class SkinImageTest : public ::testing::Test {
protected:
    void SetUp() override { window = GetDesktopWindow(); }
    void TearDown() override { Free(); }

    bool Load(const char *name) { return LoadSkinImage(window, &context, &bitmap, &palette, name); }
    void Free()
    {
        if (bitmap)
            DeleteObject(bitmap);
        if (context)
            DeleteDC(context);
        if (palette)
            DeleteObject(palette);
        context = 0, bitmap = 0, palette = 0;
    }
    SIZE BitmapSize()
    {
        BITMAP info = {};
        GetObjectA(bitmap, sizeof info, &info);
        return {info.bmWidth, info.bmHeight};
    }

    TestFolder folder;
    LauncherPathScope launcher{folder / "Kovrel.exe"};
    HWND window = 0;
    HDC context = 0;
    HBITMAP bitmap = 0;
    HPALETTE palette = 0;
};

TEST_F(SkinImageTest, BitmapIsRenderedUprightAndHandedBackSelectedNowhere)
{
    ASSERT_TRUE(WriteTestFile(folder / "bkgnd.vrl", BitmapFileBytes(6, 4, [](int x, int y) {
        return x == 0 && y == 0 ? BLUE : x == 5 && y == 3 ? RED : GREEN;
    })));
    ASSERT_TRUE(Load("bkgnd.vrl"));
    ASSERT_NE(nullptr, context);
    ASSERT_NE(nullptr, bitmap);
    EXPECT_EQ(nullptr, palette) << "a picture without palette";
    SIZE size = BitmapSize();
    EXPECT_EQ(6, size.cx);
    EXPECT_EQ(4, size.cy);
    BITMAP info = {};
    GetObjectA(bitmap, sizeof info, &info);
    HDC screen = GetDC(0);
    EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), info.bmBitsPixel) << "the display's format";
    ReleaseDC(0, screen);

    EXPECT_NE(static_cast<HGDIOBJ>(bitmap), GetCurrentObject(context, OBJ_BITMAP)) << "not selected";
    HGDIOBJ previous = SelectObject(context, bitmap);
    ASSERT_NE(nullptr, previous) << "the caller can select it";
    EXPECT_EQ(BLUE, GetPixel(context, 0, 0));
    EXPECT_EQ(RED, GetPixel(context, 5, 3));
    EXPECT_EQ(GREEN, GetPixel(context, 3, 1));
    SelectObject(context, previous);
}

TEST_F(SkinImageTest, EveryPictureFormatTheDecoderTakes)
{
    ASSERT_TRUE(WriteTestFile(folder / "gif.vrl", std::string(GIF_4X2, sizeof GIF_4X2 - 1)));
    ASSERT_TRUE(WriteTestFile(folder / "jpeg.vrl", std::string(JPEG_8X8, sizeof JPEG_8X8 - 1)));
    ASSERT_TRUE(WriteTestFile(folder / "icon.vrl", IconFileBytes(BLUE)));
    ASSERT_TRUE(WriteEnhancedMetafile(folder / "emf.vrl"));
    ASSERT_TRUE(WriteTestFile(folder / "wmf.vrl", PlaceableMetafileBytes()));
    struct Row {
        const char *name;
        int width, height; // 0: only checked to be near the drawn size
        int x, y;
        COLORREF colour;
        int tolerance;
    } rows[] = {
        {"gif.vrl", 4, 2, 0, 0, RED, 0},
        {"gif.vrl", 4, 2, 3, 1, BLUE, 0},
        {"jpeg.vrl", 8, 8, 4, 4, RGB(0, 192, 0), 8},
        {"icon.vrl", 16, 16, 8, 8, BLUE, 0},
        {"emf.vrl", 0, 0, 10, 5, GREEN, 0},
        {"wmf.vrl", 40, 20, 20, 10, BLUE, 0},
    };
    for (const Row &row : rows) {
        palette = 0;
        ASSERT_TRUE(Load(row.name)) << row.name;
        SIZE size = BitmapSize();
        if (row.width) {
            EXPECT_EQ(row.width, size.cx) << row.name;
            EXPECT_EQ(row.height, size.cy) << row.name;
        } else {
            // A metafile's size comes from its frame in HIMETRIC, which may round a pixel away.
            EXPECT_NEAR(40, size.cx, 1) << row.name;
            EXPECT_NEAR(20, size.cy, 1) << row.name;
        }
        HGDIOBJ previous = SelectObject(context, bitmap);
        COLORREF seen = GetPixel(context, row.x, row.y);
        EXPECT_TRUE(Near(row.colour, seen, row.tolerance)) << row.name << " pixel " << std::hex << seen;
        SelectObject(context, previous);
        EXPECT_EQ(nullptr, palette) << row.name;
        Free();
    }
}

TEST_F(SkinImageTest, FilesThatGiveNoPicture)
{
    HDC untouchedContext = reinterpret_cast<HDC>(0x1234);
    HBITMAP untouchedBitmap = reinterpret_cast<HBITMAP>(0x5678);
    HPALETTE untouchedPalette = reinterpret_cast<HPALETTE>(0x9ABC);
    auto reset = [&] {
        context = untouchedContext;
        bitmap = untouchedBitmap;
        palette = untouchedPalette;
    };
    ASSERT_TRUE(WriteTestFile(folder / "empty.vrl", ""));
    ASSERT_TRUE(WriteTestFile(folder / "text.vrl", "[DRAWCOLOR]\r\nBKGND=#C0C0C0\r\n"));

    const char *untouching[] = {"empty.vrl", "missing.vrl", "", nullptr};
    for (const char *name : untouching) {
        reset();
        EXPECT_FALSE(Load(name)) << (name ? name : "(null)");
        EXPECT_EQ(untouchedContext, context) << (name ? name : "(null)");
        EXPECT_EQ(untouchedBitmap, bitmap) << (name ? name : "(null)");
        EXPECT_EQ(untouchedPalette, palette) << (name ? name : "(null)");
    }

    reset();
    EXPECT_FALSE(Load("text.vrl"));
    EXPECT_EQ(nullptr, context) << "a rejected picture hands back no context";
    EXPECT_EQ(nullptr, bitmap);
    EXPECT_EQ(untouchedPalette, palette) << "the palette is written only at the palette step";
    context = 0, bitmap = 0, palette = 0;
}

// A strip made by GDI: magenta at (0, 0), (5, 2) and (7, 3), green at (1, 0) and (6, 1), white elsewhere.
class ColorKeyMaskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = CreateCompatibleDC(0);
        HDC screen = GetDC(0);
        strip = CreateCompatibleBitmap(screen, 8, 4);
        ReleaseDC(0, screen);
        HGDIOBJ previous = SelectObject(source, strip);
        for (int y = 0; y < 4; y++)
            for (int x = 0; x < 8; x++)
                SetPixel(source, x, y, IsKey(x, y) ? MAGENTA : IsGreen(x, y) ? GREEN : RGB(255, 255, 255));
        SelectObject(source, previous);
    }
    void TearDown() override
    {
        if (maskBitmap)
            DeleteObject(maskBitmap);
        if (maskContext)
            DeleteDC(maskContext);
        DeleteObject(strip);
        DeleteDC(source);
    }
    static bool IsKey(int x, int y) { return (x == 0 && y == 0) || (x == 5 && y == 2) || (x == 7 && y == 3); }
    static bool IsGreen(int x, int y) { return (x == 1 && y == 0) || (x == 6 && y == 1); }
    // The mask bits row by row, "1" for white.
    std::string MaskBits()
    {
        std::string bits;
        for (int y = 0; y < 4; y++)
            for (int x = 0; x < 8; x++)
                bits += BitmapPixel(maskBitmap, x, y) == RGB(255, 255, 255) ? '1' : '0';
        return bits;
    }
    static std::string Expected(bool (*isSet)(int, int))
    {
        std::string bits;
        for (int y = 0; y < 4; y++)
            for (int x = 0; x < 8; x++)
                bits += isSet(x, y) ? '1' : '0';
        return bits;
    }

    HDC source = 0;
    HBITMAP strip = 0;
    HDC maskContext = 0;
    HBITMAP maskBitmap = 0;
};

TEST_F(ColorKeyMaskTest, OnesExactlyWhereTheKeyIs)
{
    struct Row {
        const char *label;
        COLORREF key;
        bool (*isSet)(int, int);
    } rows[] = {
        {"NO_COLOR: the top-left colour, everywhere in the picture", NO_COLOR, IsKey},
        {"the key given, not the top-left pixel", GREEN, IsGreen},
        {"no pixel has the key: all zero", RGB(1, 2, 3), [](int, int) { return false; }},
    };
    for (const Row &row : rows) {
        ASSERT_TRUE(CreateColorKeyMask(source, strip, &maskContext, &maskBitmap, row.key)) << row.label;
        BITMAP info = {};
        GetObjectA(maskBitmap, sizeof info, &info);
        EXPECT_EQ(8, info.bmWidth);
        EXPECT_EQ(4, info.bmHeight);
        EXPECT_EQ(1, info.bmBitsPixel * info.bmPlanes) << "monochrome";
        EXPECT_NE(static_cast<HGDIOBJ>(maskBitmap), GetCurrentObject(maskContext, OBJ_BITMAP)) << "unselected";
        EXPECT_EQ(Expected(row.isSet), MaskBits()) << row.label;
        DeleteObject(maskBitmap);
        DeleteDC(maskContext);
        maskContext = 0, maskBitmap = 0;
    }
}

TEST_F(ColorKeyMaskTest, SourceContextIsLeftAsItWas)
{
    HBITMAP other = CreateBitmap(1, 1, 1, 1, 0);
    HGDIOBJ original = SelectObject(source, other);
    SetBkColor(source, RGB(0x12, 0x34, 0x56));
    ASSERT_TRUE(CreateColorKeyMask(source, strip, &maskContext, &maskBitmap, NO_COLOR));
    EXPECT_EQ(static_cast<HGDIOBJ>(other), GetCurrentObject(source, OBJ_BITMAP));
    EXPECT_EQ(RGB(0x12, 0x34, 0x56), GetBkColor(source));
    EXPECT_EQ(Expected(IsKey), MaskBits()) << "the strip, not the selected bitmap, is the source";
    SelectObject(source, original);
    DeleteObject(other);

    // With the strip itself selected, as the panel's context may have it.
    SelectObject(source, strip);
    HDC secondContext = 0;
    HBITMAP secondMask = 0;
    ASSERT_TRUE(CreateColorKeyMask(source, strip, &secondContext, &secondMask, NO_COLOR));
    EXPECT_EQ(static_cast<HGDIOBJ>(strip), GetCurrentObject(source, OBJ_BITMAP));
    SelectObject(source, original);
    DeleteObject(secondMask);
    DeleteDC(secondContext);
}

TEST_F(ColorKeyMaskTest, NothingToMaskFails)
{
    maskContext = reinterpret_cast<HDC>(0x1234);
    maskBitmap = reinterpret_cast<HBITMAP>(0x5678);
    EXPECT_FALSE(CreateColorKeyMask(0, strip, &maskContext, &maskBitmap, NO_COLOR));
    EXPECT_EQ(nullptr, maskContext);
    EXPECT_EQ(nullptr, maskBitmap);
    EXPECT_FALSE(CreateColorKeyMask(source, 0, &maskContext, &maskBitmap, NO_COLOR));
    EXPECT_EQ(nullptr, maskContext);
}

} // namespace

// Bitmaps and pictures as parameters receive them: BMP files of every depth
// read, written and read back, damaged files refused, pictures holding copies.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "Platform/vcl/Graphics.h"
#include "tests/db/TestUtil.h"

using DbTest::MessageOf;
using Rtl::String;
using Vcl::RGB;
using Vcl::TBitmap;
using Vcl::TPicture;

namespace {

// Builds a BMP file: file header, an information header of InfoSize bytes,
// optional masks after a 40-byte header, a colour table and the pixel rows
// (given bottom-up unless the height is negative, each padded here).
struct BmpFile {
    int InfoSize = 40;
    int Width = 0;
    int Height = 0;
    int Bits = 24;
    std::uint32_t Compression = 0;
    std::uint32_t ColorsUsed = 0;
    std::vector<std::uint32_t> Masks;    // after a 40-byte header, or inside a larger one
    std::vector<std::uint32_t> Palette;  // 0x00RRGGBB
    std::vector<std::vector<std::uint8_t>> Rows;
    int OffBitsDelta = 0;

    String Bytes() const {
        String info;
        auto put = [](String& s, std::uint64_t v, int n) {
            for (int i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
        };
        const int paletteEntry = InfoSize == 12 ? 3 : 4;
        put(info, InfoSize, 4);
        if (InfoSize == 12) {
            put(info, Width, 2);
            put(info, Height, 2);
            put(info, 1, 2);
            put(info, Bits, 2);
        } else {
            put(info, static_cast<std::uint32_t>(Width), 4);
            put(info, static_cast<std::uint32_t>(Height), 4);
            put(info, 1, 2);
            put(info, Bits, 2);
            put(info, Compression, 4);
            put(info, 0, 4);
            put(info, 2835, 4);
            put(info, 2835, 4);
            put(info, ColorsUsed, 4);
            put(info, 0, 4);
            if (InfoSize > 40)
                for (std::size_t i = 0; i < Masks.size(); ++i) put(info, Masks[i], 4);
            while (static_cast<int>(info.size()) < InfoSize) info += '\0';
            if (InfoSize == 40)
                for (std::uint32_t m : Masks) put(info, m, 4);
        }
        for (std::uint32_t c : Palette) put(info, c, paletteEntry);
        String pixels;
        for (auto& row : Rows) {
            String r(row.begin(), row.end());
            while (r.size() % 4) r += '\0';
            pixels += r;
        }
        String file = "BM";
        put(file, 14 + info.size() + pixels.size(), 4);
        put(file, 0, 4);
        put(file, 14 + info.size() + OffBitsDelta, 4);
        return file + info + pixels;
    }
};

std::unique_ptr<TBitmap> Load(const String& bytes) {
    Rtl::TStringStream s(bytes);
    auto b = std::make_unique<TBitmap>();
    b->LoadFromStream(&s);
    return b;
}

std::vector<Vcl::TColor> Pixels(const TBitmap& b) {
    std::vector<Vcl::TColor> v;
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x) v.push_back(b.GetPixel(x, y));
    return v;
}

const Vcl::TColor Red = RGB(255, 0, 0), Green = RGB(0, 255, 0), Blue = RGB(0, 0, 255), White = RGB(255, 255, 255),
                  Black = RGB(0, 0, 0);

struct DepthCase {
    const char* Label;
    BmpFile File;
    Vcl::TPixelFormat Format;
    std::vector<Vcl::TColor> Expected;  // top row first
};

class BitmapDepths : public ::testing::TestWithParam<DepthCase> {};

TEST_P(BitmapDepths, ReadEveryDepthAndWriteItBackTheSame) {
    const DepthCase& c = GetParam();
    const auto loaded = Load(c.File.Bytes());
    TBitmap& b = *loaded;
    EXPECT_EQ(b.GetWidth(), 2);
    EXPECT_EQ(b.GetHeight(), 2);
    EXPECT_EQ(b.GetPixelFormat(), c.Format);
    EXPECT_EQ(Pixels(b), c.Expected);

    Rtl::TMemoryStream saved;
    b.SaveToStream(&saved);
    saved.SetPosition(0);
    TBitmap back;
    back.LoadFromStream(&saved);
    EXPECT_EQ(Pixels(back), c.Expected);
}

const DepthCase kDepths[] = {
    {"Bits1", {40, 2, 2, 1, 0, 0, {}, {0x000000, 0xFFFFFF}, {{0x40}, {0x80}}}, Vcl::pf1bit,
     {White, Black, Black, White}},
    {"Bits4", {40, 2, 2, 4, 0, 3, {}, {0xFF0000, 0x00FF00, 0x0000FF}, {{0x01}, {0x2F}}}, Vcl::pf4bit,
     {Blue, Black, Red, Green}},
    {"Bits8Core", {12, 2, 2, 8, 0, 0, {}, std::vector<std::uint32_t>(256, 0x0000FF), {{0, 0}, {0, 0}}}, Vcl::pf8bit,
     {Blue, Blue, Blue, Blue}},
    {"Bits16Rgb555", {40, 2, 2, 16, 0, 0, {}, {}, {{0x00, 0x7C, 0xE0, 0x03}, {0x1F, 0x00, 0xFF, 0x7F}}},
     Vcl::pf16bit, {Blue, White, Red, Green}},
    {"Bits16Fields565", {40, 2, 2, 16, 3, 0, {0xF800, 0x07E0, 0x001F}, {}, {{0x00, 0xF8, 0xE0, 0x07}, {0x1F, 0x00, 0x00, 0x00}}},
     Vcl::pf16bit, {Blue, Black, Red, Green}},
    {"Bits24TopDown", {40, 2, -2, 24, 0, 0, {}, {}, {{0, 0, 255, 0, 255, 0}, {255, 0, 0, 255, 255, 255}}}, Vcl::pf24bit,
     {Red, Green, Blue, White}},
    {"Bits32V5Fields", {124, 2, 2, 32, 3, 0, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, {},
                        {{0, 0, 0, 255, 255, 255, 255, 255}, {0, 0, 255, 255, 0, 255, 0, 255}}},
     Vcl::pf32bit, {Red, Green, Black, White}},
};

INSTANTIATE_TEST_SUITE_P(Graphics, BitmapDepths, ::testing::ValuesIn(kDepths),
                         [](const auto& info) { return String(info.param.Label); });

TEST(Bitmap, AlphaSurvivesA32BitRoundTrip) {
    TBitmap b(2, 1);
    b.SetPixelFormat(Vcl::pf32bit);
    b.SetPixel(0, 0, RGB(1, 2, 3));
    b.SetAlpha(0, 0, 0x40);
    Rtl::TMemoryStream s;
    b.SaveToStream(&s);
    EXPECT_EQ(s.GetSize(), 54 + 8);
    s.SetPosition(0);
    TBitmap back;
    back.LoadFromStream(&s);
    EXPECT_EQ(back.GetPixel(0, 0), RGB(1, 2, 3));
    EXPECT_EQ(back.GetAlpha(0, 0), 0x40);
    EXPECT_TRUE(back == b);
}

TEST(Bitmap, SizeChangesKeepThePixelsInside) {
    TBitmap b(2, 2);
    b.SetPixel(1, 1, Red);
    b.SetSize(3, 1);
    EXPECT_EQ(Pixels(b), (std::vector<Vcl::TColor>{Black, Black, Black}));
    b.SetSize(2, 2);
    b.SetPixel(1, 1, Green);
    b.SetWidth(3);
    EXPECT_EQ(b.GetPixel(1, 1), Green);
    EXPECT_THROW(b.GetPixel(3, 0), Vcl::EInvalidGraphic);
    EXPECT_THROW(b.SetPixel(-1, 0, Red), Vcl::EInvalidGraphic);
    EXPECT_THROW(b.SetSize(-1, 2), Vcl::EInvalidGraphic);
}

TEST(Bitmap, EmptyBitmapsWriteAndReadNothing) {
    TBitmap b;
    Rtl::TMemoryStream s;
    b.SaveToStream(&s);
    EXPECT_EQ(s.GetSize(), 0);
    TBitmap filled(1, 1);
    filled.LoadFromStream(&s);
    EXPECT_TRUE(filled.GetEmpty());
}

BmpFile Valid24() { return {40, 2, 2, 24, 0, 0, {}, {}, {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}}}; }

struct BadBmp {
    const char* Label;
    String Bytes;
    const char* Reason;
};

class DamagedBitmaps : public ::testing::TestWithParam<BadBmp> {};

TEST_P(DamagedBitmaps, AreRefusedAndLeaveTheBitmapAlone) {
    TBitmap b(1, 1);
    b.SetPixel(0, 0, Red);
    Rtl::TStringStream s(GetParam().Bytes);
    const String message = MessageOf<Vcl::EInvalidGraphic>([&] { b.LoadFromStream(&s); });
    EXPECT_EQ(message.rfind("Bitmap image is not valid: ", 0), 0u) << message;
    EXPECT_NE(message.find(GetParam().Reason), String::npos) << message;
    EXPECT_EQ(b.GetWidth(), 1);
    EXPECT_EQ(b.GetPixel(0, 0), Red);
}

BmpFile With(BmpFile f, void (*change)(BmpFile&)) {
    change(f);
    return f;
}

const BadBmp kBadBitmaps[] = {
    {"NotBM", "XY" + Valid24().Bytes().substr(2), "\"BM\""},
    {"HeaderCut", Valid24().Bytes().substr(0, 20), "ends inside the information header"},
    {"PixelsCut", Valid24().Bytes().substr(0, Valid24().Bytes().size() - 1), "pixel data"},
    {"HeaderSize", With(Valid24(), [](BmpFile& f) { f.InfoSize = 64; }).Bytes(), "header size 64"},
    {"BitCount", With(Valid24(), [](BmpFile& f) { f.Bits = 3; }).Bytes(), "bit count 3"},
    {"RunLength", With(Valid24(), [](BmpFile& f) { f.Bits = 8; f.Compression = 1; }).Bytes(), "compression 1"},
    {"FieldsOn8Bits", With(Valid24(), [](BmpFile& f) { f.Bits = 8; f.Compression = 3; }).Bytes(), "bit fields"},
    {"ZeroWidth", With(Valid24(), [](BmpFile& f) { f.Width = 0; }).Bytes(), "invalid size 0 x 2"},
    {"HugeSize", With(Valid24(), [](BmpFile& f) { f.Width = 0x7FFFFFFF; f.Height = -0x7FFFFFFF; }).Bytes(),
     "more pixel data"},
    {"TooManyColours", With(Valid24(), [](BmpFile& f) { f.Bits = 1; f.ColorsUsed = 3; }).Bytes(), "3 colours"},
    {"PaletteCut", With(Valid24(), [](BmpFile& f) { f.Bits = 8; f.Rows.clear(); }).Bytes(), "colour table"},
    {"OffsetInsideHeaders", With(Valid24(), [](BmpFile& f) { f.OffBitsDelta = -10; }).Bytes(), "inside the headers"},
};

INSTANTIATE_TEST_SUITE_P(Graphics, DamagedBitmaps, ::testing::ValuesIn(kBadBitmaps),
                         [](const auto& info) { return String(info.param.Label); });

TEST(Bitmap, PaletteIndexesBeyondTheTableAreBlack) {
    BmpFile f{40, 2, 1, 8, 0, 1, {}, {0xFFFFFF}, {{0, 200}}};
    EXPECT_EQ(Pixels(*Load(f.Bytes())), (std::vector<Vcl::TColor>{White, Black}));
}

// ---- Pictures ------------------------------------------------------------------------------------------

TEST(Picture, HoldsACopyOfItsGraphic) {
    TBitmap b(1, 1);
    b.SetPixel(0, 0, Blue);
    TPicture p;
    EXPECT_EQ(p.GetGraphic(), nullptr);
    p.SetGraphic(&b);
    ASSERT_NE(p.GetGraphic(), nullptr);
    EXPECT_NE(p.GetGraphic(), &b);
    b.SetPixel(0, 0, Red);
    EXPECT_EQ(p.GetBitmap()->GetPixel(0, 0), Blue);
    EXPECT_EQ(p.GetWidth(), 1);

    TPicture q;
    q.Assign(&p);
    EXPECT_TRUE(*q.GetBitmap() == *p.GetBitmap());
    TBitmap target;
    target.Assign(&q);  // a picture hands its graphic to a graphic
    EXPECT_TRUE(target == *p.GetBitmap());
    q.Assign(nullptr);
    EXPECT_EQ(q.GetGraphic(), nullptr);
    EXPECT_TRUE(q.GetBitmap()->GetEmpty()) << "asking for a bitmap gives an empty one";
}

TEST(Picture, FilesByExtension) {
    const auto dir = std::filesystem::temp_directory_path() / ("params_pictures_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    TBitmap b(3, 2);
    b.SetPixel(2, 1, Green);
    TPicture p;
    p.SetGraphic(&b);
    const String path = (dir / "pic.bmp").string();
    p.SaveToFile(path);

    TPicture loaded;
    loaded.LoadFromFile(path);
    EXPECT_TRUE(*loaded.GetBitmap() == b);
    EXPECT_EQ(MessageOf<Vcl::EInvalidGraphic>([&] { loaded.LoadFromFile((dir / "pic.png").string()); }),
              "Unknown picture file extension (.png)");
    EXPECT_TRUE(*loaded.GetBitmap() == b) << "a refused file keeps the picture";
    EXPECT_THROW(loaded.LoadFromFile((dir / "missing.bmp").string()), Rtl::EFOpenError);
    std::filesystem::remove_all(dir);
}

}  // namespace

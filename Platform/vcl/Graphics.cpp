#include "Platform/vcl/Graphics.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace Vcl {

namespace {

constexpr const char* SInvalidBitmap = "Bitmap image is not valid";

[[noreturn]] void InvalidBitmap(const String& Why) { throw EInvalidGraphic(String(SInvalidBitmap) + ": " + Why); }

std::uint16_t Le16(const Byte* p) noexcept { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const Byte* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Put16(Byte* p, std::uint32_t v) noexcept {
    p[0] = static_cast<Byte>(v);
    p[1] = static_cast<Byte>(v >> 8);
}
void Put32(Byte* p, std::uint32_t v) noexcept {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<Byte>(v >> (8 * i));
}

// Reads exactly Count bytes or reports the file as cut short.
void ReadExact(TStream* Stream, void* Buffer, Int64 Count, const char* What) {
    if (Count > 0 && Stream->Read(Buffer, Count) != Count) InvalidBitmap(String("the file ends inside the ") + What);
}

// One colour channel described by a bit mask: where it starts and how wide it is.
struct Channel {
    std::uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;
    explicit Channel(std::uint32_t mask) : Mask(mask) {
        if (!mask) return;
        while (!((mask >> Shift) & 1u)) ++Shift;
        while (Shift + Bits < 32 && ((mask >> (Shift + Bits)) & 1u)) ++Bits;
    }
    // The channel's value scaled to 0..255; Missing when there is no mask.
    Byte Get(std::uint32_t pixel, Byte Missing) const noexcept {
        if (!Mask) return Missing;
        const std::uint32_t v = (pixel & Mask) >> Shift;
        const std::uint32_t max = Bits >= 32 ? 0xFFFFFFFFu : ((1u << Bits) - 1u);
        return static_cast<Byte>((static_cast<std::uint64_t>(v) * 255u + max / 2) / max);
    }
};

TPixelFormat FormatOfDepth(int Bits) noexcept {
    switch (Bits) {
        case 1: return pf1bit;
        case 4: return pf4bit;
        case 8: return pf8bit;
        case 16: return pf16bit;
        case 24: return pf24bit;
        case 32: return pf32bit;
        default: return pfCustom;
    }
}

}  // namespace

// ---- TGraphic ---------------------------------------------------------------------------------

VCL_CLASS_IMPL(TGraphic, TPersistent) {}

void TGraphic::LoadFromFile(const String& FileName) {
    Rtl::TFileStream stream(FileName, Rtl::fmOpenRead | Rtl::fmShareDenyNone);
    LoadFromStream(&stream);
}

void TGraphic::SaveToFile(const String& FileName) {
    Rtl::TMemoryStream stream;
    SaveToStream(&stream);
    stream.SaveToFile(FileName);
}

// ---- TBitmap ----------------------------------------------------------------------------------

VCL_CLASS_IMPL_WITH_FACTORY_(TBitmap, TGraphic, (+[](::Rtl::TObject*) -> ::Rtl::TObject* { return new TBitmap(); })) {}

void TBitmap::SetSize(int Width, int Height) {
    if (Width < 0 || Height < 0)
        throw EInvalidGraphic("Invalid bitmap size " + std::to_string(Width) + " x " + std::to_string(Height));
    if (Width == FWidth && Height == FHeight) return;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height),
                                      0xFF000000u);
    const int w = std::min(Width, FWidth), h = std::min(Height, FHeight);
    for (int y = 0; y < h; ++y)
        std::copy_n(FPixels.begin() + static_cast<std::ptrdiff_t>(y) * FWidth, w,
                    pixels.begin() + static_cast<std::ptrdiff_t>(y) * Width);
    FPixels = std::move(pixels);
    FWidth = Width;
    FHeight = Height;
}

std::uint32_t& TBitmap::At(int X, int Y) {
    if (X < 0 || Y < 0 || X >= FWidth || Y >= FHeight)
        throw EInvalidGraphic("Pixel (" + std::to_string(X) + ", " + std::to_string(Y) + ") is outside the " +
                              std::to_string(FWidth) + " x " + std::to_string(FHeight) + " bitmap");
    return FPixels[static_cast<std::size_t>(Y) * static_cast<std::size_t>(FWidth) + static_cast<std::size_t>(X)];
}

std::uint32_t TBitmap::At(int X, int Y) const { return const_cast<TBitmap*>(this)->At(X, Y); }

TColor TBitmap::GetPixel(int X, int Y) const {
    const std::uint32_t p = At(X, Y);
    return RGB(static_cast<Byte>(p >> 16), static_cast<Byte>(p >> 8), static_cast<Byte>(p));
}

void TBitmap::SetPixel(int X, int Y, TColor Color) {
    std::uint32_t& p = At(X, Y);
    const auto c = static_cast<std::uint32_t>(Color);
    p = (p & 0xFF000000u) | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

Byte TBitmap::GetAlpha(int X, int Y) const { return static_cast<Byte>(At(X, Y) >> 24); }

void TBitmap::SetAlpha(int X, int Y, Byte Alpha) {
    std::uint32_t& p = At(X, Y);
    p = (p & 0x00FFFFFFu) | (static_cast<std::uint32_t>(Alpha) << 24);
}

void TBitmap::Assign(TPersistent* Source) {
    if (auto* other = dynamic_cast<TBitmap*>(Source)) {
        if (other == this) return;
        FWidth = other->FWidth;
        FHeight = other->FHeight;
        FPixelFormat = other->FPixelFormat;
        FPixels = other->FPixels;
        return;
    }
    if (!Source) {
        FWidth = FHeight = 0;
        FPixels.clear();
        return;
    }
    TGraphic::Assign(Source);
}

void TBitmap::LoadFromStream(TStream* Stream) {
    const Int64 start = Stream->GetPosition();
    const Int64 available = Stream->GetSize() - start;
    if (available <= 0) {
        Assign(nullptr);
        return;
    }
    Byte file[14];
    ReadExact(Stream, file, sizeof file, "file header");
    if (file[0] != 'B' || file[1] != 'M') InvalidBitmap("the file does not start with \"BM\"");
    const std::uint32_t offBits = Le32(file + 10);

    Byte info[124] = {};
    ReadExact(Stream, info, 4, "information header");
    const std::uint32_t infoSize = Le32(info);
    if (infoSize != 12 && infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124)
        InvalidBitmap("unknown information header size " + std::to_string(infoSize));
    ReadExact(Stream, info + 4, infoSize - 4, "information header");

    Int64 width, height;
    int bits;
    std::uint32_t compression = 0, colorsUsed = 0;
    int paletteEntrySize = 4;
    if (infoSize == 12) {
        width = Le16(info + 4);
        height = Le16(info + 6);
        if (Le16(info + 8) != 1) InvalidBitmap("planes must be 1");
        bits = Le16(info + 10);
        paletteEntrySize = 3;
    } else {
        width = static_cast<std::int32_t>(Le32(info + 4));
        height = static_cast<std::int32_t>(Le32(info + 8));
        if (Le16(info + 12) != 1) InvalidBitmap("planes must be 1");
        bits = Le16(info + 14);
        compression = Le32(info + 16);
        colorsUsed = Le32(info + 32);
    }
    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || height <= 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
        InvalidBitmap("invalid size " + std::to_string(width) + " x " + std::to_string(height));
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        InvalidBitmap("unsupported bit count " + std::to_string(bits));
    if (compression != 0 && compression != 3 && compression != 6)
        InvalidBitmap("unsupported compression " + std::to_string(compression));
    if (compression != 0 && bits != 16 && bits != 32)
        InvalidBitmap("bit fields with " + std::to_string(bits) + " bits per pixel");

    // Bit masks: in the header from 52 bytes on, else after a 40-byte header.
    std::uint32_t masks[4] = {0, 0, 0, 0};
    if (compression == 0) {
        if (bits == 16) { masks[0] = 0x7C00; masks[1] = 0x03E0; masks[2] = 0x001F; }
        if (bits == 24 || bits == 32) { masks[0] = 0xFF0000; masks[1] = 0x00FF00; masks[2] = 0x0000FF; }
        if (bits == 32) masks[3] = 0xFF000000u;
    } else {
        const int count = compression == 6 ? 4 : 3;
        if (infoSize == 40) {
            Byte extra[16];
            ReadExact(Stream, extra, count * 4, "colour masks");
            for (int i = 0; i < count; ++i) masks[i] = Le32(extra + 4 * i);
        } else {
            for (int i = 0; i < 4 && 40 + 4 * i + 4 <= static_cast<int>(infoSize); ++i) masks[i] = Le32(info + 40 + 4 * i);
            if (compression == 3 && infoSize < 56) masks[3] = 0;
        }
    }

    std::vector<std::uint32_t> palette;
    if (bits <= 8) {
        const std::uint32_t maxColors = 1u << bits;
        if (colorsUsed > maxColors) InvalidBitmap(std::to_string(colorsUsed) + " colours for " + std::to_string(bits) +
                                                  " bits per pixel");
        const std::uint32_t n = colorsUsed ? colorsUsed : maxColors;
        std::vector<Byte> raw(static_cast<std::size_t>(n) * static_cast<std::size_t>(paletteEntrySize));
        ReadExact(Stream, raw.data(), static_cast<Int64>(raw.size()), "colour table");
        palette.resize(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            const Byte* e = raw.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(paletteEntrySize);
            palette[i] = 0xFF000000u | (static_cast<std::uint32_t>(e[2]) << 16) | (static_cast<std::uint32_t>(e[1]) << 8) | e[0];
        }
    }

    const Int64 headersEnd = Stream->GetPosition() - start;
    if (offBits != 0 && offBits < headersEnd)
        InvalidBitmap("pixel data offset " + std::to_string(offBits) + " lies inside the headers");
    const Int64 dataStart = offBits ? static_cast<Int64>(offBits) : headersEnd;
    // A row takes at most 2^34 bytes; the rows must all lie in the file, which
    // also bounds everything allocated below by the file's size.
    const Int64 stride = ((width * bits + 31) / 32) * 4;
    if (dataStart > available || height > (available - dataStart) / stride)
        InvalidBitmap(std::to_string(width) + " x " + std::to_string(height) + " pixels at " + std::to_string(bits) +
                      " bits need more pixel data than the file's " +
                      std::to_string(std::max<Int64>(0, available - dataStart)) + " bytes");
    const Int64 dataSize = stride * height;
    Stream->SetPosition(start + dataStart);
    std::vector<Byte> data(static_cast<std::size_t>(dataSize));
    ReadExact(Stream, data.data(), dataSize, "pixel data");

    const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (Int64 row = 0; row < height; ++row) {
        const Byte* src = data.data() + row * stride;
        const Int64 y = topDown ? row : height - 1 - row;
        std::uint32_t* dst = pixels.data() + y * width;
        for (Int64 x = 0; x < width; ++x) {
            std::uint32_t p;
            if (bits <= 8) {
                const Int64 bit = x * bits;
                const unsigned index = (src[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1u);
                p = index < palette.size() ? palette[index] : 0xFF000000u;
            } else {
                std::uint32_t raw;
                if (bits == 16) raw = Le16(src + x * 2);
                else if (bits == 24) raw = static_cast<std::uint32_t>(src[x * 3]) | (src[x * 3 + 1] << 8) | (src[x * 3 + 2] << 16);
                else raw = Le32(src + x * 4);
                const Byte a = alpha.Get(raw, 0xFF);
                p = (static_cast<std::uint32_t>(a) << 24) | (static_cast<std::uint32_t>(red.Get(raw, 0)) << 16) |
                    (static_cast<std::uint32_t>(green.Get(raw, 0)) << 8) | blue.Get(raw, 0);
            }
            dst[x] = p;
        }
    }
    FWidth = static_cast<int>(width);
    FHeight = static_cast<int>(height);
    FPixels = std::move(pixels);
    FPixelFormat = FormatOfDepth(bits);
}

void TBitmap::SaveToStream(TStream* Stream) {
    if (GetEmpty()) return;
    const int bits = FPixelFormat == pf32bit ? 32 : 24;
    const Int64 stride = ((static_cast<Int64>(FWidth) * bits + 31) / 32) * 4;
    const Int64 dataSize = stride * FHeight;
    if (54 + dataSize > 0xFFFFFFFFLL)
        throw EInvalidGraphic("A " + std::to_string(FWidth) + " x " + std::to_string(FHeight) +
                              " bitmap is too large for the BMP format");
    Byte head[54] = {};
    head[0] = 'B';
    head[1] = 'M';
    Put32(head + 2, static_cast<std::uint32_t>(54 + dataSize));
    Put32(head + 10, 54);
    Put32(head + 14, 40);
    Put32(head + 18, static_cast<std::uint32_t>(FWidth));
    Put32(head + 22, static_cast<std::uint32_t>(FHeight));
    Put16(head + 26, 1);
    Put16(head + 28, static_cast<std::uint32_t>(bits));
    Put32(head + 34, static_cast<std::uint32_t>(dataSize));
    Put32(head + 38, 2835);  // 72 dots per inch
    Put32(head + 42, 2835);
    Stream->WriteBuffer(head, sizeof head);
    std::vector<Byte> row(static_cast<std::size_t>(stride), 0);
    for (int y = FHeight - 1; y >= 0; --y) {
        const std::uint32_t* src = FPixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth);
        Byte* dst = row.data();
        for (int x = 0; x < FWidth; ++x) {
            const std::uint32_t p = src[x];
            *dst++ = static_cast<Byte>(p);
            *dst++ = static_cast<Byte>(p >> 8);
            *dst++ = static_cast<Byte>(p >> 16);
            if (bits == 32) *dst++ = static_cast<Byte>(p >> 24);
        }
        Stream->WriteBuffer(row.data(), stride);
    }
}

// ---- TPicture ---------------------------------------------------------------------------------

VCL_CLASS_IMPL(TPicture, TPersistent) {}

TPicture::~TPicture() { delete FGraphic; }

void TPicture::SetGraphic(TGraphic* Value) {
    if (Value == FGraphic) return;
    TGraphic* copy = nullptr;
    if (Value) {
        TClass cls = Value->ClassType();
        if (!cls->Factory) throw EInvalidGraphic("Cannot copy a graphic of class " + Value->ClassName());
        std::unique_ptr<TObject> created(cls->Factory(nullptr));
        auto* graphic = dynamic_cast<TGraphic*>(created.get());
        if (!graphic) throw EInvalidGraphic(Value->ClassName() + " is not a graphic class");
        graphic->Assign(Value);
        created.release();
        copy = graphic;
    }
    delete FGraphic;
    FGraphic = copy;
}

TBitmap* TPicture::GetBitmap() {
    if (auto* bitmap = dynamic_cast<TBitmap*>(FGraphic)) return bitmap;
    auto* bitmap = new TBitmap();
    delete FGraphic;
    FGraphic = bitmap;
    return bitmap;
}

void TPicture::LoadFromFile(const String& FileName) {
    const String ext = Rtl::LowerCase(Rtl::ExtractFileExt(FileName));
    if (ext != ".bmp") throw EInvalidGraphic("Unknown picture file extension (" + ext + ")");
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadFromFile(FileName);
    delete FGraphic;
    FGraphic = bitmap.release();
}

void TPicture::SaveToFile(const String& FileName) {
    if (FGraphic) FGraphic->SaveToFile(FileName);
}

void TPicture::Assign(TPersistent* Source) {
    if (!Source) {
        SetGraphic(nullptr);
    } else if (auto* picture = dynamic_cast<TPicture*>(Source)) {
        SetGraphic(picture->FGraphic);
    } else if (auto* graphic = dynamic_cast<TGraphic*>(Source)) {
        SetGraphic(graphic);
    } else {
        TPersistent::Assign(Source);
    }
}

void TPicture::AssignTo(TPersistent* Dest) const {
    if (FGraphic && dynamic_cast<TGraphic*>(Dest)) {
        Dest->Assign(FGraphic);
        return;
    }
    TPersistent::AssignTo(Dest);
}

}  // namespace Vcl

// Graphics: TGraphic, TBitmap (device-independent bitmaps in the BMP file
// format) and TPicture, the holder of one graphic.
//
// A bitmap keeps its pixels in memory as 32-bit values (blue, green, red,
// alpha from the lowest byte up), whatever the depth of the file it came
// from. LoadFromStream reads a BMP file from the stream's current position:
// the 14-byte file header, an information header of 12 (OS/2), 40, 52, 56,
// 108 or 124 bytes, a colour table for 1, 4 and 8 bits per pixel, and
// uncompressed rows (BI_RGB) of 1, 4, 8, 16, 24 or 32 bits per pixel, or bit
// fields (BI_BITFIELDS) for 16 and 32; rows stored top-down (negative height)
// are accepted. Run-length and embedded JPEG/PNG images are refused. Every
// size is checked against the bytes the stream holds before anything is
// allocated, so a damaged file gives EInvalidGraphic and never reads out of
// bounds. SaveToStream writes the file header, a 40-byte information header
// and bottom-up rows: 32 bits per pixel when PixelFormat is pf32bit (the alpha
// channel is kept), 24 bits otherwise. An empty bitmap writes nothing and an
// empty stream reads as an empty bitmap.
#pragma once

#include <cstdint>
#include <vector>

#include "Platform/rtl/Classes.h"
#include "Platform/vcl/TypInfo.h"

namespace Vcl {

using Rtl::TStream;

RTL_DECLARE_EXCEPTION(EInvalidGraphic, Exception)

// A colour as the framework writes it: $00BBGGRR.
using TColor = std::int32_t;
constexpr TColor RGB(Byte R, Byte G, Byte B) noexcept {
    return static_cast<TColor>(R | (G << 8) | (B << 16));
}

VCL_DECLARE_ENUM(TPixelFormat, Byte, pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom)

// The base of the graphic classes: something that has a size and can be read
// from and written to a stream.
class TGraphic : public TPersistent {
    VCL_CLASS(TGraphic, TPersistent)
public:
    virtual bool GetEmpty() const = 0;
    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;
    virtual void LoadFromStream(TStream* Stream) = 0;
    virtual void SaveToStream(TStream* Stream) = 0;
    // EFOpenError when the file cannot be opened; the graphic's own error when
    // its contents are not valid.
    void LoadFromFile(const String& FileName);
    // Written beside the target and renamed over it: a failure keeps the old file.
    void SaveToFile(const String& FileName);
};

class TBitmap : public TGraphic {
    VCL_CLASS(TBitmap, TGraphic)
public:
    TBitmap() = default;
    TBitmap(int Width, int Height) { SetSize(Width, Height); }

    bool GetEmpty() const override { return FWidth == 0 || FHeight == 0; }
    int GetWidth() const override { return FWidth; }
    int GetHeight() const override { return FHeight; }
    void SetWidth(int Value) { SetSize(Value, FHeight); }
    void SetHeight(int Value) { SetSize(FWidth, Value); }
    // Keeps the pixels that stay inside; new pixels are black. EInvalidGraphic
    // for a negative size.
    void SetSize(int Width, int Height);
    // pf32bit keeps an alpha channel; every other format is written with 24
    // bits per pixel. Loading sets the depth of the file.
    TPixelFormat GetPixelFormat() const noexcept { return FPixelFormat; }
    void SetPixelFormat(TPixelFormat Value) noexcept { FPixelFormat = Value; }

    // Pixels by column and row from the top left; EInvalidGraphic outside the bitmap.
    TColor GetPixel(int X, int Y) const;
    void SetPixel(int X, int Y, TColor Color);
    Byte GetAlpha(int X, int Y) const;
    void SetAlpha(int X, int Y, Byte Alpha);

    void LoadFromStream(TStream* Stream) override;
    void SaveToStream(TStream* Stream) override;
    void Assign(TPersistent* Source) override;

    bool operator==(const TBitmap& Other) const noexcept {
        return FWidth == Other.FWidth && FHeight == Other.FHeight && FPixels == Other.FPixels;
    }

private:
    std::uint32_t& At(int X, int Y);
    std::uint32_t At(int X, int Y) const;
    int FWidth = 0;
    int FHeight = 0;
    TPixelFormat FPixelFormat = pf24bit;
    std::vector<std::uint32_t> FPixels;  // row-major from the top, 0xAARRGGBB
};

// Holds one graphic (owned). Assigning a graphic stores a copy of it.
class TPicture : public TPersistent {
    VCL_CLASS(TPicture, TPersistent)
public:
    TPicture() = default;
    ~TPicture() override;

    TGraphic* GetGraphic() const noexcept { return FGraphic; }
    // Stores a copy of Value (null: no graphic).
    void SetGraphic(TGraphic* Value);
    // The graphic as a bitmap; a picture holding something else, or nothing,
    // is given a new empty bitmap first.
    TBitmap* GetBitmap();
    void SetBitmap(TBitmap* Value) { SetGraphic(Value); }
    int GetWidth() const { return FGraphic ? FGraphic->GetWidth() : 0; }
    int GetHeight() const { return FGraphic ? FGraphic->GetHeight() : 0; }

    // The file's extension picks the graphic class: ".bmp" for bitmaps.
    // EInvalidGraphic "Unknown picture file extension (%s)" for others.
    void LoadFromFile(const String& FileName);
    void SaveToFile(const String& FileName);

    // From a picture, a graphic or null (clears the picture).
    void Assign(TPersistent* Source) override;

protected:
    void AssignTo(TPersistent* Dest) const override;

private:
    TGraphic* FGraphic = nullptr;
};

}  // namespace Vcl

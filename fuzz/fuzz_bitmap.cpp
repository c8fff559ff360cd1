// Bitmaps read from parameters, fields and files: the BMP reader must never
// read out of bounds or allocate more than the file can describe, must refuse
// damaged files with EInvalidGraphic only, and what it reads must write and
// read back to the same pixels.
#include <cstdint>
#include <cstdlib>

#include "Platform/vcl/Graphics.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Rtl::TStringStream stream(Rtl::String(reinterpret_cast<const char*>(data), size));
    Vcl::TBitmap bitmap;
    try {
        bitmap.LoadFromStream(&stream);
    } catch (const Vcl::EInvalidGraphic&) {
        return 0;
    }
    Rtl::TMemoryStream saved;
    bitmap.SaveToStream(&saved);
    saved.SetPosition(0);
    Vcl::TBitmap back;
    back.LoadFromStream(&saved);
    if (!(back == bitmap) && bitmap.GetPixelFormat() == Vcl::pf32bit) std::abort();
    if (back.GetWidth() != bitmap.GetWidth() || back.GetHeight() != bitmap.GetHeight()) std::abort();
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        for (int x = 0; x < bitmap.GetWidth(); ++x)
            if (back.GetPixel(x, y) != bitmap.GetPixel(x, y)) std::abort();
    return 0;
}

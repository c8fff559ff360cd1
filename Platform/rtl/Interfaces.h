// The two COM types every layer needs to name: GUID and IUnknown. They live at
// the bottom of the stack so that variants can hold interface references; the
// COM runtime (Platform/com) builds reference handling, IDispatch, connection
// points and the class registry on top of them.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>

namespace Rtl {

using HRESULT = std::int32_t;

struct GUID {
    std::uint32_t D1 = 0;
    std::uint16_t D2 = 0;
    std::uint16_t D3 = 0;
    std::uint8_t D4[8] = {};

    bool operator==(const GUID& o) const noexcept {
        return D1 == o.D1 && D2 == o.D2 && D3 == o.D3 && std::memcmp(D4, o.D4, 8) == 0;
    }
    bool operator<(const GUID& o) const noexcept { return std::memcmp(this, &o, sizeof(GUID)) < 0; }
    bool IsNull() const noexcept { return *this == GUID{}; }
};
static_assert(sizeof(GUID) == 16);
using TGUID = GUID;
using IID = GUID;
using CLSID = GUID;

// The root interface. Interfaces are abstract classes deriving (virtually not
// needed: COM identity is by QueryInterface) from IUnknown; objects are never
// deleted directly, only released.
struct IUnknown {
    virtual HRESULT QueryInterface(const GUID& iid, void** obj) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

}  // namespace Rtl

template <>
struct std::hash<Rtl::GUID> {
    std::size_t operator()(const Rtl::GUID& g) const noexcept {
        std::uint64_t a, b;
        std::memcpy(&a, &g, 8);
        std::memcpy(&b, reinterpret_cast<const char*>(&g) + 8, 8);
        return std::hash<std::uint64_t>{}(a ^ (b * 0x9E3779B97F4A7C15ull));
    }
};

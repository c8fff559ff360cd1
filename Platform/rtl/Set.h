// TSet<E>: the framework's set type over an enumeration with ordinals 0..N-1
// (N <= 64), used for every "T...s" set of the components.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace Rtl {

template <class E>
class TSet {
    static_assert(std::is_enum_v<E>, "TSet is a set of enumeration values");

public:
    constexpr TSet() noexcept = default;
    constexpr TSet(std::initializer_list<E> items) noexcept {
        for (E e : items) FBits |= Bit(e);
    }
    static constexpr TSet FromBits(std::uint64_t bits) noexcept { TSet s; s.FBits = bits; return s; }

    constexpr bool Contains(E e) const noexcept { return (FBits & Bit(e)) != 0; }
    constexpr TSet& Include(E e) noexcept { FBits |= Bit(e); return *this; }
    constexpr TSet& Exclude(E e) noexcept { FBits &= ~Bit(e); return *this; }
    constexpr bool Empty() const noexcept { return FBits == 0; }
    constexpr std::uint64_t Bits() const noexcept { return FBits; }

    constexpr TSet operator+(TSet o) const noexcept { return FromBits(FBits | o.FBits); }
    constexpr TSet operator-(TSet o) const noexcept { return FromBits(FBits & ~o.FBits); }
    constexpr TSet operator*(TSet o) const noexcept { return FromBits(FBits & o.FBits); }
    constexpr TSet& operator+=(TSet o) noexcept { FBits |= o.FBits; return *this; }
    constexpr TSet& operator-=(TSet o) noexcept { FBits &= ~o.FBits; return *this; }
    constexpr TSet& operator*=(TSet o) noexcept { FBits &= o.FBits; return *this; }
    constexpr bool operator==(const TSet&) const noexcept = default;
    // Subset test, as the framework's "<=" on sets.
    constexpr bool operator<=(TSet o) const noexcept { return (FBits & ~o.FBits) == 0; }

private:
    static constexpr std::uint64_t Bit(E e) noexcept {
        return std::uint64_t{1} << static_cast<unsigned>(static_cast<std::underlying_type_t<E>>(e));
    }
    std::uint64_t FBits = 0;
};

}  // namespace Rtl

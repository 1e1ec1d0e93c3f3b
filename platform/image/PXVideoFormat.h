// Pixel formats that frames travel in, and the colour-value helpers of the platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace pixora {

// Ordinals are fixed: they are persisted and travel in stream-start operations.
enum TPXVideoFormat : uint8_t {
    vfRGB24 = 0,   // 8-bit samples stored blue, green, red
    vfRGBA32 = 1,  // 8-bit samples stored blue, green, red, alpha
    vfUYVY = 3,    // packed 4:2:2, bytes U, Y0, V, Y1 per pixel pair
    vfGray8 = 8,   // one 8-bit channel
    vfGray16 = 9,  // one 16-bit channel (host byte order)
};

// 24, 32, 16, 8 or 16; 0 for an ordinal that is not a known format.
constexpr int BitsPerPixel(TPXVideoFormat format) noexcept {
    switch (format) {
    case vfRGB24: return 24;
    case vfRGBA32: return 32;
    case vfUYVY: return 16;
    case vfGray8: return 8;
    case vfGray16: return 16;
    }
    return 0;
}

constexpr bool IsKnownFormat(int ordinal) noexcept {
    return ordinal == vfRGB24 || ordinal == vfRGBA32 || ordinal == vfUYVY || ordinal == vfGray8 ||
           ordinal == vfGray16;
}

// Interleaved samples per pixel as the 8-bit primitives see them (bits per pixel div 8);
// a 16-bit grey frame has one 16-bit channel.
constexpr int ChannelCount(TPXVideoFormat format) noexcept {
    return format == vfGray16 ? 1 : BitsPerPixel(format) / 8;
}

constexpr bool Is16Bit(TPXVideoFormat format) noexcept { return format == vfGray16; }

std::string_view FormatName(TPXVideoFormat format) noexcept;
std::optional<TPXVideoFormat> FormatFromName(std::string_view name) noexcept;

// Colour values: red in the lowest byte, then green, then blue; the combining components add
// alpha in the top byte.
using TColor = uint32_t;

constexpr TColor KDRGB(uint8_t red, uint8_t green, uint8_t blue) noexcept {
    return TColor(red) | (TColor(green) << 8) | (TColor(blue) << 16);
}
constexpr uint8_t KDGetRValue(TColor color) noexcept { return uint8_t(color); }
constexpr uint8_t KDGetGValue(TColor color) noexcept { return uint8_t(color >> 8); }
constexpr uint8_t KDGetBValue(TColor color) noexcept { return uint8_t(color >> 16); }
constexpr uint8_t KDGetAValue(TColor color) noexcept { return uint8_t(color >> 24); }

}  // namespace pixora

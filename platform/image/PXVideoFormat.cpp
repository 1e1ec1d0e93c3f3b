// Names of the video formats, as persisted and shown by the host.
#include "platform/image/PXVideoFormat.h"

namespace pixora {

namespace {
constexpr TPXVideoFormat KFormats[] = {vfRGB24, vfRGBA32, vfUYVY, vfGray8, vfGray16};
}

std::string_view FormatName(TPXVideoFormat format) noexcept {
    switch (format) {
    case vfRGB24: return "vfRGB24";
    case vfRGBA32: return "vfRGBA32";
    case vfUYVY: return "vfUYVY";
    case vfGray8: return "vfGray8";
    case vfGray16: return "vfGray16";
    }
    return "unknown";
}

std::optional<TPXVideoFormat> FormatFromName(std::string_view name) noexcept {
    for (TPXVideoFormat format : KFormats)
        if (FormatName(format) == name) return format;
    return std::nullopt;
}

}  // namespace pixora

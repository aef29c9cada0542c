#include "platform/SysColors.h"

namespace {

// System colours, given as 0xRRGGBB.
std::uint32_t systemRgb(std::uint32_t index)
{
    switch (index) {
    case 5: return 0xFFFFFF;  // clWindow
    case 6: return 0x646464;  // clWindowFrame
    case 8: return 0x000000;  // clWindowText
    case 15: return 0xF0F0F0; // clBtnFace
    case 16: return 0xA0A0A0; // clBtnShadow
    case 18: return 0x000000; // clBtnText
    case 20: return 0xFFFFFF; // clBtnHighlight
    default: return 0x000000;
    }
}

} // namespace

std::uint32_t ColorToArgb(TColor color)
{
    const auto value = static_cast<std::uint32_t>(color);
    if (value & 0x80000000u)
        return 0xFF000000u | systemRgb(value & 0xFFu);
    const std::uint32_t r = value & 0xFF, g = (value >> 8) & 0xFF, b = (value >> 16) & 0xFF;
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

std::uint32_t ColorToRGB(TColor color)
{
    const std::uint32_t argb = ColorToArgb(color);
    const std::uint32_t r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    return r | (g << 8) | (b << 16);
}

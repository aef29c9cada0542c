// Colours as the system stores them: a 32-bit value, 0x00BBGGRR (red in the
// lowest byte) with the top bit clear, or a system colour index with the top
// bit set. System colours resolve to fixed values so that drawing is the
// same on every machine.
#pragma once
#include <cstdint>

using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clGray = 0x808080;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clWindow = static_cast<TColor>(0x80000005u);
constexpr TColor clWindowText = static_cast<TColor>(0x80000008u);
constexpr TColor clWindowFrame = static_cast<TColor>(0x80000006u);
constexpr TColor clBtnFace = static_cast<TColor>(0x8000000Fu);
constexpr TColor clBtnShadow = static_cast<TColor>(0x80000010u);
constexpr TColor clBtnText = static_cast<TColor>(0x80000012u);
constexpr TColor clBtnHighlight = static_cast<TColor>(0x80000014u);

// Resolves a colour to 0x00BBGGRR. Unknown system indexes give black.
std::uint32_t ColorToRGB(TColor color);
// The same as 0xAARRGGBB with alpha 0xFF, as QImage/QColor take it.
std::uint32_t ColorToArgb(TColor color);

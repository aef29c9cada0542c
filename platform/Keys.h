// Windows virtual-key codes for Qt's key numbers.
#pragma once
#include <cstdint>

constexpr std::uint16_t VK_RETURN = 13;
constexpr std::uint16_t VK_SPACE = 32;
constexpr std::uint16_t VK_F1 = 112;
constexpr std::uint16_t VK_F2 = 113;
constexpr std::uint16_t VK_F12 = 123;

// 0 for keys without a virtual-key code.
std::uint16_t QtKeyToVK(int qtKey);

// Shift state as Windows reports it with a key.
enum TShiftFlag : std::uint8_t { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };
using TShiftState = std::uint8_t;

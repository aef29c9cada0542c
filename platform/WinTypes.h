// Windows' handle and message types as the rest of the program uses them.
// Window handles are pointer-sized numbers; 0 means "no window".
#pragma once
#include <cstdint>

using HWND = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;

constexpr UINT WM_TIMER = 275;
constexpr UINT WM_USER = 1024;

// The handful of Windows scalar and handle types that the framework layer's
// Windows-named functions (message boxes, cursors, COM) take and return.
//
// Widths follow Windows, not the host: DWORD, LONG and ULONG are 32 bits.
// Handles are distinct pointer types to small opaque structs, so a cursor
// handle cannot be passed where a window handle is wanted.
#pragma once

#include <cstdint>

namespace Tx {

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using HRESULT = std::int32_t;
using LPCSTR = const char*;
using LPSTR = char*;
using LPDWORD = DWORD*;

struct HWND__;
struct HINSTANCE__;
struct HCURSOR__;
using HWND = HWND__*;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HCURSOR = HCURSOR__*;

}  // namespace Tx

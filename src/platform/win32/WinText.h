#pragma once
// Text helpers shared by the Windows files of the platform layer: UTF-8 to and from the wide
// strings of the Windows API, and the system's message for an error code. Windows only.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>

namespace Plumeria::Win32 {

std::wstring Widen(std::string_view Utf8);
/// `Length` in wide characters; -1 for a zero-terminated text.
std::string Narrow(const wchar_t* Wide, int Length = -1);
/// The system's text for `Code`, in English where the system has it (the journal is English),
/// else in the system's language; from `Module`'s message table when given. Trailing line breaks
/// and blanks are removed. When the system has no text for the code: `Unknown`, a space and the
/// code in decimal ("error 1234").
std::string SystemMessage(DWORD Code, HMODULE Module = nullptr, const char* Unknown = "error");

} // namespace Plumeria::Win32

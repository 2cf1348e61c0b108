#include "platform/TextCase.h"

#include <string>

#include <windows.h>

namespace Plumeria {

void UpperCaseText(std::u32string& Text)
{
    // CharUpperBuffW works on UTF-16; characters outside the basic plane pass through it as
    // surrogate pairs unchanged, as they do in the system's own mask comparison.
    std::wstring Units;
    Units.reserve(Text.size());
    for (const char32_t C : Text) {
        if (C >= 0x10000 && C <= 0x10FFFF) {
            const char32_t V = C - 0x10000;
            Units.push_back(static_cast<wchar_t>(0xD800 + (V >> 10)));
            Units.push_back(static_cast<wchar_t>(0xDC00 + (V & 0x3FF)));
        } else {
            Units.push_back(static_cast<wchar_t>(C));
        }
    }
    if (!Units.empty())
        CharUpperBuffW(Units.data(), static_cast<DWORD>(Units.size()));

    std::u32string Upper;
    Upper.reserve(Text.size());
    for (std::size_t I = 0; I < Units.size(); ++I) {
        const char32_t U = static_cast<char16_t>(Units[I]);
        if (U >= 0xD800 && U <= 0xDBFF && I + 1 < Units.size()) {
            const char32_t Low = static_cast<char16_t>(Units[I + 1]);
            if (Low >= 0xDC00 && Low <= 0xDFFF) {
                Upper.push_back(0x10000 + ((U - 0xD800) << 10) + (Low - 0xDC00));
                ++I;
                continue;
            }
        }
        Upper.push_back(U);
    }
    Text = std::move(Upper);
}

} // namespace Plumeria

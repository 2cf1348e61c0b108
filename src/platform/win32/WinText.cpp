#include "platform/win32/WinText.h"

namespace Plumeria::Win32 {

std::wstring Widen(std::string_view Utf8)
{
    if (Utf8.empty())
        return {};
    const int Size = static_cast<int>(Utf8.size());
    const int Length = MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), Size, nullptr, 0);
    if (Length <= 0)
        return {};
    std::wstring Wide(static_cast<std::size_t>(Length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), Size, Wide.data(), Length);
    return Wide;
}

std::string Narrow(const wchar_t* Wide, int Length)
{
    if (!Wide || Length == 0)
        return {};
    const int Size = WideCharToMultiByte(CP_UTF8, 0, Wide, Length, nullptr, 0, nullptr, nullptr);
    if (Size <= 0)
        return {};
    std::string Utf8(static_cast<std::size_t>(Size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Wide, Length, Utf8.data(), Size, nullptr, nullptr);
    if (Length < 0)
        Utf8.pop_back(); // the terminating zero was converted too
    return Utf8;
}

std::string SystemMessage(DWORD Code, HMODULE Module, const char* Unknown)
{
    DWORD Flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    if (Module)
        Flags |= FORMAT_MESSAGE_FROM_HMODULE;
    wchar_t* Buffer = nullptr;
    DWORD Length = FormatMessageW(Flags, Module, Code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                  reinterpret_cast<LPWSTR>(&Buffer), 0, nullptr);
    if (Length == 0) // no English table on this system: its own language is better than nothing
        Length =
            FormatMessageW(Flags, Module, Code, 0, reinterpret_cast<LPWSTR>(&Buffer), 0, nullptr);
    std::string Text;
    if (Length > 0 && Buffer)
        Text = Narrow(Buffer, static_cast<int>(Length));
    if (Buffer)
        LocalFree(Buffer);
    while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r' || Text.back() == ' '))
        Text.pop_back();
    if (Text.empty())
        Text = std::string(Unknown) + " " + std::to_string(Code);
    return Text;
}

} // namespace Plumeria::Win32

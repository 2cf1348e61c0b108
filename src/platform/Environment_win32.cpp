#include "platform/Environment.h"

#include <windows.h>

#include <string>

namespace Plumeria {

std::filesystem::path MachineDataBase()
{
    // Asked twice when the first buffer is too small: the answer is then the size needed.
    std::wstring Buffer(MAX_PATH, L'\0');
    for (int Attempt = 0; Attempt < 2; ++Attempt) {
        const DWORD Length = GetEnvironmentVariableW(L"ProgramData", Buffer.data(),
                                                     static_cast<DWORD>(Buffer.size()));
        if (Length == 0)
            return {};
        if (Length < Buffer.size()) {
            Buffer.resize(Length);
            return std::filesystem::path(Buffer);
        }
        Buffer.assign(Length, L'\0');
    }
    return {};
}

std::filesystem::path ExecutablePath()
{
    std::wstring Buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD Length =
            GetModuleFileNameW(nullptr, Buffer.data(), static_cast<DWORD>(Buffer.size()));
        if (Length == 0)
            return {};
        if (Length < Buffer.size()) {
            Buffer.resize(Length);
            return std::filesystem::path(Buffer);
        }
        Buffer.resize(Buffer.size() * 2);
    }
}

std::filesystem::path PathFromUtf8(std::string_view Utf8)
{
    return std::filesystem::path(std::u8string(Utf8.begin(), Utf8.end()));
}

std::string PathToUtf8(const std::filesystem::path& Path)
{
    const std::u8string Text = Path.u8string();
    return std::string(Text.begin(), Text.end());
}

} // namespace Plumeria

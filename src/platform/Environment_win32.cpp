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

} // namespace Plumeria

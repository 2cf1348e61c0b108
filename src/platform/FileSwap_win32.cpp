#include "platform/FileSwap.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <limits>

namespace Plumeria {

namespace {

std::string Narrow(const wchar_t* Wide, int Length)
{
    if (Length <= 0)
        return {};
    const int Size = WideCharToMultiByte(CP_UTF8, 0, Wide, Length, nullptr, 0, nullptr, nullptr);
    if (Size <= 0)
        return {};
    std::string Utf8(static_cast<std::size_t>(Size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Wide, Length, Utf8.data(), Size, nullptr, nullptr);
    return Utf8;
}

std::string SystemMessage(DWORD Code)
{
    wchar_t* Buffer = nullptr;
    // English first: the journal is English. A system without the English table still says it
    // in its own language.
    const DWORD Flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD Length =
        FormatMessageW(Flags, nullptr, Code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                       reinterpret_cast<LPWSTR>(&Buffer), 0, nullptr);
    if (Length == 0)
        Length =
            FormatMessageW(Flags, nullptr, Code, 0, reinterpret_cast<LPWSTR>(&Buffer), 0, nullptr);
    std::string Text;
    if (Length > 0 && Buffer)
        Text = Narrow(Buffer, static_cast<int>(Length));
    if (Buffer)
        LocalFree(Buffer);
    while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r' || Text.back() == ' '))
        Text.pop_back();
    if (Text.empty())
        Text = "error " + std::to_string(Code);
    return Text;
}

} // namespace

bool RenameNoReplace(const std::filesystem::path& From, const std::filesystem::path& To,
                     std::string& Error)
{
    // MoveFileW never replaces an existing target, and it may rename a running executable.
    if (!MoveFileW(From.c_str(), To.c_str())) {
        Error = SystemMessage(GetLastError());
        return false;
    }
    return true;
}

bool WriteNewFile(const std::filesystem::path& Path, std::span<const std::uint8_t> Data,
                  std::size_t Chunk, std::string& Error)
{
    const HANDLE File = CreateFileW(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE) {
        Error = SystemMessage(GetLastError());
        return false;
    }
    Chunk = std::clamp<std::size_t>(Chunk, 1, std::numeric_limits<DWORD>::max());
    for (std::size_t Pos = 0; Pos < Data.size();) {
        const DWORD Count = static_cast<DWORD>(std::min(Chunk, Data.size() - Pos));
        DWORD Written = 0;
        if (!WriteFile(File, Data.data() + Pos, Count, &Written, nullptr) || Written == 0) {
            Error = SystemMessage(GetLastError());
            CloseHandle(File);
            return false;
        }
        Pos += Written;
    }
    // The old executable is only a backup once the new one is really on the disk.
    if (!FlushFileBuffers(File)) {
        Error = SystemMessage(GetLastError());
        CloseHandle(File);
        return false;
    }
    if (!CloseHandle(File)) {
        Error = SystemMessage(GetLastError());
        return false;
    }
    return true;
}

} // namespace Plumeria

#include "platform/FileSwap.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/win32/WinText.h"

#include <algorithm>
#include <limits>

namespace Plumeria {

bool RenameNoReplace(const std::filesystem::path& From, const std::filesystem::path& To,
                     std::string& Error)
{
    // Without MOVEFILE_REPLACE_EXISTING an existing target is never replaced; a running
    // executable may be renamed.
    if (!MoveFileExW(From.c_str(), To.c_str(), MOVEFILE_WRITE_THROUGH)) {
        Error = Win32::SystemMessage(GetLastError());
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
        Error = Win32::SystemMessage(GetLastError());
        return false;
    }
    Chunk = std::clamp<std::size_t>(Chunk, 1, std::numeric_limits<DWORD>::max());
    for (std::size_t Pos = 0; Pos < Data.size();) {
        const DWORD Count = static_cast<DWORD>(std::min(Chunk, Data.size() - Pos));
        DWORD Written = 0;
        if (!WriteFile(File, Data.data() + Pos, Count, &Written, nullptr) || Written == 0) {
            Error = Win32::SystemMessage(GetLastError());
            CloseHandle(File);
            return false;
        }
        Pos += Written;
    }
    // The old executable is only a backup once the new one is really on the disk.
    if (!FlushFileBuffers(File)) {
        Error = Win32::SystemMessage(GetLastError());
        CloseHandle(File);
        return false;
    }
    if (!CloseHandle(File)) {
        Error = Win32::SystemMessage(GetLastError());
        return false;
    }
    return true;
}

bool KeepAsBackup(const std::filesystem::path& File, const std::filesystem::path& Backup,
                  std::string& Error)
{
    // The name of a running executable cannot be replaced, a link to it would not help: the
    // file itself is moved aside.
    return RenameNoReplace(File, Backup, Error);
}

bool RenameOver(const std::filesystem::path& From, const std::filesystem::path& To,
                std::string& Error)
{
    if (!MoveFileExW(From.c_str(), To.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Error = Win32::SystemMessage(GetLastError());
        return false;
    }
    return true;
}

} // namespace Plumeria

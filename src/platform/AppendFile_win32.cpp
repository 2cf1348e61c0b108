#include "platform/AppendFile.h"

#include <windows.h>

namespace Plumeria {
namespace {

/// An append-only handle cannot shorten its file; a second handle with write access can.
void CutBack(const std::filesystem::path& File, LARGE_INTEGER Size)
{
    const HANDLE Handle = CreateFileW(File.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (Handle == INVALID_HANDLE_VALUE)
        return;
    if (SetFilePointerEx(Handle, Size, nullptr, FILE_BEGIN))
        SetEndOfFile(Handle);
    CloseHandle(Handle);
}

} // namespace

TAppendResult AppendToFile(const std::filesystem::path& File, std::string_view Bytes)
{
    // FILE_APPEND_DATA alone: every write goes to the end of the file, even when another
    // process appends between our open and our write.
    const HANDLE Handle = CreateFileW(File.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (Handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_PATH_NOT_FOUND ? TAppendResult::arFolderMissing
                                                      : TAppendResult::arFailed;
    LARGE_INTEGER Before{};
    const bool SizeKnown = GetFileSizeEx(Handle, &Before) != 0;
    bool Written = true;
    const char* Next = Bytes.data();
    std::size_t Left = Bytes.size();
    while (Left > 0) {
        const DWORD Chunk = Left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(Left);
        DWORD Count = 0;
        if (!WriteFile(Handle, Next, Chunk, &Count, nullptr) || Count == 0) {
            Written = false;
            break;
        }
        Next += Count;
        Left -= Count;
    }
    if (!CloseHandle(Handle))
        Written = false;
    if (!Written && SizeKnown && Left < Bytes.size())
        CutBack(File, Before);
    return Written ? TAppendResult::arDone : TAppendResult::arFailed;
}

} // namespace Plumeria

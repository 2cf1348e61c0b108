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
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file, even
    // when another process appends between our open and our write. Reading the attributes
    // leaves that as it is and lets a failed entry learn the size to cut back to.
    const HANDLE Handle = CreateFileW(File.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (Handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_PATH_NOT_FOUND ? TAppendResult::arFolderMissing
                                                      : TAppendResult::arFailed;
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
    // Asked only after a failure, so that an ordinary entry costs no more than its three calls;
    // the file's size is then its old size plus what did get written.
    const auto Piece = static_cast<LONGLONG>(Bytes.size() - Left);
    LARGE_INTEGER After{};
    const bool CutNeeded =
        !Written && Piece > 0 && GetFileSizeEx(Handle, &After) && After.QuadPart >= Piece;
    if (!CloseHandle(Handle))
        Written = false;
    if (CutNeeded) {
        After.QuadPart -= Piece;
        CutBack(File, After);
    }
    return Written ? TAppendResult::arDone : TAppendResult::arFailed;
}

} // namespace Plumeria

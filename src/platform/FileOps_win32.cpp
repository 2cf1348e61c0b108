#include "platform/FileOps.h"

#include "platform/Environment.h"

#include <algorithm>
#include <atomic>
#include <string>

#include <windows.h>

#include "platform/win32/WinText.h"

namespace Plumeria {

namespace {

std::string SystemMessage(DWORD Code)
{
    std::string Text = Win32::SystemMessage(Code, nullptr, "system error");
    while (!Text.empty() && Text.back() == '.')
        Text.pop_back();
    return Text;
}

std::string MoveError(const std::filesystem::path& From, const std::filesystem::path& To,
                      DWORD Code, const char* Stage = nullptr)
{
    std::string Text = PathToUtf8(From) + " -> " + PathToUtf8(To) + ": ";
    if (Stage) {
        Text += Stage;
        Text += ": ";
    }
    return Text + SystemMessage(Code);
}

// The share-none copy of a file on another volume: copied under a temporary name in the target
// folder, flushed, renamed into place (never over an existing file), and only then the original
// removed; if that last step fails the copy is removed again, so the file is never in two places.
bool MoveAcrossVolumes(const std::filesystem::path& From, const std::filesystem::path& To,
                       std::string& Message)
{
    static std::atomic<unsigned> Counter{0};
    const std::filesystem::path Temp =
        To.parent_path() /
        (L"~" + To.filename().wstring() + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
         std::to_wstring(Counter++) + L".part");

    if (!CopyFileExW(From.c_str(), Temp.c_str(), nullptr, nullptr, nullptr,
                     COPY_FILE_FAIL_IF_EXISTS)) {
        const DWORD Code = GetLastError();
        if (Code != ERROR_FILE_EXISTS) // never remove a file that was not ours
            DeleteFileW(Temp.c_str());
        Message = MoveError(From, To, Code, "copy");
        return false;
    }
    // The copy carries the original's attributes; a read-only copy cannot be opened for the
    // flush, so lift that bit for the moment.
    const DWORD Attributes = GetFileAttributesW(Temp.c_str());
    const bool ReadOnly =
        Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_READONLY);
    if (ReadOnly)
        SetFileAttributesW(Temp.c_str(), Attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    const HANDLE Copy = CreateFileW(Temp.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    BOOL Flushed = FALSE;
    DWORD FlushCode = GetLastError();
    if (Copy != INVALID_HANDLE_VALUE) {
        Flushed = FlushFileBuffers(Copy);
        FlushCode = GetLastError();
        CloseHandle(Copy);
    }
    if (ReadOnly)
        SetFileAttributesW(Temp.c_str(), Attributes);
    if (!Flushed) {
        SetFileAttributesW(Temp.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(Temp.c_str());
        Message = MoveError(From, To, FlushCode, "copy");
        return false;
    }
    // Without MOVEFILE_REPLACE_EXISTING the rename fails when the target exists.
    if (!MoveFileExW(Temp.c_str(), To.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD Code = GetLastError();
        SetFileAttributesW(Temp.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(Temp.c_str());
        Message = MoveError(From, To, Code);
        return false;
    }
    // A same-volume move takes a read-only file along; so does this one.
    const DWORD SourceAttributes = GetFileAttributesW(From.c_str());
    const bool SourceReadOnly =
        SourceAttributes != INVALID_FILE_ATTRIBUTES && (SourceAttributes & FILE_ATTRIBUTE_READONLY);
    if (SourceReadOnly)
        SetFileAttributesW(From.c_str(), SourceAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    if (!DeleteFileW(From.c_str())) {
        const DWORD Code = GetLastError();
        if (SourceReadOnly)
            SetFileAttributesW(From.c_str(), SourceAttributes);
        SetFileAttributesW(To.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(To.c_str());
        Message = MoveError(From, To, Code, "remove original");
        return false;
    }
    return true;
}

} // namespace

bool FileNamesIgnoreCase()
{
    return true;
}

bool IsExistingFolder(const std::filesystem::path& Path)
{
    if (Path.empty())
        return false;
    const DWORD Attributes = GetFileAttributesW(Path.c_str());
    return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::int64_t FileSizeOf(const std::filesystem::path& Path)
{
    WIN32_FILE_ATTRIBUTE_DATA Data{};
    if (!GetFileAttributesExW(Path.c_str(), GetFileExInfoStandard, &Data) ||
        (Data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(Data.nFileSizeHigh) << 32) |
                                     Data.nFileSizeLow);
}

bool IsReadOnlyFile(const std::filesystem::path& Path)
{
    const DWORD Attributes = GetFileAttributesW(Path.c_str());
    return Attributes != INVALID_FILE_ATTRIBUTES && !(Attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (Attributes & FILE_ATTRIBUTE_READONLY);
}

bool FileStampOf(const std::filesystem::path& Path, TFileStamp& Stamp)
{
    WIN32_FILE_ATTRIBUTE_DATA Data{};
    if (!GetFileAttributesExW(Path.c_str(), GetFileExInfoStandard, &Data) ||
        (Data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    Stamp.Size = static_cast<std::int64_t>((static_cast<std::uint64_t>(Data.nFileSizeHigh) << 32) |
                                           Data.nFileSizeLow);
    Stamp.Modified = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(Data.ftLastWriteTime.dwHighDateTime) << 32) |
        Data.ftLastWriteTime.dwLowDateTime);
    return true;
}

bool FileIdentityOf(const std::filesystem::path& Path, TFileIdentity& Identity)
{
    // Attributes only, shared every way: asking must never stand in a writer's way.
    const HANDLE File = CreateFileW(Path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (File == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION Info{};
    const bool Ok = GetFileInformationByHandle(File, &Info) &&
                    !(Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(File);
    if (!Ok)
        return false;
    Identity.Volume = Info.dwVolumeSerialNumber;
    Identity.File = (static_cast<std::uint64_t>(Info.nFileIndexHigh) << 32) | Info.nFileIndexLow;
    Identity.Stamp.Size = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(Info.nFileSizeHigh) << 32) | Info.nFileSizeLow);
    Identity.Stamp.Modified = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(Info.ftLastWriteTime.dwHighDateTime) << 32) |
        Info.ftLastWriteTime.dwLowDateTime);
    return true;
}

std::size_t FileNameUnits(const std::filesystem::path& Name)
{
    return Name.native().size();
}

bool ReadWholeFile(const std::filesystem::path& Path, std::string& Bytes, std::string& Error)
{
    Bytes.clear();
    // Shared every way: reading a copy must never stand in a writer's way.
    const HANDLE File = CreateFileW(Path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE) {
        Error = "cannot open " + PathToUtf8(Path) + ": " + SystemMessage(GetLastError());
        return false;
    }
    char Buffer[64 * 1024];
    for (;;) {
        DWORD Read = 0;
        if (!ReadFile(File, Buffer, sizeof Buffer, &Read, nullptr)) {
            Error = "cannot read " + PathToUtf8(Path) + ": " + SystemMessage(GetLastError());
            CloseHandle(File);
            Bytes.clear();
            return false;
        }
        if (Read == 0)
            break;
        Bytes.append(Buffer, Read);
    }
    CloseHandle(File);
    return true;
}

bool WriteNewFile(const std::filesystem::path& Path, const std::string& Bytes, std::string& Error)
{
    // CREATE_NEW fails on any existing name, a link included; the reparse flag keeps a link
    // from ever being followed.
    const HANDLE File = CreateFileW(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (File == INVALID_HANDLE_VALUE) {
        Error = "cannot create " + PathToUtf8(Path) + ": " + SystemMessage(GetLastError());
        return false;
    }
    DWORD Failure = 0;
    for (std::size_t Done = 0; Done < Bytes.size() && Failure == 0;) {
        const DWORD Chunk = static_cast<DWORD>(std::min<std::size_t>(Bytes.size() - Done, 1 << 20));
        DWORD Written = 0;
        if (!WriteFile(File, Bytes.data() + Done, Chunk, &Written, nullptr) || Written == 0)
            Failure = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
        Done += Written;
    }
    if (Failure == 0 && !FlushFileBuffers(File))
        Failure = GetLastError();
    CloseHandle(File);
    if (Failure == 0)
        return true;
    DeleteFileW(Path.c_str());
    Error = "cannot write " + PathToUtf8(Path) + ": " + SystemMessage(Failure);
    return false;
}

TExclusiveOpen TestExclusiveOpen(const std::filesystem::path& Path)
{
    // No sharing at all: refused while any other handle (writer or reader) is open.
    const HANDLE File = CreateFileW(Path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE)
        return TExclusiveOpen::eoInUse;
    CloseHandle(File);
    return TExclusiveOpen::eoFree;
}

bool ListPlainFiles(const std::filesystem::path& Folder, std::vector<std::filesystem::path>& Names)
{
    Names.clear();
    // Listed through our own handle that shares deletion: FindFirstFileW's handle does not, and
    // a scan that happens to run while the user deletes or renames the watched folder would make
    // that fail with "access denied".
    const HANDLE Dir = CreateFileW(Folder.c_str(), FILE_LIST_DIRECTORY,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (Dir == INVALID_HANDLE_VALUE)
        return false;
    std::vector<std::uint64_t> Buffer(64 * 1024 / sizeof(std::uint64_t)); // entries are 8-aligned
    const DWORD BufferBytes = static_cast<DWORD>(Buffer.size() * sizeof(std::uint64_t));
    FILE_INFO_BY_HANDLE_CLASS Class = FileIdBothDirectoryRestartInfo;
    bool Ok = true;
    for (;;) {
        if (!GetFileInformationByHandleEx(Dir, Class, Buffer.data(), BufferBytes)) {
            Ok = GetLastError() == ERROR_NO_MORE_FILES;
            break;
        }
        Class = FileIdBothDirectoryInfo;
        const auto* Bytes = reinterpret_cast<const unsigned char*>(Buffer.data());
        for (std::size_t Offset = 0;;) {
            const auto* Entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(Bytes + Offset);
            // Folders, "." and ".." included, are left out.
            if (!(Entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                Names.emplace_back(
                    std::wstring(Entry->FileName, Entry->FileNameLength / sizeof(wchar_t)));
            if (Entry->NextEntryOffset == 0)
                break;
            Offset += Entry->NextEntryOffset;
        }
    }
    CloseHandle(Dir);
    if (!Ok)
        Names.clear();
    return Ok;
}

bool MoveFileNoReplace(const std::filesystem::path& From, const std::filesystem::path& To,
                       std::string& Error)
{
    // MoveFileExW without MOVEFILE_REPLACE_EXISTING fails when the target exists, as MoveFileW.
    if (MoveFileExW(From.c_str(), To.c_str(), 0))
        return true;
    const DWORD Code = GetLastError();
    if (Code == ERROR_NOT_SAME_DEVICE)
        return MoveAcrossVolumes(From, To, Error);
    Error = MoveError(From, To, Code);
    return false;
}

} // namespace Plumeria

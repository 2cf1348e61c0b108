#pragma once
// The file operations the folder watch and the result-folder moves need, with Windows semantics on
// every system: a move never replaces an existing file, and "can be opened exclusively" means no
// other descriptor or handle holds the file open.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace Plumeria {

/// True where names that differ only in letter case name one file (Windows). Linux file systems
/// are taken as case-sensitive: Prices.csv and prices.csv are two files there.
bool FileNamesIgnoreCase();

/// True when `Path` names an existing folder (a link to a folder counts).
bool IsExistingFolder(const std::filesystem::path& Path);

/// The size of a plain file as its folder entry gives it; -1 when it cannot be read or the entry
/// is not a plain file.
std::int64_t FileSizeOf(const std::filesystem::path& Path);

/// True when `Path` names an existing plain file that is marked read-only: the read-only
/// attribute on Windows; on Linux no write permission bit at all, or none that lets this process
/// write (a replacing rename would ignore either, so callers that must not overwrite such a file
/// ask first).
bool IsReadOnlyFile(const std::filesystem::path& Path);

/// A plain file's size and modification time as its folder entry gives them: together they
/// tell whether the file changed since it was last looked at.
struct TFileStamp
{
    std::int64_t Size = -1;
    std::int64_t Modified = 0; ///< in the system's own unit; only compared for equality

    friend bool operator==(const TFileStamp&, const TFileStamp&) = default;
};

/// False when it cannot be read or the entry is not a plain file.
bool FileStampOf(const std::filesystem::path& Path, TFileStamp& Stamp);

/// Which file a path names and in what state: the file itself (its volume and file number) and
/// its size and modification time. Equal identities taken before and after reading a path mean
/// the same file, unchanged, was read; a file renamed over it or rewritten in place differs.
struct TFileIdentity
{
    std::uint64_t Volume = 0;
    std::uint64_t File = 0;
    TFileStamp Stamp;

    friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

/// False when it cannot be read or the entry is not a plain file.
bool FileIdentityOf(const std::filesystem::path& Path, TFileIdentity& Identity);

/// The longest file name (without folder) the file systems take, in the units of
/// `FileNameUnits`: bytes of UTF-8 on Linux, UTF-16 code units on Windows.
inline constexpr std::size_t MaxFileNameUnits = 255;
std::size_t FileNameUnits(const std::filesystem::path& Name);

/// Reads every byte of a plain file. False with `Error` (a short English message) when it cannot.
bool ReadWholeFile(const std::filesystem::path& Path, std::string& Bytes, std::string& Error);

/// Creates `Path` as a new file and writes `Bytes` into it, flushed to the disk. Fails when any
/// entry of that name exists, a link included (a link is never followed). On failure nothing is
/// left behind and `Error` holds a short English message.
bool WriteNewFile(const std::filesystem::path& Path, const std::string& Bytes, std::string& Error);

enum class TExclusiveOpen
{
    eoFree,      ///< nobody else holds the file open; it was opened and closed again at once
    eoInUse,     ///< another descriptor/handle holds it open, or it cannot be opened at all
    eoCannotTell ///< the file could be opened but the test itself is refused here (no rights
                 ///< to take a lease on another user's file, or a file system without leases)
};

/// Tests whether the file can be opened for reading with no sharing at all. Windows: a share-none
/// open. Linux: a write lease, which the kernel refuses while any other descriptor for the file
/// is open; the lease is given back and the file closed at once.
TExclusiveOpen TestExclusiveOpen(const std::filesystem::path& Path);

/// Names (without folder) of the plain files directly inside `Folder`, in listing order; folders
/// are left out. False when the folder cannot be listed.
bool ListPlainFiles(const std::filesystem::path& Folder, std::vector<std::filesystem::path>& Names);

/// Moves the file `From` to `To` (full paths, the target folder exists). Never replaces: fails
/// when `To` exists. Across file systems the file is copied to a temporary name in the target
/// folder, flushed, renamed into place and only then removed from its old place; on any failure
/// the file is left where it was and nothing is left behind at the target. On failure returns
/// false and sets `Error` to a short English message.
bool MoveFileNoReplace(const std::filesystem::path& From, const std::filesystem::path& To,
                       std::string& Error);

} // namespace Plumeria

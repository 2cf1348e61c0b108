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

#pragma once
// The file steps of swapping the running executable for a new one: writing the new file whole
// and on disk under a name of its own, keeping the old one under the backup name, renaming the
// new one into place, and a rename that never replaces an existing target (Windows semantics on
// every platform) for putting the old one back.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace Plumeria {

/// Renames `From` to `To`; fails (never replaces) when `To` exists. On Linux renameat2 with
/// RENAME_NOREPLACE, or link + unlink where the file system lacks it; MoveFileW on Windows,
/// which may rename the file of a running executable. False with the system's message.
bool RenameNoReplace(const std::filesystem::path& From, const std::filesystem::path& To,
                     std::string& Error);

/// Creates `Path` anew (truncating an existing file), writes `Data` in pieces of at most
/// `Chunk` bytes and flushes it to the disk. False with the system's message; a partly written
/// file may then be left behind for the caller to delete.
bool WriteNewFile(const std::filesystem::path& Path, std::span<const std::uint8_t> Data,
                  std::size_t Chunk, std::string& Error);

/// Makes `Backup`, which must not exist, name the file `File` names. Linux: a hard link, so
/// `File` keeps naming the whole program until the new one is renamed over it; where the file
/// system has no hard links, and on Windows (MoveFileExW, which may move a running executable),
/// `File` is renamed to `Backup`. False with the system's message; nothing changed then.
bool KeepAsBackup(const std::filesystem::path& File, const std::filesystem::path& Backup,
                  std::string& Error);

/// Renames `From` to `To` in one step, replacing `To` when it exists, and makes the new name
/// survive a power cut: rename(2) and a sync of the folder on Linux, MoveFileExW with
/// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH on Windows. Only for putting a new
/// program in place of one already kept as a backup. False with the system's message.
bool RenameOver(const std::filesystem::path& From, const std::filesystem::path& To,
                std::string& Error);

} // namespace Plumeria

#pragma once
// The two file steps of swapping the running executable for a new one, with Windows semantics
// on every platform: a rename that never replaces an existing target, and writing a whole new
// file that is on disk before we report success.

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

} // namespace Plumeria

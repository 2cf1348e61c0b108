#pragma once
// Replacing a small file as a whole: readers and a crash at any moment see either the old content
// or the new one, never a truncated mix.

#include <filesystem>
#include <string_view>

namespace Plumeria {

/// Writes `Bytes` to a new temporary file beside `Target`, flushes it to the disk and renames it
/// over `Target` (which may or may not exist). On any failure the temporary file is removed,
/// `Target` is left exactly as it was, and std::filesystem::filesystem_error is thrown.
void WriteFileAtomically(const std::filesystem::path& Target, std::string_view Bytes);

} // namespace Plumeria

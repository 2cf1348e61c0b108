#pragma once
// Builds ZIP archives in memory for the update tests, with zlib for deflated members, so no
// binary archive has to be kept in the repository. The options produce the variants a reader
// must cope with: ZIP64 records, an archive comment, names with any separators.

#include <cstdint>
#include <string>
#include <vector>

namespace Plumeria::Test {

struct TZipMember
{
    std::string Name;
    std::string Data;
    bool Deflate = true;
};

struct TZipLayout
{
    /// Sizes and offsets saturated in the 32-bit fields and given in ZIP64 extras and records.
    bool Zip64 = false;
    std::string Comment;
};

/// The archive bytes.
std::string BuildZip(const std::vector<TZipMember>& Members, const TZipLayout& Layout = {});

/// Raw deflate (no zlib header) of `Data` at the best compression.
std::string DeflateRaw(const std::string& Data);

/// As a byte vector, which is what the update code takes.
std::vector<std::uint8_t> Bytes(const std::string& Text);

} // namespace Plumeria::Test

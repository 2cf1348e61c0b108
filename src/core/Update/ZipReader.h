#pragma once
// A small reader for ZIP archives held in memory: the directory (end record, central entries,
// ZIP64 sizes and offsets) and the content of one member, stored or deflated. The archive is
// untrusted input from the network: every offset and length is checked against the buffer before
// it is used, sizes and the CRC-32 of what is read must match the directory, and a member never
// decodes to more bytes than the directory promises.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace Plumeria {

/// One member as the central directory describes it.
struct TZipEntry
{
    std::string Name; ///< the stored name bytes, separators and case as written
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0; ///< 0 stored, 8 deflated; anything else is not readable here
    std::uint32_t Crc32 = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint64_t LocalHeaderOffset = 0;
};

enum class TZipReadResult : std::uint8_t
{
    zrOk,
    zrCorrupt,     ///< bounds, local header, inflate, size or CRC do not add up
    zrUnsupported, ///< encrypted, or a compression method other than stored or deflated
    zrNoMemory,    ///< the content does not fit in memory
};

class TZipReader
{
public:
    /// Bytes decoded or copied at a time while reading a member.
    static constexpr std::size_t CopyChunk = 1048576;

    /// Reads the directory of the archive in `Archive`, which must stay alive and unchanged
    /// while this reader is used. False when it is not a ZIP archive whose directory lies whole
    /// within the buffer (the reader then holds no entries).
    bool Open(std::span<const std::uint8_t> Archive);

    /// Members in directory order.
    const std::vector<TZipEntry>& Entries() const { return FEntries; }

    /// Decodes member `Index` into `Out` (emptied first). On any result but `zrOk`, `Out` is
    /// left empty.
    TZipReadResult Read(std::size_t Index, std::vector<std::uint8_t>& Out) const;

private:
    std::span<const std::uint8_t> FArchive;
    std::uint64_t FDirectoryOffset = 0; ///< member data must end before the central directory
    std::vector<TZipEntry> FEntries;
};

} // namespace Plumeria

#include "core/Update/ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace Plumeria {

namespace {

constexpr std::uint32_t EndSignature = 0x06054b50;
constexpr std::uint32_t End64Signature = 0x06064b50;
constexpr std::uint32_t End64LocatorSignature = 0x07064b50;
constexpr std::uint32_t CentralSignature = 0x02014b50;
constexpr std::uint32_t LocalSignature = 0x04034b50;

constexpr std::uint64_t EndSize = 22;
constexpr std::uint64_t MaxCommentSize = 65535;
constexpr std::uint64_t End64LocatorSize = 20;
constexpr std::uint64_t End64Size = 56;
constexpr std::uint64_t CentralSize = 46;
constexpr std::uint64_t LocalSize = 30;
constexpr std::uint16_t Zip64ExtraId = 0x0001;

constexpr std::uint16_t MethodStored = 0;
constexpr std::uint16_t MethodDeflated = 8;
constexpr std::uint16_t FlagEncrypted = 0x0001;

// Deflate cannot expand data by more than about 1032:1 (a 258-byte match in two bits); a member
// that claims more is lying, and trusting the claim would only waste memory.
constexpr std::uint64_t MaxDeflateRatio = 1032;

/// True when [Offset, Offset + Length) lies within [0, Limit), without overflow.
bool InBounds(std::uint64_t Offset, std::uint64_t Length, std::uint64_t Limit)
{
    return Offset <= Limit && Length <= Limit - Offset;
}

// The readers below are only called on ranges already checked with InBounds.
std::uint16_t Le16(std::span<const std::uint8_t> Data, std::uint64_t At)
{
    return static_cast<std::uint16_t>(Data[At] | (Data[At + 1] << 8));
}

std::uint32_t Le32(std::span<const std::uint8_t> Data, std::uint64_t At)
{
    return static_cast<std::uint32_t>(Data[At]) | (static_cast<std::uint32_t>(Data[At + 1]) << 8) |
           (static_cast<std::uint32_t>(Data[At + 2]) << 16) |
           (static_cast<std::uint32_t>(Data[At + 3]) << 24);
}

std::uint64_t Le64(std::span<const std::uint8_t> Data, std::uint64_t At)
{
    return static_cast<std::uint64_t>(Le32(Data, At)) |
           (static_cast<std::uint64_t>(Le32(Data, At + 4)) << 32);
}

/// Where the end record starts: the last signature whose comment length reaches exactly to the
/// end of the buffer. False when there is none.
bool FindEndRecord(std::span<const std::uint8_t> Archive, std::uint64_t& EndPos)
{
    const std::uint64_t Size = Archive.size();
    if (Size < EndSize)
        return false;
    const std::uint64_t Last = Size - EndSize;
    const std::uint64_t Lowest = Last > MaxCommentSize ? Last - MaxCommentSize : 0;
    for (std::uint64_t Pos = Last + 1; Pos-- > Lowest;) {
        if (Le32(Archive, Pos) == EndSignature && Le16(Archive, Pos + 20) == Last - Pos) {
            EndPos = Pos;
            return true;
        }
    }
    return false;
}

/// Replaces the 32-bit fields of a central entry that are saturated by their ZIP64 values, in
/// the order the format stores them. False when a saturated field has no ZIP64 value.
bool ApplyZip64Extra(std::span<const std::uint8_t> Archive, std::uint64_t ExtraPos,
                     std::uint64_t ExtraEnd, TZipEntry& Entry, std::uint32_t& DiskStart)
{
    const bool NeedUncompressed = Entry.UncompressedSize == 0xFFFFFFFFu;
    const bool NeedCompressed = Entry.CompressedSize == 0xFFFFFFFFu;
    const bool NeedOffset = Entry.LocalHeaderOffset == 0xFFFFFFFFu;
    const bool NeedDisk = DiskStart == 0xFFFFu;
    if (!NeedUncompressed && !NeedCompressed && !NeedOffset && !NeedDisk)
        return true;

    std::uint64_t Pos = ExtraPos;
    while (InBounds(Pos, 4, ExtraEnd)) {
        const std::uint16_t Id = Le16(Archive, Pos);
        const std::uint16_t Length = Le16(Archive, Pos + 2);
        const std::uint64_t FieldPos = Pos + 4;
        if (!InBounds(FieldPos, Length, ExtraEnd))
            return false;
        if (Id == Zip64ExtraId) {
            const std::uint64_t FieldEnd = FieldPos + Length;
            std::uint64_t At = FieldPos;
            auto Take64 = [&](std::uint64_t& Value) {
                if (!InBounds(At, 8, FieldEnd))
                    return false;
                Value = Le64(Archive, At);
                At += 8;
                return true;
            };
            if (NeedUncompressed && !Take64(Entry.UncompressedSize))
                return false;
            if (NeedCompressed && !Take64(Entry.CompressedSize))
                return false;
            if (NeedOffset && !Take64(Entry.LocalHeaderOffset))
                return false;
            if (NeedDisk) {
                if (!InBounds(At, 4, FieldEnd))
                    return false;
                DiskStart = Le32(Archive, At);
            }
            return true;
        }
        Pos = FieldPos + Length;
    }
    return false;
}

class TInflater
{
public:
    TInflater() { FReady = inflateInit2(&FStream, -MAX_WBITS) == Z_OK; }
    ~TInflater()
    {
        if (FReady)
            inflateEnd(&FStream);
    }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;

    bool Ready() const { return FReady; }
    z_stream& Stream() { return FStream; }

private:
    z_stream FStream{};
    bool FReady = false;
};

TZipReadResult CopyStored(std::span<const std::uint8_t> Data, std::vector<std::uint8_t>& Out)
{
    for (std::size_t Pos = 0; Pos < Data.size();) {
        const std::size_t Count = std::min(TZipReader::CopyChunk, Data.size() - Pos);
        Out.insert(Out.end(), Data.begin() + static_cast<std::ptrdiff_t>(Pos),
                   Data.begin() + static_cast<std::ptrdiff_t>(Pos + Count));
        Pos += Count;
    }
    return TZipReadResult::zrOk;
}

TZipReadResult Inflate(std::span<const std::uint8_t> Data, std::uint64_t Expected,
                       std::vector<std::uint8_t>& Out)
{
    TInflater Inflater;
    if (!Inflater.Ready())
        return TZipReadResult::zrNoMemory;
    z_stream& Stream = Inflater.Stream();
    // Up to the copy chunk; a small member needs no more than its own size.
    const std::uint64_t BufferSize = std::min<std::uint64_t>(TZipReader::CopyChunk, Expected + 1);
    std::vector<std::uint8_t> Buffer(static_cast<std::size_t>(BufferSize));
    std::size_t Fed = 0;
    for (;;) {
        if (Stream.avail_in == 0 && Fed < Data.size()) {
            const std::size_t Count = std::min(TZipReader::CopyChunk, Data.size() - Fed);
            // zlib never writes through next_in; the cast only satisfies its C signature.
            Stream.next_in = const_cast<Bytef*>(Data.data() + Fed);
            Stream.avail_in = static_cast<uInt>(Count);
            Fed += Count;
        }
        Stream.next_out = Buffer.data();
        Stream.avail_out = static_cast<uInt>(Buffer.size());
        const int Status = inflate(&Stream, Z_NO_FLUSH);
        if (Status == Z_MEM_ERROR)
            return TZipReadResult::zrNoMemory;
        // Z_BUF_ERROR means no progress was possible: the input ran out before the stream end.
        if (Status != Z_OK && Status != Z_STREAM_END)
            return TZipReadResult::zrCorrupt;
        const std::size_t Produced = Buffer.size() - Stream.avail_out;
        if (Produced > Expected - Out.size())
            return TZipReadResult::zrCorrupt;
        Out.insert(Out.end(), Buffer.begin(),
                   Buffer.begin() + static_cast<std::ptrdiff_t>(Produced));
        if (Status == Z_STREAM_END)
            break;
    }
    return Out.size() == Expected ? TZipReadResult::zrOk : TZipReadResult::zrCorrupt;
}

std::uint32_t Crc32Of(const std::vector<std::uint8_t>& Data)
{
    uLong Crc = crc32(0L, Z_NULL, 0);
    for (std::size_t Pos = 0; Pos < Data.size();) {
        const std::size_t Count = std::min(TZipReader::CopyChunk, Data.size() - Pos);
        Crc = crc32(Crc, Data.data() + Pos, static_cast<uInt>(Count));
        Pos += Count;
    }
    return static_cast<std::uint32_t>(Crc);
}

} // namespace

bool TZipReader::Open(std::span<const std::uint8_t> Archive)
{
    FArchive = {};
    FDirectoryOffset = 0;
    FEntries.clear();

    std::uint64_t EndPos = 0;
    if (!FindEndRecord(Archive, EndPos))
        return false;

    std::uint32_t Disk = Le16(Archive, EndPos + 4);
    std::uint32_t DirectoryDisk = Le16(Archive, EndPos + 6);
    std::uint64_t EntriesOnDisk = Le16(Archive, EndPos + 8);
    std::uint64_t EntryCount = Le16(Archive, EndPos + 10);
    std::uint64_t DirectorySize = Le32(Archive, EndPos + 12);
    std::uint64_t DirectoryOffset = Le32(Archive, EndPos + 16);
    std::uint64_t DirectoryLimit = EndPos;

    if (Disk == 0xFFFFu || DirectoryDisk == 0xFFFFu || EntriesOnDisk == 0xFFFFu ||
        EntryCount == 0xFFFFu || DirectorySize == 0xFFFFFFFFu || DirectoryOffset == 0xFFFFFFFFu) {
        // ZIP64: the locator sits right before the end record and points at the 64-bit record.
        if (EndPos < End64LocatorSize)
            return false;
        const std::uint64_t LocatorPos = EndPos - End64LocatorSize;
        if (Le32(Archive, LocatorPos) != End64LocatorSignature)
            return false;
        const std::uint32_t LocatorDisk = Le32(Archive, LocatorPos + 4);
        const std::uint64_t End64Pos = Le64(Archive, LocatorPos + 8);
        const std::uint32_t DiskCount = Le32(Archive, LocatorPos + 16);
        if (LocatorDisk != 0 || DiskCount > 1 || !InBounds(End64Pos, End64Size, LocatorPos) ||
            Le32(Archive, End64Pos) != End64Signature)
            return false;
        Disk = Le32(Archive, End64Pos + 16);
        DirectoryDisk = Le32(Archive, End64Pos + 20);
        EntriesOnDisk = Le64(Archive, End64Pos + 24);
        EntryCount = Le64(Archive, End64Pos + 32);
        DirectorySize = Le64(Archive, End64Pos + 40);
        DirectoryOffset = Le64(Archive, End64Pos + 48);
        DirectoryLimit = End64Pos;
    }

    // Split archives are not something an update is ever shipped as.
    if (Disk != 0 || DirectoryDisk != 0 || EntriesOnDisk != EntryCount)
        return false;
    if (!InBounds(DirectoryOffset, DirectorySize, DirectoryLimit))
        return false;
    // Checked before reserving: a forged count must not make us allocate.
    if (EntryCount > DirectorySize / CentralSize)
        return false;

    std::vector<TZipEntry> Entries;
    try {
        Entries.reserve(static_cast<std::size_t>(EntryCount));
        const std::uint64_t DirectoryEnd = DirectoryOffset + DirectorySize;
        std::uint64_t Pos = DirectoryOffset;
        for (std::uint64_t Index = 0; Index < EntryCount; ++Index) {
            if (!InBounds(Pos, CentralSize, DirectoryEnd) || Le32(Archive, Pos) != CentralSignature)
                return false;
            TZipEntry Entry;
            Entry.Flags = Le16(Archive, Pos + 8);
            Entry.Method = Le16(Archive, Pos + 10);
            Entry.Crc32 = Le32(Archive, Pos + 16);
            Entry.CompressedSize = Le32(Archive, Pos + 20);
            Entry.UncompressedSize = Le32(Archive, Pos + 24);
            const std::uint16_t NameLength = Le16(Archive, Pos + 28);
            const std::uint16_t ExtraLength = Le16(Archive, Pos + 30);
            const std::uint16_t CommentLength = Le16(Archive, Pos + 32);
            std::uint32_t DiskStart = Le16(Archive, Pos + 34);
            Entry.LocalHeaderOffset = Le32(Archive, Pos + 42);

            const std::uint64_t NamePos = Pos + CentralSize;
            const std::uint64_t VariableLength =
                std::uint64_t{NameLength} + ExtraLength + CommentLength;
            if (!InBounds(NamePos, VariableLength, DirectoryEnd))
                return false;
            Entry.Name.assign(reinterpret_cast<const char*>(Archive.data() + NamePos), NameLength);
            const std::uint64_t ExtraPos = NamePos + NameLength;
            if (!ApplyZip64Extra(Archive, ExtraPos, ExtraPos + ExtraLength, Entry, DiskStart))
                return false;
            if (DiskStart != 0 || !InBounds(Entry.LocalHeaderOffset, LocalSize, DirectoryOffset))
                return false;
            Entries.push_back(std::move(Entry));
            Pos = NamePos + VariableLength;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }

    FArchive = Archive;
    FDirectoryOffset = DirectoryOffset;
    FEntries = std::move(Entries);
    return true;
}

TZipReadResult TZipReader::Read(std::size_t Index, std::vector<std::uint8_t>& Out) const
{
    Out.clear();
    if (Index >= FEntries.size())
        return TZipReadResult::zrCorrupt;
    const TZipEntry& Entry = FEntries[Index];
    if ((Entry.Flags & FlagEncrypted) != 0 ||
        (Entry.Method != MethodStored && Entry.Method != MethodDeflated))
        return TZipReadResult::zrUnsupported;

    // Open() checked that the fixed part of the local header lies before the directory.
    const std::uint64_t HeaderPos = Entry.LocalHeaderOffset;
    if (Le32(FArchive, HeaderPos) != LocalSignature)
        return TZipReadResult::zrCorrupt;
    const std::uint64_t DataPos =
        HeaderPos + LocalSize + Le16(FArchive, HeaderPos + 26) + Le16(FArchive, HeaderPos + 28);
    if (!InBounds(DataPos, Entry.CompressedSize, FDirectoryOffset))
        return TZipReadResult::zrCorrupt;
    const auto Data = FArchive.subspan(static_cast<std::size_t>(DataPos),
                                       static_cast<std::size_t>(Entry.CompressedSize));

    if (Entry.Method == MethodStored
            ? Entry.CompressedSize != Entry.UncompressedSize
            : Entry.UncompressedSize / MaxDeflateRatio > Entry.CompressedSize + 1)
        return TZipReadResult::zrCorrupt;
    if (Entry.UncompressedSize > Out.max_size())
        return TZipReadResult::zrNoMemory;

    TZipReadResult Result = TZipReadResult::zrOk;
    try {
        Result = Entry.Method == MethodStored ? CopyStored(Data, Out)
                                              : Inflate(Data, Entry.UncompressedSize, Out);
        if (Result == TZipReadResult::zrOk && Crc32Of(Out) != Entry.Crc32)
            Result = TZipReadResult::zrCorrupt;
    } catch (const std::bad_alloc&) {
        Result = TZipReadResult::zrNoMemory;
    }
    if (Result != TZipReadResult::zrOk) {
        Out.clear();
        Out.shrink_to_fit();
    }
    return Result;
}

} // namespace Plumeria

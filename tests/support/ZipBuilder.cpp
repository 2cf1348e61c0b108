#include "support/ZipBuilder.h"

#include <zlib.h>

#include <stdexcept>

namespace Plumeria::Test {

namespace {

void Put16(std::string& Out, std::uint32_t Value)
{
    Out += static_cast<char>(Value & 0xFF);
    Out += static_cast<char>((Value >> 8) & 0xFF);
}

void Put32(std::string& Out, std::uint32_t Value)
{
    Put16(Out, Value & 0xFFFF);
    Put16(Out, Value >> 16);
}

void Put64(std::string& Out, std::uint64_t Value)
{
    Put32(Out, static_cast<std::uint32_t>(Value));
    Put32(Out, static_cast<std::uint32_t>(Value >> 32));
}

std::uint32_t Crc(const std::string& Data)
{
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(Data.data()), static_cast<uInt>(Data.size())));
}

} // namespace

std::string DeflateRaw(const std::string& Data)
{
    z_stream Stream{};
    if (deflateInit2(&Stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string Out(deflateBound(&Stream, static_cast<uLong>(Data.size())), '\0');
    Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
    Stream.avail_in = static_cast<uInt>(Data.size());
    Stream.next_out = reinterpret_cast<Bytef*>(Out.data());
    Stream.avail_out = static_cast<uInt>(Out.size());
    const int Status = deflate(&Stream, Z_FINISH);
    Out.resize(Stream.total_out);
    deflateEnd(&Stream);
    if (Status != Z_STREAM_END)
        throw std::runtime_error("deflate failed");
    return Out;
}

std::string BuildZip(const std::vector<TZipMember>& Members, const TZipLayout& Layout)
{
    std::string Archive;
    std::string Directory;
    const std::uint32_t Saturated = 0xFFFFFFFFu;
    for (const auto& Member : Members) {
        const std::string Stored = Member.Deflate ? DeflateRaw(Member.Data) : Member.Data;
        const std::uint16_t Method = Member.Deflate ? 8 : 0;
        const std::uint64_t Offset = Archive.size();
        const std::uint32_t Checksum = Crc(Member.Data);

        std::string LocalExtra;
        if (Layout.Zip64) {
            Put16(LocalExtra, 0x0001);
            Put16(LocalExtra, 16);
            Put64(LocalExtra, Member.Data.size());
            Put64(LocalExtra, Stored.size());
        }
        Put32(Archive, 0x04034b50);
        Put16(Archive, Layout.Zip64 ? 45 : 20);
        Put16(Archive, 0);
        Put16(Archive, Method);
        Put16(Archive, 0);
        Put16(Archive, 0x21);
        Put32(Archive, Checksum);
        Put32(Archive, Layout.Zip64 ? Saturated : static_cast<std::uint32_t>(Stored.size()));
        Put32(Archive, Layout.Zip64 ? Saturated : static_cast<std::uint32_t>(Member.Data.size()));
        Put16(Archive, static_cast<std::uint32_t>(Member.Name.size()));
        Put16(Archive, static_cast<std::uint32_t>(LocalExtra.size()));
        Archive += Member.Name;
        Archive += LocalExtra;
        Archive += Stored;

        std::string CentralExtra;
        if (Layout.Zip64) {
            Put16(CentralExtra, 0x0001);
            Put16(CentralExtra, 24);
            Put64(CentralExtra, Member.Data.size());
            Put64(CentralExtra, Stored.size());
            Put64(CentralExtra, Offset);
        }
        Put32(Directory, 0x02014b50);
        Put16(Directory, 0x031E);
        Put16(Directory, Layout.Zip64 ? 45 : 20);
        Put16(Directory, 0);
        Put16(Directory, Method);
        Put16(Directory, 0);
        Put16(Directory, 0x21);
        Put32(Directory, Checksum);
        Put32(Directory, Layout.Zip64 ? Saturated : static_cast<std::uint32_t>(Stored.size()));
        Put32(Directory, Layout.Zip64 ? Saturated : static_cast<std::uint32_t>(Member.Data.size()));
        Put16(Directory, static_cast<std::uint32_t>(Member.Name.size()));
        Put16(Directory, static_cast<std::uint32_t>(CentralExtra.size()));
        Put16(Directory, 0);
        Put16(Directory, 0);
        Put16(Directory, 0);
        Put32(Directory, 0100755u << 16);
        Put32(Directory, Layout.Zip64 ? Saturated : static_cast<std::uint32_t>(Offset));
        Directory += Member.Name;
        Directory += CentralExtra;
    }

    const std::uint64_t DirectoryOffset = Archive.size();
    Archive += Directory;
    if (Layout.Zip64) {
        const std::uint64_t End64Offset = Archive.size();
        Put32(Archive, 0x06064b50);
        Put64(Archive, 44);
        Put16(Archive, 45);
        Put16(Archive, 45);
        Put32(Archive, 0);
        Put32(Archive, 0);
        Put64(Archive, Members.size());
        Put64(Archive, Members.size());
        Put64(Archive, Directory.size());
        Put64(Archive, DirectoryOffset);
        Put32(Archive, 0x07064b50);
        Put32(Archive, 0);
        Put64(Archive, End64Offset);
        Put32(Archive, 1);
    }
    Put32(Archive, 0x06054b50);
    Put16(Archive, 0);
    Put16(Archive, 0);
    Put16(Archive, Layout.Zip64 ? 0xFFFF : static_cast<std::uint32_t>(Members.size()));
    Put16(Archive, Layout.Zip64 ? 0xFFFF : static_cast<std::uint32_t>(Members.size()));
    Put32(Archive, Layout.Zip64 ? Saturated : static_cast<std::uint32_t>(Directory.size()));
    Put32(Archive, Layout.Zip64 ? Saturated : static_cast<std::uint32_t>(DirectoryOffset));
    Put16(Archive, static_cast<std::uint32_t>(Layout.Comment.size()));
    Archive += Layout.Comment;
    return Archive;
}

std::vector<std::uint8_t> Bytes(const std::string& Text)
{
    return std::vector<std::uint8_t>(Text.begin(), Text.end());
}

} // namespace Plumeria::Test

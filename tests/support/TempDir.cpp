#include "support/TempDir.h"

#include "core/Journal/Journal.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

void SetEnv(const char* Name, const std::string& Value)
{
#ifdef _WIN32
    _putenv_s(Name, Value.c_str());
#else
    setenv(Name, Value.c_str(), 1);
#endif
}

void UnsetEnv(const char* Name)
{
#ifdef _WIN32
    _putenv_s(Name, "");
#else
    unsetenv(Name);
#endif
}

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
    const auto Target = FPath / std::filesystem::path(std::u8string(
                                    RelativePath.begin(), RelativePath.end()));
    std::filesystem::create_directories(Target.parent_path());
    std::ofstream Out(Target, std::ios::binary | std::ios::trunc);
    Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    if (!Out)
        throw std::runtime_error("cannot write " + Target.string());
    return Target;
}

TTempDataFolder::TTempDataFolder()
{
    if (const char* Old = std::getenv("ProgramData")) {
        FHadOld = true;
        FOldValue = Old;
    }
    SetEnv("ProgramData", FDir.Path().string());
    ResetJournal();
}

TTempDataFolder::~TTempDataFolder()
{
    if (FHadOld)
        SetEnv("ProgramData", FOldValue);
    else
        UnsetEnv("ProgramData");
    ResetJournal();
}

std::string ReadFileBytes(const std::filesystem::path& Path)
{
    std::ifstream In(Path, std::ios::binary);
    std::ostringstream Buffer;
    Buffer << In.rdbuf();
    return Buffer.str();
}

} // namespace Plumeria::Test

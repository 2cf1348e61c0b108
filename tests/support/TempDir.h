#pragma once
// Temporary folders for tests, removed with everything in them when the object dies, and a data
// folder redirected through `ProgramData` so journal and settings tests never touch the machine.

#include <filesystem>
#include <string>
#include <vector>

namespace Plumeria::Test {

class TTempDir
{
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    /// Writes `Bytes` to a file below the folder (creating parents) and returns its path.
    std::filesystem::path WriteFile(const std::string& RelativePath,
                                    const std::string& Bytes) const;

private:
    std::filesystem::path FPath;
};

/// Points `ProgramData` at a fresh temporary folder and resets the journal, so the data folder is
/// `Root()/PlumeriaBridge`. Restores the previous `ProgramData` and resets the journal again when
/// it dies.
class TTempDataFolder
{
public:
    TTempDataFolder();
    ~TTempDataFolder();

    const std::filesystem::path& Root() const { return FDir.Path(); }
    std::filesystem::path DataDir() const { return FDir.Path() / "PlumeriaBridge"; }

private:
    TTempDir FDir;
    std::string FOldValue;
    bool FHadOld = false;
};

/// True while a `TTempDataFolder` is alive and `ProgramData` is set: the programs this build
/// starts then keep out of the user's own data folder.
bool IsTemporaryDataFolderSet();

/// Whole content of a file as bytes ("" when it cannot be read).
std::string ReadFileBytes(const std::filesystem::path& Path);

/// Waits up to `TimeoutMs` for `Path` to appear (written by another process); false when it did
/// not in time.
bool WaitForFile(const std::filesystem::path& Path, int TimeoutMs);

/// The names of the entries directly inside `Folder`, sorted (empty when it cannot be listed).
std::vector<std::string> ListFolder(const std::filesystem::path& Folder);

} // namespace Plumeria::Test
